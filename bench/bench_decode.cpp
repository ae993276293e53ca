// 1920x1080 frames decoded through the decompressor component for each
// variant (DXT1 and DXT5 on the graphics road and on the processor road,
// DXT24), with the LZF stage of the same frame timed on its own and a copy
// of one output frame as the reference, in the same run; and many streams
// decoding at once.
#include <benchmark/benchmark.h>
#include <lzf.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/Format/ORXHeader.h"
#include "ImageCodec.h"
#include "MacMemory.h"
#include "testimage/ORXTestImage.h"

namespace {

constexpr int kW = 1920, kH = 1080;
constexpr OSType kORXV = FOUR_CHAR_CODE('O', 'R', 'X', 'V');

OSStatus Keep(void* refCon, ICMCompressionSessionRef, OSStatus, ICMEncodedFrameRef frame, void*) {
  auto* out = static_cast<std::vector<uint8_t>*>(refCon);
  const auto* p = static_cast<const uint8_t*>(ICMEncodedFrameGetDataPtr(frame));
  out->assign(p, p + ICMEncodedFrameGetDataSize(frame));
  return noErr;
}

// One frame of the grained test picture, encoded by the compressor.
std::vector<uint8_t> EncodeFrame(int alpha, int gradients) {
  std::vector<uint8_t> frame;
  ComponentInstance ci = nullptr;
  if (OpenADefaultComponent(compressorComponentType, kORXV, &ci) != noErr) return frame;
  Handle blob = NewHandleClear(12);
  std::memcpy(*blob, "ORXC", 4);
  (*blob)[4] = static_cast<char>(alpha);
  (*blob)[5] = static_cast<char>(gradients);
  (*blob)[8] = 1;
  ImageCodecSetSettings(ci, blob);
  DisposeHandle(blob);
  ICMEncodedFrameOutputRecord out{Keep, &frame, nullptr};
  ICMCompressionSessionRef session = nullptr;
  if (HostICMCompressionSessionCreateWithCompressor(ci, kW, kH, kORXV, 600, nullptr, &out, &session) == noErr) {
    std::vector<uint8_t> argb(static_cast<size_t>(kW) * kH * 4);
    ORXMakeTestImageARGB(argb.data(), kW, kH, 0, 0);
    ORXAddGrainARGB(argb.data(), kW, kH, 0, 3, 1);
    CVPixelBufferRef pb = nullptr;
    HostCVPixelBufferCreate(kW, kH, k32ARGBPixelFormat, 0, &pb);
    CVPixelBufferLockBaseAddress(pb, 0);
    std::memcpy(CVPixelBufferGetBaseAddress(pb), argb.data(), argb.size());
    CVPixelBufferUnlockBaseAddress(pb, 0);
    ICMCompressionSessionEncodeFrame(session, pb, 0, 0, 0, nullptr, nullptr, nullptr);
    CVPixelBufferRelease(pb);
    ICMCompressionSessionRelease(session);
  }
  CloseComponent(ci);
  return frame;
}

// A preferences folder of the benchmark's own, removed on every way out, and
// a frame of the variant (0 DXT1, 1 DXT5, 2 DXT24) encoded with it.
struct BenchFrame {
  char folder[32] = "/tmp/orx-bench-XXXXXX";
  std::vector<uint8_t> frame;
  explicit BenchFrame(int variant) {
    if (mkdtemp(folder) != nullptr) setenv("ORX_PREFERENCES_DIR", folder, 1);
    frame = EncodeFrame(variant == 1, variant == 2);
  }
  ~BenchFrame() {
    std::remove((std::string(folder) + "/ORXPreferences.dat").c_str());
    rmdir(folder);
  }
};

void BM_Decode(benchmark::State& state) {
  const int variant = static_cast<int>(state.range(0));  // 0 DXT1, 1 DXT5, 2 DXT24
  const bool processorRoad = state.range(1) != 0;
  const BenchFrame bench(variant);
  const std::vector<uint8_t>& frame = bench.frame;
  if (frame.empty()) {
    state.SkipWithError("no frame");
    return;
  }
  setenv(processorRoad ? "ORX_DISABLE_GL" : "ORX_FORCE_GL", "1", 1);
  ImageDescriptionHandle desc = HostNewImageDescription(kORXV, kW, kH, "ORX");
  HostDecompressionSessionRef session = nullptr;
  CVPixelBufferRef dest = nullptr;
  HostDecompressionSessionCreate(desc, &session);
  HostDecompressionSessionCreateDestination(session, &dest);
  HostDecompressionSessionDecodeFrame(session, frame.data(), static_cast<SInt32>(frame.size()), dest);  // warm up

  const ORXHeader h = ReadORXHeader(frame.data());
  std::vector<uint8_t> raw(static_cast<size_t>(CalculateORXBlockDataSize(kW, kH, h.hasAlpha, h.isDXT24 == 1)));
  std::vector<uint8_t> pixels(static_cast<size_t>(kW) * kH * 4), copy(pixels.size());
  double lzf = 0, memcpyTime = 0;
  for (auto _ : state) {
    HostDecompressionSessionDecodeFrame(session, frame.data(), static_cast<SInt32>(frame.size()), dest);
    state.PauseTiming();
    auto t0 = std::chrono::steady_clock::now();
    if (h.isLZF == 1)
      benchmark::DoNotOptimize(lzf_decompress(frame.data() + h.headerSize, static_cast<unsigned>(h.dataSize), raw.data(),
                                              static_cast<unsigned>(raw.size())));
    lzf += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    t0 = std::chrono::steady_clock::now();
    std::memcpy(copy.data(), pixels.data(), pixels.size());
    benchmark::ClobberMemory();
    memcpyTime += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.ResumeTiming();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["lzf_ms"] = 1e3 * lzf / n;
  state.counters["memcpy_ms"] = 1e3 * memcpyTime / n;
  state.SetLabel(std::string(variant == 0 ? "DXT1" : variant == 1 ? "DXT5" : "DXT24") +
                 (variant == 2 ? "" : processorRoad ? " processor" : " graphics"));
  unsetenv("ORX_DISABLE_GL");
  unsetenv("ORX_FORCE_GL");
  CVPixelBufferRelease(dest);
  HostDecompressionSessionRelease(session);
  DisposeHandle(reinterpret_cast<Handle>(desc));
}
BENCHMARK(BM_Decode)
    ->ArgNames({"variant", "cpu"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({2, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Many streams at once, as a media server layers clips: N decompressor
// instances on N threads, each decoding its own 1080p frame (the variant's,
// encoded once per stream with a different grain) 30 times on the default
// road and pool. Reports the aggregate frames a second and the worst single
// frame time of any stream.
void BM_Streams(benchmark::State& state) {
  const int variant = static_cast<int>(state.range(0));  // 0 DXT1, 1 DXT5, 2 DXT24
  const int streams = static_cast<int>(state.range(1));
  const bool pool = state.range(2) != 0;  // off: each frame on its stream's thread
  constexpr int kFrames = 30;
  if (pool)
    unsetenv("ORX_DECODE_POOL");
  else
    setenv("ORX_DECODE_POOL", "0", 1);
  const BenchFrame bench(variant);
  const std::vector<uint8_t>& frame = bench.frame;
  if (frame.empty()) {
    state.SkipWithError("no frame");
    return;
  }
  struct Stream {
    HostDecompressionSessionRef session = nullptr;
    CVPixelBufferRef dest = nullptr;
    double worst = 0;
  };
  std::vector<Stream> all(static_cast<size_t>(streams));
  ImageDescriptionHandle desc = HostNewImageDescription(kORXV, kW, kH, "ORX");
  for (Stream& st : all) {
    HostDecompressionSessionCreate(desc, &st.session);
    HostDecompressionSessionCreateDestination(st.session, &st.dest);
    HostDecompressionSessionDecodeFrame(st.session, frame.data(), static_cast<SInt32>(frame.size()), st.dest);
  }
  double worst = 0;
  for (auto _ : state) {
    std::vector<std::thread> threads;
    for (Stream& st : all)
      threads.emplace_back([&frame, &st] {
        for (int i = 0; i < kFrames; ++i) {
          const auto t0 = std::chrono::steady_clock::now();
          HostDecompressionSessionDecodeFrame(st.session, frame.data(), static_cast<SInt32>(frame.size()), st.dest);
          st.worst = std::max(st.worst, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        }
      });
    for (auto& t : threads) t.join();
  }
  for (Stream& st : all) {
    worst = std::max(worst, st.worst);
    CVPixelBufferRelease(st.dest);
    HostDecompressionSessionRelease(st.session);
  }
  state.counters["fps"] = benchmark::Counter(double(streams) * kFrames, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["worst_ms"] = 1e3 * worst;
  state.SetLabel(std::string(variant == 0 ? "DXT1" : variant == 1 ? "DXT5" : "DXT24") + " x" +
                 std::to_string(streams) + (pool ? "" : " pool off"));
  unsetenv("ORX_DECODE_POOL");
  DisposeHandle(reinterpret_cast<Handle>(desc));
}
BENCHMARK(BM_Streams)
    ->ArgNames({"variant", "streams", "pool"})
    ->ArgsProduct({{0, 1, 2}, {1, 2, 4, 8}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
