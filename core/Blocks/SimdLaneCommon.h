// Helpers written over the lane operations, shared by the lane kernels
// (include after a SimdLanes header).
#pragma once

namespace {

// Lanes whose mask is set take b, the others keep a.
inline VI Select(VI a, VI b, VI m) { return Blend(a, b, m); }

// x / 3 for 0 <= x < 98304 (the palette thirds; x is at most 765).
inline VI Div3(VI x) { return Srli(MulLo(x, Set1(0xAAAB)), 17); }

// a >= b, as a lane mask.
inline VI CmpGe(VI a, VI b) { return Xor(CmpGt(b, a), Set1(-1)); }

}  // namespace

namespace {

inline VI Pack24(VI r, VI g, VI b) { return Or(Or(Slli(r, 16), Slli(g, 8)), b); }

// One step's pixels, channel by channel.
struct BlockLanes {
  VI px[16];      // the source pixel as a 32-bit word (constant-block test)
  VI rg[16];      // red in the low half, green in the high half
  VI b[16];       // blue
  VI packed[16];  // R << 16 | G << 8 | B
  VI r[16], g[16];
};

// Loads kLanes blocks: block k's row y starts at base + y * rowStride +
// k * blockStride (16 bytes, 4 pixels). kArgb: bytes A, R, G, B, else
// R, G, B, A.
template <bool kArgb>
inline void LoadBlockLanes(const unsigned char* base, ptrdiff_t rowStride, ptrdiff_t blockStride, BlockLanes* bl) {
  for (int y = 0; y < 4; ++y) LoadRow4(base + y * rowStride, blockStride, &bl->px[4 * y]);
  const VI ff = Set1(0xFF);
  for (int i = 0; i < 16; ++i) {
    const VI p = bl->px[i];
    if (kArgb) {
      bl->r[i] = And(Srli(p, 8), ff);
      bl->g[i] = And(Srli(p, 16), ff);
      bl->b[i] = Srli(p, 24);
    } else {
      bl->r[i] = And(p, ff);
      bl->g[i] = And(Srli(p, 8), ff);
      bl->b[i] = And(Srli(p, 16), ff);
    }
    bl->rg[i] = Or(bl->r[i], Slli(bl->g[i], 16));
    bl->packed[i] = Pack24(bl->r[i], bl->g[i], bl->b[i]);
  }
}

// The principal-axis fit both block encoders open with: channel sums and
// rounded means, the covariance, four power iterations from the channel
// ranges, the axis scaled in double precision (luma weights when it is too
// small), and the packed colours of the pixels at either end of it.
struct AxisFit {
  VI sumR, sumG, sumB;
  VI muR, muG, muB;  // (sum + 8) >> 4
  VI minc, maxc;     // R << 16 | G << 8 | B
};

inline AxisFit FitAxis(const BlockLanes& bl) {
  AxisFit fit;
  VI sumR = bl.r[0], sumG = bl.g[0], sumB = bl.b[0];
  VI loR = sumR, hiR = sumR, loG = sumG, hiG = sumG, loB = sumB, hiB = sumB;
  for (int i = 1; i < 16; ++i) {
    sumR = Add(sumR, bl.r[i]);
    sumG = Add(sumG, bl.g[i]);
    sumB = Add(sumB, bl.b[i]);
    loR = Min(loR, bl.r[i]);
    hiR = Max(hiR, bl.r[i]);
    loG = Min(loG, bl.g[i]);
    hiG = Max(hiG, bl.g[i]);
    loB = Min(loB, bl.b[i]);
    hiB = Max(hiB, bl.b[i]);
  }
  const VI eight = Set1(8);
  const VI muR = Srai(Add(sumR, eight), 4), muG = Srai(Add(sumG, eight), 4), muB = Srai(Add(sumB, eight), 4);

  const VI low16 = Set1(0xFFFF);
  VI cov[6] = {Set1(0), Set1(0), Set1(0), Set1(0), Set1(0), Set1(0)};
  for (int i = 0; i < 16; ++i) {
    // Differences in -255..255: one operand keeps only its low half.
    const VI dr = Sub(bl.r[i], muR), dg = Sub(bl.g[i], muG), db = Sub(bl.b[i], muB);
    const VI mr = And(dr, low16), mg = And(dg, low16), mb = And(db, low16);
    cov[0] = Add(cov[0], Madd(mr, mr));
    cov[1] = Add(cov[1], Madd(mr, mg));
    cov[2] = Add(cov[2], Madd(mr, mb));
    cov[3] = Add(cov[3], Madd(mg, mg));
    cov[4] = Add(cov[4], Madd(mg, mb));
    cov[5] = Add(cov[5], Madd(mb, mb));
  }
  VF covf[6];
  const VF k255 = Set1F(255.0f);
  for (int i = 0; i < 6; ++i) covf[i] = DivF(ToF(cov[i]), k255);

  VF vfr = ToF(Sub(hiR, loR)), vfg = ToF(Sub(hiG, loG)), vfb = ToF(Sub(hiB, loB));
  for (int iter = 0; iter < 4; ++iter) {
    const VF r = AddF(AddF(MulF(vfr, covf[0]), MulF(vfg, covf[1])), MulF(vfb, covf[2]));
    const VF g = AddF(AddF(MulF(vfr, covf[1]), MulF(vfg, covf[3])), MulF(vfb, covf[4]));
    const VF b = AddF(AddF(MulF(vfr, covf[2]), MulF(vfg, covf[4])), MulF(vfb, covf[5]));
    vfr = r;
    vfg = g;
    vfb = b;
  }
  // The largest magnitude is exact in single precision, so comparing it with
  // 4 there equals the double comparison; the scale is formed in double.
  const VF magn = MaxF(MaxF(AbsF(vfr), AbsF(vfg)), AbsF(vfb));
  const VI small = CmpLtF(magn, Set1F(4.0f));
  const VF magnSafe = BlendF(magn, Set1F(4.0f), small);
  const VI vr = Select(ScaleAxis(vfr, magnSafe), Set1(299), small);
  const VI vg = Select(ScaleAxis(vfg, magnSafe), Set1(587), small);
  const VI vb = Select(ScaleAxis(vfb, magnSafe), Set1(114), small);

  // Extreme pixels along the axis; the first of equal dots wins.
  const VI vRG = Or(And(vr, low16), Slli(vg, 16));
  VI mind = Add(Madd(bl.rg[0], vRG), Madd(bl.b[0], vb));
  VI maxd = mind;
  VI minc = bl.packed[0], maxc = bl.packed[0];
  for (int i = 1; i < 16; ++i) {
    const VI dot = Add(Madd(bl.rg[i], vRG), Madd(bl.b[i], vb));
    const VI lt = CmpGt(mind, dot);
    const VI gt = CmpGt(dot, maxd);
    mind = Min(mind, dot);
    maxd = Max(maxd, dot);
    minc = Select(minc, bl.packed[i], lt);
    maxc = Select(maxc, bl.packed[i], gt);
  }
  fit.sumR = sumR;
  fit.sumG = sumG;
  fit.sumB = sumB;
  fit.muR = muR;
  fit.muG = muG;
  fit.muB = muB;
  fit.minc = minc;
  fit.maxc = maxc;
  return fit;
}

// The least-squares system both refinements solve for an index mask: the
// weighted channel sums At1 (weight of colour 0 in thirds) and At2, and the
// packed products xx, yy, xy. Lanes whose 16 indices are all equal are
// uniform; their determinant, zero, is replaced by 1 so that dividing by it
// stays finite (they take another end point).
struct RefineSystem {
  VI uniform;
  VI at1r, at1g, at1b, at2r, at2g, at2b;
  VI xx, yy, xy, det;
};

inline RefineSystem BuildRefineSystem(const BlockLanes& bl, VI sumR, VI sumG, VI sumB, VI mask) {
  RefineSystem s;
  s.uniform = CmpEq(AndNot(Set1(3), Xor(mask, Slli(mask, 2))), Set1(0));
  VI akku = Set1(0), at1r = Set1(0), at1g = Set1(0), at1b = Set1(0);
  const VI three = Set1(3);
  for (int i = 0; i < 16; ++i) {
    const VI step = And(Srli(mask, 2 * i), three);
    const VI w1 = LookupW1(step);
    akku = Add(akku, LookupProds(step));
    at1r = Add(at1r, Madd(bl.r[i], w1));
    at1g = Add(at1g, Madd(bl.g[i], w1));
    at1b = Add(at1b, Madd(bl.b[i], w1));
  }
  s.at1r = at1r;
  s.at1g = at1g;
  s.at1b = at1b;
  s.at2r = Sub(MulLo(sumR, three), at1r);
  s.at2g = Sub(MulLo(sumG, three), at1g);
  s.at2b = Sub(MulLo(sumB, three), at1b);
  const VI ff = Set1(0xFF);
  s.xx = Srai(akku, 16);
  s.yy = And(Srai(akku, 8), ff);
  s.xy = And(akku, ff);
  s.det = Select(Sub(Madd(s.xx, s.yy), Madd(s.xy, s.xy)), Set1(1), s.uniform);
  return s;
}

}  // namespace
