// orx-roundtrip: encodes a built-in test picture to DXT24 on the worker pool,
// decodes it back, writes both as BMP files and reports sizes, times and PSNR.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "DXT24.h"
#include "DXT24Decoder.h"
#include "ORXHeader.h"
#include "ORXTestImage.h"
#include "ORXTimer.h"
#include "PixelUtilities.h"

namespace {

void Usage(FILE* out) {
  std::fprintf(out,
               "usage: orx-roundtrip [options]\n"
               "Encodes a built-in test picture to DXT24 blocks on the worker pool, decodes it\n"
               "back, writes source.bmp and decoded.bmp and prints sizes, times and PSNR.\n\n"
               "  --width N      picture width in pixels (default 1920)\n"
               "  --height N     picture height in pixels (default 1080)\n"
               "  --threads N    encoder threads, 1 to 32 (default: processor count)\n"
               "  --out DIR      folder for the bitmap files (default: current folder)\n"
               "  --help         show this text\n");
}

bool ParseInt(const char* text, int lo, int hi, int* value) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < lo || v > hi) return false;
  *value = static_cast<int>(v);
  return true;
}

// ARGB to BGRA for the bitmap writer.
std::vector<uint8_t> ToBGRA(const uint8_t* argb, int width, int height, int rowBytes) {
  std::vector<uint8_t> out(static_cast<size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    const uint8_t* s = argb + static_cast<size_t>(y) * rowBytes;
    uint8_t* d = out.data() + static_cast<size_t>(y) * width * 4;
    for (int x = 0; x < width; ++x) {
      d[4 * x + 0] = s[4 * x + 3];
      d[4 * x + 1] = s[4 * x + 2];
      d[4 * x + 2] = s[4 * x + 1];
      d[4 * x + 3] = s[4 * x + 0];
    }
  }
  return out;
}

bool WriteImage(const std::string& path, const uint8_t* argb, int width, int height, int rowBytes) {
  std::remove(path.c_str());  // replace an earlier run's file rather than numbering a new one
  const std::vector<uint8_t> bgra = ToBGRA(argb, width, height, rowBytes);
  char used[1024];
  if (WriteUInt8Bitmap32BGRA(bgra.data(), width, height, path.c_str(), used) != 0) {
    std::fprintf(stderr, "orx-roundtrip: %s: cannot write the bitmap file\n", path.c_str());
    return false;
  }
  std::printf("wrote %s\n", used);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int width = 1920, height = 1080;
  int threads = static_cast<int>(std::thread::hardware_concurrency());
  if (threads < 1) threads = 1;
  std::string outDir = ".";

  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    auto needValue = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "orx-roundtrip: %s needs a value\n", name);
        std::exit(2);
      }
      return argv[++i];
    };
    if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
      Usage(stdout);
      return 0;
    } else if (!std::strcmp(arg, "--width")) {
      if (!ParseInt(needValue(arg), 1, 16384, &width)) {
        std::fprintf(stderr, "orx-roundtrip: --width must be 1 to 16384\n");
        return 2;
      }
    } else if (!std::strcmp(arg, "--height")) {
      if (!ParseInt(needValue(arg), 1, 16384, &height)) {
        std::fprintf(stderr, "orx-roundtrip: --height must be 1 to 16384\n");
        return 2;
      }
    } else if (!std::strcmp(arg, "--threads")) {
      if (!ParseInt(needValue(arg), 1, 32, &threads)) {
        std::fprintf(stderr, "orx-roundtrip: --threads must be 1 to 32\n");
        return 2;
      }
    } else if (!std::strcmp(arg, "--out")) {
      outDir = needValue(arg);
    } else {
      std::fprintf(stderr, "orx-roundtrip: unknown option '%s' (see --help)\n", arg);
      return 2;
    }
  }

  const int rowBytes = width * 4;
  const int w4 = (width + 3) / 4 * 4, h4 = (height + 3) / 4 * 4;
  std::vector<uint8_t> source(static_cast<size_t>(rowBytes) * height);
  ORXMakeTestImageARGB(source.data(), width, height, rowBytes, 0);

  const int64_t blockBytes = CalculateORXBlockDataSize(width, height, false, true);
  std::vector<uint8_t> blocks(static_cast<size_t>(blockBytes));

  // First call starts the pool; time a second one.
  stbCompressARGB32_to24_threaded(threads, blocks.data(), source.data(), width, height, rowBytes, 0);
  ORXTimer timer;
  stbCompressARGB32_to24_threaded(threads, blocks.data(), source.data(), width, height, rowBytes, 0);
  const double encodeSeconds = timer.GetElapsedTime();

  // The decoder writes whole blocks: the destination is extended to W4 x H4.
  const int destRowBytes = w4 * 4;
  std::vector<uint8_t> decoded(static_cast<size_t>(destRowBytes) * h4);
  DecodeDXT24(blocks.data(), decoded.data(), width, height, destRowBytes);
  timer.ResetTimer();
  DecodeDXT24(blocks.data(), decoded.data(), width, height, destRowBytes);
  const double decodeSeconds = timer.GetElapsedTime();

  const double psnr = ORXPSNR_ARGB(source.data(), rowBytes, decoded.data(), destRowBytes, width, height);
  const double mpix = static_cast<double>(width) * height / 1e6;

  std::printf("picture        %d x %d, %.2f Mpixel\n", width, height, mpix);
  std::printf("source size    %zu bytes (32-bit ARGB)\n", source.size());
  std::printf("DXT24 blocks   %lld bytes, frame at most %lld bytes (%.2f : 1)\n",
              static_cast<long long>(blockBytes),
              static_cast<long long>(CalculateMaxORXDataSize(width, height, false, true)),
              static_cast<double>(source.size()) / static_cast<double>(blockBytes));
  std::printf("encode         %.2f ms on %d thread(s), %.1f Mpixel/s\n", encodeSeconds * 1e3, threads,
              mpix / encodeSeconds);
  std::printf("decode         %.2f ms, %.1f Mpixel/s\n", decodeSeconds * 1e3, mpix / decodeSeconds);
  std::printf("PSNR           %.2f dB\n", psnr);

  bool ok = WriteImage(outDir + "/source.bmp", source.data(), width, height, rowBytes);
  ok = WriteImage(outDir + "/decoded.bmp", decoded.data(), width, height, destRowBytes) && ok;
  return ok ? 0 : 1;
}
