// The DXT24 block encoder's own steps and tables, for its vector twins and
// its suites; nothing else uses them.
#pragma once

#include <cstdint>

namespace dxt24_internal {

// Refinement tables: weight of colour 0 in thirds for each index, and the
// products w1^2, (3-w1)^2, w1*(3-w1) packed into bytes 2, 1, 0.
extern const int w1Tab[4];
extern const int prods[4];

// Stores a colour block: colour 0 and colour 1 (R << 16 | G << 8 | B) as
// R, G, B bytes, then the index word little-endian.
inline void WriteDXT24ColourBlock(unsigned char* d, uint32_t c0, uint32_t c1, uint32_t mask) {
  d[0] = static_cast<unsigned char>(c0 >> 16);
  d[1] = static_cast<unsigned char>(c0 >> 8);
  d[2] = static_cast<unsigned char>(c0);
  d[3] = static_cast<unsigned char>(c1 >> 16);
  d[4] = static_cast<unsigned char>(c1 >> 8);
  d[5] = static_cast<unsigned char>(c1);
  d[6] = static_cast<unsigned char>(mask);
  d[7] = static_cast<unsigned char>(mask >> 8);
  d[8] = static_cast<unsigned char>(mask >> 16);
  d[9] = static_cast<unsigned char>(mask >> 24);
}

// Matches the 16 pixels against a 4-entry palette (R, G, B, unused bytes)
// by projection onto the end-point axis; returns the index mask.
unsigned int stb__MatchColorsBlock24(const unsigned char* block, const unsigned char* color);

// Least-squares end points for the given mask. c0/c1 are 24-bit colours
// (R << 16 | G << 8 | B). Returns true when either end point changed.
bool stb__RefineBlock24(const unsigned char* block, uint32_t* c0, uint32_t* c1, unsigned int mask);

}  // namespace dxt24_internal
