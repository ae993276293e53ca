// ModalDialog and its event drivers. There is no screen: a driver decides
// which item the user hits, after changing control values as the user would.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "Dialogs.h"
#include "quicktime/host/src/DialogsInternal.h"

namespace {

std::mutex g_driverLock;
HostModalDialogDriverProc g_driver = nullptr;
void* g_driverRefCon = nullptr;

std::string P2S(const Str255 s) { return std::string(reinterpret_cast<const char*>(s + 1), s[0]); }

// The item that ends a dialog without a choice: its cancel item, else its
// default item.
DialogItemIndex CancelOrLast(DialogRef d) {
  const DialogItemIndex cancel = HostGetDialogCancelItem(d);
  return cancel > 0 ? cancel : HostGetDialogDefaultItem(d);
}

// Without a terminal nobody can answer: the dialog is cancelled.
DialogItemIndex DefaultDriver(DialogRef d, void*) {
  if (isatty(0)) return HostTerminalDialogDriver(d, nullptr);
  return CancelOrLast(d);
}

std::string PopupLine(DialogItemIndex i, ControlRef c) {
  Str255 text, current;
  GetControlTitle(c, text);
  const SInt16 value = GetControlValue(c), count = HostGetPopupItemCount(c);
  HostGetPopupItemText(c, value, current);
  return std::to_string(i) + ". " + P2S(text) + ": [" +
         (value >= 1 && value <= count ? P2S(current) : "value " + std::to_string(value) + ", not an item") + "]";
}

const char kPrompt[] = "> ";

// Draws the whole dialog: its title, each popup with its items, the buttons.
void Show(DialogRef d, FILE* out) {
  Str255 title;
  HostGetDialogTitle(d, title);
  std::fprintf(out, "\n== %s ==\n", P2S(title).c_str());
  const DialogItemIndex n = CountDITL(d);
  for (DialogItemIndex i = 1; i <= n; ++i) {
    ControlRef c = nullptr;
    if (GetDialogItemAsControl(d, i, &c) != noErr || c == nullptr) continue;
    Str255 text;
    GetControlTitle(c, text);
    const SInt16 count = HostGetPopupItemCount(c);
    if (count > 0) {
      const SInt16 value = GetControlValue(c);
      std::fprintf(out, "%s\n", PopupLine(i, c).c_str());
      for (SInt16 k = 1; k <= count; ++k) {
        Str255 item;
        HostGetPopupItemText(c, k, item);
        std::fprintf(out, "     %d) %s%s\n", k, P2S(item).c_str(), k == value ? "  *" : "");
      }
    } else if (HostGetControlProcID(c) == 0) {
      std::fprintf(out, "%d. [%s]\n", i, P2S(text).c_str());
    }
  }
  std::fprintf(out, "Choose with \"ITEM VALUE\" (e.g. \"3 2\"), press a button with its number, "
                    "\"ok\" or \"cancel\"; \"?\" shows the dialog again.\n");
}

std::vector<SInt16> ControlValues(DialogRef d) {
  std::vector<SInt16> values;
  const DialogItemIndex n = CountDITL(d);
  for (DialogItemIndex i = 1; i <= n; ++i) {
    ControlRef c = nullptr;
    values.push_back(GetDialogItemAsControl(d, i, &c) == noErr && c != nullptr ? GetControlValue(c) : SInt16(0));
  }
  return values;
}

// The first time the whole dialog; later only the popups whose value changed
// since, then the prompt.
void Draw(DialogRef d, FILE* out, bool whole) {
  std::vector<SInt16>* drawn = HostDialogDrawnValues(d);
  const std::vector<SInt16> now = ControlValues(d);
  if (whole || drawn == nullptr || drawn->size() != now.size()) {
    Show(d, out);
  } else {
    for (size_t i = 0; i < now.size(); ++i) {
      ControlRef c = nullptr;
      if (now[i] == (*drawn)[i] || GetDialogItemAsControl(d, DialogItemIndex(i + 1), &c) != noErr ||
          HostGetPopupItemCount(c) == 0)
        continue;
      std::fprintf(out, "%s\n", PopupLine(DialogItemIndex(i + 1), c).c_str());
    }
  }
  if (drawn != nullptr) *drawn = now;
  std::fputs(kPrompt, out);
  std::fflush(out);
}

// The item of the push button whose title matches, case-insensitively.
DialogItemIndex ButtonNamed(DialogRef d, const std::string& name) {
  const DialogItemIndex n = CountDITL(d);
  for (DialogItemIndex i = 1; i <= n; ++i) {
    ControlRef c = nullptr;
    if (GetDialogItemAsControl(d, i, &c) != noErr || HostGetControlProcID(c) != 0 || HostGetPopupItemCount(c) > 0) continue;
    Str255 t;
    GetControlTitle(c, t);
    if (strcasecmp(P2S(t).c_str(), name.c_str()) == 0) return i;
  }
  return 0;
}

}  // namespace

extern "C" {

void HostSetModalDialogDriver(HostModalDialogDriverProc driver, void* refCon) {
  std::lock_guard<std::mutex> lock(g_driverLock);
  g_driver = driver;
  g_driverRefCon = refCon;
}

void ModalDialog(ModalFilterUPP, DialogItemIndex* itemHit) {
  HostModalDialogDriverProc driver;
  void* refCon;
  {
    std::lock_guard<std::mutex> lock(g_driverLock);
    driver = g_driver ? g_driver : DefaultDriver;
    refCon = g_driverRefCon;
  }
  if (itemHit == nullptr) return;
  DialogRef front = HostFrontDialog();
  *itemHit = front ? driver(front, refCon) : 0;
}

DialogItemIndex HostTerminalDialogDriver(DialogRef d, void* refCon) {
  auto* io = static_cast<HostTerminalIO*>(refCon);
  FILE* in = io && io->in ? static_cast<FILE*>(io->in) : stdin;
  FILE* out = io && io->out ? static_cast<FILE*>(io->out) : stdout;
  char line[256];
  bool whole = false;
  while (true) {
    Draw(d, out, whole);
    whole = false;
    if (std::fgets(line, sizeof line, in) == nullptr) {
      std::fprintf(out, "\n");
      return CancelOrLast(d);
    }
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    // Answers that come from a file or a pipe are echoed, so that the
    // transcript reads as a terminal session does.
    if (!isatty(fileno(in))) std::fprintf(out, "%s\n", text.c_str());
    if (text.empty()) continue;
    if (text == "?") {
      whole = true;
      continue;
    }
    long item = 0, value = 0;
    char extra = 0;
    const int fields = std::sscanf(text.c_str(), "%ld %ld %c", &item, &value, &extra);
    if ((fields == 1 || fields == 2) && (item < 1 || item > CountDITL(d))) {
      std::fprintf(out, "Item %ld is not an item of this dialog.\n", item);
      continue;
    }
    if (fields == 2) {
      ControlRef c = nullptr;
      if (GetDialogItemAsControl(d, static_cast<SInt16>(item), &c) != noErr || HostGetPopupItemCount(c) == 0) {
        std::fprintf(out, "Item %ld is not a popup.\n", item);
      } else if (value < 1 || value > HostGetPopupItemCount(c)) {
        std::fprintf(out, "Item %ld has choices 1 to %d.\n", item, HostGetPopupItemCount(c));
      } else {
        SetControlValue(c, static_cast<SInt16>(value));
        return static_cast<DialogItemIndex>(item);  // a popup choice is a hit on that item
      }
      continue;
    }
    if (fields == 1) {
      ControlRef c = nullptr;
      if (GetDialogItemAsControl(d, static_cast<SInt16>(item), &c) == noErr && HostGetControlProcID(c) == 0 &&
          HostGetPopupItemCount(c) == 0)
        return static_cast<DialogItemIndex>(item);
      std::fprintf(out, "Item %ld is not a button.\n", item);
      continue;
    }
    if (const DialogItemIndex b = ButtonNamed(d, text)) return b;
    std::fprintf(out, "Not understood: \"%s\".\n", text.c_str());
  }
}

DialogItemIndex HostScriptedDialogDriver(DialogRef d, void* refCon) {
  auto* script = static_cast<HostDialogScript*>(refCon);
  if (script == nullptr || script->steps == nullptr || script->next < 0 || script->next >= script->stepCount)
    return CancelOrLast(d);
  const HostDialogScriptStep& step = script->steps[script->next++];
  for (int i = 0; i < step.setCount && i < 8; ++i) {
    ControlRef c = nullptr;
    if (GetDialogItemAsControl(d, step.sets[i].item, &c) == noErr) SetControlValue(c, step.sets[i].value);
  }
  return step.hit;
}

}  // extern "C"
