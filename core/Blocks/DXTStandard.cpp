#include "core/Blocks/DXTStandard.h"

#include "core/Blocks/BlockGather.h"
#include "core/Format/ORXFormat.h"

#include <stb_dxt.h>

#include <cstddef>
#include <cstring>

void DXTCompressImagePlain(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes,
                           int alpha) {
  if (width <= 0 || height <= 0) return;
  if (rowBytes == 0) rowBytes = 4 * width;
  const int across = (width + 3) / 4;
  const int down = (height + 3) / 4;
  const int blockBytes = ORXBytesPerBlock(alpha != 0, false);
  // Per-call scratch, so frames on several threads never share it.
  unsigned char srcBlock[64];
  unsigned char destBlock[kDXT5BlockBytes];

  for (int by = 0; by < down; ++by) {
    for (int bx = 0; bx < across; ++bx) {
      GatherBlockRGBA(src, width, height, rowBytes, bx, by, srcBlock);
      stb_compress_dxt_block(destBlock, srcBlock, alpha, STB_DXT_HIGHQUAL);
      std::memcpy(dest, destBlock, static_cast<size_t>(blockBytes));
      dest += blockBytes;
    }
  }
}
