// Frame header layout, size rules and the frame check the decoder relies on.
#include <gtest/gtest.h>
#include <lzf.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/Format/ORXHeader.h"

namespace {

std::vector<uint8_t> MakeFrame(const ORXHeader& h, size_t payload) {
  std::vector<uint8_t> f(kORXHeaderSize + payload, 0);
  WriteORXHeader(h, f.data());
  return f;
}

ORXHeader RawHeader(int32_t dataSize, bool alpha, bool dxt24) {
  ORXHeader h;
  h.headerSize = kORXHeaderSize;
  h.version = kORXVersion;
  h.hasAlpha = alpha;
  h.isDXT24 = dxt24;
  h.dataSize = dataSize;
  return h;
}

}  // namespace

TEST(FrameHeader, FieldsLandAtTheirOffsetsLittleEndian) {
  ORXHeader h;
  h.headerSize = 0x11223344;
  h.version = 1;
  h.hasAlpha = 2;
  h.isLZF = 3;
  h.secondIsLZF = 4;
  h.secondWidth = 0x01020304;
  h.secondHeight = -2;
  h.dataSize = 0x0A0B0C0D;
  h.secondSize = 0x7F000001;
  h.secondIsRGB = 5;
  h.gradientsDiscarded = 6;
  h.isDXT24 = 7;
  uint8_t b[kORXHeaderSize];
  std::memset(b, 0xEE, sizeof b);
  WriteORXHeader(h, b);
  const uint8_t expected[kORXHeaderSize] = {0x44, 0x33, 0x22, 0x11, 1, 2, 3, 4, 0x04, 0x03, 0x02, 0x01, 0xFE, 0xFF,
                                            0xFF, 0xFF, 0x0D, 0x0C, 0x0B, 0x0A, 0x01, 0x00, 0x00, 0x7F, 5, 6, 7, 0};
  for (int i = 0; i < kORXHeaderSize; ++i) EXPECT_EQ(b[i], expected[i]) << "byte " << i;

  const ORXHeader r = ReadORXHeader(b);
  EXPECT_EQ(r.headerSize, h.headerSize);
  EXPECT_EQ(r.secondHeight, -2);
  EXPECT_EQ(r.dataSize, h.dataSize);
  EXPECT_EQ(r.secondSize, h.secondSize);
  EXPECT_EQ(r.isDXT24, 7);
  EXPECT_EQ(r.gradientsDiscarded, 6);
}

TEST(FrameSizes, BlockDataAndMaximumFrameSizes) {
  // 1x1: one block; a raw DXT1 frame is 36 bytes.
  EXPECT_EQ(CalculateORXBlockDataSize(1, 1, false, false), 8);
  EXPECT_EQ(kORXHeaderSize + CalculateORXBlockDataSize(1, 1, false, false), 36);
  EXPECT_EQ(CalculateMaxORXDataSize(1, 1, false, false), 36);  // no complete block
  // 5x3: 2 x 1 blocks.
  EXPECT_EQ(CalculateORXBlockDataSize(5, 3, false, true), 20);
  EXPECT_EQ(CalculateORXBlockDataSize(6, 6, false, false), 32);
  EXPECT_EQ(CalculateORXBlockDataSize(6, 6, true, false), 64);
  EXPECT_EQ(CalculateORXBlockDataSize(6, 6, false, true), 40);
  EXPECT_EQ(CalculateORXBlockDataSize(6, 6, true, true), 72);

  EXPECT_EQ(CalculateORXBlockDataSize(1920, 1080, false, false), 1036800);
  EXPECT_EQ(CalculateORXBlockDataSize(1920, 1080, true, false), 2073600);
  EXPECT_EQ(CalculateORXBlockDataSize(1920, 1080, false, true), 1296000);
  EXPECT_EQ(CalculateMaxORXDataSize(1920, 1080, false, false), 1555228);
  EXPECT_EQ(CalculateMaxORXDataSize(1920, 1080, true, false), 2592028);
  EXPECT_EQ(CalculateMaxORXDataSize(1920, 1080, false, true), 1296028);

  // Same block count, but only 479 x 269 complete blocks count in the extra term.
  EXPECT_EQ(CalculateORXBlockDataSize(1918, 1078, false, false), 1036800);
  EXPECT_EQ(CalculateMaxORXDataSize(1918, 1078, false, false), 1036800 + 515404 + 28);

  for (bool alpha : {false, true})
    for (bool dxt24 : {false, true}) {
      EXPECT_EQ(CalculateORXBlockDataSize(0, 100, alpha, dxt24), 0);
      EXPECT_EQ(CalculateORXBlockDataSize(100, 0, alpha, dxt24), 0);
      EXPECT_EQ(CalculateMaxORXDataSize(0, 0, alpha, dxt24), 28);
      // Negative sizes count as no blocks rather than wrapping to positive.
      EXPECT_EQ(CalculateORXBlockDataSize(-8, -8, alpha, dxt24), 0);
      EXPECT_EQ(CalculateMaxORXDataSize(-8, -8, alpha, dxt24), 28);
    }
  // Huge images do not overflow 32 bits.
  EXPECT_EQ(CalculateORXBlockDataSize(65536, 65536, true, true), int64_t{16384} * 16384 * 18);
}

TEST(FrameCheck, AcceptsWellFormedFrames) {
  ORXFrameLayout layout;
  auto f = MakeFrame(RawHeader(40, false, true), 40);
  ASSERT_EQ(CheckORXFrame(f.data(), f.size(), 6, 6, &layout), ORXFrameError::none);
  EXPECT_EQ(layout.blockDataSize, 40);
  EXPECT_EQ(layout.layerSize, 0);

  // Zero-size image: a bare 28-byte frame.
  auto empty = MakeFrame(RawHeader(0, false, false), 0);
  EXPECT_EQ(CheckORXFrame(empty.data(), empty.size(), 0, 0, nullptr), ORXFrameError::none);

  // A stored section longer than needed is allowed (only what is needed is read).
  auto longer = MakeFrame(RawHeader(50, false, true), 50);
  EXPECT_EQ(CheckORXFrame(longer.data(), longer.size(), 6, 6, nullptr), ORXFrameError::none);

  // LZF: any stored length up to the raw size.
  ORXHeader lzf = RawHeader(12, true, false);
  lzf.isLZF = 1;
  auto packed = MakeFrame(lzf, 12);
  EXPECT_EQ(CheckORXFrame(packed.data(), packed.size(), 6, 6, nullptr), ORXFrameError::none);
  lzf.dataSize = 40;  // exactly the raw size: still a valid packed section
  auto asLong = MakeFrame(lzf, 40);
  EXPECT_EQ(CheckORXFrame(asLong.data(), asLong.size(), 6, 6, nullptr), ORXFrameError::none);
  lzf.dataSize = 12;

  // isLZF 2 reads as raw: then the stored data must hold every block.
  lzf.isLZF = 2;
  auto notPacked = MakeFrame(lzf, 12);
  EXPECT_EQ(CheckORXFrame(notPacked.data(), notPacked.size(), 6, 6, nullptr), ORXFrameError::firstSectionTooShort);

  // A second section (layer) after the first, larger header.
  ORXHeader layered = RawHeader(32, false, false);
  layered.headerSize = 40;
  layered.secondWidth = 2;
  layered.secondHeight = 3;
  layered.secondIsRGB = 1;
  layered.secondSize = 18;
  std::vector<uint8_t> lf(40 + 32 + 18, 0);
  WriteORXHeader(layered, lf.data());
  ASSERT_EQ(CheckORXFrame(lf.data(), lf.size(), 6, 6, &layout), ORXFrameError::none);
#if defined(_WIN32)
  // The Windows build ignores the second section: none is checked or read.
  EXPECT_EQ(layout.layerSize, 0);
  EXPECT_EQ(layout.header.secondSize, 0);
  EXPECT_EQ(CheckORXFrame(lf.data(), lf.size() - 1, 6, 6, nullptr), ORXFrameError::none);
  layered.secondSize = -5;
  layered.secondWidth = 1 << 30;
  WriteORXHeader(layered, lf.data());
  EXPECT_EQ(CheckORXFrame(lf.data(), lf.size(), 6, 6, nullptr), ORXFrameError::none);
#else
  EXPECT_EQ(layout.layerSize, 18);
  EXPECT_EQ(CheckORXFrame(lf.data(), lf.size() - 1, 6, 6, nullptr), ORXFrameError::secondSectionOutOfBounds);
  layered.secondSize = 17;
  WriteORXHeader(layered, lf.data());
  EXPECT_EQ(CheckORXFrame(lf.data(), lf.size(), 6, 6, nullptr), ORXFrameError::secondSectionTooShort);
#endif
}

TEST(FrameCheck, RejectsDamagedHeaders) {
  auto good = MakeFrame(RawHeader(40, false, true), 40);
  EXPECT_EQ(CheckORXFrame(good.data(), 27, 6, 6, nullptr), ORXFrameError::truncatedHeader);
  EXPECT_EQ(CheckORXFrame(nullptr, 100, 6, 6, nullptr), ORXFrameError::truncatedHeader);
  EXPECT_EQ(CheckORXFrame(good.data(), good.size() - 1, 6, 6, nullptr), ORXFrameError::firstSectionOutOfBounds);
  EXPECT_EQ(CheckORXFrame(good.data(), good.size(), 9, 6, nullptr), ORXFrameError::firstSectionTooShort);
  EXPECT_EQ(CheckORXFrame(good.data(), good.size(), -1, 6, nullptr), ORXFrameError::badImageSize);

  struct Case {
    const char* what;
    void (*damage)(ORXHeader&);
    ORXFrameError expected;
    bool secondSection = false;  // the Windows build ignores these fields
  };
  const Case cases[] = {
      {"header size below 28", [](ORXHeader& h) { h.headerSize = 27; }, ORXFrameError::badHeaderSize},
      {"header size past the end", [](ORXHeader& h) { h.headerSize = 1000; }, ORXFrameError::badHeaderSize},
      {"header size near 4 GiB", [](ORXHeader& h) { h.headerSize = 0xFFFFFFF0u; }, ORXFrameError::badHeaderSize},
      {"negative data size", [](ORXHeader& h) { h.dataSize = -1; }, ORXFrameError::negativeSectionSize},
      {"negative second size", [](ORXHeader& h) { h.secondSize = -5; }, ORXFrameError::negativeSectionSize, true},
      {"negative layer width", [](ORXHeader& h) { h.secondWidth = -5; }, ORXFrameError::negativeSectionSize, true},
      {"data size near 2 GiB", [](ORXHeader& h) { h.dataSize = 0x7FFFFFFF; }, ORXFrameError::firstSectionOutOfBounds},
      {"second section near 2 GiB",
       [](ORXHeader& h) {
         h.secondSize = 0x7FFFFFFF;
         h.secondWidth = 1;
         h.secondHeight = 1;
       },
       ORXFrameError::secondSectionOutOfBounds, true},
      {"layer dimensions overflow",
       [](ORXHeader& h) {
         h.secondWidth = 0x7FFFFFFF;
         h.secondHeight = 0x7FFFFFFF;
       },
       ORXFrameError::badImageSize, true},
      {"unknown variant", [](ORXHeader& h) { h.isDXT24 = 2; }, ORXFrameError::unknownVariant},
      // 40 bytes of blocks cannot come from one packed byte (88 at most).
      {"packed data too short to unpack to the blocks",
       [](ORXHeader& h) {
         h.isLZF = 1;
         h.dataSize = 0;
       },
       ORXFrameError::firstSectionTooShort},
      {"packed layer too short to unpack to it",
       [](ORXHeader& h) {
         h.secondIsLZF = 1;
         h.secondWidth = 30;
         h.secondHeight = 30;
         h.secondSize = 1;
       },
       ORXFrameError::secondSectionTooShort, true},
  };
  // DXT24 frames never read a second section, so its fields are not checked
  // there (nor anywhere on Windows, whose decoder reads none).
  for (bool dxt24 : {true, false})
    for (const Case& c : cases) {
      ORXHeader h = RawHeader(40, false, dxt24);
      c.damage(h);
      auto f = MakeFrame(h, 64);
      f.resize(kORXHeaderSize + 41);
      const ORXFrameError expected =
          c.secondSection && (dxt24 || !ORXPlatformReadsSecondSection()) ? ORXFrameError::none : c.expected;
      EXPECT_EQ(CheckORXFrame(f.data(), f.size(), 6, 6, nullptr), expected)
          << c.what << (dxt24 ? " (DXT24) -> " : " (DXT1) -> ")
          << ORXFrameErrorMessage(CheckORXFrame(f.data(), f.size(), 6, 6, nullptr));
      EXPECT_STRNE(ORXFrameErrorMessage(c.expected), "no error") << c.what;
    }

  // A packed section longer than the raw data it unpacks to: another encoder
  // may write one for incompressible blocks. Whether it unpacks to exactly
  // the raw size is the decoder's check.
  ORXHeader grown = RawHeader(41, false, true);
  grown.isLZF = 1;
  auto g = MakeFrame(grown, 41);
  EXPECT_EQ(CheckORXFrame(g.data(), g.size(), 6, 6, nullptr), ORXFrameError::none);
  g.pop_back();
  EXPECT_EQ(CheckORXFrame(g.data(), g.size(), 6, 6, nullptr), ORXFrameError::firstSectionOutOfBounds);
}

// ---- Frame checks at the boundary ----------------------------------------------------

// Raw block data of exactly the image's blocks passes; one byte less fails,
// even in a sample that holds the missing byte, for every variant and for
// images that are and are not whole blocks. Packed data passes the check's
// 88:1 bound at ceil(blocks / 88) bytes and fails one byte below it.
TEST(FrameCheck, BlockDataAtTheBoundaryInEveryVariant) {
  const int sizes[][2] = {{1, 1}, {6, 6}, {64, 64}, {13, 10}};
  for (bool alpha : {false, true})
    for (bool dxt24 : {false, true})
      for (const auto& s : sizes) {
        const int w = s[0], h = s[1];
        const int32_t need = int32_t(CalculateORXBlockDataSize(w, h, alpha, dxt24));
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + (alpha ? " alpha" : "") + (dxt24 ? " DXT24" : ""));
        auto exact = MakeFrame(RawHeader(need, alpha, dxt24), size_t(need));
        EXPECT_EQ(CheckORXFrame(exact.data(), exact.size(), w, h, nullptr), ORXFrameError::none);
        EXPECT_EQ(CheckORXFrameData(exact.data(), exact.size(), w, h, nullptr), ORXFrameError::none);
        auto shortBy1 = MakeFrame(RawHeader(need - 1, alpha, dxt24), size_t(need));
        EXPECT_EQ(CheckORXFrame(shortBy1.data(), shortBy1.size(), w, h, nullptr), ORXFrameError::firstSectionTooShort);
        EXPECT_EQ(CheckORXFrame(exact.data(), exact.size() - 1, w, h, nullptr),
                  ORXFrameError::firstSectionOutOfBounds);

        ORXHeader packed = RawHeader(int32_t((need + kLZFMaxExpansion - 1) / kLZFMaxExpansion), alpha, dxt24);
        packed.isLZF = 1;
        auto least = MakeFrame(packed, size_t(packed.dataSize));
        EXPECT_EQ(CheckORXFrame(least.data(), least.size(), w, h, nullptr), ORXFrameError::none);
        --packed.dataSize;
        auto below = MakeFrame(packed, size_t(packed.dataSize) + 1);
        EXPECT_EQ(CheckORXFrame(below.data(), below.size(), w, h, nullptr), ORXFrameError::firstSectionTooShort);
      }
}

// ---- Packed sections proven without memory --------------------------------------------

namespace {

std::vector<uint8_t> Pack(const std::vector<uint8_t>& raw) {
  std::vector<uint8_t> out(raw.size() + raw.size() / 16 + 64);
  const unsigned n = lzf_compress(raw.data(), unsigned(raw.size()), out.data(), unsigned(out.size()));
  out.resize(n);
  return out;
}

// What unpacking finds: the stream fills exactly expected bytes.
bool Unpacks(const std::vector<uint8_t>& stream, size_t size, size_t expected) {
  std::vector<uint8_t> out(expected + 1);
  return lzf_decompress(stream.data(), unsigned(size), out.data(), unsigned(expected)) == expected && expected > 0;
}

}  // namespace

// The proof walks the runs as lzf_decompress does: it agrees with unpacking
// on valid streams, on every cut of them, on damaged bytes, and on the
// expected size one either side.
TEST(LZFProof, AgreesWithUnpacking) {
  std::mt19937 rng(5);
  std::vector<std::vector<uint8_t>> raws;
  raws.push_back(std::vector<uint8_t>(4000, 0));
  for (size_t size : {1u, 33u, 700u, 9000u}) {
    std::vector<uint8_t> r(size);
    for (size_t i = 0; i < size; ++i) r[i] = uint8_t(i % 3 == 0 ? rng() : i / 40);  // runs and literals
    raws.push_back(r);
  }
  for (const auto& raw : raws) {
    const std::vector<uint8_t> stream = Pack(raw);
    ASSERT_FALSE(stream.empty());
    SCOPED_TRACE(raw.size());
    EXPECT_TRUE(ORXLZFUnpacksTo(stream.data(), int64_t(stream.size()), int64_t(raw.size())));
    EXPECT_FALSE(ORXLZFUnpacksTo(stream.data(), int64_t(stream.size()), int64_t(raw.size()) - 1));
    EXPECT_FALSE(ORXLZFUnpacksTo(stream.data(), int64_t(stream.size()), int64_t(raw.size()) + 1));
    for (size_t cut = 1; cut < stream.size(); cut += 1 + stream.size() / 200)
      ASSERT_EQ(ORXLZFUnpacksTo(stream.data(), int64_t(cut), int64_t(raw.size())), Unpacks(stream, cut, raw.size()))
          << "cut at " << cut;
    for (int k = 0; k < 300; ++k) {
      std::vector<uint8_t> damaged = stream;
      damaged[rng() % damaged.size()] = uint8_t(rng());
      ASSERT_EQ(ORXLZFUnpacksTo(damaged.data(), int64_t(damaged.size()), int64_t(raw.size())),
                Unpacks(damaged, damaged.size(), raw.size()))
          << "damage " << k;
    }
  }
  // A reference before the start, and streams ending inside a run.
  const uint8_t before[] = {0x00, 'a', 0x20, 0x01};  // one byte, then two from two bytes back
  EXPECT_FALSE(ORXLZFUnpacksTo(before, 4, 3));
  const uint8_t longRef[] = {0x00, 'a', 0xE0};  // a long reference without its length byte
  EXPECT_FALSE(ORXLZFUnpacksTo(longRef, 3, 10));
  const uint8_t literal[] = {0x05, 'a', 'b'};  // six literal bytes promised, two given
  EXPECT_FALSE(ORXLZFUnpacksTo(literal, 3, 6));
  EXPECT_TRUE(ORXLZFUnpacksTo(nullptr, 0, 0));
}

// The frame check with the proof: a packed section that does not fill the
// image (zeros are one-byte literal runs: half their length unpacked; a
// smaller picture's blocks) is refused for what it is, and a damaged packed
// layer is refused wherever the platform reads layers, even though the
// header alone passes.
TEST(FrameCheck, PackedSectionsMustUnpackToTheirSizes) {
  const int w = 64, h = 48;
  const int64_t blocks = CalculateORXBlockDataSize(w, h, false, false);
  ORXHeader zeros = RawHeader(int32_t(blocks / 8), false, false);
  zeros.isLZF = 1;
  auto z = MakeFrame(zeros, size_t(zeros.dataSize));
  ORXFrameLayout layout;
  EXPECT_EQ(CheckORXFrame(z.data(), z.size(), w, h, nullptr), ORXFrameError::none);
  EXPECT_EQ(CheckORXFrameData(z.data(), z.size(), w, h, &layout), ORXFrameError::firstSectionDamaged);
  EXPECT_EQ(CheckORXFrameData(z.data(), z.size(), w, h, nullptr, false), ORXFrameError::none);

  std::vector<uint8_t> raw(static_cast<size_t>(blocks));
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = uint8_t(i * 37 / 5);
  const auto whole = Pack(raw);
  raw.resize(size_t(CalculateORXBlockDataSize(32, 48, false, false)));  // a 32x48 picture's blocks
  const auto smaller = Pack(raw);
  for (const auto* stream : {&smaller, &whole}) {
    ORXHeader p = RawHeader(int32_t(stream->size()), false, false);
    p.isLZF = 1;
    auto f = MakeFrame(p, stream->size());
    std::memcpy(f.data() + kORXHeaderSize, stream->data(), stream->size());
    EXPECT_EQ(CheckORXFrameData(f.data(), f.size(), w, h, nullptr),
              stream == &whole ? ORXFrameError::none : ORXFrameError::firstSectionDamaged);
  }

  // A raw DXT1 frame with a packed 4x4 RGBA layer: valid, then cut short
  // inside (still long enough for the 88:1 bound).
  const auto layer = Pack(std::vector<uint8_t>(64, 9));
  for (bool damaged : {false, true})
    for (bool dxt24 : {false, true}) {
      const int32_t need = int32_t(CalculateORXBlockDataSize(w, h, false, dxt24));
      ORXHeader l = RawHeader(need, false, dxt24);
      l.secondIsLZF = 1;
      l.secondWidth = l.secondHeight = 4;
      l.secondSize = int32_t(layer.size()) - (damaged ? 1 : 0);
      auto f = MakeFrame(l, size_t(need) + size_t(l.secondSize));
      std::memcpy(f.data() + kORXHeaderSize + need, layer.data(), size_t(l.secondSize));
      const bool read = ORXPlatformReadsSecondSection() && !dxt24;
      EXPECT_EQ(CheckORXFrame(f.data(), f.size(), w, h, nullptr), ORXFrameError::none);
      EXPECT_EQ(CheckORXFrameData(f.data(), f.size(), w, h, &layout, false),
                damaged && read ? ORXFrameError::secondSectionDamaged : ORXFrameError::none)
          << damaged << dxt24;
    }
  EXPECT_STRNE(ORXFrameErrorMessage(ORXFrameError::firstSectionDamaged), "unknown error");
  EXPECT_STRNE(ORXFrameErrorMessage(ORXFrameError::secondSectionDamaged), "unknown error");
}
