// What the Linux and Windows builds exchange to show they write and read the
// same frames: the test picture (odd sizes, varying alpha) in every variant,
// frames large enough for several LZF chunks, and the file names in the
// exchange folder. Used by the Linux tool
// crossplatform_frames and the Windows component suite.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ImageCodec.h"
#include "MacMemory.h"
#include "core/Frames/ORXFrameEncode.h"
#include "testimage/ORXTestImage.h"

namespace crossplatform {

constexpr int kWidth = 150, kHeight = 86;  // neither a multiple of 4
constexpr int kGradientsDiscardedOffset = 25;  // the one header byte the builds write differently

struct Variant {
  const char* name;
  int alpha, gradients, skipLZF;
  int width = kWidth, height = kHeight;
};
inline constexpr Variant kVariants[] = {
    {"dxt24-lzf", 0, 1, 0},  {"dxt24", 0, 1, 1}, {"dxt1-lzf", 0, 0, 0}, {"dxt5-lzf", 1, 1, 0}, {"dxt5", 1, 1, 1},
    {"dxt5-perf", 1, 0, 0},
    // Block data of two LZF chunks (more than 32768 blocks).
    {"dxt24-lzf-chunked", 0, 1, 0, 1000, 600},
    {"dxt1-lzf-chunked", 0, 0, 0, 1030, 530},
    {"dxt5-lzf-chunked", 1, 1, 0, 1000, 600}};

inline std::vector<uint8_t> Picture(int w = kWidth, int h = kHeight) {
  std::vector<uint8_t> argb(static_cast<size_t>(w) * h * 4);
  ORXMakeTestImageARGB(argb.data(), w, h, 0, 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) argb[(static_cast<size_t>(y) * w + x) * 4] = static_cast<uint8_t>((x * 7 + y * 3) & 0xFF);
  return argb;
}
inline std::vector<uint8_t> Picture(const Variant& v) { return Picture(v.width, v.height); }

// The core's frame of the variant's picture with its blocks made smaller at
// level (strong: the most blocks re-chosen). The component has no level;
// the bytes must be the same on every build at whatever vector level runs.
constexpr int kReducedLevel = 3;
inline std::vector<uint8_t> EncodeReduced(const Variant& v) {
  ORXFrameChoices c;
  c.alpha = v.alpha != 0;
  c.dxt24 = ORXChoosesDXT24(c.alpha, v.gradients != 0);
  c.lzf = v.skipLZF == 0;
  c.reduce = kReducedLevel;
  const std::vector<uint8_t> argb = Picture(v);
  std::vector<uint8_t> frame(static_cast<size_t>(ORXFrameCapacity(v.width, v.height, c)));
  ORXEncodeScratch scratch{};
  const int64_t n = ORXEncodeFrame(argb.data(), v.width, v.height, int64_t{v.width} * 4, c, frame.data(),
                                   static_cast<int64_t>(frame.size()), &scratch);
  ORXFreeEncodeScratch(&scratch);
  frame.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return frame;
}

// "<folder>/<variant>.<build>.orx" holds a frame, ".argb" its decoded pixels
// (width x height, 4 bytes a pixel, A R G B).
inline std::string FileName(const std::string& folder, const Variant& v, const char* build, const char* kind) {
  return folder + "/" + v.name + "." + build + "." + kind;
}

inline bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

inline bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  bytes->clear();
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes->insert(bytes->end(), buffer, buffer + n);
  std::fclose(f);
  return true;
}

namespace detail {
inline OSStatus Keep(void* refCon, ICMCompressionSessionRef, OSStatus error, ICMEncodedFrameRef frame, void*) {
  if (error != noErr) return error;
  auto* out = static_cast<std::vector<uint8_t>*>(refCon);
  const auto* p = static_cast<const uint8_t*>(ICMEncodedFrameGetDataPtr(frame));
  out->assign(p, p + ICMEncodedFrameGetDataSize(frame));
  return noErr;
}
}  // namespace detail

// The variant's settings applied through a settings blob, over what the
// compressor has read from its stored preferences. threadSetting is the
// Threads popup's value (1 Max, 2 one thread, 3 two, ...).
inline ComponentResult ApplySettings(ComponentInstance ci, const Variant& v, int32_t threadSetting) {
  Rect one{0, 0, 1, 1};
  SInt32 size = 0;
  ImageCodecGetMaxCompressionSize(ci, nullptr, &one, 32, 0, &size);  // reads the stored preferences first
  Handle blob = NewHandleClear(12);
  if (blob == nullptr) return memFullErr;
  std::memcpy(*blob, "ORXC", 4);
  (*blob)[4] = static_cast<char>(v.alpha);
  (*blob)[5] = static_cast<char>(v.gradients);
  (*blob)[6] = static_cast<char>(v.skipLZF);
  for (int i = 0; i < 4; ++i) (*blob)[8 + i] = static_cast<char>(static_cast<uint32_t>(threadSetting) >> (8 * i));
  const ComponentResult r = ImageCodecSetSettings(ci, blob);
  DisposeHandle(blob);
  return r;
}

// One frame of argb (w x h) from the compressor with the variant's settings
// applied; empty on failure.
inline std::vector<uint8_t> Encode(const Variant& v, int w, int h, const std::vector<uint8_t>& argb,
                                   int32_t threadSetting) {
  std::vector<uint8_t> frame;
  ComponentInstance ci = nullptr;
  if (OpenADefaultComponent(compressorComponentType, FOUR_CHAR_CODE('O', 'R', 'X', 'V'), &ci) != noErr) return frame;
  const ComponentResult set = ApplySettings(ci, v, threadSetting);
  ICMCompressionSessionRef session = nullptr;
  ICMEncodedFrameOutputRecord out{detail::Keep, &frame, nullptr};
  CVPixelBufferRef pb = nullptr;
  if (set == noErr &&
      HostICMCompressionSessionCreateWithCompressor(ci, w, h, FOUR_CHAR_CODE('O', 'R', 'X', 'V'), 600, nullptr, &out,
                                                    &session) == noErr &&
      HostCVPixelBufferCreate(w, h, k32ARGBPixelFormat, 0, &pb) == kCVReturnSuccess) {
    CVPixelBufferLockBaseAddress(pb, 0);
    auto* base = static_cast<uint8_t*>(CVPixelBufferGetBaseAddress(pb));
    for (int y = 0; y < h; ++y)
      std::memcpy(base + y * CVPixelBufferGetBytesPerRow(pb), argb.data() + static_cast<size_t>(y) * w * 4, w * 4);
    CVPixelBufferUnlockBaseAddress(pb, 0);
    if (ICMCompressionSessionEncodeFrame(session, pb, 0, 0, 0, nullptr, nullptr, nullptr) != noErr) frame.clear();
  }
  if (pb) CVPixelBufferRelease(pb);
  ICMCompressionSessionRelease(session);
  CloseComponent(ci);
  return frame;
}

// A sample handed out through a data-loading procedure: each call copies
// the bytes asked for, from the position asked, into a fresh window.
struct PiecewiseSample {
  const std::vector<uint8_t>* frame = nullptr;
  std::vector<uint8_t> window;
  size_t base = 0;
};
inline PiecewiseSample*& CurrentPiecewiseSample() {
  static PiecewiseSample* sample = nullptr;  // the procedure's refcon is 32 bits: it names this one
  return sample;
}
inline OSErr PiecewiseProc(Ptr* dataP, SInt32 bytesNeeded, SInt32) {
  PiecewiseSample& s = *CurrentPiecewiseSample();
  const auto* p = reinterpret_cast<const uint8_t*>(*dataP);
  if (bytesNeeded < 0 || p < s.window.data() || p > s.window.data() + s.window.size()) return paramErr;
  const size_t at = s.base + static_cast<size_t>(p - s.window.data());
  if (at + static_cast<size_t>(bytesNeeded) > s.frame->size()) return eofErr;
  std::vector<uint8_t> next(s.frame->begin() + static_cast<std::ptrdiff_t>(at),
                            s.frame->begin() + static_cast<std::ptrdiff_t>(at + static_cast<size_t>(bytesNeeded)));
  s.window.swap(next);
  s.base = at;
  *dataP = reinterpret_cast<Ptr>(s.window.data());
  return noErr;
}

// A frame decoded through a decompression session: w x h ARGB pixels, or
// empty with *status set when the decompressor refuses it. firstBytes > 0:
// only that much of the sample is loaded and the decompressor reads the
// rest through a data-loading procedure.
inline std::vector<uint8_t> Decode(const std::vector<uint8_t>& frame, int w, int h, OSStatus* status,
                                   size_t firstBytes = 0) {
  std::vector<uint8_t> pixels;
  ImageDescriptionHandle desc =
      HostNewImageDescription(FOUR_CHAR_CODE('O', 'R', 'X', 'V'), static_cast<SInt16>(w), static_cast<SInt16>(h), "ORX");
  HostDecompressionSessionRef session = nullptr;
  CVPixelBufferRef dest = nullptr;
  OSStatus r = HostDecompressionSessionCreate(desc, &session);
  if (r == noErr) r = HostDecompressionSessionCreateDestination(session, &dest);
  PiecewiseSample piecewise;
  if (r == noErr && firstBytes > 0) {
    piecewise.frame = &frame;
    piecewise.window.assign(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(std::min(firstBytes, frame.size())));
    CurrentPiecewiseSample() = &piecewise;
    const ICMDataProcRecord proc{PiecewiseProc, 0};
    r = HostDecompressionSessionDecodeFrameWithDataProc(session, piecewise.window.data(),
                                                        static_cast<SInt32>(piecewise.window.size()), &proc, dest);
    CurrentPiecewiseSample() = nullptr;
  } else if (r == noErr) {
    r = HostDecompressionSessionDecodeFrame(session, frame.data(), static_cast<SInt32>(frame.size()), dest);
  }
  if (r == noErr) {
    CVPixelBufferLockBaseAddress(dest, 0);
    const auto* base = static_cast<const uint8_t*>(CVPixelBufferGetBaseAddress(dest));
    pixels.resize(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
      std::memcpy(pixels.data() + static_cast<size_t>(y) * w * 4, base + y * CVPixelBufferGetBytesPerRow(dest), w * 4);
    CVPixelBufferUnlockBaseAddress(dest, 0);
  }
  if (dest) CVPixelBufferRelease(dest);
  HostDecompressionSessionRelease(session);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  if (status) *status = r;
  return pixels;
}

// Frames of the two builds agree when they differ at most in the
// gradients-discarded byte.
inline bool SameFrameApartFromGradientsByte(std::vector<uint8_t> a, std::vector<uint8_t> b) {
  if (a.size() != b.size() || a.size() <= kGradientsDiscardedOffset) return false;
  a[kGradientsDiscardedOffset] = b[kGradientsDiscardedOffset] = 0;
  return a == b;
}

}  // namespace crossplatform
