#include "core/Blocks/DXT24.h"

#include "core/Blocks/DXT24Internal.h"

#include "core/Blocks/BlockGather.h"
#include "core/Format/ORXFormat.h"

#include <cmath>
#include <cstddef>
#include <cstring>

namespace dxt24_internal {
const int w1Tab[4] = {3, 0, 2, 1};
const int prods[4] = {0x090000, 0x000900, 0x040102, 0x010402};
}  // namespace dxt24_internal

using namespace dxt24_internal;

namespace {

inline uint32_t Pack24(const unsigned char* p) {
  return (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
}

// Palette entries 0..3 as R, G, B, unused; thirds truncate.
inline void EvalColors24(unsigned char* color, uint32_t c0, uint32_t c1) {
  for (int ch = 0; ch < 3; ++ch) {
    const int shift = 16 - 8 * ch;
    const int a = static_cast<int>((c0 >> shift) & 0xFF);
    const int b = static_cast<int>((c1 >> shift) & 0xFF);
    color[0 * 4 + ch] = static_cast<unsigned char>(a);
    color[1 * 4 + ch] = static_cast<unsigned char>(b);
    color[2 * 4 + ch] = static_cast<unsigned char>((2 * a + b) / 3);
    color[3 * 4 + ch] = static_cast<unsigned char>((a + 2 * b) / 3);
  }
  color[3] = color[7] = color[11] = color[15] = 0;
}

// Principal-axis fit: the two extreme pixels along the dominant direction.
void OptimizeColorsBlock24(const unsigned char* block, uint32_t* pmax, uint32_t* pmin) {
  int mu[3], mn[3], mx[3];
  for (int ch = 0; ch < 3; ++ch) {
    const unsigned char* bp = block + ch;
    int sum = bp[0], lo = bp[0], hi = bp[0];
    for (int i = 4; i < 64; i += 4) {
      sum += bp[i];
      if (bp[i] < lo) lo = bp[i];
      if (bp[i] > hi) hi = bp[i];
    }
    mu[ch] = (sum + 8) >> 4;
    mn[ch] = lo;
    mx[ch] = hi;
  }

  int cov[6] = {0, 0, 0, 0, 0, 0};
  for (int i = 0; i < 16; ++i) {
    const int r = block[i * 4 + 0] - mu[0];
    const int g = block[i * 4 + 1] - mu[1];
    const int b = block[i * 4 + 2] - mu[2];
    cov[0] += r * r;
    cov[1] += r * g;
    cov[2] += r * b;
    cov[3] += g * g;
    cov[4] += g * b;
    cov[5] += b * b;
  }

  float covf[6];
  for (int i = 0; i < 6; ++i) covf[i] = static_cast<float>(cov[i]) / 255.0f;

  float vfr = static_cast<float>(mx[0] - mn[0]);
  float vfg = static_cast<float>(mx[1] - mn[1]);
  float vfb = static_cast<float>(mx[2] - mn[2]);
  for (int iter = 0; iter < 4; ++iter) {
    const float r = vfr * covf[0] + vfg * covf[1] + vfb * covf[2];
    const float g = vfr * covf[1] + vfg * covf[3] + vfb * covf[4];
    const float b = vfr * covf[2] + vfg * covf[4] + vfb * covf[5];
    vfr = r;
    vfg = g;
    vfb = b;
  }

  double magn = std::fabs(static_cast<double>(vfr));
  if (std::fabs(static_cast<double>(vfg)) > magn) magn = std::fabs(static_cast<double>(vfg));
  if (std::fabs(static_cast<double>(vfb)) > magn) magn = std::fabs(static_cast<double>(vfb));

  int v_r, v_g, v_b;
  if (magn < 4.0) {  // too small: fall back to luma weights
    v_r = 299;
    v_g = 587;
    v_b = 114;
  } else {
    const double scale = 512.0 / magn;
    v_r = static_cast<int>(vfr * scale);
    v_g = static_cast<int>(vfg * scale);
    v_b = static_cast<int>(vfb * scale);
  }

  int mind = 0x7FFFFFFF, maxd = -0x7FFFFFFF;
  const unsigned char* minp = block;
  const unsigned char* maxp = block;
  for (int i = 0; i < 16; ++i) {
    const unsigned char* p = block + i * 4;
    const int dot = p[0] * v_r + p[1] * v_g + p[2] * v_b;
    if (dot < mind) {
      mind = dot;
      minp = p;
    }
    if (dot > maxd) {
      maxd = dot;
      maxp = p;
    }
  }
  *pmax = Pack24(maxp);
  *pmin = Pack24(minp);
}

// DXT5 alpha block: a0 = max, a1 = min, eight-value mode, 3-bit indices.
void CompressAlphaBlock(unsigned char* dest, const unsigned char* src) {
  int mn = src[3], mx = src[3];
  for (int i = 1; i < 16; ++i) {
    const int a = src[i * 4 + 3];
    if (a < mn) mn = a;
    if (a > mx) mx = a;
  }
  dest[0] = static_cast<unsigned char>(mx);
  dest[1] = static_cast<unsigned char>(mn);
  std::memset(dest + 2, 0, 6);
  if (mx == mn) return;

  // Palette positions 0..7 of the eight-value mode in order of value.
  static const int kOrder[8] = {1, 7, 6, 5, 4, 3, 2, 0};
  const int dist = mx - mn;
  uint64_t bits = 0;
  for (int i = 0; i < 16; ++i) {
    const int a = src[i * 4 + 3];
    // Nearest of the 8 evenly spaced steps from min (0) to max (7).
    int step = ((a - mn) * 7 * 2 + dist) / (2 * dist);
    if (step > 7) step = 7;
    bits |= static_cast<uint64_t>(kOrder[step]) << (3 * i);
  }
  for (int i = 0; i < 6; ++i) dest[2 + i] = static_cast<unsigned char>(bits >> (8 * i));
}

}  // namespace

namespace dxt24_internal {

unsigned int stb__MatchColorsBlock24(const unsigned char* block, const unsigned char* color) {
  const int dirr = color[0 * 4 + 0] - color[1 * 4 + 0];
  const int dirg = color[0 * 4 + 1] - color[1 * 4 + 1];
  const int dirb = color[0 * 4 + 2] - color[1 * 4 + 2];

  int dots[16];
  for (int i = 0; i < 16; ++i)
    dots[i] = block[i * 4 + 0] * dirr + block[i * 4 + 1] * dirg + block[i * 4 + 2] * dirb;

  int stops[4];
  for (int i = 0; i < 4; ++i)
    stops[i] = color[i * 4 + 0] * dirr + color[i * 4 + 1] * dirg + color[i * 4 + 2] * dirb;

  // Arithmetic shifts: the sums may be negative and round toward minus infinity.
  const int c0Point = (stops[1] + stops[3]) >> 1;
  const int halfPoint = (stops[3] + stops[2]) >> 1;
  const int c3Point = (stops[2] + stops[0]) >> 1;

  unsigned int mask = 0;
  for (int i = 15; i >= 0; --i) {
    const int dot = dots[i];
    mask <<= 2;
    if (dot < halfPoint)
      mask |= (dot < c0Point) ? 1u : 3u;
    else
      mask |= (dot < c3Point) ? 2u : 0u;
  }
  return mask;
}

bool stb__RefineBlock24(const unsigned char* block, uint32_t* pc0, uint32_t* pc1, unsigned int mask) {
  const uint32_t old0 = *pc0;
  const uint32_t old1 = *pc1;
  uint32_t new0, new1;

  if ((mask ^ (mask << 2)) < 4) {
    // All indices equal: the system is singular; use the mean colour.
    int r = 8, g = 8, b = 8;
    for (int i = 0; i < 16; ++i) {
      r += block[i * 4 + 0];
      g += block[i * 4 + 1];
      b += block[i * 4 + 2];
    }
    r >>= 4;
    g >>= 4;
    b >>= 4;
    new0 = new1 = (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) | static_cast<uint32_t>(b);
  } else {
    int akku = 0;
    int At1[3] = {0, 0, 0};
    int At2[3] = {0, 0, 0};
    unsigned int cm = mask;
    for (int i = 0; i < 16; ++i, cm >>= 2) {
      const int step = static_cast<int>(cm & 3);
      const int w1 = w1Tab[step];
      akku += prods[step];
      for (int ch = 0; ch < 3; ++ch) {
        const int v = block[i * 4 + ch];
        At1[ch] += w1 * v;
        At2[ch] += v;
      }
    }
    for (int ch = 0; ch < 3; ++ch) At2[ch] = 3 * At2[ch] - At1[ch];

    const int xx = akku >> 16;
    const int yy = (akku >> 8) & 0xFF;
    const int xy = akku & 0xFF;
    const float f = 3.0f / static_cast<float>(xx * yy - xy * xy);

    new0 = new1 = 0;
    for (int ch = 0; ch < 3; ++ch) {
      const float v0 = static_cast<float>(At1[ch] * yy - At2[ch] * xy) * f + 0.5f;
      const float v1 = static_cast<float>(At2[ch] * xx - At1[ch] * xy) * f + 0.5f;
      int i0 = static_cast<int>(v0);
      int i1 = static_cast<int>(v1);
      i0 = i0 < 0 ? 0 : (i0 > 255 ? 255 : i0);
      i1 = i1 < 0 ? 0 : (i1 > 255 ? 255 : i1);
      new0 = (new0 << 8) | static_cast<uint32_t>(i0);
      new1 = (new1 << 8) | static_cast<uint32_t>(i1);
    }
  }

  *pc0 = new0;
  *pc1 = new1;
  return old0 != new0 || old1 != new1;
}

}  // namespace dxt24_internal

void stb_compress_dxt_block_24(unsigned char* dest, const unsigned char* src, int alpha, int mode) {
  if (alpha) {
    CompressAlphaBlock(dest, src);
    dest += 8;
  }

  const int passes = (mode & 2) ? 2 : 1;
  uint32_t c0, c1;
  unsigned int mask;

  uint32_t first;
  std::memcpy(&first, src, 4);
  int i = 1;
  for (; i < 16; ++i) {
    uint32_t px;
    std::memcpy(&px, src + i * 4, 4);
    if (px != first) break;
  }

  if (i == 16) {
    c0 = c1 = Pack24(src);
    mask = 0xAAAAAAAAu;
  } else {
    unsigned char color[16];
    OptimizeColorsBlock24(src, &c0, &c1);
    if (c0 != c1) {
      EvalColors24(color, c0, c1);
      mask = stb__MatchColorsBlock24(src, color);
    } else {
      mask = 0;
    }

    for (int pass = 0; pass < passes; ++pass) {
      const unsigned int lastMask = mask;
      if (stb__RefineBlock24(src, &c0, &c1, mask)) {
        if (c0 != c1) {
          EvalColors24(color, c0, c1);
          mask = stb__MatchColorsBlock24(src, color);
        } else {
          mask = 0;
          break;
        }
      }
      if (mask == lastMask) break;
    }
  }

  if (c0 < c1) {
    const uint32_t t = c0;
    c0 = c1;
    c1 = t;
    mask ^= 0x55555555u;
  }

  WriteDXT24ColourBlock(dest, c0, c1, mask);
}

void DXT24CompressImagePlain(unsigned char* dest, const unsigned char* src, int width, int height, int rowBytes,
                             int alpha) {
  if (rowBytes == 0) rowBytes = 4 * width;
  const int across = (width + 3) / 4;
  const int down = (height + 3) / 4;
  if (width <= 0 || height <= 0 || across <= 0 || down <= 0) return;

  const int blockBytes = ORXBytesPerBlock(alpha != 0, true);
  unsigned char block[64];
  unsigned char out[18];

  for (int by = 0; by < down; ++by) {
    for (int bx = 0; bx < across; ++bx) {
      GatherBlockRGBA(src, width, height, rowBytes, bx, by, block);
      stb_compress_dxt_block_24(out, block, alpha, 2);
      std::memcpy(dest, out, blockBytes);
      dest += blockBytes;
    }
  }
}
