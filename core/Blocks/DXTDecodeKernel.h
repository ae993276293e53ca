// The vector DXT1/DXT5 block decoder, written once over the lane operations
// (include after a SimdLanes header): each 128-bit part of a register holds
// one block, so a step decodes kBlocksPerStep blocks side by side. The
// palette is made in the register and every pixel row is one byte shuffle
// of it; DXT5's alpha indices are unpacked by 16-bit multiplies and looked
// up by another shuffle. The pixels are those of the plain decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/Format/ORXFormat.h"

namespace {

// mask[bits]: the shuffle that turns a palette of four A R G B entries into
// the four pixels of one block row whose 2-bit indices are bits.
struct PixelShuffles {
  alignas(16) uint8_t mask[256][16];
  constexpr PixelShuffles() : mask{} {
    for (int bits = 0; bits < 256; ++bits)
      for (int px = 0; px < 4; ++px)
        for (int byte = 0; byte < 4; ++byte)
          mask[bits][px * 4 + byte] = static_cast<uint8_t>(((bits >> (2 * px)) & 3) * 4 + byte);
  }
};
constexpr PixelShuffles kPixelShuffles;

constexpr int8_t Z = -1;  // a shuffle index that gives 0

// The colour block at byte co of each part: its palette, four A R G B
// entries. DXT1 (kDXT1) reads colour 0 not above colour 1 as three colours
// and a transparent black; DXT5's colour block is always four colours, its
// alpha bytes left 0 for the alpha block to fill.
template <bool kDXT1, int co>
inline VI ColourPalette(VI blk) {
  // Words c0 c0 c0 c1 c1 c1, each channel masked and moved to the top bits,
  // then widened to 8 bits: (v * 33) >> 2 for 5 bits, (v * 65) >> 4 for 6.
  static constexpr int8_t kEnds[16] = {co, co + 1, co, co + 1, co, co + 1, co + 2, co + 3,
                                       co + 2, co + 3, co + 2, co + 3, Z, Z, Z, Z};
  static constexpr int16_t kChannel[8] = {-2048, 0x07E0, 0x001F, -2048, 0x07E0, 0x001F, 0, 0};
  static constexpr int16_t kToTop[8] = {1, 32, 2048, 1, 32, 2048, 0, 0};
  static constexpr int16_t kWiden[8] = {264, 260, 264, 264, 260, 264, 0, 0};
  // r0 g0 b0 r1 g1 b1 -> r1 g1 b1 r0 g0 b0 (16-bit words).
  static constexpr int8_t kSwap[16] = {6, 7, 8, 9, 10, 11, 0, 1, 2, 3, 4, 5, Z, Z, Z, Z};
  // Bytes r0 g0 b0 r1 g1 b1 (0..5) and the middle entries (8..13) into A R G B.
  static constexpr int8_t kEntries[16] = {Z, 0, 1, 2, Z, 3, 4, 5, Z, 8, 9, 10, Z, 11, 12, 13};
  const VI words = Shuffle8(blk, Bytes(kEnds));
  const VI ends = MulHiU16(MulLo16(And(words, Words(kChannel)), Words(kToTop)), Words(kWiden));
  const VI swapped = Shuffle8(ends, Bytes(kSwap));
  const VI one = Srli16(CmpEq16(ends, ends), 15);
  // (2a + b + 1) / 3 on 16-bit lanes: a multiply by 21846 / 65536, exact
  // for every sum up to 766.
  const VI sum = Add16(Add16(Add16(ends, ends), swapped), one);
  VI middle = MulHiU16(sum, Set1(0x55565556));
  static constexpr int8_t kOpaque[16] = {Z, 0, 0, 0, Z, 0, 0, 0, Z, 0, 0, 0, Z, 0, 0, 0};
  VI alpha = Bytes(kOpaque);
  if (kDXT1) {
    // c0 <= c1: entry 2 the rounded midpoint, entry 3 transparent black.
    static constexpr int8_t kC0[16] = {co, co + 1, co, co + 1, co, co + 1, co, co + 1,
                                       co, co + 1, co, co + 1, co, co + 1, co, co + 1};
    static constexpr int8_t kC1[16] = {co + 2, co + 3, co + 2, co + 3, co + 2, co + 3, co + 2, co + 3,
                                       co + 2, co + 3, co + 2, co + 3, co + 2, co + 3, co + 2, co + 3};
    static constexpr int8_t kFirstThree[16] = {Z, Z, Z, Z, Z, Z, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    static constexpr int8_t kEntry3Alpha[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, Z, 0, 0, 0};
    const VI c1 = Shuffle8(blk, Bytes(kC1));
    const VI three = CmpEq16(MaxU16(Shuffle8(blk, Bytes(kC0)), c1), c1);
    const VI half = And(Srli16(Add16(Add16(ends, swapped), one), 1), Bytes(kFirstThree));
    middle = Blend(middle, half, three);
    alpha = AndNot(And(three, Bytes(kEntry3Alpha)), alpha);
  } else {
    alpha = Xor(alpha, alpha);
  }
  return Or(Shuffle8(PackUS16(ends, middle), Bytes(kEntries)), alpha);
}

// The DXT5 alpha block at the start of each part: the 16 pixels' alpha
// values in pixel order.
inline VI AlphaValues(VI blk) {
  // The palette on 16-bit lanes: w0 * a0 + w1 * a1 + bias, divided by 7 or
  // 5 through a multiply (exact for these sums), in one pass for both modes.
  static constexpr int8_t kA0[16] = {0, Z, 0, Z, 0, Z, 0, Z, 0, Z, 0, Z, 0, Z, 0, Z};
  static constexpr int8_t kA1[16] = {1, Z, 1, Z, 1, Z, 1, Z, 1, Z, 1, Z, 1, Z, 1, Z};
  static constexpr int16_t kW0Seven[8] = {7, 0, 6, 5, 4, 3, 2, 1};
  static constexpr int16_t kW1Seven[8] = {0, 7, 1, 2, 3, 4, 5, 6};
  static constexpr int16_t kW0Five[8] = {5, 0, 4, 3, 2, 1, 0, 0};
  static constexpr int16_t kW1Five[8] = {0, 5, 1, 2, 3, 4, 0, 0};
  // Biases 3 (sevenths) or 2 (fifths; 2 + 5 * 255 for the 255 entry).
  static constexpr int16_t kBiasSeven[8] = {3, 3, 3, 3, 3, 3, 3, 3};
  static constexpr int16_t kBiasFive[8] = {2, 2, 2, 2, 2, 2, 2, 1277};
  // ceil(65536 / 7) and ceil(65536 / 5).
  static constexpr int16_t kDivSeven[8] = {9363, 9363, 9363, 9363, 9363, 9363, 9363, 9363};
  static constexpr int16_t kDivFive[8] = {13108, 13108, 13108, 13108, 13108, 13108, 13108, 13108};
  const VI a0 = Shuffle8(blk, Bytes(kA0)), a1 = Shuffle8(blk, Bytes(kA1));
  const VI seven = CmpGt16(a0, a1);
  const VI w0 = Blend(Words(kW0Five), Words(kW0Seven), seven);
  const VI w1 = Blend(Words(kW1Five), Words(kW1Seven), seven);
  const VI bias = Blend(Words(kBiasFive), Words(kBiasSeven), seven);
  const VI div = Blend(Words(kDivFive), Words(kDivSeven), seven);
  const VI palette = MulHiU16(Add16(Add16(MulLo16(a0, w0), MulLo16(a1, w1)), bias), div);
  const VI table = PackUS16(palette, palette);

  // Index i sits at bit 3i of bytes 2..7: the 16-bit window from byte
  // 2 + 3i / 8, shifted left by 13 - 3i % 8, holds it in its top 3 bits.
  static constexpr int8_t kWindowLo[16] = {2, 3, 2, 3, 2, 3, 3, 4, 3, 4, 3, 4, 4, 5, 4, 5};
  static constexpr int8_t kWindowHi[16] = {5, 6, 5, 6, 5, 6, 6, 7, 6, 7, 6, 7, 7, 8, 7, 8};
  // 2^(13 - s) for s = 0, 3, 6, 1, 4, 7, 2, 5.
  static constexpr int16_t kShift[8] = {8192, 1024, 128, 4096, 512, 64, 2048, 256};
  const VI lo = Srli16(MulLo16(Shuffle8(blk, Bytes(kWindowLo)), Words(kShift)), 13);
  const VI hi = Srli16(MulLo16(Shuffle8(blk, Bytes(kWindowHi)), Words(kShift)), 13);
  return Shuffle8(table, PackUS16(lo, hi));
}

// Decodes kBlocksPerStep whole blocks at src (blocks side by side in one row
// of blocks) into four pixel rows at dest, rowBytes apart.
template <bool kAlpha>
inline void DecodeStep(const unsigned char* src, unsigned char* dest, ptrdiff_t rowBytes) {
  constexpr int blockBytes = kAlpha ? 16 : 8;
  constexpr int indexAt = kAlpha ? 12 : 4;
  const VI blk = kAlpha ? LoadBlocks16(src) : LoadBlocks8(src);
  const VI palette = ColourPalette<!kAlpha, kAlpha ? 8 : 0>(blk);
  VI alphas = palette;
  if (kAlpha) alphas = AlphaValues(blk);
  uint32_t words[kBlocksPerStep];
  for (int k = 0; k < kBlocksPerStep; ++k) std::memcpy(&words[k], src + k * blockBytes + indexAt, 4);
  for (int y = 0; y < 4; ++y) {
    const uint8_t* masks[kBlocksPerStep];
    for (int k = 0; k < kBlocksPerStep; ++k) masks[k] = kPixelShuffles.mask[(words[k] >> (8 * y)) & 0xFF];
    VI row = Shuffle8(palette, LoadMasks(masks));
    if (kAlpha) {
      static constexpr int8_t kSpread[4][16] = {{0, Z, Z, Z, 1, Z, Z, Z, 2, Z, Z, Z, 3, Z, Z, Z},
                                                {4, Z, Z, Z, 5, Z, Z, Z, 6, Z, Z, Z, 7, Z, Z, Z},
                                                {8, Z, Z, Z, 9, Z, Z, Z, 10, Z, Z, Z, 11, Z, Z, Z},
                                                {12, Z, Z, Z, 13, Z, Z, Z, 14, Z, Z, Z, 15, Z, Z, Z}};
      row = Or(row, Shuffle8(alphas, Bytes(kSpread[y])));
    }
    StoreRow(dest + y * rowBytes, row);
  }
}

// A whole image: steps of whole blocks straight into the destination; the
// blocks of a short last row or column, and a row's last blocks short of a
// step, through a local strip, of which only the image's pixels are copied.
template <bool kAlpha>
void DecodeDXTImageLanes(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes) {
  if (width <= 0 || height <= 0) return;
  constexpr int blockBytes = kAlpha ? 16 : 8;
  constexpr int B = kBlocksPerStep;
  const int across = (width + 3) / 4, down = (height + 3) / 4;
  const int steps = width / 4 / B;
  const ptrdiff_t stride = rowBytes;
  alignas(32) unsigned char strip[4 * 16 * B];
  unsigned char source[B * blockBytes];
  for (int by = 0; by < down; ++by) {
    const unsigned char* src = blocks + static_cast<ptrdiff_t>(by) * across * blockBytes;
    unsigned char* out = dest + static_cast<ptrdiff_t>(by) * 4 * stride;
    const int rows = height - by * 4 < 4 ? height - by * 4 : 4;
    int bx = 0;
    if (rows == 4)
      for (; bx < steps * B; bx += B) DecodeStep<kAlpha>(src + bx * blockBytes, out + bx * 16, stride);
    for (; bx < across; bx += B) {
      const int n = across - bx < B ? across - bx : B;
      std::memset(source, 0, sizeof source);
      std::memcpy(source, src + bx * blockBytes, static_cast<size_t>(n) * blockBytes);
      DecodeStep<kAlpha>(source, strip, 16 * B);
      const int pixels = width - bx * 4 < 4 * B ? width - bx * 4 : 4 * B;
      for (int y = 0; y < rows; ++y) std::memcpy(out + y * stride + bx * 16, strip + y * 16 * B, pixels * 4u);
    }
  }
}

}  // namespace
