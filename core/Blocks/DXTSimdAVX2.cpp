// Standard DXT1/DXT5 blocks, 8 a step with AVX2 (no FMA).
#include "core/Blocks/DXTSimd.h"

#include "core/Blocks/SimdLanesAVX2.h"
#include "core/Blocks/SimdImageSteps.h"
#include "core/Blocks/DXTSimdKernel.h"

void DXTCompressImageAVX2(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes,
                           int alpha) {
  CompressDXTImageLanes(dest, src, width, height, rowBytes, alpha);
}

void DXTCompressBlocksAVX2(unsigned char* dest, const unsigned char* blocks, int count, int alpha, int passes) {
  CompressDXTBlocksLanes(dest, blocks, count, alpha, passes);
}
