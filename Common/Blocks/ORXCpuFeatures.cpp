#include "ORXCpuFeatures.h"

namespace {

ORXCpuFeatures Detect() {
  ORXCpuFeatures f;
#if defined(__i386__) || defined(__x86_64__)
  __builtin_cpu_init();
  f.ssse3 = __builtin_cpu_supports("ssse3");
  f.sse41 = __builtin_cpu_supports("sse4.1");
  f.avx2 = __builtin_cpu_supports("avx2");
#endif
  return f;
}

ORXSimdLevel DetectBest() {
  ORXSimdLevel levels[3];
  return levels[ORXSimdLevels(levels) - 1];
}

}  // namespace

const ORXCpuFeatures& ORXGetCpuFeatures() {
  static const ORXCpuFeatures features = Detect();
  return features;
}

// ORX_SIMD_SSE41 and ORX_SIMD_AVX2 say which levels the build compiled.
bool ORXSimdLevelRuns(ORXSimdLevel level) {
  switch (level) {
    case kSimdPlain:
      return true;
#if defined(ORX_SIMD_SSE41)
    case kSimdSSE41:
      return ORXGetCpuFeatures().sse41;
#endif
#if defined(ORX_SIMD_AVX2)
    case kSimdAVX2:
      return ORXGetCpuFeatures().avx2;
#endif
    default:
      return false;
  }
}

int ORXSimdLevels(ORXSimdLevel levels[3]) {
  int n = 0;
  static const ORXSimdLevel kAll[3] = {kSimdPlain, kSimdSSE41, kSimdAVX2};
  for (ORXSimdLevel level : kAll)
    if (ORXSimdLevelRuns(level)) levels[n++] = level;
  return n;
}

ORXSimdLevel ORXBestSimdLevel() {
  static const ORXSimdLevel best = DetectBest();
  return best;
}

const char* ORXSimdLevelName(ORXSimdLevel level) {
  switch (level) {
    case kSimdPlain:
      return "plain";
    case kSimdSSE41:
      return "sse4.1";
    case kSimdAVX2:
      return "avx2";
  }
  return "unknown";
}
