// DXT24 colour blocks, 8 a step with AVX2 (no FMA: products and sums round
// separately, as in the scalar encoder).
#include <cstring>

#include "DXT24.h"
#include "DXT24Internal.h"
#include "DXT24Simd.h"
#include "ORXFormat.h"

using dxt24_internal::WriteDXT24ColourBlock;

#include "SimdLanesAVX2.h"
#include "SimdImageSteps.h"
#include "DXT24SimdKernel.h"

void DXT24CompressImageAVX2(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes) {
  CompressImageLanes(dest, src, width, height, rowBytes);
}

void DXT24CompressBlocksAVX2(unsigned char* dest, const unsigned char* blocks, int count, int passes) {
  CompressBlocksLanes(dest, blocks, count, passes);
}
