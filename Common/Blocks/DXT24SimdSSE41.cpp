// DXT24 colour blocks, 4 a step with SSE4.1.
#include <cstring>

#include "DXT24.h"
#include "DXT24Internal.h"
#include "DXT24Simd.h"
#include "ORXFormat.h"

using dxt24_internal::WriteDXT24ColourBlock;

#include "SimdLanesSSE41.h"
#include "SimdImageSteps.h"
#include "DXT24SimdKernel.h"

void DXT24CompressImageSSE41(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes) {
  CompressImageLanes(dest, src, width, height, rowBytes);
}

void DXT24CompressBlocksSSE41(unsigned char* dest, const unsigned char* blocks, int count, int passes) {
  CompressBlocksLanes(dest, blocks, count, passes);
}
