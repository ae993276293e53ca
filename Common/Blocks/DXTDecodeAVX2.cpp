// Standard DXT1/DXT5 block decoding, two blocks a step with AVX2.
#include "DXTDecoder.h"

#include "SimdLanesAVX2.h"
#include "DXTDecodeKernel.h"

void DecodeDXTImageAVX2(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes,
                        bool alpha) {
  if (alpha)
    DecodeDXTImageLanes<true>(blocks, dest, width, height, rowBytes);
  else
    DecodeDXTImageLanes<false>(blocks, dest, width, height, rowBytes);
}
