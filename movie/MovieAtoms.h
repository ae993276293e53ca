// What the movie writer and the movie reader share: atom codes, the layout
// constants of the files they make and accept, big-endian fields, and
// messages.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "movie/MovieFacts.h"
#include "movie/MovieStatus.h"

namespace orxmovie {

constexpr uint32_t kDescriptionBytes = 86;  // the stored image description without extensions
constexpr uint64_t kSecondsFrom1904To1970 = 2082844800;
constexpr uint64_t kMax32 = 0xFFFFFFFFu;
// Header of the file up to the first sample: ftyp (20), wide (8), mdat (8).
constexpr uint64_t kWideOffset = 20, kMdatOffset = 28, kFirstSampleOffset = 36;
// Keeps the movie atom under 4 GiB: each sample costs at most 20 bytes of
// tables (size, 64-bit offset and its own time-to-sample run).
constexpr uint32_t kMaxSamples = 200000000;
constexpr uint64_t kMaxMovieAtom = uint64_t(1) << 30;  // the most the reader loads

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
inline std::string Format(const char* fmt, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

// "'moov'", with anything unprintable as '?'.
inline std::string TypeName(uint32_t type) {
  std::string s = "'";
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = char((type >> shift) & 0xFF);
    s += (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  return s + "'";
}

inline uint16_t BE16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t BE32(const uint8_t* p) { return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]; }
inline uint64_t BE64(const uint8_t* p) { return (uint64_t{BE32(p)} << 32) | BE32(p + 4); }

inline void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

inline void PutBE64(uint8_t* p, uint64_t v) {
  PutBE32(p, uint32_t(v >> 32));
  PutBE32(p + 4, uint32_t(v));
}

}  // namespace orxmovie
