// Every vector DXT1/DXT5 encoder against the stb_dxt block encoder the
// project links, byte for byte, on each instruction-set level this machine
// runs: a million random blocks, blocks cut from pictures, and the cases
// where the encoder takes its special roads.
#include <gtest/gtest.h>

#include <stb_dxt.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/Blocks/DXTSimd.h"
#include "core/Blocks/DXTStandard.h"
#include "core/Format/ORXHeader.h"
#include "testimage/ORXTestImage.h"

#if defined(ORX_TEST_CLIP)
#include "TestClip.h"
#endif

namespace {

using Blocks = std::vector<unsigned char>;  // 64 bytes a block, R, G, B, A

std::vector<ORXSimdLevel> VectorLevels() {
  ORXSimdLevel levels[kORXSimdLevelCount];
  const int n = DXTEncoderLevels(levels);
  return std::vector<ORXSimdLevel>(levels + 1, levels + n);
}

// Each vector level against the library, DXT1 and DXT5, in the mode given.
// Counts that are not a multiple of the lane width exercise the short tail.
void ExpectSameBlocks(const Blocks& blocks, const std::string& what, int mode = STB_DXT_HIGHQUAL) {
  const int count = static_cast<int>(blocks.size() / 64);
  for (int alpha : {0, 1}) {
    const int bytes = alpha ? 16 : 8;
    std::vector<unsigned char> want(static_cast<size_t>(count) * bytes);
    for (int i = 0; i < count; ++i) stb_compress_dxt_block(&want[i * bytes], &blocks[i * 64], alpha, mode);
    for (ORXSimdLevel level : VectorLevels()) {
      std::vector<unsigned char> got(want.size() + 16, 0xCD);
      DXTCompressBlocks(level, got.data(), blocks.data(), count, alpha, mode);
      EXPECT_EQ(got[want.size()], 0xCD) << "wrote past the last block";
      for (int i = 0; i < count; ++i) {
        if (std::memcmp(&got[i * bytes], &want[i * bytes], bytes) != 0) {
          std::string px;
          for (int k = 0; k < 64; ++k) px += std::to_string(blocks[i * 64 + k]) + (k % 4 == 3 ? " | " : ",");
          ADD_FAILURE() << what << ": " << ORXSimdLevelName(level) << (alpha ? " DXT5" : " DXT1") << " mode "
                        << mode << " block " << i << ": " << px;
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

std::array<uint32_t, 16> Filled(uint32_t p) {
  std::array<uint32_t, 16> a;
  a.fill(p);
  return a;
}

TEST(DXTSimd, OffersEveryLevelTheProcessorRuns) {
  ORXSimdLevel levels[kORXSimdLevelCount];
  const int n = DXTEncoderLevels(levels);
  ASSERT_GE(n, 1);
  EXPECT_EQ(levels[0], kSimdPlain);
  EXPECT_EQ(DXTEncoderBestLevel(), levels[n - 1]);
#if defined(__x86_64__) || defined(__i386__)
  if (__builtin_cpu_supports("sse4.1")) {
    EXPECT_GE(n, 2) << "the SSE4.1 encoder is not offered";
  }
#if defined(__x86_64__)
  if (__builtin_cpu_supports("avx2")) {
    EXPECT_EQ(levels[n - 1], kSimdAVX2) << "the AVX2 encoder is not offered";
  }
#endif
#endif
}

// A million blocks in all: full-range noise, narrow spreads around a base
// colour (where the refinement works hardest), and alpha that is opaque,
// random, only 0 and 255, or a ramp.
TEST(DXTSimd, AMillionRandomBlocks) {
  const int kSeeds = 20, kPerSeed = 50000;
  for (int seed = 1; seed <= kSeeds; ++seed) {
    std::mt19937 rng(static_cast<uint32_t>(seed));
    Blocks blocks;
    blocks.reserve(static_cast<size_t>(kPerSeed) * 64);
    for (int b = 0; b < kPerSeed; ++b) {
      static const int kSpreads[6] = {256, 64, 16, 6, 3, 2};
      const int spread = kSpreads[rng() % 6];
      const int base[3] = {static_cast<int>(rng() % 256), static_cast<int>(rng() % 256),
                           static_cast<int>(rng() % 256)};
      const int alphaKind = static_cast<int>(rng() % 4);
      for (int i = 0; i < 16; ++i) {
        for (int ch = 0; ch < 3; ++ch) {
          const int v = spread == 256 ? static_cast<int>(rng() % 256) : base[ch] + static_cast<int>(rng() % spread);
          blocks.push_back(static_cast<unsigned char>(v > 255 ? 255 : v));
        }
        const int a = alphaKind == 0 ? 255
                      : alphaKind == 1 ? static_cast<int>(rng() % 256)
                      : alphaKind == 2 ? ((rng() & 1) ? 255 : 0)
                                       : (base[0] + i * (1 + base[1] % 17)) % 256;
        blocks.push_back(static_cast<unsigned char>(a));
      }
    }
    ExpectSameBlocks(blocks, "seed " + std::to_string(seed));
    if (seed <= 2) ExpectSameBlocks(blocks, "seed " + std::to_string(seed), STB_DXT_NORMAL);
  }
}

TEST(DXTSimd, HardCases) {
  Blocks blocks;
  for (uint32_t p : {0x0C2238FFu, 0x00000000u, 0xFFFFFFFFu, 0x7F7F7F80u, 0x08040200u}) AddBlock(&blocks, Filled(p));
  for (int v = 0; v < 256; ++v) {  // every solid grey and primary: the single-colour tables end to end
    AddBlock(&blocks, Filled((static_cast<uint32_t>(v) * 0x01010100u) | 0xFF));
    AddBlock(&blocks, Filled((static_cast<uint32_t>(v) << 24) | (static_cast<uint32_t>(255 - v) << 8) | 0x80));
  }
  {  // same colour, alpha differs: constant for DXT5, not for DXT1
    auto a = Filled(0x0C223800);
    for (int i = 0; i < 16; ++i) a[i] |= static_cast<uint32_t>(i * 17);
    AddBlock(&blocks, a);
  }
  for (int odd = 0; odd < 16; ++odd) {  // one odd pixel at each position
    auto a = Filled(0x808080FF);
    a[odd] = 0x818080FF;
    AddBlock(&blocks, a);
    a[odd] = 0x00FF00FF;
    AddBlock(&blocks, a);
    a[odd] = 0x80808000;  // alpha only
    AddBlock(&blocks, a);
  }
  {  // two colours in several arrangements
    std::array<uint32_t, 16> a;
    for (int i = 0; i < 16; ++i) a[i] = (i % 4 < 2) ? 0x000000FF : 0xFFFFFFFF;
    AddBlock(&blocks, a);
    for (int i = 0; i < 16; ++i) a[i] = (i < 8) ? 0xFFFFFF00 : 0x000000FF;
    AddBlock(&blocks, a);
    for (int i = 0; i < 16; ++i) a[i] = (i == 0) ? 0xFF0000FF : 0x0000FFFF;
    AddBlock(&blocks, a);
    for (int i = 0; i < 16; ++i) a[i] = (i % 2) ? 0x10203040 : 0x10203041;
    AddBlock(&blocks, a);
  }
  for (int step = 1; step <= 85; step += 2) {  // gradients, grey and coloured, both directions; alpha ramps
    std::array<uint32_t, 16> a, b, c;
    for (int i = 0; i < 16; ++i) {
      const uint32_t v = static_cast<uint32_t>((i % 4) * step) & 0xFF;
      const uint32_t w = static_cast<uint32_t>(255 - (i * step) % 256);
      a[i] = (v << 24) | (v << 16) | (v << 8) | (255 - v);
      b[i] = (w << 24) | (100u << 16) | ((255 - w) << 8) | static_cast<uint32_t>(i * step % 256);
      c[i] = (static_cast<uint32_t>(200 - (i / 4) * (step / 2)) << 24) | (v << 8) | (i < 8 ? 0u : 255u);
    }
    AddBlock(&blocks, a);
    AddBlock(&blocks, b);
    AddBlock(&blocks, c);
  }
  for (int lo = 0; lo < 256; lo += 5) {  // alpha spans of every width, both sides of the bias switch at 8
    for (int span : {1, 2, 7, 8, 9, 40, 255}) {
      std::array<uint32_t, 16> a;
      for (int i = 0; i < 16; ++i) {
        const int v = lo + (span * i) / 15;
        a[i] = 0x40608000u | static_cast<uint32_t>(v > 255 ? 255 : v);
      }
      AddBlock(&blocks, a);
    }
  }
  // Near-singular systems: all pixels but one to three alike, tiny spreads.
  std::mt19937 rng(7);
  for (int b = 0; b < 2000; ++b) {
    std::array<uint32_t, 16> a;
    const uint32_t base = rng() & 0xFEFEFE00u;
    for (int i = 0; i < 16; ++i) a[i] = base | 0xFF;
    const int odd = 1 + static_cast<int>(rng() % 3);
    for (int k = 0; k < odd; ++k) a[rng() % 16] = (base + (rng() & 0x07070700u)) | (rng() & 0xFF);
    if (b % 3 == 0) a[rng() % 16] = rng();
    AddBlock(&blocks, a);
  }
  ExpectSameBlocks(blocks, "hard cases");
  ExpectSameBlocks(blocks, "hard cases", STB_DXT_NORMAL);

  // The cases reach the library's special roads: solid blocks (mask
  // 0xAAAAAAAA or its swap), equal end points, and swapped end points.
  int solid = 0, equalEnds = 0, swapped = 0;
  for (size_t i = 0; i < blocks.size() / 64; ++i) {
    unsigned char o[8];
    stb_compress_dxt_block(o, &blocks[i * 64], 0, STB_DXT_HIGHQUAL);
    uint32_t mask;
    std::memcpy(&mask, o + 4, 4);
    if (mask == 0xAAAAAAAAu || mask == 0xFFFFFFFFu) solid++;
    if (std::memcmp(o, o + 2, 2) == 0) equalEnds++;
    if ((mask & 0x55555555u) != 0 && mask != 0xFFFFFFFFu) swapped++;
  }
  EXPECT_GT(solid, 0);
  EXPECT_GT(equalEnds, 0);
  EXPECT_GT(swapped, 0);
}

// Blocks cut from pictures: the test picture with and without grain, with
// an alpha pattern over it, and (Linux build) frames of the demo clip.
void CutBlocks(const unsigned char* argb, int w, int h, int rowBytes, Blocks* out) {
  for (int by = 0; by + 4 <= h; by += 4) {
    for (int bx = 0; bx + 4 <= w; bx += 4) {
      for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
          const unsigned char* p = argb + static_cast<size_t>(by + y) * rowBytes + (bx + x) * 4;
          out->insert(out->end(), {p[1], p[2], p[3], p[0]});
        }
      }
    }
  }
}

TEST(DXTSimd, BlocksOfPictures) {
  const int w = 640, h = 360;
  std::vector<unsigned char> img(static_cast<size_t>(w) * h * 4);
  Blocks blocks;
  ORXMakeTestImageARGB(img.data(), w, h, 0, 3);
  CutBlocks(img.data(), w, h, w * 4, &blocks);
  ORXAddGrainARGB(img.data(), w, h, 0, 3, 11);
  for (int i = 0; i < w * h; ++i) img[static_cast<size_t>(i) * 4] = static_cast<unsigned char>((i * 7) % 256);
  CutBlocks(img.data(), w, h, w * 4, &blocks);
  ExpectSameBlocks(blocks, "test picture");
#if defined(ORX_TEST_CLIP)
  for (int frame : {0, 40}) {
    orxapp::ImageARGB clip;
    orxapp::MakeTestClipFrame(&clip, orxapp::kTestClipWidth, orxapp::kTestClipHeight, frame);
    Blocks clipBlocks;
    CutBlocks(clip.pixels.data(), clip.width, clip.height, static_cast<int>(clip.RowBytes()), &clipBlocks);
    ExpectSameBlocks(clipBlocks, "demo clip frame " + std::to_string(frame));
  }
#endif
}

// Whole images through every level and through stbCompressARGB32, against
// the scalar image driver, including edge blocks and padded rows.
void ExpectSameImage(int w, int h, int rowBytes, uint32_t seed) {
  const int stride = rowBytes == 0 ? 4 * w : rowBytes;
  std::vector<unsigned char> img(static_cast<size_t>(stride) * h, 0x5A);
  ORXMakeTestImageARGB(img.data(), w, h, stride, static_cast<int>(seed));
  ORXAddGrainARGB(img.data(), w, h, stride, 3, seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img[static_cast<size_t>(y) * stride + x * 4] = static_cast<unsigned char>(x * 9 + y);
  for (int alpha : {0, 1}) {
    const size_t size = static_cast<size_t>(CalculateORXBlockDataSize(w, h, alpha != 0, false));
    std::vector<unsigned char> want(size + 16, 0xCD);
    DXTCompressImagePlain(want.data(), img.data(), w, h, rowBytes, alpha);
    std::vector<unsigned char> best(size + 16, 0xCD);
    stbCompressARGB32(best.data(), img.data(), w, h, rowBytes, alpha);
    EXPECT_EQ(best, want) << w << "x" << h << " rowBytes " << rowBytes << " alpha " << alpha;
    for (ORXSimdLevel level : VectorLevels()) {
      std::vector<unsigned char> got(size + 16, 0xCD);
      DXTCompressImage(level, got.data(), img.data(), w, h, rowBytes, alpha);
      EXPECT_EQ(got, want) << w << "x" << h << " rowBytes " << rowBytes << " alpha " << alpha << " "
                           << ORXSimdLevelName(level);
    }
  }
}

TEST(DXTSimd, ImagesOfOddSizesAndTheFullHDPicture) {
  const int sizes[][2] = {{1, 1}, {3, 5}, {13, 7}, {4, 4}, {32, 4}, {36, 8}, {33, 9}, {61, 3}, {127, 17}};
  uint32_t seed = 1;
  for (const auto& s : sizes) {
    ExpectSameImage(s[0], s[1], 0, seed++);
    ExpectSameImage(s[0], s[1], 4 * s[0] + 12, seed++);
  }
  ExpectSameImage(1920, 1080, 0, 1);

  unsigned char px[16] = {};
  for (ORXSimdLevel level : VectorLevels()) {
    unsigned char out[16];
    std::memset(out, 0xCD, sizeof out);
    DXTCompressImage(level, out, px, 0, 4, 0, 1);
    DXTCompressImage(level, out, px, 4, -1, 0, 0);
    for (unsigned char c : out) EXPECT_EQ(c, 0xCD) << "wrote for an empty image";
  }
}

}  // namespace
