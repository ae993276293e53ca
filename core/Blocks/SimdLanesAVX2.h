// Lane operations over AVX2 registers: 8 int32 or float lanes (no FMA:
// products and sums round separately, as in the scalar encoders). Included by
// each file built with -mavx2 that instantiates a lane kernel.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

namespace {

constexpr int kLanes = 8;
using VI = __m256i;
using VF = __m256;

inline VI Set1(int v) { return _mm256_set1_epi32(v); }
inline VF Set1F(float v) { return _mm256_set1_ps(v); }
inline VI Add(VI a, VI b) { return _mm256_add_epi32(a, b); }
inline VI Sub(VI a, VI b) { return _mm256_sub_epi32(a, b); }
inline VI And(VI a, VI b) { return _mm256_and_si256(a, b); }
inline VI Or(VI a, VI b) { return _mm256_or_si256(a, b); }
inline VI Xor(VI a, VI b) { return _mm256_xor_si256(a, b); }
inline VI AndNot(VI a, VI b) { return _mm256_andnot_si256(a, b); }  // ~a & b
inline VI Slli(VI a, int n) { return _mm256_slli_epi32(a, n); }
inline VI Srli(VI a, int n) { return _mm256_srli_epi32(a, n); }
inline VI Srai(VI a, int n) { return _mm256_srai_epi32(a, n); }
inline VI Blend(VI a, VI b, VI m) { return _mm256_blendv_epi8(a, b, m); }
inline VI CmpEq(VI a, VI b) { return _mm256_cmpeq_epi32(a, b); }
inline VI CmpGt(VI a, VI b) { return _mm256_cmpgt_epi32(a, b); }
inline VI Min(VI a, VI b) { return _mm256_min_epi32(a, b); }
inline VI Max(VI a, VI b) { return _mm256_max_epi32(a, b); }
inline VI Madd(VI a, VI b) { return _mm256_madd_epi16(a, b); }
inline VI MulLo(VI a, VI b) { return _mm256_mullo_epi32(a, b); }
inline VF ToF(VI a) { return _mm256_cvtepi32_ps(a); }
inline VI TruncI(VF a) { return _mm256_cvttps_epi32(a); }
inline VF AddF(VF a, VF b) { return _mm256_add_ps(a, b); }
inline VF MulF(VF a, VF b) { return _mm256_mul_ps(a, b); }
inline VF DivF(VF a, VF b) { return _mm256_div_ps(a, b); }
inline VF MaxF(VF a, VF b) { return _mm256_max_ps(a, b); }
inline VF AbsF(VF a) { return _mm256_and_ps(a, _mm256_castsi256_ps(Set1(0x7FFFFFFF))); }
inline VI CmpLtF(VF a, VF b) { return _mm256_castps_si256(_mm256_cmp_ps(a, b, _CMP_LT_OQ)); }
inline VF BlendF(VF a, VF b, VI m) { return _mm256_blendv_ps(a, b, _mm256_castsi256_ps(m)); }
inline int MoveMask(VI m) { return _mm256_movemask_ps(_mm256_castsi256_ps(m)); }
inline void Store(uint32_t* p, VI v) { _mm256_store_si256(reinterpret_cast<VI*>(p), v); }

// (int)(v * (512.0 / magn)) in double precision, truncated.
inline VI ScaleAxis(VF v, VF magn) {
  const __m256d k512 = _mm256_set1_pd(512.0);
  const __m256d sLo = _mm256_div_pd(k512, _mm256_cvtps_pd(_mm256_castps256_ps128(magn)));
  const __m256d sHi = _mm256_div_pd(k512, _mm256_cvtps_pd(_mm256_extractf128_ps(magn, 1)));
  const __m128i lo = _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(v)), sLo));
  const __m128i hi = _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)), sHi));
  return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

// w1Tab and prods by index 0..3.
inline VI LookupW1(VI step) { return _mm256_permutevar8x32_epi32(_mm256_setr_epi32(3, 0, 2, 1, 0, 0, 0, 0), step); }
inline VI LookupProds(VI step) {
  return _mm256_permutevar8x32_epi32(_mm256_setr_epi32(0x090000, 0x000900, 0x040102, 0x010402, 0, 0, 0, 0), step);
}

// Row of 4 pixels from 8 blocks, transposed: out[x] holds pixel x of each block.
inline void LoadRow4(const unsigned char* p, ptrdiff_t stride, VI out[4]) {
  auto pair = [&](int k) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k * stride))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + (k + 4) * stride)), 1);
  };
  const VI l0 = pair(0), l1 = pair(1), l2 = pair(2), l3 = pair(3);
  const VI t0 = _mm256_unpacklo_epi32(l0, l1), t1 = _mm256_unpacklo_epi32(l2, l3);
  const VI t2 = _mm256_unpackhi_epi32(l0, l1), t3 = _mm256_unpackhi_epi32(l2, l3);
  out[0] = _mm256_unpacklo_epi64(t0, t1);
  out[1] = _mm256_unpackhi_epi64(t0, t1);
  out[2] = _mm256_unpacklo_epi64(t2, t3);
  out[3] = _mm256_unpackhi_epi64(t2, t3);
}

inline VF MinF(VF a, VF b) { return _mm256_min_ps(a, b); }
inline VI CmpGtF(VF a, VF b) { return _mm256_castps_si256(_mm256_cmp_ps(a, b, _CMP_GT_OQ)); }

// Table lookups by lane; idx must be in the table.
inline VI GatherI(const int32_t* t, VI idx) { return _mm256_i32gather_epi32(reinterpret_cast<const int*>(t), idx, 4); }
inline VF GatherF(const float* t, VI idx) { return _mm256_i32gather_ps(t, idx, 4); }

// Byte and 16-bit operations for the block decoders, which hold one block in
// each 128-bit part of a register (kBlocksPerStep blocks a step).
constexpr int kBlocksPerStep = 2;
inline VI Bytes(const int8_t (&b)[16]) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b)));
}
inline VI Words(const int16_t (&w)[8]) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w)));
}
inline VI Shuffle8(VI table, VI index) { return _mm256_shuffle_epi8(table, index); }
inline VI Add16(VI a, VI b) { return _mm256_add_epi16(a, b); }
inline VI MulLo16(VI a, VI b) { return _mm256_mullo_epi16(a, b); }
inline VI MulHiU16(VI a, VI b) { return _mm256_mulhi_epu16(a, b); }
inline VI Srli16(VI a, int n) { return _mm256_srli_epi16(a, n); }
inline VI MaxU16(VI a, VI b) { return _mm256_max_epu16(a, b); }
inline VI CmpEq16(VI a, VI b) { return _mm256_cmpeq_epi16(a, b); }
inline VI CmpGt16(VI a, VI b) { return _mm256_cmpgt_epi16(a, b); }
inline VI PackUS16(VI a, VI b) { return _mm256_packus_epi16(a, b); }
// The step's blocks of 8 (DXT1) or 16 (DXT5) bytes, block k in part k.
inline VI LoadBlocks8(const unsigned char* p) {
  return _mm256_permute4x64_epi64(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))), 0x50);
}
inline VI LoadBlocks16(const unsigned char* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
// The 16-byte row masks of the step's blocks, block k's from masks[k].
inline VI LoadMasks(const uint8_t* const masks[kBlocksPerStep]) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(masks[0]))),
                                 _mm_load_si128(reinterpret_cast<const __m128i*>(masks[1])), 1);
}
// One pixel row of the step's blocks: 16 bytes a block, side by side.
inline void StoreRow(unsigned char* p, VI v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

}  // namespace
