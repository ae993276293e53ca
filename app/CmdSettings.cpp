// orx settings: the compressor's own preferences dialog, as a person or a
// script answers it, and the stored preferences.
#include <cstdlib>
#include <cstring>

#include "Cli.h"
#include "Codec.h"
#include "Commands.h"
#include "Dialogs.h"
#include "MacMemory.h"

namespace orxapp {

namespace {

const char kSettingsHelp[] =
    "usage: orx settings [--set NAME=VALUE]... [--show]\n"
    "\n"
    "Without options, shows the compressor's own \"ORX Preferences\" dialog in the\n"
    "terminal: choose a popup value with \"ITEM VALUE\" (e.g. \"4 2\"), then \"ok\"\n"
    "to store the preferences or \"cancel\" to leave them as they are.\n"
    "\n"
    "  --set NAME=VALUE       answer the dialog without a person: set a popup and\n"
    "                         press Ok (repeat it for several popups; for the\n"
    "                         same popup the last one counts). NAME=VALUE is one of\n"
    "                           transparency=discard|preserve\n"
    "                           optimize=quality|performance|vovorevaded\n"
    "                           threads=max|1|2|4|6|8|12|16|24\n"
    "  --show                 print the stored preferences and where they live\n"
    "                         (after storing those of --set)\n"
    "  -h, --help             this text\n"
    "\n"
    "The preferences are the file VantorinMedia/ORXPreferences.dat in\n"
    "$XDG_CONFIG_HOME when it is an absolute path, else in .config of the home\n"
    "folder ($HOME when it is an absolute path, else the user's home in the\n"
    "password database); in $ORX_PREFERENCES_DIR when that is set. No folder is\n"
    "made under a home or $XDG_CONFIG_HOME that does not exist.\n"
    "'orx encode' uses them unless its options say otherwise; while none are\n"
    "stored it encodes with Max threads. Storing preferences when none are stored\n"
    "stores Max threads too unless threads=... is set (other programs that use the\n"
    "compressor default to 1x).\n";

// threadsNote follows the Threads line: where the setting comes from.
void PrintSettings(const CompressorSettings& s, const std::string& threadsNote = "") {
  std::printf("Transparency:  %s\n", s.preserveAlpha ? "Preserve Alpha Channel" : "Discard Alpha Channel");
  std::printf("Optimize For:  %s\n", OptimizeName(s).c_str());
  std::printf("Threads:       %s%s\n", ThreadsName(s.threadSetting).c_str(), threadsNote.c_str());
}

bool SameSettings(const CompressorSettings& a, const CompressorSettings& b) {
  return a.preserveAlpha == b.preserveAlpha && a.preserveGradients == b.preserveGradients && a.skipLZF == b.skipLZF &&
         a.threadSetting == b.threadSetting;
}

// The dialog's items: 1 Ok, 3 Transparency, 4 Optimize For, 5 Threads.
constexpr DialogItemIndex kOkItem = 1, kTransparencyItem = 3, kOptimizeItem = 4, kThreadsItem = 5;

}  // namespace

int CmdSettings(int argc, char** argv) {
  Args args(argc, argv, 0);
  if (args.Flag("--help", "-h")) {
    std::fputs(kSettingsHelp, stdout);
    return 0;
  }
  const bool show = args.Flag("--show");
  std::string err;
  HostDialogScriptStep step{};
  for (const std::string& v : args.Values("--set", nullptr, &err)) {
    const size_t eq = v.find('=');
    const std::string name = v.substr(0, eq), value = eq == std::string::npos ? "" : v.substr(eq + 1);
    int choice = 0;
    int32_t threads = 0;
    DialogItemIndex item = 0;
    SInt16 popup = 0;
    if (name == "transparency" && ParseTransparency(value, &choice)) item = kTransparencyItem, popup = SInt16(choice + 1);
    else if (name == "optimize" && ParseOptimize(value, &choice)) item = kOptimizeItem, popup = SInt16(choice + 1);
    else if (name == "threads" && ParseThreads(value, &threads)) item = kThreadsItem, popup = SInt16(threads);
    else return Usage("--set: \"" + v + "\" is not transparency=..., optimize=... or threads=... with a valid value");
    int slot = 0;  // the same popup set again: the last value counts
    while (slot < step.setCount && step.sets[slot].item != item) ++slot;
    step.sets[slot].item = item;
    step.sets[slot].value = popup;
    if (slot == step.setCount) ++step.setCount;
  }
  if (!err.empty()) return Usage(err);
  std::vector<std::string> rest;
  if (!args.Positionals(&rest, &err)) return Usage(err);
  if (!rest.empty()) return Usage("settings: unexpected argument \"" + rest[0] + "\"");

  ComponentInstance ci = OpenORXCompressor(&err);
  if (ci == nullptr) return Fail(err);
  int status = 0;
  const bool hadPreferences = HasStoredPreferences();
  if (show && step.setCount == 0) {
    CompressorSettings s;
    const OSStatus r = ReadCompressorSettings(ci, &s);
    if (r != noErr) {
      status = Fail("cannot read the compressor's settings: " + StatusText(r));
    } else {
      if (!hadPreferences) s.threadSetting = kProgramDefaultThreads;
      PrintSettings(s, hadPreferences ? " (stored)" : " (orx's default while none are stored; the compressor's own is " +
                                                  ThreadsName(kORXDefaultSettings.threadSetting) + ")");
      if (PreferencesPath().empty())
        std::printf("Stored in:     nowhere (%s)\n", PreferencesProblem().c_str());
      else if (HasStoredPreferences())
        std::printf("Stored in:     %s\n", PreferencesPath().c_str());
      else
        std::printf("Stored in:     %s (none stored yet: these are the compressor's defaults, with orx's "
                    "Max threads)\n", PreferencesPath().c_str());
    }
    CloseComponent(ci);
    return status;
  }

  // With nothing stored the dialog starts from orx's Max threads, not the
  // compressor's one thread, so storing another popup keeps orx's default
  // rather than storing a thread choice the user never made.
  bool threadsNamed = false;
  for (int i = 0; i < step.setCount; ++i) threadsNamed = threadsNamed || step.sets[i].item == kThreadsItem;
  if (!hadPreferences) {
    EncoderChoices programDefault;
    programDefault.threads = kProgramDefaultThreads;
    if (const OSStatus r = ApplyEncoderChoices(ci, programDefault, nullptr); r != noErr) {
      CloseComponent(ci);
      return Fail("cannot read the compressor's settings: " + StatusText(r));
    }
  }
  HostDialogScript script{&step, 1, 0};
  HostTerminalIO io{stdin, stdout};
  if (step.setCount > 0) {
    step.hit = kOkItem;
    HostSetModalDialogDriver(HostScriptedDialogDriver, &script);
  } else {
    HostSetModalDialogDriver(HostTerminalDialogDriver, &io);
  }
  // A signal ends the dialog as a cancel (its read returns); one that comes
  // while the preferences are stored waits until the file is in place.
  CatchInterruptions();
  Handle blob = NewHandle(0);
  const ComponentResult r =
      Interrupted() ? userCanceledErr : blob ? ImageCodecRequestSettings(ci, blob, nullptr, nullptr) : memFullErr;
  HostSetModalDialogDriver(nullptr, nullptr);
  if (Interrupted() && (r != noErr || GetHandleSize(blob) != 12)) {
    status = Fail("interrupted; the preferences are unchanged");
  } else if (r != noErr) {
    status = Fail("the preferences dialog failed: " + StatusText(r));
  } else if (GetHandleSize(blob) == 12) {
    // The compressor fills the handle only when the dialog ends with Ok. What
    // is reported is what a new compressor reads back from the stored file,
    // so a write that failed (a full disk, a read-only folder) is not
    // reported as stored.
    CompressorSettings chosen, stored;
    ReadCompressorSettings(ci, &chosen);
    ComponentInstance fresh = OpenORXCompressor(&err);
    const OSStatus rr = fresh ? ReadCompressorSettings(fresh, &stored) : OSStatus(codecErr);
    if (fresh) CloseComponent(fresh);
    // The file's path; "preferences" when no home folder is known.
    const std::string where = PreferencesPath().empty() ? std::string("preferences") : PreferencesPath();
    const std::string problem = PreferencesProblem();
    if (rr != noErr) {
      status = Fail(where + ": cannot read the preferences back: " + (fresh ? StatusText(rr) : err));
    } else if (!SameSettings(chosen, stored) || !HasStoredPreferences()) {
      status = Fail(where + ": the preferences could not be stored (" +
                    (problem.empty() ? std::string("the folder may be full or not writable") : problem) +
                    "); they are still " + OptimizeName(stored) + ", " +
                    (stored.preserveAlpha ? "alpha kept" : "alpha discarded") + ", threads " +
                    ThreadsName(HasStoredPreferences() ? stored.threadSetting : kProgramDefaultThreads));
    } else {
      std::printf("Preferences stored in %s:\n", PreferencesPath().c_str());
      const bool keptDefault = !hadPreferences && !threadsNamed && stored.threadSetting == kProgramDefaultThreads;
      PrintSettings(stored, keptDefault ? " (orx's default, stored with them: no thread setting was stored before; "
                                        "threads=... chooses another)" : "");
    }
  } else {
    std::printf("Cancelled; the preferences are unchanged.\n");
  }
  if (blob) DisposeHandle(blob);
  CloseComponent(ci);
  return status;
}

}  // namespace orxapp
