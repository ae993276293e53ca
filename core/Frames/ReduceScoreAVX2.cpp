// Palette scoring, 8 pixels a step with AVX2.
#include "core/Blocks/SimdLanesAVX2.h"
#include "core/Frames/ReduceScoreKernel.h"

ORXPaletteScore ORXScorePaletteAVX2(const ORXScorePixels& px, const ORXReducePalette& p, uint32_t word) {
  return ScorePaletteLanes(px, p, word);
}
