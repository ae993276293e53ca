// DXT24 block encoder: DXT1-style 4x4 colour blocks whose two end points keep
// 8 bits per channel. 10 bytes a block: colour 0 RGB, colour 1 RGB, then a
// 32-bit little-endian index word (pixel i = 4*y + x in bits 2i, 2i+1).
// With alpha, an 8-byte DXT5 alpha block precedes the colour block (18 bytes).
#pragma once

#include <cstdint>

// Encodes one block. src: 16 pixels of R, G, B, A in row-major order.
// mode & 2 selects two refinement passes, otherwise one.
// dest receives 10 bytes, or 18 when alpha is nonzero.
void stb_compress_dxt_block_24(unsigned char* dest, const unsigned char* src, int alpha, int mode);

// Compresses a whole 32-bit ARGB image (bytes A, R, G, B) into DXT24 blocks
// in raster order. rowBytes 0 means 4 * width. Edge blocks repeat the last
// column and row. Writes nothing when width or height is not positive.
// Defined with the vector dispatcher (DXT24Simd.cpp), which runs colour-only
// images on the widest level this processor runs and the rest on the plain
// driver below.
void _stbCompressARGB32_to24(unsigned char* dest, const unsigned char* src, int width, int height,
                             int rowBytes, int alpha);

// The scalar image driver, with or without alpha: one
// stb_compress_dxt_block_24 call a block; same contract.
void DXT24CompressImagePlain(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes,
                             int alpha);
