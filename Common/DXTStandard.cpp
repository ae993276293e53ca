#include "DXTStandard.h"

#include <stb_dxt.h>

#include <cstddef>
#include <cstring>

void stbCompressARGB32(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes,
                       int alpha) {
  if (width <= 0 || height <= 0) return;
  if (rowBytes == 0) rowBytes = 4 * width;
  const int across = (width + 3) / 4;
  const int down = (height + 3) / 4;
  const int blockBytes = alpha ? 16 : 8;
  const bool whole = (width % 4 == 0) && (height % 4 == 0);
  // Per-call scratch, so frames on several threads never share it.
  unsigned char srcBlock[64];
  unsigned char destBlock[16];

  for (int by = 0; by < down; ++by) {
    const int validRows = (height - by * 4) < 4 ? (height - by * 4) : 4;
    for (int bx = 0; bx < across; ++bx) {
      const int validCols = (width - bx * 4) < 4 ? (width - bx * 4) : 4;
      const unsigned char* base = src + static_cast<ptrdiff_t>(by) * 4 * rowBytes + bx * 16;
      for (int y = 0; y < 4; ++y) {
        const int sy = whole ? y : (y < validRows ? y : validRows - 1);
        const unsigned char* row = base + static_cast<ptrdiff_t>(sy) * rowBytes;
        for (int x = 0; x < 4; ++x) {
          const int sx = whole ? x : (x < validCols ? x : validCols - 1);
          const unsigned char* p = row + sx * 4;
          unsigned char* q = srcBlock + (y * 4 + x) * 4;
          q[0] = p[1];
          q[1] = p[2];
          q[2] = p[3];
          q[3] = p[0];
        }
      }
      stb_compress_dxt_block(destBlock, srcBlock, alpha, STB_DXT_HIGHQUAL);
      std::memcpy(dest, destBlock, static_cast<size_t>(blockBytes));
      dest += blockBytes;
    }
  }
}
