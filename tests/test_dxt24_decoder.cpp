// CPU decoder for DXT24 blocks, with and without alpha.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/Blocks/DXT24Decoder.h"
#include "core/Frames/ORXFrameDecode.h"
#include "quicktime/Common/Pools/ORXBandPool.h"

namespace {

struct ARGB {
  int a, r, g, b;
  bool operator==(const ARGB&) const = default;
};

ARGB PixelAt(const std::vector<unsigned char>& img, int rowBytes, int x, int y) {
  const unsigned char* p = img.data() + static_cast<size_t>(y) * rowBytes + x * 4;
  return {p[0], p[1], p[2], p[3]};
}

std::array<unsigned char, 10> MakeBlock(ARGB c0, ARGB c1, uint32_t word) {
  return {static_cast<unsigned char>(c0.r), static_cast<unsigned char>(c0.g), static_cast<unsigned char>(c0.b),
          static_cast<unsigned char>(c1.r), static_cast<unsigned char>(c1.g), static_cast<unsigned char>(c1.b),
          static_cast<unsigned char>(word),  static_cast<unsigned char>(word >> 8),
          static_cast<unsigned char>(word >> 16), static_cast<unsigned char>(word >> 24)};
}

std::ostream& operator<<(std::ostream& os, const ARGB& p) {
  return os << "(" << p.a << "," << p.r << "," << p.g << "," << p.b << ")";
}

}  // namespace

// Runs first in this suite's process: several threads start decoding at the
// same moment, so the table's first build is shared by all of them.
TEST(ThirdsTable, ConcurrentFirstBuildGivesCompleteTable) {
  ASSERT_FALSE(initThirds.load()) << "the table was built before this test";
  const auto block = MakeBlock({255, 255, 0, 0}, {255, 0, 0, 255}, 0xFFFFAAAA);
  std::vector<std::vector<unsigned char>> outs(8, std::vector<unsigned char>(64));
  std::vector<std::thread> threads;
  for (auto& out : outs) threads.emplace_back([&] { DecodeDXT24(block.data(), out.data(), 4, 4, 16); });
  for (auto& t : threads) t.join();
  for (const auto& out : outs) {
    EXPECT_EQ(PixelAt(out, 16, 0, 0), (ARGB{255, 170, 0, 85}));
    EXPECT_EQ(PixelAt(out, 16, 0, 3), (ARGB{255, 85, 0, 170}));
  }
}

TEST(ThirdsTable, EntriesAreRoundedThirds) {
  InitThirdsTable();
  EXPECT_EQ(thirdsTable[1 * 256 + 0], 1);
  EXPECT_EQ(thirdsTable[0 * 256 + 1], 0);
  EXPECT_EQ(thirdsTable[255 * 256 + 0], 170);
  EXPECT_EQ(thirdsTable[0 * 256 + 255], 85);
  EXPECT_EQ(thirdsTable[2 * 256 + 1], 2);
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b) ASSERT_EQ(thirdsTable[a * 256 + b], (2 * a + b + 1) / 3) << a << "," << b;
}

TEST(DecodeDXT24, PaletteAndIndexLayout) {
  const ARGB red{255, 255, 0, 0}, blue{255, 0, 0, 255};
  // Bytes 6..9 all 0xE4: in every row, pixels take entries 0, 1, 2, 3.
  {
    const auto blk = MakeBlock(red, blue, 0xE4E4E4E4);
    std::vector<unsigned char> out(64);
    DecodeDXT24(blk.data(), out.data(), 4, 4, 16);
    const ARGB expect[4] = {red, blue, {255, 170, 0, 85}, {255, 85, 0, 170}};
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) EXPECT_EQ(PixelAt(out, 16, x, y), expect[x]) << x << "," << y;
  }
  // Index word 0x000000E4: the top row shows entries 0..3, everything else entry 0.
  {
    const ARGB c0{255, 10, 200, 30}, c1{255, 250, 40, 90};
    const auto blk = MakeBlock(c0, c1, 0x000000E4);
    std::vector<unsigned char> out(64);
    DecodeDXT24(blk.data(), out.data(), 4, 4, 16);
    EXPECT_EQ(PixelAt(out, 16, 0, 0), c0);
    EXPECT_EQ(PixelAt(out, 16, 1, 0), c1);
    EXPECT_EQ(PixelAt(out, 16, 2, 0), (ARGB{255, 90, 147, 50}));   // (2*c0 + c1) / 3 rounded
    EXPECT_EQ(PixelAt(out, 16, 3, 0), (ARGB{255, 170, 93, 70}));   // (c0 + 2*c1) / 3 rounded
    for (int y = 1; y < 4; ++y)
      for (int x = 0; x < 4; ++x) EXPECT_EQ(PixelAt(out, 16, x, y), c0);
  }
  // Equal end points: every entry is that colour, whatever the indices.
  {
    const ARGB c{255, 77, 88, 99};
    const auto blk = MakeBlock(c, c, 0x1B2D4E93);
    std::vector<unsigned char> out(64);
    DecodeDXT24(blk.data(), out.data(), 4, 4, 16);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) EXPECT_EQ(PixelAt(out, 16, x, y), c);
  }
}

TEST(DecodeDXT24, WritesWholeBlocksAndNothingElse) {
  // 5x3: W4 = 8, H4 = 4, two blocks read, 8 x 4 pixels written.
  const int rowBytes = 40;  // wider than 4 * W4
  std::vector<unsigned char> src(30, 0);
  const auto b0 = MakeBlock({255, 1, 2, 3}, {255, 1, 2, 3}, 0);
  const auto b1 = MakeBlock({255, 4, 5, 6}, {255, 4, 5, 6}, 0);
  std::memcpy(src.data(), b0.data(), 10);
  std::memcpy(src.data() + 10, b1.data(), 10);
  std::memset(src.data() + 20, 0x77, 10);  // a third block must not be read
  std::vector<unsigned char> out(static_cast<size_t>(rowBytes) * 6, 0xEE);
  DecodeDXT24(src.data(), out.data(), 5, 3, rowBytes);
  for (int y = 0; y < 6; ++y)
    for (int xb = 0; xb < rowBytes; ++xb) {
      const unsigned char v = out[static_cast<size_t>(y) * rowBytes + xb];
      if (y < 4 && xb < 32) {
        const int x = xb / 4;
        const ARGB want = x < 4 ? ARGB{255, 1, 2, 3} : ARGB{255, 4, 5, 6};
        const int comp[4] = {want.a, want.r, want.g, want.b};
        ASSERT_EQ(v, comp[xb % 4]) << "pixel " << x << "," << y;
      } else {
        ASSERT_EQ(v, 0xEE) << "byte " << xb << " of row " << y << " was touched";
      }
    }

  // Zero width or height: nothing written.
  std::vector<unsigned char> guard(64, 0xEE);
  DecodeDXT24(src.data(), guard.data(), 0, 4, 16);
  DecodeDXT24(src.data(), guard.data(), 4, 0, 16);
  for (unsigned char g : guard) ASSERT_EQ(g, 0xEE);
}

TEST(DecodeDXT24, RasterOrderOverSeveralBlockRows) {
  // 12 x 8 pixels: 3 x 2 blocks, each a flat colour naming its position.
  std::vector<unsigned char> src;
  for (int by = 0; by < 2; ++by)
    for (int bx = 0; bx < 3; ++bx) {
      const ARGB c{255, bx * 50, by * 100, 7};
      const auto blk = MakeBlock(c, c, 0);
      src.insert(src.end(), blk.begin(), blk.end());
    }
  std::vector<unsigned char> out(12 * 8 * 4);
  DecodeDXT24(src.data(), out.data(), 12, 8, 48);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 12; ++x) EXPECT_EQ(PixelAt(out, 48, x, y), (ARGB{255, (x / 4) * 50, (y / 4) * 100, 7}));
}

TEST(DecodeDXT24WithAlpha, AlphaPaletteModesAndLayout) {
  uint8_t p[8];
  DXT5AlphaPalette(255, 0, p);  // eight-value mode
  const uint8_t eight[8] = {255, 0, 219, 182, 146, 109, 73, 36};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(p[k], eight[k]) << k;
  DXT5AlphaPalette(0, 255, p);  // six-value mode with 0 and 255
  const uint8_t six[8] = {0, 255, 51, 102, 153, 204, 0, 255};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(p[k], six[k]) << k;

  // One 18-byte block: alpha end points 200, 100; pixel i takes alpha index
  // i % 8; colour block with entries 0..3 across each row.
  unsigned char blk[18];
  blk[0] = 200;
  blk[1] = 100;
  uint64_t bits = 0;
  for (int i = 0; i < 16; ++i) bits |= static_cast<uint64_t>(i % 8) << (3 * i);
  for (int i = 0; i < 6; ++i) blk[2 + i] = static_cast<unsigned char>(bits >> (8 * i));
  const auto colour = MakeBlock({0, 255, 0, 0}, {0, 0, 0, 255}, 0xE4E4E4E4);
  std::memcpy(blk + 8, colour.data(), 10);

  std::vector<unsigned char> out(64);
  DecodeDXT24WithAlpha(blk, out.data(), 4, 4, 16);
  DXT5AlphaPalette(200, 100, p);
  const int rgb[4][3] = {{255, 0, 0}, {0, 0, 255}, {170, 0, 85}, {85, 0, 170}};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      const int i = 4 * y + x;
      EXPECT_EQ(PixelAt(out, 16, x, y), (ARGB{p[i % 8], rgb[x][0], rgb[x][1], rgb[x][2]})) << x << "," << y;
    }
  EXPECT_EQ(p[2], (6 * 200 + 100 + 3) / 7);
}

namespace {

std::vector<unsigned char> RandomBytes(size_t n, uint32_t seed) {
  std::vector<unsigned char> v(n);
  uint32_t x = 2463534242u ^ seed;
  for (auto& b : v) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<unsigned char>(x >> 7);
  }
  return v;
}

struct Frame {
  int w, h, rowBytes;
  bool alpha;
};

// The frame decoded one block row at a time: each row is a frame of its own,
// far below the size that is split into bands.
std::vector<unsigned char> DecodeRowByRow(const Frame& f, const std::vector<unsigned char>& blocks) {
  const int across = (f.w + 3) / 4, down = (f.h + 3) / 4, blockBytes = f.alpha ? 18 : 10;
  std::vector<unsigned char> out(static_cast<size_t>(f.rowBytes) * down * 4, 0x5A);
  for (int r = 0; r < down; ++r) {
    const unsigned char* src = blocks.data() + static_cast<size_t>(r) * across * blockBytes;
    unsigned char* dst = out.data() + static_cast<size_t>(r) * 4 * f.rowBytes;
    if (f.alpha)
      DecodeDXT24WithAlpha(src, dst, f.w, 4, f.rowBytes);
    else
      DecodeDXT24(src, dst, f.w, 4, f.rowBytes);
  }
  return out;
}

std::vector<unsigned char> DecodeWhole(const Frame& f, const std::vector<unsigned char>& blocks) {
  std::vector<unsigned char> out(static_cast<size_t>(f.rowBytes) * ((f.h + 3) / 4) * 4, 0x5A);
  if (f.alpha)
    DecodeDXT24WithAlpha(blocks.data(), out.data(), f.w, f.h, f.rowBytes);
  else
    DecodeDXT24(blocks.data(), out.data(), f.w, f.h, f.rowBytes);
  return out;
}

// The decompressor's road: the frame road cutting the frame into bands over
// the decode pool.
std::vector<unsigned char> DecodeOnPool(const Frame& f, const std::vector<unsigned char>& blocks) {
  std::vector<unsigned char> out(static_cast<size_t>(f.rowBytes) * ((f.h + 3) / 4) * 4, 0x5A);
  ORXFrameLayout layout;
  layout.header.isDXT24 = 1;
  layout.header.hasAlpha = f.alpha ? 1 : 0;
  const ORXJobRunner pool = ORXDecodePoolRunner();
  ORXDecodeBlocksOnProcessor(layout, blocks.data(), f.w, f.h, out.data(), f.rowBytes, &pool);
  return out;
}

size_t BlockBytes(const Frame& f) {
  return static_cast<size_t>((f.w + 3) / 4) * ((f.h + 3) / 4) * (f.alpha ? 18 : 10);
}

}  // namespace

// Frames of a megapixel and more are decoded in bands over the decode pool
// (the frame road with the pool as its runner); the pixels, and the padding
// bytes of each row left untouched, are the same as decoding the frame block
// row by block row, and as the one-thread decode.
TEST(DecodeDXT24, LargeFramesDecodeAsBlockRowByBlockRow) {
  const Frame frames[] = {
      {1921, 1083, 1924 * 4 + 20, false},  // odd size, padded rows
      {2048, 512, 2048 * 4, false},        // exactly one megapixel
      {5000, 261, 5000 * 4 + 4, false},    // few block rows
      {1920, 1080, 1920 * 4, true},
      {1025, 1023, 1028 * 4 + 8, true},
      {1020, 1020, 1020 * 4, false},  // just below the banded size
  };
  for (const Frame& f : frames) {
    SCOPED_TRACE(std::to_string(f.w) + "x" + std::to_string(f.h) + (f.alpha ? " alpha" : ""));
    const auto blocks = RandomBytes(BlockBytes(f), static_cast<uint32_t>(f.w * 7 + f.h));
    const auto whole = DecodeOnPool(f, blocks);
    EXPECT_TRUE(whole == DecodeRowByRow(f, blocks));
    EXPECT_TRUE(whole == DecodeWhole(f, blocks));
    std::vector<unsigned char> one(whole.size(), 0x5A);
    DecodeDXT24OnCallingThread(blocks.data(), one.data(), f.w, f.h, f.rowBytes, f.alpha);
    EXPECT_TRUE(whole == one);
    // Padding beyond the padded width keeps its bytes.
    const size_t written = static_cast<size_t>((f.w + 3) / 4) * 16;
    for (size_t y = 0; y < whole.size() / f.rowBytes; y += 97)
      for (size_t x = written; x < static_cast<size_t>(f.rowBytes); ++x)
        ASSERT_EQ(whole[y * f.rowBytes + x], 0x5A) << "row " << y;
  }
}

// Several decompressors decoding large frames on their own threads at once:
// whichever holds the pool, each gets its own frame's pixels.
TEST(DecodeDXT24, ConcurrentLargeFramesEachGetTheirOwnPixels) {
  const Frame f{1920, 1088, 1920 * 4, false};
  std::vector<std::vector<unsigned char>> blocks, want;
  for (uint32_t i = 0; i < 3; ++i) {
    blocks.push_back(RandomBytes(BlockBytes(f), 100 + i));
    want.push_back(DecodeRowByRow(f, blocks.back()));
  }
  int bad[3] = {0, 0, 0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i)
    threads.emplace_back([&, i] {
      for (int k = 0; k < 4; ++k) bad[i] += DecodeOnPool(f, blocks[i]) != want[i];
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(bad[0] + bad[1] + bad[2], 0);
}

// The vector rows against the plain rows, byte for byte: random blocks (every
// end point and index pattern turns up), the 0/255 extremes, odd sizes and
// padded rows whose padding must stay untouched.
TEST(DecodeDXT24, VectorRowsEqualThePlainRows) {
  if (!DXT24DecoderUsesVectorRows()) GTEST_SKIP() << "this processor has no vector rows";
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<uint8_t>(seed >> 24);
  };
  struct Size {
    int w, h, pad;
  };
  for (Size s : {Size{4, 4, 0}, Size{5, 3, 12}, Size{13, 7, 4}, Size{64, 64, 0}, Size{250, 90, 36}, Size{1024, 1024, 0}}) {
    SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
    const int w4 = (s.w + 3) / 4 * 4, h4 = (s.h + 3) / 4 * 4;
    std::vector<uint8_t> blocks(static_cast<size_t>(w4 / 4) * (h4 / 4) * 10);
    for (size_t i = 0; i < blocks.size(); ++i) blocks[i] = next();
    for (size_t i = 0; i + 10 <= blocks.size() && i < 400; i += 20) std::memset(&blocks[i], (i / 20) % 2 ? 0xFF : 0, 6);
    const int rowBytes = w4 * 4 + s.pad;
    std::vector<uint8_t> vec(static_cast<size_t>(rowBytes) * h4, 0xA5), plain = vec;
    DecodeDXT24OnCallingThread(blocks.data(), vec.data(), s.w, s.h, rowBytes, false);
    DecodeDXT24Plain(blocks.data(), plain.data(), s.w, s.h, rowBytes);
    ASSERT_EQ(vec, plain);
    std::vector<uint8_t> banded(vec.size(), 0xA5);
    DecodeDXT24(blocks.data(), banded.data(), s.w, s.h, rowBytes);
    EXPECT_EQ(banded, plain);
  }
}
