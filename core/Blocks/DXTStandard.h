// Standard DXT1 / DXT5 blocks of a whole 32-bit ARGB image through the
// stb_dxt block encoder (high-quality mode), edge blocks padded by repeating
// the last column and row.
#pragma once

// dest receives 8 bytes a block (DXT1) or 16 with alpha (DXT5), in raster
// order. rowBytes 0 means 4 * width. Writes nothing for a non-positive size.
// Defined with the vector dispatcher (DXTSimd.cpp): the widest level this
// processor runs, which writes the plain driver's bytes.
void stbCompressARGB32(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes, int alpha);

// The scalar image driver: one stb_compress_dxt_block call a block; same
// contract.
void DXTCompressImagePlain(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes,
                           int alpha);
