// Windows: what the binding's stub table does not carry is done without it.
#include <windows.h>

#include "ORXQuickTimePlatform.h"
#include "MacMemory.h"

// A CoreFoundation constant by its name, through the binding (the empty
// block on QuickTime older than 7.0.2).
extern "C" const void* QTGetCFConstantByName(const char* name);

ORXPixelBufferAttributeNames ORXGetPixelBufferAttributeNames() {
  ORXPixelBufferAttributeNames n;
  n.pixelFormatTypeKey = __CFStringMakeConstantString("PixelFormatType");
  n.widthKey = __CFStringMakeConstantString("Width");
  n.heightKey = __CFStringMakeConstantString("Height");
  n.keyCallBacks = static_cast<const CFDictionaryKeyCallBacks*>(QTGetCFConstantByName("kCFTypeDictionaryKeyCallBacks"));
  n.valueCallBacks =
      static_cast<const CFDictionaryValueCallBacks*>(QTGetCFConstantByName("kCFTypeDictionaryValueCallBacks"));
  n.arrayCallBacks = static_cast<const CFArrayCallBacks*>(QTGetCFConstantByName("kCFTypeArrayCallBacks"));
  return n;
}

bool ORXSourceIsARGB32(CVPixelBufferRef) { return true; }

bool ORXResizeHandle(Handle h, Size size) {
  SetHandleSize(h, size);
  return GetHandleSize(h) == size;
}

WindowRef ORXDialogWindow(DialogRef dialog) { return reinterpret_cast<WindowRef>(dialog); }

uint8_t ORXGradientsDiscardedByte(bool) { return 0; }

ComponentResult ORXCallHandler(Handle storage, ComponentParameters* params, ProcPtr handler, ProcInfoType) {
  return CallComponentFunctionWithStorage(storage, params, reinterpret_cast<ComponentRoutineUPP>(handler));
}
