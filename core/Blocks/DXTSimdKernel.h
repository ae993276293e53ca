// The standard DXT1/DXT5 block encoder, one block per lane. Included by each
// instruction-set file after its lane operations (SimdLanes*.h) and
// SimdImageSteps.h. Every step mirrors stb_compress_dxt_block(..., mode) as
// the linked library runs it: the principal axis and its double-precision
// scale, the 565 rounding of the extreme pixels, the palette match along the
// end-point axis, the least-squares refinement with the library's quantizer
// and midpoint tables, the optimal single-colour tables for solid blocks and
// singular systems, and the DXT5 alpha block's index selection. Branches of
// the scalar code are lane masks; tables are read by lane (StbDxtTables).
//
// Integer products use 16-bit multiply-add (Madd), as in the DXT24 kernel:
// every operand pair stays within 16 bits.
#pragma once

#include "core/Blocks/DXTStandardTables.h"
#include "core/Blocks/SimdLaneCommon.h"

namespace {

// stb's Mul8Bit: a * b / 255 rounded, for a in 0..255.
inline VI Mul8Bit(VI a, int b) {
  const VI t = Add(Madd(a, Set1(b)), Set1(128));
  return Srli(Add(t, Srli(t, 8)), 8);
}

inline VI As16Bit(VI r, VI g, VI b) {
  return Add(Add(Slli(Mul8Bit(r, 31), 11), Slli(Mul8Bit(g, 63), 5)), Mul8Bit(b, 31));
}

// The 565 colour expanded to 8 bits by bit replication.
inline void From16Bit(VI c, VI* r, VI* g, VI* b) {
  *r = Srli(Madd(And(Srli(c, 11), Set1(31)), Set1(33)), 2);
  *g = Srli(Madd(And(Srli(c, 5), Set1(63)), Set1(65)), 4);
  *b = Srli(Madd(And(c, Set1(31)), Set1(33)), 2);
}

// The optimal single-colour end points of stb's tables for r, g, b.
inline void SingleColour(const StbDxtTables& t, VI r, VI g, VI b, VI* max16, VI* min16) {
  const VI mr = GatherI(t.match5, r), mg = GatherI(t.match6, g), mb = GatherI(t.match5, b);
  const VI ff = Set1(0xFF);
  *max16 = Or(Or(Slli(And(mr, ff), 11), Slli(And(mg, ff), 5)), And(mb, ff));
  *min16 = Or(Or(Slli(Srli(mr, 8), 11), Slli(Srli(mg, 8), 5)), Srli(mb, 8));
}

// Palette matching against the 565 end points c0, c1 (c0 != c1 where used).
inline VI MatchColorsDXT(const BlockLanes& bl, VI c0, VI c1) {
  VI a0, a1, a2, b0, b1, b2;
  From16Bit(c0, &a0, &a1, &a2);
  From16Bit(c1, &b0, &b1, &b2);
  const VI dr = Sub(a0, b0), dg = Sub(a1, b1), db = Sub(a2, b2);
  auto dot3 = [&](VI x, VI y, VI z) { return Add(Add(Madd(x, dr), Madd(y, dg)), Madd(z, db)); };
  auto third = [](VI u, VI v) { return Div3(Add(Add(u, u), v)); };
  const VI stop0 = dot3(a0, a1, a2);
  const VI stop1 = dot3(b0, b1, b2);
  const VI stop2 = dot3(third(a0, b0), third(a1, b1), third(a2, b2));
  const VI stop3 = dot3(third(b0, a0), third(b1, a1), third(b2, a2));
  // Points compared at twice the dot product, so no rounding of the midpoints.
  const VI c0Point = Add(stop1, stop3);
  const VI halfPoint = Add(stop3, stop2);
  const VI c3Point = Add(stop2, stop0);

  const VI dirRG = Or(And(dr, Set1(0xFFFF)), Slli(dg, 16));
  const VI one = Set1(1), two = Set1(2), ones = Set1(-1);
  VI mask = Set1(0);
  for (int i = 15; i >= 0; --i) {
    const VI dot = Slli(Add(Madd(bl.rg[i], dirRG), Madd(bl.b[i], db)), 1);
    const VI ltHalf = CmpGt(halfPoint, dot);
    const VI lt0 = CmpGt(c0Point, dot);
    const VI lt3 = CmpGt(c3Point, dot);
    const VI hiBit = Select(lt3, Xor(lt0, ones), ltHalf);
    const VI idx = Or(And(ltHalf, one), And(hiBit, two));
    mask = Or(Slli(mask, 2), idx);
  }
  return mask;
}

// stb's Quantize5 / Quantize6: saturate, scale, truncate, then round up past
// the table's midpoint.
inline VI Quantize(VF x, float scale, const float* mid) {
  x = MinF(MaxF(x, Set1F(0.0f)), Set1F(1.0f));
  const VI q = TruncI(MulF(x, Set1F(scale)));
  return Sub(q, CmpGtF(x, GatherF(mid, q)));
}

// Least-squares end points for the mask, quantized to 565; uniform masks
// take the single-colour end points of the mean colour.
inline void RefineDXT(const BlockLanes& bl, const StbDxtTables& t, VI sumR, VI sumG, VI sumB, VI muR, VI muG,
                      VI muB, VI mask, VI* max16, VI* min16) {
  const RefineSystem sys = BuildRefineSystem(bl, sumR, sumG, sumB, mask);
  const VI uniform = sys.uniform, det = sys.det, xx = sys.xx, yy = sys.yy, xy = sys.xy;
  const VI at1r = sys.at1r, at1g = sys.at1g, at1b = sys.at1b, at2r = sys.at2r, at2g = sys.at2g, at2b = sys.at2b;
  const VF f = DivF(Set1F(3.0f / 255.0f), ToF(det));

  // (p * u - q * v) * f quantized to 5 bits (or 6 with six).
  auto quant = [&](VI p, VI q, VI u, VI v, bool six) {
    return Quantize(MulF(ToF(Sub(Madd(p, u), Madd(q, v))), f), six ? 63.0f : 31.0f, six ? t.mid6 : t.mid5);
  };
  auto end565 = [&](VI r1, VI r2, VI g1, VI g2, VI b1, VI b2, VI u) {
    return Or(Or(Slli(quant(r1, r2, u, xy, false), 11), Slli(quant(g1, g2, u, xy, true), 5)),
              quant(b1, b2, u, xy, false));
  };
  VI hi = end565(at1r, at2r, at1g, at2g, at1b, at2b, yy);
  VI lo = end565(at2r, at1r, at2g, at1g, at2b, at1b, xx);
  if (MoveMask(uniform) != 0) {
    VI sHi, sLo;
    SingleColour(t, muR, muG, muB, &sHi, &sLo);
    hi = Select(hi, sHi, uniform);
    lo = Select(lo, sLo, uniform);
  }
  *max16 = hi;
  *min16 = lo;
}

// The DXT5 alpha block of each lane: max, min, then 16 3-bit indices (the
// library's optimal index selection for the chosen end points). Returns the
// block's two little-endian words.
inline void AlphaLanes(const VI a[16], VI* word0, VI* word1) {
  VI mn = a[0], mx = a[0];
  for (int i = 1; i < 16; ++i) {
    mn = Min(mn, a[i]);
    mx = Max(mx, a[i]);
  }
  const VI dist = Sub(mx, mn);
  const VI dist4 = Slli(dist, 2), dist2 = Slli(dist, 1);
  VI bias = Select(Add(Srli(dist, 1), Set1(2)), Sub(dist, Set1(1)), CmpGt(Set1(8), dist));
  bias = Sub(bias, Madd(mn, Set1(7)));

  const VI seven = Set1(7), four = Set1(4), two = Set1(2), one = Set1(1), zero = Set1(0);
  VI lo = zero, hi = zero;  // index bits 0..31 and 32..47
  for (int i = 0; i < 16; ++i) {
    VI v = Add(Madd(a[i], seven), bias);
    VI t = CmpGe(v, dist4);
    VI ind = And(t, four);
    v = Sub(v, And(dist4, t));
    t = CmpGe(v, dist2);
    ind = Add(ind, And(t, two));
    v = Sub(v, And(dist2, t));
    ind = Sub(ind, CmpGe(v, dist));
    // Linear position to the format's index: 0 and 1 are the end points.
    ind = And(Sub(zero, ind), seven);
    ind = Xor(ind, And(CmpGt(two, ind), one));
    const int bit = 3 * i;
    if (bit < 32) lo = Or(lo, Slli(ind, bit));
    if (bit + 3 > 32) hi = Or(hi, bit < 32 ? Srli(ind, 32 - bit) : Slli(ind, bit - 32));
  }
  *word0 = Or(Or(mx, Slli(mn, 8)), Slli(lo, 16));
  *word1 = Or(Srli(lo, 16), Slli(hi, 16));
}

// Encodes kLanes blocks. Block k's row y starts at base + y * rowStride +
// k * blockStride (16 bytes, 4 pixels). kArgb: bytes A, R, G, B, else
// R, G, B, A. Writes each lane's colour end points (max16 | min16 << 16),
// index mask and, with kAlpha, the alpha block's two words.
template <bool kArgb, bool kAlpha>
void EncodeDXTLanes(const unsigned char* base, ptrdiff_t rowStride, ptrdiff_t blockStride, int passes,
                    const StbDxtTables& tables, uint32_t* endsOut, uint32_t* maskOut, uint32_t* alpha0Out,
                    uint32_t* alpha1Out) {
  BlockLanes bl;
  LoadBlockLanes<kArgb>(base, rowStride, blockStride, &bl);

  const VI ff = Set1(0xFF);
  if (kAlpha) {
    VI alpha[16];
    for (int i = 0; i < 16; ++i) alpha[i] = kArgb ? And(bl.px[i], ff) : Srli(bl.px[i], 24);
    VI w0, w1;
    AlphaLanes(alpha, &w0, &w1);
    Store(alpha0Out, w0);
    Store(alpha1Out, w1);
  }

  // Constant block: all 16 words equal. DXT1 compares alpha too; DXT5 blocks
  // are tested with alpha made opaque, as the library does.
  const VI opaque = Set1(kArgb ? 0xFF : static_cast<int>(0xFF000000u));
  VI solid = Set1(-1);
  const VI first = kAlpha ? Or(bl.px[0], opaque) : bl.px[0];
  for (int i = 1; i < 16; ++i) solid = And(solid, CmpEq(kAlpha ? Or(bl.px[i], opaque) : bl.px[i], first));

  const AxisFit fit = FitAxis(bl);
  const VI sumR = fit.sumR, sumG = fit.sumG, sumB = fit.sumB;
  const VI muR = fit.muR, muG = fit.muG, muB = fit.muB;
  const VI minc = fit.minc, maxc = fit.maxc;
  VI c0 = As16Bit(Srli(maxc, 16), And(Srli(maxc, 8), ff), And(maxc, ff));
  VI c1 = As16Bit(Srli(minc, 16), And(Srli(minc, 8), ff), And(minc, ff));
  VI mask = AndNot(CmpEq(c0, c1), MatchColorsDXT(bl, c0, c1));

  // Refinement: a lane stays active until its own pass would have stopped.
  VI active = Xor(solid, Set1(-1));
  for (int pass = 0; pass < passes; ++pass) {
    if (MoveMask(active) == 0) break;
    const VI lastMask = mask;
    VI n0, n1;
    RefineDXT(bl, tables, sumR, sumG, sumB, muR, muG, muB, mask, &n0, &n1);
    const VI changed = AndNot(And(CmpEq(n0, c0), CmpEq(n1, c1)), active);
    c0 = Select(c0, n0, active);
    c1 = Select(c1, n1, active);
    if (MoveMask(changed) == 0) break;
    const VI same = CmpEq(c0, c1);
    mask = Select(mask, AndNot(same, MatchColorsDXT(bl, c0, c1)), changed);
    active = AndNot(Or(same, CmpEq(mask, lastMask)), changed);
  }

  if (MoveMask(solid) != 0) {
    VI s0, s1;
    SingleColour(tables, bl.r[0], bl.g[0], bl.b[0], &s0, &s1);
    c0 = Select(c0, s0, solid);
    c1 = Select(c1, s1, solid);
    mask = Select(mask, Set1(static_cast<int>(0xAAAAAAAAu)), solid);
  }

  // max16 < min16: swap and trade indices 0/1 and 2/3.
  const VI swap = CmpGt(c1, c0);
  const VI t0 = Select(c0, c1, swap), t1 = Select(c1, c0, swap);
  mask = Xor(mask, And(swap, Set1(0x55555555)));
  Store(endsOut, Or(t0, Slli(t1, 16)));
  Store(maskOut, mask);
}

inline void WriteLE32(unsigned char* d, uint32_t v) {
  d[0] = static_cast<unsigned char>(v);
  d[1] = static_cast<unsigned char>(v >> 8);
  d[2] = static_cast<unsigned char>(v >> 16);
  d[3] = static_cast<unsigned char>(v >> 24);
}

// The lanes' blocks: 8 bytes of colour, after 8 of alpha with kAlpha.
template <bool kAlpha>
void WriteDXTBlocks(unsigned char* dest, int n, const uint32_t* ends, const uint32_t* mask, const uint32_t* a0,
                    const uint32_t* a1) {
  for (int k = 0; k < n; ++k) {
    if (kAlpha) {
      WriteLE32(dest, a0[k]);
      WriteLE32(dest + 4, a1[k]);
      dest += 8;
    }
    WriteLE32(dest, ends[k]);
    WriteLE32(dest + 4, mask[k]);
    dest += 8;
  }
}

struct DXTLaneOut {
  alignas(32) uint32_t ends[kLanes];
  alignas(32) uint32_t mask[kLanes];
  alignas(32) uint32_t alpha0[kLanes];
  alignas(32) uint32_t alpha1[kLanes];
};

template <bool kAlpha>
void CompressDXTImageLanesT(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes) {
  const StbDxtTables& tables = GetStbDxtTables();
  DXTLaneOut o;
  constexpr int kBlockBytes = kAlpha ? 16 : 8;
  ForEachImageStep(src, width, height, rowBytes,
                   [&](const unsigned char* base, ptrdiff_t rowStride, ptrdiff_t blockStride, int n) {
                     EncodeDXTLanes<true, kAlpha>(base, rowStride, blockStride, 2, tables, o.ends, o.mask, o.alpha0,
                                                  o.alpha1);
                     WriteDXTBlocks<kAlpha>(dest, n, o.ends, o.mask, o.alpha0, o.alpha1);
                     dest += n * kBlockBytes;
                   });
}

template <bool kAlpha>
void CompressDXTBlocksLanesT(unsigned char* dest, const unsigned char* blocks, int count, int passes) {
  const StbDxtTables& tables = GetStbDxtTables();
  DXTLaneOut o;
  constexpr int kBlockBytes = kAlpha ? 16 : 8;
  ForEachBlockStep(blocks, count, [&](const unsigned char* base, int n) {
    EncodeDXTLanes<false, kAlpha>(base, 16, 64, passes, tables, o.ends, o.mask, o.alpha0, o.alpha1);
    WriteDXTBlocks<kAlpha>(dest, n, o.ends, o.mask, o.alpha0, o.alpha1);
    dest += n * kBlockBytes;
  });
}

// The whole-image driver (bytes A, R, G, B) in the high-quality mode, and
// the block-list driver (R, G, B, A) with one or two refinement passes.
void CompressDXTImageLanes(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes,
                           int alpha) {
  if (alpha)
    CompressDXTImageLanesT<true>(dest, src, width, height, rowBytes);
  else
    CompressDXTImageLanesT<false>(dest, src, width, height, rowBytes);
}

void CompressDXTBlocksLanes(unsigned char* dest, const unsigned char* blocks, int count, int alpha, int passes) {
  if (alpha)
    CompressDXTBlocksLanesT<true>(dest, blocks, count, passes);
  else
    CompressDXTBlocksLanesT<false>(dest, blocks, count, passes);
}

}  // namespace
