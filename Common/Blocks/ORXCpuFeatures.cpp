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

}  // namespace

const ORXCpuFeatures& ORXGetCpuFeatures() {
  static const ORXCpuFeatures features = Detect();
  return features;
}
