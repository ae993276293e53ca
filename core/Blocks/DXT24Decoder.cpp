#include "core/Blocks/DXT24Decoder.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <mutex>

#include "core/Blocks/DXT24DecoderRows.h"
#include "core/Blocks/ORXCpuFeatures.h"
#include "core/Format/ORXFormat.h"


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

namespace {

// Both builds run on little-endian processors: a pixel is the 32-bit value
// A | R << 8 | G << 16 | B << 24, two pixels one 64-bit store.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "pixel packing assumes little-endian");

// One destination row of a block: four pixels from one index byte, stored
// as two 64-bit words.
inline void StoreRow(unsigned char* out, const uint32_t* palette, uint32_t bits) {
  const uint64_t lo = palette[bits & 3] | static_cast<uint64_t>(palette[(bits >> 2) & 3]) << 32;
  const uint64_t hi = palette[(bits >> 4) & 3] | static_cast<uint64_t>(palette[(bits >> 6) & 3]) << 32;
  std::memcpy(out, &lo, 8);
  std::memcpy(out + 8, &hi, 8);
}

// Decodes blockRows rows of `across` 10-byte blocks. The end points are read
// as one word: bytes 0..2 are colour 0 and 3..5 colour 1 (R, G, B), so each
// shifted into place beside an alpha of 255 is already a pixel; the two
// thirds come from the table, two look-ups a channel.
void DecodeRows24(const unsigned char* src, unsigned char* dest, int across, int rowBytes, int blockRows) {
  const ptrdiff_t stride = rowBytes;
  const uint8_t* thirds = thirdsTable;
  for (int r = 0; r < blockRows; ++r) {
    unsigned char* out = dest + static_cast<ptrdiff_t>(r) * 4 * stride;
    for (int c = 0; c < across; ++c, src += kDXT24BlockBytes, out += 16) {
      const uint64_t ends = Load64(src);  // bytes 0..7 of the block's 10
      const uint32_t e0 = static_cast<uint32_t>(ends) & 0xFFFFFFu;
      const uint32_t e1 = static_cast<uint32_t>(ends >> 24) & 0xFFFFFFu;
      const uint32_t r0 = e0 & 0xFF, g0 = (e0 >> 8) & 0xFF, b0 = e0 >> 16;
      const uint32_t r1 = e1 & 0xFF, g1 = (e1 >> 8) & 0xFF, b1 = e1 >> 16;
      uint32_t palette[4];
      palette[0] = e0 << 8 | 0xFFu;
      palette[1] = e1 << 8 | 0xFFu;
      palette[2] = 0xFFu | static_cast<uint32_t>(thirds[r0 << 8 | r1]) << 8 |
                   static_cast<uint32_t>(thirds[g0 << 8 | g1]) << 16 |
                   static_cast<uint32_t>(thirds[b0 << 8 | b1]) << 24;
      palette[3] = 0xFFu | static_cast<uint32_t>(thirds[r1 << 8 | r0]) << 8 |
                   static_cast<uint32_t>(thirds[g1 << 8 | g0]) << 16 |
                   static_cast<uint32_t>(thirds[b1 << 8 | b0]) << 24;
      const uint32_t word = Load32(src + 6);
      StoreRow(out, palette, word);
      StoreRow(out + stride, palette, word >> 8);
      StoreRow(out + 2 * stride, palette, word >> 16);
      StoreRow(out + 3 * stride, palette, word >> 24);
    }
  }
}


// The colour-only row decoder for this processor, chosen once.
using ColourRowsFn = void (*)(const unsigned char*, unsigned char*, int, int, int);
ColourRowsFn ChooseColourRows() {
#if defined(ORX_SIMD_SSSE3)
  if (ORXSimdLevelRuns(ORX_SIMD_BUILT, kSimdSSSE3)) return DecodeRows24Shuffle;
#endif
  return DecodeRows24;
}
void DecodeRows24Best(const unsigned char* src, unsigned char* dest, int across, int rowBytes, int blockRows) {
  static const ColourRowsFn chosen = ChooseColourRows();
  chosen(src, dest, across, rowBytes, blockRows);
}

// Decodes blockRows rows of `across` 18-byte blocks (alpha block, colour block).
void DecodeRows24Alpha(const unsigned char* src, unsigned char* dest, int across, int rowBytes,
                       int blockRows) {
  uint32_t palette[4];
  uint8_t alphas[8];
  for (int r = 0; r < blockRows; ++r) {
    unsigned char* rowBase = dest + static_cast<ptrdiff_t>(r) * 4 * rowBytes;
    for (int c = 0; c < across; ++c, src += kDXT24AlphaBlockBytes) {
      DXT5AlphaPalette(src[0], src[1], alphas);
      uint64_t alphaBits = 0;
      for (int i = 0; i < 6; ++i) alphaBits |= static_cast<uint64_t>(src[2 + i]) << (8 * i);
      ColourPalette(src + kDXTAlphaBlockBytes, 0, palette);
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

typedef void (*DecodeRowsFn)(const unsigned char* src, unsigned char* dest, int across, int rowBytes,
                             int blockRows);

// Block rows first .. first + count - 1 of a frame (clipped to the frame).
void DecodeFrameRows(const unsigned char* src, unsigned char* dest, int width, int height, int rowBytes, bool alpha,
                     int first, int count) {
  InitThirdsTable();
  const int w4 = (width + 3) / 4 * 4;
  const int h4 = (height + 3) / 4 * 4;
  if (w4 < 4 || h4 < 4) return;
  const int across = w4 / 4, down = h4 / 4;
  if (first < 0 || first >= down || count <= 0) return;
  if (count > down - first) count = down - first;
  const DecodeRowsFn decode = alpha ? DecodeRows24Alpha : DecodeRows24Best;
  const int blockBytes = ORXBytesPerBlock(alpha, true);
  decode(src + static_cast<ptrdiff_t>(first) * across * blockBytes, dest + static_cast<ptrdiff_t>(first) * 4 * rowBytes,
         across, rowBytes, count);
}

}  // namespace

void DecodeDXT24Rows(const unsigned char* src, unsigned char* dest, int width, int height, int rowBytes, bool alpha,
                     int firstRow, int rowCount) {
  DecodeFrameRows(src, dest, width, height, rowBytes, alpha, firstRow, rowCount);
}

void DecodeDXT24(const unsigned char* src, unsigned char* dest, int width, int height, int rowBytes) {
  DecodeFrameRows(src, dest, width, height, rowBytes, false, 0, (height + 3) / 4);
}

void DecodeDXT24Plain(const unsigned char* src, unsigned char* dest, int width, int height, int rowBytes) {
  InitThirdsTable();
  const int w4 = (width + 3) / 4 * 4, h4 = (height + 3) / 4 * 4;
  if (w4 < 4 || h4 < 4) return;
  DecodeRows24(src, dest, w4 / 4, rowBytes, h4 / 4);
}

bool DXT24DecoderUsesVectorRows() { return ChooseColourRows() != DecodeRows24; }

void DecodeDXT24WithAlpha(const unsigned char* src, unsigned char* dest, int width, int height,
                          int rowBytes) {
  DecodeFrameRows(src, dest, width, height, rowBytes, true, 0, (height + 3) / 4);
}

void DecodeDXT24OnCallingThread(const unsigned char* src, unsigned char* dest, int width, int height,
                                int rowBytes, bool alpha) {
  DecodeFrameRows(src, dest, width, height, rowBytes, alpha, 0, (height + 3) / 4);
}
