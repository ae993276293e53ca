#include "component_test_util.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <cstring>
#include <random>

#include "MacMemory.h"
#include "testimage/ORXTestImage.h"

std::string UsePrivatePreferencesFolder() {
  static std::string folder = [] {
    char pattern[] = "/tmp/orx-prefs-XXXXXX";
    const char* made = mkdtemp(pattern);
    std::string f = made ? made : "/tmp";
    setenv("ORX_PREFERENCES_DIR", f.c_str(), 1);
    if (made) {
      std::atexit([] {
        const char* dir = std::getenv("ORX_PREFERENCES_DIR");
        if (dir == nullptr) return;
        std::remove((std::string(dir) + "/ORXPreferences.dat").c_str());
        rmdir(dir);
      });
    }
    return f;
  }();
  return folder;
}

std::string PreferencesFile() { return UsePrivatePreferencesFolder() + "/ORXPreferences.dat"; }

ComponentInstance OpenCompressor() {
  UsePrivatePreferencesFolder();
  ComponentInstance ci = nullptr;
  EXPECT_EQ(OpenADefaultComponent(compressorComponentType, FOUR_CHAR_CODE('O', 'R', 'X', 'V'), &ci), noErr);
  return ci;
}

ComponentResult SetSettings(ComponentInstance ci, int alpha, int gradients, int skipLZF, int32_t threads) {
  Handle h = NewHandleClear(12);
  std::memcpy(*h, "ORXC", 4);
  (*h)[4] = static_cast<char>(alpha);
  (*h)[5] = static_cast<char>(gradients);
  (*h)[6] = static_cast<char>(skipLZF);
  for (int i = 0; i < 4; ++i) (*h)[8 + i] = static_cast<char>(static_cast<uint32_t>(threads) >> (8 * i));
  const ComponentResult r = ImageCodecSetSettings(ci, h);
  DisposeHandle(h);
  return r;
}

std::vector<uint8_t> GetSettings(ComponentInstance ci) {
  Handle h = NewHandle(0);
  std::vector<uint8_t> out;
  if (ImageCodecGetSettings(ci, h) == noErr) out.assign(*h, *h + GetHandleSize(h));
  DisposeHandle(h);
  return out;
}

namespace {
OSStatus Collect(void* refCon, ICMCompressionSessionRef, OSStatus error, ICMEncodedFrameRef frame, void*) {
  auto* self = static_cast<CollectingSession*>(refCon);
  if (error != noErr) return error;
  EmittedFrame f;
  const auto* p = static_cast<const uint8_t*>(ICMEncodedFrameGetDataPtr(frame));
  f.bytes.assign(p, p + ICMEncodedFrameGetDataSize(frame));
  f.bufferSize = ICMEncodedFrameGetBufferSize(frame);
  f.flags = ICMEncodedFrameGetMediaSampleFlags(frame);
  f.type = ICMEncodedFrameGetFrameType(frame);
  self->frames.push_back(std::move(f));
  return noErr;
}
}  // namespace

OSStatus CollectingSession::Create(ComponentInstance ci, int width, int height) {
  ICMEncodedFrameOutputRecord out{Collect, this, nullptr};
  return HostICMCompressionSessionCreateWithCompressor(ci, width, height, FOUR_CHAR_CODE('O', 'R', 'X', 'V'), 600,
                                                       nullptr, &out, &session);
}

OSStatus CollectingSession::Encode(CVPixelBufferRef pixels) {
  return ICMCompressionSessionEncodeFrame(session, pixels, 0, 0, 0, nullptr, nullptr, nullptr);
}

CollectingSession::~CollectingSession() { ICMCompressionSessionRelease(session); }

CVPixelBufferRef MakePixelBuffer(int width, int height, const std::vector<uint8_t>& argb, size_t rowBytes) {
  CVPixelBufferRef pb = nullptr;
  if (HostCVPixelBufferCreate(width, height, k32ARGBPixelFormat, rowBytes, &pb) != kCVReturnSuccess) return nullptr;
  CVPixelBufferLockBaseAddress(pb, 0);
  auto* base = static_cast<uint8_t*>(CVPixelBufferGetBaseAddress(pb));
  const size_t stride = CVPixelBufferGetBytesPerRow(pb);
  for (int y = 0; y < height; ++y) std::memcpy(base + y * stride, argb.data() + static_cast<size_t>(y) * width * 4, width * 4);
  CVPixelBufferUnlockBaseAddress(pb, 0);
  return pb;
}

std::vector<uint8_t> NoiseARGB(int width, int height, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(static_cast<size_t>(width) * height * 4);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

std::vector<uint8_t> PictureARGB(int width, int height) {
  std::vector<uint8_t> v(static_cast<size_t>(width) * height * 4);
  ORXMakeTestImageARGB(v.data(), width, height, 0, 0);
  return v;
}
