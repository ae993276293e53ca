// Windows: what the binding's stub table does not carry is done without it.
#include <windows.h>

#include "quicktime/Common/Component/ORXQuickTimePlatform.h"
#include "MacMemory.h"
#include "quicktime/Common/Component/ORXDecompressor.h"

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

extern "C" int32_t ImageCodecGetBaseMPWorkFunction(void* instance, void* workFunctionOut, void* refconOut,
                                                   void* drawProc, void* drawRefcon);

namespace {

// The draw routine the base codec's worker threads call with the instance
// storage as the reference.
ComponentResult DrawBandRoutine(void* refcon, ImageSubCodecDecompressRecord* drp) {
  return ORX_DDrawBand(static_cast<DecompressorGlobalsPtr>(refcon), drp);
}

// Hands the base codec a draw routine for multiprocessor decoding.
ComponentResult GetMPWorkFunction(DecompressorGlobalsPtr g, void* workFunctionOut, void* refconOut) {
  if (g == nullptr) return paramErr;
  if (g->drawBandProc == nullptr) g->drawBandProc = reinterpret_cast<void*>(&DrawBandRoutine);
  return ImageCodecGetBaseMPWorkFunction(g->delegate, workFunctionOut, refconOut, g->drawBandProc, g);
}

}  // namespace

ORXDecompressorTableShape ORXGetDecompressorTableShape() {
  return {0x34, 0x0A, false, reinterpret_cast<ProcPtr>(&GetMPWorkFunction), 0xFF0, false};
}

ComponentResult ORXCallHandler(Handle storage, ComponentParameters* params, ProcPtr handler, ProcInfoType) {
  return CallComponentFunctionWithStorage(storage, params, reinterpret_cast<ComponentRoutineUPP>(handler));
}
