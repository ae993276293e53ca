// Compressor settings: the 12-byte settings blob, the modal settings dialog,
// the panel in the host's compression dialog, and when the persisted
// settings are read.
#include <cstdio>
#include <cstring>

#include "MacMemory.h"
#include "quicktime/Common/Component/ORXComponent.h"
#include "quicktime/Common/Component/ORXQuickTimePlatform.h"
#include "Resources.h"

namespace {

constexpr OSType kDITL = FOUR_CHAR_CODE('D', 'I', 'T', 'L');
constexpr SInt16 kDialogID = 16501;
constexpr SInt16 kPanelDITL = 129;
constexpr DialogItemIndex kOkItem = 1;
constexpr DialogItemIndex kCancelItem = 2;
constexpr DialogItemIndex kDialogFirstPopup = 3;  // Transparency, Optimize For, Threads follow

SInt16 TransparencyValue(const CompressorGlobals* g) { return ORXTransparencyPopupValue(SettingsOf(g)); }
SInt16 OptimizeValue(const CompressorGlobals* g) { return ORXOptimizePopupValue(SettingsOf(g)); }
SInt16 ThreadsValue(const CompressorGlobals* g) { return static_cast<SInt16>(g->threadSetting); }

void ApplyTransparency(CompressorGlobals* g, SInt16 value) {
  ORXSettingsValues v = SettingsOf(g);
  ORXApplyTransparencyPopup(&v, value);
  SetSettings(g, v);
}
void ApplyOptimize(CompressorGlobals* g, SInt16 value) {
  ORXSettingsValues v = SettingsOf(g);
  ORXApplyOptimizePopup(&v, value);
  SetSettings(g, v);
}
void ApplyThreads(CompressorGlobals* g, SInt16 value) { g->threadSetting = value; }

SInt16 PopupValue(DialogRef d, DialogItemIndex item, bool* ok) {
  ControlRef c = nullptr;
  if (GetDialogItemAsControl(d, item, &c) != noErr || c == nullptr) {
    *ok = false;
    return 0;
  }
  *ok = true;
  return GetControlValue(c);
}

void SetPopup(DialogRef d, DialogItemIndex item, SInt16 value) {
  ControlRef c = nullptr;
  if (GetDialogItemAsControl(d, item, &c) == noErr && c != nullptr) SetControlValue(c, value);
}

// Popup `which` (0 Transparency, 1 Optimize For, 2 Threads) at `item`.
void ApplyPopup(CompressorGlobals* g, DialogRef d, int which, DialogItemIndex item) {
  bool ok = false;
  const SInt16 v = PopupValue(d, item, &ok);
  if (!ok) return;
  if (which == 0) ApplyTransparency(g, v);
  if (which == 1) ApplyOptimize(g, v);
  if (which == 2) ApplyThreads(g, v);
}

void ShowSettings(const CompressorGlobals* g, DialogRef d, DialogItemIndex first) {
  SetPopup(d, first, TransparencyValue(g));
  SetPopup(d, static_cast<DialogItemIndex>(first + 1), OptimizeValue(g));
  SetPopup(d, static_cast<DialogItemIndex>(first + 2), ThreadsValue(g));
}

// Writes the blob into a handle resized to 12 bytes; false when it cannot be.
bool WriteBlob(const CompressorGlobals* g, Handle settings) {
  if (!ORXResizeHandle(settings, kORXSettingsBlobSize)) return false;
  WriteORXSettingsBlob(SettingsOf(g), reinterpret_cast<uint8_t*>(*settings));
  return true;
}

}  // namespace

void SetDefaultSettings(CompressorGlobals* g) { SetSettings(g, kORXDefaultSettings); }

void LoadSettingsIfNeeded(CompressorGlobals* g) {
  if (g->prefsLoaded) return;
  ReadPreferences(g);
  g->prefsLoaded = 1;
}

ComponentResult ORX_CGetSettings(CompressorGlobalsPtr g, Handle settings) {
  if (settings == nullptr || g == nullptr) return paramErr;
  return WriteBlob(g, settings) ? noErr : memFullErr;
}

ComponentResult ORX_CSetSettings(CompressorGlobalsPtr g, Handle settings) {
  if (g == nullptr) return paramErr;
  if (settings == nullptr || GetHandleSize(settings) != static_cast<Size>(kORXSettingsBlobSize)) {
    SetDefaultSettings(g);
    return paramErr;
  }
  ORXSettingsValues v;
  if (!ReadORXSettingsBlob(reinterpret_cast<const uint8_t*>(*settings), &v)) {
    SetDefaultSettings(g);
    return noErr;
  }
  SetSettings(g, v);  // as stored: no range checks
  g->prefsLoaded = 1;
  return noErr;
}

ComponentResult ORX_CRequestSettings(CompressorGlobalsPtr g, Handle settings, Rect*, ModalFilterUPP) {
  if (g == nullptr) return paramErr;
  const SInt16 savedRes = CurResFile();
  LoadSettingsIfNeeded(g);
  const SInt16 ref = OpenComponentResFile(reinterpret_cast<Component>(g->self));
  if (ref == -1) {
    std::printf("Error: res file not opened\n");
    std::fflush(stdout);
  }
  auto restore = [&] {
    if (ref != -1) CloseComponentResFile(ref);
    if (savedRes > 0) UseResFile(savedRes);
  };

  DialogRef dialog = GetNewDialog(kDialogID, nullptr, kFirstWindowOfClass);
  if (dialog == nullptr) {
    restore();
    return resNotFound;
  }
  SetDialogCancelItem(dialog, kCancelItem);
  ShowWindow(ORXDialogWindow(dialog));
  ShowSettings(g, dialog, kDialogFirstPopup);

  DialogItemIndex hit = 0;
  do {
    ModalDialog(nullptr, &hit);
  } while (hit != kOkItem && hit != kCancelItem);

  if (hit == kOkItem) {
    for (int i = 0; i < 3; ++i) ApplyPopup(g, dialog, i, static_cast<DialogItemIndex>(kDialogFirstPopup + i));
    WritePreferences(g);
    if (settings != nullptr) WriteBlob(g, settings);
  }
  DisposeDialog(dialog);
  restore();
  return noErr;
}

ComponentResult ORX_CGetDITLForSize(CompressorGlobalsPtr g, Handle* ditl, Point* requestedSize) {
  if (g == nullptr || ditl == nullptr || requestedSize == nullptr) return paramErr;
  if (requestedSize->h != -1) return badComponentSelector;
  Handle h = nullptr;
  if (GetComponentResource(reinterpret_cast<Component>(g->self), kDITL, kPanelDITL, &h) != noErr || h == nullptr)
    return resNotFound;
  *ditl = h;
  return noErr;
}

ComponentResult ORX_CDITLInstall(CompressorGlobalsPtr g, DialogRef d, SInt16 itemOffset) {
  if (g == nullptr) return paramErr;
  LoadSettingsIfNeeded(g);
  ShowSettings(g, d, static_cast<DialogItemIndex>(itemOffset + 1));
  return noErr;
}

ComponentResult ORX_CDITLEvent(CompressorGlobalsPtr, DialogRef, SInt16, const EventRecord*, SInt16*,
                               Boolean* handled) {
  if (handled != nullptr) *handled = FALSE;
  return noErr;
}

ComponentResult ORX_CDITLItem(CompressorGlobalsPtr g, DialogRef d, SInt16 itemOffset, SInt16 itemNum) {
  if (g == nullptr) return paramErr;
  const int which = itemNum - itemOffset - 1;
  if (which < 0 || which > 2) return noErr;
  ApplyPopup(g, d, which, itemNum);
  WritePreferences(g);
  return noErr;
}

ComponentResult ORX_CDITLRemove(CompressorGlobalsPtr g, DialogRef d, SInt16 itemOffset) {
  if (g == nullptr) return paramErr;
  for (int i = 0; i < 3; ++i) ApplyPopup(g, d, i, static_cast<DialogItemIndex>(itemOffset + 1 + i));
  WritePreferences(g);
  return noErr;
}

ComponentResult ORX_CDITLValidateInput(CompressorGlobalsPtr, Boolean* ok) {
  if (ok != nullptr) *ok = TRUE;
  return noErr;
}
