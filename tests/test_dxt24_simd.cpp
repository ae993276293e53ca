// Every vector DXT24 encoder against the scalar one, byte for byte, on each
// instruction-set level this machine runs.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/Blocks/DXT24.h"
#include "core/Blocks/DXT24Simd.h"
#include "core/Format/ORXHeader.h"
#include "testimage/ORXTestImage.h"

namespace {

using Blocks = std::vector<unsigned char>;  // 64 bytes a block, R, G, B, A

std::vector<ORXSimdLevel> VectorLevels() {
  ORXSimdLevel levels[kORXSimdLevelCount];
  const int n = DXT24EncoderLevels(levels);
  return std::vector<ORXSimdLevel>(levels + 1, levels + n);
}

// Each vector level against the scalar block encoder, for both pass counts.
// Counts that are not a multiple of the lane width exercise the short tail.
void ExpectSameBlocks(const Blocks& blocks, const std::string& what) {
  const int count = static_cast<int>(blocks.size() / 64);
  for (int mode : {0, 2}) {
    std::vector<unsigned char> want(static_cast<size_t>(count) * 10);
    for (int i = 0; i < count; ++i) stb_compress_dxt_block_24(&want[i * 10], &blocks[i * 64], 0, mode);
    for (ORXSimdLevel level : VectorLevels()) {
      std::vector<unsigned char> got(want.size() + 10, 0xCD);
      DXT24CompressBlocks(level, got.data(), blocks.data(), count, mode);
      EXPECT_EQ(got[want.size()], 0xCD) << "wrote past the last block";
      for (int i = 0; i < count; ++i) {
        if (std::memcmp(&got[i * 10], &want[i * 10], 10) != 0) {
          ADD_FAILURE() << what << ": " << ORXSimdLevelName(level) << " mode " << mode << " block " << i;
          break;
        }
      }
    }
  }
}

void AddBlock(Blocks* out, const std::array<uint32_t, 16>& rgba) {
  for (uint32_t p : rgba) {
    out->push_back(static_cast<unsigned char>(p >> 24));
    out->push_back(static_cast<unsigned char>(p >> 16));
    out->push_back(static_cast<unsigned char>(p >> 8));
    out->push_back(static_cast<unsigned char>(p));
  }
}

TEST(DXT24Simd, LevelsStartWithPlainAndBestIsTheWidest) {
  ORXSimdLevel levels[kORXSimdLevelCount];
  const int n = DXT24EncoderLevels(levels);
  ASSERT_GE(n, 1);
  EXPECT_EQ(levels[0], kSimdPlain);
  EXPECT_EQ(DXT24EncoderBestLevel(), levels[n - 1]);
#if defined(__x86_64__) || defined(__i386__)
  if (__builtin_cpu_supports("sse4.1")) {
    EXPECT_GE(n, 2) << "the SSE4.1 encoder is not offered";
  }
#endif
}

TEST(DXT24Simd, RandomBlocks) {
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    std::mt19937 rng(seed);
    Blocks blocks;
    // Full-range noise, then narrow ranges around a base colour (the common
    // case in footage, and where the refinement does most of its passes).
    const int count = 997;
    for (int b = 0; b < count; ++b) {
      const int spread = (b % 4 == 0) ? 256 : (b % 4 == 1 ? 32 : (b % 4 == 2 ? 8 : 3));
      const int base[3] = {static_cast<int>(rng() % 256), static_cast<int>(rng() % 256), static_cast<int>(rng() % 256)};
      for (int i = 0; i < 16; ++i) {
        for (int ch = 0; ch < 3; ++ch) {
          int v = spread == 256 ? static_cast<int>(rng() % 256) : base[ch] + static_cast<int>(rng() % spread);
          blocks.push_back(static_cast<unsigned char>(v > 255 ? 255 : v));
        }
        blocks.push_back(static_cast<unsigned char>((b % 5 == 0) ? rng() % 256 : 255));
      }
    }
    ExpectSameBlocks(blocks, "seed " + std::to_string(seed));
  }
}

TEST(DXT24Simd, EdgeCaseBlocks) {
  Blocks blocks;
  auto fill = [](uint32_t p) {
    std::array<uint32_t, 16> a;
    a.fill(p);
    return a;
  };
  AddBlock(&blocks, fill(0x0C2238FF));  // constant
  AddBlock(&blocks, fill(0x00000000));
  AddBlock(&blocks, fill(0xFFFFFFFF));
  {  // same colour, alpha differs: not constant, c0 == c1, mask 0
    auto a = fill(0x0C223800);
    for (int i = 0; i < 16; ++i) a[i] |= static_cast<uint32_t>(i);
    AddBlock(&blocks, a);
  }
  for (int odd = 0; odd < 16; ++odd) {  // one odd pixel at each position
    auto a = fill(0x808080FF);
    a[odd] = 0x818080FF;
    AddBlock(&blocks, a);
    a[odd] = 0x00FF00FF;
    AddBlock(&blocks, a);
  }
  {  // two colours, black/white extremes, in several arrangements
    std::array<uint32_t, 16> a;
    for (int i = 0; i < 16; ++i) a[i] = (i % 4 < 2) ? 0x000000FF : 0xFFFFFFFF;
    AddBlock(&blocks, a);
    for (int i = 0; i < 16; ++i) a[i] = (i < 8) ? 0xFFFFFFFF : 0x000000FF;
    AddBlock(&blocks, a);
    for (int i = 0; i < 16; ++i) a[i] = (i == 0) ? 0xFF0000FF : 0x0000FFFF;
    AddBlock(&blocks, a);
    for (int i = 0; i < 16; ++i) a[i] = (i % 2) ? 0x10203040 : 0x10203041;  // differ in alpha only
    AddBlock(&blocks, a);
  }
  for (int step = 1; step <= 85; step += 3) {  // gradients, grey and coloured, both directions
    std::array<uint32_t, 16> a, b, c;
    for (int i = 0; i < 16; ++i) {
      const uint32_t v = static_cast<uint32_t>((i % 4) * step) & 0xFF;
      const uint32_t w = static_cast<uint32_t>(255 - (i * step) % 256);
      a[i] = (v << 24) | (v << 16) | (v << 8) | 0xFF;
      b[i] = (w << 24) | (100u << 16) | ((255 - w) << 8) | 0xFF;
      c[i] = (static_cast<uint32_t>(200 - (i / 4) * (step / 2)) << 24) | (v << 8) | 0xFF;
    }
    AddBlock(&blocks, a);
    AddBlock(&blocks, b);
    AddBlock(&blocks, c);
  }
  {  // the greys 100..103 and the coloured row pattern: thirds matched exactly
    std::array<uint32_t, 16> a, b;
    const uint32_t row[4] = {0xC86432FF, 0x966432FF, 0x646432FF, 0x326432FF};
    for (int i = 0; i < 16; ++i) {
      const uint32_t g = 100 + static_cast<uint32_t>(i % 4);
      a[i] = (g << 24) | (g << 16) | (g << 8) | 0xFF;
      b[i] = row[i % 4];
    }
    AddBlock(&blocks, a);
    AddBlock(&blocks, b);
  }
  // Near-singular systems: all pixels but one or two alike, tiny spreads
  // (refinement converges at once, after one pass, or lands on c0 == c1),
  // and spreads where the fitted end points come out c0 < c1 (swapped).
  std::mt19937 rng(7);
  for (int b = 0; b < 600; ++b) {
    std::array<uint32_t, 16> a;
    const uint32_t base = rng() & 0xFEFEFE00u;
    for (int i = 0; i < 16; ++i) a[i] = base | 0xFF;
    const int odd = 1 + static_cast<int>(rng() % 3);
    for (int k = 0; k < odd; ++k) a[rng() % 16] = (base + (rng() & 0x01010100u)) | 0xFF;
    if (b % 3 == 0) a[rng() % 16] = rng() | 0xFF;
    AddBlock(&blocks, a);
  }
  ExpectSameBlocks(blocks, "edge cases");

  // The edge cases exercise what they claim: constant, c0 == c1 and swapped
  // blocks all appear in the scalar output.
  int constant = 0, equalEnds = 0, lowMask = 0;
  for (size_t i = 0; i < blocks.size() / 64; ++i) {
    unsigned char o[10];
    stb_compress_dxt_block_24(o, &blocks[i * 64], 0, 2);
    uint32_t mask;
    std::memcpy(&mask, o + 6, 4);
    if (std::memcmp(o, o + 3, 3) == 0) (mask == 0xAAAAAAAAu ? constant : equalEnds)++;
    if ((mask & 0x55555555u) != 0) lowMask++;
  }
  EXPECT_GT(constant, 0);
  EXPECT_GT(equalEnds, 0);
  EXPECT_GT(lowMask, 0);
}

std::vector<unsigned char> GrainImage(int w, int h, int rowBytes, uint32_t seed) {
  std::vector<unsigned char> img(static_cast<size_t>(rowBytes) * h, 0x5A);
  ORXMakeTestImageARGB(img.data(), w, h, rowBytes, static_cast<int>(seed));
  ORXAddGrainARGB(img.data(), w, h, rowBytes, 3, seed);
  return img;
}

// Whole images through every level and through _stbCompressARGB32_to24,
// against the scalar image driver; padding bytes past each row stay unread
// in effect (they are filled with a value that would change the output).
void ExpectSameImage(int w, int h, int rowBytes, uint32_t seed) {
  const auto img = GrainImage(w, h, rowBytes == 0 ? 4 * w : rowBytes, seed);
  const size_t size = static_cast<size_t>(CalculateORXBlockDataSize(w, h, false, true));
  std::vector<unsigned char> want(size + 16, 0xCD);
  DXT24CompressImagePlain(want.data(), img.data(), w, h, rowBytes, 0);
  std::vector<unsigned char> best(size + 16, 0xCD);
  _stbCompressARGB32_to24(best.data(), img.data(), w, h, rowBytes, 0);
  EXPECT_EQ(best, want) << w << "x" << h << " rowBytes " << rowBytes << " via _stbCompressARGB32_to24";
  for (ORXSimdLevel level : VectorLevels()) {
    std::vector<unsigned char> got(size + 16, 0xCD);
    DXT24CompressImage(level, got.data(), img.data(), w, h, rowBytes);
    EXPECT_EQ(got, want) << w << "x" << h << " rowBytes " << rowBytes << " " << ORXSimdLevelName(level);
  }
}

TEST(DXT24Simd, ImagesOfOddSizes) {
  const int sizes[][2] = {{1, 1}, {3, 5}, {13, 7}, {4, 4}, {32, 4}, {36, 8}, {33, 9}, {61, 3}, {5, 5}, {127, 17}};
  uint32_t seed = 1;
  for (const auto& s : sizes) {
    ExpectSameImage(s[0], s[1], 0, seed++);
    ExpectSameImage(s[0], s[1], 4 * s[0] + 12, seed++);  // padded rows
  }
}

TEST(DXT24Simd, FullHDGrainPicture) { ExpectSameImage(1920, 1080, 0, 1); }

TEST(DXT24Simd, NothingWrittenForEmptyImages) {
  unsigned char px[16] = {};
  for (ORXSimdLevel level : VectorLevels()) {
    unsigned char out[16];
    std::memset(out, 0xCD, sizeof out);
    DXT24CompressImage(level, out, px, 0, 4, 0);
    DXT24CompressImage(level, out, px, 4, -1, 0);
    for (unsigned char c : out) EXPECT_EQ(c, 0xCD);
  }
}

TEST(DXT24Simd, AlphaStaysOnTheScalarPath) {
  const auto img = GrainImage(9, 6, 36, 3);
  const size_t size = static_cast<size_t>(CalculateORXBlockDataSize(9, 6, true, true));
  std::vector<unsigned char> want(size), got(size);
  DXT24CompressImagePlain(want.data(), img.data(), 9, 6, 36, 1);
  _stbCompressARGB32_to24(got.data(), img.data(), 9, 6, 36, 1);
  EXPECT_EQ(got, want);
}

}  // namespace
