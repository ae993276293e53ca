// The host's standard compression dialog: "OK" and "Cancel", with the
// compressor's panel appended below and driven through the panel requests.
#include "ImageCodec.h"
#include "MacMemory.h"
#include "quicktime/host/src/DialogsInternal.h"
#include "Resources.h"

extern "C" ComponentResult HostRunStandardCompressionDialog(ComponentInstance compressor) {
  if (compressor == nullptr) return paramErr;
  Handle ditl = nullptr;
  Point smallest{-1, -1};
  const ComponentResult r = ImageCodecGetDITLForSize(compressor, &ditl, &smallest);
  if (r != noErr) return r;
  if (ditl == nullptr) return resNotFound;

  const char* const buttons[] = {"OK", "Cancel"};
  DialogRef dialog = HostNewButtonDialog("Compression Settings", buttons, 2);
  if (dialog == nullptr) {
    DisposeHandle(ditl);
    return memFullErr;
  }
  // The panel's controls and menus come from the compressor's own resources.
  const SInt16 savedRes = CurResFile();
  const SInt16 ref = OpenComponentResFile(reinterpret_cast<Component>(compressor));
  const SInt16 offset = CountDITL(dialog);
  AppendDITL(dialog, ditl, appendDITLBottom);
  DisposeHandle(ditl);
  if (ref != -1) CloseComponentResFile(ref);
  if (savedRes > 0) UseResFile(savedRes);
  if (CountDITL(dialog) == offset) {  // the panel's items could not be made
    DisposeDialog(dialog);
    return resNotFound;
  }
  SetDialogCancelItem(dialog, 2);
  ShowWindow(GetDialogWindow(dialog));
  ComponentResult err = ImageCodecDITLInstall(compressor, dialog, offset);
  const bool installed = err == noErr;
  OSErr result = userCanceledErr;
  while (err == noErr) {
    DialogItemIndex hit = 0;
    ModalDialog(nullptr, &hit);
    if (hit > offset) {
      err = ImageCodecDITLItem(compressor, dialog, offset, hit);
    } else if (hit == 1) {
      Boolean ok = TRUE;  // a compressor that does not answer accepts
      err = ImageCodecDITLValidateInput(compressor, &ok);
      if (err == noErr && ok) {
        result = noErr;
        break;
      }
    } else if (hit == 2 || hit <= 0) {
      break;
    }
  }
  const ComponentResult removed = installed ? ImageCodecDITLRemove(compressor, dialog, offset) : noErr;
  DisposeDialog(dialog);
  if (err != noErr) return err;
  if (removed != noErr) return removed;
  return result;
}
