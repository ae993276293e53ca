// Standard DXT1/DXT5 blocks, 8 a step with AVX2 (no FMA).
#include "DXTSimd.h"

#include "SimdLanesAVX2.h"
#include "SimdImageSteps.h"
#include "DXTSimdKernel.h"

void DXTCompressImageAVX2(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes,
                           int alpha) {
  CompressDXTImageLanes(dest, src, width, height, rowBytes, alpha);
}

void DXTCompressBlocksAVX2(unsigned char* dest, const unsigned char* blocks, int count, int alpha, int passes) {
  CompressDXTBlocksLanes(dest, blocks, count, alpha, passes);
}
