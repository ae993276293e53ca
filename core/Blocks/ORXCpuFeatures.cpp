#include "core/Blocks/ORXCpuFeatures.h"

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

}  // namespace

const ORXCpuFeatures& ORXGetCpuFeatures() {
  static const ORXCpuFeatures features = Detect();
  return features;
}

bool ORXSimdLevelRuns(ORXSimdLevelSet built, ORXSimdLevel level) {
  if (level < kSimdPlain || level >= kORXSimdLevelCount || (built & (1u << level)) == 0) return level == kSimdPlain;
  const ORXCpuFeatures& f = ORXGetCpuFeatures();
  switch (level) {
    case kSimdPlain:
      return true;
    case kSimdSSSE3:
      return f.ssse3;
    case kSimdSSE41:
      return f.sse41;
    case kSimdAVX2:
      return f.avx2;
  }
  return false;
}

int ORXSimdLevels(ORXSimdLevelSet built, ORXSimdLevel levels[kORXSimdLevelCount]) {
  int n = 0;
  for (int l = kSimdPlain; l < kORXSimdLevelCount; ++l)
    if (ORXSimdLevelRuns(built, static_cast<ORXSimdLevel>(l))) levels[n++] = static_cast<ORXSimdLevel>(l);
  return n;
}

ORXSimdLevel ORXBestSimdLevel(ORXSimdLevelSet built) {
  ORXSimdLevel levels[kORXSimdLevelCount];
  return levels[ORXSimdLevels(built, levels) - 1];
}

const char* ORXSimdLevelName(ORXSimdLevel level) {
  switch (level) {
    case kSimdPlain:
      return "plain";
    case kSimdSSSE3:
      return "ssse3";
    case kSimdSSE41:
      return "sse4.1";
    case kSimdAVX2:
      return "avx2";
  }
  return "unknown";
}
