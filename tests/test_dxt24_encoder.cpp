// DXT24 block encoder and image driver.
#include <gtest/gtest.h>

#include <array>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "core/Blocks/DXT24.h"
#include "core/Blocks/DXT24Internal.h"
#include "core/Blocks/DXT24Decoder.h"
#include "core/Format/ORXHeader.h"
#include "testimage/ORXTestImage.h"

using namespace dxt24_internal;

namespace {

using Block = std::array<unsigned char, 64>;  // 16 pixels, R, G, B, A
using Out = std::array<unsigned char, 10>;

Block RowPattern(const std::array<std::array<int, 3>, 4>& row) {
  Block b{};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      unsigned char* p = b.data() + (4 * y + x) * 4;
      p[0] = static_cast<unsigned char>(row[x][0]);
      p[1] = static_cast<unsigned char>(row[x][1]);
      p[2] = static_cast<unsigned char>(row[x][2]);
      p[3] = 255;
    }
  return b;
}

Out Encode(const Block& b) {
  Out o{};
  stb_compress_dxt_block_24(o.data(), b.data(), 0, 2);
  return o;
}

// Decodes one 10-byte block into 16 RGB triples with the CPU decoder.
std::array<std::array<int, 3>, 16> DecodeBlock(const unsigned char* blk) {
  unsigned char px[4 * 4 * 4];
  DecodeDXT24(blk, px, 4, 4, 16);
  std::array<std::array<int, 3>, 16> out{};
  for (int i = 0; i < 16; ++i) out[i] = {px[4 * i + 1], px[4 * i + 2], px[4 * i + 3]};
  return out;
}

// Reference gather: pad the image by repeating its last column and row, then
// cut plain 4x4 blocks, and encode each with the block encoder.
std::vector<unsigned char> ReferenceEncode(const std::vector<unsigned char>& argb, int w, int h, int rowBytes) {
  const int w4 = (w + 3) / 4 * 4, h4 = (h + 3) / 4 * 4;
  std::vector<unsigned char> padded(static_cast<size_t>(w4) * h4 * 4);
  for (int y = 0; y < h4; ++y)
    for (int x = 0; x < w4; ++x) {
      const unsigned char* s = argb.data() + static_cast<size_t>(std::min(y, h - 1)) * rowBytes + std::min(x, w - 1) * 4;
      unsigned char* d = padded.data() + (static_cast<size_t>(y) * w4 + x) * 4;
      d[0] = s[1];
      d[1] = s[2];
      d[2] = s[3];
      d[3] = s[0];
    }
  std::vector<unsigned char> out;
  for (int by = 0; by < h4 / 4; ++by)
    for (int bx = 0; bx < w4 / 4; ++bx) {
      Block b;
      for (int y = 0; y < 4; ++y)
        std::memcpy(b.data() + 16 * y, padded.data() + ((static_cast<size_t>(by) * 4 + y) * w4 + bx * 4) * 4, 16);
      const Out o = Encode(b);
      out.insert(out.end(), o.begin(), o.end());
    }
  return out;
}

std::vector<unsigned char> RandomARGB(int h, int rowBytes, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<unsigned char> img(static_cast<size_t>(rowBytes) * h);
  for (auto& v : img) v = static_cast<unsigned char>(rng());
  return img;
}

}  // namespace

TEST(DXT24Block, KnownVectors) {
  struct Case {
    const char* what;
    Block block;
    Out expected;
  };
  Block flat{};
  Block flatAlpha{};
  for (int i = 0; i < 16; ++i) {
    flat[4 * i + 0] = flatAlpha[4 * i + 0] = 12;
    flat[4 * i + 1] = flatAlpha[4 * i + 1] = 34;
    flat[4 * i + 2] = flatAlpha[4 * i + 2] = 56;
    flat[4 * i + 3] = 255;
    flatAlpha[4 * i + 3] = static_cast<unsigned char>(i * 16);
  }
  const Case cases[] = {
      {"constant block", flat, {0x0C, 0x22, 0x38, 0x0C, 0x22, 0x38, 0xAA, 0xAA, 0xAA, 0xAA}},
      {"one colour, 16 alphas", flatAlpha, {0x0C, 0x22, 0x38, 0x0C, 0x22, 0x38, 0, 0, 0, 0}},
      {"black black white white",
       RowPattern({{{0, 0, 0}, {0, 0, 0}, {255, 255, 255}, {255, 255, 255}}}),
       {0xFF, 0xFF, 0xFF, 0, 0, 0, 0x05, 0x05, 0x05, 0x05}},
      {"greys 100..103",
       RowPattern({{{100, 100, 100}, {101, 101, 101}, {102, 102, 102}, {103, 103, 103}}}),
       {0x67, 0x67, 0x67, 0x64, 0x64, 0x64, 0x2D, 0x2D, 0x2D, 0x2D}},
      {"red ramp",
       RowPattern({{{200, 100, 50}, {150, 100, 50}, {100, 100, 50}, {50, 100, 50}}}),
       {0xC8, 0x64, 0x32, 0x32, 0x64, 0x32, 0x78, 0x78, 0x78, 0x78}},
  };
  for (const Case& c : cases) EXPECT_EQ(Encode(c.block), c.expected) << c.what;

  // One refinement pass gives the same result on these blocks; alpha on puts
  // the colour block after an 8-byte alpha block.
  for (const Case& c : cases) {
    Out one{};
    stb_compress_dxt_block_24(one.data(), c.block.data(), 0, 0);
    EXPECT_EQ(one, c.expected) << c.what << " (one pass)";
    unsigned char withAlpha[18];
    stb_compress_dxt_block_24(withAlpha, c.block.data(), 1, 2);
    EXPECT_EQ(0, std::memcmp(withAlpha + 8, c.expected.data(), 10)) << c.what << " (alpha)";
  }
}

TEST(DXT24Block, EndPointsAreOrderedAndSwappingKeepsPixels) {
  std::mt19937 rng(7);
  int swapped = 0;
  for (int n = 0; n < 2000; ++n) {
    Block b;
    // Two random colours mixed along a line plus noise: realistic blocks
    // whose fitted end points come out in either order.
    const int c0[3] = {static_cast<int>(rng() % 256), static_cast<int>(rng() % 256), static_cast<int>(rng() % 256)};
    const int c1[3] = {static_cast<int>(rng() % 256), static_cast<int>(rng() % 256), static_cast<int>(rng() % 256)};
    for (int i = 0; i < 16; ++i) {
      const double t = (rng() % 1000) / 999.0;
      for (int ch = 0; ch < 3; ++ch) {
        const int v = static_cast<int>(c0[ch] * t + c1[ch] * (1 - t)) + static_cast<int>(rng() % 9) - 4;
        b[4 * i + ch] = static_cast<unsigned char>(std::clamp(v, 0, 255));
      }
      b[4 * i + 3] = 255;
    }
    const Out o = Encode(b);
    const uint32_t e0 = (o[0] << 16) | (o[1] << 8) | o[2];
    const uint32_t e1 = (o[3] << 16) | (o[4] << 8) | o[5];
    ASSERT_GE(e0, e1) << "block " << n;

    // The same block written with its colours exchanged and indices 0<->1,
    // 2<->3 decodes to the same pixels.
    Out swap = o;
    std::swap_ranges(swap.begin(), swap.begin() + 3, swap.begin() + 3);
    for (int k = 6; k < 10; ++k) swap[k] ^= 0x55;
    EXPECT_EQ(DecodeBlock(o.data()), DecodeBlock(swap.data())) << "block " << n;
    if (e0 != e1) ++swapped;
  }
  EXPECT_GT(swapped, 1000);
}

TEST(DXT24Block, MatchingPicksPaletteEntriesOnTheLine) {
  // Pixels that are exactly palette colours map to their own index.
  unsigned char palette[16] = {210, 90, 30, 0, 30, 60, 240, 0, 150, 80, 100, 0, 90, 70, 170, 0};
  Block b{};
  const int want[16] = {0, 1, 2, 3, 3, 2, 1, 0, 0, 0, 1, 1, 2, 2, 3, 3};
  for (int i = 0; i < 16; ++i) std::memcpy(b.data() + 4 * i, palette + 4 * want[i], 4);
  const unsigned int mask = stb__MatchColorsBlock24(b.data(), palette);
  for (int i = 0; i < 16; ++i) EXPECT_EQ((mask >> (2 * i)) & 3u, static_cast<unsigned>(want[i])) << "pixel " << i;

  // A palette whose end points are reversed (colour 0 darker) still matches:
  // the thresholds may be negative and rely on arithmetic shifts.
  unsigned char reversed[16] = {0, 0, 0, 0, 255, 255, 255, 0, 85, 85, 85, 0, 170, 170, 170, 0};
  Block g{};
  for (int i = 0; i < 16; ++i) g[4 * i] = g[4 * i + 1] = g[4 * i + 2] = static_cast<unsigned char>(i * 17);
  const unsigned int m2 = stb__MatchColorsBlock24(g.data(), reversed);
  EXPECT_EQ(m2 & 3u, 0u);           // 0 is colour 0
  EXPECT_EQ((m2 >> 30) & 3u, 1u);   // 255 is colour 1
  EXPECT_EQ((m2 >> 10) & 3u, 2u);   // 85 is the colour-0 third
  EXPECT_EQ((m2 >> 20) & 3u, 3u);   // 170 is the colour-1 third
}

TEST(DXT24Block, RefinementSolvesLeastSquaresAndHandlesUniformIndices) {
  // Uniform indices: both end points become the rounded mean colour.
  Block b{};
  for (int i = 0; i < 16; ++i) {
    b[4 * i + 0] = static_cast<unsigned char>(i);       // mean 7.5 -> (120 + 8) >> 4 = 8
    b[4 * i + 1] = static_cast<unsigned char>(100);     // 100
    b[4 * i + 2] = static_cast<unsigned char>(i * 10);  // mean 75 -> (1200 + 8) >> 4 = 75
  }
  uint32_t c0 = 0, c1 = 0xFFFFFF;
  for (unsigned int mask : {0u, 0x55555555u, 0xAAAAAAAAu, 0xFFFFFFFFu}) {
    c0 = 0;
    c1 = 0xFFFFFF;
    EXPECT_TRUE(stb__RefineBlock24(b.data(), &c0, &c1, mask));
    EXPECT_EQ(c0, (8u << 16) | (100u << 8) | 75u);
    EXPECT_EQ(c1, c0);
    // Same input again: nothing changes.
    EXPECT_FALSE(stb__RefineBlock24(b.data(), &c0, &c1, mask));
  }

  // Pixels exactly on a four-colour palette with exact thirds: the fit
  // recovers the end points.
  const int e0[3] = {210, 30, 90}, e1[3] = {30, 240, 0};
  Block p{};
  unsigned int mask = 0;
  for (int i = 0; i < 16; ++i) {
    const int idx = i % 4;
    const int w = w1Tab[idx];
    for (int ch = 0; ch < 3; ++ch) p[4 * i + ch] = static_cast<unsigned char>((w * e0[ch] + (3 - w) * e1[ch]) / 3);
    mask |= static_cast<unsigned>(idx) << (2 * i);
  }
  c0 = c1 = 0;
  stb__RefineBlock24(p.data(), &c0, &c1, mask);
  EXPECT_EQ(c0, (210u << 16) | (30u << 8) | 90u);
  EXPECT_EQ(c1, (30u << 16) | (240u << 8) | 0u);
}

TEST(DXT24Image, DriverMatchesBlockByBlockEncodingWithEdgePadding) {
  struct Size {
    int w, h;
  };
  for (Size s : {Size{1, 1}, Size{5, 3}, Size{5, 5}, Size{6, 6}, Size{8, 8}, Size{13, 7}, Size{64, 36}}) {
    for (int extra : {0, 12}) {
      const int rowBytes = 4 * s.w + extra;
      const auto img = RandomARGB(s.h, rowBytes, static_cast<uint32_t>(s.w * 100 + s.h));
      std::vector<unsigned char> out(CalculateORXBlockDataSize(s.w, s.h, false, true) + 16, 0xCD);
      _stbCompressARGB32_to24(out.data(), img.data(), s.w, s.h, rowBytes, 0);
      const auto ref = ReferenceEncode(img, s.w, s.h, rowBytes);
      ASSERT_EQ(ref.size() + 16, out.size());
      EXPECT_TRUE(std::equal(ref.begin(), ref.end(), out.begin())) << s.w << "x" << s.h << " extra " << extra;
      for (size_t i = ref.size(); i < out.size(); ++i) ASSERT_EQ(out[i], 0xCD) << "wrote past the blocks";
    }
  }

  // rowBytes 0 means 4 * width.
  const auto img = RandomARGB(8, 48, 3);
  std::vector<unsigned char> a(CalculateORXBlockDataSize(12, 8, false, true)), b(a.size());
  _stbCompressARGB32_to24(a.data(), img.data(), 12, 8, 0, 0);
  _stbCompressARGB32_to24(b.data(), img.data(), 12, 8, 48, 0);
  EXPECT_EQ(a, b);

  // Non-positive sizes write nothing.
  unsigned char guard[32];
  std::memset(guard, 0x5A, sizeof guard);
  _stbCompressARGB32_to24(guard, img.data(), 0, 8, 0, 0);
  _stbCompressARGB32_to24(guard, img.data(), 12, 0, 0, 0);
  _stbCompressARGB32_to24(guard, img.data(), -4, -4, 0, 0);
  for (unsigned char g : guard) ASSERT_EQ(g, 0x5A);
}

TEST(DXT24Image, FiveByFiveRepeatsLastColumnAndRow) {
  // A 5x5 image: 2x2 blocks; every pixel unique, so the encoded blocks show
  // which source pixels each block saw.
  std::vector<unsigned char> img(5 * 5 * 4);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) {
      unsigned char* p = img.data() + (y * 5 + x) * 4;
      p[0] = 255;
      p[1] = static_cast<unsigned char>(x * 60);
      p[2] = static_cast<unsigned char>(y * 60);
      p[3] = 0;
    }
  std::vector<unsigned char> out(40);
  _stbCompressARGB32_to24(out.data(), img.data(), 5, 5, 0, 0);

  // Bottom-right block covers only pixel (4, 4): a constant block.
  const unsigned char corner[10] = {240, 240, 0, 240, 240, 0, 0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(0, std::memcmp(out.data() + 30, corner, 10));
  // Top-right block: column 4 repeated, rows 0..3 differ in green only.
  Block tr{};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      unsigned char* p = tr.data() + (4 * y + x) * 4;
      p[0] = 240;
      p[1] = static_cast<unsigned char>(y * 60);
      p[2] = 0;
      p[3] = 255;
    }
  EXPECT_EQ(0, std::memcmp(out.data() + 10, Encode(tr).data(), 10));
  // Bottom-left block: row 4 repeated in all four rows.
  Block bl{};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      unsigned char* p = bl.data() + (4 * y + x) * 4;
      p[0] = static_cast<unsigned char>(x * 60);
      p[1] = 240;
      p[2] = 0;
      p[3] = 255;
    }
  EXPECT_EQ(0, std::memcmp(out.data() + 20, Encode(bl).data(), 10));
}

TEST(DXT24Image, RoundTripQuality) {
  // Smooth gradient: DXT24's 8-bit end points keep it nearly exact.
  const int w = 256, h = 128;
  std::vector<unsigned char> grad(static_cast<size_t>(w) * h * 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      unsigned char* p = grad.data() + (y * w + x) * 4;
      p[0] = 255;
      p[1] = static_cast<unsigned char>(x);
      p[2] = static_cast<unsigned char>(y * 2);
      p[3] = static_cast<unsigned char>((x + y) / 2);
    }
  std::vector<unsigned char> blocks(CalculateORXBlockDataSize(w, h, false, true));
  _stbCompressARGB32_to24(blocks.data(), grad.data(), w, h, 0, 0);
  std::vector<unsigned char> back(grad.size());
  DecodeDXT24(blocks.data(), back.data(), w, h, w * 4);
  const double gradPsnr = ORXPSNR_ARGB(grad.data(), w * 4, back.data(), w * 4, w, h);
  EXPECT_GE(gradPsnr, 40.0);

  // The mixed test picture stays well above what a broken fit would give.
  const int W = 320, H = 180;
  std::vector<unsigned char> pic(static_cast<size_t>(W) * H * 4);
  ORXMakeTestImageARGB(pic.data(), W, H, 0, 0);
  std::vector<unsigned char> pb(CalculateORXBlockDataSize(W, H, false, true));
  _stbCompressARGB32_to24(pb.data(), pic.data(), W, H, 0, 0);
  std::vector<unsigned char> pback(pic.size());
  DecodeDXT24(pb.data(), pback.data(), W, H, W * 4);
  EXPECT_GE(ORXPSNR_ARGB(pic.data(), W * 4, pback.data(), W * 4, W, H), 30.0);
}

// A graded alpha block, byte for byte: end points max then min, each pixel
// on the nearest of the eight steps (rounded half up), decoded exactly.
TEST(DXT24Block, GradedAlphaBlockIsExact) {
  Block b{};
  for (int i = 0; i < 16; ++i) {
    b[4 * i + 0] = 40;
    b[4 * i + 1] = 80;
    b[4 * i + 2] = 120;
    b[4 * i + 3] = static_cast<unsigned char>(17 * i);  // 0, 17, ..., 255
  }
  unsigned char out[18];
  stb_compress_dxt_block_24(out, b.data(), 1, 2);
  const unsigned char alphaBlock[8] = {0xFF, 0x00, 0xC9, 0x6F, 0xB7, 0xE4, 0x26, 0x01};
  EXPECT_EQ(0, std::memcmp(out, alphaBlock, 8));
  unsigned char back[64];
  DecodeDXT24WithAlpha(out, back, 4, 4, 16);
  const int decoded[16] = {0, 0, 36, 36, 73, 73, 109, 109, 146, 146, 182, 182, 219, 219, 255, 255};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(back[4 * i], decoded[i]) << "pixel " << i;

  // Two alpha values one step apart are both kept.
  for (int i = 0; i < 16; ++i) b[4 * i + 3] = static_cast<unsigned char>(i % 2 ? 101 : 100);
  stb_compress_dxt_block_24(out, b.data(), 1, 2);
  DecodeDXT24WithAlpha(out, back, 4, 4, 16);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(back[4 * i], b[4 * i + 3]) << "pixel " << i;
}

TEST(DXT24Image, AlphaVariantRoundTrips) {
  const int w = 16, h = 8;
  std::vector<unsigned char> img(static_cast<size_t>(w) * h * 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      unsigned char* p = img.data() + (y * w + x) * 4;
      p[0] = static_cast<unsigned char>(x < 4 ? 128 : x * 16);  // first block column: constant alpha
      p[1] = static_cast<unsigned char>(x * 10);
      p[2] = static_cast<unsigned char>(y * 20);
      p[3] = 90;
    }
  std::vector<unsigned char> blocks(CalculateORXBlockDataSize(w, h, true, true));
  ASSERT_EQ(blocks.size(), 8u * 18u);
  _stbCompressARGB32_to24(blocks.data(), img.data(), w, h, 0, 1);
  std::vector<unsigned char> back(img.size());
  DecodeDXT24WithAlpha(blocks.data(), back.data(), w, h, w * 4);
  int worst = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int a = img[(y * w + x) * 4], b = back[(y * w + x) * 4];
      if (x < 4) {
        EXPECT_EQ(a, b) << "constant alpha is exact";
      }
      worst = std::max(worst, std::abs(a - b));
    }
  EXPECT_LE(worst, 10);  // 8 steps over at most 240 levels

  // Colour is encoded as without alpha: each 18-byte block ends with the
  // 10-byte block the colour-only encoder writes.
  std::vector<unsigned char> colourOnly(CalculateORXBlockDataSize(w, h, false, true));
  _stbCompressARGB32_to24(colourOnly.data(), img.data(), w, h, 0, 0);
  for (int b = 0; b < 8; ++b)
    EXPECT_EQ(0, std::memcmp(blocks.data() + 18 * b + 8, colourOnly.data() + 10 * b, 10)) << "block " << b;
}
