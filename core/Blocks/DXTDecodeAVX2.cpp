// Standard DXT1/DXT5 block decoding, two blocks a step with AVX2.
#include "core/Blocks/DXTDecoder.h"

#include "core/Blocks/SimdLanesAVX2.h"
#include "core/Blocks/DXTDecodeKernel.h"

void DecodeDXTImageAVX2(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes,
                        bool alpha) {
  if (alpha)
    DecodeDXTImageLanes<true>(blocks, dest, width, height, rowBytes);
  else
    DecodeDXTImageLanes<false>(blocks, dest, width, height, rowBytes);
}
