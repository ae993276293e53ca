// Gathers one 4x4 block of a 32-bit ARGB image (bytes A, R, G, B) into 16
// pixels of R, G, B, A in row-major order, as the block encoders take them.
// Blocks past the right or bottom edge repeat the last column and row.
#pragma once

#include <cstddef>

inline void GatherBlockRGBA(const unsigned char* src, int width, int height, int rowBytes, int bx, int by,
                            unsigned char block[64]) {
  const int validRows = (height - by * 4) < 4 ? (height - by * 4) : 4;
  const int validCols = (width - bx * 4) < 4 ? (width - bx * 4) : 4;
  const unsigned char* base = src + static_cast<ptrdiff_t>(by) * 4 * rowBytes + bx * 16;
  for (int y = 0; y < 4; ++y) {
    const int sy = y < validRows ? y : validRows - 1;
    const unsigned char* row = base + static_cast<ptrdiff_t>(sy) * rowBytes;
    for (int x = 0; x < 4; ++x) {
      const int sx = x < validCols ? x : validCols - 1;
      const unsigned char* p = row + sx * 4;
      unsigned char* q = block + (y * 4 + x) * 4;
      q[0] = p[1];
      q[1] = p[2];
      q[2] = p[3];
      q[3] = p[0];
    }
  }
}
