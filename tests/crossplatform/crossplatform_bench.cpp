// The same benchmark for both builds: 1920x1080 (or --size WxH) frames of
// the grain picture encoded and decoded through the components, per variant
// and thread setting, in frames per second of codec time. Built for Linux
// (against the host library) and for Windows (against the stand-in
// QuickTime.qts, run under Wine), so the two builds' figures come from one
// program and can be put side by side as ratios.
#include <chrono>
#include <fstream>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CrossPlatformFrames.h"

using namespace crossplatform;

namespace {

struct Row {
  const char* name;
  Variant variant;
};
const Row kRows[] = {{"Quality (DXT24+LZF)", {"q", 0, 1, 0}},
                     {"Performance (DXT1+LZF)", {"p", 0, 0, 0}},
                     {"VovorEvaded (DXT24)", {"v", 0, 1, 1}},
                     {"Quality+alpha (DXT5+LZF)", {"a", 1, 1, 0}}};

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

OSStatus KeepLast(void* refCon, ICMCompressionSessionRef, OSStatus error, ICMEncodedFrameRef frame, void*) {
  if (error != noErr) return error;
  auto* out = static_cast<std::vector<uint8_t>*>(refCon);
  const auto* p = static_cast<const uint8_t*>(ICMEncodedFrameGetDataPtr(frame));
  out->assign(p, p + ICMEncodedFrameGetDataSize(frame));
  return noErr;
}

// Encodes frames (cycling the pictures) in one session: seconds in the
// encode calls, and the last frame.
bool TimeEncode(const Variant& v, int32_t threadSetting, int w, int h, const std::vector<CVPixelBufferRef>& pictures,
                int frames, double* seconds, std::vector<uint8_t>* last) {
  ComponentInstance ci = nullptr;
  if (OpenADefaultComponent(compressorComponentType, FOUR_CHAR_CODE('O', 'R', 'X', 'V'), &ci) != noErr) return false;
  bool ok = ApplySettings(ci, v, threadSetting) == noErr;
  ICMCompressionSessionRef session = nullptr;
  ICMEncodedFrameOutputRecord out{KeepLast, last, nullptr};
  ok = ok && HostICMCompressionSessionCreateWithCompressor(ci, w, h, FOUR_CHAR_CODE('O', 'R', 'X', 'V'), 600, nullptr,
                                                           &out, &session) == noErr;
  *seconds = 0;
  for (int i = 0; ok && i < frames; ++i) {
    const auto start = std::chrono::steady_clock::now();
    ok = ICMCompressionSessionEncodeFrame(session, pictures[static_cast<size_t>(i) % pictures.size()], i * 20, 20, 0,
                                          nullptr, nullptr, nullptr) == noErr;
    *seconds += Seconds(std::chrono::steady_clock::now() - start);
  }
  ICMCompressionSessionRelease(session);
  CloseComponent(ci);
  return ok && !last->empty();
}

bool TimeDecode(const std::vector<uint8_t>& frame, int w, int h, int frames, double* seconds) {
  ImageDescriptionHandle desc =
      HostNewImageDescription(FOUR_CHAR_CODE('O', 'R', 'X', 'V'), static_cast<SInt16>(w), static_cast<SInt16>(h), "ORX");
  HostDecompressionSessionRef session = nullptr;
  CVPixelBufferRef dest = nullptr;
  bool ok = HostDecompressionSessionCreate(desc, &session) == noErr &&
            HostDecompressionSessionCreateDestination(session, &dest) == noErr;
  // The first frame of a size sets up the graphics road: not timed.
  ok = ok && HostDecompressionSessionDecodeFrame(session, frame.data(), static_cast<SInt32>(frame.size()), dest) == noErr;
  *seconds = 0;
  for (int i = 0; ok && i < frames; ++i) {
    const auto start = std::chrono::steady_clock::now();
    ok = HostDecompressionSessionDecodeFrame(session, frame.data(), static_cast<SInt32>(frame.size()), dest) == noErr;
    *seconds += Seconds(std::chrono::steady_clock::now() - start);
  }
  if (dest) CVPixelBufferRelease(dest);
  HostDecompressionSessionRelease(session);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  return ok;
}

// Resident and peak resident memory of this process in bytes (Linux; 0
// where the system does not say).
void MemoryNow(double* resident, double* peak) {
  *resident = *peak = 0;
  std::ifstream status("/proc/self/status");
  std::string key;
  double kb = 0;
  while (status >> key) {
    if (key == "VmRSS:" && status >> kb) *resident = kb * 1024;
    if (key == "VmHWM:" && status >> kb) *peak = kb * 1024;
  }
}

}  // namespace

int main(int argc, char** argv) {
  int w = 1920, h = 1080, frames = 5, only = -1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("usage: %s [--size WxH] [--frames N] [--only ROW]\n"
                  "Encodes and decodes N frames (default 5) of a WxH (default 1920x1080) picture\n"
                  "per variant at 1 and 2 threads and prints frames per second. --only ROW runs\n"
                  "one variant (0 Quality, 1 Performance, 2 VovorEvaded, 3 Quality+alpha) with\n"
                  "one picture and reports the peak memory above the source in frame sizes.\n",
                  argv[0]);
      return 0;
    }
    if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc && std::sscanf(argv[i + 1], "%dx%d", &w, &h) == 2 &&
        w > 0 && h > 0 && w <= 8192 && h <= 8192) {
      ++i;
    } else if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc && (frames = std::atoi(argv[i + 1])) > 0) {
      ++i;
    } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc && (only = std::atoi(argv[i + 1])) >= 0 &&
               only < static_cast<int>(std::size(kRows))) {
      ++i;
    } else {
      std::fprintf(stderr, "%s: unknown or bad argument \"%s\" (see --help)\n", argv[0], argv[i]);
      return 2;
    }
  }
  std::vector<CVPixelBufferRef> pictures;
  for (int i = 0; i < (only >= 0 ? 1 : 3); ++i) {
    CVPixelBufferRef pb = nullptr;
    if (HostCVPixelBufferCreate(w, h, k32ARGBPixelFormat, 0, &pb) != kCVReturnSuccess) {
      std::fprintf(stderr, "%s: no memory for a %dx%d picture\n", argv[0], w, h);
      return 1;
    }
    CVPixelBufferLockBaseAddress(pb, 0);
    auto* base = static_cast<uint8_t*>(CVPixelBufferGetBaseAddress(pb));
    const int rowBytes = static_cast<int>(CVPixelBufferGetBytesPerRow(pb));
    ORXMakeTestImageARGB(base, w, h, rowBytes, i * 3);
    ORXAddGrainARGB(base, w, h, rowBytes, 3, static_cast<uint32_t>(i + 1));
    CVPixelBufferUnlockBaseAddress(pb, 0);
    pictures.push_back(pb);
  }
  std::printf("%dx%d, %d frames a row\n%-26s %7s %9s %9s %10s\n", w, h, frames, "variant", "threads", "enc fps",
              "dec fps", "frame KB");
  double baseResident = 0, basePeak = 0;
  MemoryNow(&baseResident, &basePeak);
  int failures = 0;
  for (int r = 0; r < static_cast<int>(std::size(kRows)); ++r)
    for (int threads : {1, 2}) {
      const Row& row = kRows[r];
      if (only >= 0 && r != only) continue;
      double enc = 0, dec = 0;
      std::vector<uint8_t> frame;
      // The Threads popup's values: 2 is one thread, 3 two.
      if (!TimeEncode(row.variant, threads + 1, w, h, pictures, frames, &enc, &frame) ||
          !TimeDecode(frame, w, h, frames, &dec)) {
        std::printf("%-26s %7d   failed\n", row.name, threads);
        ++failures;
        continue;
      }
      std::printf("%-26s %7d %9.1f %9.1f %10.0f\n", row.name, threads, frames / enc, frames / dec,
                  frame.size() / 1024.0);
    }
  if (only >= 0 && baseResident > 0) {
    double resident = 0, peak = 0;
    MemoryNow(&resident, &peak);
    const double frameBytes = 4.0 * w * h;
    std::printf("peak memory above the source: %.1f MB = %.2f frames of %.1f MB\n", (peak - baseResident) / 1e6,
                (peak - baseResident) / frameBytes, frameBytes / 1e6);
  }
  for (CVPixelBufferRef pb : pictures) CVPixelBufferRelease(pb);
  return failures == 0 ? 0 : 1;
}
