// Standard DXT1/DXT5 block decoding, one block a step with SSE4.1.
#include "DXTDecoder.h"

#include "SimdLanesSSE41.h"
#include "DXTDecodeKernel.h"

void DecodeDXTImageSSE41(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes,
                        bool alpha) {
  if (alpha)
    DecodeDXTImageLanes<true>(blocks, dest, width, height, rowBytes);
  else
    DecodeDXTImageLanes<false>(blocks, dest, width, height, rowBytes);
}
