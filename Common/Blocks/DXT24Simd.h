// Vectorised DXT24 colour-block encoders: several blocks per step, one block
// per lane, with output identical byte for byte to stb_compress_dxt_block_24.
// The fastest level this processor runs is chosen once, at first use.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ORXCpuFeatures.h"

// The levels are the codec's shared vector levels (ORXCpuFeatures.h).
using DXT24Isa = ORXSimdLevel;
constexpr DXT24Isa kDXT24Plain = kSimdPlain;
constexpr DXT24Isa kDXT24SSE41 = kSimdSSE41;
constexpr DXT24Isa kDXT24AVX2 = kSimdAVX2;

inline int DXT24SupportedIsas(DXT24Isa levels[3]) { return ORXSimdLevels(levels); }
inline DXT24Isa DXT24BestIsa() { return ORXBestSimdLevel(); }
inline const char* DXT24IsaName(DXT24Isa level) { return ORXSimdLevelName(level); }

// The colour-only image driver (alpha off) on the given level; same contract
// as _stbCompressARGB32_to24. A level this machine lacks falls back to plain.
void DXT24CompressImage(DXT24Isa level, unsigned char* dest, const unsigned char* src, int width, int height,
                        int rowBytes);
// count blocks of 64 bytes (16 pixels R, G, B, A) to count x 10 bytes, as
// stb_compress_dxt_block_24(dest, block, 0, mode) would write them.
void DXT24CompressBlocks(DXT24Isa level, unsigned char* dest, const unsigned char* blocks, int count, int mode);

// The scalar image driver, with or without alpha (defined with the block
// encoder); what _stbCompressARGB32_to24 runs where no vector level does.
void DXT24CompressImagePlain(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes,
                             int alpha);

// Per-level routines behind the dispatcher; rowBytes is already resolved.
void DXT24CompressImageSSE41(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes);
void DXT24CompressBlocksSSE41(unsigned char* dest, const unsigned char* blocks, int count, int passes);
void DXT24CompressImageAVX2(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes);
void DXT24CompressBlocksAVX2(unsigned char* dest, const unsigned char* blocks, int count, int passes);
