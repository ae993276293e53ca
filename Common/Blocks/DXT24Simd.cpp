// Choice of the DXT24 colour-block routine: the levels this build holds and
// the processor runs, and the image driver that uses the widest of them.
#include "DXT24Simd.h"

#include "DXT24.h"
#include "ORXCpuFeatures.h"

namespace {

bool Runs(DXT24Isa level) {
  switch (level) {
    case kDXT24Plain:
      return true;
#if defined(ORX_DXT24_SSE41)
    case kDXT24SSE41:
      return ORXGetCpuFeatures().sse41;
#endif
#if defined(ORX_DXT24_AVX2)
    case kDXT24AVX2:
      return ORXGetCpuFeatures().avx2;
#endif
    default:
      return false;
  }
}

DXT24Isa DetectBest() {
  DXT24Isa levels[3];
  return levels[DXT24SupportedIsas(levels) - 1];
}

}  // namespace

int DXT24SupportedIsas(DXT24Isa levels[3]) {
  int n = 0;
  static const DXT24Isa kAll[3] = {kDXT24Plain, kDXT24SSE41, kDXT24AVX2};
  for (DXT24Isa level : kAll)
    if (Runs(level)) levels[n++] = level;
  return n;
}

DXT24Isa DXT24BestIsa() {
  static const DXT24Isa best = DetectBest();
  return best;
}

const char* DXT24IsaName(DXT24Isa level) {
  switch (level) {
    case kDXT24Plain:
      return "plain";
    case kDXT24SSE41:
      return "sse4.1";
    case kDXT24AVX2:
      return "avx2";
  }
  return "unknown";
}

void DXT24CompressImage(DXT24Isa level, unsigned char* dest, const unsigned char* src, int width, int height,
                        int rowBytes) {
  if (rowBytes == 0) rowBytes = 4 * width;
  if (!Runs(level)) level = kDXT24Plain;
  switch (level) {
#if defined(ORX_DXT24_AVX2)
    case kDXT24AVX2:
      DXT24CompressImageAVX2(dest, src, width, height, rowBytes);
      return;
#endif
#if defined(ORX_DXT24_SSE41)
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
  if (!Runs(level)) level = kDXT24Plain;
  switch (level) {
#if defined(ORX_DXT24_AVX2)
    case kDXT24AVX2:
      DXT24CompressBlocksAVX2(dest, blocks, count, passes);
      return;
#endif
#if defined(ORX_DXT24_SSE41)
    case kDXT24SSE41:
      DXT24CompressBlocksSSE41(dest, blocks, count, passes);
      return;
#endif
    default:
      for (int i = 0; i < count; ++i) stb_compress_dxt_block_24(dest + i * 10, blocks + i * 64, 0, mode);
      return;
  }
}
