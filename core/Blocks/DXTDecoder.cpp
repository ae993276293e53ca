#include "core/Blocks/DXTDecoder.h"

#include <cstddef>
#include <cstdint>

#include "core/Blocks/DXT24Decoder.h"
#include "core/Format/ORXFormat.h"

namespace {

struct RGBA {
  uint8_t r, g, b, a;
};

// The four colours of an S3TC colour block. threeColourMode applies to
// DXT1 only: DXT5 colour blocks are always read with four colours.
void ColourPalette(const unsigned char* p, bool dxt1, RGBA out[4]) {
  const unsigned c0 = p[0] | (p[1] << 8), c1 = p[2] | (p[3] << 8);
  auto expand = [](unsigned c) {
    const unsigned r = (c >> 11) & 31, g = (c >> 5) & 63, b = c & 31;
    return RGBA{static_cast<uint8_t>((r << 3) | (r >> 2)), static_cast<uint8_t>((g << 2) | (g >> 4)),
                static_cast<uint8_t>((b << 3) | (b >> 2)), 255};
  };
  out[0] = expand(c0);
  out[1] = expand(c1);
  if (!dxt1 || c0 > c1) {
    auto third = [](int a, int b) { return static_cast<uint8_t>((2 * a + b + 1) / 3); };
    out[2] = {third(out[0].r, out[1].r), third(out[0].g, out[1].g), third(out[0].b, out[1].b), 255};
    out[3] = {third(out[1].r, out[0].r), third(out[1].g, out[0].g), third(out[1].b, out[0].b), 255};
  } else {
    out[2] = {static_cast<uint8_t>((out[0].r + out[1].r + 1) / 2), static_cast<uint8_t>((out[0].g + out[1].g + 1) / 2),
              static_cast<uint8_t>((out[0].b + out[1].b + 1) / 2), 255};
    out[3] = {0, 0, 0, 0};
  }
}

template <bool kAlpha>
void Decode(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes) {
  if (width <= 0 || height <= 0) return;
  const int across = (width + 3) / 4, down = (height + 3) / 4;
  const int blockBytes = ORXBytesPerBlock(kAlpha, false);
  for (int by = 0; by < down; ++by) {
    for (int bx = 0; bx < across; ++bx) {
      const unsigned char* blk = blocks + (static_cast<ptrdiff_t>(by) * across + bx) * blockBytes;
      uint8_t alphas[8] = {255, 255, 255, 255, 255, 255, 255, 255};
      uint64_t alphaBits = 0;
      if (kAlpha) {
        DXT5AlphaPalette(blk[0], blk[1], alphas);
        for (int i = 0; i < 6; ++i) alphaBits |= static_cast<uint64_t>(blk[2 + i]) << (8 * i);
        blk += kDXTAlphaBlockBytes;
      }
      RGBA palette[4];
      ColourPalette(blk, !kAlpha, palette);
      uint32_t word = blk[4] | (blk[5] << 8) | (blk[6] << 16) | (static_cast<uint32_t>(blk[7]) << 24);
      for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x, word >>= 2, alphaBits >>= 3) {
          const int px = bx * 4 + x, py = by * 4 + y;
          if (px >= width || py >= height) continue;
          const RGBA& c = palette[word & 3];
          unsigned char* o = dest + static_cast<ptrdiff_t>(py) * rowBytes + px * 4;
          o[0] = kAlpha ? alphas[alphaBits & 7] : c.a;
          o[1] = c.r;
          o[2] = c.g;
          o[3] = c.b;
        }
      }
    }
  }
}

// Block rows first .. first + count - 1 of a frame (clipped to the frame) at
// the widest level.
void DecodeFrameRows(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes, bool alpha,
                     int first, int count) {
  if (width <= 0 || height <= 0) return;
  const int down = (height + 3) / 4;
  if (first < 0 || first >= down || count <= 0) return;
  if (count > down - first) count = down - first;
  const int across = (width + 3) / 4;
  const int rows = height - 4 * first < 4 * count ? height - 4 * first : 4 * count;
  DecodeDXTImage(DXTDecoderBestLevel(), blocks + static_cast<ptrdiff_t>(first) * across * ORXBytesPerBlock(alpha, false),
                 dest + static_cast<ptrdiff_t>(first) * 4 * rowBytes, width, rows, rowBytes, alpha);
}

}  // namespace

int DXTDecoderLevels(ORXSimdLevel levels[kORXSimdLevelCount]) { return ORXSimdLevels(ORX_SIMD_BUILT, levels); }

ORXSimdLevel DXTDecoderBestLevel() {
  static const ORXSimdLevel best = ORXBestSimdLevel(ORX_SIMD_BUILT);
  return best;
}

void DecodeDXTImagePlain(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes,
                         bool alpha) {
  if (alpha)
    Decode<true>(blocks, dest, width, height, rowBytes);
  else
    Decode<false>(blocks, dest, width, height, rowBytes);
}

void DecodeDXTImage(ORXSimdLevel level, const unsigned char* blocks, unsigned char* dest, int width, int height,
                    int rowBytes, bool alpha) {
  if (!ORXSimdLevelRuns(ORX_SIMD_BUILT, level)) level = kSimdPlain;
  switch (level) {
#if defined(ORX_SIMD_AVX2)
    case kSimdAVX2:
      DecodeDXTImageAVX2(blocks, dest, width, height, rowBytes, alpha);
      return;
#endif
#if defined(ORX_SIMD_SSE41)
    case kSimdSSE41:
      DecodeDXTImageSSE41(blocks, dest, width, height, rowBytes, alpha);
      return;
#endif
    default:
      DecodeDXTImagePlain(blocks, dest, width, height, rowBytes, alpha);
      return;
  }
}

void DecodeDXTOnCallingThread(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes,
                              bool alpha) {
  DecodeDXTImage(DXTDecoderBestLevel(), blocks, dest, width, height, rowBytes, alpha);
}

void DecodeDXTRows(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes, bool alpha,
                   int firstRow, int rowCount) {
  DecodeFrameRows(blocks, dest, width, height, rowBytes, alpha, firstRow, rowCount);
}

void DecodeDXT1ToARGB(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes) {
  DecodeDXTOnCallingThread(blocks, dest, width, height, rowBytes, false);
}

void DecodeDXT5ToARGB(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes) {
  DecodeDXTOnCallingThread(blocks, dest, width, height, rowBytes, true);
}
