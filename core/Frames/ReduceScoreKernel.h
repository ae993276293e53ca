// Palette scoring over lanes of pixels: kLanes pixels a step. Included by
// each instruction-set file after its lane operations (SimdLanes*.h).
//
// A pixel's squared distance to a colour is its sum of squares, plus the
// colour's, less twice their dot product; the dot product of R and G is one
// 16-bit multiply-add of the two packed halves, B's another. Every value is
// an exact integer, so the lanes agree with the plain routine bit for bit.
#pragma once

#include <cstring>

#include "core/Frames/ReduceScore.h"

namespace {

inline VI LoadLanes(const int32_t* p) {
  VI v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// 4 to the power of each pixel's number: an index times it lands in the
// pixel's two bits of the word.
alignas(32) constexpr int32_t kPowersOf4[16] = {1,       4,        16,       64,        256,        1024,
                                                4096,    16384,    65536,    262144,    1048576,    4194304,
                                                16777216, 67108864, 268435456, 1073741824};

// Far beyond any real distance (3 * 255 * 255): DXT1's transparent black.
constexpr int32_t kFarLane = 1 << 24;

inline ORXPaletteScore ScorePaletteLanes(const ORXScorePixels& px, const ORXReducePalette& p, uint32_t word) {
  VI rg[4], b[4], squares[4];
  for (int e = 0; e < 4; ++e) {
    const int* c = p.c[e];
    rg[e] = Set1(c[0] | c[1] << 16);
    b[e] = Set1(c[2]);
    squares[e] = Set1(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
  }
  alignas(32) int32_t wordIndex[16];
  for (int i = 0; i < 16; ++i) wordIndex[i] = int32_t(word >> (2 * i) & 3);

  const VI one = Set1(1), two = Set1(2), three = Set1(3);
  VI bestSum = Set1(0), wordSum = Set1(0), bits = Set1(0);
  for (int g = 0; g < 16; g += kLanes) {
    const VI pr = LoadLanes(px.rg + g), pb = LoadLanes(px.b + g), ps = LoadLanes(px.squares + g);
    VI d[4];
    for (int e = 0; e < 4; ++e) d[e] = Sub(Add(ps, squares[e]), Slli(Add(Madd(pr, rg[e]), Madd(pb, b[e])), 1));
    if (!p.fourth) d[3] = Set1(kFarLane);
    // The nearer of 0 and 1, of 2 and 3, then of those two: the lowest
    // index at a tie.
    const VI low = Min(d[0], d[1]), high = Min(d[2], d[3]);
    const VI lowAt = And(CmpGt(d[0], d[1]), one), highAt = Or(And(CmpGt(d[2], d[3]), one), two);
    const VI at = Blend(lowAt, highAt, CmpGt(low, high));
    bestSum = Add(bestSum, Min(low, high));
    bits = Or(bits, MulLo(at, LoadLanes(kPowersOf4 + g)));
    const VI index = LoadLanes(wordIndex + g);
    const VI lower = Blend(d[0], d[1], CmpEq(index, one)), upper = Blend(d[2], d[3], CmpEq(index, three));
    wordSum = Add(wordSum, Blend(lower, upper, CmpGt(index, one)));
  }
  alignas(32) uint32_t best[kLanes], words[kLanes], mask[kLanes];
  Store(best, bestSum);
  Store(words, wordSum);
  Store(mask, bits);
  ORXPaletteScore s{0, 0, 0};
  for (int i = 0; i < kLanes; ++i) s.bestError += best[i], s.wordError += words[i], s.bestWord |= mask[i];
  if (s.wordError >= kFarLane) s.wordError = kORXScoreNever;
  return s;
}

}  // namespace
