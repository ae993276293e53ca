// Palette scoring over lanes of pixels: kLanes pixels a step. Included by
// each instruction-set file after its lane operations (SimdLanes*.h).
//
// A pixel's squared distance to a colour is its sum of squares, plus the
// colour's, less twice their dot product. Each is a 16-bit multiply-add or
// two: the pixel's R and G packed as halves of a word, with themselves or
// with the colour's doubled ones, and B alike. Every value is an exact
// integer, so the lanes agree with the plain routine bit for bit.
#pragma once

#include <cstring>

#include "core/Frames/ReduceScore.h"

namespace {

inline VI LoadLanes(const int32_t* p) {
  VI v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Each pixel's two bits of an index word: the low bit, then the high one.
alignas(32) constexpr int32_t kLowBits[16] = {1 << 0,  1 << 2,  1 << 4,  1 << 6,  1 << 8,  1 << 10, 1 << 12, 1 << 14,
                                              1 << 16, 1 << 18, 1 << 20, 1 << 22, 1 << 24, 1 << 26, 1 << 28, 1 << 30};
alignas(32) constexpr int32_t kHighBits[16] = {1 << 1,  1 << 3,  1 << 5,  1 << 7,  1 << 9,  1 << 11,
                                               1 << 13, 1 << 15, 1 << 17, 1 << 19, 1 << 21, 1 << 23,
                                               1 << 25, 1 << 27, 1 << 29, int32_t(1u << 31)};

// One palette's sums so far, lane by lane.
struct PaletteSums {
  VI best, word, bits;
};

// Adds a group of kLanes pixels' part of one palette's score.
inline void ScoreGroup(const ORXReducePalette& p, uint32_t word, VI pr, VI pb, VI ps, VI lowBit, VI highBit,
                       PaletteSums* sums) {
  VI d[4];
  for (int e = 0; e < 4; ++e)
    d[e] = Sub(Add(ps, Set1(p.squares[e])), Add(Madd(pr, Set1(p.rg2[e])), Madd(pb, Set1(p.b2[e]))));
  if (!p.fourth) d[3] = Set1(kORXScoreFar);
  // The nearer of 0 and 1, of 2 and 3, then of those two: the lowest index
  // at a tie.
  const VI low = Min(d[0], d[1]), high = Min(d[2], d[3]);
  const VI upper = CmpGt(low, high);
  const VI odd = Blend(CmpGt(d[0], d[1]), CmpGt(d[2], d[3]), upper);
  sums->best = Add(sums->best, Min(low, high));
  sums->bits = Or(sums->bits, Or(And(odd, lowBit), And(upper, highBit)));
  // The given word's colour: its low bit picks within a pair, its high bit
  // the pair.
  const VI words = Set1(int32_t(word));
  const VI wordOdd = CmpEq(And(words, lowBit), lowBit), wordUpper = CmpEq(And(words, highBit), highBit);
  sums->word = Add(sums->word, Blend(Blend(d[0], d[1], wordOdd), Blend(d[2], d[3], wordOdd), wordUpper));
}

// The pixels are loaded once a group for all the palettes.
inline void ScorePalettesLanes(const ORXScorePixels& px, const ORXReducePalette* const* palettes,
                               const uint32_t* words, int count, ORXPaletteScore* out) {
  PaletteSums sums[kORXScoreMost];
  for (int j = 0; j < count; ++j) sums[j] = {Set1(0), Set1(0), Set1(0)};
  for (int g = 0; g < 16; g += kLanes) {
    const VI pr = LoadLanes(px.rg + g), pb = LoadLanes(px.b + g), ps = Add(Madd(pr, pr), Madd(pb, pb));
    const VI lowBit = LoadLanes(kLowBits + g), highBit = LoadLanes(kHighBits + g);
    for (int j = 0; j < count; ++j) ScoreGroup(*palettes[j], words[j], pr, pb, ps, lowBit, highBit, &sums[j]);
  }
  for (int j = 0; j < count; ++j) {
    alignas(32) uint32_t best[kLanes], errors[kLanes], mask[kLanes];
    Store(best, sums[j].best);
    Store(errors, sums[j].word);
    Store(mask, sums[j].bits);
    ORXPaletteScore s{0, 0, 0};
    for (int i = 0; i < kLanes; ++i) s.bestError += best[i], s.wordError += errors[i], s.bestWord |= mask[i];
    if (s.wordError >= kORXScoreFar) s.wordError = kORXScoreNever;
    out[j] = s;
  }
}

}  // namespace
