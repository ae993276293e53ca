// CoreVideo-style pixel buffers: 32-bit ARGB pixels with a row stride, a
// lock count, and CoreFoundation reference counting.
#include <cstdlib>
#include <cstring>
#include <new>

#include "CoreVideo.h"
#include "quicktime/host/src/CFObject.h"

#if defined(_WIN32)
#include <malloc.h>
#endif

namespace {
// 16-byte aligned pixel memory (the C runtime on Windows has its own pair).
void* AllocatePixels(size_t bytes) {
#if defined(_WIN32)
  return _aligned_malloc(bytes, 16);
#else
  return std::aligned_alloc(16, bytes);
#endif
}
void FreePixels(void* p) {
#if defined(_WIN32)
  _aligned_free(p);
#else
  std::free(p);
#endif
}
}  // namespace

const CFStringRef kCVPixelBufferPixelFormatTypeKey = CFSTR("PixelFormatType");
const CFStringRef kCVPixelBufferWidthKey = CFSTR("Width");
const CFStringRef kCVPixelBufferHeightKey = CFSTR("Height");
const CFStringRef kCVPixelBufferBytesPerRowAlignmentKey = CFSTR("BytesPerRowAlignment");

struct __CVBuffer {
  HostCFObject base;
  size_t width, height, bytesPerRow;
  OSType format;
  uint8_t* pixels;
  std::atomic<SInt32> locks;
  // Buffers over the caller's pixels: given back through the callback, not freed.
  bool callerPixels;
  CVPixelBufferReleaseBytesCallback releaseCallback;
  void* releaseRefCon;
};

namespace {

constexpr size_t kMaxDimension = 32768;

__CVBuffer* Buffer(CVPixelBufferRef b) {
  if (b == nullptr || b->base.magic != kHostCFMagic || b->base.type != kHostCVPixelBufferType) return nullptr;
  return b;
}

}  // namespace

void HostCVPixelBufferDestroy(HostCFObject* o) {
  auto* b = reinterpret_cast<__CVBuffer*>(o);
  if (!b->callerPixels) FreePixels(b->pixels);
  else if (b->releaseCallback != nullptr) b->releaseCallback(b->releaseRefCon, b->pixels);
  delete b;
}

namespace {

// A buffer record of checked dimensions, without pixels, unlocked, owning
// the pixels it will be given.
__CVBuffer* NewBuffer(size_t width, size_t height, OSType format, size_t bytesPerRow) {
  auto* b = new (std::nothrow) __CVBuffer;
  if (b == nullptr) return nullptr;
  b->width = width;
  b->height = height;
  b->bytesPerRow = bytesPerRow;
  b->format = format;
  b->locks.store(0);
  b->callerPixels = false;
  b->releaseCallback = nullptr;
  b->releaseRefCon = nullptr;
  b->pixels = nullptr;
  return b;
}

}  // namespace

extern "C" {

CVReturn HostCVPixelBufferCreate(size_t width, size_t height, OSType pixelFormatType, size_t bytesPerRow,
                                 CVPixelBufferRef* pixelBufferOut) {
  if (pixelBufferOut == nullptr) return kCVReturnInvalidArgument;
  *pixelBufferOut = nullptr;
  if (pixelFormatType != k32ARGBPixelFormat) return kCVReturnInvalidPixelFormat;
  if (width == 0 || height == 0 || width > kMaxDimension || height > kMaxDimension) return kCVReturnInvalidSize;
  if (bytesPerRow == 0) bytesPerRow = 4 * width;
  if (bytesPerRow < 4 * width || bytesPerRow > 16 * kMaxDimension) return kCVReturnInvalidArgument;
  auto* b = NewBuffer(width, height, pixelFormatType, bytesPerRow);
  if (b == nullptr) return kCVReturnAllocationFailed;
  b->pixels = static_cast<uint8_t*>(AllocatePixels((bytesPerRow * height + 15) / 16 * 16));
  if (b->pixels == nullptr) {
    delete b;
    return kCVReturnAllocationFailed;
  }
  std::memset(b->pixels, 0, bytesPerRow * height);
  HostCFInit(&b->base, kHostCVPixelBufferType, false);
  *pixelBufferOut = b;
  return kCVReturnSuccess;
}

CVReturn CVPixelBufferCreateWithBytes(CFAllocatorRef, size_t width, size_t height, OSType pixelFormatType,
                                      void* baseAddress, size_t bytesPerRow,
                                      CVPixelBufferReleaseBytesCallback releaseCallback, void* releaseRefCon,
                                      CFDictionaryRef, CVPixelBufferRef* pixelBufferOut) {
  if (pixelBufferOut == nullptr) return kCVReturnInvalidArgument;
  *pixelBufferOut = nullptr;
  if (pixelFormatType != k32ARGBPixelFormat) return kCVReturnInvalidPixelFormat;
  if (width == 0 || height == 0 || width > kMaxDimension || height > kMaxDimension) return kCVReturnInvalidSize;
  if (baseAddress == nullptr || bytesPerRow < 4 * width || bytesPerRow > 16 * kMaxDimension)
    return kCVReturnInvalidArgument;
  auto* b = NewBuffer(width, height, pixelFormatType, bytesPerRow);
  if (b == nullptr) return kCVReturnAllocationFailed;
  b->callerPixels = true;
  b->releaseCallback = releaseCallback;
  b->releaseRefCon = releaseRefCon;
  b->pixels = static_cast<uint8_t*>(baseAddress);
  HostCFInit(&b->base, kHostCVPixelBufferType, false);
  *pixelBufferOut = b;
  return kCVReturnSuccess;
}

CVReturn CVPixelBufferCreate(CFAllocatorRef, size_t width, size_t height, OSType pixelFormatType,
                             CFDictionaryRef attributes, CVPixelBufferRef* pixelBufferOut) {
  size_t bytesPerRow = 4 * width;
  if (attributes != nullptr) {
    SInt32 align = 0;
    auto n = static_cast<CFNumberRef>(CFDictionaryGetValue(attributes, kCVPixelBufferBytesPerRowAlignmentKey));
    if (n != nullptr && CFNumberGetValue(n, kCFNumberSInt32Type, &align) && align > 1 && align <= 4096)
      bytesPerRow = (bytesPerRow + static_cast<size_t>(align) - 1) / static_cast<size_t>(align) * static_cast<size_t>(align);
  }
  return HostCVPixelBufferCreate(width, height, pixelFormatType, bytesPerRow, pixelBufferOut);
}

CVPixelBufferRef CVPixelBufferRetain(CVPixelBufferRef buffer) {
  if (Buffer(buffer)) CFRetain(buffer);
  return buffer;
}

void CVPixelBufferRelease(CVPixelBufferRef buffer) {
  if (Buffer(buffer)) CFRelease(buffer);
}

CVReturn CVPixelBufferLockBaseAddress(CVPixelBufferRef buffer, CVOptionFlags) {
  __CVBuffer* b = Buffer(buffer);
  if (b == nullptr) return kCVReturnInvalidArgument;
  ++b->locks;
  return kCVReturnSuccess;
}

CVReturn CVPixelBufferUnlockBaseAddress(CVPixelBufferRef buffer, CVOptionFlags) {
  __CVBuffer* b = Buffer(buffer);
  if (b == nullptr) return kCVReturnInvalidArgument;
  SInt32 n = b->locks.load();
  do {
    if (n <= 0) return kCVReturnError;
  } while (!b->locks.compare_exchange_weak(n, n - 1));
  return kCVReturnSuccess;
}

void* CVPixelBufferGetBaseAddress(CVPixelBufferRef buffer) {
  __CVBuffer* b = Buffer(buffer);
  return (b != nullptr && b->locks.load() > 0) ? b->pixels : nullptr;
}

size_t CVPixelBufferGetWidth(CVPixelBufferRef buffer) { return Buffer(buffer) ? buffer->width : 0; }
size_t CVPixelBufferGetHeight(CVPixelBufferRef buffer) { return Buffer(buffer) ? buffer->height : 0; }
size_t CVPixelBufferGetBytesPerRow(CVPixelBufferRef buffer) { return Buffer(buffer) ? buffer->bytesPerRow : 0; }
OSType CVPixelBufferGetPixelFormatType(CVPixelBufferRef buffer) { return Buffer(buffer) ? buffer->format : 0; }
SInt32 HostCVPixelBufferGetLockCount(CVPixelBufferRef buffer) { return Buffer(buffer) ? buffer->locks.load() : 0; }

}  // extern "C"
