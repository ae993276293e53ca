// CoreVideo-style pixel buffers: a block of pixels with a format, size and
// row stride, reference-counted like CoreFoundation objects.
#pragma once

#include "CoreFoundation.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct __CVBuffer* CVPixelBufferRef;
typedef SInt32 CVReturn;
typedef UInt64 CVOptionFlags;

enum {
  kCVReturnSuccess = 0,
  kCVReturnError = -6660,
  kCVReturnInvalidArgument = -6661,
  kCVReturnAllocationFailed = -6662,
  kCVReturnInvalidPixelFormat = -6680,
  kCVReturnInvalidSize = -6681,
};

enum { k32ARGBPixelFormat = 0x00000020 };

extern const CFStringRef kCVPixelBufferPixelFormatTypeKey;
extern const CFStringRef kCVPixelBufferWidthKey;
extern const CFStringRef kCVPixelBufferHeightKey;
extern const CFStringRef kCVPixelBufferBytesPerRowAlignmentKey;

// Creates a buffer of the given size and format (only 32-bit ARGB here), rows
// bytesPerRow apart; bytesPerRow 0 means 4 x width. Pixels start zeroed.
CVReturn HostCVPixelBufferCreate(size_t width, size_t height, OSType pixelFormatType, size_t bytesPerRow,
                                 CVPixelBufferRef* pixelBufferOut);
// Called when the last reference to a buffer made with
// CVPixelBufferCreateWithBytes goes: the pixels are the caller's again.
typedef void (*CVPixelBufferReleaseBytesCallback)(void* releaseRefCon, const void* baseAddress);
// A buffer over the caller's pixels (only 32-bit ARGB here), rows bytesPerRow
// apart; the pixels are neither cleared nor freed by the buffer. The
// callback may be null. Of the attributes none is used.
CVReturn CVPixelBufferCreateWithBytes(CFAllocatorRef allocator, size_t width, size_t height, OSType pixelFormatType,
                                      void* baseAddress, size_t bytesPerRow,
                                      CVPixelBufferReleaseBytesCallback releaseCallback, void* releaseRefCon,
                                      CFDictionaryRef pixelBufferAttributes, CVPixelBufferRef* pixelBufferOut);
// A buffer of the given width and height; of the attributes only the
// bytes-per-row alignment is used (rows rounded up to a multiple of it).
CVReturn CVPixelBufferCreate(CFAllocatorRef allocator, size_t width, size_t height, OSType pixelFormatType,
                             CFDictionaryRef pixelBufferAttributes, CVPixelBufferRef* pixelBufferOut);
CVPixelBufferRef CVPixelBufferRetain(CVPixelBufferRef buffer);
void CVPixelBufferRelease(CVPixelBufferRef buffer);
CVReturn CVPixelBufferLockBaseAddress(CVPixelBufferRef buffer, CVOptionFlags lockFlags);
CVReturn CVPixelBufferUnlockBaseAddress(CVPixelBufferRef buffer, CVOptionFlags unlockFlags);
// Null while the buffer is not locked.
void* CVPixelBufferGetBaseAddress(CVPixelBufferRef buffer);
size_t CVPixelBufferGetWidth(CVPixelBufferRef buffer);
size_t CVPixelBufferGetHeight(CVPixelBufferRef buffer);
size_t CVPixelBufferGetBytesPerRow(CVPixelBufferRef buffer);
OSType CVPixelBufferGetPixelFormatType(CVPixelBufferRef buffer);
// Current lock count (tests check that every lock was undone).
SInt32 HostCVPixelBufferGetLockCount(CVPixelBufferRef buffer);

#ifdef __cplusplus
}
#endif
