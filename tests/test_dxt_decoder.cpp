// The processor's DXT1 and DXT5 block decoders on the cases that separate
// them: DXT1's three-colour mode (colour 0 not above colour 1), which the
// graphics road draws with a midpoint and a transparent black, and DXT5's
// colour block, which is always four colours.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "core/Blocks/DXT24Decoder.h"
#include "core/Blocks/DXTDecoder.h"
#include "core/Frames/ORXFrameDecode.h"
#include "core/Platform/ORXThread.h"
#include "core/Utilities/ORXSwitches.h"
#include "quicktime/Common/Pools/ORXBandPool.h"

namespace {

using ARGB = std::array<int, 4>;

// A 4x4 DXT1 block whose pixel i takes index i % 4.
std::array<unsigned char, 8> ColourBlock(uint16_t c0, uint16_t c1) {
  return {uint8_t(c0), uint8_t(c0 >> 8), uint8_t(c1), uint8_t(c1 >> 8), 0xE4, 0xE4, 0xE4, 0xE4};
}

std::array<ARGB, 4> FirstRow(const unsigned char* px) {
  std::array<ARGB, 4> row;
  for (int x = 0; x < 4; ++x) row[x] = {px[4 * x], px[4 * x + 1], px[4 * x + 2], px[4 * x + 3]};
  return row;
}

}  // namespace

TEST(DXTDecoder, DXT1ThreeColourBlocksHaveAMidpointAndTransparentBlack) {
  struct Case {
    const char* what;
    uint16_t c0, c1;
    std::array<ARGB, 4> expected;
  };
  const Case cases[] = {
      // The thirds round to nearest: (2 * 255 + 8) / 3 = 172.67 gives 173.
      {"four colours (c0 > c1)", 0xF800, 0x0800,
       {{{255, 255, 0, 0}, {255, 8, 0, 0}, {255, 173, 0, 0}, {255, 90, 0, 0}}}},
      {"three colours (c0 < c1)", 0x001F, 0xF800,
       {{{255, 0, 0, 255}, {255, 255, 0, 0}, {255, 128, 0, 128}, {0, 0, 0, 0}}}},
      {"three colours (c0 = c1)", 0x07E0, 0x07E0,
       {{{255, 0, 255, 0}, {255, 0, 255, 0}, {255, 0, 255, 0}, {0, 0, 0, 0}}}},
  };
  for (const Case& c : cases) {
    const auto block = ColourBlock(c.c0, c.c1);
    unsigned char px[64] = {};
    DecodeDXT1ToARGB(block.data(), px, 4, 4, 16);
    EXPECT_EQ(FirstRow(px), c.expected) << c.what;
  }
}

TEST(DXTDecoder, DXT5ColourBlocksAreAlwaysFourColours) {
  unsigned char block[16] = {255, 255, 0, 0, 0, 0, 0, 0};  // alpha 255 everywhere
  const auto colour = ColourBlock(0x001F, 0xF800);      // c0 < c1
  for (int i = 0; i < 8; ++i) block[8 + i] = colour[i];
  unsigned char px[64] = {};
  DecodeDXT5ToARGB(block, px, 4, 4, 16);
  const std::array<ARGB, 4> expected = {{{255, 0, 0, 255}, {255, 255, 0, 0}, {255, 85, 0, 170}, {255, 170, 0, 85}}};
  EXPECT_EQ(FirstRow(px), expected);
}

namespace {

// Random block bytes with every end-point order well represented: a quarter
// of the colour blocks get c0 == c1 and a quarter of the alpha blocks
// a0 == a1 (the modes' boundaries), a few are all 0 or all 255.
std::vector<unsigned char> RandomBlocks(size_t count, bool alpha, uint32_t seed) {
  const size_t bytes = alpha ? 16 : 8;
  std::vector<unsigned char> b(count * bytes);
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  for (size_t i = 0; i < count; ++i) {
    unsigned char* blk = b.data() + i * bytes;
    for (size_t k = 0; k < bytes; ++k) blk[k] = static_cast<unsigned char>(next());
    const uint32_t kind = next() % 16;
    unsigned char* colour = blk + (alpha ? 8 : 0);
    if (kind < 4) colour[2] = colour[0], colour[3] = colour[1];
    if (alpha && kind >= 4 && kind < 8) blk[1] = blk[0];
    if (kind == 8) std::fill(blk, blk + bytes, 0);
    if (kind == 9) std::fill(blk, blk + bytes, 255);
  }
  return b;
}

struct Image {
  int w, h, rowBytes;
};

std::vector<unsigned char> DecodeAt(ORXSimdLevel level, const Image& im, const std::vector<unsigned char>& blocks,
                                    bool alpha) {
  std::vector<unsigned char> px(static_cast<size_t>(im.rowBytes) * im.h + 16, 0x5A);
  DecodeDXTImage(level, blocks.data(), px.data(), im.w, im.h, im.rowBytes, alpha);
  return px;
}

size_t BlockCount(const Image& im) { return static_cast<size_t>((im.w + 3) / 4) * ((im.h + 3) / 4); }

}  // namespace

// Each family's dispatcher is told by the build which levels it holds: one
// left untold would quietly decode on the plain path and every identity check
// would skip. So the levels a family offers are the ones this processor runs
// of those the build makes (SSE4.1 on x86, AVX2 except on 32-bit Windows, the
// DXT24 rows' SSSE3 on x86-64).
TEST(DXTDecoderLevels, EachFamilyOffersTheLevelsThisProcessorRuns) {
  ORXSimdLevel levels[kORXSimdLevelCount];
  const int n = DXTDecoderLevels(levels);
  ASSERT_GE(n, 1);
  EXPECT_EQ(levels[0], kSimdPlain);
  EXPECT_EQ(DXTDecoderBestLevel(), levels[n - 1]);
  const std::vector<ORXSimdLevel> offered(levels, levels + n);
  auto offers = [&](ORXSimdLevel l) { return std::find(offered.begin(), offered.end(), l) != offered.end(); };
  EXPECT_FALSE(offers(kSimdSSSE3)) << "the decoder has no SSSE3 kernel";
#if defined(__x86_64__) || defined(__i386__)
  EXPECT_EQ(offers(kSimdSSE41), __builtin_cpu_supports("sse4.1") != 0);
#endif
#if defined(__x86_64__)
  EXPECT_EQ(offers(kSimdAVX2), __builtin_cpu_supports("avx2") != 0);
  EXPECT_EQ(DXT24DecoderUsesVectorRows(), __builtin_cpu_supports("ssse3") != 0);
#endif
}

// Every vector level against the plain decoder, byte for byte, over 2^20
// random blocks of each kind (so every mode and index pattern turns up),
// every pair of DXT5 alpha end points, and images of odd sizes with padded
// rows, whose bytes beyond the image must stay untouched.
TEST(DXTDecoderLevels, EveryLevelGivesThePlainPixels) {
  ORXSimdLevel levels[kORXSimdLevelCount];
  const int n = DXTDecoderLevels(levels);
  if (n < 2) GTEST_SKIP() << "this processor runs no vector level";
  for (bool alpha : {false, true}) {
    SCOPED_TRACE(alpha ? "DXT5" : "DXT1");
    std::vector<std::pair<Image, std::vector<unsigned char>>> cases;
    const Image big{2048, 2048, 2048 * 4};  // 2^18 blocks
    for (uint32_t seed = 1; seed <= 4; ++seed) cases.push_back({big, RandomBlocks(BlockCount(big), alpha, seed)});
    if (alpha) {
      // Every (a0, a1), each with random indices and colour.
      const Image pairs{1024, 256, 1024 * 4};
      auto blocks = RandomBlocks(BlockCount(pairs), true, 99);
      for (size_t i = 0; i < BlockCount(pairs); ++i) blocks[i * 16] = uint8_t(i), blocks[i * 16 + 1] = uint8_t(i >> 8);
      cases.push_back({pairs, blocks});
    }
    const Image odd[] = {{1, 1, 4}, {3, 5, 40}, {5, 3, 20}, {6, 6, 24}, {7, 9, 7 * 4 + 12}, {13, 2, 13 * 4 + 4},
                         {37, 17, 160}, {1023, 7, 1023 * 4}, {258, 131, 258 * 4 + 8}};
    for (const Image& im : odd) cases.push_back({im, RandomBlocks(BlockCount(im), alpha, uint32_t(im.w * 31 + im.h))});
    for (const auto& [im, blocks] : cases) {
      SCOPED_TRACE(std::to_string(im.w) + "x" + std::to_string(im.h) + " row " + std::to_string(im.rowBytes));
      const auto want = DecodeAt(kSimdPlain, im, blocks, alpha);
      for (int l = 1; l < n; ++l) {
        const auto got = DecodeAt(levels[l], im, blocks, alpha);
        if (got == want) continue;
        size_t at = 0;
        while (got[at] == want[at]) ++at;
        const size_t y = at / im.rowBytes, x = at % im.rowBytes / 4;
        const size_t block = (y / 4) * ((im.w + 3) / 4) + x / 4;
        FAIL() << ORXSimdLevelName(levels[l]) << ": first difference at pixel (" << x << ", " << y << ") byte "
               << at % 4 << ", block " << block << ": " << int(got[at]) << " against " << int(want[at]);
      }
    }
  }
}

// The decompressor's road: the frame road cutting the frame into bands over
// the decode pool.
static void DecodeOnPool(const unsigned char* blocks, unsigned char* dest, int w, int h, int rowBytes, bool alpha) {
  ORXFrameLayout layout;
  layout.header.hasAlpha = alpha ? 1 : 0;
  const ORXJobRunner pool = ORXDecodePoolRunner();
  ORXDecodeBlocksOnProcessor(layout, blocks, w, h, dest, rowBytes, &pool);
}

// Frames of a megapixel and more go in bands over the decode pool: the same
// bytes as the plain decode, padding untouched, for DXT1 and DXT5, and for
// several decoders at once on their own threads (whichever holds the pool).
TEST(DXTDecoderLevels, BandedFramesEqualTheOneThreadDecode) {
  const Image frames[] = {{1920, 1080, 1920 * 4}, {1921, 1083, 1921 * 4 + 20}, {5000, 261, 5000 * 4 + 4}};
  for (bool alpha : {false, true})
    for (const Image& im : frames) {
      SCOPED_TRACE(std::to_string(im.w) + "x" + std::to_string(im.h) + (alpha ? " DXT5" : " DXT1"));
      const auto blocks = RandomBlocks(BlockCount(im), alpha, uint32_t(im.w + im.h));
      const auto want = DecodeAt(kSimdPlain, im, blocks, alpha);
      std::vector<unsigned char> got(want.size(), 0x5A);
      (alpha ? DecodeDXT5ToARGB : DecodeDXT1ToARGB)(blocks.data(), got.data(), im.w, im.h, im.rowBytes);
      EXPECT_TRUE(got == want);
      std::vector<unsigned char> banded(want.size(), 0x5A);
      DecodeOnPool(blocks.data(), banded.data(), im.w, im.h, im.rowBytes, alpha);
      EXPECT_TRUE(banded == want);
      std::vector<unsigned char> one(want.size(), 0x5A);
      DecodeDXTOnCallingThread(blocks.data(), one.data(), im.w, im.h, im.rowBytes, alpha);
      EXPECT_TRUE(one == want);
    }
  const Image f{1920, 1088, 1920 * 4};
  std::vector<std::vector<unsigned char>> blocks, want;
  for (uint32_t i = 0; i < 3; ++i) {
    blocks.push_back(RandomBlocks(BlockCount(f), i == 1, 200 + i));
    want.push_back(DecodeAt(kSimdPlain, f, blocks.back(), i == 1));
  }
  int bad[3] = {0, 0, 0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i)
    threads.emplace_back([&, i] {
      std::vector<unsigned char> px(want[i].size(), 0x5A);
      for (int k = 0; k < 4; ++k) {
        DecodeOnPool(blocks[i].data(), px.data(), f.w, f.h, f.rowBytes, i == 1);
        bad[i] += px != want[i];
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(bad[0] + bad[1] + bad[2], 0);
}

// The pool can be turned off for hosts that run a stream per processor: then
// it offers no runner and the caller decodes alone.
TEST(DecodePool, TurnedOffRunsNothingAndOnCoversEveryRow) {
  std::atomic<int> covered{0};
  const ORXJob job = [](void* context, int) { ++*static_cast<std::atomic<int>*>(context); };
#ifdef _WIN32
  _putenv("ORX_DECODE_POOL=0");
#else
  setenv("ORX_DECODE_POOL", "0", 1);
#endif
  ORXJobRunner off = ORXDecodePoolRunner();
  EXPECT_EQ(off.run, nullptr);
  EXPECT_EQ(off.threads, 1);
#ifdef _WIN32
  _putenv("ORX_DECODE_POOL=No");
#else
  setenv("ORX_DECODE_POOL", "No", 1);
#endif
  off = ORXDecodePoolRunner();
  EXPECT_EQ(off.run, nullptr);
  EXPECT_EQ(off.threads, 1);
#ifdef _WIN32
  _putenv("ORX_DECODE_POOL=");
#else
  unsetenv("ORX_DECODE_POOL");
#endif
  if (ORXProcessorCount() < 2) GTEST_SKIP() << "one processor: no pool";
  const ORXJobRunner on = ORXDecodePoolRunner();
  ASSERT_NE(on.run, nullptr);
  EXPECT_GT(on.threads, 1);
  on.run(on.self, 270, job, &covered);
  EXPECT_EQ(covered.load(), 270);
}

namespace {

// Every environment switch takes 1, yes or true and 0, no or false, in any
// case; anything else is refused in one line that names the variable, the
// value and the words it takes, once a process, and the switch keeps its
// default.
void SetSwitch(const char* name, const char* value) {  // null: unset
#ifdef _WIN32
  _putenv_s(name, value ? value : "");
#else
  if (value) setenv(name, value, 1);
  else unsetenv(name);
#endif
}

TEST(Switches, SixWordsInAnyCaseAndAnythingElseRefusedOnce) {
  for (const char* word : {"1", "yes", "YES", "Yes", "true", "TRUE", "tRuE"}) {
    bool on = false;
    EXPECT_TRUE(ORXParseSwitchValue(word, &on) && on) << word;
  }
  for (const char* word : {"0", "no", "NO", "false", "False"}) {
    bool on = true;
    EXPECT_TRUE(ORXParseSwitchValue(word, &on) && !on) << word;
  }
  for (const char* word : {"2", "on", "off", "y", "n", "tru", "yess", " 1", "1 ", "01", "-1", "", "1\n", "nein"}) {
    bool on = true;
    EXPECT_FALSE(ORXParseSwitchValue(word, &on)) << word;
    EXPECT_TRUE(on) << word << ": a refused word changes nothing";
  }

  SetSwitch("ORX_DISABLE_GL", "no");
  EXPECT_FALSE(ORXSwitchOn(ORXSwitch::disableGL));
  SetSwitch("ORX_DISABLE_GL", "Yes");
  EXPECT_TRUE(ORXSwitchOn(ORXSwitch::disableGL));
  EXPECT_STREQ(ORXSwitchSetting(ORXSwitch::disableGL), "Yes");
  SetSwitch("ORX_DECODE_POOL", "");  // empty: as if unset
  EXPECT_TRUE(ORXSwitchOn(ORXSwitch::decodePool));

  testing::internal::CaptureStderr();
  SetSwitch("ORX_FORCE_GL", "2");
  EXPECT_FALSE(ORXSwitchOn(ORXSwitch::forceGL));
  EXPECT_FALSE(ORXSwitchOn(ORXSwitch::forceGL));
  EXPECT_EQ(ORXSwitchSetting(ORXSwitch::forceGL), nullptr);
  SetSwitch("ORX_DECODE_POOL", "off\n");
  EXPECT_TRUE(ORXSwitchOn(ORXSwitch::decodePool));
  std::atomic<int> covered{0};
  const ORXJobRunner pool = ORXDecodePoolRunner();
  ORXRunJobs(&pool, 64, [](void* c, int) { ++*static_cast<std::atomic<int>*>(c); }, &covered);
  const std::string said = testing::internal::GetCapturedStderr();
  if (ORXProcessorCount() >= 2) {
    EXPECT_NE(pool.run, nullptr) << "a refused value leaves the pool on";
  }
  EXPECT_EQ(covered.load(), 64);
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2) << said;
  EXPECT_NE(said.find("ORX_FORCE_GL=\"2\""), std::string::npos) << said;
  EXPECT_NE(said.find("ORX_DECODE_POOL=\"off\\x0A\""), std::string::npos) << said;
  EXPECT_NE(said.find("1, yes or true (on), or 0, no or false (off)"), std::string::npos) << said;
  EXPECT_NE(said.find("stays off"), std::string::npos) << said;
  EXPECT_NE(said.find("stays on"), std::string::npos) << said;
  for (const char* name : {"ORX_DISABLE_GL", "ORX_FORCE_GL", "ORX_DECODE_POOL"}) SetSwitch(name, nullptr);
}

}  // namespace
