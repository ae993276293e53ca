// The host's standard compression dialog: "OK" and "Cancel", with the
// compressor's own panel appended below them and driven through the
// compressor's DITL calls.
#include <cstdint>

#include "DialogResources.h"
#include "ImageCodec.h"
#include "MacMemory.h"

namespace {

constexpr DialogItemIndex kOKItem = 1;
constexpr DialogItemIndex kCancelItem = 2;

// The dialog's own items, as 'DITL' bytes: two buttons side by side.
constexpr uint8_t kButtonItems[] = {
    0x00, 0x01,                                                  // 2 items
    0, 0, 0, 0, 0x00, 0x0A, 0x00, 0xF5, 0x00, 0x1E, 0x01, 0x3B,  // (10, 245, 30, 315)
    kButtonDialogItem, 2, 'O', 'K',                              //
    0, 0, 0, 0, 0x00, 0x0A, 0x01, 0x4A, 0x00, 0x1E, 0x01, 0x90,  // (10, 330, 30, 400)
    kButtonDialogItem, 6, 'C', 'a', 'n', 'c', 'e', 'l',          //
};

struct DialogCloser {
  DialogRef dialog;
  ~DialogCloser() { DisposeDialog(dialog); }
};

}  // namespace

extern "C" OSErr HostRunStandardCompressionDialog(ComponentInstance compressor) {
  Handle ditl = nullptr;
  Point smallest = {-1, -1};
  ComponentResult r = ImageCodecGetDITLForSize(compressor, &ditl, &smallest);
  if (r != noErr) return static_cast<OSErr>(r);
  if (ditl == nullptr) return resNotFound;

  const Rect bounds = {0, 0, 40, 420};
  DialogCloser closer{qthost::NewDialogFromItems(bounds, "Compression Settings", false, kButtonItems,
                                                 sizeof kButtonItems)};
  if (closer.dialog == nullptr) {
    DisposeHandle(ditl);
    return memFullErr;
  }
  DialogRef dialog = closer.dialog;
  SetDialogDefaultItem(dialog, kOKItem);
  SetDialogCancelItem(dialog, kCancelItem);

  const SInt16 offset = CountDITL(dialog);
  const Size ditlSize = GetHandleSize(ditl);
  OSErr appended = paramErr;
  if (ditlSize > 0)
    appended = qthost::AppendItems(dialog, reinterpret_cast<const uint8_t*>(*ditl), static_cast<size_t>(ditlSize),
                                   appendDITLBottom);
  DisposeHandle(ditl);
  if (appended != noErr) return appended;

  r = ImageCodecDITLInstall(compressor, dialog, offset);
  if (r != noErr) return static_cast<OSErr>(r);
  ShowWindow(GetDialogWindow(dialog));

  for (;;) {
    DialogItemIndex item = 0;
    ModalDialog(nullptr, &item);
    if (item == kOKItem) {
      Boolean ok = TRUE;
      r = ImageCodecDITLValidateInput(compressor, &ok);
      if (r != noErr) {
        ImageCodecDITLRemove(compressor, dialog, offset);
        return static_cast<OSErr>(r);
      }
      if (!ok) continue;  // the panel keeps the dialog open until its input is valid
      ImageCodecDITLRemove(compressor, dialog, offset);
      return noErr;
    }
    if (item > offset && item <= CountDITL(dialog)) {
      ImageCodecDITLItem(compressor, dialog, offset, item);
      continue;
    }
    if (item == kCancelItem || item < 1 || item > CountDITL(dialog)) {
      // An answer that names no item ends the dialog as Cancel does, so a
      // driver that cannot answer never leaves it running.
      ImageCodecDITLRemove(compressor, dialog, offset);
      return userCanceledErr;
    }
  }
}
