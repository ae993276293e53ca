// The application's side of decompression: a decompressor opened for a
// codec type, prepared once for an image description, then fed samples and
// destination buffers of the size it asked for.
#include <cstring>
#include <new>

#include "ImageCodec.h"
#include "MacMemory.h"

struct OpaqueHostDecompressionSession {
  ComponentInstance decompressor = nullptr;
  ImageDescriptionHandle description = nullptr;
  CodecCapabilities capabilities{};
  SInt32 width = 0, height = 0;
  SInt32 frameNumber = 0;
};

extern "C" {

OSStatus HostDecompressionSessionCreate(ImageDescriptionHandle desc, HostDecompressionSessionRef* sessionOut) {
  if (sessionOut == nullptr) return paramErr;
  *sessionOut = nullptr;
  if (desc == nullptr || *desc == nullptr || GetHandleSize(reinterpret_cast<Handle>(desc)) < static_cast<Size>(sizeof(ImageDescription)))
    return paramErr;
  auto* s = new (std::nothrow) OpaqueHostDecompressionSession;
  if (s == nullptr) return memFullErr;
  const Size size = GetHandleSize(reinterpret_cast<Handle>(desc));
  Handle copy = NewHandle(size);
  if (copy == nullptr) {
    delete s;
    return memFullErr;
  }
  std::memcpy(*copy, *desc, static_cast<size_t>(size));
  s->description = reinterpret_cast<ImageDescriptionHandle>(copy);
  s->width = (*desc)->width;
  s->height = (*desc)->height;
  OSErr err = OpenADefaultComponent(decompressorComponentType, (*desc)->cType, &s->decompressor);
  if (err == noErr) {
    CodecDecompressParams p{};
    p.imageDescription = s->description;
    p.capabilities = &s->capabilities;
    p.conditionFlags = codecConditionFirstBand | codecConditionLastBand | codecConditionFirstFrame;
    p.srcRect = {0, 0, static_cast<SInt16>(s->height), static_cast<SInt16>(s->width)};
    ComponentResult r = ImageCodecPreDecompress(s->decompressor, &p);
    // This host hands out 32-bit ARGB only: the decompressor must accept it.
    if (r == noErr && p.wantedDestinationPixelTypes != nullptr) {
      bool argb = false;
      const Size n = GetHandleSize(reinterpret_cast<Handle>(p.wantedDestinationPixelTypes)) / 4;
      for (Size i = 0; i < n && (*p.wantedDestinationPixelTypes)[i] != 0; ++i)
        argb |= (*p.wantedDestinationPixelTypes)[i] == k32ARGBPixelFormat;
      if (!argb) r = codecErr;
    }
    if (r != noErr) err = static_cast<OSErr>(r);
    if (s->capabilities.extendWidth < 0 || s->capabilities.extendHeight < 0) err = codecErr;
  }
  if (err != noErr) {
    HostDecompressionSessionRelease(s);
    return err;
  }
  *sessionOut = s;
  return noErr;
}

void HostDecompressionSessionRelease(HostDecompressionSessionRef s) {
  if (s == nullptr) return;
  if (s->decompressor != nullptr) CloseComponent(s->decompressor);
  DisposeHandle(reinterpret_cast<Handle>(s->description));
  delete s;
}

void HostDecompressionSessionGetDestinationSize(HostDecompressionSessionRef s, SInt32* width, SInt32* height) {
  if (width) *width = s ? s->width + s->capabilities.extendWidth : 0;
  if (height) *height = s ? s->height + s->capabilities.extendHeight : 0;
}

ComponentInstance HostDecompressionSessionGetDecompressor(HostDecompressionSessionRef s) {
  return s ? s->decompressor : nullptr;
}

OSStatus HostDecompressionSessionCreateDestination(HostDecompressionSessionRef s, CVPixelBufferRef* out) {
  if (s == nullptr || out == nullptr) return paramErr;
  SInt32 w, h;
  HostDecompressionSessionGetDestinationSize(s, &w, &h);
  return HostCVPixelBufferCreate(static_cast<size_t>(w), static_cast<size_t>(h), k32ARGBPixelFormat, 0, out);
}

namespace {

OSStatus DecodeFrame(HostDecompressionSessionRef s, const void* data, SInt32 dataSize, const ICMDataProcRecord* proc,
                     CVPixelBufferRef destination) {
  if (s == nullptr || destination == nullptr || (data == nullptr && dataSize != 0) || dataSize < 0) return paramErr;
  SInt32 w, h;
  HostDecompressionSessionGetDestinationSize(s, &w, &h);
  if (CVPixelBufferGetPixelFormatType(destination) != k32ARGBPixelFormat ||
      CVPixelBufferGetWidth(destination) < static_cast<size_t>(w) ||
      CVPixelBufferGetHeight(destination) < static_cast<size_t>(h))
    return paramErr;
  CVPixelBufferLockBaseAddress(destination, 0);
  CodecDecompressParams p{};
  p.imageDescription = s->description;
  p.data = static_cast<Ptr>(const_cast<void*>(data));
  p.bufferSize = dataSize;
  if (proc != nullptr) p.dataProcRecord = *proc;
  p.frameNumber = ++s->frameNumber;
  p.stopLine = s->height;
  p.conditionFlags = codecConditionFirstBand | codecConditionLastBand;
  p.capabilities = &s->capabilities;
  HostPixMapExtension ext{static_cast<SInt32>(CVPixelBufferGetBytesPerRow(destination))};
  p.dstPixMap.baseAddr = static_cast<Ptr>(CVPixelBufferGetBaseAddress(destination));
  p.dstPixMap.rowBytes = static_cast<SInt16>(0x8000 | (ext.rowBytes <= 0x3FFE ? ext.rowBytes : 0));
  p.dstPixMap.pmExt = &ext;
  p.dstPixMap.bounds = {0, 0, static_cast<SInt16>(h), static_cast<SInt16>(w)};
  p.dstPixMap.pixelSize = 32;
  p.dstPixMap.pixelFormat = k32ARGBPixelFormat;
  p.srcRect = {0, 0, static_cast<SInt16>(s->height), static_cast<SInt16>(s->width)};
  const ComponentResult r = ImageCodecBandDecompress(s->decompressor, &p);
  CVPixelBufferUnlockBaseAddress(destination, 0);
  return r;
}

}  // namespace

OSStatus HostDecompressionSessionDecodeFrame(HostDecompressionSessionRef s, const void* data, SInt32 dataSize,
                                             CVPixelBufferRef destination) {
  return DecodeFrame(s, data, dataSize, nullptr, destination);
}

OSStatus HostDecompressionSessionDecodeFrameWithDataProc(HostDecompressionSessionRef s, const void* data,
                                                         SInt32 loadedBytes, const ICMDataProcRecord* dataProc,
                                                         CVPixelBufferRef destination) {
  if (dataProc == nullptr || dataProc->dataProc == nullptr) return paramErr;
  return DecodeFrame(s, data, loadedBytes, dataProc, destination);
}

SInt32 HostPixMapRowBytes(const PixMap* pm) {
  if (pm == nullptr) return 0;
  if (pm->pmExt != nullptr) return static_cast<const HostPixMapExtension*>(pm->pmExt)->rowBytes;
  return pm->rowBytes & 0x3FFF;
}

}  // extern "C"
