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

// The levels of the block encoders' vector kernels (DXT24, DXT1/DXT5). Each
// family is built at the same levels, so one answer serves both.
enum ORXSimdLevel : int {
  kSimdPlain = 0,  // the scalar routine, on any processor
  kSimdSSE41 = 1,  // 4 blocks a step
  kSimdAVX2 = 2,   // 8 blocks a step (not built for 32-bit Windows)
};

// This build holds the level and the processor runs it.
bool ORXSimdLevelRuns(ORXSimdLevel level);
// Writes the levels that run here into levels (plain first, then each vector
// level in increasing width); returns their number.
int ORXSimdLevels(ORXSimdLevel levels[3]);
// The widest level that runs here, detected once.
ORXSimdLevel ORXBestSimdLevel();
const char* ORXSimdLevelName(ORXSimdLevel level);
