// Dialog, Control and Menu Managers: dialogs built from 'DLOG', 'DITL',
// 'CNTL' and 'MENU' resources of the resource chain, all read big-endian and
// checked against their sizes.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "MacMemory.h"
#include "quicktime/host/src/DialogsInternal.h"
#include "Resources.h"

namespace {

constexpr uint32_t kDialogTag = 0x444C4F47;   // "DLOG"
constexpr uint32_t kControlTag = 0x434E544C;  // "CNTL"
constexpr OSErr errItemNotControl = -30599;
constexpr OSType kDLOG = FOUR_CHAR_CODE('D', 'L', 'O', 'G');
constexpr OSType kDITL = FOUR_CHAR_CODE('D', 'I', 'T', 'L');
constexpr OSType kCNTL = FOUR_CHAR_CODE('C', 'N', 'T', 'L');
constexpr OSType kMENU = FOUR_CHAR_CODE('M', 'E', 'N', 'U');

uint16_t BE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint32_t BE32(const uint8_t* p) { return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]; }
Rect ReadRect(const uint8_t* p) {
  return {static_cast<SInt16>(BE16(p)), static_cast<SInt16>(BE16(p + 2)), static_cast<SInt16>(BE16(p + 4)),
          static_cast<SInt16>(BE16(p + 6))};
}

// A Pascal string at data[pos] within size; advances pos past it.
bool ReadPString(const uint8_t* data, size_t size, size_t* pos, std::string* out) {
  if (*pos >= size) return false;
  const size_t n = data[*pos];
  if (n > size - *pos - 1) return false;
  out->assign(reinterpret_cast<const char*>(data + *pos + 1), n);
  *pos += 1 + n;
  return true;
}

// A text as a Pascal string, cut to 255 characters.
void ToStr255(const std::string& text, Str255 out) {
  const size_t n = std::min<size_t>(text.size(), 255);
  out[0] = static_cast<unsigned char>(n);
  std::memcpy(out + 1, text.data(), n);
}

bool IsPopup(SInt16 procID) { return procID >= kPopupMenuProc && procID < kPopupMenuProc + 16; }

Handle TextHandle(const std::string& text) {
  const size_t n = std::min<size_t>(text.size(), 255);
  Handle h = NewHandle(static_cast<Size>(n + 1));
  if (h == nullptr) return nullptr;
  (*h)[0] = static_cast<char>(n);
  std::memcpy(*h + 1, text.data(), n);
  return h;
}

}  // namespace

struct OpaqueControlRef {
  uint32_t tag = kControlTag;
  SInt16 procID = 0;
  Rect bounds{};
  SInt16 value = 0, min = 0, max = 0;
  std::string title;
  std::vector<std::string> menuItems;  // popups only
};

struct OpaqueWindowPtr {
  DialogRef dialog;
};

struct DialogItem {
  HostDITLItem item;
  std::unique_ptr<OpaqueControlRef> control;  // buttons, checkboxes, radios and control items
  Handle textHandle = nullptr;                // Pascal string of the item's text
};

struct OpaqueDialogPtr {
  uint32_t tag = kDialogTag;
  std::string title;
  Rect bounds{};
  bool visible = false;
  DialogItemIndex defaultItem = 1;
  DialogItemIndex cancelItem = 0;
  std::vector<DialogItem> items;
  OpaqueWindowPtr window{};
  std::vector<SInt16> drawnValues;  // what the terminal driver last drew
};

namespace {

std::mutex g_dialogsLock;
std::vector<DialogRef> g_dialogs;  // open dialogs, oldest first

void Track(DialogRef d) {
  std::lock_guard<std::mutex> lock(g_dialogsLock);
  try {
    g_dialogs.push_back(d);
  } catch (...) {
  }
}

DialogRef AsDialog(DialogRef d) { return (d != nullptr && d->tag == kDialogTag) ? d : nullptr; }
ControlRef AsControl(ControlRef c) { return (c != nullptr && c->tag == kControlTag) ? c : nullptr; }

// Builds a control from a 'CNTL' of the chain; a popup also reads its 'MENU'.
std::unique_ptr<OpaqueControlRef> ControlFromResource(SInt16 id) {
  Handle h = GetResource(kCNTL, id);
  if (h == nullptr) return nullptr;
  HostCNTL cntl;
  if (!HostParseCNTL(reinterpret_cast<const uint8_t*>(*h), static_cast<size_t>(GetHandleSize(h)), &cntl)) return nullptr;
  auto c = std::make_unique<OpaqueControlRef>();
  c->procID = cntl.procID;
  c->bounds = cntl.bounds;
  c->title = cntl.title;
  if (IsPopup(cntl.procID)) {
    Handle m = GetResource(kMENU, cntl.min);  // a popup's minimum names its menu
    HostMENU menu;
    if (m == nullptr ||
        !HostParseMENU(reinterpret_cast<const uint8_t*>(*m), static_cast<size_t>(GetHandleSize(m)), &menu))
      return nullptr;
    c->menuItems = menu.items;
    c->min = 1;
    c->max = static_cast<SInt16>(menu.items.size());
    c->value = 1;
  } else {
    c->value = cntl.value;
    c->min = cntl.min;
    c->max = cntl.max;
  }
  return c;
}

// Turns parsed items into dialog items, moved by (dv, dh). False when a
// control's resources are missing.
bool AddItems(DialogRef d, const std::vector<HostDITLItem>& parsed, SInt16 dv, SInt16 dh) {
  for (const HostDITLItem& src : parsed) {
    DialogItem it;
    it.item = src;
    it.item.box.top = static_cast<SInt16>(it.item.box.top + dv);
    it.item.box.bottom = static_cast<SInt16>(it.item.box.bottom + dv);
    it.item.box.left = static_cast<SInt16>(it.item.box.left + dh);
    it.item.box.right = static_cast<SInt16>(it.item.box.right + dh);
    const int kind = src.type & 0x7F;
    if (kind == kResourceControlDialogItem) {
      it.control = ControlFromResource(src.resourceID);
      if (!it.control) return false;
      it.control->bounds = it.item.box;
    } else if (kind == kButtonDialogItem || kind == kCheckBoxDialogItem || kind == kRadioButtonDialogItem) {
      it.control = std::make_unique<OpaqueControlRef>();
      it.control->procID = static_cast<SInt16>(kind - kButtonDialogItem);
      it.control->bounds = it.item.box;
      it.control->title = src.text;
      it.control->max = kind == kButtonDialogItem ? 0 : 1;
    }
    if (!src.text.empty() || kind == kStaticTextDialogItem || kind == kEditTextDialogItem ||
        kind == kButtonDialogItem) {
      it.textHandle = TextHandle(src.text);
      if (it.textHandle == nullptr) return false;
    }
    d->items.push_back(std::move(it));
  }
  return true;
}

void FreeDialog(DialogRef d) {
  {
    std::lock_guard<std::mutex> lock(g_dialogsLock);
    g_dialogs.erase(std::remove(g_dialogs.begin(), g_dialogs.end(), d), g_dialogs.end());
  }
  for (DialogItem& it : d->items) DisposeHandle(it.textHandle);
  d->tag = 0;
  delete d;
}

}  // namespace

std::vector<SInt16>* HostDialogDrawnValues(DialogRef d) { return d != nullptr ? &d->drawnValues : nullptr; }

DialogRef HostFrontDialog() {
  std::lock_guard<std::mutex> lock(g_dialogsLock);
  return g_dialogs.empty() ? nullptr : g_dialogs.back();
}

bool HostParseDITL(const uint8_t* data, size_t size, std::vector<HostDITLItem>* items) {
  if (data == nullptr || size < 2 || items == nullptr) return false;
  items->clear();
  const int countWord = BE16(data);
  const int count = countWord == 0xFFFF ? 0 : countWord + 1;  // 0xFFFF: no items
  size_t pos = 2;
  try {
    for (int i = 0; i < count; ++i) {
      if (size - pos < 14) return false;
      HostDITLItem it;
      it.box = ReadRect(data + pos + 4);
      it.type = data[pos + 12];
      const size_t len = data[pos + 13];
      pos += 14;
      if (len > size - pos) return false;
      const int kind = it.type & 0x7F;
      it.resourceID = 0;
      if (kind == kResourceControlDialogItem || kind == kIconDialogItem || kind == kPictureDialogItem) {
        if (len != 2) return false;
        it.resourceID = static_cast<SInt16>(BE16(data + pos));
      } else if (kind != kUserItem && kind != kHelpDialogItem) {
        it.text.assign(reinterpret_cast<const char*>(data + pos), len);
      }
      pos += len;
      if (len & 1) {
        if (pos < size) ++pos;  // the last item may omit its pad byte
      }
      items->push_back(std::move(it));
    }
  } catch (...) {
    return false;
  }
  return true;
}

bool HostParseCNTL(const uint8_t* data, size_t size, HostCNTL* out) {
  if (data == nullptr || out == nullptr || size < 23) return false;
  out->bounds = ReadRect(data);
  out->value = static_cast<SInt16>(BE16(data + 8));
  out->max = static_cast<SInt16>(BE16(data + 12));
  out->min = static_cast<SInt16>(BE16(data + 14));
  out->procID = static_cast<SInt16>(BE16(data + 16));
  out->refCon = static_cast<SInt32>(BE32(data + 18));
  size_t pos = 22;
  return ReadPString(data, size, &pos, &out->title);
}

bool HostParseMENU(const uint8_t* data, size_t size, HostMENU* out) {
  if (data == nullptr || out == nullptr || size < 15) return false;
  out->id = static_cast<SInt16>(BE16(data));
  out->enableFlags = BE32(data + 10);
  size_t pos = 14;
  if (!ReadPString(data, size, &pos, &out->title)) return false;
  out->items.clear();
  try {
    while (true) {
      if (pos >= size) return false;  // the list must end with a zero byte
      if (data[pos] == 0) return true;
      std::string text;
      if (!ReadPString(data, size, &pos, &text) || size - pos < 4) return false;
      pos += 4;  // icon, key, mark, style
      out->items.push_back(std::move(text));
    }
  } catch (...) {
    return false;
  }
}

bool HostParseDLOG(const uint8_t* data, size_t size, HostDLOG* out) {
  if (data == nullptr || out == nullptr || size < 21) return false;
  out->bounds = ReadRect(data);
  out->procID = static_cast<SInt16>(BE16(data + 8));
  out->visible = data[10] != 0;
  out->goAway = data[12] != 0;
  out->refCon = static_cast<SInt32>(BE32(data + 14));
  out->itemsID = static_cast<SInt16>(BE16(data + 18));
  size_t pos = 20;
  if (!ReadPString(data, size, &pos, &out->title)) return false;
  if (pos & 1) ++pos;
  out->position = (pos + 2 <= size) ? BE16(data + pos) : 0;
  return true;
}

DialogRef HostNewButtonDialog(const char* title, const char* const* buttons, int count) {
  auto* d = new (std::nothrow) OpaqueDialogPtr;
  if (d == nullptr) return nullptr;
  d->window.dialog = d;
  d->title = title ? title : "";
  std::vector<HostDITLItem> items;
  try {
    for (int i = 0; i < count; ++i) {
      HostDITLItem it;
      it.box = {static_cast<SInt16>(10), static_cast<SInt16>(10 + 90 * i), 30, static_cast<SInt16>(90 + 90 * i)};
      it.type = kButtonDialogItem;
      it.text = buttons[i];
      it.resourceID = 0;
      items.push_back(it);
    }
  } catch (...) {
    delete d;
    return nullptr;
  }
  d->bounds = {0, 0, 40, static_cast<SInt16>(20 + 90 * count)};
  bool added = false;
  try {
    added = AddItems(d, items, 0, 0);
  } catch (...) {
  }
  if (!added) {
    FreeDialog(d);
    return nullptr;
  }
  d->cancelItem = count >= 2 ? 2 : 0;
  Track(d);
  return d;
}

// On Windows a dialog reference serves as its own window.
static DialogRef DialogOfWindow(WindowRef window);

extern "C" {

static DialogRef NewDialogFromResources(SInt16 dialogID) {
  Handle h = GetResource(kDLOG, dialogID);
  if (h == nullptr) return nullptr;
  HostDLOG dlog;
  if (!HostParseDLOG(reinterpret_cast<const uint8_t*>(*h), static_cast<size_t>(GetHandleSize(h)), &dlog)) return nullptr;
  Handle ditl = GetResource(kDITL, dlog.itemsID);
  if (ditl == nullptr) return nullptr;
  std::vector<HostDITLItem> items;
  if (!HostParseDITL(reinterpret_cast<const uint8_t*>(*ditl), static_cast<size_t>(GetHandleSize(ditl)), &items))
    return nullptr;
  auto* d = new (std::nothrow) OpaqueDialogPtr;
  if (d == nullptr) return nullptr;
  d->window.dialog = d;
  try {
    d->title = dlog.title;
  } catch (...) {
  }
  d->bounds = dlog.bounds;
  d->visible = dlog.visible;
  if (!AddItems(d, items, 0, 0)) {
    FreeDialog(d);
    return nullptr;
  }
  Track(d);
  return d;
}

DialogRef GetNewDialog(SInt16 dialogID, void*, WindowRef) {
  try {
    return NewDialogFromResources(dialogID);
  } catch (...) {  // out of memory: no dialog
    return nullptr;
  }
}

void DisposeDialog(DialogRef dialog) {
  if (DialogRef d = AsDialog(dialog)) FreeDialog(d);
}

// On Windows a dialog reference serves as its own window; elsewhere the
// window is a record inside the dialog.
WindowRef GetDialogWindow(DialogRef dialog) {
  DialogRef d = AsDialog(dialog);
#if defined(_WIN32)
  return reinterpret_cast<WindowRef>(d);
#else
  return d ? &d->window : nullptr;
#endif
}

void ShowWindow(WindowRef window) {
  if (DialogRef d = DialogOfWindow(window)) d->visible = true;
}

void HideWindow(WindowRef window) {
  if (DialogRef d = DialogOfWindow(window)) d->visible = false;
}

Boolean HostIsWindowVisible(WindowRef window) {
  DialogRef d = DialogOfWindow(window);
  return (d && d->visible) ? TRUE : FALSE;
}

void SetDialogDefaultItem(DialogRef dialog, DialogItemIndex item) {
  if (DialogRef d = AsDialog(dialog)) d->defaultItem = item;
}

void SetDialogCancelItem(DialogRef dialog, DialogItemIndex item) {
  if (DialogRef d = AsDialog(dialog)) d->cancelItem = item;
}

DialogItemIndex HostGetDialogCancelItem(DialogRef dialog) {
  DialogRef d = AsDialog(dialog);
  return d ? d->cancelItem : 0;
}

DialogItemIndex HostGetDialogDefaultItem(DialogRef dialog) {
  DialogRef d = AsDialog(dialog);
  return d ? d->defaultItem : 0;
}

void HostGetDialogTitle(DialogRef dialog, Str255 title) {
  if (title == nullptr) return;
  title[0] = 0;
  DialogRef d = AsDialog(dialog);
  if (d == nullptr) return;
  ToStr255(d->title, title);
}

void HostGetDialogBounds(DialogRef dialog, Rect* bounds) {
  DialogRef d = AsDialog(dialog);
  if (d && bounds) *bounds = d->bounds;
}

DialogItemIndex CountDITL(DialogRef dialog) {
  DialogRef d = AsDialog(dialog);
  return d ? static_cast<DialogItemIndex>(d->items.size()) : 0;
}

void AppendDITL(DialogRef dialog, Handle theHandle, DITLMethod method) {
  DialogRef d = AsDialog(dialog);
  if (d == nullptr || theHandle == nullptr) return;
  std::vector<HostDITLItem> items;
  if (!HostParseDITL(reinterpret_cast<const uint8_t*>(*theHandle), static_cast<size_t>(GetHandleSize(theHandle)), &items))
    return;
  // Item rectangles are local to the dialog: grow it from its own origin.
  SInt16 dv = 0, dh = 0;
  for (const DialogItem& it : d->items) {
    if (method == appendDITLBottom) dv = std::max(dv, it.item.box.bottom);
    if (method == appendDITLRight) dh = std::max(dh, it.item.box.right);
  }
  const size_t before = d->items.size();
  bool added = false;
  try {
    added = AddItems(d, items, dv, dh);
  } catch (...) {
    added = false;
  }
  if (!added) {
    // Leave the dialog as it was.
    for (size_t i = before; i < d->items.size(); ++i) DisposeHandle(d->items[i].textHandle);
    d->items.resize(before);
    return;
  }
  for (size_t i = before; i < d->items.size(); ++i) {
    d->bounds.bottom = std::max(d->bounds.bottom, d->items[i].item.box.bottom);
    d->bounds.right = std::max(d->bounds.right, d->items[i].item.box.right);
  }
}

void GetDialogItem(DialogRef dialog, DialogItemIndex item, DialogItemType* itemType, Handle* itemHandle, Rect* box) {
  DialogRef d = AsDialog(dialog);
  if (d == nullptr || item < 1 || static_cast<size_t>(item) > d->items.size()) {
    if (itemType) *itemType = 0;
    if (itemHandle) *itemHandle = nullptr;
    if (box) *box = Rect{0, 0, 0, 0};
    return;
  }
  DialogItem& it = d->items[static_cast<size_t>(item - 1)];
  if (itemType) *itemType = it.item.type;
  if (itemHandle) *itemHandle = it.control ? reinterpret_cast<Handle>(it.control.get()) : it.textHandle;
  if (box) *box = it.item.box;
}

void GetDialogItemText(Handle itemHandle, Str255 text) {
  if (text == nullptr) return;
  text[0] = 0;
  if (itemHandle == nullptr) return;
  if (ControlRef c = AsControl(reinterpret_cast<ControlRef>(itemHandle))) {
    GetControlTitle(c, text);
    return;
  }
  const Size size = GetHandleSize(itemHandle);
  if (size < 1) return;
  const size_t n = std::min<size_t>(static_cast<uint8_t>((*itemHandle)[0]), static_cast<size_t>(size - 1));
  text[0] = static_cast<unsigned char>(n);
  std::memcpy(text + 1, *itemHandle + 1, n);
}

OSErr GetDialogItemAsControl(DialogRef dialog, SInt16 itemNo, ControlRef* outControl) {
  if (outControl == nullptr) return paramErr;
  *outControl = nullptr;
  DialogRef d = AsDialog(dialog);
  if (d == nullptr || itemNo < 1 || static_cast<size_t>(itemNo) > d->items.size()) return paramErr;
  DialogItem& it = d->items[static_cast<size_t>(itemNo - 1)];
  if (!it.control) return errItemNotControl;
  *outControl = it.control.get();
  return noErr;
}

SInt16 GetControlValue(ControlRef control) {
  ControlRef c = AsControl(control);
  return c ? c->value : 0;
}

void SetControlValue(ControlRef control, SInt16 value) {
  ControlRef c = AsControl(control);
  if (c == nullptr) return;
  // Popups keep what they are given, so a value outside the menu stays
  // visible to whoever reads it back; other controls clamp to their range.
  if (!IsPopup(c->procID)) value = std::clamp<SInt16>(value, std::min(c->min, c->max), std::max(c->min, c->max));
  c->value = value;
}

SInt16 GetControlMinimum(ControlRef control) {
  ControlRef c = AsControl(control);
  return c ? c->min : 0;
}

SInt16 GetControlMaximum(ControlRef control) {
  ControlRef c = AsControl(control);
  return c ? c->max : 0;
}

void GetControlTitle(ControlRef control, Str255 title) {
  if (title == nullptr) return;
  title[0] = 0;
  ControlRef c = AsControl(control);
  if (c == nullptr) return;
  ToStr255(c->title, title);
}

SInt16 HostGetPopupItemCount(ControlRef control) {
  ControlRef c = AsControl(control);
  return c ? static_cast<SInt16>(c->menuItems.size()) : 0;
}

void HostGetPopupItemText(ControlRef control, SInt16 item, Str255 text) {
  if (text == nullptr) return;
  text[0] = 0;
  ControlRef c = AsControl(control);
  if (c == nullptr || item < 1 || static_cast<size_t>(item) > c->menuItems.size()) return;
  const std::string& s = c->menuItems[static_cast<size_t>(item - 1)];
  ToStr255(s, text);
}

SInt16 HostGetControlProcID(ControlRef control) {
  ControlRef c = AsControl(control);
  return c ? c->procID : 0;
}

void HostGetControlBounds(ControlRef control, Rect* bounds) {
  ControlRef c = AsControl(control);
  if (c && bounds) *bounds = c->bounds;
}

}  // extern "C"

static DialogRef DialogOfWindow(WindowRef window) {
  if (window == nullptr) return nullptr;
#if defined(_WIN32)
  return AsDialog(reinterpret_cast<DialogRef>(window));
#else
  return AsDialog(window->dialog);
#endif
}
