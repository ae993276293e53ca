// Vectorised DXT24 colour-block encoders: several blocks per step, one block
// per lane, with output identical byte for byte to stb_compress_dxt_block_24.
// The dispatcher (DXT24Simd.cpp) chooses between them and the plain encoder
// (DXT24.h), which knows nothing of it; the levels are the codec's
// (ORXCpuFeatures.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/Blocks/ORXCpuFeatures.h"

// The levels this build holds for the DXT24 encoder and this processor runs
// (plain first, then in increasing width); returns their number.
int DXT24EncoderLevels(ORXSimdLevel levels[kORXSimdLevelCount]);
// The widest of them, found once.
ORXSimdLevel DXT24EncoderBestLevel();

// The colour-only image driver (alpha off) on the given level; same contract
// as _stbCompressARGB32_to24. A level this machine lacks falls back to plain.
void DXT24CompressImage(ORXSimdLevel level, unsigned char* dest, const unsigned char* src, int width, int height,
                        int rowBytes);
// count blocks of 64 bytes (16 pixels R, G, B, A) to count x 10 bytes, as
// stb_compress_dxt_block_24(dest, block, 0, mode) would write them.
void DXT24CompressBlocks(ORXSimdLevel level, unsigned char* dest, const unsigned char* blocks, int count, int mode);

// Per-level kernels behind the dispatcher; rowBytes is already resolved.
void DXT24CompressImageSSE41(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes);
void DXT24CompressBlocksSSE41(unsigned char* dest, const unsigned char* blocks, int count, int passes);
void DXT24CompressImageAVX2(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes);
void DXT24CompressBlocksAVX2(unsigned char* dest, const unsigned char* blocks, int count, int passes);
