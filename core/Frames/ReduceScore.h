// How well a colour palette fits a block's 16 pixels, the inner step of
// block reduction: each pixel's squared distance to each of the palette's
// four colours, the best index word (the nearest colour, the lowest index at
// a tie) with its error, and the error of a given index word. A plain
// routine and vector kernels (ReduceScoreKernel.h, built at SSE4.1 and AVX2)
// give the same results; the dispatcher here chooses among them.
#pragma once

#include <cstdint>

#include "core/Blocks/ORXCpuFeatures.h"

// A colour block's four colours as the decoders make them (R, G, B);
// fourth is false for DXT1's transparent black, which no pixel may take.
// The kernels take each colour as terms made once by ORXPaletteTerms: R
// and G doubled as two 16-bit halves of a word, B doubled, and the sum of
// squares.
struct ORXReducePalette {
  int c[4][3];
  bool fourth;
  int32_t rg2[4], b2[4], squares[4];
};
inline void ORXPaletteTerms(ORXReducePalette* p) {
  for (int e = 0; e < 4; ++e) {
    const int* c = p->c[e];
    p->rg2[e] = 2 * c[0] | 2 * c[1] << 16;
    p->b2[e] = 2 * c[2];
    p->squares[e] = c[0] * c[0] + c[1] * c[1] + c[2] * c[2];
  }
}

// A block's pixels laid out for scoring: R and G as two 16-bit halves of a
// word, B alone.
struct ORXScorePixels {
  alignas(32) int32_t rg[16];
  alignas(32) int32_t b[16];
};
void ORXScorePixelsOf(const unsigned char rgba[64], ORXScorePixels* out);

// wordError is the error of the word asked for, kORXScoreNever when it has a
// pixel take DXT1's transparent black.
constexpr int64_t kORXScoreNever = INT64_MAX / 4;
// The distance every routine gives DXT1's transparent black: beyond any real
// one (3 x 255 x 255), and 16 of them still fit 32 bits.
constexpr int32_t kORXScoreFar = 1 << 24;
struct ORXPaletteScore {
  int64_t wordError;
  int64_t bestError;
  uint32_t bestWord;
};

// Scores count palettes (1 to kORXScoreMost) against the same pixels in one
// pass, palette j with word words[j], into out[j].
constexpr int kORXScoreMost = 4;
using ORXScoreFunction = void (*)(const ORXScorePixels& px, const ORXReducePalette* const* palettes,
                                  const uint32_t* words, int count, ORXPaletteScore* out);

// The levels this build holds and this processor runs (plain first), and
// the widest of them.
int ORXScoreLevels(ORXSimdLevel levels[kORXSimdLevelCount]);
ORXSimdLevel ORXScoreBestLevel();
// The routine of a level; plain where the level does not run here.
ORXScoreFunction ORXScoreFunctionOf(ORXSimdLevel level);

void ORXScorePalettesPlain(const ORXScorePixels& px, const ORXReducePalette* const* palettes, const uint32_t* words,
                           int count, ORXPaletteScore* out);
void ORXScorePalettesSSE41(const ORXScorePixels& px, const ORXReducePalette* const* palettes, const uint32_t* words,
                           int count, ORXPaletteScore* out);
void ORXScorePalettesAVX2(const ORXScorePixels& px, const ORXReducePalette* const* palettes, const uint32_t* words,
                          int count, ORXPaletteScore* out);

// One palette by the plain routine.
ORXPaletteScore ORXScorePalettePlain(const ORXScorePixels& px, const ORXReducePalette& p, uint32_t word);
