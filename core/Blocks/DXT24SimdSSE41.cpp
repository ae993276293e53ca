// DXT24 colour blocks, 4 a step with SSE4.1.
#include <cstring>

#include "core/Blocks/DXT24.h"
#include "core/Blocks/DXT24Internal.h"
#include "core/Blocks/DXT24Simd.h"
#include "core/Format/ORXFormat.h"

using dxt24_internal::WriteDXT24ColourBlock;

#include "core/Blocks/SimdLanesSSE41.h"
#include "core/Blocks/SimdImageSteps.h"
#include "core/Blocks/DXT24SimdKernel.h"

void DXT24CompressImageSSE41(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes) {
  CompressImageLanes(dest, src, width, height, rowBytes);
}

void DXT24CompressBlocksSSE41(unsigned char* dest, const unsigned char* blocks, int count, int passes) {
  CompressBlocksLanes(dest, blocks, count, passes);
}
