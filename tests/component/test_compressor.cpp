// The compressor component, reached only through the host: registration,
// dispatch, codec information, size rule and compression sessions.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <lzf.h>

#include <cstring>

#include "core/Blocks/DXT24.h"
#include "core/Blocks/DXT24Decoder.h"
#include "core/Blocks/DXTStandard.h"
#include "MacMemory.h"
#include "core/Frames/ORXFrameEncode.h"
#include "core/Format/ORXHeader.h"
#include "testimage/ORXTestImage.h"
#include "core/Platform/ProcessorCores.h"
#include "component_test_util.h"

namespace {

constexpr OSType kORXV = FOUR_CHAR_CODE('O', 'R', 'X', 'V');

struct Compressor : ::testing::Test {
  ComponentInstance ci = nullptr;
  void SetUp() override {
    ci = OpenCompressor();
    ASSERT_NE(ci, nullptr);
  }
  void TearDown() override {
    if (ci) {
      EXPECT_EQ(CloseComponent(ci), noErr);
    }
  }
};

std::string ComponentName(ComponentDescription looking) {
  Component c = FindNextComponent(nullptr, &looking);
  if (c == nullptr) return "<none>";
  Handle name = NewHandle(0);
  GetComponentInfo(c, nullptr, name, nullptr, nullptr);
  std::string s(*name + 1, static_cast<size_t>(static_cast<uint8_t>((*name)[0])));
  DisposeHandle(name);
  return s;
}

// The block data of a frame, unpacked when it is LZF.
std::vector<uint8_t> BlockData(const std::vector<uint8_t>& frame, int64_t rawSize) {
  const ORXHeader h = ReadORXHeader(frame.data());
  std::vector<uint8_t> out(static_cast<size_t>(rawSize));
  if (h.isLZF == 1) {
    const unsigned n = lzf_decompress(frame.data() + h.headerSize, static_cast<unsigned>(h.dataSize), out.data(),
                                      static_cast<unsigned>(out.size()));
    EXPECT_EQ(n, out.size());
  } else {
    EXPECT_EQ(h.dataSize, rawSize);
    std::memcpy(out.data(), frame.data() + h.headerSize, out.size());
  }
  return out;
}

}  // namespace

TEST(Registration, ComponentsComeFromTheirResources) {
  UsePrivatePreferencesFolder();
  ComponentDescription imco{compressorComponentType, kORXV, 0, 0, 0};
  ComponentDescription imdc{decompressorComponentType, kORXV, 0, 0, 0};
  EXPECT_EQ(CountComponents(&imco), 1);
  EXPECT_EQ(ComponentName(imco), "ORX Compressor");
  // Two 'imdc' descriptions of equal version: the first (256) is kept.
  EXPECT_EQ(CountComponents(&imdc), 1);
  EXPECT_EQ(ComponentName(imdc), "ORX Codec");
  ComponentDescription cd{};
  Component c = FindNextComponent(nullptr, &imco);
  ASSERT_EQ(GetComponentInfo(c, &cd, nullptr, nullptr, nullptr), noErr);
  EXPECT_EQ(cd.componentManufacturer, FOUR_CHAR_CODE('a', 'p', 'p', 'l'));
  EXPECT_EQ(cd.componentFlags, 0x20u);  // the platform entry's flags
  // Registering the same folder again adds nothing.
  EXPECT_EQ(HostRegisterComponentsOnSearchPath(), 0);
}

TEST_F(Compressor, DispatchAnswersOnlyWhatTheTableHolds) {
  EXPECT_EQ(CallComponentVersion(ci), 0x00010001);
  struct Case {
    SInt16 selector;
    bool implemented;
  };
  const Case cases[] = {
      {-1, true},    {-2, true},    {-3, true},    {-4, true},    {-6, true},    {-5, false},   {-7, false},
      {-8, false},   {-9, false},   {-10, false},  {0x00, true},  {0x01, false}, {0x02, true},  {0x0A, false},
      {0x0B, true},  {0x0D, true},  {0x0E, false}, {0x2D, false}, {0x2E, true},  {0x33, true},  {0x34, false},
      {0x37, true},  {0x39, true},  {0x3A, false}, {0x3C, false}, {0x3D, false}, {0xFF, false}, {0x100, false},
      {0x150, false}, {0x200, false}, {0x300, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CallComponentCanDo(ci, c.selector), c.implemented ? 1 : 0) << "selector " << c.selector;
    if (!c.implemented) {
      uintptr_t args[2] = {0, 0};
      EXPECT_EQ(HostCallComponent(ci, c.selector, args, 2), badComponentSelector) << "selector " << c.selector;
    }
  }
  // A request whose arguments do not match the handler's layout is refused
  // before the handler runs.
  uintptr_t none[1] = {0};
  EXPECT_EQ(HostCallComponent(ci, kImageCodecGetSettingsSelect, none, 0), paramErr);
}

TEST_F(Compressor, CodecInfoComesFromTheResourceInNativeOrder) {
  CodecInfo info;
  std::memset(&info, 0xAB, sizeof info);
  ASSERT_EQ(ImageCodecGetCodecInfo(ci, &info), noErr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(info.typeName) + 1, info.typeName[0]), "ORX");
  EXPECT_EQ(info.version, 1);
  EXPECT_EQ(info.revisionLevel, 1);
  EXPECT_EQ(static_cast<UInt32>(info.vendor), FOUR_CHAR_CODE('a', 'p', 'p', 'l'));
  EXPECT_EQ(info.decompressFlags, 0x20);
  EXPECT_EQ(info.compressFlags, 0);  // 'cdci' 256 is the one both components report
  EXPECT_EQ(info.formatFlags, 0x20);
  EXPECT_EQ(info.compressionAccuracy, 128);
  EXPECT_EQ(info.decompressionAccuracy, 128);
  EXPECT_EQ(info.compressionSpeed, 200);
  EXPECT_EQ(info.decompressionSpeed, 200);
  EXPECT_EQ(info.compressionLevel, 128);
  EXPECT_EQ(info.minimumHeight, 1);
  EXPECT_EQ(info.minimumWidth, 1);
  EXPECT_EQ(info.privateData, 0);
  EXPECT_EQ(ImageCodecGetCodecInfo(ci, nullptr), paramErr);
}

TEST_F(Compressor, MaximumSizeFollowsTheSettings) {
  ASSERT_EQ(SetSettings(ci, 0, 1, 0, 2), noErr);
  SInt32 size = 0;
  Rect hd{0, 0, 1080, 1920};
  ASSERT_EQ(ImageCodecGetMaxCompressionSize(ci, nullptr, &hd, 32, codecNormalQuality, &size), noErr);
  EXPECT_EQ(size, 1296028);
  struct Case {
    int alpha, gradients;
    SInt32 expected;
  };
  Rect one{10, 20, 11, 21};
  for (Case c : {Case{0, 1, 38}, Case{1, 1, 46}, Case{1, 0, 44}, Case{0, 0, 36}}) {
    ASSERT_EQ(SetSettings(ci, c.alpha, c.gradients, 0, 2), noErr);
    ASSERT_EQ(ImageCodecGetMaxCompressionSize(ci, nullptr, &one, 32, codecNormalQuality, &size), noErr);
    EXPECT_EQ(size, c.expected) << "alpha " << c.alpha << " gradients " << c.gradients;
  }
  EXPECT_EQ(ImageCodecGetMaxCompressionSize(ci, nullptr, &one, 32, codecNormalQuality, nullptr), paramErr);
}

TEST_F(Compressor, PrepareAsksForARGBBuffersOfTheImageSize) {
  const CFIndex liveBefore = HostCFLiveObjectCount();
  ICMCompressionSessionOptionsRef first = nullptr, second = nullptr;
  ASSERT_EQ(ICMCompressionSessionOptionsCreate(nullptr, &first), noErr);
  ASSERT_EQ(ICMCompressionSessionOptionsCreate(nullptr, &second), noErr);
  ImageDescriptionHandle desc = HostNewImageDescription(kORXV, 640, 360, "ORX");
  CFDictionaryRef attrs = nullptr;
  ASSERT_EQ(ImageCodecPrepareToCompressFrames(ci, nullptr, first, desc, nullptr, &attrs), noErr);
  EXPECT_EQ(HostICMCompressionSessionOptionsGetRetainCount(first), 2);
  ASSERT_NE(attrs, nullptr);
  EXPECT_EQ(CFGetRetainCount(attrs), 1);
  auto number = [&](CFStringRef key) {
    SInt32 v = -1;
    auto n = static_cast<CFNumberRef>(CFDictionaryGetValue(attrs, key));
    if (n) CFNumberGetValue(n, kCFNumberSInt32Type, &v);
    return v;
  };
  EXPECT_EQ(number(kCVPixelBufferWidthKey), 640);
  EXPECT_EQ(number(kCVPixelBufferHeightKey), 360);
  auto formats = static_cast<CFArrayRef>(CFDictionaryGetValue(attrs, kCVPixelBufferPixelFormatTypeKey));
  ASSERT_NE(formats, nullptr);
  ASSERT_EQ(CFArrayGetCount(formats), 1);
  SInt32 format = 0;
  CFNumberGetValue(static_cast<CFNumberRef>(CFArrayGetValueAtIndex(formats, 0)), kCFNumberSInt32Type, &format);
  EXPECT_EQ(format, 32);
  Fixed gamma = -1;
  EXPECT_EQ(ICMImageDescriptionGetProperty(desc, kQTPropertyClass_ImageDescription,
                                           kICMImageDescriptionPropertyID_GammaLevel, sizeof gamma, &gamma, nullptr),
            noErr);
  EXPECT_EQ(gamma, 0);
  CFRelease(attrs);

  // A second prepare releases the first options exactly once and holds the new ones.
  ASSERT_EQ(ImageCodecPrepareToCompressFrames(ci, nullptr, second, desc, nullptr, &attrs), noErr);
  CFRelease(attrs);
  EXPECT_EQ(HostICMCompressionSessionOptionsGetRetainCount(first), 1);
  EXPECT_EQ(HostICMCompressionSessionOptionsGetRetainCount(second), 2);
  ICMCompressionSessionOptionsRelease(first);
  EXPECT_EQ(CloseComponent(ci), noErr);  // releases the held options
  ci = nullptr;
  EXPECT_EQ(HostICMCompressionSessionOptionsGetRetainCount(second), 1);
  ICMCompressionSessionOptionsRelease(second);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  EXPECT_EQ(HostCFLiveObjectCount(), liveBefore);
}

// Every "Transparency" x "Optimize For" choice through a host session.
TEST_F(Compressor, SessionsWriteTheFrameFormatOfEachChoice) {
  struct Choice {
    const char* name;
    int alpha, gradients, skipLZF;
    bool dxt24;
  };
  const Choice choices[] = {
      {"discard alpha, Quality", 0, 1, 0, true},     {"discard alpha, Performance", 0, 0, 0, false},
      {"discard alpha, VovorEvaded", 0, 1, 1, true}, {"keep alpha, Quality", 1, 1, 0, false},
      {"keep alpha, Performance", 1, 0, 0, false},   {"keep alpha, VovorEvaded", 1, 1, 1, false},
  };
  const int w = 70, h = 38;  // not multiples of 4
  const std::vector<uint8_t> black = [&] {
    std::vector<uint8_t> v(static_cast<size_t>(w) * h * 4, 0);
    for (size_t i = 0; i < v.size(); i += 4) v[i] = 255;
    return v;
  }();
  const std::vector<uint8_t> noise = NoiseARGB(w, h, 5);
  const std::vector<uint8_t> picture = PictureARGB(w, h);

  for (const Choice& c : choices) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(SetSettings(ci, c.alpha, c.gradients, c.skipLZF, 3), noErr);
    CollectingSession s;
    ASSERT_EQ(s.Create(ci, w, h), noErr);
    SInt32 maxSize = 0;
    Rect r{0, 0, static_cast<SInt16>(h), static_cast<SInt16>(w)};
    ASSERT_EQ(ImageCodecGetMaxCompressionSize(ci, nullptr, &r, 32, 0, &maxSize), noErr);
    for (const auto* img : {&black, &noise, &picture}) {
      CVPixelBufferRef pb = MakePixelBuffer(w, h, *img);
      ASSERT_EQ(s.Encode(pb), noErr);
      CVPixelBufferRelease(pb);
    }
    ASSERT_EQ(s.frames.size(), 3u);
    const int64_t raw = CalculateORXBlockDataSize(w, h, c.alpha, c.dxt24);
    for (size_t i = 0; i < 3; ++i) {
      const EmittedFrame& f = s.frames[i];
      ASSERT_GE(f.bytes.size(), 28u);
      EXPECT_LE(static_cast<SInt32>(f.bytes.size()), maxSize);
      EXPECT_EQ(f.flags, static_cast<MediaSampleFlags>(0x20000000));
      EXPECT_EQ(f.type, 73);
      const ORXHeader hd = ReadORXHeader(f.bytes.data());
      EXPECT_EQ(hd.headerSize, 28u);
      EXPECT_EQ(hd.version, 1);
      EXPECT_EQ(hd.hasAlpha, c.alpha);
      EXPECT_EQ(hd.isDXT24, c.dxt24 ? 1 : 0);
      EXPECT_EQ(hd.gradientsDiscarded, c.gradients ? 0 : 1);
      EXPECT_EQ(hd.secondIsLZF | hd.secondWidth | hd.secondHeight | hd.secondSize | hd.secondIsRGB | hd.reserved, 0);
      EXPECT_EQ(static_cast<size_t>(28 + hd.dataSize), f.bytes.size());
      ORXFrameLayout layout;
      EXPECT_EQ(CheckORXFrame(f.bytes.data(), f.bytes.size(), w, h, &layout), ORXFrameError::none);
    }
    // Black packs far below its raw size; noise does not fit and is stored raw.
    const ORXHeader blackHeader = ReadORXHeader(s.frames[0].bytes.data());
    const ORXHeader noiseHeader = ReadORXHeader(s.frames[1].bytes.data());
    EXPECT_EQ(blackHeader.isLZF, c.skipLZF ? 0 : 1);
    if (!c.skipLZF) {
      EXPECT_LT(blackHeader.dataSize, raw / 4);
    }
    EXPECT_EQ(noiseHeader.isLZF, 0);

    // The block data is what the block encoders make of the picture.
    const std::vector<uint8_t> blocks = BlockData(s.frames[2].bytes, raw);
    if (c.dxt24) {
      std::vector<uint8_t> decoded(static_cast<size_t>(72) * 40 * 4);
      DecodeDXT24(blocks.data(), decoded.data(), w, h, 72 * 4);
      EXPECT_GE(ORXPSNR_ARGB(picture.data(), w * 4, decoded.data(), 72 * 4, w, h), 30.0);
    } else {
      std::vector<uint8_t> expected(static_cast<size_t>(raw));
      stbCompressARGB32(expected.data(), picture.data(), w, h, w * 4, c.alpha);
      EXPECT_EQ(blocks, expected);
    }
  }
}

TEST_F(Compressor, FramesNeverOutgrowTheirBuffers) {
  // Prepared for DXT24 without alpha; then alpha is switched on, and then a
  // pixel buffer larger than the session's image arrives.
  ASSERT_EQ(SetSettings(ci, 0, 1, 1, 2), noErr);
  CollectingSession s;
  ASSERT_EQ(s.Create(ci, 64, 32), noErr);
  const auto noise = NoiseARGB(64, 32, 9);
  CVPixelBufferRef pb = MakePixelBuffer(64, 32, noise);
  ASSERT_EQ(s.Encode(pb), noErr);
  ASSERT_EQ(SetSettings(ci, 1, 1, 1, 2), noErr);  // DXT5: 16 bytes a block instead of 10
  ASSERT_EQ(s.Encode(pb), noErr);
  CVPixelBufferRelease(pb);
  const auto big = NoiseARGB(128, 64, 10);
  CVPixelBufferRef large = MakePixelBuffer(128, 64, big, 128 * 4 + 32);
  ASSERT_EQ(s.Encode(large), noErr);
  CVPixelBufferRelease(large);
  ASSERT_EQ(s.frames.size(), 3u);
  EXPECT_EQ(s.frames[0].bytes.size(), 28u + 16 * 8 * 10);
  EXPECT_EQ(s.frames[1].bytes.size(), 28u + 16 * 8 * 16);
  EXPECT_EQ(s.frames[2].bytes.size(), 28u + 32 * 16 * 16);
  for (const auto& f : s.frames) EXPECT_LE(f.bytes.size(), static_cast<size_t>(f.bufferSize));
}

TEST_F(Compressor, NothingLeaksOverASession) {
  const CFIndex cfBefore = HostCFLiveObjectCount();
  const SInt32 icmBefore = HostICMLiveObjectCount();
  {
    CollectingSession s;
    ASSERT_EQ(s.Create(ci, 16, 16), noErr);
    CVPixelBufferRef pb = MakePixelBuffer(16, 16, NoiseARGB(16, 16, 1));
    for (int i = 0; i < 3; ++i) ASSERT_EQ(s.Encode(pb), noErr);
    EXPECT_EQ(HostCVPixelBufferGetLockCount(pb), 0);
    CVPixelBufferRelease(pb);
    EXPECT_EQ(s.frames.size(), 3u);
  }
  EXPECT_EQ(HostCFLiveObjectCount(), cfBefore);
  EXPECT_EQ(HostICMLiveObjectCount(), icmBefore);
}

// The standard DXT1/DXT5 path is spread over the worker pool like DXT24: at
// every "Threads" setting the frames are byte for byte those of "1x", and
// their blocks those of one stbCompressARGB32 call, for odd sizes and sizes
// smaller than one band.
// Every block kind, with and without LZF (several chunks at the larger
// sizes), gives the same frame at every Threads setting.
TEST_F(Compressor, FramesAreTheSameAtEveryThreadSetting) {
  struct Sz {
    int w, h;
  };
  const Sz sizes[] = {{1, 1}, {6, 6}, {70, 38}, {257, 131}, {1922, 1082}};
  const int32_t settings[] = {2, 3, 4, 1, 9};  // 1x, 2x, 4x, Max, 24x
  const int kinds[][2] = {{0, 0}, {1, 0}, {0, 1}};  // alpha, gradients: DXT1, DXT5, DXT24
  for (const auto& kind : kinds)
    for (int skipLZF = 0; skipLZF < 2; ++skipLZF)
      for (const Sz& sz : sizes) {
        const int alpha = kind[0], dxt24 = kind[1];
        SCOPED_TRACE((dxt24 ? "DXT24 " : alpha ? "DXT5 " : "DXT1 ") + std::string(skipLZF ? "raw " : "LZF ") +
                     std::to_string(sz.w) + "x" + std::to_string(sz.h));
        const std::vector<uint8_t> picture = PictureARGB(sz.w, sz.h);
        const size_t rowBytes = static_cast<size_t>(sz.w) * 4 + 16;
        std::vector<uint8_t> padded(rowBytes * sz.h);
        for (int y = 0; y < sz.h; ++y)
          std::memcpy(padded.data() + y * rowBytes, picture.data() + static_cast<size_t>(y) * sz.w * 4,
                      static_cast<size_t>(sz.w) * 4);
        std::vector<std::vector<uint8_t>> frames;
        for (int32_t t : settings) {
          ASSERT_EQ(SetSettings(ci, alpha, dxt24, skipLZF, t), noErr);
          CollectingSession s;
          ASSERT_EQ(s.Create(ci, sz.w, sz.h), noErr);
          CVPixelBufferRef pb = MakePixelBuffer(sz.w, sz.h, picture, rowBytes);
          ASSERT_EQ(s.Encode(pb), noErr);
          CVPixelBufferRelease(pb);
          ASSERT_EQ(s.frames.size(), 1u);
          frames.push_back(s.frames[0].bytes);
        }
        for (size_t i = 1; i < frames.size(); ++i) EXPECT_TRUE(frames[i] == frames[0]) << "setting " << settings[i];
        // The core's frame encoder, called without the component, makes the same frame.
        ORXFrameChoices choices;
        choices.alpha = alpha;
        choices.dxt24 = dxt24;
        choices.lzf = !skipLZF;
        choices.gradientsByte = uint8_t(1 - dxt24);  // preserveGradients was dxt24
        choices.threads = 2;
        std::vector<uint8_t> core(size_t(ORXFrameCapacity(sz.w, sz.h, choices)));
        ORXEncodeScratch scratch;
        const int64_t n = ORXEncodeFrame(padded.data(), sz.w, sz.h, int64_t(rowBytes), choices, core.data(),
                                         int64_t(core.size()), &scratch);
        EXPECT_EQ(ORXEncodeFrame(padded.data(), sz.w, sz.h, int64_t(rowBytes), choices, core.data(),
                                 int64_t(core.size()) - 1, &scratch),
                  0);  // a destination short of the raw size is refused
        ORXFreeEncodeScratch(&scratch);
        ASSERT_GT(n, 0);
        core.resize(size_t(n));
        EXPECT_TRUE(core == frames[0]);
        const ORXHeader hd = ReadORXHeader(frames[0].data());
        EXPECT_EQ(hd.isDXT24, dxt24);
        EXPECT_EQ(hd.hasAlpha, alpha);
        if (skipLZF) {
          EXPECT_EQ(hd.isLZF, 0);
        }
        const int64_t raw = CalculateORXBlockDataSize(sz.w, sz.h, alpha, dxt24);
        std::vector<uint8_t> expected(static_cast<size_t>(raw));
        if (dxt24)
          _stbCompressARGB32_to24(expected.data(), padded.data(), sz.w, sz.h, static_cast<int>(rowBytes), 0);
        else
          stbCompressARGB32(expected.data(), padded.data(), sz.w, sz.h, static_cast<int>(rowBytes), alpha);
        EXPECT_TRUE(BlockData(frames[0], raw) == expected);
      }
}

namespace {

int ThreadsOfThisProcess() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (const dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
  }
  return n;
}

}  // namespace

// "Max" is one thread per processor core: the first threaded frame of a
// process starts the pool at that size. Run in a process of its own (the
// pool keeps the size of the first threaded call).
TEST(ThreadChoice, MaxStartsAWorkerPerCore) {
  const int cores = QueryProcessorCoreCount();
  if (cores < 2) GTEST_SKIP() << "one processor core: Max is one thread";
  ComponentInstance ci = OpenCompressor();
  ASSERT_NE(ci, nullptr);
  ASSERT_EQ(SetSettings(ci, 0, 1, 0, 1), noErr);  // DXT24, Max
  const int before = ThreadsOfThisProcess();
  const int w = 640, h = 480;
  {
    CollectingSession s;
    ASSERT_EQ(s.Create(ci, w, h), noErr);
    CVPixelBufferRef pb = MakePixelBuffer(w, h, PictureARGB(w, h));
    ASSERT_EQ(s.Encode(pb), noErr);
    CVPixelBufferRelease(pb);
  }
  EXPECT_GE(ThreadsOfThisProcess() - before, std::min(cores, 32)) << cores << " cores";
  CloseComponent(ci);
}
