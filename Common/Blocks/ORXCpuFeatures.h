// What the processor offers the vector code, detected in this one place for
// the whole codec. Every vector routine lives in a file of its own built for
// its instruction set (per-file compiler flags); the codec calls it only when
// the feature is here.
#pragma once

struct ORXCpuFeatures {
  bool ssse3 = false;
  bool sse41 = false;
  bool avx2 = false;
};

// Detected on the first call; all false on processors other than x86.
const ORXCpuFeatures& ORXGetCpuFeatures();
