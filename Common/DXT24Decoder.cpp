#include "DXT24Decoder.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <mutex>

uint8_t thirdsTable[65536];
std::atomic<bool> initThirds{false};

namespace {

std::once_flag g_thirdsOnce;

// Memory order A, R, G, B as one 32-bit value, whatever the host byte order.
inline uint32_t PackARGB(uint8_t a, uint8_t r, uint8_t g, uint8_t b) {
  const uint8_t bytes[4] = {a, r, g, b};
  uint32_t v;
  std::memcpy(&v, bytes, 4);
  return v;
}

inline void ColourPalette(const unsigned char* blk, uint8_t alphaValue, uint32_t palette[4]) {
  const uint8_t r0 = blk[0], g0 = blk[1], b0 = blk[2];
  const uint8_t r1 = blk[3], g1 = blk[4], b1 = blk[5];
  palette[0] = PackARGB(alphaValue, r0, g0, b0);
  palette[1] = PackARGB(alphaValue, r1, g1, b1);
  palette[2] = PackARGB(alphaValue, thirdsTable[r0 * 256 + r1], thirdsTable[g0 * 256 + g1],
                        thirdsTable[b0 * 256 + b1]);
  palette[3] = PackARGB(alphaValue, thirdsTable[r1 * 256 + r0], thirdsTable[g1 * 256 + g0],
                        thirdsTable[b1 * 256 + b0]);
}

inline uint32_t IndexWord(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

void InitThirdsTable() {
  if (initThirds.load(std::memory_order_acquire)) return;
  std::call_once(g_thirdsOnce, [] {
    for (int a = 0; a < 256; ++a) {
      for (int b = 0; b < 256; ++b) {
        double v = std::floor(b / 3.0 + (a + a) / 3.0 + 0.5);
        if (v < 0) v = 0;
        if (v > 255) v = 255;
        thirdsTable[a * 256 + b] = static_cast<uint8_t>(v);
      }
    }
    initThirds.store(true, std::memory_order_release);
  });
}

void DXT5AlphaPalette(int a0, int a1, uint8_t p[8]) {
  p[0] = static_cast<uint8_t>(a0);
  p[1] = static_cast<uint8_t>(a1);
  if (a0 > a1) {
    for (int k = 2; k < 8; ++k) p[k] = static_cast<uint8_t>(((8 - k) * a0 + (k - 1) * a1 + 3) / 7);
  } else {
    for (int k = 2; k < 6; ++k) p[k] = static_cast<uint8_t>(((6 - k) * a0 + (k - 1) * a1 + 2) / 5);
    p[6] = 0;
    p[7] = 255;
  }
}

void DecodeDXT24(const unsigned char* src, unsigned char* dest, int width, int height, int rowBytes) {
  InitThirdsTable();
  const int w4 = (width + 3) / 4 * 4;
  const int h4 = (height + 3) / 4 * 4;
  if (w4 < 4 || h4 < 4) return;
  const int across = w4 / 4, down = h4 / 4;

  uint32_t palette[4];
  for (int r = 0; r < down; ++r) {
    unsigned char* rowBase = dest + static_cast<ptrdiff_t>(r) * 4 * rowBytes;
    for (int c = 0; c < across; ++c, src += 10) {
      ColourPalette(src, 255, palette);
      uint32_t word = IndexWord(src + 6);
      unsigned char* out = rowBase + c * 16;
      for (int y = 0; y < 4; ++y, word >>= 8, out += rowBytes) {
        const uint32_t px[4] = {palette[word & 3], palette[(word >> 2) & 3], palette[(word >> 4) & 3],
                                palette[(word >> 6) & 3]};
        std::memcpy(out, px, 16);
      }
    }
  }
}

void DecodeDXT24WithAlpha(const unsigned char* src, unsigned char* dest, int width, int height,
                          int rowBytes) {
  InitThirdsTable();
  const int w4 = (width + 3) / 4 * 4;
  const int h4 = (height + 3) / 4 * 4;
  if (w4 < 4 || h4 < 4) return;
  const int across = w4 / 4, down = h4 / 4;

  uint32_t palette[4];
  uint8_t alphas[8];
  for (int r = 0; r < down; ++r) {
    unsigned char* rowBase = dest + static_cast<ptrdiff_t>(r) * 4 * rowBytes;
    for (int c = 0; c < across; ++c, src += 18) {
      DXT5AlphaPalette(src[0], src[1], alphas);
      uint64_t alphaBits = 0;
      for (int i = 0; i < 6; ++i) alphaBits |= static_cast<uint64_t>(src[2 + i]) << (8 * i);
      ColourPalette(src + 8, 0, palette);
      uint32_t word = IndexWord(src + 14);
      unsigned char* out = rowBase + c * 16;
      for (int y = 0; y < 4; ++y, out += rowBytes) {
        for (int x = 0; x < 4; ++x, word >>= 2, alphaBits >>= 3) {
          uint32_t px = palette[word & 3];
          unsigned char* p = out + x * 4;
          std::memcpy(p, &px, 4);
          p[0] = alphas[alphaBits & 7];
        }
      }
    }
  }
}
