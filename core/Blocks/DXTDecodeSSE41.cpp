// Standard DXT1/DXT5 block decoding, one block a step with SSE4.1.
#include "core/Blocks/DXTDecoder.h"

#include "core/Blocks/SimdLanesSSE41.h"
#include "core/Blocks/DXTDecodeKernel.h"

void DecodeDXTImageSSE41(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes,
                        bool alpha) {
  if (alpha)
    DecodeDXTImageLanes<true>(blocks, dest, width, height, rowBytes);
  else
    DecodeDXTImageLanes<false>(blocks, dest, width, height, rowBytes);
}
