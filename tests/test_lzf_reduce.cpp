// Block reduction: every block the frames carry decodes, through the codec's
// unchanged block decoders, within its level's error budget; the frames get
// smaller as the level rises; the bytes do not depend on the threads; level
// off and frames without LZF are left as the encoder makes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/Blocks/BlockGather.h"
#include "core/Blocks/DXT24Decoder.h"
#include "core/Blocks/DXTDecoder.h"
#include "core/Format/ORXHeader.h"
#include "core/Frames/LZFReduce.h"
#include "core/Frames/ORXFrameDecode.h"
#include "core/Frames/ORXFrameEncode.h"
#include "core/Frames/ReduceScore.h"
#include "testimage/ORXTestImage.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Variant {
  const char* name;
  bool alpha, dxt24;
};
constexpr Variant kVariants[] = {{"DXT1", false, false}, {"DXT5", true, false}, {"DXT24", false, true},
                                 {"DXT24+alpha", true, true}};

// Pictures with what photographs have: smooth gradients with grain (the
// test image), and noise of every amplitude in patches, with alpha ramps,
// and patches where each block has one alpha of its own.
Bytes Picture(int w, int h, int kind) {
  Bytes argb(size_t(w) * size_t(h) * 4);
  ORXMakeTestImageARGB(argb.data(), w, h, w * 4, kind);
  ORXAddGrainARGB(argb.data(), w, h, w * 4, 2 + 3 * kind, uint32_t(kind + 1));
  std::mt19937 rng(uint32_t(kind) * 7 + 1);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &argb[(size_t(y) * w + x) * 4];
      const int amp = ((x / 24 + y / 16 + kind) % 5) * 12;  // patches from flat to noisy
      for (int k = 1; k < 4; ++k) p[k] = uint8_t(std::clamp(int(p[k]) + int(rng() % (2 * amp + 1)) - amp, 0, 255));
      p[0] = uint8_t(std::clamp(x * 255 / std::max(w - 1, 1) + int(rng() % 9) - 4, 0, 255));
      if ((x / 40 + y / 24 + kind) % 3 == 0) p[0] = uint8_t((x / 4 * 37 + y / 4 * 11) % 256);
    }
  return argb;
}

Bytes Encode(const Bytes& argb, int w, int h, const Variant& v, int level, const ORXJobRunner& runner = {},
             int threads = 1, bool lzf = true) {
  ORXFrameChoices c;
  c.alpha = v.alpha;
  c.dxt24 = v.dxt24;
  c.lzf = lzf;
  c.reduce = level;
  c.runner = runner;
  c.threads = threads;
  ORXEncodeScratch scratch{};
  Bytes frame(size_t(ORXFrameCapacity(w, h, c)));
  const int64_t n = ORXEncodeFrame(argb.data(), w, h, int64_t(w) * 4, c, frame.data(), int64_t(frame.size()), &scratch);
  ORXFreeEncodeScratch(&scratch);
  frame.resize(size_t(n > 0 ? n : 0));
  return frame;
}

// The frame's block data, unpacked.
Bytes Blocks(const Bytes& frame, int w, int h) {
  ORXDecodeScratch scratch{};
  ORXFrameLayout layout{};
  const unsigned char* blocks = nullptr;
  Bytes out;
  // DXT24 decodes whole blocks: the row length of the picture padded to them.
  if (ORXPrepareFrame(frame.data(), int64_t(frame.size()), w, h, int64_t((w + 3) / 4) * 16, &scratch, &layout, &blocks) ==
          ORXStatus::ok &&
      blocks != nullptr)
    out.assign(blocks, blocks + layout.blockDataSize);
  ORXFreeDecodeScratch(&scratch);
  return out;
}

// One block decoded by the codec's block decoders into 16 ARGB pixels.
void DecodeBlock(const uint8_t* block, const Variant& v, uint8_t out[64]) {
  if (v.dxt24) {
    InitThirdsTable();
    (v.alpha ? DecodeDXT24WithAlpha : DecodeDXT24)(block, out, 4, 4, 16);
  } else {
    (v.alpha ? DecodeDXT5ToARGB : DecodeDXT1ToARGB)(block, out, 4, 4, 16);
  }
}

// A decoded block's squared error against its pixels (R, G, B, A as
// gathered): colour and alpha apart.
ORXBlockErrors Errors(const uint8_t argb[64], const uint8_t rgba[64], bool alpha) {
  ORXBlockErrors e;
  for (int i = 0; i < 16; ++i) {
    for (int k = 0; k < 3; ++k) {
      const int d = int(argb[4 * i + 1 + k]) - rgba[4 * i + k];
      e.colour += d * d;
    }
    const int d = int(argb[4 * i]) - rgba[4 * i + 3];
    if (alpha) e.alpha += d * d;
  }
  return e;
}

// A runner of its own: each job on a thread.
void RunOnThreads(void*, int count, ORXJob job, void* context) {
  std::vector<std::thread> threads;
  for (int i = 0; i < count; ++i) threads.emplace_back(job, context, i);
  for (auto& t : threads) t.join();
}

TEST(Reduce, EveryBlockDecodesWithinItsBudgetAndFramesShrink) {
  // Two pictures, one of them odd-sized (edge blocks repeat their last
  // column and row), one large enough for several LZF chunks.
  for (const auto& [w, h, kind] : {std::tuple{317, 203, 0}, std::tuple{1280, 824, 1}}) {
    const Bytes argb = Picture(w, h, kind);
    for (const Variant& v : kVariants) {
      SCOPED_TRACE(std::string(v.name) + " " + std::to_string(w) + "x" + std::to_string(h));
      const Bytes off = Encode(argb, w, h, v, 0);
      const Bytes own = Blocks(off, w, h);
      ASSERT_FALSE(own.empty());
      const int bytes = ORXBytesPerBlock(v.alpha, v.dxt24), across = (w + 3) / 4;
      size_t previous = off.size();
      for (int level = 1; level < kORXReduceLevels; ++level) {
        SCOPED_TRACE("level " + std::to_string(level));
        const Bytes frame = Encode(argb, w, h, v, level);
        const Bytes got = Blocks(frame, w, h);
        ASSERT_EQ(got.size(), own.size());
        int64_t changed = 0;
        for (size_t b = 0; b * bytes < got.size(); ++b) {
          uint8_t px[64], mine[64], theirs[64];
          GatherBlockRGBA(argb.data(), w, h, w * 4, int(b % across), int(b / across), px);
          DecodeBlock(&own[b * bytes], v, mine);
          DecodeBlock(&got[b * bytes], v, theirs);
          const ORXBlockErrors before = Errors(mine, px, v.alpha), after = Errors(theirs, px, v.alpha);
          const int64_t budget = ORXReduceBudget(level, before, v.alpha, v.dxt24);
          ASSERT_LE(after.colour + after.alpha, budget) << "block " << b;
          if (!v.alpha) {
            for (int i = 0; i < 16; ++i) ASSERT_EQ(theirs[4 * i], 255) << "block " << b << " drew a pixel transparent";
          }
          changed += std::memcmp(&own[b * bytes], &got[b * bytes], size_t(bytes)) != 0;
        }
        // A frame that packs too little at a level is stored raw, with the
        // encoder's own blocks; each level packs at least as small.
        if (frame[6] == 1) EXPECT_GT(changed, 0);
        else EXPECT_EQ(changed, 0);
        EXPECT_LE(frame.size(), previous);
        previous = frame.size();
      }
      EXPECT_LT(previous, off.size());
    }
  }
}

TEST(Reduce, BytesAreTheSameAtEveryThreadCountAndOffOrRawLeavesTheEncoders) {
  const int w = 1920, h = 1080;  // four LZF chunks of any variant
  const Bytes argb = Picture(w, h, 0);
  const ORXJobRunner own{RunOnThreads, nullptr, 4};
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.name);
    const Bytes one = Encode(argb, w, h, v, 2);
    EXPECT_EQ(Encode(argb, w, h, v, 2, own, 3), one);
    EXPECT_EQ(Encode(argb, w, h, v, 2, own, 4), one);
    // Without LZF the level changes nothing: the encoder's blocks, raw.
    EXPECT_EQ(Encode(argb, w, h, v, 3, {}, 1, false), Encode(argb, w, h, v, 0, {}, 1, false));
    // Off: the encoder's own blocks, which level 2 changed.
    const Bytes offBlocks = Blocks(Encode(argb, w, h, v, 0), w, h), rawBlocks = Blocks(Encode(argb, w, h, v, 0, {}, 1, false), w, h);
    EXPECT_EQ(offBlocks, rawBlocks);
    EXPECT_NE(Blocks(one, w, h), offBlocks);
  }
}

// Palette scoring: every level gives the plain routine's results on random
// blocks and batches of palettes, extremes and DXT1's three-colour palettes
// among them; and the plain routine's best word is the nearest colour of
// each pixel, the lowest index at a tie.
TEST(Reduce, PaletteScoringAgreesOnEveryLevel) {
  ORXSimdLevel levels[kORXSimdLevelCount];
  const int count = ORXScoreLevels(levels);
  // A level the build made but did not tell the dispatcher of would leave
  // the comparison below with nothing to compare.
  auto offers = [&](ORXSimdLevel l) { return std::find(levels, levels + count, l) != levels + count; };
  EXPECT_EQ(ORXScoreBestLevel(), levels[count - 1]);
#if defined(__x86_64__) || defined(__i386__)
  EXPECT_EQ(offers(kSimdSSE41), __builtin_cpu_supports("sse4.1") != 0);
#endif
#if defined(__x86_64__)
  EXPECT_EQ(offers(kSimdAVX2), __builtin_cpu_supports("avx2") != 0);
#endif
  std::mt19937 rng(7);
  auto value = [&] {
    const uint32_t r = rng() % 8;
    return r == 0 ? 0 : r == 1 ? 255 : int(rng() % 256);
  };
  ORXReducePalette recent[kORXScoreMost] = {};
  uint32_t recentWords[kORXScoreMost] = {};
  for (int trial = 0; trial < 20000; ++trial) {
    uint8_t rgba[64];
    for (uint8_t& v : rgba) v = uint8_t(value());
    if (trial % 5 == 0)  // ties: every pixel one of a few colours
      for (int i = 4; i < 64; ++i) rgba[i] = rgba[i % 8];
    ORXReducePalette p{};
    for (auto& c : p.c)
      for (int& k : c) k = value();
    if (trial % 7 == 0) std::memcpy(p.c[3], p.c[1], sizeof p.c[1]);  // equal colours tie
    p.fourth = trial % 3 != 0;
    ORXPaletteTerms(&p);
    const uint32_t word = uint32_t(rng());
    ORXScorePixels px;
    ORXScorePixelsOf(rgba, &px);
    const ORXPaletteScore want = ORXScorePalettePlain(px, p, word);

    int64_t best = 0, error = 0;
    uint32_t bestWord = 0;
    bool black = false;
    for (int i = 0; i < 16; ++i) {
      int d[4];
      for (int e = 0; e < 4; ++e) {
        d[e] = 0;
        for (int k = 0; k < 3; ++k) d[e] += (rgba[4 * i + k] - p.c[e][k]) * (rgba[4 * i + k] - p.c[e][k]);
      }
      const int colours = p.fourth ? 4 : 3;
      const int at = int(std::min_element(d, d + colours) - d);
      best += d[at];
      bestWord |= uint32_t(at) << (2 * i);
      const int mine = int(word >> (2 * i) & 3);
      black |= mine == 3 && !p.fourth;
      error += d[mine];
    }
    ASSERT_EQ(want.bestError, best) << "trial " << trial;
    ASSERT_EQ(want.bestWord, bestWord) << "trial " << trial;
    ASSERT_EQ(want.wordError, black ? kORXScoreNever : error) << "trial " << trial;
    // Each level scores a batch of one to four palettes in one pass: this
    // trial's and the last ones', each as the plain routine does.
    const int batch = 1 + trial % kORXScoreMost;
    recent[trial % kORXScoreMost] = p;
    recentWords[trial % kORXScoreMost] = word;
    const ORXReducePalette* palettes[kORXScoreMost];
    for (int j = 0; j < batch; ++j) palettes[j] = &recent[(trial - j) % kORXScoreMost];
    uint32_t words[kORXScoreMost];
    for (int j = 0; j < batch; ++j) words[j] = recentWords[(trial - j) % kORXScoreMost];
    for (int l = 0; l < count; ++l) {
      ORXPaletteScore got[kORXScoreMost];
      ORXScoreFunctionOf(levels[l])(px, palettes, words, batch, got);
      for (int j = 0; j < batch; ++j) {
        const ORXPaletteScore want1 = ORXScorePalettePlain(px, *palettes[j], words[j]);
        ASSERT_TRUE(got[j].bestError == want1.bestError && got[j].bestWord == want1.bestWord &&
                    got[j].wordError == want1.wordError)
            << ORXSimdLevelName(levels[l]) << " trial " << trial << " palette " << j << " of " << batch;
      }
    }
  }
}

}  // namespace
