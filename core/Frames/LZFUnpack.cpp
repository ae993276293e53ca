#include "core/Frames/LZFUnpack.h"

#include <cstring>

// An LZF stream is a run of tokens. A control byte below 32 starts a literal
// run of control + 1 bytes. Any other is a back reference: its top three bits
// are the length less 2 (7: a further byte adds to it) and its low five bits
// with the next byte the distance less 1, copied byte by byte forward, so a
// distance below the length repeats a pattern.
//
// The copies are fixed-size moves the compiler turns into vector loads and
// stores: 32 bytes for every literal run, 16 or 8 a step for a reference
// whose distance allows it. They may write past the token's end, never past
// capacity; the next token overwrites those bytes. Where room runs short the
// copy goes byte by byte, as liblzf's does.
namespace {

inline void Copy8(uint8_t* d, const uint8_t* s) { std::memcpy(d, s, 8); }
inline void Copy16(uint8_t* d, const uint8_t* s) { std::memcpy(d, s, 16); }
inline void Copy32(uint8_t* d, const uint8_t* s) { std::memcpy(d, s, 32); }

// A control byte and 32 literal bytes; a reference's widest write: its
// longest length (264) and 15 bytes more.
constexpr int64_t kLongestToken = 33;
constexpr int64_t kWidestWrite = 264 + 15;

// Copies len bytes from ref, distance bytes behind op, forward, as the byte
// by byte copy would. Writes up to 15 bytes past op + len; the caller has
// that room.
inline void CopyReference(uint8_t* op, const uint8_t* ref, size_t distance, size_t len) {
  if (distance >= 16) {
    // Each step reads bytes written at least 16 before it.
    for (size_t i = 0; i < len; i += 16) Copy16(op + i, ref + i);
  } else if (distance >= 8) {
    for (size_t i = 0; i < len; i += 8) Copy8(op + i, ref + i);
  } else if (distance == 1) {
    std::memset(op, *ref, len);
  } else {
    // A pattern of distance bytes: eight bytes of it, written at a stride
    // of the largest multiple of distance that fits in eight.
    uint8_t pattern[8];
    for (size_t j = 0; j < 8; ++j) pattern[j] = ref[j % distance];
    const size_t stride = 8 - 8 % distance;
    for (size_t i = 0; i < len; i += stride) Copy8(op + i, pattern);
  }
}

}  // namespace

int64_t ORXUnpackLZF(const uint8_t* src, int64_t size, uint8_t* dest, int64_t capacity) {
  if (src == nullptr || dest == nullptr || size <= 0 || capacity < 0) return 0;
  const uint8_t* ip = src;
  const uint8_t* const inEnd = src + size;
  uint8_t* op = dest;
  uint8_t* const outEnd = dest + capacity;
  // While the longest token and its widest copy fit both ways, no token
  // needs a bounds check but the reference's distance.
  while (inEnd - ip >= kLongestToken && outEnd - op >= kWidestWrite) {
    const unsigned ctrl = *ip++;
    if (ctrl < 32) {
      Copy32(op, ip);
      op += ctrl + 1;
      ip += ctrl + 1;
      continue;
    }
    size_t len = ctrl >> 5;
    size_t distance = (static_cast<size_t>(ctrl & 0x1f) << 8) + 1;
    if (len == 7) len += *ip++;
    distance += *ip++;
    len += 2;
    if (distance > static_cast<size_t>(op - dest)) return 0;
    CopyReference(op, op - distance, distance, len);
    op += len;
  }
  if (ip >= inEnd) return op - dest;
  do {
    const unsigned ctrl = *ip++;
    if (ctrl < 32) {
      const size_t len = ctrl + 1;
      if (len > static_cast<size_t>(outEnd - op)) return 0;  // more than the output holds
      if (len > static_cast<size_t>(inEnd - ip)) return 0;   // the run is cut short
      if (inEnd - ip >= 32 && outEnd - op >= 32) {
        Copy32(op, ip);
      } else {
        std::memcpy(op, ip, len);
      }
      op += len;
      ip += len;
      continue;
    }
    size_t len = ctrl >> 5;
    size_t distance = (static_cast<size_t>(ctrl & 0x1f) << 8) + 1;
    if (ip >= inEnd) return 0;
    if (len == 7) {
      len += *ip++;
      if (ip >= inEnd) return 0;
    }
    distance += *ip++;
    len += 2;
    if (len > static_cast<size_t>(outEnd - op)) return 0;
    if (distance > static_cast<size_t>(op - dest)) return 0;  // before the output's start
    if (static_cast<size_t>(outEnd - op) >= len + 15) {
      CopyReference(op, op - distance, distance, len);
    } else {
      const uint8_t* ref = op - distance;
      for (size_t i = 0; i < len; ++i) op[i] = ref[i];
    }
    op += len;
  } while (ip < inEnd);
  return op - dest;
}
