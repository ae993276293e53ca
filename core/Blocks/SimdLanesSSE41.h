// Lane operations over SSE4.1 registers: 4 int32 or float lanes. Included by
// each file built with -msse4.1 that instantiates a lane kernel.
#pragma once

#include <smmintrin.h>

#include <cstddef>
#include <cstdint>

namespace {

constexpr int kLanes = 4;
using VI = __m128i;
using VF = __m128;

inline VI Set1(int v) { return _mm_set1_epi32(v); }
inline VF Set1F(float v) { return _mm_set1_ps(v); }
inline VI Add(VI a, VI b) { return _mm_add_epi32(a, b); }
inline VI Sub(VI a, VI b) { return _mm_sub_epi32(a, b); }
inline VI And(VI a, VI b) { return _mm_and_si128(a, b); }
inline VI Or(VI a, VI b) { return _mm_or_si128(a, b); }
inline VI Xor(VI a, VI b) { return _mm_xor_si128(a, b); }
inline VI AndNot(VI a, VI b) { return _mm_andnot_si128(a, b); }  // ~a & b
inline VI Slli(VI a, int n) { return _mm_slli_epi32(a, n); }
inline VI Srli(VI a, int n) { return _mm_srli_epi32(a, n); }
inline VI Srai(VI a, int n) { return _mm_srai_epi32(a, n); }
inline VI Blend(VI a, VI b, VI m) { return _mm_blendv_epi8(a, b, m); }
inline VI CmpEq(VI a, VI b) { return _mm_cmpeq_epi32(a, b); }
inline VI CmpGt(VI a, VI b) { return _mm_cmpgt_epi32(a, b); }
inline VI Min(VI a, VI b) { return _mm_min_epi32(a, b); }
inline VI Max(VI a, VI b) { return _mm_max_epi32(a, b); }
inline VI Madd(VI a, VI b) { return _mm_madd_epi16(a, b); }
inline VI MulLo(VI a, VI b) { return _mm_mullo_epi32(a, b); }
inline VF ToF(VI a) { return _mm_cvtepi32_ps(a); }
inline VI TruncI(VF a) { return _mm_cvttps_epi32(a); }
inline VF AddF(VF a, VF b) { return _mm_add_ps(a, b); }
inline VF MulF(VF a, VF b) { return _mm_mul_ps(a, b); }
inline VF DivF(VF a, VF b) { return _mm_div_ps(a, b); }
inline VF MaxF(VF a, VF b) { return _mm_max_ps(a, b); }
inline VF AbsF(VF a) { return _mm_and_ps(a, _mm_castsi128_ps(Set1(0x7FFFFFFF))); }
inline VI CmpLtF(VF a, VF b) { return _mm_castps_si128(_mm_cmplt_ps(a, b)); }
inline VF BlendF(VF a, VF b, VI m) { return _mm_blendv_ps(a, b, _mm_castsi128_ps(m)); }
inline int MoveMask(VI m) { return _mm_movemask_ps(_mm_castsi128_ps(m)); }
inline void Store(uint32_t* p, VI v) { _mm_store_si128(reinterpret_cast<VI*>(p), v); }

// (int)(v * (512.0 / magn)) in double precision, truncated.
inline VI ScaleAxis(VF v, VF magn) {
  const __m128d k512 = _mm_set1_pd(512.0);
  const __m128d sLo = _mm_div_pd(k512, _mm_cvtps_pd(magn));
  const __m128d sHi = _mm_div_pd(k512, _mm_cvtps_pd(_mm_movehl_ps(magn, magn)));
  const __m128i lo = _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtps_pd(v), sLo));
  const __m128i hi = _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(v, v)), sHi));
  return _mm_unpacklo_epi64(lo, hi);
}

// Table lookup by index 0..3: the index times 4 in every byte of its lane,
// plus the byte offsets, picks the table's 32-bit entry.
inline VI ByteIndex(VI step) {
  const VI s4 = _mm_slli_epi32(step, 2);
  return _mm_add_epi8(_mm_shuffle_epi8(s4, _mm_setr_epi8(0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12)),
                      _mm_set1_epi32(0x03020100));
}
inline VI LookupW1(VI step) { return _mm_shuffle_epi8(_mm_setr_epi32(3, 0, 2, 1), ByteIndex(step)); }
inline VI LookupProds(VI step) {
  return _mm_shuffle_epi8(_mm_setr_epi32(0x090000, 0x000900, 0x040102, 0x010402), ByteIndex(step));
}

// Row of 4 pixels from 4 blocks, transposed: out[x] holds pixel x of each block.
inline void LoadRow4(const unsigned char* p, ptrdiff_t stride, VI out[4]) {
  auto row = [&](int k) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k * stride)); };
  const VI l0 = row(0), l1 = row(1), l2 = row(2), l3 = row(3);
  const VI t0 = _mm_unpacklo_epi32(l0, l1), t1 = _mm_unpacklo_epi32(l2, l3);
  const VI t2 = _mm_unpackhi_epi32(l0, l1), t3 = _mm_unpackhi_epi32(l2, l3);
  out[0] = _mm_unpacklo_epi64(t0, t1);
  out[1] = _mm_unpackhi_epi64(t0, t1);
  out[2] = _mm_unpacklo_epi64(t2, t3);
  out[3] = _mm_unpackhi_epi64(t2, t3);
}

inline VF MinF(VF a, VF b) { return _mm_min_ps(a, b); }
inline VI CmpGtF(VF a, VF b) { return _mm_castps_si128(_mm_cmpgt_ps(a, b)); }

// Table lookups by lane (SSE4.1 has no gather); idx must be in the table.
inline VI GatherI(const int32_t* t, VI idx) {
  return _mm_setr_epi32(t[_mm_extract_epi32(idx, 0)], t[_mm_extract_epi32(idx, 1)], t[_mm_extract_epi32(idx, 2)],
                        t[_mm_extract_epi32(idx, 3)]);
}
inline VF GatherF(const float* t, VI idx) {
  return _mm_setr_ps(t[_mm_extract_epi32(idx, 0)], t[_mm_extract_epi32(idx, 1)], t[_mm_extract_epi32(idx, 2)],
                     t[_mm_extract_epi32(idx, 3)]);
}

// Byte and 16-bit operations for the block decoders, which hold one block in
// each 128-bit part of a register (kBlocksPerStep blocks a step).
constexpr int kBlocksPerStep = 1;
inline VI Bytes(const int8_t (&b)[16]) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)); }
inline VI Words(const int16_t (&w)[8]) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(w)); }
inline VI Shuffle8(VI table, VI index) { return _mm_shuffle_epi8(table, index); }
inline VI Add16(VI a, VI b) { return _mm_add_epi16(a, b); }
inline VI MulLo16(VI a, VI b) { return _mm_mullo_epi16(a, b); }
inline VI MulHiU16(VI a, VI b) { return _mm_mulhi_epu16(a, b); }
inline VI Srli16(VI a, int n) { return _mm_srli_epi16(a, n); }
inline VI MaxU16(VI a, VI b) { return _mm_max_epu16(a, b); }
inline VI CmpEq16(VI a, VI b) { return _mm_cmpeq_epi16(a, b); }
inline VI CmpGt16(VI a, VI b) { return _mm_cmpgt_epi16(a, b); }
inline VI PackUS16(VI a, VI b) { return _mm_packus_epi16(a, b); }
// The step's blocks of 8 (DXT1) or 16 (DXT5) bytes, block k in part k.
inline VI LoadBlocks8(const unsigned char* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }
inline VI LoadBlocks16(const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
// The 16-byte row masks of the step's blocks, block k's from masks[k].
inline VI LoadMasks(const uint8_t* const masks[kBlocksPerStep]) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(masks[0]));
}
// One pixel row of the step's blocks: 16 bytes a block, side by side.
inline void StoreRow(unsigned char* p, VI v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

}  // namespace
