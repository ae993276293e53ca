// 1920x1080 frames through a full host compression session for each choice
// (Quality, Performance, VovorEvaded, Quality with alpha) at "Threads" 1x and
// 2x, with the time the block encoder and the chunked LZF take on the same
// frame at the same thread count measured in the same run, so the report
// shows where a frame's time goes.
#include <benchmark/benchmark.h>
#include <lzf.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <chrono>
#include <cstring>
#include <vector>

#include "core/Blocks/DXT24.h"
#include "quicktime/Common/Pools/DXT24Pool.h"
#include "core/Blocks/DXTStandard.h"
#include "core/Frames/LZFChunks.h"
#include "ImageCodec.h"
#include "MacMemory.h"
#include "quicktime/Common/Component/ORXComponent.h"
#include "core/Format/ORXHeader.h"
#include "testimage/ORXTestImage.h"

namespace {

constexpr int kW = 1920, kH = 1080;

OSStatus Discard(void*, ICMCompressionSessionRef, OSStatus, ICMEncodedFrameRef, void*) { return noErr; }

double Seconds(const std::chrono::steady_clock::time_point& start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_SessionEncode(benchmark::State& state) {
  const int choice = static_cast<int>(state.range(0));  // 1 Quality, 2 Performance, 3 VovorEvaded, 4 Quality+alpha
  const int threads = static_cast<int>(state.range(1));  // 1 or 2: the "1x" and "2x" settings
  const int gradients = choice == 2 ? 0 : 1, skipLZF = choice == 3 ? 1 : 0, alpha = choice == 4 ? 1 : 0;
  char folder[] = "/tmp/orx-bench-XXXXXX";
  if (mkdtemp(folder) != nullptr) setenv("ORX_PREFERENCES_DIR", folder, 1);

  ComponentInstance ci = nullptr;
  if (OpenADefaultComponent(compressorComponentType, FOUR_CHAR_CODE('O', 'R', 'X', 'V'), &ci) != noErr) {
    state.SkipWithError("compressor not found");
    return;
  }
  Handle blob = NewHandleClear(12);
  std::memcpy(*blob, "ORXC", 4);
  (*blob)[5] = static_cast<char>(gradients);
  (*blob)[4] = static_cast<char>(alpha);
  (*blob)[6] = static_cast<char>(skipLZF);
  (*blob)[8] = static_cast<char>(threads + 1);  // Threads: 1x is choice 2, 2x choice 3
  ImageCodecSetSettings(ci, blob);
  DisposeHandle(blob);

  ICMEncodedFrameOutputRecord out{Discard, nullptr, nullptr};
  ICMCompressionSessionRef session = nullptr;
  HostICMCompressionSessionCreateWithCompressor(ci, kW, kH, FOUR_CHAR_CODE('O', 'R', 'X', 'V'), 600, nullptr, &out,
                                                &session);
  std::vector<uint8_t> picture(static_cast<size_t>(kW) * kH * 4);
  ORXMakeTestImageARGB(picture.data(), kW, kH, 0, 0);
  ORXAddGrainARGB(picture.data(), kW, kH, 0, 3, 1);
  CVPixelBufferRef pb = nullptr;
  HostCVPixelBufferCreate(kW, kH, k32ARGBPixelFormat, 0, &pb);
  CVPixelBufferLockBaseAddress(pb, 0);
  auto* base = static_cast<uint8_t*>(CVPixelBufferGetBaseAddress(pb));
  for (int y = 0; y < kH; ++y)
    std::memcpy(base + y * CVPixelBufferGetBytesPerRow(pb), picture.data() + static_cast<size_t>(y) * kW * 4, kW * 4);
  CVPixelBufferUnlockBaseAddress(pb, 0);

  const bool dxt24 = gradients != 0 && !alpha;
  const int64_t raw = CalculateORXBlockDataSize(kW, kH, alpha, dxt24);
  const int64_t chunk = ORXLZFChunkBytes(alpha, dxt24);
  std::vector<uint8_t> blocks(static_cast<size_t>(raw)), packed(static_cast<size_t>(raw));
  std::vector<uint64_t> scratch(static_cast<size_t>(ORXLZFScratchBytes(raw, chunk) / 8 + 1));

  double total = 0, blockTime = 0, lzfTime = 0;
  int64_t frames = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    ICMCompressionSessionEncodeFrame(session, pb, 0, 0, 0, nullptr, nullptr, nullptr);
    total += Seconds(t0);
    // The same frame's two big stages on their own.
    state.PauseTiming();
    t0 = std::chrono::steady_clock::now();
    if (dxt24)
      stbCompressARGB32_to24_threaded(threads, blocks.data(), picture.data(), kW, kH, kW * 4, 0);
    else
      stbCompressARGB32_threaded(threads, blocks.data(), picture.data(), kW, kH, kW * 4, alpha);
    blockTime += Seconds(t0);
    if (!skipLZF) {
      t0 = std::chrono::steady_clock::now();
      const ORXJobRunner pool = ORXEncodePoolRunner(threads);
      benchmark::DoNotOptimize(ORXPackLZF(&pool, blocks.data(), raw, chunk, packed.data(), raw,
                                          reinterpret_cast<unsigned char*>(scratch.data())));
      lzfTime += Seconds(t0);
    }
    state.ResumeTiming();
    ++frames;
  }
  state.counters["fps"] = frames / total;
  state.counters["block%"] = 100 * blockTime / total;
  state.counters["lzf%"] = 100 * lzfTime / total;
  state.counters["other%"] = 100 * (total - blockTime - lzfTime) / total;
  state.SetLabel(std::string(choice == 1 ? "Quality" : choice == 2 ? "Performance" : choice == 3 ? "VovorEvaded" : "Quality+alpha") +
                 (threads == 1 ? " 1x" : " 2x"));
  CVPixelBufferRelease(pb);
  ICMCompressionSessionRelease(session);
  CloseComponent(ci);
  std::remove((std::string(folder) + "/ORXPreferences.dat").c_str());
  rmdir(folder);
}
BENCHMARK(BM_SessionEncode)
    ->ArgNames({"optimize", "threads"})
    ->ArgsProduct({{1, 2, 3, 4}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
