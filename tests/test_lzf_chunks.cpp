// LZF in fixed chunks over the encode pool: one valid stream whatever the
// thread count, the same bytes as one lzf_compress call for one chunk, and
// the raw fallback when the packed data does not fit.
#include <gtest/gtest.h>
#include <lzf.h>

#include <cstdint>
#include <random>
#include <vector>

#include "core/Blocks/DXTStandard.h"
#include "core/Format/ORXFormat.h"
#include "core/Format/ORXHeader.h"
#include "core/Frames/LZFChunks.h"
#include "quicktime/Common/Pools/DXT24Pool.h"
#include "testimage/ORXTestImage.h"

namespace {

constexpr int64_t kChunk = ORXLZFChunkBytes(false, false);  // the DXT1 chunk: 256 KiB

std::vector<uint8_t> DXT1Blocks(int w, int h) {
  std::vector<uint8_t> argb(static_cast<size_t>(w) * h * 4);
  ORXMakeTestImageARGB(argb.data(), w, h, 0, 2);
  ORXAddGrainARGB(argb.data(), w, h, 0, 2, 9);
  std::vector<uint8_t> blocks(static_cast<size_t>(CalculateORXBlockDataSize(w, h, false, false)));
  stbCompressARGB32(blocks.data(), argb.data(), w, h, 0, 0);
  return blocks;
}

// Packs with the given threads into a buffer of exactly budget bytes.
std::vector<uint8_t> Pack(int threads, const std::vector<uint8_t>& src, int64_t budget, int64_t* packed) {
  std::vector<uint64_t> scratch(static_cast<size_t>(ORXLZFScratchBytes(static_cast<int64_t>(src.size()), kChunk) / 8 + 1));
  std::vector<uint8_t> out(static_cast<size_t>(budget));
  const ORXJobRunner pool = ORXEncodePoolRunner(threads);
  *packed = ORXPackLZF(&pool, src.data(), static_cast<int64_t>(src.size()), kChunk, out.data(), budget,
                       reinterpret_cast<unsigned char*>(scratch.data()));
  out.resize(static_cast<size_t>(*packed));
  return out;
}

std::vector<uint8_t> Unpack(const std::vector<uint8_t>& packed, size_t rawSize) {
  std::vector<uint8_t> out(rawSize + 64);
  const unsigned n = lzf_decompress(packed.data(), static_cast<unsigned>(packed.size()), out.data(),
                                    static_cast<unsigned>(out.size()));
  out.resize(n);
  return out;
}

TEST(LZFChunks, OneChunkOrLessIsOneLzfCall) {
  for (const auto& blocks : {DXT1Blocks(300, 200), DXT1Blocks(1024, 512)}) {  // the second is exactly one chunk
    ASSERT_LE(static_cast<int64_t>(blocks.size()), kChunk);
    EXPECT_EQ(ORXLZFScratchBytes(static_cast<int64_t>(blocks.size()), kChunk), 0);
    std::vector<uint8_t> want(blocks.size());
    want.resize(lzf_compress(blocks.data(), static_cast<unsigned>(blocks.size()), want.data(),
                             static_cast<unsigned>(want.size())));
    ASSERT_FALSE(want.empty());
    int64_t n = 0;
    EXPECT_EQ(Pack(2, blocks, static_cast<int64_t>(blocks.size()), &n), want);
  }
}

TEST(LZFChunks, SeveralChunksUnpackInOneCallAndAreTheSameAtEveryThreadCount) {
  const auto frame = DXT1Blocks(1920, 1080);  // four chunks, the last one short
  std::vector<std::vector<uint8_t>> cuts = {frame};
  for (int64_t size : {kChunk + 1, 3 * kChunk, 3 * kChunk - 5})
    cuts.emplace_back(frame.begin(), frame.begin() + size);
  for (const auto& src : cuts) {
    SCOPED_TRACE(src.size());
    int64_t n1 = 0;
    const auto one = Pack(1, src, static_cast<int64_t>(src.size()), &n1);
    ASSERT_GT(n1, 0);
    EXPECT_EQ(Unpack(one, src.size()), src);
    for (int threads : {2, 3, 8}) {
      int64_t n = 0;
      EXPECT_EQ(Pack(threads, src, static_cast<int64_t>(src.size()), &n), one) << threads << " threads";
    }
    // Each chunk is a stream of its own: the first one unpacks alone to the
    // first chunk of input (its back references stay inside it).
    std::vector<uint8_t> firstChunk(src.begin(), src.begin() + kChunk);
    int64_t nFirst = 0;
    const auto packedFirst = Pack(1, firstChunk, kChunk, &nFirst);
    EXPECT_TRUE(std::equal(packedFirst.begin(), packedFirst.end(), one.begin()));
  }
}

TEST(LZFChunks, DataThatDoesNotFitItsBudgetIsRefused) {
  std::mt19937 rng(3);
  std::vector<uint8_t> noise(static_cast<size_t>(2 * kChunk + 1000));
  for (auto& b : noise) b = static_cast<uint8_t>(rng());
  int64_t n = -1;
  EXPECT_TRUE(Pack(2, noise, static_cast<int64_t>(noise.size()), &n).empty());
  EXPECT_EQ(n, 0);
  // With room for LZF's literal overhead it packs, and unpacks to the noise.
  const auto packed = Pack(2, noise, static_cast<int64_t>(noise.size()) * 105 / 100, &n);
  ASSERT_GT(n, static_cast<int64_t>(noise.size()));
  EXPECT_EQ(Unpack(packed, noise.size()), noise);

  // A budget one byte short of the packed size is refused, not overrun.
  const auto frame = DXT1Blocks(1280, 720);
  const auto full = Pack(2, frame, static_cast<int64_t>(frame.size()), &n);
  ASSERT_GT(n, 0);
  int64_t m = -1;
  EXPECT_TRUE(Pack(2, frame, n - 1, &m).empty());
  EXPECT_EQ(m, 0);
  EXPECT_EQ(Pack(2, frame, n, &m), full);
}

}  // namespace
