// ModalDialog and its drivers. With no screen, a driver decides which item
// the user hits: a person at a terminal, a script in tests, or, when nobody
// can answer, the cancel item, so that a dialog never blocks an unattended run.
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "DialogResources.h"

namespace {

std::mutex g_driverMutex;
HostModalDialogDriverProc g_driver = nullptr;
void* g_driverRefCon = nullptr;

// The item a dialog closes with when nobody answers: its cancel item, else
// its default item, else item 1.
DialogItemIndex CancelHit(DialogRef dialog) {
  if (const DialogItemIndex c = HostGetDialogCancelItem(dialog); c > 0) return c;
  if (const DialogItemIndex d = HostGetDialogDefaultItem(dialog); d > 0) return d;
  return 1;
}

DialogItemIndex DefaultDriver(DialogRef dialog, void*) {
  if (isatty(STDIN_FILENO)) return HostTerminalDialogDriver(dialog, nullptr);
  return CancelHit(dialog);
}

std::string FromPascal(const unsigned char* p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }

std::string ControlTitle(ControlRef c) {
  Str255 t;
  GetControlTitle(c, t);
  return FromPascal(t);
}

std::string PopupItemText(ControlRef c, SInt16 item) {
  Str255 t;
  HostGetPopupItemText(c, item, t);
  return FromPascal(t);
}

bool IsPopup(ControlRef c) { return qthost::IsPopupProcID(HostGetControlProcID(c)); }

// Items the person can press by number: buttons, checkboxes and radio buttons.
bool IsPressable(DialogItemType type) {
  const int kind = type & 0x7F;
  return (type & kItemDisableBit) == 0 &&
         (kind == kButtonDialogItem || kind == kCheckBoxDialogItem || kind == kRadioButtonDialogItem);
}

void ShowDialog(DialogRef dialog, FILE* out) {
  Str255 title;
  HostGetDialogTitle(dialog, title);
  std::fprintf(out, "\n== %s ==\n", FromPascal(title).c_str());
  const DialogItemIndex count = CountDITL(dialog);
  std::string buttons;
  for (DialogItemIndex i = 1; i <= count; ++i) {
    DialogItemType type = 0;
    Handle h = nullptr;
    Rect box;
    GetDialogItem(dialog, i, &type, &h, &box);
    ControlRef c = nullptr;
    const int kind = type & 0x7F;
    if (kind == kStaticTextDialogItem) {
      Str255 text;
      GetDialogItemText(h, text);
      std::fprintf(out, "   %s\n", FromPascal(text).c_str());
    } else if (GetDialogItemAsControl(dialog, i, &c) != noErr) {
      continue;
    } else if (IsPopup(c)) {
      const SInt16 value = GetControlValue(c);
      const SInt16 n = HostGetPopupItemCount(c);
      const std::string current =
          value >= 1 && value <= n ? PopupItemText(c, value) : "value " + std::to_string(value) + ", no such choice";
      std::fprintf(out, "%d. %s: [%s]\n", i, ControlTitle(c).c_str(), current.c_str());
      for (SInt16 k = 1; k <= n; ++k)
        std::fprintf(out, "     %c %d) %s\n", k == value ? '*' : ' ', k, PopupItemText(c, k).c_str());
    } else if (kind == kCheckBoxDialogItem || kind == kRadioButtonDialogItem) {
      std::fprintf(out, "%d. [%c] %s\n", i, GetControlValue(c) ? 'x' : ' ', ControlTitle(c).c_str());
    } else if (kind == kButtonDialogItem) {
      std::string label = std::to_string(i) + ". " + ControlTitle(c);
      if (i == HostGetDialogDefaultItem(dialog)) label += " (ok)";
      if (i == HostGetDialogCancelItem(dialog)) label += " (cancel)";
      buttons += (buttons.empty() ? "" : "   ") + label;
    } else {
      std::fprintf(out, "%d. %s: %d (%d to %d)\n", i, ControlTitle(c).c_str(), GetControlValue(c),
                   GetControlMinimum(c), GetControlMaximum(c));
    }
  }
  if (!buttons.empty()) std::fprintf(out, "Buttons: %s\n", buttons.c_str());
  std::fprintf(out, "Type ITEM VALUE to choose (e.g. \"3 2\"), a button's number, \"ok\" or \"cancel\".\n");
}

// One line without its end; false at end of input with nothing read.
bool ReadLine(FILE* in, std::string* line) {
  line->clear();
  int ch;
  while ((ch = std::fgetc(in)) != EOF && ch != '\n') line->push_back(static_cast<char>(ch));
  return ch != EOF || !line->empty();
}

// A whole decimal number in 16 bits from s; false for anything else.
bool ParseNumber(const std::string& s, SInt16* out) {
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < INT16_MIN || v > INT16_MAX) return false;
  *out = static_cast<SInt16>(v);
  return true;
}

// Splits a line into at most two lower-case words; false when there are more.
bool SplitWords(const std::string& line, std::string* a, std::string* b) {
  a->clear();
  b->clear();
  int words = 0;
  bool inWord = false;
  for (char ch : line) {
    const unsigned char u = static_cast<unsigned char>(ch);
    if (std::isspace(u)) {
      inWord = false;
      continue;
    }
    if (!inWord && ++words > 2) return false;
    inWord = true;
    (words == 1 ? a : b)->push_back(static_cast<char>(std::tolower(u)));
  }
  return true;
}

// Carries out one command line. Returns the item hit, or 0 after printing
// why the line was not accepted.
DialogItemIndex Command(DialogRef dialog, const std::string& line, FILE* out) {
  std::string first, second;
  if (!SplitWords(line, &first, &second)) {
    std::fprintf(out, "Too many words: give an item and a value, a button's number, \"ok\" or \"cancel\".\n");
    return 0;
  }
  if (first.empty()) return 0;
  if (second.empty() && (first == "ok" || first == "cancel")) {
    const DialogItemIndex item =
        first == "ok" ? HostGetDialogDefaultItem(dialog) : HostGetDialogCancelItem(dialog);
    if (item >= 1 && item <= CountDITL(dialog)) return item;
    std::fprintf(out, "This dialog has no %s button.\n", first == "ok" ? "OK" : "Cancel");
    return 0;
  }
  SInt16 item = 0;
  if (!ParseNumber(first, &item)) {
    std::fprintf(out, "Not understood: \"%s\".\n", line.c_str());
    return 0;
  }
  if (item < 1 || item > CountDITL(dialog)) {
    std::fprintf(out, "There is no item %d: items are 1 to %d.\n", item, CountDITL(dialog));
    return 0;
  }
  DialogItemType type = 0;
  Handle h = nullptr;
  Rect box;
  GetDialogItem(dialog, item, &type, &h, &box);
  ControlRef c = nullptr;
  const bool isControl = GetDialogItemAsControl(dialog, item, &c) == noErr;
  if (type & kItemDisableBit) {
    std::fprintf(out, "Item %d is disabled.\n", item);
    return 0;
  }
  if (second.empty()) {
    if (IsPressable(type)) return item;
    if (isControl && IsPopup(c))
      std::fprintf(out, "Item %d needs a choice: \"%d N\" with N from 1 to %d.\n", item, item,
                   HostGetPopupItemCount(c));
    else
      std::fprintf(out, "Item %d cannot be pressed.\n", item);
    return 0;
  }
  if (!isControl || (type & 0x7F) == kButtonDialogItem) {
    std::fprintf(out, "Item %d takes no value.\n", item);
    return 0;
  }
  SInt16 value = 0;
  if (!ParseNumber(second, &value)) {
    std::fprintf(out, "Not a number: \"%s\".\n", second.c_str());
    return 0;
  }
  const SInt16 lo = IsPopup(c) ? 1 : GetControlMinimum(c);
  const SInt16 hi = IsPopup(c) ? HostGetPopupItemCount(c) : GetControlMaximum(c);
  if (value < lo || value > hi) {
    std::fprintf(out, "%s takes %d to %d.\n", ControlTitle(c).c_str(), lo, hi);
    return 0;
  }
  SetControlValue(c, value);
  return item;
}

}  // namespace

extern "C" {

void HostSetModalDialogDriver(HostModalDialogDriverProc driver, void* refCon) {
  std::lock_guard<std::mutex> lock(g_driverMutex);
  g_driver = driver;
  g_driverRefCon = driver ? refCon : nullptr;
}

void ModalDialog(ModalFilterUPP /*modalFilter*/, DialogItemIndex* itemHit) {
  if (itemHit == nullptr) return;
  *itemHit = 0;
  DialogRef dialog = qthost::FrontDialog();
  if (dialog == nullptr) return;
  HostModalDialogDriverProc driver;
  void* refCon;
  {
    std::lock_guard<std::mutex> lock(g_driverMutex);
    driver = g_driver ? g_driver : DefaultDriver;
    refCon = g_driverRefCon;
  }
  *itemHit = driver(dialog, refCon);
}

DialogItemIndex HostTerminalDialogDriver(DialogRef dialog, void* refCon) {
  const auto* io = static_cast<const HostTerminalIO*>(refCon);
  FILE* in = io && io->in ? static_cast<FILE*>(io->in) : stdin;
  FILE* out = io && io->out ? static_cast<FILE*>(io->out) : stdout;
  try {
    ShowDialog(dialog, out);
    std::string line;
    for (;;) {
      std::fprintf(out, "> ");
      std::fflush(out);
      if (!ReadLine(in, &line)) {
        std::fprintf(out, "\n(end of input: cancel)\n");
        std::fflush(out);
        return CancelHit(dialog);
      }
      if (const DialogItemIndex hit = Command(dialog, line, out)) {
        std::fflush(out);
        return hit;
      }
    }
  } catch (const std::bad_alloc&) {
    return CancelHit(dialog);
  }
}

DialogItemIndex HostScriptedDialogDriver(DialogRef dialog, void* refCon) {
  auto* script = static_cast<HostDialogScript*>(refCon);
  if (script == nullptr || script->steps == nullptr || script->next < 0 || script->next >= script->stepCount)
    return CancelHit(dialog);
  const HostDialogScriptStep& step = script->steps[script->next++];
  const int sets = step.setCount < 0 ? 0 : step.setCount > 8 ? 8 : step.setCount;
  for (int i = 0; i < sets; ++i) {
    ControlRef c = nullptr;
    if (GetDialogItemAsControl(dialog, step.sets[i].item, &c) == noErr) SetControlValue(c, step.sets[i].value);
  }
  return step.hit;
}

}  // extern "C"
