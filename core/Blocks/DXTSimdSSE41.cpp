// Standard DXT1/DXT5 blocks, 4 a step with SSE4.1.
#include "core/Blocks/DXTSimd.h"

#include "core/Blocks/SimdLanesSSE41.h"
#include "core/Blocks/SimdImageSteps.h"
#include "core/Blocks/DXTSimdKernel.h"

void DXTCompressImageSSE41(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes,
                           int alpha) {
  CompressDXTImageLanes(dest, src, width, height, rowBytes, alpha);
}

void DXTCompressBlocksSSE41(unsigned char* dest, const unsigned char* blocks, int count, int alpha, int passes) {
  CompressDXTBlocksLanes(dest, blocks, count, alpha, passes);
}
