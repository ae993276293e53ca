// LZF in fixed chunks over the encode pool: one valid stream whatever the
// thread count, the same bytes as one lzf_compress call for one chunk, and
// the raw fallback when the packed data does not fit.
#include <gtest/gtest.h>
#include <lzf.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <cstring>
#include <thread>
#include <random>
#include <vector>

#include "core/Blocks/DXTStandard.h"
#include "core/Format/ORXFormat.h"
#include "core/Format/ORXHeader.h"
#include "core/Format/ORXChunkTable.h"
#include "core/Frames/LZFChunks.h"
#include "core/Frames/ORXFrameDecode.h"
#include "core/Frames/ORXFrameEncode.h"
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

// A whole frame of several chunks, encoded as the encoders do.
std::vector<uint8_t> ChunkedFrame(int w, int h, bool alpha, bool dxt24) {
  std::vector<uint8_t> argb(static_cast<size_t>(w) * h * 4);
  ORXMakeTestImageARGB(argb.data(), w, h, 0, 2);
  ORXFrameChoices c;
  c.alpha = alpha;
  c.dxt24 = dxt24;
  std::vector<uint8_t> frame(static_cast<size_t>(ORXFrameCapacity(w, h, c)));
  ORXEncodeScratch scratch;
  const int64_t n = ORXEncodeFrame(argb.data(), w, h, int64_t{w} * 4, c, frame.data(),
                                   static_cast<int64_t>(frame.size()), &scratch);
  ORXFreeEncodeScratch(&scratch);
  frame.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return frame;
}

// Unpacks the frame's blocks through ORXUnpackBlocks; empty when refused.
std::vector<uint8_t> UnpackFrame(const std::vector<uint8_t>& frame, int w, int h, const ORXJobRunner* runner) {
  ORXFrameLayout layout;
  if (CheckORXFrame(frame.data(), static_cast<int64_t>(frame.size()), w, h, &layout) != ORXFrameError::none) return {};
  std::vector<uint8_t> out(static_cast<size_t>(layout.blockDataSize));
  if (!ORXUnpackBlocks(frame.data(), layout, out.data(), runner)) return {};
  return out;
}

// A runner of the caller's own: each job on a thread of its own; self, when
// set, counts the jobs it was given.
void RunOnThreads(void* self, int count, ORXJob job, void* context) {
  if (self != nullptr) *static_cast<int*>(self) += count;
  std::vector<std::thread> threads;
  for (int i = 0; i < count; ++i) threads.emplace_back(job, context, i);
  for (auto& t : threads) t.join();
}

TEST(ChunkTable, ChunkedFramesUnpackAlikeOnEveryRunnerAndAsOneStream) {
  const int w = 1920, h = 1080;
  const ORXJobRunner pool = ORXEncodePoolRunner(3);
  int jobs = 0;
  const ORXJobRunner own{RunOnThreads, &jobs, 4};
  for (const auto& [alpha, dxt24] : {std::pair{false, false}, {true, false}, {false, true}}) {
    SCOPED_TRACE(alpha ? "DXT5" : dxt24 ? "DXT24" : "DXT1");
    const auto frame = ChunkedFrame(w, h, alpha, dxt24);
    ASSERT_FALSE(frame.empty());
    const ORXHeader hd = ReadORXHeader(frame.data());
    ASSERT_EQ(hd.isLZF, 1);
    ORXFrameLayout layout;
    ASSERT_EQ(CheckORXFrame(frame.data(), static_cast<int64_t>(frame.size()), w, h, &layout), ORXFrameError::none);
    ORXChunkTable table;
    ASSERT_TRUE(ReadORXChunkTable(frame.data(), layout, &table));
    EXPECT_EQ(table.chunks, ORXLZFChunkCount(layout.blockDataSize, ORXLZFChunkBytes(alpha, dxt24)));
    EXPECT_EQ(int64_t{hd.headerSize}, kORXHeaderSize + ORXChunkTableBytes(table.chunks));
    EXPECT_LE(static_cast<int64_t>(frame.size()), CalculateMaxORXDataSize(w, h, alpha, dxt24));

    // A reader that skips the table and unpacks one stream gets the blocks.
    const auto serial = UnpackFrame(frame, w, h, nullptr);
    ASSERT_EQ(static_cast<int64_t>(serial.size()), layout.blockDataSize);
    std::vector<uint8_t> oneStream(serial.size());
    EXPECT_EQ(lzf_decompress(frame.data() + hd.headerSize, static_cast<unsigned>(hd.dataSize), oneStream.data(),
                             static_cast<unsigned>(oneStream.size())),
              oneStream.size());
    EXPECT_EQ(oneStream, serial);
    EXPECT_EQ(UnpackFrame(frame, w, h, &pool), serial);
    jobs = 0;
    EXPECT_EQ(UnpackFrame(frame, w, h, &own), serial);
    EXPECT_EQ(jobs, table.chunks) << "the chunks were not unpacked as jobs";
  }
}

// A table that lies is never trusted beyond the data: each damage either
// falls back to the one stream (same blocks) or, where the data itself is
// damaged, is refused. Out-of-bounds reads show under AddressSanitizer.
TEST(ChunkTable, DamagedTablesFallBackOrAreRefused) {
  const int w = 1920, h = 1080;
  const auto frame = ChunkedFrame(w, h, false, false);
  const ORXHeader hd = ReadORXHeader(frame.data());
  ASSERT_GT(hd.headerSize, 28u);
  const ORXJobRunner own{RunOnThreads, nullptr, 4};
  const auto want = UnpackFrame(frame, w, h, nullptr);
  ASSERT_FALSE(want.empty());
  auto put = [](std::vector<uint8_t> f, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
    return f;
  };
  auto get = [&](size_t at) {
    uint32_t v = 0;
    std::memcpy(&v, frame.data() + at, 4);  // little-endian hosts only run this
    return v;
  };
  const size_t sizes = 28 + kORXChunkTableFixedBytes;
  const uint32_t first = get(sizes), second = get(sizes + 4);
  std::vector<uint8_t> badTag = frame;
  badTag[28] = 'X';
  const struct {
    const char* what;
    std::vector<uint8_t> frame;
  } fallBack[] = {
      {"tag", badTag},
      {"count one more", put(frame, 32, get(32) + 1)},
      {"count past the header", put(frame, 32, 0x40000000)},
      {"chunk size halved", put(frame, 36, get(36) / 2)},
      {"chunk size 0", put(frame, 36, 0)},
      {"sizes not adding up", put(frame, sizes, first + 1)},
      {"a size of 0", put(put(frame, sizes, 0), sizes + 4, second + first)},
      {"a byte moved between chunks", put(put(frame, sizes, first - 1), sizes + 4, second + 1)},
      {"the other way", put(put(frame, sizes, first + 1), sizes + 4, second - 1)},
  };
  for (const auto& c : fallBack) {
    EXPECT_EQ(UnpackFrame(c.frame, w, h, &own), want) << c.what;
    EXPECT_EQ(UnpackFrame(c.frame, w, h, nullptr), want) << c.what;
  }
  // Damaged data is refused whichever way: the first token a back reference
  // before the start of the blocks.
  std::vector<uint8_t> cut = frame;
  cut[hd.headerSize] = 0xFF;
  EXPECT_TRUE(UnpackFrame(cut, w, h, &own).empty());
  EXPECT_TRUE(UnpackFrame(cut, w, h, nullptr).empty());
}

// Several decoders unpacking chunked frames at once on their own runners (a
// ThreadSanitizer case).
TEST(ChunkTable, SeveralDecodersAtOnce) {
  const int w = 1920, h = 1080;
  const auto frame = ChunkedFrame(w, h, true, false);
  const auto want = UnpackFrame(frame, w, h, nullptr);
  ASSERT_FALSE(want.empty());
  std::vector<int> same(3, 0);
  std::vector<std::thread> decoders;
  for (int d = 0; d < 3; ++d)
    decoders.emplace_back([&, d] {
      const ORXJobRunner own{RunOnThreads, nullptr, 2};
      for (int i = 0; i < 4; ++i) same[d] += UnpackFrame(frame, w, h, &own) == want;
    });
  for (auto& t : decoders) t.join();
  for (int d = 0; d < 3; ++d) EXPECT_EQ(same[d], 4) << "decoder " << d;
}

// Decoding chunk by chunk gives the pixels of unpacking first and decoding
// in bands, on every runner, for pictures whose block rows straddle chunk
// boundaries, and with a damaged table; the finisher sees each pixel row
// once.
TEST(ChunkTable, ChunkByChunkDecodeEqualsUnpackThenDecode) {
  struct Size {
    int w, h;
    bool alpha, dxt24;
  };
  const ORXJobRunner pool = ORXEncodePoolRunner(3);
  const ORXJobRunner own{RunOnThreads, nullptr, 4};
  for (const Size& z : {Size{1920, 1080, false, false}, Size{1000, 700, true, false}, Size{2052, 1032, false, true},
                        Size{4000, 130, false, false}}) {
    SCOPED_TRACE(std::to_string(z.w) + "x" + std::to_string(z.h));
    auto frame = ChunkedFrame(z.w, z.h, z.alpha, z.dxt24);
    ASSERT_GT(ReadORXHeader(frame.data()).headerSize, 28u);
    const int row = (z.w + 3) / 4 * 16;
    const size_t bytes = static_cast<size_t>(row) * ((z.h + 3) / 4 * 4);
    std::vector<uint8_t> want(bytes, 0);
    {
      ORXDecodeScratch scratch{nullptr, 0};
      ORXFrameLayout layout;
      const unsigned char* blocks = nullptr;
      ASSERT_EQ(ORXPrepareFrame(frame.data(), int64_t(frame.size()), z.w, z.h, row, &scratch, &layout, &blocks),
                ORXStatus::ok);
      ORXDecodeBlocksOnProcessor(layout, blocks, z.w, z.h, want.data(), row);
      ORXFreeDecodeScratch(&scratch);
    }
    std::vector<uint8_t> damaged = frame;
    damaged[28 + kORXChunkTableFixedBytes] ^= 1;  // the first chunk's size, and the sum, off
    for (const auto* f : {&frame, &damaged})
      for (const ORXJobRunner* runner : {static_cast<const ORXJobRunner*>(nullptr), &pool, &own}) {
        std::vector<uint8_t> got(bytes, 0);
        std::vector<int> finished(static_cast<size_t>(z.h), 0);
        ORXBandFinish finish{[](void* c, int first, int count) {
                               for (int y = first; y < first + count; ++y) ++(*static_cast<std::vector<int>*>(c))[y];
                             },
                             &finished};
        ORXDecodeScratch scratch{nullptr, 0};
        EXPECT_EQ(ORXDecodeFrameOnProcessor(f->data(), int64_t(f->size()), z.w, z.h, &scratch, got.data(), row,
                                            runner, &finish),
                  ORXStatus::ok);
        ORXFreeDecodeScratch(&scratch);
        EXPECT_TRUE(got == want) << (f == &frame ? "table" : "damaged table");
        EXPECT_EQ(std::count(finished.begin(), finished.end(), 1), z.h) << "rows finished other than once";
      }
  }
}

}  // namespace
