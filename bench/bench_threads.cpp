// The standard DXT1/DXT5 block encoder on a 1920x1080 frame through the
// worker pool at 1 and 2 threads, beside DXT24 at the same counts. The pool
// size is fixed by the process's first threaded call, so only 1 and 2 are
// measured in one run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "core/Blocks/DXT24.h"
#include "core/Blocks/DXTStandard.h"
#include "core/Format/ORXHeader.h"
#include "quicktime/Common/Pools/DXT24Pool.h"
#include "testimage/ORXTestImage.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr int64_t kPixels = int64_t{kWidth} * kHeight;

const std::vector<uint8_t>& Frame() {
  static const std::vector<uint8_t> f = [] {
    std::vector<uint8_t> v(static_cast<size_t>(kPixels) * 4);
    ORXMakeTestImageARGB(v.data(), kWidth, kHeight, 0, 0);
    ORXAddGrainARGB(v.data(), kWidth, kHeight, 0, 3, 1);
    return v;
  }();
  return f;
}

// Arguments: threads, alpha (DXT5) or not (DXT1).
void BM_StandardEncode(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  const int alpha = static_cast<int>(state.range(1));
  std::vector<uint8_t> blocks(static_cast<size_t>(CalculateORXBlockDataSize(kWidth, kHeight, alpha, false)));
  for (auto _ : state) {
    stbCompressARGB32_threaded(threads, blocks.data(), Frame().data(), kWidth, kHeight, kWidth * 4, alpha);
    benchmark::DoNotOptimize(blocks.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_StandardEncode)
    ->ArgNames({"threads", "alpha"})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({1, 1})
    ->Args({2, 1})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The machine's own ceiling for this work: the frame's two halves encoded by
// two plain threads made for the run, without the pool. What the pool gains at
// two threads is bounded by what this gains.
void BM_StandardEncodeTwoPlainThreads(benchmark::State& state) {
  const int alpha = static_cast<int>(state.range(0));
  const size_t blockBytes = alpha ? 16 : 8;
  std::vector<uint8_t> blocks(static_cast<size_t>(CalculateORXBlockDataSize(kWidth, kHeight, alpha, false)));
  const int topRows = kHeight / 8 * 4;  // whole block rows
  const size_t topBytes = static_cast<size_t>(topRows / 4) * (kWidth / 4) * blockBytes;
  for (auto _ : state) {
    std::thread second([&] {
      stbCompressARGB32(blocks.data() + topBytes, Frame().data() + static_cast<size_t>(topRows) * kWidth * 4, kWidth,
                        kHeight - topRows, kWidth * 4, alpha);
    });
    stbCompressARGB32(blocks.data(), Frame().data(), kWidth, topRows, kWidth * 4, alpha);
    second.join();
    benchmark::DoNotOptimize(blocks.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_StandardEncodeTwoPlainThreads)->ArgName("alpha")->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_DXT24EncodeThreads(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  std::vector<uint8_t> blocks(static_cast<size_t>(CalculateORXBlockDataSize(kWidth, kHeight, false, true)));
  for (auto _ : state) {
    stbCompressARGB32_to24_threaded(threads, blocks.data(), Frame().data(), kWidth, kHeight, kWidth * 4, 0);
    benchmark::DoNotOptimize(blocks.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_DXT24EncodeThreads)->ArgName("threads")->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
