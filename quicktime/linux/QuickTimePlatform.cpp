// Linux: the components call the host's QuickTime names directly.
#include "quicktime/Common/Component/ORXQuickTimePlatform.h"
#include "MacMemory.h"

ORXPixelBufferAttributeNames ORXGetPixelBufferAttributeNames() {
  return {kCVPixelBufferPixelFormatTypeKey, kCVPixelBufferWidthKey,         kCVPixelBufferHeightKey,
          &kCFTypeDictionaryKeyCallBacks,   &kCFTypeDictionaryValueCallBacks, &kCFTypeArrayCallBacks};
}

bool ORXSourceIsARGB32(CVPixelBufferRef pixels) {
  return CVPixelBufferGetPixelFormatType(pixels) == k32ARGBPixelFormat;
}

bool ORXResizeHandle(Handle h, Size size) {
  SetHandleSize(h, size);
  return MemError() == noErr && GetHandleSize(h) == size;
}

WindowRef ORXDialogWindow(DialogRef dialog) { return GetDialogWindow(dialog); }

ORXDecompressorTableShape ORXGetDecompressorTableShape() { return {0x3D, 0x10, true, nullptr, 0, true}; }

ComponentResult ORXCallHandler(Handle storage, ComponentParameters* params, ProcPtr handler, ProcInfoType layout) {
  return CallComponentFunctionWithStorageProcInfo(storage, params, handler, layout);
}
