// The processor's DXT1 and DXT5 block decoders on the cases that separate
// them: DXT1's three-colour mode (colour 0 not above colour 1), which the
// graphics road draws with a midpoint and a transparent black, and DXT5's
// colour block, which is always four colours.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "DXTDecoder.h"

namespace {

using ARGB = std::array<int, 4>;

// A 4x4 DXT1 block whose pixel i takes index i % 4.
std::array<unsigned char, 8> ColourBlock(uint16_t c0, uint16_t c1) {
  return {uint8_t(c0), uint8_t(c0 >> 8), uint8_t(c1), uint8_t(c1 >> 8), 0xE4, 0xE4, 0xE4, 0xE4};
}

std::array<ARGB, 4> FirstRow(const unsigned char* px) {
  std::array<ARGB, 4> row;
  for (int x = 0; x < 4; ++x) row[x] = {px[4 * x], px[4 * x + 1], px[4 * x + 2], px[4 * x + 3]};
  return row;
}

}  // namespace

TEST(DXTDecoder, DXT1ThreeColourBlocksHaveAMidpointAndTransparentBlack) {
  struct Case {
    const char* what;
    uint16_t c0, c1;
    std::array<ARGB, 4> expected;
  };
  const Case cases[] = {
      // The thirds round to nearest: (2 * 255 + 8) / 3 = 172.67 gives 173.
      {"four colours (c0 > c1)", 0xF800, 0x0800,
       {{{255, 255, 0, 0}, {255, 8, 0, 0}, {255, 173, 0, 0}, {255, 90, 0, 0}}}},
      {"three colours (c0 < c1)", 0x001F, 0xF800,
       {{{255, 0, 0, 255}, {255, 255, 0, 0}, {255, 128, 0, 128}, {0, 0, 0, 0}}}},
      {"three colours (c0 = c1)", 0x07E0, 0x07E0,
       {{{255, 0, 255, 0}, {255, 0, 255, 0}, {255, 0, 255, 0}, {0, 0, 0, 0}}}},
  };
  for (const Case& c : cases) {
    const auto block = ColourBlock(c.c0, c.c1);
    unsigned char px[64] = {};
    DecodeDXT1ToARGB(block.data(), px, 4, 4, 16);
    EXPECT_EQ(FirstRow(px), c.expected) << c.what;
  }
}

TEST(DXTDecoder, DXT5ColourBlocksAreAlwaysFourColours) {
  unsigned char block[16] = {255, 255, 0, 0, 0, 0, 0, 0};  // alpha 255 everywhere
  const auto colour = ColourBlock(0x001F, 0xF800);      // c0 < c1
  for (int i = 0; i < 8; ++i) block[8 + i] = colour[i];
  unsigned char px[64] = {};
  DecodeDXT5ToARGB(block, px, 4, 4, 16);
  const std::array<ARGB, 4> expected = {{{255, 0, 0, 255}, {255, 255, 0, 0}, {255, 85, 0, 170}, {255, 170, 0, 85}}};
  EXPECT_EQ(FirstRow(px), expected);
}
