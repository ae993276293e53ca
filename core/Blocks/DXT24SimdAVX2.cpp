// DXT24 colour blocks, 8 a step with AVX2 (no FMA: products and sums round
// separately, as in the scalar encoder).
#include <cstring>

#include "core/Blocks/DXT24.h"
#include "core/Blocks/DXT24Internal.h"
#include "core/Blocks/DXT24Simd.h"
#include "core/Format/ORXFormat.h"

using dxt24_internal::WriteDXT24ColourBlock;

#include "core/Blocks/SimdLanesAVX2.h"
#include "core/Blocks/SimdImageSteps.h"
#include "core/Blocks/DXT24SimdKernel.h"

void DXT24CompressImageAVX2(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes) {
  CompressImageLanes(dest, src, width, height, rowBytes);
}

void DXT24CompressBlocksAVX2(unsigned char* dest, const unsigned char* blocks, int count, int passes) {
  CompressBlocksLanes(dest, blocks, count, passes);
}
