// Big-endian atoms for the movie writer: a byte builder, and nested atoms
// whose sizes are filled in as each closes.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "movie/MovieAtoms.h"

namespace orxmovie {

// Big-endian byte builder for atoms.
struct Bytes {
  std::vector<uint8_t> v;
  void U8(uint32_t x) { v.push_back(uint8_t(x)); }
  void U16(uint32_t x) {
    U8(x >> 8);
    U8(x);
  }
  void U32(uint32_t x) {
    U16(x >> 16);
    U16(x);
  }
  void U64(uint64_t x) {
    U32(uint32_t(x >> 32));
    U32(uint32_t(x));
  }
  void Zeros(size_t n) { v.insert(v.end(), n, 0); }
  void Atom(uint64_t size, const char (&type)[5]) {
    U32(uint32_t(size));
    U32(FourCC(type));
  }
  void FullAtom(uint64_t size, const char (&type)[5], uint32_t version, uint32_t flags) {
    Atom(size, type);
    U32((version << 24) | flags);
  }
  // A time (v1: 64 bits) of a movie, track or media header.
  void Time(uint64_t x, bool v1) { v1 ? U64(x) : U32(uint32_t(x)); }
  void Matrix() {
    const uint32_t m[9] = {0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000};
    for (uint32_t x : m) U32(x);
  }
};

// Builds nested atoms whose sizes are filled in as each one closes, so no
// size is worked out apart from what is written. Bytes streamed into the
// file from elsewhere (the sample tables, which live in the spill file) are
// counted where they go without being held: Emit writes the held bytes with
// the streamed pieces in their places.
class AtomBuilder : public Bytes {
 public:
  void Open(const char (&type)[5]) {
    open_.push_back({v.size(), Position()});
    Atom(0, type);
  }
  void OpenFull(const char (&type)[5], uint32_t version, uint32_t flags) {
    Open(type);
    U32((version << 24) | flags);
  }
  void Close() {
    const auto [at, start] = open_.back();
    open_.pop_back();
    PutBE32(&v[at], uint32_t(Position() - start));
  }
  // n bytes that piece `which` of Emit's stream writes here.
  void Streamed(uint64_t n, int which) {
    pieces_.push_back({v.size(), which});
    external_ += n;
  }
  // Writes the held bytes, calling stream(which) at each streamed piece.
  template <typename Put, typename Stream>
  bool Emit(Put&& put, Stream&& stream) const {
    size_t from = 0;
    for (const Piece& p : pieces_) {
      if (!put(v.data() + from, p.at - from) || !stream(p.which)) return false;
      from = p.at;
    }
    return put(v.data() + from, v.size() - from);
  }

 private:
  uint64_t Position() const { return v.size() + external_; }
  struct Piece {
    size_t at;
    int which;
  };
  std::vector<std::pair<size_t, uint64_t>> open_;  // size field, start position
  std::vector<Piece> pieces_;
  uint64_t external_ = 0;
};

// A handler reference ('hdlr'): component type ('mhlr' for the media,
// 'dhlr' for its data) and subtype, with an empty name.
inline void Handler(AtomBuilder& b, const char (&component)[5], const char (&subtype)[5]) {
  b.OpenFull("hdlr", 0, 0);
  b.U32(FourCC(component));
  b.U32(FourCC(subtype));
  b.Zeros(12);
  b.U8(0);  // the handler's name, left empty
  b.Close();
}

// The media information's data handler and data reference: the samples are
// in this file.
inline void DataInThisFile(AtomBuilder& b) {
  Handler(b, "dhlr", "alis");
  b.Open("dinf");
  b.OpenFull("dref", 0, 0);
  b.U32(1);
  b.OpenFull("alis", 0, 1);  // self-reference
  b.Close();
  b.Close();
  b.Close();
}

}  // namespace orxmovie
