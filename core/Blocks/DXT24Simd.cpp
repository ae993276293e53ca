// The DXT24 encoder's dispatcher: the vector kernels by level, the plain
// encoder where no vector level runs, and the image driver that uses the
// widest level this processor runs.
#include "core/Blocks/DXT24Simd.h"

#include "core/Blocks/DXT24.h"

int DXT24EncoderLevels(ORXSimdLevel levels[kORXSimdLevelCount]) { return ORXSimdLevels(ORX_SIMD_BUILT, levels); }

ORXSimdLevel DXT24EncoderBestLevel() {
  static const ORXSimdLevel best = ORXBestSimdLevel(ORX_SIMD_BUILT);
  return best;
}

void DXT24CompressImage(ORXSimdLevel level, unsigned char* dest, const unsigned char* src, int width, int height,
                        int rowBytes) {
  if (rowBytes == 0) rowBytes = 4 * width;
  if (!ORXSimdLevelRuns(ORX_SIMD_BUILT, level)) level = kSimdPlain;
  switch (level) {
#if defined(ORX_SIMD_AVX2)
    case kSimdAVX2:
      DXT24CompressImageAVX2(dest, src, width, height, rowBytes);
      return;
#endif
#if defined(ORX_SIMD_SSE41)
    case kSimdSSE41:
      DXT24CompressImageSSE41(dest, src, width, height, rowBytes);
      return;
#endif
    default:
      DXT24CompressImagePlain(dest, src, width, height, rowBytes, 0);
      return;
  }
}

void DXT24CompressBlocks(ORXSimdLevel level, unsigned char* dest, const unsigned char* blocks, int count, int mode) {
  if (count <= 0) return;
  const int passes = (mode & 2) ? 2 : 1;
  if (!ORXSimdLevelRuns(ORX_SIMD_BUILT, level)) level = kSimdPlain;
  switch (level) {
#if defined(ORX_SIMD_AVX2)
    case kSimdAVX2:
      DXT24CompressBlocksAVX2(dest, blocks, count, passes);
      return;
#endif
#if defined(ORX_SIMD_SSE41)
    case kSimdSSE41:
      DXT24CompressBlocksSSE41(dest, blocks, count, passes);
      return;
#endif
    default:
      for (int i = 0; i < count; ++i) stb_compress_dxt_block_24(dest + i * 10, blocks + i * 64, 0, mode);
      return;
  }
}

// Colour-only images go through the widest vector encoder this processor
// runs (the same bytes); the alpha variant stays on the scalar path.
void _stbCompressARGB32_to24(unsigned char* dest, const unsigned char* src, int width, int height,
                             int rowBytes, int alpha) {
  if (alpha)
    DXT24CompressImagePlain(dest, src, width, height, rowBytes, alpha);
  else
    DXT24CompressImage(DXT24EncoderBestLevel(), dest, src, width, height, rowBytes);
}
