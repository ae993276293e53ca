// The size/quality trade-off on real pictures: every variant at every level
// of block reduction, encoded through the frame road on one thread (so the
// speeds compare the work, not the cores), decoded back on one thread.
// For each it prints the bytes against level off, PSNR over all frames and
// of the worst frame, and encode and decode speed against level off.
//
//   orx-bench-reduce [--variants dxt1,dxt5,dxt24] [--levels 0,1,2,3] FRAME.png...
//   orx-bench-reduce [...] --test-clip N     the built-in clip's first N frames
//   --repeat N   encode and decode each frame N times and count the fastest
//                of each (steadier figures on a busy machine)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ImageIO.h"
#include "TestClip.h"
#include "core/Format/ORXFormat.h"
#include "core/Frames/LZFReduce.h"
#include "core/Frames/ORXFrameDecode.h"
#include "core/Frames/ORXFrameEncode.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Variant {
  const char* name;
  bool alpha, dxt24;
};

struct Result {
  uint64_t bytes = 0;
  double sse = 0, samples = 0, worst = 1e9, encodeSeconds = 0, decodeSeconds = 0;
  int raw = 0;  // frames stored raw
};

double Psnr(double sse, double samples) { return sse <= 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * samples / sse); }

Result Run(const std::vector<orxapp::ImageARGB>& frames, const Variant& v, int level, int repeat) {
  Result r;
  ORXFrameChoices c;
  c.alpha = v.alpha;
  c.dxt24 = v.dxt24;
  c.reduce = level;
  ORXEncodeScratch es{};
  ORXDecodeScratch ds{};
  for (const orxapp::ImageARGB& f : frames) {
    const int w = f.width, h = f.height;
    std::vector<unsigned char> frame(size_t(ORXFrameCapacity(w, h, c)));
    int64_t size = 0;
    double fastest = 1e30;
    for (int k = 0; k < repeat; ++k) {
      const Clock::time_point t0 = Clock::now();
      size = ORXEncodeFrame(f.pixels.data(), w, h, int64_t(w) * 4, c, frame.data(), int64_t(frame.size()), &es);
      fastest = std::min(fastest, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    r.encodeSeconds += fastest;
    if (size <= 0) {
      std::fprintf(stderr, "orx-bench-reduce: encoding failed\n");
      std::exit(1);
    }
    r.bytes += uint64_t(size);
    r.raw += frame[6] == 1 ? 0 : 1;
    // DXT24 decodes whole blocks: the picture padded to multiples of 4.
    const int pw = (w + 3) / 4 * 4, ph = (h + 3) / 4 * 4;
    std::vector<unsigned char> out(size_t(pw) * size_t(ph) * 4);
    fastest = 1e30;
    for (int k = 0; k < repeat; ++k) {
      const Clock::time_point t1 = Clock::now();
      if (ORXDecodeFrameOnProcessor(frame.data(), size, w, h, &ds, out.data(), pw * 4) != ORXStatus::ok) {
        std::fprintf(stderr, "orx-bench-reduce: decoding failed\n");
        std::exit(1);
      }
      fastest = std::min(fastest, std::chrono::duration<double>(Clock::now() - t1).count());
    }
    r.decodeSeconds += fastest;
    double sse = 0;
    const int channels = v.alpha ? 4 : 3;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int k = v.alpha ? 0 : 1; k < 4; ++k) {
          const double d = double(out[(size_t(y) * pw + x) * 4 + k]) - f.pixels[(size_t(y) * w + x) * 4 + k];
          sse += d * d;
        }
    const double samples = double(w) * h * channels;
    r.sse += sse;
    r.samples += samples;
    r.worst = std::min(r.worst, Psnr(sse, samples));
  }
  ORXFreeEncodeScratch(&es);
  ORXFreeDecodeScratch(&ds);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  std::string variants = "dxt1,dxt5,dxt24", levels = "0,1,2,3";
  int clipFrames = 0, repeat = 1;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--variants") && i + 1 < argc) variants = argv[++i];
    else if (!std::strcmp(argv[i], "--levels") && i + 1 < argc) levels = argv[++i];
    else if (!std::strcmp(argv[i], "--test-clip") && i + 1 < argc) clipFrames = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--repeat") && i + 1 < argc) repeat = std::max(1, std::atoi(argv[++i]));
    else if (argv[i][0] == '-') {
      std::fprintf(stderr, "usage: orx-bench-reduce [--variants dxt1,dxt5,dxt24] [--levels 0,1,2,3] [--repeat N] FRAME.png...\n");
      return 2;
    } else files.push_back(argv[i]);
  }
  if (files.empty() && clipFrames <= 0) {
    std::fprintf(stderr, "orx-bench-reduce: no frames (PNG files, or --test-clip N)\n");
    return 2;
  }
  std::vector<orxapp::ImageARGB> frames(files.size());
  for (int i = 0; i < clipFrames; ++i) {
    frames.emplace_back();
    orxapp::MakeTestClipFrame(&frames.back(), orxapp::kTestClipWidth, orxapp::kTestClipHeight, i);
  }
  for (size_t i = 0; i < files.size(); ++i) {
    std::string err;
    if (!orxapp::ReadPNG(files[i], &frames[i], &err)) {
      std::fprintf(stderr, "orx-bench-reduce: %s: %s\n", files[i].c_str(), err.c_str());
      return 1;
    }
  }
  const Variant all[] = {{"dxt1", false, false}, {"dxt5", true, false}, {"dxt24", false, true}};
  std::printf("%zu frames of %dx%d; one thread\n", frames.size(), frames[0].width, frames[0].height);
  std::printf("%-6s %-6s %12s %7s %9s %9s %8s %9s %8s %6s\n", "blocks", "level", "bytes", "size", "PSNR dB",
              "worst dB", "encode", "ms/frame", "decode", "raw");
  for (const Variant& v : all) {
    if (variants.find(v.name) == std::string::npos) continue;
    Result off;
    for (int level = 0; level < kORXReduceLevels; ++level) {
      if (level > 0 && levels.find(char('0' + level)) == std::string::npos) continue;
      const Result r = Run(frames, v, level, repeat);
      if (level == 0) off = r;
      static const char* const kNames[] = {"off", "light", "medium", "strong"};
      std::printf("%-6s %-6s %12llu %6.1f%% %9.2f %9.2f %7.2fx %9.1f %7.2fx %6d\n", v.name, kNames[level],
                  (unsigned long long)r.bytes, 100.0 * double(r.bytes) / double(off.bytes), Psnr(r.sse, r.samples),
                  r.worst, off.encodeSeconds / r.encodeSeconds, 1000 * r.encodeSeconds / double(frames.size()),
                  off.decodeSeconds / r.decodeSeconds, r.raw);
      std::fflush(stdout);
    }
  }
  return 0;
}
