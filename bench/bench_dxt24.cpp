// DXT24 and DXT1/DXT5 encode and DXT24 decode speed on a 1920x1080 test
// frame, with the stb_dxt block encoder and a plain frame copy as reference
// points.
#include <benchmark/benchmark.h>
#include <lzf.h>
#include <stb_dxt.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/Blocks/DXT24.h"
#include "quicktime/Common/Pools/DXT24Pool.h"
#include "core/Blocks/DXT24Decoder.h"
#include "core/Blocks/DXT24Simd.h"
#include "core/Blocks/DXTDecoder.h"
#include "core/Blocks/DXTSimd.h"
#include "core/Frames/LZFChunks.h"
#include "core/Format/ORXHeader.h"
#include "testimage/ORXTestImage.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int64_t kPixels = int64_t{kWidth} * kHeight;
constexpr int kRowBytes = 4 * kWidth;

// Picture 0: the synthetic test picture (flat sky, flat shapes: many
// constant blocks in the upper half). Picture 1: the same with camera-like
// grain of +-3 levels, as footage from a sensor has.
const std::vector<uint8_t>& TestFrame(int picture = 0) {
  static const std::vector<uint8_t> frames[2] = {[] {
                                                   std::vector<uint8_t> f(static_cast<size_t>(kPixels) * 4);
                                                   ORXMakeTestImageARGB(f.data(), kWidth, kHeight, 0, 0);
                                                   return f;
                                                 }(),
                                                 [] {
                                                   std::vector<uint8_t> f(static_cast<size_t>(kPixels) * 4);
                                                   ORXMakeTestImageARGB(f.data(), kWidth, kHeight, 0, 0);
                                                   ORXAddGrainARGB(f.data(), kWidth, kHeight, 0, 3, 1);
                                                   return f;
                                                 }()};
  return frames[picture];
}

std::vector<uint8_t> EncodedFrame(int picture) {
  std::vector<uint8_t> blocks(
      static_cast<size_t>(CalculateORXBlockDataSize(kWidth, kHeight, false, true)));
  _stbCompressARGB32_to24(blocks.data(), TestFrame(picture).data(), kWidth, kHeight, kRowBytes, 0);
  return blocks;
}

// Pixels per iteration: items/s in the report is pixels/s; Mpix/s beside it.
void ReportPixels(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * kPixels);
  state.counters["Mpix/s"] =
      benchmark::Counter(static_cast<double>(kPixels) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_DXT24Encode(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  const auto& frame = TestFrame(static_cast<int>(state.range(1)));
  std::vector<uint8_t> blocks(
      static_cast<size_t>(CalculateORXBlockDataSize(kWidth, kHeight, false, true)));
  for (auto _ : state) {
    stbCompressARGB32_to24_threaded(threads, blocks.data(), frame.data(), kWidth, kHeight, kRowBytes, 0);
    benchmark::DoNotOptimize(blocks.data());
    benchmark::ClobberMemory();
  }
  ReportPixels(state);
  if (threads > 1) {
    // The pool keeps the size of the first threaded call in the process.
    state.counters["workers"] = g_numDXT24Threads;
    if (g_numDXT24Threads != threads)
      state.SetLabel("pool has " + std::to_string(g_numDXT24Threads) +
                     " workers; run alone with --benchmark_filter");
  }
}

// One thread, two threads, then every hardware thread. The pool size is fixed
// by the process's first call with more than one thread, so the 2-thread case
// comes first among the threaded ones; any other pool size (the all-threads
// case included) needs its own run, e.g. --benchmark_filter=BM_DXT24Encode/16.
void EncodeThreadCounts(benchmark::internal::Benchmark* b) {
  b->ArgNames({"threads", "grain"});
  for (int picture = 0; picture < 2; ++picture) b->Args({1, picture});
  for (int picture = 0; picture < 2; ++picture) b->Args({2, picture});
  const unsigned all = std::thread::hardware_concurrency();
  if (all > 2)
    for (int picture = 0; picture < 2; ++picture) b->Args({static_cast<int64_t>(all), picture});
}
BENCHMARK(BM_DXT24Encode)->Apply(EncodeThreadCounts)->UseRealTime()->Unit(benchmark::kMillisecond);

// The DXT24 image driver on one thread at each instruction-set level this
// machine runs (plain, sse4.1, avx2 in the label), on the grain picture.
void BM_DXT24EncodeLevel(benchmark::State& state) {
  const auto level = static_cast<ORXSimdLevel>(state.range(0));
  const auto& frame = TestFrame(1);
  std::vector<uint8_t> blocks(
      static_cast<size_t>(CalculateORXBlockDataSize(kWidth, kHeight, false, true)));
  for (auto _ : state) {
    DXT24CompressImage(level, blocks.data(), frame.data(), kWidth, kHeight, kRowBytes);
    benchmark::DoNotOptimize(blocks.data());
    benchmark::ClobberMemory();
  }
  state.SetLabel(ORXSimdLevelName(level));
  ReportPixels(state);
}
void SupportedLevels(benchmark::internal::Benchmark* b) {
  b->ArgName("level");
  ORXSimdLevel levels[kORXSimdLevelCount];
  const int n = DXT24EncoderLevels(levels);
  for (int i = 0; i < n; ++i) b->Arg(levels[i]);
}
BENCHMARK(BM_DXT24EncodeLevel)->Apply(SupportedLevels)->Unit(benchmark::kMillisecond);

// The DXT1 (alpha 0) and DXT5 (alpha 1) image driver on one thread at each
// level (plain: stb_dxt's high-quality mode a block; sse4.1, avx2), on
// the grain picture. The ratio plain / level is the vector encoders' gain.
void BM_DXTEncodeLevel(benchmark::State& state) {
  const auto level = static_cast<ORXSimdLevel>(state.range(0));
  const int alpha = static_cast<int>(state.range(1));
  const auto& frame = TestFrame(1);
  std::vector<uint8_t> blocks(static_cast<size_t>(CalculateORXBlockDataSize(kWidth, kHeight, alpha != 0, false)));
  for (auto _ : state) {
    DXTCompressImage(level, blocks.data(), frame.data(), kWidth, kHeight, kRowBytes, alpha);
    benchmark::DoNotOptimize(blocks.data());
    benchmark::ClobberMemory();
  }
  state.SetLabel(std::string(alpha ? "DXT5 " : "DXT1 ") + ORXSimdLevelName(level));
  ReportPixels(state);
}
void LevelsBothKinds(benchmark::internal::Benchmark* b, int (*familyLevels)(ORXSimdLevel*)) {
  b->ArgNames({"level", "alpha"});
  ORXSimdLevel levels[kORXSimdLevelCount];
  const int n = familyLevels(levels);
  for (int alpha = 0; alpha < 2; ++alpha)
    for (int i = 0; i < n; ++i) b->Args({levels[i], alpha});
}
void EncoderLevelsBothKinds(benchmark::internal::Benchmark* b) { LevelsBothKinds(b, DXTEncoderLevels); }
void DecoderLevelsBothKinds(benchmark::internal::Benchmark* b) { LevelsBothKinds(b, DXTDecoderLevels); }
BENCHMARK(BM_DXTEncodeLevel)->Apply(EncoderLevelsBothKinds)->Unit(benchmark::kMillisecond);

// The standard DXT1 encoder, high-quality mode, one thread: 4x4 blocks
// gathered from the ARGB frame into R, G, B, A order (1080 rows are whole
// blocks, so no edge repetition is needed).
void BM_StbDXT1Encode(benchmark::State& state) {
  static_assert(kWidth % 4 == 0 && kHeight % 4 == 0);
  const auto& frame = TestFrame(static_cast<int>(state.range(0)));
  std::vector<uint8_t> blocks(static_cast<size_t>(kPixels / 16 * kDXT1BlockBytes));
  for (auto _ : state) {
    uint8_t* out = blocks.data();
    for (int by = 0; by < kHeight; by += 4) {
      for (int bx = 0; bx < kWidth; bx += 4) {
        uint8_t rgba[64];
        for (int y = 0; y < 4; ++y) {
          const uint8_t* s = frame.data() + static_cast<size_t>(by + y) * kRowBytes + 4 * bx;
          for (int x = 0; x < 4; ++x, s += 4) {
            uint8_t* d = rgba + 16 * y + 4 * x;
            d[0] = s[1];
            d[1] = s[2];
            d[2] = s[3];
            d[3] = s[0];
          }
        }
        stb_compress_dxt_block(out, rgba, 0, 2);
        out += kDXT1BlockBytes;
      }
    }
    benchmark::DoNotOptimize(blocks.data());
    benchmark::ClobberMemory();
  }
  ReportPixels(state);
}
BENCHMARK(BM_StbDXT1Encode)->ArgName("grain")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// LZF over a frame's block data (kind 0: DXT24, 1: DXT1, 2: DXT5, of the
// grain picture): one lzf_compress call (threads 0), or the chunked packer
// on that many pool threads. size% is the packed size against one stream.
void BM_LZFPack(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  const int kind = static_cast<int>(state.range(1));
  const auto& frame = TestFrame(1);
  std::vector<uint8_t> blocks(static_cast<size_t>(CalculateORXBlockDataSize(kWidth, kHeight, kind == 2, kind == 0)));
  if (kind == 0)
    _stbCompressARGB32_to24(blocks.data(), frame.data(), kWidth, kHeight, kRowBytes, 0);
  else
    DXTCompressImage(DXTEncoderBestLevel(), blocks.data(), frame.data(), kWidth, kHeight, kRowBytes, kind == 2);
  const auto raw = static_cast<unsigned>(blocks.size());
  std::vector<uint8_t> out(blocks.size());
  const int64_t chunk = ORXLZFChunkBytes(kind == 2, kind == 0);
  std::vector<uint64_t> scratch(static_cast<size_t>(ORXLZFScratchBytes(raw, chunk) / 8 + 1));
  const unsigned whole = lzf_compress(blocks.data(), raw, out.data(), raw);
  int64_t packed = 0;
  const ORXJobRunner pool = ORXEncodePoolRunner(threads);
  for (auto _ : state) {
    if (threads == 0)
      packed = lzf_compress(blocks.data(), raw, out.data(), raw);
    else
      packed = ORXPackLZF(&pool, blocks.data(), raw, chunk, out.data(), raw,
                          reinterpret_cast<unsigned char*>(scratch.data()));
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(raw));
  state.counters["size%"] = whole ? 100.0 * static_cast<double>(packed) / whole : 0;
  state.counters["packed%raw"] = 100.0 * static_cast<double>(packed) / raw;
  state.SetLabel(kind == 0 ? "DXT24" : kind == 1 ? "DXT1" : "DXT5");
}
BENCHMARK(BM_LZFPack)
    ->ArgNames({"threads", "kind"})
    ->ArgsProduct({{0, 1, 2}, {0, 1, 2}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// DecodeDXT24 as the decompressor calls it (banded over the decode pool on a
// machine with more than one processor).
void BM_DecodeDXT24(benchmark::State& state) {
  const std::vector<uint8_t> blocks = EncodedFrame(static_cast<int>(state.range(0)));
  std::vector<uint8_t> pixels(static_cast<size_t>(kPixels) * 4);
  for (auto _ : state) {
    DecodeDXT24(blocks.data(), pixels.data(), kWidth, kHeight, kRowBytes);
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
  }
  ReportPixels(state);
}
BENCHMARK(BM_DecodeDXT24)->ArgName("grain")->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// The same decode on one thread.
void BM_DecodeDXT24OneThread(benchmark::State& state) {
  const std::vector<uint8_t> blocks = EncodedFrame(static_cast<int>(state.range(0)));
  std::vector<uint8_t> pixels(static_cast<size_t>(kPixels) * 4);
  for (auto _ : state) {
    DecodeDXT24OnCallingThread(blocks.data(), pixels.data(), kWidth, kHeight, kRowBytes, false);
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
  }
  ReportPixels(state);
}
BENCHMARK(BM_DecodeDXT24OneThread)->ArgName("grain")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The standard DXT1 (alpha 0) and DXT5 (alpha 1) block decoders on one
// thread at each level (plain, sse4.1, avx2 in the label), on the grain picture's
// blocks; the pixels a second are the per-thread figure.
void BM_DXTDecodeLevel(benchmark::State& state) {
  const auto level = static_cast<ORXSimdLevel>(state.range(0));
  const int alpha = static_cast<int>(state.range(1));
  const auto& frame = TestFrame(1);
  std::vector<uint8_t> blocks(static_cast<size_t>(CalculateORXBlockDataSize(kWidth, kHeight, alpha != 0, false)));
  DXTCompressImage(DXTEncoderBestLevel(), blocks.data(), frame.data(), kWidth, kHeight, kRowBytes, alpha);
  std::vector<uint8_t> pixels(static_cast<size_t>(kPixels) * 4);
  for (auto _ : state) {
    DecodeDXTImage(level, blocks.data(), pixels.data(), kWidth, kHeight, kRowBytes, alpha != 0);
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
  }
  state.SetLabel(std::string(alpha ? "DXT5 " : "DXT1 ") + ORXSimdLevelName(level));
  ReportPixels(state);
}
BENCHMARK(BM_DXTDecodeLevel)->Apply(DecoderLevelsBothKinds)->Unit(benchmark::kMillisecond);

// One frame copied: the memory-bandwidth ceiling for anything that writes a frame.
void BM_Memcpy(benchmark::State& state) {
  const auto& frame = TestFrame();
  std::vector<uint8_t> copy(frame.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), frame.data(), frame.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frame.size()));
  ReportPixels(state);
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
