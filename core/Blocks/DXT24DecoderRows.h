// The DXT24 decoder's row routines, each decoding blockRows rows of
// `across` blocks into rows rowBytes apart: the plain colour rows and their
// vector twins, for the decoder and its suite.
#pragma once

#include <cstdint>
#include <cstring>

// Little-endian loads of unaligned block bytes.
inline uint64_t Load64(const unsigned char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

inline uint32_t Load32(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// The colour rows with one byte shuffle a pixel row (the SSSE3 level, built
// for x86-64 only); the same pixels as the plain rows.
void DecodeRows24Shuffle(const unsigned char* src, unsigned char* dest, int across, int rowBytes, int blockRows);
