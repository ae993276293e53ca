// The decode roads' LZF unpacker against liblzf's lzf_decompress, its twin:
// the same count and the same bytes for real frames' block data and for
// hand-made streams at the edges of its wide copies (every short distance,
// the longest references, literal runs that end at the output's end), the
// same refusals, and never a byte written past the capacity it is given.
#include <gtest/gtest.h>
#include <lzf.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/Blocks/DXT24.h"
#include "core/Blocks/DXTStandard.h"
#include "core/Format/ORXHeader.h"
#include "core/Frames/LZFUnpack.h"
#include "testimage/ORXTestImage.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kGuard = 0xA5;

// Unpacks stream into capacity bytes both ways; fails unless the counts and
// the bytes below them agree and the unpacker left the guard bytes past
// capacity alone. *count gets the count.
testing::AssertionResult SameAsLiblzf(const Bytes& stream, size_t capacity, int64_t* count = nullptr) {
  Bytes want(capacity + 1), got(capacity + 64, kGuard);
  const unsigned n = stream.empty() ? 0
                                    : lzf_decompress(stream.data(), static_cast<unsigned>(stream.size()), want.data(),
                                                     static_cast<unsigned>(capacity));
  const int64_t m = ORXUnpackLZF(stream.data(), static_cast<int64_t>(stream.size()), got.data(),
                                 static_cast<int64_t>(capacity));
  if (count) *count = m;
  if (m != static_cast<int64_t>(n))
    return testing::AssertionFailure() << "count " << m << ", lzf_decompress " << n << " (capacity " << capacity << ")";
  for (size_t i = 0; i < n; ++i)
    if (got[i] != want[i]) return testing::AssertionFailure() << "byte " << i << " differs";
  for (size_t i = capacity; i < got.size(); ++i)
    if (got[i] != kGuard) return testing::AssertionFailure() << "wrote byte " << i << " past capacity " << capacity;
  return testing::AssertionSuccess();
}

// A back reference token: length 3 .. 264, distance 1 .. 8192.
void Reference(Bytes* s, size_t length, size_t distance) {
  const size_t len = length - 2, off = distance - 1;
  if (len < 7) {
    s->push_back(static_cast<uint8_t>(len << 5 | off >> 8));
  } else {
    s->push_back(static_cast<uint8_t>(7 << 5 | off >> 8));
    s->push_back(static_cast<uint8_t>(len - 7));
  }
  s->push_back(static_cast<uint8_t>(off & 0xff));
}

// A literal run of 1 .. 32 bytes counting up from first.
void Literal(Bytes* s, size_t length, uint8_t first = 1) {
  s->push_back(static_cast<uint8_t>(length - 1));
  for (size_t i = 0; i < length; ++i) s->push_back(static_cast<uint8_t>(first + i * 7));
}

Bytes Packed(const Bytes& raw) {
  Bytes out(raw.size() + 64);
  const unsigned n =
      lzf_compress(raw.data(), static_cast<unsigned>(raw.size()), out.data(), static_cast<unsigned>(out.size()));
  out.resize(n);
  return out;
}

// Block data of the test picture with grain, as the encoder makes it.
Bytes Blocks(int w, int h, bool alpha, bool dxt24) {
  Bytes argb(static_cast<size_t>(w) * h * 4);
  ORXMakeTestImageARGB(argb.data(), w, h, 0, 3);
  ORXAddGrainARGB(argb.data(), w, h, 0, 3, 9);
  Bytes blocks(static_cast<size_t>(CalculateORXBlockDataSize(w, h, alpha, dxt24)));
  if (dxt24)
    _stbCompressARGB32_to24(blocks.data(), argb.data(), w, h, 0, alpha);
  else
    stbCompressARGB32(blocks.data(), argb.data(), w, h, 0, alpha);
  return blocks;
}

TEST(LZFUnpack, RealBlockDataAtExactShortAndLargeCapacities) {
  const struct {
    const char* name;
    bool alpha, dxt24;
  } kinds[] = {{"DXT1", false, false}, {"DXT5", true, false}, {"DXT24", false, true}, {"DXT24+alpha", true, true}};
  for (const auto& k : kinds)
    for (int w : {64, 333, 1280}) {
      SCOPED_TRACE(std::string(k.name) + " " + std::to_string(w));
      const Bytes raw = Blocks(w, w * 9 / 16, k.alpha, k.dxt24);
      const Bytes packed = Packed(raw);
      ASSERT_FALSE(packed.empty());
      int64_t n = 0;
      EXPECT_TRUE(SameAsLiblzf(packed, raw.size(), &n));
      EXPECT_EQ(n, static_cast<int64_t>(raw.size()));
      EXPECT_TRUE(SameAsLiblzf(packed, raw.size() - 1));
      EXPECT_TRUE(SameAsLiblzf(packed, raw.size() + 300));
      // Every cut of the stream's end: truncated tokens and short outputs.
      for (size_t cut = 1; cut < 40 && cut < packed.size(); ++cut)
        EXPECT_TRUE(SameAsLiblzf(Bytes(packed.begin(), packed.end() - static_cast<std::ptrdiff_t>(cut)), raw.size()))
            << cut;
    }
}

// References at every distance the wide copies treat apart (1 to 17) and
// every length from 3 to 264, after enough output for the distance; as the
// whole stream (the careful path) and after 300 bytes of literals and with
// room behind (the path without bounds checks).
TEST(LZFUnpack, EveryShortDistanceAndLengthRepeatsItsPattern) {
  for (bool wide : {false, true})
    for (size_t distance = 1; distance <= 17; ++distance)
      for (size_t length = 3; length <= 264; length += (length < 40 ? 1 : 13)) {
        Bytes s;
        size_t before = 0;
        if (wide)
          for (int i = 0; i < 10; ++i, before += 30) Literal(&s, 30, static_cast<uint8_t>(i * 31));
        for (size_t left = distance; left > 0;) {
          const size_t run = left < 32 ? left : 32;
          Literal(&s, run, static_cast<uint8_t>(distance * 13 + left));
          left -= run;
          before += run;
        }
        Reference(&s, length, distance);
        if (wide) Literal(&s, 5);
        const size_t total = before + length + (wide ? 5 : 0);
        ASSERT_TRUE(SameAsLiblzf(s, total)) << "distance " << distance << " length " << length;
        ASSERT_TRUE(SameAsLiblzf(s, total + 400)) << "distance " << distance << " length " << length;
        ASSERT_TRUE(SameAsLiblzf(s, total - 1)) << "distance " << distance << " length " << length;
      }
}

// The longest references (264 bytes) at long distances, and literal runs of
// every length ending exactly at the output's end.
TEST(LZFUnpack, LongestReferencesAndRunsEndingAtTheEnd) {
  Bytes s;
  size_t total = 0;
  for (int i = 0; i < 300; ++i, total += 32) Literal(&s, 32, static_cast<uint8_t>(i));
  for (size_t distance : {16, 100, 264, 1000, 8192}) {
    Reference(&s, 264, distance);
    total += 264;
  }
  EXPECT_TRUE(SameAsLiblzf(s, total));
  for (size_t run = 1; run <= 32; ++run) {
    Bytes t = s;
    Literal(&t, run, static_cast<uint8_t>(run));
    EXPECT_TRUE(SameAsLiblzf(t, total + run)) << run;
    EXPECT_TRUE(SameAsLiblzf(t, total + run - 1)) << run;
    Bytes small;
    Literal(&small, run);
    EXPECT_TRUE(SameAsLiblzf(small, run)) << run;
  }
}

// What liblzf refuses, this refuses: a reference before the output's start,
// tokens cut short, output too small; and an empty stream gives nothing.
TEST(LZFUnpack, RefusesWhatLiblzfRefuses) {
  Bytes before;
  Reference(&before, 3, 1);  // nothing written yet
  Bytes farBack;
  Literal(&farBack, 4);
  Reference(&farBack, 10, 5);
  Bytes noDistance = {0x20};          // a reference without its distance byte
  Bytes noLength = {0xE0};            // a long reference without its length byte
  Bytes noDistanceAfterLength = {0x01, 9, 9, 0xE0, 3};
  Bytes shortRun = {0x05, 1, 2, 3};   // six literals promised, three given
  for (const Bytes* s : {&before, &farBack, &noDistance, &noLength, &noDistanceAfterLength, &shortRun}) {
    int64_t n = -1;
    EXPECT_TRUE(SameAsLiblzf(*s, 400, &n));
    EXPECT_EQ(n, 0);
  }
  uint8_t out[8];
  EXPECT_EQ(ORXUnpackLZF(nullptr, 0, out, 8), 0);
  const uint8_t one[] = {0, 42};
  EXPECT_EQ(ORXUnpackLZF(one, 2, out, 0), 0);
  EXPECT_EQ(ORXUnpackLZF(one, 2, out, 1), 1);
  EXPECT_EQ(out[0], 42);
}

}  // namespace
