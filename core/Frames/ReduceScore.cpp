// Palette scoring's plain routine and its dispatcher.
#include "core/Frames/ReduceScore.h"

#include <bit>
#include <cstring>

void ORXScorePixelsOf(const unsigned char rgba[64], ORXScorePixels* out) {
  // Whole words, which the compiler keeps in vectors.
  uint32_t v[16];
  if constexpr (std::endian::native == std::endian::little)
    std::memcpy(v, rgba, sizeof v);
  else
    for (int i = 0; i < 16; ++i) v[i] = rgba[4 * i] | uint32_t(rgba[4 * i + 1]) << 8 | uint32_t(rgba[4 * i + 2]) << 16;
  for (int i = 0; i < 16; ++i) {
    out->rg[i] = int32_t((v[i] & 0xFFu) | (v[i] & 0xFF00u) << 8);
    out->b[i] = int32_t(v[i] >> 16 & 0xFFu);
  }
}

ORXPaletteScore ORXScorePalettePlain(const ORXScorePixels& px, const ORXReducePalette& p, uint32_t word) {
  ORXPaletteScore s{0, 0, 0};
  for (int i = 0; i < 16; ++i) {
    const int r = px.rg[i] & 0xFFFF, g = px.rg[i] >> 16, b = px.b[i];
    int32_t d[4];
    for (int e = 0; e < 4; ++e) {
      const int dr = r - p.c[e][0], dg = g - p.c[e][1], db = b - p.c[e][2];
      d[e] = dr * dr + dg * dg + db * db;
    }
    if (!p.fourth) d[3] = kORXScoreFar;
    // The first nearest colour.
    int at = 0;
    for (int e = 1; e < 4; ++e)
      if (d[e] < d[at]) at = e;
    s.bestError += d[at];
    s.bestWord |= uint32_t(at) << (2 * i);
    s.wordError += d[word >> (2 * i) & 3];
  }
  if (s.wordError >= kORXScoreFar) s.wordError = kORXScoreNever;
  return s;
}

void ORXScorePalettesPlain(const ORXScorePixels& px, const ORXReducePalette* const* palettes, const uint32_t* words,
                           int count, ORXPaletteScore* out) {
  for (int j = 0; j < count; ++j) out[j] = ORXScorePalettePlain(px, *palettes[j], words[j]);
}

int ORXScoreLevels(ORXSimdLevel levels[kORXSimdLevelCount]) { return ORXSimdLevels(ORX_SIMD_BUILT, levels); }

ORXSimdLevel ORXScoreBestLevel() {
  static const ORXSimdLevel best = ORXBestSimdLevel(ORX_SIMD_BUILT);
  return best;
}

ORXScoreFunction ORXScoreFunctionOf(ORXSimdLevel level) {
  if (!ORXSimdLevelRuns(ORX_SIMD_BUILT, level)) return ORXScorePalettesPlain;
  switch (level) {
#if defined(ORX_SIMD_AVX2)
    case kSimdAVX2:
      return ORXScorePalettesAVX2;
#endif
#if defined(ORX_SIMD_SSE41)
    case kSimdSSE41:
      return ORXScorePalettesSSE41;
#endif
    default:
      return ORXScorePalettesPlain;
  }
}
