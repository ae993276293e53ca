// Memory Manager, CoreFoundation objects and pixel buffers of the host.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "CoreVideo.h"
#include "MacMemory.h"

TEST(Memory, HandlesGrowShrinkAndRefuseNonHandles) {
  Handle h = NewHandleClear(16);
  ASSERT_NE(h, nullptr);
  for (int i = 0; i < 16; ++i) EXPECT_EQ((*h)[i], 0);
  std::memcpy(*h, "0123456789abcdef", 16);
  SetHandleSize(h, 40);
  ASSERT_EQ(MemError(), noErr);
  EXPECT_EQ(GetHandleSize(h), 40);
  EXPECT_EQ(std::memcmp(*h, "0123456789abcdef", 16), 0);
  for (int i = 16; i < 40; ++i) EXPECT_EQ((*h)[i], 0) << i;
  SetHandleSize(h, 4);
  EXPECT_EQ(GetHandleSize(h), 4);
  EXPECT_EQ(std::memcmp(*h, "0123", 4), 0);
  SetHandleSize(h, -1);
  EXPECT_EQ(MemError(), paramErr);
  EXPECT_EQ(GetHandleSize(h), 4);
  DisposeHandle(h);

  Ptr p = NewPtrClear(10);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(GetPtrSize(p), 10);
  Ptr block = NewPtrClear(64);
  EXPECT_EQ(GetHandleSize(reinterpret_cast<Handle>(block)), 0);  // not a handle
  EXPECT_EQ(MemError(), nilHandleErr);
  DisposeHandle(reinterpret_cast<Handle>(block));  // refused, not freed
  EXPECT_EQ(MemError(), nilHandleErr);
  DisposePtr(block);
  DisposePtr(p);
  DisposeHandle(nullptr);
  EXPECT_EQ(NewHandle(-5), nullptr);
  EXPECT_EQ(MemError(), paramErr);
  Handle empty = NewHandle(0);
  ASSERT_NE(empty, nullptr);
  EXPECT_NE(*empty, nullptr);
  DisposeHandle(empty);
}

TEST(CoreFoundation, AttributeDictionaryIsFreedWithItsReceiver) {
  const CFIndex before = HostCFLiveObjectCount();
  CFMutableDictionaryRef d =
      CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
  CFMutableArrayRef a = CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
  const SInt32 v = 32;
  CFNumberRef n = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &v);
  CFArrayAppendValue(a, n);
  EXPECT_EQ(CFGetRetainCount(n), 2);
  CFRelease(n);
  CFDictionaryAddValue(d, kCVPixelBufferPixelFormatTypeKey, a);
  CFRelease(a);
  EXPECT_EQ(HostCFLiveObjectCount(), before + 3);
  // Looked up with an equal but distinct key.
  CFStringRef key = CFStringCreateWithCString(nullptr, "PixelFormatType", kCFStringEncodingUTF8);
  auto found = static_cast<CFArrayRef>(CFDictionaryGetValue(d, key));
  CFRelease(key);
  ASSERT_EQ(found, a);
  SInt32 got = 0;
  EXPECT_TRUE(CFNumberGetValue(static_cast<CFNumberRef>(CFArrayGetValueAtIndex(found, 0)), kCFNumberSInt32Type, &got));
  EXPECT_EQ(got, 32);
  CFRelease(d);
  EXPECT_EQ(HostCFLiveObjectCount(), before);
}

TEST(CoreFoundation, AddKeepsSetReplacesNumbersCheckRange) {
  const CFIndex before = HostCFLiveObjectCount();
  CFMutableDictionaryRef d =
      CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
  const SInt32 one = 1, two = 2;
  CFNumberRef n1 = CFNumberCreate(nullptr, kCFNumberSInt32Type, &one);
  CFNumberRef n2 = CFNumberCreate(nullptr, kCFNumberSInt32Type, &two);
  CFDictionaryAddValue(d, CFSTR("k"), n1);
  CFDictionaryAddValue(d, CFSTR("k"), n2);
  EXPECT_EQ(CFDictionaryGetValue(d, CFSTR("k")), n1);
  CFDictionarySetValue(d, CFSTR("k"), n2);
  EXPECT_EQ(CFDictionaryGetValue(d, CFSTR("k")), n2);
  EXPECT_EQ(CFGetRetainCount(n1), 1);  // the dictionary let go of it
  EXPECT_EQ(CFDictionaryGetCount(d), 1);
  CFRelease(n1);
  CFRelease(n2);
  CFRelease(d);
  EXPECT_EQ(CFSTR("same text"), CFSTR("same text"));

  const int64_t big = int64_t{1} << 40;
  CFNumberRef b = CFNumberCreate(nullptr, kCFNumberSInt64Type, &big);
  SInt32 small = 0;
  EXPECT_FALSE(CFNumberGetValue(b, kCFNumberSInt32Type, &small));
  int64_t back = 0;
  EXPECT_TRUE(CFNumberGetValue(b, kCFNumberSInt64Type, &back));
  EXPECT_EQ(back, big);
  CFNumberRef b2 = CFNumberCreate(nullptr, kCFNumberSInt64Type, &big);
  EXPECT_TRUE(CFEqual(b, b2));
  CFRelease(b);
  CFRelease(b2);
  EXPECT_EQ(HostCFLiveObjectCount(), before);
}

TEST(CoreFoundation, RetainReleaseFromManyThreads) {
  const SInt32 v = 7;
  CFNumberRef n = CFNumberCreate(nullptr, kCFNumberSInt32Type, &v);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([n] {
      for (int i = 0; i < 10000; ++i) {
        CFRetain(n);
        CFRelease(n);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(CFGetRetainCount(n), 1);
  CFRelease(n);
}

TEST(CoreVideo, PixelBuffersCheckTheirArgumentsAndLocks) {
  const CFIndex before = HostCFLiveObjectCount();
  CVPixelBufferRef pb = nullptr;
  EXPECT_EQ(HostCVPixelBufferCreate(8, 8, FOUR_CHAR_CODE('2', 'v', 'u', 'y'), 0, &pb), kCVReturnInvalidPixelFormat);
  EXPECT_EQ(HostCVPixelBufferCreate(0, 8, k32ARGBPixelFormat, 0, &pb), kCVReturnInvalidSize);
  EXPECT_EQ(HostCVPixelBufferCreate(8, 8, k32ARGBPixelFormat, 31, &pb), kCVReturnInvalidArgument);
  EXPECT_EQ(pb, nullptr);
  ASSERT_EQ(HostCVPixelBufferCreate(5, 3, k32ARGBPixelFormat, 0, &pb), kCVReturnSuccess);
  EXPECT_EQ(CVPixelBufferGetBytesPerRow(pb), 20u);
  EXPECT_EQ(CVPixelBufferGetBaseAddress(pb), nullptr);  // not locked
  EXPECT_EQ(CVPixelBufferUnlockBaseAddress(pb, 0), kCVReturnError);
  CVPixelBufferLockBaseAddress(pb, 0);
  CVPixelBufferLockBaseAddress(pb, 0);
  auto* p = static_cast<uint8_t*>(CVPixelBufferGetBaseAddress(pb));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 60; ++i) EXPECT_EQ(p[i], 0);
  p[59] = 1;  // the last byte is the buffer's
  CVPixelBufferUnlockBaseAddress(pb, 0);
  EXPECT_NE(CVPixelBufferGetBaseAddress(pb), nullptr);
  CVPixelBufferUnlockBaseAddress(pb, 0);
  EXPECT_EQ(HostCVPixelBufferGetLockCount(pb), 0);
  CVPixelBufferRetain(pb);
  CFRelease(pb);
  EXPECT_EQ(CVPixelBufferGetWidth(pb), 5u);
  CVPixelBufferRelease(pb);
  EXPECT_EQ(HostCFLiveObjectCount(), before);

  // Row alignment from attributes.
  CFMutableDictionaryRef attrs =
      CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
  const SInt32 align = 64;
  CFNumberRef n = CFNumberCreate(nullptr, kCFNumberSInt32Type, &align);
  CFDictionaryAddValue(attrs, kCVPixelBufferBytesPerRowAlignmentKey, n);
  CFRelease(n);
  ASSERT_EQ(CVPixelBufferCreate(nullptr, 5, 3, k32ARGBPixelFormat, attrs, &pb), kCVReturnSuccess);
  EXPECT_EQ(CVPixelBufferGetBytesPerRow(pb), 64u);
  CVPixelBufferRelease(pb);
  CFRelease(attrs);
  EXPECT_EQ(HostCFLiveObjectCount(), before);
}

TEST(CoreVideo, BuffersOverTheCallersPixelsGiveThemBack) {
  const CFIndex before = HostCFLiveObjectCount();
  alignas(16) uint8_t pixels[3 * 32] = {};
  pixels[40] = 7;
  struct Given {
    int calls = 0;
    const void* base = nullptr;
  } given;
  auto callback = [](void* refCon, const void* base) {
    auto* g = static_cast<Given*>(refCon);
    ++g->calls;
    g->base = base;
  };
  CVPixelBufferRef pb = nullptr;
  EXPECT_EQ(CVPixelBufferCreateWithBytes(nullptr, 8, 3, k32ARGBPixelFormat, pixels, 31, callback, &given, nullptr, &pb),
            kCVReturnInvalidArgument);
  EXPECT_EQ(CVPixelBufferCreateWithBytes(nullptr, 8, 3, k32ARGBPixelFormat, nullptr, 32, callback, &given, nullptr, &pb),
            kCVReturnInvalidArgument);
  EXPECT_EQ(pb, nullptr);
  ASSERT_EQ(CVPixelBufferCreateWithBytes(nullptr, 8, 3, k32ARGBPixelFormat, pixels, 32, callback, &given, nullptr, &pb),
            kCVReturnSuccess);
  EXPECT_EQ(CVPixelBufferGetBytesPerRow(pb), 32u);
  CVPixelBufferLockBaseAddress(pb, 0);
  auto* p = static_cast<uint8_t*>(CVPixelBufferGetBaseAddress(pb));
  EXPECT_EQ(p, pixels);
  EXPECT_EQ(p[40], 7);  // not cleared
  p[95] = 9;
  CVPixelBufferUnlockBaseAddress(pb, 0);
  CVPixelBufferRetain(pb);
  CVPixelBufferRelease(pb);
  EXPECT_EQ(given.calls, 0);
  CVPixelBufferRelease(pb);  // the last reference: the pixels go back, unfreed
  EXPECT_EQ(given.calls, 1);
  EXPECT_EQ(given.base, pixels);
  EXPECT_EQ(pixels[95], 9);
  EXPECT_EQ(HostCFLiveObjectCount(), before);

  // Without a callback the pixels simply stay the caller's.
  ASSERT_EQ(CVPixelBufferCreateWithBytes(nullptr, 8, 3, k32ARGBPixelFormat, pixels, 32, nullptr, nullptr, nullptr, &pb),
            kCVReturnSuccess);
  CVPixelBufferRelease(pb);
  EXPECT_EQ(HostCFLiveObjectCount(), before);
}
