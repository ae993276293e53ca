// How the lane kernels walk their input, kLanes blocks a step (include after
// a SimdLanes header). Images: blocks of a block row are read in place when
// they lie wholly inside the image; edge blocks (repeating the last column
// and row) and a short tail are gathered into a local strip whose unused
// lanes repeat the strip's last block. Block lists (64 bytes a block,
// R, G, B, A): a short tail is copied likewise.
#pragma once

#include <cstddef>
#include <cstring>

namespace {

// step(base, rowStride, blockStride, n): block k < kLanes of the step has row
// y at base + y * rowStride + k * blockStride; the first n are real and
// follow the previous step's in raster order.
template <class Step>
void ForEachImageStep(const unsigned char* src, int width, int height, int rowBytes, Step step) {
  const int across = (width + 3) / 4;
  const int down = (height + 3) / 4;
  if (width <= 0 || height <= 0 || across <= 0 || down <= 0) return;

  unsigned char strip[4 * kLanes * 16];
  for (int by = 0; by < down; ++by) {
    const unsigned char* rows = src + static_cast<ptrdiff_t>(by) * 4 * rowBytes;
    const int validRows = (height - by * 4) < 4 ? (height - by * 4) : 4;
    for (int bx = 0; bx < across; bx += kLanes) {
      const int n = (across - bx) < kLanes ? (across - bx) : kLanes;
      if (n == kLanes && validRows == 4 && (bx + n) * 4 <= width) {
        step(rows + bx * 16, static_cast<ptrdiff_t>(rowBytes), ptrdiff_t{16}, n);
        continue;
      }
      for (int k = 0; k < kLanes; ++k) {
        const int blk = bx + (k < n ? k : n - 1);
        const int validCols = (width - blk * 4) < 4 ? (width - blk * 4) : 4;
        for (int y = 0; y < 4; ++y) {
          const unsigned char* row = rows + static_cast<ptrdiff_t>(y < validRows ? y : validRows - 1) * rowBytes;
          for (int x = 0; x < 4; ++x) {
            const int sx = blk * 4 + (x < validCols ? x : validCols - 1);
            std::memcpy(strip + y * kLanes * 16 + k * 16 + x * 4, row + sx * 4, 4);
          }
        }
      }
      step(static_cast<const unsigned char*>(strip), static_cast<ptrdiff_t>(kLanes * 16), ptrdiff_t{16}, n);
    }
  }
}

// step(base, n) as above over count blocks of 64 bytes, rowStride 16 and
// blockStride 64.
template <class Step>
void ForEachBlockStep(const unsigned char* blocks, int count, Step step) {
  unsigned char tail[kLanes * 64];
  for (int i = 0; i < count; i += kLanes) {
    const int n = (count - i) < kLanes ? (count - i) : kLanes;
    const unsigned char* base = blocks + static_cast<ptrdiff_t>(i) * 64;
    if (n < kLanes) {
      for (int k = 0; k < kLanes; ++k) std::memcpy(tail + k * 64, base + (k < n ? k : n - 1) * 64, 64);
      base = tail;
    }
    step(base, n);
  }
}

}  // namespace
