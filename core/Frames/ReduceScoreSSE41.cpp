// Palette scoring, 4 pixels a step with SSE41.
#include "core/Blocks/SimdLanesSSE41.h"
#include "core/Frames/ReduceScoreKernel.h"

void ORXScorePalettesSSE41(const ORXScorePixels& px, const ORXReducePalette* const* palettes, const uint32_t* words,
                          int count, ORXPaletteScore* out) {
  ScorePalettesLanes(px, palettes, words, count, out);
}
