// The common header of every CoreFoundation-style object of this host.
#pragma once

#include <atomic>

#include "CoreFoundation.h"

enum : CFTypeID {
  kHostCFStringType = 7,
  kHostCFNumberType = 22,
  kHostCFArrayType = 19,
  kHostCFDictionaryType = 18,
  kHostCVPixelBufferType = 41,
};

struct HostCFObject {
  uint32_t magic;
  CFTypeID type;
  std::atomic<long> refs;
  bool constant;  // interned strings: never freed
};

constexpr uint32_t kHostCFMagic = 0x43464F42;  // "CFOB"

// Starts an object's life: one reference, counted as live unless constant.
void HostCFInit(HostCFObject* o, CFTypeID type, bool constant);
// Called by CFRelease on the last reference of a pixel buffer.
void HostCVPixelBufferDestroy(HostCFObject* o);
