// What the processor offers the vector code, detected in this one place for
// the whole codec, and the one way of naming a vector level. Every vector
// kernel lives in a file of its own built for its level (orx_simd_kernels in
// core/CMakeLists.txt gives it the level's flags); the file that chooses
// among a family's kernels is told which levels were built (ORX_SIMD_SSSE3,
// ORX_SIMD_SSE41, ORX_SIMD_AVX2 on that file alone, gathered by
// ORX_SIMD_BUILT) and calls a kernel only when the processor runs its level.
#pragma once

struct ORXCpuFeatures {
  bool ssse3 = false;
  bool sse41 = false;
  bool avx2 = false;
};

// Detected on the first call; all false on processors other than x86.
const ORXCpuFeatures& ORXGetCpuFeatures();

// The vector levels, in increasing width. The block encoders (DXT24,
// DXT1/DXT5), the DXT1/DXT5 decoder and block reduction's palette scoring
// are built at SSE4.1 and AVX2 (not
// AVX2 on 32-bit Windows, whose stack is not kept aligned to 32 bytes); the
// DXT24 decoder's colour rows at SSSE3 (x86-64 only).
enum ORXSimdLevel : int {
  kSimdPlain = 0,  // the scalar routine, on any processor
  kSimdSSSE3 = 1,  // byte shuffles
  kSimdSSE41 = 2,  // 4 blocks a step
  kSimdAVX2 = 3,   // 8 blocks a step
};
constexpr int kORXSimdLevelCount = 4;

// A set of levels, one bit a level (1 << level); plain is always in it.
using ORXSimdLevelSet = unsigned;

// The levels built for the family of the file being compiled. Each
// translation unit sees its own macros, so these expand where they are used.
#if defined(ORX_SIMD_SSSE3)
#define ORX_SIMD_BUILT_SSSE3 (1u << kSimdSSSE3)
#else
#define ORX_SIMD_BUILT_SSSE3 0u
#endif
#if defined(ORX_SIMD_SSE41)
#define ORX_SIMD_BUILT_SSE41 (1u << kSimdSSE41)
#else
#define ORX_SIMD_BUILT_SSE41 0u
#endif
#if defined(ORX_SIMD_AVX2)
#define ORX_SIMD_BUILT_AVX2 (1u << kSimdAVX2)
#else
#define ORX_SIMD_BUILT_AVX2 0u
#endif
#define ORX_SIMD_BUILT \
  (ORXSimdLevelSet{1u << kSimdPlain} | ORX_SIMD_BUILT_SSSE3 | ORX_SIMD_BUILT_SSE41 | ORX_SIMD_BUILT_AVX2)

// The level is in built and the processor runs it.
bool ORXSimdLevelRuns(ORXSimdLevelSet built, ORXSimdLevel level);
// Writes the levels of built that run here into levels (plain first, then in
// increasing width); returns their number.
int ORXSimdLevels(ORXSimdLevelSet built, ORXSimdLevel levels[kORXSimdLevelCount]);
// The widest level of built that runs here.
ORXSimdLevel ORXBestSimdLevel(ORXSimdLevelSet built);
const char* ORXSimdLevelName(ORXSimdLevel level);
