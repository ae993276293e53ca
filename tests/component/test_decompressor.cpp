// The decompressor component through the host's decompression session and
// base decompressor: dispatch, preflight, round trips of every variant
// against independent decoders, hostile frames, and concurrent instances.
#include <gtest/gtest.h>
#include <lzf.h>
#include <squish.h>
#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "core/Blocks/DXT24Decoder.h"
#include "MacMemory.h"
#include "core/Format/ORXHeader.h"
#include "testimage/ORXTestImage.h"
#include "component_test_util.h"

namespace {

constexpr OSType kORXV = FOUR_CHAR_CODE('O', 'R', 'X', 'V');

struct Variant {
  const char* name;
  int alpha, gradients, skipLZF;
};
const Variant kVariants[] = {{"DXT24", 0, 1, 0}, {"DXT24 raw", 0, 1, 1}, {"DXT1", 0, 0, 0},
                             {"DXT5", 1, 1, 0},  {"DXT5 raw", 1, 1, 1},  {"DXT5 performance", 1, 0, 0}};

// Frames of a picture, encoded by the real compressor.
std::vector<uint8_t> Encode(const Variant& v, int w, int h, const std::vector<uint8_t>& argb) {
  ComponentInstance ci = OpenCompressor();
  SetSettings(ci, v.alpha, v.gradients, v.skipLZF, 3);
  std::vector<uint8_t> frame;
  {
    CollectingSession s;
    if (s.Create(ci, w, h) == noErr) {
      CVPixelBufferRef pb = MakePixelBuffer(w, h, argb);
      s.Encode(pb);
      CVPixelBufferRelease(pb);
      if (!s.frames.empty()) frame = s.frames[0].bytes;
    }
  }
  CloseComponent(ci);
  return frame;
}

std::vector<uint8_t> Blocks(const std::vector<uint8_t>& frame, int w, int h) {
  const ORXHeader hd = ReadORXHeader(frame.data());
  std::vector<uint8_t> out(static_cast<size_t>(CalculateORXBlockDataSize(w, h, hd.hasAlpha, hd.isDXT24 == 1)));
  if (hd.isLZF == 1)
    lzf_decompress(frame.data() + hd.headerSize, static_cast<unsigned>(hd.dataSize), out.data(), static_cast<unsigned>(out.size()));
  else
    std::memcpy(out.data(), frame.data() + hd.headerSize, out.size());
  return out;
}

// Independent reference: every block decoded by another S3TC decoder, or by
// the core's DXT24 decoder, into ARGB.
std::vector<uint8_t> Reference(const std::vector<uint8_t>& frame, int w, int h) {
  const ORXHeader hd = ReadORXHeader(frame.data());
  const auto blocks = Blocks(frame, w, h);
  const int w4 = (w + 3) / 4 * 4, h4 = (h + 3) / 4 * 4;
  std::vector<uint8_t> out(static_cast<size_t>(w4) * h4 * 4);
  if (hd.isDXT24 == 1) {
    if (hd.hasAlpha)
      DecodeDXT24WithAlpha(blocks.data(), out.data(), w, h, w4 * 4);
    else
      DecodeDXT24(blocks.data(), out.data(), w, h, w4 * 4);
    return out;
  }
  const int bytes = hd.hasAlpha ? 16 : 8;
  for (int by = 0; by < h4 / 4; ++by)
    for (int bx = 0; bx < w4 / 4; ++bx) {
      squish::u8 rgba[64];
      squish::Decompress(rgba, blocks.data() + (static_cast<size_t>(by) * (w4 / 4) + bx) * bytes,
                         hd.hasAlpha ? squish::kDxt5 : squish::kDxt1);
      for (int i = 0; i < 16; ++i) {
        uint8_t* o = out.data() + (static_cast<size_t>(by * 4 + i / 4) * w4 + bx * 4 + i % 4) * 4;
        o[0] = rgba[4 * i + 3];
        o[1] = rgba[4 * i];
        o[2] = rgba[4 * i + 1];
        o[3] = rgba[4 * i + 2];
      }
    }
  return out;
}

struct Decoder {
  HostDecompressionSessionRef session = nullptr;
  CVPixelBufferRef dest = nullptr;
  ImageDescriptionHandle desc = nullptr;
  OSStatus Open(int w, int h) {
    desc = HostNewImageDescription(kORXV, static_cast<SInt16>(w), static_cast<SInt16>(h), "ORX");
    OSStatus r = HostDecompressionSessionCreate(desc, &session);
    if (r == noErr) r = HostDecompressionSessionCreateDestination(session, &dest);
    return r;
  }
  OSStatus Decode(const std::vector<uint8_t>& frame) {
    return HostDecompressionSessionDecodeFrame(session, frame.data(), static_cast<SInt32>(frame.size()), dest);
  }
  OSStatus DecodeWithProc(const void* first, SInt32 loaded, ICMDataProcPtr proc, SInt32 refcon) {
    const ICMDataProcRecord rec{proc, refcon};
    return HostDecompressionSessionDecodeFrameWithDataProc(session, first, loaded, &rec, dest);
  }
  void Fill(uint8_t value, int h) {
    CVPixelBufferLockBaseAddress(dest, 0);
    std::memset(CVPixelBufferGetBaseAddress(dest), value, CVPixelBufferGetBytesPerRow(dest) * h);
    CVPixelBufferUnlockBaseAddress(dest, 0);
  }
  // The destination's pixels, w x h, with the destination's row stride.
  std::vector<uint8_t> Pixels(int w, int h) {
    CVPixelBufferLockBaseAddress(dest, 0);
    const auto* base = static_cast<const uint8_t*>(CVPixelBufferGetBaseAddress(dest));
    const size_t stride = CVPixelBufferGetBytesPerRow(dest);
    std::vector<uint8_t> out(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y) std::memcpy(out.data() + static_cast<size_t>(y) * w * 4, base + y * stride, w * 4);
    CVPixelBufferUnlockBaseAddress(dest, 0);
    return out;
  }
  ~Decoder() {
    if (dest) CVPixelBufferRelease(dest);
    HostDecompressionSessionRelease(session);
    DisposeHandle(reinterpret_cast<Handle>(desc));
  }
};

// Largest difference over the colour bytes (alphaToo: over all four bytes).
int MaxDifference(const std::vector<uint8_t>& a, int strideA, const std::vector<uint8_t>& b, int strideB, int w, int h,
                  bool alphaToo = true) {
  int worst = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w * 4; ++x) {
      if (!alphaToo && x % 4 == 0) continue;
      worst = std::max(worst, std::abs(a[static_cast<size_t>(y) * strideA + x] - b[static_cast<size_t>(y) * strideB + x]));
    }
  return worst;
}

}  // namespace

TEST(Decompressor, DispatchAndDelegation) {
  UsePrivatePreferencesFolder();
  ComponentInstance ci = nullptr;
  ASSERT_EQ(OpenADefaultComponent(decompressorComponentType, kORXV, &ci), noErr);
  EXPECT_EQ(CallComponentVersion(ci), 0x00010001);
  for (SInt16 s : {-1, -2, -3, -4, -6, 0x00, 0x08, 0x200, 0x201, 0x202, 0x203, 0x204, 0x205, 0x206, 0x20F})
    EXPECT_EQ(CallComponentCanDo(ci, s), 1) << s;
  // Delegated selectors answer what the base decompressor answers.
  EXPECT_EQ(CallComponentCanDo(ci, kImageCodecPreDecompressSelect), 1);
  EXPECT_EQ(CallComponentCanDo(ci, kImageCodecBandDecompressSelect), 1);
  for (SInt16 s : {-5, -7, -8, -9, 0x01, 0x3C, 0x3D, 0x150, 0x207, 0x210, 0x300}) EXPECT_EQ(CallComponentCanDo(ci, s), 0) << s;
  uintptr_t args[2] = {0, 0};
  EXPECT_EQ(HostCallComponent(ci, -8, args, 2), badComponentSelector);
  EXPECT_EQ(HostCallComponent(ci, 0x20F, args, 2), noErr);
  EXPECT_EQ(ImageCodecGetCodecInfo(ci, nullptr), paramErr);
  CodecInfo info;
  ASSERT_EQ(ImageCodecGetCodecInfo(ci, &info), noErr);
  EXPECT_EQ(info.decompressFlags, 0x20);
  EXPECT_EQ(CloseComponent(ci), noErr);  // never drew: nothing to release
}

TEST(Decompressor, PreflightOffersARGBAndExtendsToWholeBlocks) {
  UsePrivatePreferencesFolder();
  ComponentInstance ci = nullptr;
  ASSERT_EQ(OpenADefaultComponent(decompressorComponentType, kORXV, &ci), noErr);
  ImageDescriptionHandle desc = HostNewImageDescription(kORXV, 1918, 1080, "ORX");
  CodecCapabilities caps{};
  CodecDecompressParams p{};
  p.imageDescription = desc;
  p.capabilities = &caps;
  ASSERT_EQ(ImageCodecPreDecompress(ci, &p), noErr);  // delegated; the base calls back Initialize and Preflight
  EXPECT_EQ(caps.bandMin, 1080);
  EXPECT_EQ(caps.bandInc, 1080);
  EXPECT_EQ(caps.extendWidth, 2);
  EXPECT_EQ(caps.extendHeight, 0);
  ASSERT_NE(p.wantedDestinationPixelTypes, nullptr);
  EXPECT_EQ((*p.wantedDestinationPixelTypes)[0], static_cast<OSType>(k32ARGBPixelFormat));
  EXPECT_EQ((*p.wantedDestinationPixelTypes)[1], 0u);
  OSType** first = p.wantedDestinationPixelTypes;
  CodecDecompressParams again = p;
  again.wantedDestinationPixelTypes = nullptr;
  ASSERT_EQ(ImageCodecPreDecompress(ci, &again), noErr);
  EXPECT_EQ(again.wantedDestinationPixelTypes, first);  // the same handle
  DisposeHandle(reinterpret_cast<Handle>(desc));
  CloseComponent(ci);
}

TEST(Decompressor, EveryVariantRoundTripsToTheReferenceDecode) {
  struct Size {
    int w, h;
  };
  for (Size s : {Size{1, 1}, Size{5, 3}, Size{6, 6}, Size{100, 50}, Size{1918, 1080}}) {
    auto picture = PictureARGB(s.w, s.h);
    for (size_t i = 3; i < picture.size(); i += 4 * 7) picture[i - 3] = static_cast<uint8_t>(i * 13);  // varied alpha
    for (const Variant& v : kVariants) {
      SCOPED_TRACE(std::string(v.name) + " " + std::to_string(s.w) + "x" + std::to_string(s.h));
      const auto frame = Encode(v, s.w, s.h, picture);
      ASSERT_FALSE(frame.empty());
      Decoder d;
      ASSERT_EQ(d.Open(s.w, s.h), noErr);
      SInt32 dw, dh;
      HostDecompressionSessionGetDestinationSize(d.session, &dw, &dh);
      EXPECT_EQ(dw, (s.w + 3) / 4 * 4);
      EXPECT_EQ(dh, (s.h + 3) / 4 * 4);
      ASSERT_EQ(d.Decode(frame), noErr);  // the graphics road for DXT1/DXT5
      const auto got = d.Pixels(s.w, s.h);
      const auto ref = Reference(frame, s.w, s.h);
      // Colour within 1 of the independent decoder; its DXT5 alpha steps round
      // differently (up to 2 levels) from both the graphics hardware and ours.
      EXPECT_LE(MaxDifference(got, s.w * 4, ref, (s.w + 3) / 4 * 16, s.w, s.h, false), 1);
      EXPECT_LE(MaxDifference(got, s.w * 4, ref, (s.w + 3) / 4 * 16, s.w, s.h), 2);
      // The processor road: an instance opened while the switch is set.
      setenv("ORX_DISABLE_GL", "1", 1);
      Decoder cpu;
      ASSERT_EQ(cpu.Open(s.w, s.h), noErr);
      unsetenv("ORX_DISABLE_GL");
      ASSERT_EQ(cpu.Decode(frame), noErr);  // the switch is read at open, not per frame
      EXPECT_LE(MaxDifference(cpu.Pixels(s.w, s.h), s.w * 4, got, s.w * 4, s.w, s.h), 1);
      if (!v.alpha) {
        for (size_t k = 0; k < got.size(); k += 4) ASSERT_EQ(got[k], 255);
      }
      if (s.w >= 100) {
        EXPECT_GE(ORXPSNR_ARGB(picture.data(), s.w * 4, got.data(), s.w * 4, s.w, s.h), 28.0);
      }
    }
  }
}

// Frames of several LZF chunks decode to the pixels of the same blocks packed
// as one LZF stream, on both roads: readers need not know the chunks.
TEST(Decompressor, ChunkedLZFFramesDecodeAsOneStreamFramesDo) {
  const int w = 1918, h = 1080;
  const auto picture = PictureARGB(w, h);
  for (const Variant& v : kVariants) {
    if (v.skipLZF) continue;
    SCOPED_TRACE(v.name);
    const auto chunked = Encode(v, w, h, picture);
    ASSERT_FALSE(chunked.empty());
    ASSERT_EQ(ReadORXHeader(chunked.data()).isLZF, 1);
    const auto blocks = Blocks(chunked, w, h);
    std::vector<uint8_t> whole(28 + blocks.size());
    std::memcpy(whole.data(), chunked.data(), 28);
    const unsigned n = lzf_compress(blocks.data(), static_cast<unsigned>(blocks.size()), whole.data() + 28,
                                    static_cast<unsigned>(blocks.size()));
    ASSERT_GT(n, 0u);
    whole.resize(28 + n);
    ORXHeader hd = ReadORXHeader(whole.data());
    EXPECT_GT(hd.headerSize, 28u) << "a chunked frame carries its chunk table";
    hd.headerSize = 28;  // the one stream, without a table
    hd.dataSize = static_cast<int32_t>(n);
    WriteORXHeader(hd, whole.data());
    EXPECT_NE(whole, chunked) << "the frame is one chunk; the test shows nothing";
    for (bool cpu : {false, true}) {
      if (cpu) setenv("ORX_DISABLE_GL", "1", 1);
      Decoder a, b;
      ASSERT_EQ(a.Open(w, h), noErr);
      ASSERT_EQ(b.Open(w, h), noErr);
      unsetenv("ORX_DISABLE_GL");
      ASSERT_EQ(a.Decode(chunked), noErr);
      ASSERT_EQ(b.Decode(whole), noErr);
      EXPECT_TRUE(a.Pixels(w, h) == b.Pixels(w, h)) << (cpu ? "processor road" : "graphics road");
    }
  }
}

// 7680x4320: every variant encodes and decodes (the graphics road's texture
// and framebuffer at that size, the DXT24 road on the processor).
TEST(Decompressor, EightKFramesInEveryVariant) {
  const int w = 7680, h = 4320;
  const auto picture = PictureARGB(w, h);
  for (const Variant& v : kVariants) {
    if (v.skipLZF && v.alpha) continue;  // the same road as its packed twin, at twice the memory
    SCOPED_TRACE(v.name);
    const auto frame = Encode(v, w, h, picture);
    ASSERT_FALSE(frame.empty());
    Decoder d;
    ASSERT_EQ(d.Open(w, h), noErr);
    ASSERT_EQ(d.Decode(frame), noErr);
    const auto got = d.Pixels(w, h);
    const auto ref = Reference(frame, w, h);
    EXPECT_LE(MaxDifference(got, w * 4, ref, (w + 3) / 4 * 16, w, h, false), 1);
    EXPECT_GE(ORXPSNR_ARGB(picture.data(), w * 4, got.data(), w * 4, w, h), 28.0);
  }
}

TEST(Decompressor, PaddedDestinationRowsKeepTheirPadding) {
  const int w = 10, h = 6;
  const auto picture = PictureARGB(w, h);
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.name);
    const auto frame = Encode(v, w, h, picture);
    Decoder d;
    ASSERT_EQ(d.Open(w, h), noErr);
    CVPixelBufferRelease(d.dest);
    ASSERT_EQ(HostCVPixelBufferCreate(12, 8, k32ARGBPixelFormat, 12 * 4 + 20, &d.dest), kCVReturnSuccess);
    CVPixelBufferLockBaseAddress(d.dest, 0);
    auto* base = static_cast<uint8_t*>(CVPixelBufferGetBaseAddress(d.dest));
    std::memset(base, 0x5A, (12 * 4 + 20) * 8);
    CVPixelBufferUnlockBaseAddress(d.dest, 0);
    ASSERT_EQ(d.Decode(frame), noErr);
    CVPixelBufferLockBaseAddress(d.dest, 0);
    for (int y = 0; y < 8; ++y)
      for (int x = 48; x < 68; ++x) ASSERT_EQ(base[y * 68 + x], 0x5A) << "row " << y;
    const auto ref = Reference(frame, w, h);
    int worst = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w * 4; ++x) worst = std::max(worst, std::abs(base[y * 68 + x] - ref[static_cast<size_t>(y) * 48 + x]));
    EXPECT_LE(worst, 1);
    CVPixelBufferUnlockBaseAddress(d.dest, 0);
  }
}

TEST(Decompressor, HostileFramesAreRejectedAndNothingIsDrawn) {
  const int w = 16, h = 8;
  const auto good = Encode(kVariants[0], w, h, NoiseARGB(w, h, 3));          // DXT24, raw (noise)
  const auto packed = Encode(kVariants[2], w, h, std::vector<uint8_t>(w * h * 4, 0));  // DXT1, LZF
  ASSERT_EQ(ReadORXHeader(packed.data()).isLZF, 1);
  auto with = [](std::vector<uint8_t> f, size_t at, uint32_t v, int bytes = 4) {
    for (int i = 0; i < bytes; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
    return f;
  };
  std::vector<uint8_t> truncated(good.begin(), good.begin() + 20);
  std::vector<uint8_t> shortData(good.begin(), good.end() - 1);
  std::vector<uint8_t> shortLZF = with(packed, 16, ReadORXHeader(packed.data()).dataSize - 1);
  shortLZF.pop_back();
  std::vector<uint8_t> bigLZF = packed;  // a stream that unpacks to more than the image holds
  {
    std::vector<uint8_t> zeros(CalculateORXBlockDataSize(w, h, false, false) * 4, 0), out(zeros.size());
    const unsigned n = lzf_compress(zeros.data(), static_cast<unsigned>(zeros.size()), out.data(), static_cast<unsigned>(out.size()));
    bigLZF.resize(28 + n);
    std::memcpy(bigLZF.data() + 28, out.data(), n);
    bigLZF = with(bigLZF, 16, n);
  }
  std::vector<uint8_t> fewLZF = packed;  // a valid stream that unpacks to half the blocks
  {
    std::vector<uint8_t> zeros(CalculateORXBlockDataSize(w, h, false, false) / 2, 0), out(zeros.size() + 16);
    const unsigned n = lzf_compress(zeros.data(), static_cast<unsigned>(zeros.size()), out.data(), static_cast<unsigned>(out.size()));
    ASSERT_GT(n, 0u);
    fewLZF.resize(28 + n);
    std::memcpy(fewLZF.data() + 28, out.data(), n);
    fewLZF = with(fewLZF, 16, n);
  }
  const struct {
    const char* what;
    std::vector<uint8_t> frame;
  } cases[] = {
      {"truncated header", truncated},
      {"header size 0", with(good, 0, 0)},
      {"header size huge", with(good, 0, 0x7FFFFFF0)},
      {"negative data size", with(good, 16, 0xFFFFFFFF)},
      {"data past the sample", shortData},
      {"second section past the sample", with(with(packed, 20, 64), 8, 4)},  // DXT24 frames read none
      {"isLZF 2 reads raw, too short", with(packed, 6, 2, 1)},
      {"isDXT24 7", with(good, 26, 7, 1)},
      {"LZF stream cut short", shortLZF},
      {"LZF stream too long", bigLZF},
      {"LZF stream short of the blocks", fewLZF},
  };
  for (const auto& c : cases) {
    Decoder d;
    ASSERT_EQ(d.Open(w, h), noErr);
    CVPixelBufferLockBaseAddress(d.dest, 0);
    std::memset(CVPixelBufferGetBaseAddress(d.dest), 0x33, CVPixelBufferGetBytesPerRow(d.dest) * h);
    CVPixelBufferUnlockBaseAddress(d.dest, 0);
    // The sample is copied into a buffer of exactly its size, so any read
    // past it is caught.
    std::vector<uint8_t> sample(c.frame);
    EXPECT_EQ(d.Decode(sample), codecBadDataErr) << c.what;
    const auto px = d.Pixels(w, h);
    for (uint8_t b : px) ASSERT_EQ(b, 0x33) << c.what;
  }
  // Sizes: header + sections of a valid frame, an error for a broken one.
  ComponentInstance ci = nullptr;
  ASSERT_EQ(OpenADefaultComponent(decompressorComponentType, kORXV, &ci), noErr);
  ImageDescriptionHandle desc = HostNewImageDescription(kORXV, w, h, "ORX");
  SInt32 size = 0;
  EXPECT_EQ(ImageCodecGetCompressedImageSize(ci, desc, reinterpret_cast<Ptr>(const_cast<uint8_t*>(packed.data())),
                                             static_cast<SInt32>(packed.size()), nullptr, &size),
            noErr);
  EXPECT_EQ(size, static_cast<SInt32>(packed.size()));
  // With a second section the size counts it, and not the bytes after it.
  std::vector<uint8_t> layered = good;
  ORXHeader lh = ReadORXHeader(good.data());
  lh.secondWidth = 2;
  lh.secondHeight = 3;
  lh.secondIsRGB = 1;
  lh.secondSize = 18;
  WriteORXHeader(lh, layered.data());
  layered.resize(layered.size() + 18 + 5, 0x44);
  EXPECT_EQ(ImageCodecGetCompressedImageSize(ci, desc, reinterpret_cast<Ptr>(layered.data()),
                                             static_cast<SInt32>(layered.size()), nullptr, &size),
            noErr);
  EXPECT_EQ(size, static_cast<SInt32>(good.size() + 18));
  EXPECT_EQ(ImageCodecGetCompressedImageSize(ci, desc, reinterpret_cast<Ptr>(truncated.data()),
                                             static_cast<SInt32>(truncated.size()), nullptr, &size),
            codecBadDataErr);
  EXPECT_EQ(ImageCodecGetCompressedImageSize(ci, desc, reinterpret_cast<Ptr>(truncated.data()), 20, nullptr, nullptr),
            paramErr);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  CloseComponent(ci);
}

namespace {

// A sample handed out as QuickTime hands out large ones: a window of 32768
// bytes, refilled at the position the codec asks from, each time in another
// buffer (the old one scribbled over, so a stale pointer shows). Bytes past
// limit do not exist (a truncated sample); failWith makes every call fail.
struct SampleWindow {
  const std::vector<uint8_t>* sample = nullptr;
  size_t limit = 0;
  OSErr failWith = noErr;
  std::vector<uint8_t> buffers[2];
  int current = 0;
  size_t base = 0;
  int calls = 0;
  bool askedTooMuch = false;

  void Load(size_t at) {
    buffers[current].assign(buffers[current].size(), 0xEE);
    current ^= 1;
    const size_t n = std::min<size_t>(codecMinimumDataSize, limit - at);
    buffers[current].assign(sample->begin() + static_cast<std::ptrdiff_t>(at),
                            sample->begin() + static_cast<std::ptrdiff_t>(at + n));
    base = at;
  }
};
SampleWindow* g_window = nullptr;  // the data procedure's refcon is 32 bits: it names this one

OSErr WindowProc(Ptr* dataP, SInt32 bytesNeeded, SInt32) {
  SampleWindow& w = *g_window;
  ++w.calls;
  if (w.failWith != noErr) return w.failWith;
  if (bytesNeeded > codecMinimumDataSize) {
    w.askedTooMuch = true;
    return paramErr;
  }
  const auto* p = reinterpret_cast<const uint8_t*>(*dataP);
  const std::vector<uint8_t>& b = w.buffers[w.current];
  if (p < b.data() || p > b.data() + b.size()) return paramErr;  // not a position in the window
  const size_t at = w.base + static_cast<size_t>(p - b.data());
  if (at + static_cast<size_t>(bytesNeeded) > w.limit) return eofErr;
  if (at + static_cast<size_t>(bytesNeeded) > w.base + b.size()) w.Load(at);
  *dataP = reinterpret_cast<Ptr>(w.buffers[w.current].data() + (at - w.base));
  return noErr;
}

}  // namespace

// The data-loading road: frames larger than the loaded window come in
// pieces and draw as they do when whole; the image description's dataSize
// (0 in movies) plays no part; truncated samples, failing procedures and
// broken headers are reported and draw nothing.
TEST(Decompressor, FramesReadThroughADataLoadingProcedure) {
  const int w = 400, h = 300;
  const auto picture = PictureARGB(w, h);
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.name);
    const auto frame = Encode(v, w, h, picture);
    ASSERT_GT(frame.size(), 28u);
    Decoder direct;
    ASSERT_EQ(direct.Open(w, h), noErr);
    ASSERT_EQ(direct.Decode(frame), noErr);
    const auto want = direct.Pixels(w, h);
    // Whole in the first window or not; a first window shorter than the header.
    for (size_t firstBytes : {size_t{10}, std::min<size_t>(frame.size(), codecMinimumDataSize)}) {
      SampleWindow win;
      win.sample = &frame;
      win.limit = frame.size();
      win.Load(0);
      win.buffers[win.current].resize(std::min(firstBytes, frame.size()));
      g_window = &win;
      Decoder d;
      ASSERT_EQ(d.Open(w, h), noErr);
      ASSERT_EQ((*d.desc)->dataSize, 0);  // as in a movie's sample description
      d.Fill(0x33, h);
      EXPECT_EQ(d.DecodeWithProc(win.buffers[win.current].data(), static_cast<SInt32>(firstBytes), WindowProc, 0),
                noErr);
      EXPECT_FALSE(win.askedTooMuch);
      EXPECT_TRUE(d.Pixels(w, h) == want) << "first " << firstBytes << " bytes, " << win.calls << " calls";
      // A window at a time: every byte past the first ones came through the procedure.
      const size_t first = std::min(firstBytes, frame.size());
      EXPECT_GE(static_cast<size_t>(win.calls), (frame.size() - first + codecMinimumDataSize - 1) / codecMinimumDataSize);
    }
  }
  const auto frame = Encode(kVariants[1], w, h, NoiseARGB(w, h, 5));  // DXT24 raw: several windows
  ASSERT_GT(frame.size(), size_t{2} * codecMinimumDataSize);
  // Its size, from the header alone: read through the procedure, or from a
  // first window that holds the header but not the whole frame.
  {
    ComponentInstance ci = nullptr;
    ASSERT_EQ(OpenADefaultComponent(decompressorComponentType, kORXV, &ci), noErr);
    ImageDescriptionHandle desc = HostNewImageDescription(kORXV, w, h, "ORX");
    for (size_t firstBytes : {size_t{0}, size_t{16}, size_t{codecMinimumDataSize}}) {
      SampleWindow win;
      win.sample = &frame;
      win.limit = frame.size();
      win.Load(0);
      win.buffers[win.current].resize(std::max<size_t>(firstBytes, 1));
      g_window = &win;
      ICMDataProcRecord proc{WindowProc, 0};
      SInt32 size = 0;
      EXPECT_EQ(ImageCodecGetCompressedImageSize(ci, desc, reinterpret_cast<Ptr>(win.buffers[win.current].data()),
                                                 static_cast<SInt32>(firstBytes), &proc, &size),
                noErr);
      EXPECT_EQ(size, static_cast<SInt32>(frame.size())) << firstBytes;
    }
    DisposeHandle(reinterpret_cast<Handle>(desc));
    CloseComponent(ci);
  }
  std::vector<uint8_t> noHeader = frame;
  std::memset(noHeader.data(), 0, 4);
  const struct {
    const char* what;
    const std::vector<uint8_t>* sample;
    size_t limit;
    OSErr failWith, want;
  } cases[] = {
      {"sample one byte short", &frame, frame.size() - 1, noErr, eofErr},
      {"sample cut inside the header", &frame, 20, noErr, eofErr},
      {"the procedure fails", &frame, frame.size(), ioErr, ioErr},
      {"header size 0", &noHeader, noHeader.size(), noErr, codecBadDataErr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SampleWindow win;
    win.sample = c.sample;
    win.limit = c.limit;
    win.failWith = c.failWith;
    win.Load(0);
    win.buffers[win.current].resize(std::min<size_t>(c.limit, 16));
    g_window = &win;
    Decoder d;
    ASSERT_EQ(d.Open(w, h), noErr);
    d.Fill(0x33, h);
    EXPECT_EQ(d.DecodeWithProc(win.buffers[win.current].data(), static_cast<SInt32>(win.buffers[win.current].size()),
                               WindowProc, 0),
              c.want);
    for (uint8_t b : d.Pixels(w, h)) ASSERT_EQ(b, 0x33);
  }
  g_window = nullptr;
}

// ---- One verdict on both roads; destination bounds ------------------------------------------

namespace {

// A DXT1 frame of w x h with a 4x4 RGBA layer packed as two 32-byte literal
// runs; damaged, the layer's stream stops one byte inside its last run.
std::vector<uint8_t> WithPackedLayer(const std::vector<uint8_t>& frame, bool damaged) {
  std::vector<uint8_t> layer;
  for (int run = 0; run < 2; ++run) {
    layer.push_back(31);
    for (int i = 0; i < 32; ++i) layer.push_back(static_cast<uint8_t>(i * 5 + run));
  }
  if (damaged) layer.pop_back();
  std::vector<uint8_t> out = frame;
  ORXHeader hd = ReadORXHeader(out.data());
  hd.secondIsLZF = 1;
  hd.secondWidth = hd.secondHeight = 4;
  hd.secondSize = static_cast<int32_t>(layer.size());
  WriteORXHeader(hd, out.data());
  out.insert(out.end(), layer.begin(), layer.end());
  return out;
}

// Sets an environment variable for as long as it lives, then puts back what was there.
struct ScopedEnv {
  std::string name, old;
  bool had;
  ScopedEnv(const char* n, const char* value) : name(n), had(std::getenv(n) != nullptr) {
    if (had) old = std::getenv(n);
    setenv(n, value, 1);
  }
  ~ScopedEnv() {
    if (had)
      setenv(name.c_str(), old.c_str(), 1);
    else
      unsetenv(name.c_str());
  }
};

// The sanitizer builds reserve far more address space than the limits here.
bool Sanitized() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;
#else
  return false;
#endif
}

}  // namespace

// A frame whose packed layer does not unpack is damaged on every road: the
// graphics road, which draws the layer, and the processor road, which has
// no use for it, both refuse it with codecBadDataErr and draw nothing. The
// same layer whole decodes on both.
TEST(Decompressor, ADamagedLayerIsRefusedOnBothRoads) {
  const int w = 16, h = 8;
  const auto frame = Encode(kVariants[2], w, h, PictureARGB(w, h));  // DXT1
  ASSERT_FALSE(frame.empty());
  const auto whole = WithPackedLayer(frame, false), damaged = WithPackedLayer(frame, true);
  for (const char* road : {"ORX_FORCE_GL", "ORX_DISABLE_GL"}) {
    SCOPED_TRACE(road);
    Decoder d;
    {
      const ScopedEnv chosen(road, "1");  // read when the instance opens
      ASSERT_EQ(d.Open(w, h), noErr);
    }
    EXPECT_EQ(d.Decode(whole), noErr);
    d.Fill(0x33, h);
    EXPECT_EQ(d.Decode(damaged), codecBadDataErr);
    for (uint8_t b : d.Pixels(w, h)) ASSERT_EQ(b, 0x33);
  }
}

namespace {

// Decodes the frame as a side x side picture with the destination held and
// the address space then limited to 64 MiB more; exits 0 when the frame is
// refused as damaged, naming the status on standard error.
[[noreturn]] void DecodeUnderAnAddressSpaceLimit(const std::vector<uint8_t>& frame, int side) {
  setenv("ORX_DISABLE_GL", "1", 1);
  ImageDescriptionHandle desc = HostNewImageDescription(kORXV, side, side, "ORX");
  HostDecompressionSessionRef session = nullptr;
  if (HostDecompressionSessionCreate(desc, &session) != noErr) std::_Exit(2);
  // The destination: address space the decoder may write, untouched here.
  const size_t rowBytes = static_cast<size_t>(side) * 4, bytes = rowBytes * static_cast<size_t>(side);
  void* pixels = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  CVPixelBufferRef dest = nullptr;
  if (pixels == MAP_FAILED || CVPixelBufferCreateWithBytes(nullptr, side, side, k32ARGBPixelFormat, pixels,
                                                           rowBytes, nullptr, nullptr, nullptr, &dest) != noErr)
    std::_Exit(3);
  long pages = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
    std::fclose(f);
  }
  const rlim_t limit = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t{64} << 20);
  const rlimit r{limit, limit};
  if (pages == 0 || setrlimit(RLIMIT_AS, &r) != 0) std::_Exit(4);
  const OSStatus s =
      HostDecompressionSessionDecodeFrame(session, frame.data(), static_cast<SInt32>(frame.size()), dest);
  std::fprintf(stderr, "status %d\n", int(s));
  std::_Exit(s == codecBadDataErr ? 0 : 1);
}

}  // namespace

// A 16384x16384 DXT5 frame of zeros marked LZF: long enough for the 88:1
// bound over its 256 MiB of blocks, but zeros unpack to half their length.
// With the destination already held and the address space then limited far
// below the blocks, the decompressor still answers codecBadDataErr: it
// proves the data before it sizes its scratch for the picture (memFullErr
// would mean it asked for the blocks' memory first).
TEST(Decompressor, ADamagedPackedFrameCostsNoMemoryForThePicture) {
  if (Sanitized()) GTEST_SKIP() << "the sanitizers reserve far more address space than the limit";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const int side = 16384;
  ORXHeader hd;
  hd.headerSize = 28;
  hd.version = 1;
  hd.hasAlpha = 1;
  hd.isLZF = 1;
  hd.dataSize = static_cast<int32_t>((CalculateORXBlockDataSize(side, side, true, false) + 87) / 88);
  std::vector<uint8_t> frame(28 + static_cast<size_t>(hd.dataSize), 0);
  WriteORXHeader(hd, frame.data());
  EXPECT_EXIT(DecodeUnderAnAddressSpaceLimit(frame, side), testing::ExitedWithCode(0), "status -8969");
}

TEST(Decompressor, InstancesOnTwoThreadsDecodeIndependently) {
  const int w = 64, h = 48;
  const auto a = Encode(kVariants[0], w, h, PictureARGB(w, h));
  const auto b = Encode(kVariants[3], w, h, NoiseARGB(w, h, 8));
  const auto refA = Reference(a, w, h), refB = Reference(b, w, h);
  int bad[2] = {0, 0};
  auto run = [&](const std::vector<uint8_t>& f, const std::vector<uint8_t>& ref, int* badCount) {
    Decoder d;
    if (d.Open(w, h) != noErr) {
      ++*badCount;
      return;
    }
    for (int i = 0; i < 20; ++i) {
      if (d.Decode(f) != noErr || MaxDifference(d.Pixels(w, h), w * 4, ref, w * 4, w, h) > 2) ++*badCount;
    }
  };
  std::thread t1(run, std::cref(a), std::cref(refA), &bad[0]);
  std::thread t2(run, std::cref(b), std::cref(refB), &bad[1]);
  t1.join();
  t2.join();
  EXPECT_EQ(bad[0], 0);
  EXPECT_EQ(bad[1], 0);
}

// A host that loads the deliverable itself registers the decompressor at run
// time and then finds and opens it as any other: here, once the components
// its resources registered are gone.
TEST(Registration, TheDecompressorRegisteredAtRunTimeIsFoundAndDecodes) {
  const char* dir = std::getenv("ORX_TEST_COMPONENT_DIR");
  if (dir == nullptr) GTEST_SKIP() << "ORX_TEST_COMPONENT_DIR not set";
  ComponentDescription looking{decompressorComponentType, kORXV, 0, 0, 0};
  for (Component c = FindNextComponent(nullptr, &looking); c != nullptr; c = FindNextComponent(nullptr, &looking))
    ASSERT_EQ(UnregisterComponent(c), noErr);
  ComponentInstance none = nullptr;
  ASSERT_NE(OpenADefaultComponent(decompressorComponentType, kORXV, &none), noErr);

  void* library = dlopen((std::string(dir) + "/ORXCodec.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto registerIt = reinterpret_cast<Component (*)()>(dlsym(library, "RegisterDecompressorComponent"));
  ASSERT_NE(registerIt, nullptr);
  const Component registered = registerIt();
  ASSERT_NE(registered, nullptr);
  EXPECT_EQ(CountComponents(&looking), 1);
  ComponentDescription cd{};
  ASSERT_EQ(GetComponentInfo(registered, &cd, nullptr, nullptr, nullptr), noErr);
  EXPECT_EQ(cd.componentManufacturer, FOUR_CHAR_CODE('a', 'p', 'p', 'l'));
  EXPECT_EQ(cd.componentFlags, 0x20u);

  // A raw DXT24 frame made here (the compressor was registered by the
  // resources too, and is gone with them).
  const int w = 8, h = 4;
  std::vector<uint8_t> frame(28 + CalculateORXBlockDataSize(w, h, false, true));
  for (size_t i = 28; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 37);
  ORXHeader hd;
  hd.headerSize = 28;
  hd.isDXT24 = 1;
  hd.dataSize = static_cast<int32_t>(frame.size() - 28);
  WriteORXHeader(hd, frame.data());
  std::vector<uint8_t> want(w * h * 4);
  DecodeDXT24(frame.data() + 28, want.data(), w, h, w * 4);
  Decoder d;
  ASSERT_EQ(d.Open(w, h), noErr);
  ASSERT_EQ(d.Decode(frame), noErr);
  EXPECT_TRUE(d.Pixels(w, h) == want);
}
