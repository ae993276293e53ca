// The DXT24 colour-block routines by vector level, and the image driver that
// uses the widest level this processor runs.
#include "DXT24Simd.h"

#include "DXT24.h"

void DXT24CompressImage(DXT24Isa level, unsigned char* dest, const unsigned char* src, int width, int height,
                        int rowBytes) {
  if (rowBytes == 0) rowBytes = 4 * width;
  if (!ORXSimdLevelRuns(level)) level = kDXT24Plain;
  switch (level) {
#if defined(ORX_SIMD_AVX2)
    case kDXT24AVX2:
      DXT24CompressImageAVX2(dest, src, width, height, rowBytes);
      return;
#endif
#if defined(ORX_SIMD_SSE41)
    case kDXT24SSE41:
      DXT24CompressImageSSE41(dest, src, width, height, rowBytes);
      return;
#endif
    default:
      DXT24CompressImagePlain(dest, src, width, height, rowBytes, 0);
      return;
  }
}

void DXT24CompressBlocks(DXT24Isa level, unsigned char* dest, const unsigned char* blocks, int count, int mode) {
  if (count <= 0) return;
  const int passes = (mode & 2) ? 2 : 1;
  if (!ORXSimdLevelRuns(level)) level = kDXT24Plain;
  switch (level) {
#if defined(ORX_SIMD_AVX2)
    case kDXT24AVX2:
      DXT24CompressBlocksAVX2(dest, blocks, count, passes);
      return;
#endif
#if defined(ORX_SIMD_SSE41)
    case kDXT24SSE41:
      DXT24CompressBlocksSSE41(dest, blocks, count, passes);
      return;
#endif
    default:
      for (int i = 0; i < count; ++i) stb_compress_dxt_block_24(dest + i * 10, blocks + i * 64, 0, mode);
      return;
  }
}
