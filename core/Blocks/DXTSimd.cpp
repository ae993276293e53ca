// The DXT1/DXT5 encoder's dispatcher: the vector kernels by level, the plain
// driver where no vector level runs, and the image driver that uses the
// widest level this processor runs.
#include "core/Blocks/DXTSimd.h"

#include <stb_dxt.h>

#include "core/Blocks/DXTStandard.h"

int DXTEncoderLevels(ORXSimdLevel levels[kORXSimdLevelCount]) { return ORXSimdLevels(ORX_SIMD_BUILT, levels); }

ORXSimdLevel DXTEncoderBestLevel() {
  static const ORXSimdLevel best = ORXBestSimdLevel(ORX_SIMD_BUILT);
  return best;
}

void DXTCompressImage(ORXSimdLevel level, unsigned char* dest, const unsigned char* src, int width, int height,
                      int rowBytes, int alpha) {
  if (width <= 0 || height <= 0) return;
  if (rowBytes == 0) rowBytes = 4 * width;
  if (!ORXSimdLevelRuns(ORX_SIMD_BUILT, level)) level = kSimdPlain;
  switch (level) {
#if defined(ORX_SIMD_AVX2)
    case kSimdAVX2:
      DXTCompressImageAVX2(dest, src, width, height, rowBytes, alpha);
      return;
#endif
#if defined(ORX_SIMD_SSE41)
    case kSimdSSE41:
      DXTCompressImageSSE41(dest, src, width, height, rowBytes, alpha);
      return;
#endif
    default:
      DXTCompressImagePlain(dest, src, width, height, rowBytes, alpha);
      return;
  }
}

void DXTCompressBlocks(ORXSimdLevel level, unsigned char* dest, const unsigned char* blocks, int count, int alpha,
                       int mode) {
  if (count <= 0) return;
  const int passes = (mode & STB_DXT_HIGHQUAL) ? 2 : 1;
  if (!ORXSimdLevelRuns(ORX_SIMD_BUILT, level)) level = kSimdPlain;
  switch (level) {
#if defined(ORX_SIMD_AVX2)
    case kSimdAVX2:
      DXTCompressBlocksAVX2(dest, blocks, count, alpha, passes);
      return;
#endif
#if defined(ORX_SIMD_SSE41)
    case kSimdSSE41:
      DXTCompressBlocksSSE41(dest, blocks, count, alpha, passes);
      return;
#endif
    default: {
      const int blockBytes = alpha ? 16 : 8;
      for (int i = 0; i < count; ++i) stb_compress_dxt_block(dest + i * blockBytes, blocks + i * 64, alpha, mode);
      return;
    }
  }
}

void stbCompressARGB32(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes,
                       int alpha) {
  DXTCompressImage(DXTEncoderBestLevel(), dest, src, width, height, rowBytes, alpha);
}
