// The DXT24 colour-block encoder, one block per lane. Included by each
// instruction-set file after its lane operations (SimdLanes*.h: kLanes, the
// vector types VI (int32 lanes) and VF (float lanes)) and SimdImageSteps.h.
// Every step mirrors stb_compress_dxt_block_24: the same integer results, the
// same single- and double-precision operations in the same order, and the
// data-dependent branches as lane masks.
//
// Integer products use 16-bit multiply-add (Madd): with a lane whose upper
// half is zero and whose lower half holds a value in 0..32767, Madd(a, b)
// is a * b for any b in -32768..32767. Pixel values, axis and direction
// components and refinement sums all stay in those ranges.

#pragma once

#include "core/Blocks/SimdLaneCommon.h"

namespace {

// Palette matching: projection onto the end-point axis, three thresholds.
inline VI MatchColors(const BlockLanes& bl, VI c0, VI c1) {
  const VI ff = Set1(0xFF);
  const VI a0 = And(Srli(c0, 16), ff), a1 = And(Srli(c0, 8), ff), a2 = And(c0, ff);
  const VI b0 = And(Srli(c1, 16), ff), b1 = And(Srli(c1, 8), ff), b2 = And(c1, ff);
  const VI dr = Sub(a0, b0), dg = Sub(a1, b1), db = Sub(a2, b2);
  auto dot3 = [&](VI x, VI y, VI z) { return Add(Add(Madd(x, dr), Madd(y, dg)), Madd(z, db)); };
  auto third = [](VI u, VI v) { return Div3(Add(Add(u, u), v)); };
  const VI stop0 = dot3(a0, a1, a2);
  const VI stop1 = dot3(b0, b1, b2);
  const VI stop2 = dot3(third(a0, b0), third(a1, b1), third(a2, b2));
  const VI stop3 = dot3(third(b0, a0), third(b1, a1), third(b2, a2));
  const VI c0Point = Srai(Add(stop1, stop3), 1);
  const VI halfPoint = Srai(Add(stop3, stop2), 1);
  const VI c3Point = Srai(Add(stop2, stop0), 1);

  const VI dirRG = Or(And(dr, Set1(0xFFFF)), Slli(dg, 16));
  const VI one = Set1(1), two = Set1(2), ones = Set1(-1);
  VI mask = Set1(0);
  for (int i = 15; i >= 0; --i) {
    const VI dot = Add(Madd(bl.rg[i], dirRG), Madd(bl.b[i], db));
    const VI ltHalf = CmpGt(halfPoint, dot);
    const VI lt0 = CmpGt(c0Point, dot);
    const VI lt3 = CmpGt(c3Point, dot);
    // Below half: 1 or 3 (bit 1 when not below c0Point); else 2 or 0.
    const VI hiBit = Select(lt3, Xor(lt0, ones), ltHalf);
    const VI idx = Or(And(ltHalf, one), And(hiBit, two));
    mask = Or(Slli(mask, 2), idx);
  }
  return mask;
}

// Least-squares end points for the mask; uniform masks take the mean colour.
inline void RefineBlock(const BlockLanes& bl, VI sumR, VI sumG, VI sumB, VI mean, VI mask, VI* n0, VI* n1) {
  const RefineSystem sys = BuildRefineSystem(bl, sumR, sumG, sumB, mask);
  const VI uniform = sys.uniform, det = sys.det, xx = sys.xx, yy = sys.yy, xy = sys.xy;
  const VI at1r = sys.at1r, at1g = sys.at1g, at1b = sys.at1b, at2r = sys.at2r, at2g = sys.at2g, at2b = sys.at2b;
  const VI ff = Set1(0xFF);
  const VF f = DivF(Set1F(3.0f), ToF(det));
  const VF half = Set1F(0.5f);
  const VI zero = Set1(0);

  auto endPoint = [&](VI p, VI q, VI u, VI v) {
    // (p * u - q * v) * f + 0.5, truncated, clamped to 0..255.
    const VF x = AddF(MulF(ToF(Sub(Madd(p, u), Madd(q, v))), f), half);
    return Min(Max(TruncI(x), zero), ff);
  };
  const VI r0 = endPoint(at1r, at2r, yy, xy), r1 = endPoint(at2r, at1r, xx, xy);
  const VI g0 = endPoint(at1g, at2g, yy, xy), g1 = endPoint(at2g, at1g, xx, xy);
  const VI b0 = endPoint(at1b, at2b, yy, xy), b1 = endPoint(at2b, at1b, xx, xy);
  *n0 = Select(Pack24(r0, g0, b0), mean, uniform);
  *n1 = Select(Pack24(r1, g1, b1), mean, uniform);
}

// Encodes kLanes blocks. Block k's row y starts at base + y * rowStride +
// k * blockStride (16 bytes, 4 pixels). kArgb: bytes A, R, G, B, else
// R, G, B, A. Writes each lane's end points and index mask.
template <bool kArgb>
void EncodeLanes(const unsigned char* base, ptrdiff_t rowStride, ptrdiff_t blockStride, int passes, uint32_t* c0Out,
                 uint32_t* c1Out, uint32_t* maskOut) {
  BlockLanes bl;
  LoadBlockLanes<kArgb>(base, rowStride, blockStride, &bl);

  // Constant block: all 16 words equal, alpha included.
  VI solid = Set1(-1);
  for (int i = 1; i < 16; ++i) solid = And(solid, CmpEq(bl.px[i], bl.px[0]));

  const AxisFit fit = FitAxis(bl);
  const VI sumR = fit.sumR, sumG = fit.sumG, sumB = fit.sumB;
  // The refinement's mean colour uses the same rounding.
  const VI mean = Pack24(fit.muR, fit.muG, fit.muB);
  const VI minc = fit.minc, maxc = fit.maxc;
  VI c0 = maxc, c1 = minc;
  VI mask = AndNot(CmpEq(c0, c1), MatchColors(bl, c0, c1));

  // Refinement: a lane stays active until its own pass would have stopped.
  VI active = Xor(solid, Set1(-1));
  for (int pass = 0; pass < passes; ++pass) {
    if (MoveMask(active) == 0) break;
    const VI lastMask = mask;
    VI n0, n1;
    RefineBlock(bl, sumR, sumG, sumB, mean, mask, &n0, &n1);
    const VI changed = AndNot(And(CmpEq(n0, c0), CmpEq(n1, c1)), active);
    c0 = Select(c0, n0, active);
    c1 = Select(c1, n1, active);
    if (MoveMask(changed) == 0) break;
    const VI same = CmpEq(c0, c1);
    mask = Select(mask, AndNot(same, MatchColors(bl, c0, c1)), changed);
    active = AndNot(Or(same, CmpEq(mask, lastMask)), changed);
  }

  c0 = Select(c0, bl.packed[0], solid);
  c1 = Select(c1, bl.packed[0], solid);
  mask = Select(mask, Set1(static_cast<int>(0xAAAAAAAAu)), solid);

  // c0 < c1 (both below 2^24): swap and trade indices 0/1 and 2/3.
  const VI swap = CmpGt(c1, c0);
  const VI t0 = Select(c0, c1, swap), t1 = Select(c1, c0, swap);
  mask = Xor(mask, And(swap, Set1(0x55555555)));
  Store(c0Out, t0);
  Store(c1Out, t1);
  Store(maskOut, mask);
}

// The image driver and the block-list driver (SimdImageSteps.h).
void CompressImageLanes(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes) {
  alignas(32) uint32_t c0[kLanes], c1[kLanes], mask[kLanes];
  ForEachImageStep(src, width, height, rowBytes, [&](const unsigned char* base, ptrdiff_t rowStride, ptrdiff_t blockStride, int n) {
    EncodeLanes<true>(base, rowStride, blockStride, 2, c0, c1, mask);
    for (int k = 0; k < n; ++k) WriteDXT24ColourBlock(dest + k * kDXT24BlockBytes, c0[k], c1[k], mask[k]);
    dest += n * kDXT24BlockBytes;
  });
}

void CompressBlocksLanes(unsigned char* dest, const unsigned char* blocks, int count, int passes) {
  alignas(32) uint32_t c0[kLanes], c1[kLanes], mask[kLanes];
  ForEachBlockStep(blocks, count, [&](const unsigned char* base, int n) {
    EncodeLanes<false>(base, 16, 64, passes, c0, c1, mask);
    for (int k = 0; k < n; ++k) WriteDXT24ColourBlock(dest + k * kDXT24BlockBytes, c0[k], c1[k], mask[k]);
    dest += n * kDXT24BlockBytes;
  });
}

}  // namespace
