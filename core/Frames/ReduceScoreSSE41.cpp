// Palette scoring, 4 pixels a step with SSE41.
#include "core/Blocks/SimdLanesSSE41.h"
#include "core/Frames/ReduceScoreKernel.h"

ORXPaletteScore ORXScorePaletteSSE41(const ORXScorePixels& px, const ORXReducePalette& p, uint32_t word) {
  return ScorePaletteLanes(px, p, word);
}
