// Dialog, Control and Menu Managers. Dialogs are built from 'DLOG', 'DITL',
// 'CNTL' and 'MENU' resources read big-endian from the resource chain; there
// is no drawing, only the items, their rectangles and the control values
// that a driver (DialogDrivers.cpp) shows and changes.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_set>

#include "DialogResources.h"
#include "MacMemory.h"
#include "Resources.h"

struct OpaqueControlRef {
  Rect bounds{};
  int16_t value = 0;
  int16_t min = 0;
  int16_t max = 0;
  int16_t procID = 0;
  int16_t titleWidth = 0;  // popups: from the resource's max field
  int32_t refCon = 0;
  bool visible = true;
  bool popup = false;
  std::string title;
  qthost::MenuTemplate menu;  // popups only
};

namespace {

constexpr ResType kDLOG = FOUR_CHAR_CODE('D', 'L', 'O', 'G');
constexpr ResType kDITL = FOUR_CHAR_CODE('D', 'I', 'T', 'L');
constexpr ResType kCNTL = FOUR_CHAR_CODE('C', 'N', 'T', 'L');
constexpr ResType kMENU = FOUR_CHAR_CODE('M', 'E', 'N', 'U');

// Control definitions of the items that are controls without a 'CNTL'.
constexpr int16_t kPushButProc = 0;
constexpr int16_t kCheckBoxProc = 1;
constexpr int16_t kRadioButProc = 2;

// Big-endian reader over a byte range; any read past the end fails and
// every later read fails too.
class Reader {
 public:
  Reader(const uint8_t* bytes, size_t length) : p_(bytes), n_(bytes ? length : 0), ok_(bytes != nullptr) {}
  bool ok() const { return ok_; }
  size_t remaining() const { return n_ - pos_; }
  size_t position() const { return pos_; }
  bool Need(size_t k) {
    if (!ok_ || remaining() < k) ok_ = false;
    return ok_;
  }
  uint8_t U8() { return Need(1) ? p_[pos_++] : 0; }
  uint16_t U16() {
    if (!Need(2)) return 0;
    const uint16_t v = static_cast<uint16_t>((p_[pos_] << 8) | p_[pos_ + 1]);
    pos_ += 2;
    return v;
  }
  int16_t S16() { return static_cast<int16_t>(U16()); }
  uint32_t U32() {
    const uint32_t hi = U16();
    return (hi << 16) | U16();
  }
  int32_t S32() { return static_cast<int32_t>(U32()); }
  Rect ReadRect() {
    Rect r;
    r.top = S16();
    r.left = S16();
    r.bottom = S16();
    r.right = S16();
    return r;
  }
  void Skip(size_t k) {
    if (Need(k)) pos_ += k;
  }
  std::string Bytes(size_t k) {
    if (!Need(k)) return {};
    std::string s(reinterpret_cast<const char*>(p_ + pos_), k);
    pos_ += k;
    return s;
  }
  std::string Pascal() { return Bytes(U8()); }

 private:
  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
  bool ok_;
};

const std::string kNoText;

void ToPascal(const char* s, size_t size, unsigned char* out) {
  if (out == nullptr) return;
  const size_t n = std::min<size_t>(size, 255);
  out[0] = static_cast<unsigned char>(n);
  if (n > 0) std::memcpy(out + 1, s, n);
}

void ToPascal(const std::string& s, unsigned char* out) { ToPascal(s.data(), s.size(), out); }

struct HandleDeleter {
  void operator()(char** h) const { DisposeHandle(h); }
};

struct Item {
  Rect box{};
  uint8_t type = 0;
  std::unique_ptr<OpaqueControlRef> control;
  std::unique_ptr<char*, HandleDeleter> text;  // static and edit text: the text bytes
};

}  // namespace

struct OpaqueDialogPtr {
  Rect bounds{};
  int16_t procID = 0;
  int32_t refCon = 0;
  bool visible = false;
  bool goAway = false;
  std::string title;
  std::vector<Item> items;
  DialogItemIndex defaultItem = 1;
  DialogItemIndex cancelItem = 0;
};

namespace {

// Live dialogs front to back, and live controls: calls check their
// arguments against these, and GetDialogItemText tells a control's item
// handle from a text handle by them.
std::mutex g_mutex;
std::vector<OpaqueDialogPtr*> g_windows;
std::unordered_set<const OpaqueControlRef*> g_controls;

OpaqueDialogPtr* LiveDialog(const void* d) {
  if (d == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = std::find(g_windows.begin(), g_windows.end(), d);
  return it == g_windows.end() ? nullptr : *it;
}

OpaqueControlRef* LiveControl(const void* c) {
  if (c == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_controls.find(static_cast<const OpaqueControlRef*>(c));
  return it == g_controls.end() ? nullptr : const_cast<OpaqueControlRef*>(*it);
}

void ForgetControls(const std::vector<Item>& items) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (const Item& it : items)
    if (it.control) g_controls.erase(it.control.get());
}

// Whole resource bytes of a loaded resource; false for a null or empty one.
bool ResourceBytes(Handle h, const uint8_t** bytes, size_t* length) {
  if (h == nullptr || *h == nullptr) return false;
  const Size n = GetHandleSize(h);
  if (MemError() != noErr || n <= 0) return false;
  *bytes = reinterpret_cast<const uint8_t*>(*h);
  *length = static_cast<size_t>(n);
  return true;
}

OSErr ControlFromResource(int16_t cntlID, const Rect& box, std::unique_ptr<OpaqueControlRef>* out) {
  const uint8_t* bytes = nullptr;
  size_t length = 0;
  qthost::ControlTemplate t;
  if (!ResourceBytes(GetResource(kCNTL, cntlID), &bytes, &length) ||
      !qthost::ParseControlTemplate(bytes, length, &t))
    return resNotFound;
  auto c = std::make_unique<OpaqueControlRef>();
  c->bounds = box;  // the item's rectangle places the control
  c->procID = t.procID;
  c->refCon = t.refCon;
  c->visible = t.visible;
  c->title = std::move(t.title);
  if (qthost::IsPopupProcID(t.procID)) {
    if (!ResourceBytes(GetResource(kMENU, t.min), &bytes, &length) ||
        !qthost::ParseMenuTemplate(bytes, length, &c->menu))
      return resNotFound;
    c->popup = true;
    c->titleWidth = t.max;
    c->min = 1;
    c->max = static_cast<int16_t>(std::min<size_t>(c->menu.items.size(), INT16_MAX));
    c->value = 1;
  } else {
    c->min = t.min;
    c->max = t.max;
    c->value = t.value;
    if (c->value > c->max) c->value = c->max;
    if (c->value < c->min) c->value = c->min;
  }
  *out = std::move(c);
  return noErr;
}

// Items (and their controls) from 'DITL' bytes, at the rectangles stored.
OSErr BuildItems(const uint8_t* ditl, size_t ditlLength, std::vector<Item>* out) {
  std::vector<qthost::DialogItemTemplate> templates;
  if (!qthost::ParseItemList(ditl, ditlLength, &templates)) return paramErr;
  std::vector<Item> items(templates.size());
  for (size_t i = 0; i < templates.size(); ++i) {
    const qthost::DialogItemTemplate& t = templates[i];
    Item& it = items[i];
    it.box = t.box;
    it.type = t.type;
    const std::string text(t.data.begin(), t.data.end());
    switch (t.type & 0x7F) {
      case kResourceControlDialogItem: {
        if (t.data.size() != 2) return paramErr;
        const int16_t id = static_cast<int16_t>((t.data[0] << 8) | t.data[1]);
        const OSErr e = ControlFromResource(id, t.box, &it.control);
        if (e != noErr) return e;
        break;
      }
      case kButtonDialogItem:
      case kCheckBoxDialogItem:
      case kRadioButtonDialogItem:
        it.control = std::make_unique<OpaqueControlRef>();
        it.control->bounds = t.box;
        it.control->procID = (t.type & 0x7F) == kButtonDialogItem     ? kPushButProc
                             : (t.type & 0x7F) == kCheckBoxDialogItem ? kCheckBoxProc
                                                                      : kRadioButProc;
        it.control->max = 1;
        it.control->title = text;
        break;
      case kStaticTextDialogItem:
      case kEditTextDialogItem: {
        Handle h = NewHandle(static_cast<Size>(text.size()));
        if (h == nullptr) return memFullErr;
        it.text.reset(h);
        std::memcpy(*h, text.data(), text.size());
        break;
      }
      default:
        break;  // user, help, icon and picture items carry nothing used here
    }
  }
  *out = std::move(items);
  return noErr;
}

bool OffsetWithin16(int v, int d, int16_t* out) {
  const int r = v + d;
  if (r < INT16_MIN || r > INT16_MAX) return false;
  *out = static_cast<int16_t>(r);
  return true;
}

bool OffsetRect16(Rect* r, int dv, int dh) {
  Rect m = *r;
  if (!OffsetWithin16(r->top, dv, &m.top) || !OffsetWithin16(r->bottom, dv, &m.bottom) ||
      !OffsetWithin16(r->left, dh, &m.left) || !OffsetWithin16(r->right, dh, &m.right))
    return false;
  *r = m;
  return true;
}

// Adds the items to the dialog, offset by (dv, dh); with grow, the dialog's
// bounds grow to hold them. On error nothing changes.
OSErr PlaceItems(OpaqueDialogPtr* d, std::vector<Item> items, int dv, int dh, bool grow) {
  if (d->items.size() + items.size() > static_cast<size_t>(INT16_MAX)) return paramErr;
  int bottom = d->bounds.bottom - d->bounds.top;
  int right = d->bounds.right - d->bounds.left;
  for (Item& it : items) {
    if (!OffsetRect16(&it.box, dv, dh)) return paramErr;
    if (it.control) it.control->bounds = it.box;
    bottom = std::max<int>(bottom, it.box.bottom);
    right = std::max<int>(right, it.box.right);
  }
  int16_t newBottom = 0, newRight = 0;
  if (!OffsetWithin16(d->bounds.top, bottom, &newBottom) || !OffsetWithin16(d->bounds.left, right, &newRight))
    return paramErr;
  d->items.reserve(d->items.size() + items.size());
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    size_t added = 0;
    try {
      for (; added < items.size(); ++added)
        if (items[added].control) g_controls.insert(items[added].control.get());
    } catch (const std::bad_alloc&) {
      for (size_t i = 0; i < added; ++i)
        if (items[i].control) g_controls.erase(items[i].control.get());
      return memFullErr;
    }
  }
  if (grow) {
    d->bounds.bottom = newBottom;
    d->bounds.right = newRight;
  }
  for (Item& it : items) d->items.push_back(std::move(it));  // cannot throw after reserve
  return noErr;
}

// Registers a new dialog in the window list: kFirstWindowOfClass (or an
// unknown window) puts it in front, null behind all, a dialog's window just
// behind that one.
void RegisterWindow(OpaqueDialogPtr* d, WindowRef behind) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto pos = g_windows.begin();
  if (behind == nullptr) {
    pos = g_windows.end();
  } else if (behind != kFirstWindowOfClass) {
    auto it = std::find(g_windows.begin(), g_windows.end(), reinterpret_cast<OpaqueDialogPtr*>(behind));
    if (it != g_windows.end()) pos = it + 1;
  }
  g_windows.insert(pos, d);
}

void DestroyDialog(OpaqueDialogPtr* d) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_windows.erase(std::remove(g_windows.begin(), g_windows.end(), d), g_windows.end());
  }
  ForgetControls(d->items);
  delete d;
}

DialogRef MakeDialog(const qthost::DialogTemplate& t, const uint8_t* ditl, size_t ditlLength, WindowRef behind) {
  std::vector<Item> items;
  if (BuildItems(ditl, ditlLength, &items) != noErr) return nullptr;
  auto d = std::make_unique<OpaqueDialogPtr>();
  d->bounds = t.bounds;
  d->procID = t.procID;
  d->refCon = t.refCon;
  d->visible = t.visible;
  d->goAway = t.goAway;
  d->title = t.title;
  if (PlaceItems(d.get(), std::move(items), 0, 0, false) != noErr) return nullptr;
  try {
    RegisterWindow(d.get(), behind);
  } catch (...) {
    ForgetControls(d->items);
    throw;
  }
  return d.release();
}

}  // namespace

namespace qthost {

bool ParseDialogTemplate(const uint8_t* bytes, size_t length, DialogTemplate* out) {
  Reader r(bytes, length);
  DialogTemplate t;
  t.bounds = r.ReadRect();
  t.procID = r.S16();
  t.visible = r.U8() != 0;
  r.Skip(1);
  t.goAway = r.U8() != 0;
  r.Skip(1);
  t.refCon = r.S32();
  t.itemsID = r.S16();
  t.title = r.Pascal();
  if (!r.ok()) return false;
  // The position code follows the title padded to even; older resources end
  // after the title.
  if (r.position() % 2 != 0 && r.remaining() > 0) r.Skip(1);
  if (r.remaining() >= 2) t.position = r.U16();
  *out = std::move(t);
  return true;
}

bool ParseItemList(const uint8_t* bytes, size_t length, std::vector<DialogItemTemplate>* out) {
  Reader r(bytes, length);
  const uint16_t last = r.U16();
  if (!r.ok()) return false;
  const size_t count = last == 0xFFFF ? 0 : size_t{last} + 1;
  // Each item takes at least 14 bytes: refuse impossible counts before
  // reserving room for them.
  if (count > r.remaining() / 14) return false;
  std::vector<DialogItemTemplate> items(count);
  for (DialogItemTemplate& it : items) {
    r.Skip(4);
    it.box = r.ReadRect();
    it.type = r.U8();
    const uint8_t n = r.U8();
    if (!r.Need(n)) return false;
    const std::string data = r.Bytes(n);
    it.data.assign(data.begin(), data.end());
    if (n % 2 != 0 && r.remaining() > 0) r.Skip(1);  // the last item may omit its pad byte
    if (!r.ok()) return false;
  }
  *out = std::move(items);
  return true;
}

bool ParseControlTemplate(const uint8_t* bytes, size_t length, ControlTemplate* out) {
  Reader r(bytes, length);
  ControlTemplate t;
  t.bounds = r.ReadRect();
  t.value = r.S16();
  t.visible = r.U8() != 0;
  r.Skip(1);
  t.max = r.S16();
  t.min = r.S16();
  t.procID = r.S16();
  t.refCon = r.S32();
  t.title = r.Pascal();
  if (!r.ok()) return false;
  *out = std::move(t);
  return true;
}

bool ParseMenuTemplate(const uint8_t* bytes, size_t length, MenuTemplate* out) {
  Reader r(bytes, length);
  MenuTemplate t;
  t.id = r.S16();
  t.width = r.S16();
  t.height = r.S16();
  t.procID = r.S16();
  r.Skip(2);
  t.enableFlags = r.U32();
  t.title = r.Pascal();
  // Items until an empty text; a list without its terminating zero is damaged.
  for (;;) {
    const uint8_t n = r.U8();
    if (!r.ok()) return false;
    if (n == 0) break;
    MenuItemTemplate it;
    it.text = r.Bytes(n);
    it.icon = r.U8();
    it.key = r.U8();
    it.mark = r.U8();
    it.style = r.U8();
    if (!r.ok()) return false;
    t.items.push_back(std::move(it));
  }
  *out = std::move(t);
  return true;
}

bool IsPopupProcID(int16_t procID) {
  return (procID >= kPopupMenuProc && procID < kPopupMenuProc + 16) || (procID >= 400 && procID < 416);
}

DialogRef NewDialogFromItems(const Rect& bounds, const char* title, bool visible, const uint8_t* ditl,
                             size_t ditlLength) {
  try {
    DialogTemplate t;
    t.bounds = bounds;
    t.title = title ? title : "";
    t.visible = visible;
    return MakeDialog(t, ditl, ditlLength, kFirstWindowOfClass);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

OSErr AppendItems(DialogRef dialog, const uint8_t* ditl, size_t ditlLength, DITLMethod method) {
  OpaqueDialogPtr* d = LiveDialog(dialog);
  if (d == nullptr) return paramErr;
  try {
    // Appended items are placed relative to the union of the items already
    // there (to its right or below it), or to a given item's top-left for a
    // negative method (-item number).
    int dv = 0, dh = 0;
    if (method < 0) {
      const size_t n = static_cast<size_t>(-static_cast<int>(method));
      if (n > d->items.size()) return paramErr;
      dv = d->items[n - 1].box.top;
      dh = d->items[n - 1].box.left;
    } else {
      for (const Item& it : d->items) {
        if (method == appendDITLRight)
          dh = std::max<int>(dh, it.box.right);
        else
          dv = std::max<int>(dv, it.box.bottom);
      }
    }
    std::vector<Item> items;
    const OSErr e = BuildItems(ditl, ditlLength, &items);
    if (e != noErr) return e;
    return PlaceItems(d, std::move(items), dv, dh, true);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
}

DialogRef FrontDialog() {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (OpaqueDialogPtr* d : g_windows)
    if (d->visible) return d;
  return g_windows.empty() ? nullptr : g_windows.front();
}

}  // namespace qthost

extern "C" {

DialogRef GetNewDialog(SInt16 dialogID, void* /*dStorage*/, WindowRef behind) {
  try {
    const uint8_t* bytes = nullptr;
    size_t length = 0;
    qthost::DialogTemplate t;
    if (!ResourceBytes(GetResource(kDLOG, dialogID), &bytes, &length) ||
        !qthost::ParseDialogTemplate(bytes, length, &t))
      return nullptr;
    if (!ResourceBytes(GetResource(kDITL, t.itemsID), &bytes, &length)) return nullptr;
    return MakeDialog(t, bytes, length, behind);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void DisposeDialog(DialogRef dialog) {
  if (OpaqueDialogPtr* d = LiveDialog(dialog)) DestroyDialog(d);
}

// The dialog reference serves as its window.
WindowRef GetDialogWindow(DialogRef dialog) { return reinterpret_cast<WindowRef>(LiveDialog(dialog)); }

void ShowWindow(WindowRef window) {
  if (OpaqueDialogPtr* d = LiveDialog(window)) d->visible = true;
}

void HideWindow(WindowRef window) {
  if (OpaqueDialogPtr* d = LiveDialog(window)) d->visible = false;
}

Boolean HostIsWindowVisible(WindowRef window) {
  const OpaqueDialogPtr* d = LiveDialog(window);
  return d != nullptr && d->visible;
}

void SetDialogDefaultItem(DialogRef dialog, DialogItemIndex item) {
  if (OpaqueDialogPtr* d = LiveDialog(dialog)) d->defaultItem = item;
}

void SetDialogCancelItem(DialogRef dialog, DialogItemIndex item) {
  if (OpaqueDialogPtr* d = LiveDialog(dialog)) d->cancelItem = item;
}

DialogItemIndex HostGetDialogCancelItem(DialogRef dialog) {
  const OpaqueDialogPtr* d = LiveDialog(dialog);
  return d ? d->cancelItem : 0;
}

DialogItemIndex HostGetDialogDefaultItem(DialogRef dialog) {
  const OpaqueDialogPtr* d = LiveDialog(dialog);
  return d ? d->defaultItem : 0;
}

void HostGetDialogTitle(DialogRef dialog, Str255 title) {
  const OpaqueDialogPtr* d = LiveDialog(dialog);
  ToPascal(d ? d->title : kNoText, title);
}

void HostGetDialogBounds(DialogRef dialog, Rect* bounds) {
  if (bounds == nullptr) return;
  const OpaqueDialogPtr* d = LiveDialog(dialog);
  *bounds = d ? d->bounds : Rect{};
}

DialogItemIndex CountDITL(DialogRef dialog) {
  const OpaqueDialogPtr* d = LiveDialog(dialog);
  return d ? static_cast<DialogItemIndex>(d->items.size()) : 0;
}

void AppendDITL(DialogRef dialog, Handle theHandle, DITLMethod method) {
  const uint8_t* bytes = nullptr;
  size_t length = 0;
  if (!ResourceBytes(theHandle, &bytes, &length)) return;
  qthost::AppendItems(dialog, bytes, length, method);
}

void GetDialogItem(DialogRef dialog, DialogItemIndex item, DialogItemType* itemType, Handle* itemHandle, Rect* box) {
  const OpaqueDialogPtr* d = LiveDialog(dialog);
  const Item* it = d && item >= 1 && static_cast<size_t>(item) <= d->items.size() ? &d->items[item - 1] : nullptr;
  if (itemType) *itemType = it ? it->type : 0;
  if (itemHandle) {
    // A control item's handle is its control, as ControlRef; a text item's a
    // handle to its text.
    *itemHandle = !it              ? nullptr
                  : it->control    ? reinterpret_cast<Handle>(it->control.get())
                                   : it->text.get();
  }
  if (box) *box = it ? it->box : Rect{};
}

void GetDialogItemText(Handle itemHandle, Str255 text) {
  if (text == nullptr) return;
  text[0] = 0;
  if (itemHandle == nullptr) return;
  if (const OpaqueControlRef* c = LiveControl(itemHandle)) {
    ToPascal(c->title, text);
    return;
  }
  const Size n = GetHandleSize(itemHandle);
  if (MemError() != noErr || *itemHandle == nullptr) return;
  ToPascal(*itemHandle, static_cast<size_t>(n), text);
}

OSErr GetDialogItemAsControl(DialogRef dialog, SInt16 itemNo, ControlRef* outControl) {
  if (outControl == nullptr) return paramErr;
  *outControl = nullptr;
  const OpaqueDialogPtr* d = LiveDialog(dialog);
  if (d == nullptr || itemNo < 1 || static_cast<size_t>(itemNo) > d->items.size()) return paramErr;
  const Item& it = d->items[itemNo - 1];
  if (!it.control) return qthost::kErrItemNotControl;
  *outControl = it.control.get();
  return noErr;
}

SInt16 GetControlValue(ControlRef control) {
  const OpaqueControlRef* c = LiveControl(control);
  return c ? c->value : 0;
}

void SetControlValue(ControlRef control, SInt16 value) {
  OpaqueControlRef* c = LiveControl(control);
  if (c == nullptr) return;
  // A popup keeps the value as given, so that a setting outside its items
  // shows as such; other controls stay within their range.
  if (!c->popup) {
    if (value > c->max) value = c->max;
    if (value < c->min) value = c->min;
  }
  c->value = value;
}

SInt16 GetControlMinimum(ControlRef control) {
  const OpaqueControlRef* c = LiveControl(control);
  return c ? c->min : 0;
}

SInt16 GetControlMaximum(ControlRef control) {
  const OpaqueControlRef* c = LiveControl(control);
  return c ? c->max : 0;
}

void GetControlTitle(ControlRef control, Str255 title) {
  const OpaqueControlRef* c = LiveControl(control);
  ToPascal(c ? c->title : kNoText, title);
}

SInt16 HostGetPopupItemCount(ControlRef control) {
  const OpaqueControlRef* c = LiveControl(control);
  return c && c->popup ? static_cast<SInt16>(std::min<size_t>(c->menu.items.size(), INT16_MAX)) : 0;
}

void HostGetPopupItemText(ControlRef control, SInt16 item, Str255 text) {
  const OpaqueControlRef* c = LiveControl(control);
  const bool valid = c && c->popup && item >= 1 && static_cast<size_t>(item) <= c->menu.items.size();
  ToPascal(valid ? c->menu.items[item - 1].text : kNoText, text);
}

SInt16 HostGetControlProcID(ControlRef control) {
  const OpaqueControlRef* c = LiveControl(control);
  return c ? c->procID : 0;
}

void HostGetControlBounds(ControlRef control, Rect* bounds) {
  if (bounds == nullptr) return;
  const OpaqueControlRef* c = LiveControl(control);
  *bounds = c ? c->bounds : Rect{};
}

}  // extern "C"
