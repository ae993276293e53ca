// Compressor component handlers: instance lifetime, codec information, size
// rule, session preparation and the per-frame calls.
#include <cstdlib>
#include <cstring>

#include "MacMemory.h"
#include "quicktime/Common/Component/ORXComponent.h"
#include "core/Frames/ORXFrameEncode.h"
#include "quicktime/Common/Component/ORXQuickTimePlatform.h"
#include "core/Format/ORXHeader.h"

namespace {
constexpr OSType kCdci = FOUR_CHAR_CODE('c', 'd', 'c', 'i');
constexpr SInt32 kARGB32 = k32ARGBPixelFormat;
}  // namespace

ComponentResult ORX_COpen(CompressorGlobalsPtr, ComponentInstance self) {
  auto* g = static_cast<CompressorGlobals*>(std::calloc(1, sizeof(CompressorGlobals)));
  if (g == nullptr) return memFullErr;
  SetComponentInstanceStorage(self, reinterpret_cast<Handle>(g));
  g->self = self;
  g->target = self;
  SetDefaultSettings(g);
  g->prefsLoaded = 0;
  return noErr;
}

ComponentResult ORX_CClose(CompressorGlobalsPtr g, ComponentInstance self) {
  if (g == nullptr) return noErr;
  ICMCompressionSessionOptionsRelease(g->sessionOptions);
  std::free(g->encodeScratch);
  std::free(g);
  SetComponentInstanceStorage(self, nullptr);
  return noErr;
}

ComponentResult ORX_CVersion(CompressorGlobalsPtr) { return static_cast<ComponentResult>(kORXCodecVersion); }

ComponentResult ORX_CTarget(CompressorGlobalsPtr g, ComponentInstance target) {
  if (g != nullptr) g->target = target;
  return noErr;
}

ComponentResult ORX_CCanDo(CompressorGlobalsPtr, SInt16 selector) { return ORXCompressorImplements(selector) ? 1 : 0; }

ComponentResult ORXCopyCodecInfo(ComponentInstance self, CodecInfo* info) {
  Handle h = nullptr;
  const OSErr err = GetComponentResource(reinterpret_cast<Component>(self), kCdci, 256, &h);
  if (err != noErr) return err;
  if (h == nullptr || GetHandleSize(h) < static_cast<Size>(sizeof(CodecInfo))) {
    DisposeHandle(h);
    return resNotFound;
  }
  std::memcpy(info, *h, sizeof(CodecInfo));
  DisposeHandle(h);
  return noErr;
}

ComponentResult ORX_CGetCodecInfo(CompressorGlobalsPtr g, CodecInfo* info) {
  if (info == nullptr || g == nullptr) return paramErr;
  return ORXCopyCodecInfo(g->self, info);
}

ComponentResult ORX_CGetMaxCompressionSize(CompressorGlobalsPtr g, PixMapHandle, const Rect* srcRect, SInt16, CodecQ,
                                           SInt32* size) {
  if (size == nullptr) return paramErr;
  if (g == nullptr || srcRect == nullptr) return paramErr;
  LoadSettingsIfNeeded(g);
  const int32_t width = static_cast<SInt16>(srcRect->right - srcRect->left);
  const int32_t height = static_cast<SInt16>(srcRect->bottom - srcRect->top);
  *size = static_cast<SInt32>(CalculateMaxORXDataSize(width, height, g->preserveAlpha != 0, g->preserveGradients != 0));
  return noErr;
}

ComponentResult ORX_CPrepareToCompressFrames(CompressorGlobalsPtr g, ICMCompressorSessionRef session,
                                             ICMCompressionSessionOptionsRef options,
                                             ImageDescriptionHandle imageDescription, void*,
                                             CFDictionaryRef* pixelBufferAttributesOut) {
  if (g == nullptr) return kNoCodecOpenErr;
  if (imageDescription == nullptr || *imageDescription == nullptr) return paramErr;
  g->session = session;
  ICMCompressionSessionOptionsRelease(g->sessionOptions);
  g->sessionOptions = ICMCompressionSessionOptionsRetain(options);

  const Fixed gamma = 0;  // the platform's default gamma
  OSStatus err = ICMImageDescriptionSetProperty(imageDescription, kQTPropertyClass_ImageDescription,
                                                kICMImageDescriptionPropertyID_GammaLevel, sizeof gamma, &gamma);
  if (err != noErr) return err;

  LoadSettingsIfNeeded(g);
  const SInt32 width = (*imageDescription)->width;
  const SInt32 height = (*imageDescription)->height;
  const int64_t maxSize = CalculateMaxORXDataSize(width, height, g->preserveAlpha != 0, g->preserveGradients != 0);

  // The default allocator is the null allocator reference.
  const ORXPixelBufferAttributeNames names = ORXGetPixelBufferAttributeNames();
  CFMutableDictionaryRef attrs = CFDictionaryCreateMutable(nullptr, 0, names.keyCallBacks, names.valueCallBacks);
  CFMutableArrayRef formats = CFArrayCreateMutable(nullptr, 0, names.arrayCallBacks);
  CFNumberRef format = CFNumberCreate(nullptr, kCFNumberSInt32Type, &kARGB32);
  if (attrs == nullptr || formats == nullptr || format == nullptr) {
    if (format) CFRelease(format);
    if (formats) CFRelease(formats);
    if (attrs) CFRelease(attrs);
    return memFullErr;
  }
  CFArrayAppendValue(formats, format);
  CFRelease(format);
  CFDictionaryAddValue(attrs, names.pixelFormatTypeKey, formats);
  CFRelease(formats);
  if (CFNumberRef w = CFNumberCreate(nullptr, kCFNumberSInt32Type, &width)) {
    CFDictionaryAddValue(attrs, names.widthKey, w);
    CFRelease(w);
  }
  if (CFNumberRef h = CFNumberCreate(nullptr, kCFNumberSInt32Type, &height)) {
    CFDictionaryAddValue(attrs, names.heightKey, h);
    CFRelease(h);
  }
  if (pixelBufferAttributesOut != nullptr)
    *pixelBufferAttributesOut = attrs;
  else
    CFRelease(attrs);

  g->maxEncodedSize = static_cast<SInt32>(maxSize);
  return noErr;
}

ComponentResult ORX_CEncodeFrame(CompressorGlobalsPtr g, ICMCompressorSourceFrameRef sourceFrame, UInt32) {
  if (g == nullptr) return kNoCodecOpenErr;
  return CompressDXTOnly(g, sourceFrame, ORXChoosesDXT24(g->preserveAlpha != 0, g->preserveGradients != 0));
}

ComponentResult ORX_CCompleteFrame(CompressorGlobalsPtr, ICMCompressorSourceFrameRef, UInt32) { return noErr; }
