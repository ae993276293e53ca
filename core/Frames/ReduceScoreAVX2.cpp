// Palette scoring, 8 pixels a step with AVX2.
#include "core/Blocks/SimdLanesAVX2.h"
#include "core/Frames/ReduceScoreKernel.h"

void ORXScorePalettesAVX2(const ORXScorePixels& px, const ORXReducePalette* const* palettes, const uint32_t* words,
                          int count, ORXPaletteScore* out) {
  ScorePalettesLanes(px, palettes, words, count, out);
}
