// Vectorised standard DXT1/DXT5 block encoders: several blocks per step, one
// block per lane, with output identical byte for byte to the stb_dxt block
// encoder the project links (stb_compress_dxt_block). The dispatcher
// (DXTSimd.cpp) chooses between them and the plain driver (DXTStandard.h),
// which knows nothing of it; the levels are the codec's (ORXCpuFeatures.h).
#pragma once

#include "core/Blocks/ORXCpuFeatures.h"

// The levels this build holds for the DXT1/DXT5 encoder and this processor
// runs (plain first, then in increasing width); returns their number.
int DXTEncoderLevels(ORXSimdLevel levels[kORXSimdLevelCount]);
// The widest of them, found once.
ORXSimdLevel DXTEncoderBestLevel();

// A whole 32-bit ARGB image to DXT1 (alpha 0) or DXT5 blocks in the
// high-quality mode; same contract as stbCompressARGB32. A level this machine
// lacks falls back to plain.
void DXTCompressImage(ORXSimdLevel level, unsigned char* dest, const unsigned char* src, int width, int height,
                      int rowBytes, int alpha);
// count blocks of 64 bytes (16 pixels R, G, B, A) to 8 or 16 bytes each, as
// stb_compress_dxt_block(dest, block, alpha, mode) would write them.
void DXTCompressBlocks(ORXSimdLevel level, unsigned char* dest, const unsigned char* blocks, int count, int alpha,
                       int mode);

// Per-level routines behind the dispatcher; rowBytes is already resolved.
void DXTCompressImageSSE41(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes,
                           int alpha);
void DXTCompressBlocksSSE41(unsigned char* dest, const unsigned char* blocks, int count, int alpha, int passes);
void DXTCompressImageAVX2(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes,
                          int alpha);
void DXTCompressBlocksAVX2(unsigned char* dest, const unsigned char* blocks, int count, int alpha, int passes);
