// The Windows component suites. This program is a QuickTime application as
// far as the deliverable can tell: it is linked against the stand-in
// QuickTime.qts, which finds ORXWin32.qtx through the resources inside it;
// both components are called only through their entry points, and every
// QuickTime call they make goes through the deliverable's run-time binding
// and the stand-in's dispatcher.
//   --exchange FOLDER  also run the cross-platform checks against the Linux
//                      build's frames in FOLDER, and leave this build's there
#include <windows.h>
#include <gtest/gtest.h>
#include <lzf.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "CrossPlatformFrames.h"
#include "core/Blocks/DXT24Decoder.h"
#include "core/Blocks/DXTDecoder.h"
#include "Dialogs.h"
#include "core/Format/ORXDecompressorRequests.h"
#include "core/Format/ORXHeader.h"

extern "C" uint32_t HostDispatcherCallCount(void);

using namespace crossplatform;

namespace {

std::string g_exchange;
constexpr OSType kORXV = FOUR_CHAR_CODE('O', 'R', 'X', 'V');
constexpr const char* kPreferencesKey = "Software\\VantorinMedia\\ORXCodec";

std::string ProgramFolder() {
  char path[MAX_PATH + 1];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string s(path, n);
  return s.substr(0, s.find_last_of("\\/"));
}

void DeletePreferences() { RegDeleteKeyA(HKEY_CURRENT_USER, kPreferencesKey); }

DWORD ReadPreference(const char* name) {
  HKEY key = nullptr;
  DWORD v = 0xFFFFFFFF, size = 4;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kPreferencesKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return v;
  RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size);
  RegCloseKey(key);
  return v;
}

ComponentInstance OpenCompressor() {
  ComponentInstance ci = nullptr;
  EXPECT_EQ(OpenADefaultComponent(compressorComponentType, kORXV, &ci), noErr);
  return ci;
}

// The four settings of the compressor's blob.
std::vector<int> ReadSettings(ComponentInstance ci) {
  Handle h = NewHandle(0);
  std::vector<int> s;
  if (ImageCodecGetSettings(ci, h) == noErr && GetHandleSize(h) == 12) {
    const auto* b = reinterpret_cast<const uint8_t*>(*h);
    s = {b[4], b[5], b[6], static_cast<int>(b[8] | b[9] << 8 | b[10] << 16 | static_cast<uint32_t>(b[11]) << 24)};
  }
  DisposeHandle(h);
  return s;
}

SInt32 MaxSize1x1(ComponentInstance ci) {
  Rect one{0, 0, 1, 1};
  SInt32 size = 0;
  ImageCodecGetMaxCompressionSize(ci, nullptr, &one, 32, 0, &size);
  return size;
}

// The frame's blocks decoded by the core's CPU decoders, w x h ARGB.
std::vector<uint8_t> CoreDecode(const std::vector<uint8_t>& frame, int w, int h) {
  const ORXHeader hd = ReadORXHeader(frame.data());
  std::vector<uint8_t> blocks(static_cast<size_t>(CalculateORXBlockDataSize(w, h, hd.hasAlpha, hd.isDXT24 == 1)));
  if (hd.isLZF == 1)
    lzf_decompress(frame.data() + hd.headerSize, static_cast<unsigned>(hd.dataSize), blocks.data(),
                   static_cast<unsigned>(blocks.size()));
  else
    std::memcpy(blocks.data(), frame.data() + hd.headerSize, blocks.size());
  // DXT24 writes whole blocks: decode at the padded size, then crop.
  const int w4 = (w + 3) / 4 * 4, h4 = (h + 3) / 4 * 4;
  std::vector<uint8_t> padded(static_cast<size_t>(w4) * h4 * 4);
  if (hd.isDXT24 == 1 && hd.hasAlpha)
    DecodeDXT24WithAlpha(blocks.data(), padded.data(), w, h, w4 * 4);
  else if (hd.isDXT24 == 1)
    DecodeDXT24(blocks.data(), padded.data(), w, h, w4 * 4);
  else if (hd.hasAlpha)
    DecodeDXT5ToARGB(blocks.data(), padded.data(), w, h, w4 * 4);
  else
    DecodeDXT1ToARGB(blocks.data(), padded.data(), w, h, w4 * 4);
  std::vector<uint8_t> out(static_cast<size_t>(w) * h * 4);
  for (int y = 0; y < h; ++y)
    std::memcpy(out.data() + static_cast<size_t>(y) * w * 4, padded.data() + static_cast<size_t>(y) * w4 * 4, w * 4);
  return out;
}

// Peak signal-to-noise ratio over the colour bytes (and alpha when asked).
double PSNR(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, bool alphaToo) {
  if (a.size() != b.size() || a.empty()) return 0;
  double sum = 0;
  size_t n = 0;
  for (size_t i = 0; i < a.size(); ++i)
    if (alphaToo || i % 4 != 0) {
      const double d = double(a[i]) - double(b[i]);
      sum += d * d;
      ++n;
    }
  return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * double(n) / sum);
}

// Where two pictures of the test size first differ, for failure messages.
std::string FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int width = kWidth) {
  if (a.size() != b.size()) return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i])
      return "pixel (" + std::to_string(i / 4 % width) + ", " + std::to_string(i / 4 / width) + ") byte " +
             std::to_string(i % 4) + ": " + std::to_string(a[i]) + " vs " + std::to_string(b[i]);
  return "none";
}

int MaxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, bool alphaToo) {
  int worst = a.size() == b.size() ? 0 : 256;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i)
    if (alphaToo || i % 4 != 0) worst = std::max(worst, std::abs(a[i] - b[i]));
  return worst;
}

}  // namespace

TEST(Registration, ComponentsComeFromTheResourcesInsideTheLibrary) {
  ComponentDescription compressor{compressorComponentType, kORXV, 0, 0, 0};
  ComponentDescription decompressor{decompressorComponentType, kORXV, 0, 0, 0};
  EXPECT_EQ(CountComponents(&compressor), 1);
  EXPECT_EQ(CountComponents(&decompressor), 1);  // auto-versioning keeps one of the two
  Handle name = NewHandle(0);
  ASSERT_EQ(GetComponentInfo(FindNextComponent(nullptr, &compressor), nullptr, name, nullptr, nullptr), noErr);
  EXPECT_GT(GetHandleSize(name), 1);
  DisposeHandle(name);

  const std::string qtx = ProgramFolder() + "\\ORXWin32.qtx";
  EXPECT_EQ(HostRegisterComponentFile(qtx.c_str()), 0);  // already registered by the search
  EXPECT_EQ(HostRegisterComponentFile((ProgramFolder() + "\\missing.qtx").c_str()), fnfErr);
  EXPECT_EQ(HostRegisterComponentFile((ProgramFolder() + "\\QuickTime.qts").c_str()), paramErr);
  // A library without the resources inside: refused, nothing registered.
  const std::string bare = ProgramFolder() + "\\bare-copy.qtx";
  ASSERT_TRUE(CopyFileA((ProgramFolder() + "\\fake_qt_702.qts").c_str(), bare.c_str(), FALSE));
  EXPECT_EQ(HostRegisterComponentFile(bare.c_str()), resFNotFound);
  DeleteFileA(bare.c_str());
  EXPECT_EQ(CountComponents(&compressor), 1);
}

TEST(Binding, TheDeliverableReachesTheLoadedQuickTimeThroughItsDispatcher) {
  const uint32_t before = HostDispatcherCallCount();
  ComponentInstance ci = OpenCompressor();
  ASSERT_NE(ci, nullptr);
  EXPECT_GT(MaxSize1x1(ci), 0);
  CloseComponent(ci);
  // Opening stored the instance storage and read the codec info resource
  // through the dispatcher; the library the deliverable bound is this one.
  EXPECT_GT(HostDispatcherCallCount(), before);
  EXPECT_NE(GetModuleHandleA("ORXWin32.qtx"), nullptr);
  HMODULE quickTime = GetModuleHandleA("QuickTime.qts");
  ASSERT_NE(quickTime, nullptr);
  char path[MAX_PATH + 1] = {};
  GetModuleFileNameA(quickTime, path, MAX_PATH);
  EXPECT_EQ(std::string(path), ProgramFolder() + "\\QuickTime.qts");
}

// Calls QuickTime's dispatcher as an entry stub does: the selector in EAX,
// five arguments where the calling convention puts them (on the stack on
// i686, the caller cleaning up; RCX, RDX, R8, R9 and a stack slot above the
// home area on x86-64).
extern "C" intptr_t CallDispatcherWith(FARPROC entry, uint32_t selector, const uintptr_t* args);
#if defined(__x86_64__)
asm(".text\n"
    ".globl CallDispatcherWith\n"
    ".def CallDispatcherWith; .scl 2; .type 32; .endef\n"
    "CallDispatcherWith:\n"
    ".seh_proc CallDispatcherWith\n"
    "  pushq %rsi\n"
    ".seh_pushreg %rsi\n"
    "  subq $48, %rsp\n"
    ".seh_stackalloc 48\n"
    ".seh_endprologue\n"
    "  movq %rcx, %r10\n"
    "  movl %edx, %eax\n"
    "  movq %r8, %rsi\n"
    "  movq 32(%rsi), %r11\n"
    "  movq %r11, 32(%rsp)\n"
    "  movq (%rsi), %rcx\n"
    "  movq 8(%rsi), %rdx\n"
    "  movq 16(%rsi), %r8\n"
    "  movq 24(%rsi), %r9\n"
    "  call *%r10\n"
    "  addq $48, %rsp\n"
    "  popq %rsi\n"
    "  ret\n"
    ".seh_endproc\n");
#else
asm(".text\n"
    ".globl _CallDispatcherWith\n"
    "_CallDispatcherWith:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  movl 16(%ebp), %ecx\n"
    "  pushl 16(%ecx)\n"
    "  pushl 12(%ecx)\n"
    "  pushl 8(%ecx)\n"
    "  pushl 4(%ecx)\n"
    "  pushl (%ecx)\n"
    "  movl 12(%ebp), %eax\n"
    "  call *8(%ebp)\n"
    "  movl %ebp, %esp\n"
    "  popl %ebp\n"
    "  ret\n");
#endif

namespace {
intptr_t CallDispatcher(FARPROC entry, uint32_t selector, uintptr_t a0, uintptr_t a1, uintptr_t a2 = 0,
                        uintptr_t a3 = 0, uintptr_t a4 = 0) {
  const uintptr_t args[5] = {a0, a1, a2, a3, a4};
  return CallDispatcherWith(entry, selector, args);
}

uintptr_t Slot(const void* p) { return reinterpret_cast<uintptr_t>(p); }
}  // namespace

TEST(Dispatcher, RoutesBySelectorWithTheCallersArguments) {
  HMODULE quickTime = GetModuleHandleA("QuickTime.qts");
  ASSERT_NE(quickTime, nullptr);
  FARPROC dispatcher = GetProcAddress(quickTime, "theQuickTimeDispatcher");
  ASSERT_NE(dispatcher, nullptr);
  Handle h = NewHandle(7);
  EXPECT_EQ(CallDispatcher(dispatcher, 0x00150034, Slot(h), 0), 7);  // GetHandleSize
  EXPECT_EQ(CallDispatcher(dispatcher, 0x00150033, Slot(h), 300), 0);  // SetHandleSize
  EXPECT_EQ(GetHandleSize(h), 300);
  DisposeHandle(h);
  // Constants by name; an unknown name is null, an unknown selector is refused.
  const void* callbacks = reinterpret_cast<const void*>(GetProcAddress(quickTime, "kCFTypeArrayCallBacks"));
  ASSERT_NE(callbacks, nullptr);
  EXPECT_EQ(static_cast<uintptr_t>(CallDispatcher(dispatcher, 0x0032028A, Slot("kCFTypeArrayCallBacks"), 0)),
            Slot(callbacks));
  EXPECT_EQ(CallDispatcher(dispatcher, 0x0032028A, Slot("kNoSuchConstant"), 0), 0);
  EXPECT_EQ(static_cast<int32_t>(CallDispatcher(dispatcher, 0x00990001, 0, 0)), int32_t(0x80008002u));
  // Lock by reference: result slot, buffer reference, flags reference.
  CVPixelBufferRef pb = nullptr;
  ASSERT_EQ(HostCVPixelBufferCreate(8, 8, k32ARGBPixelFormat, 0, &pb), kCVReturnSuccess);
  int32_t result = -1;
  uint64_t flags = 0;
  EXPECT_EQ(CallDispatcher(dispatcher, 0x00340011, Slot(&result), Slot(&pb), Slot(&flags)), 0);
  EXPECT_EQ(result, kCVReturnSuccess);
  EXPECT_EQ(static_cast<uintptr_t>(CallDispatcher(dispatcher, 0x00340016, Slot(pb), 0)),
            Slot(CVPixelBufferGetBaseAddress(pb)));
  result = -1;
  EXPECT_EQ(CallDispatcher(dispatcher, 0x00340012, Slot(&result), Slot(&pb), Slot(&flags)), 0);
  EXPECT_EQ(result, kCVReturnSuccess);
  EXPECT_EQ(CallDispatcher(dispatcher, 0x00340011, 0, Slot(&pb), Slot(&flags)), paramErr);  // no result slot
  CVPixelBufferRelease(pb);
  // Five arguments: the last one travels past the first four on every
  // calling convention (ICMImageDescriptionSetProperty, then read back).
  ImageDescriptionHandle desc = HostNewImageDescription(kORXV, kWidth, kHeight, "ORX");
  const Fixed gamma = 0x00023456;
  EXPECT_EQ(CallDispatcher(dispatcher, 0x000300AF, Slot(desc), kQTPropertyClass_ImageDescription,
                           kICMImageDescriptionPropertyID_GammaLevel, sizeof gamma, Slot(&gamma)),
            noErr);
  Fixed read = 0;
  EXPECT_EQ(ICMImageDescriptionGetProperty(desc, kQTPropertyClass_ImageDescription,
                                           kICMImageDescriptionPropertyID_GammaLevel, sizeof read, &read, nullptr),
            noErr);
  EXPECT_EQ(read, gamma);
  EXPECT_EQ(CallDispatcher(dispatcher, 0x000300AF, Slot(desc), kQTPropertyClass_ImageDescription,
                           kICMImageDescriptionPropertyID_GammaLevel, sizeof gamma, 0),
            paramErr);  // no value
  DisposeHandle(reinterpret_cast<Handle>(desc));
}

TEST(Compressor, EveryVariantWritesItsFrameFormatAndDecodesNearThePicture) {
  DeletePreferences();
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.name);
    const auto picture = Picture(v);
    const auto frame = Encode(v, v.width, v.height, picture, 3);
    ASSERT_GT(frame.size(), 28u);
    const ORXHeader hd = ReadORXHeader(frame.data());
    const bool dxt24 = v.gradients == 1 && v.alpha == 0;
    EXPECT_EQ(hd.isDXT24, dxt24 ? 1 : 0);
    EXPECT_EQ(hd.hasAlpha, v.alpha);
    EXPECT_EQ(hd.isLZF, v.skipLZF ? 0 : 1);
    EXPECT_EQ(hd.gradientsDiscarded, 0);  // this build never marks it
    EXPECT_EQ(hd.secondSize, 0u);         // nor writes a second section
    EXPECT_GT(PSNR(CoreDecode(frame, v.width, v.height), picture, v.alpha == 1), 28.0);
  }
}

TEST(Compressor, EncodingIsTheSameAtEveryThreadSetting) {
  for (const Variant& v : {kVariants[0], kVariants[7]}) {  // one LZF chunk, and several
    SCOPED_TRACE(v.name);
    const auto picture = Picture(v);
    const auto one = Encode(v, v.width, v.height, picture, 1);
    ASSERT_FALSE(one.empty());
    EXPECT_EQ(Encode(v, v.width, v.height, picture, 3), one);
    EXPECT_EQ(Encode(v, v.width, v.height, picture, 0), one);  // Max: the core count
  }
}

TEST(Decompressor, EveryVariantMatchesTheCoreDecoders) {
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.name);
    const auto frame = Encode(v, v.width, v.height, Picture(v), 3);
    ASSERT_FALSE(frame.empty());
    OSStatus status = -1;
    const auto pixels = Decode(frame, v.width, v.height, &status);
    ASSERT_EQ(status, noErr);
    const auto reference = CoreDecode(frame, v.width, v.height);
    if (v.gradients == 1 && v.alpha == 0)
      EXPECT_TRUE(pixels == reference) << FirstDifference(pixels, reference, v.width);  // DXT24 on the CPU
    else
      EXPECT_LE(MaxDifference(pixels, reference, v.alpha == 1), 1);  // the graphics road through WGL
  }
}

// QuickTime hands large samples over in pieces through a data-loading
// procedure, with a sample description whose dataSize is 0: the frames draw
// as they do whole, a truncated sample draws nothing, and a frame's size
// (second section included) is the one the Linux build reports.
TEST(Decompressor, DataLoadingProcedureRoadDrawsAsTheDirectRoad) {
  // Raw DXT24, packed DXT1, and packed DXT5 large enough for many pieces.
  for (const Variant& v : {kVariants[1], kVariants[2], kVariants[8]}) {
    SCOPED_TRACE(v.name);
    const auto frame = Encode(v, v.width, v.height, Picture(v), 3);
    ASSERT_FALSE(frame.empty());
    OSStatus status = -1;
    const auto whole = Decode(frame, v.width, v.height, &status);
    ASSERT_EQ(status, noErr);
    EXPECT_TRUE(Decode(frame, v.width, v.height, &status, 100) == whole);
    EXPECT_EQ(status, noErr);
    std::vector<uint8_t> cut(frame.begin(), frame.end() - 1);
    EXPECT_TRUE(Decode(cut, v.width, v.height, &status, 100).empty());
    EXPECT_EQ(status, eofErr);
  }
  ComponentInstance ci = nullptr;
  ASSERT_EQ(OpenADefaultComponent(decompressorComponentType, kORXV, &ci), noErr);
  ImageDescriptionHandle desc = HostNewImageDescription(kORXV, kWidth, kHeight, "ORX");
  auto frame = Encode(kVariants[0], kWidth, kHeight, Picture(), 3);
  ORXHeader h = ReadORXHeader(frame.data());
  h.secondWidth = 2;
  h.secondHeight = 3;
  h.secondIsRGB = 1;
  h.secondSize = 18;
  WriteORXHeader(h, frame.data());
  const size_t stored = frame.size() + 18;
  frame.resize(stored + 7, 0x44);
  SInt32 size = 0;
  EXPECT_EQ(ImageCodecGetCompressedImageSize(ci, desc, reinterpret_cast<Ptr>(frame.data()),
                                             static_cast<SInt32>(frame.size()), nullptr, &size),
            noErr);
  EXPECT_EQ(size, static_cast<SInt32>(stored));
  DisposeHandle(reinterpret_cast<Handle>(desc));
  CloseComponent(ci);
}

TEST(Decompressor, AnswersTheWorkFunctionRequestAndDelegatesDecodeBand) {
  ComponentInstance ci = nullptr;
  ASSERT_EQ(OpenADefaultComponent(decompressorComponentType, kORXV, &ci), noErr);
  EXPECT_EQ(CallComponentCanDo(ci, kComponentGetMPWorkFunctionSelect), 1);
  EXPECT_EQ(CallComponentCanDo(ci, kImageCodecBeginBandSelect), 1);
  EXPECT_EQ(CallComponentCanDo(ci, kImageCodecDrawBandSelect), 1);
  // Range 2 stops short of decode band: the base codec answers, and it has none.
  EXPECT_EQ(CallComponentCanDo(ci, kImageCodecDecodeBandSelect), 0);
  EXPECT_EQ(CallComponentCanDo(ci, kImageCodecBandDecompressSelect), 1);  // the base codec's
  CloseComponent(ci);

  // A hostile frame is refused through the same road, nothing drawn.
  const auto picture = Picture();
  auto frame = Encode(kVariants[0], kWidth, kHeight, picture, 3);
  ASSERT_FALSE(frame.empty());
  frame.resize(40);
  OSStatus status = noErr;
  EXPECT_TRUE(Decode(frame, kWidth, kHeight, &status).empty());
  EXPECT_NE(status, noErr);
}

// The codec's own road request, sent as any Windows host sends a component
// call: answered with the road's code and words for each switch, before a
// frame and after one.
TEST(Decompressor, AnswersItsRoadRequestForEachSwitch) {
  auto setSwitch = [](const char* name, const char* value) {
    SetEnvironmentVariableA(name, value);
    _putenv((std::string(name) + "=" + (value ? value : "")).c_str());
  };
  auto ask = [](ComponentInstance ci, SInt32* road, std::string* text) {
    char words[300] = "";
    const uintptr_t args[3] = {reinterpret_cast<uintptr_t>(road), reinterpret_cast<uintptr_t>(words), sizeof words};
    const ComponentResult r = HostCallComponent(ci, kORXGetDecodeRoadSelect, args, 3);
    *text = words;
    return r;
  };
  const auto frame = Encode(kVariants[2], kWidth, kHeight, Picture(kVariants[2]), 3);  // DXT1
  ASSERT_FALSE(frame.empty());
  struct Case {
    const char* force;
    const char* disable;
    SInt32 road;
    const char* words;  // how the answer begins
  };
  // Neither switch: the renderer decides (learned once, through a context
  // made and released, as WGL tells nothing without one).
  for (const Case& c : {Case{"1", nullptr, kORXRoadGraphics, "graphics ("},
                        Case{nullptr, "1", kORXRoadDisabled, "processor (ORX_DISABLE_GL=1)"},
                        Case{nullptr, nullptr, 0, nullptr}}) {
    SCOPED_TRACE(c.words ? c.words : "the renderer's road");
    setSwitch("ORX_FORCE_GL", c.force);
    setSwitch("ORX_DISABLE_GL", c.disable);
    ImageDescriptionHandle desc = HostNewImageDescription(kORXV, kWidth, kHeight, "ORX");
    HostDecompressionSessionRef session = nullptr;
    CVPixelBufferRef dest = nullptr;
    ASSERT_EQ(HostDecompressionSessionCreate(desc, &session), noErr);
    ASSERT_EQ(HostDecompressionSessionCreateDestination(session, &dest), noErr);
    ComponentInstance ci = HostDecompressionSessionGetDecompressor(session);
    EXPECT_EQ(CallComponentCanDo(ci, kORXGetDecodeRoadSelect), 1);
    SInt32 road = 0;
    std::string text;
    EXPECT_EQ(ask(ci, &road, &text), noErr);
    if (c.words != nullptr) {
      EXPECT_EQ(road, c.road);
      EXPECT_EQ(text.rfind(c.words, 0), 0u) << text;
    } else {
      EXPECT_TRUE(road == kORXRoadGraphics || road == kORXRoadSoftwareRenderer) << text;
      EXPECT_EQ(text.rfind(road == kORXRoadGraphics ? "graphics (" : "processor (", 0), 0u) << text;
    }
    const SInt32 answered = road;
    EXPECT_EQ(HostDecompressionSessionDecodeFrame(session, frame.data(), static_cast<SInt32>(frame.size()), dest),
              noErr);
    EXPECT_EQ(ask(ci, &road, &text), noErr);
    EXPECT_EQ(road, answered) << text;  // the frame took the road answered
    CVPixelBufferRelease(dest);
    HostDecompressionSessionRelease(session);
    DisposeHandle(reinterpret_cast<Handle>(desc));
  }
  setSwitch("ORX_DISABLE_GL", nullptr);
  setSwitch("ORX_FORCE_GL", "1");  // as the suite runs
}

TEST(Settings, BlobRoundTripsAndRefusesWrongSizes) {
  DeletePreferences();
  ComponentInstance ci = OpenCompressor();
  ASSERT_NE(ci, nullptr);
  Handle h = NewHandleClear(12);
  std::memcpy(*h, "ORXC", 4);
  (*h)[4] = 1;
  (*h)[6] = 1;
  (*h)[8] = 7;
  ASSERT_EQ(ImageCodecSetSettings(ci, h), noErr);
  EXPECT_EQ(ReadSettings(ci), (std::vector<int>{1, 0, 1, 7}));
  SetHandleSize(h, 13);
  EXPECT_EQ(ImageCodecSetSettings(ci, h), paramErr);
  EXPECT_EQ(ReadSettings(ci), (std::vector<int>{0, 1, 0, 2}));  // the defaults
  DisposeHandle(h);
  CloseComponent(ci);
}

TEST(Settings, RegistryWithOnlyThreadSettingGivesFlagsOff) {
  DeletePreferences();
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kPreferencesKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const DWORD five = 5;
  RegSetValueExA(key, "threadSetting", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&five), 4);
  RegCloseKey(key);
  ComponentInstance ci = OpenCompressor();
  ASSERT_NE(ci, nullptr);
  MaxSize1x1(ci);  // the first request that needs the settings reads them
  EXPECT_EQ(ReadSettings(ci), (std::vector<int>{0, 0, 0, 5}));
  CloseComponent(ci);
  DeletePreferences();
}

TEST(Settings, DialogOkWritesTheRegistryAndCancelLeavesIt) {
  DeletePreferences();
  ComponentInstance ci = OpenCompressor();
  ASSERT_NE(ci, nullptr);
  MaxSize1x1(ci);
  // Ok after choosing Preserve Alpha, Performance, 8x.
  HostDialogScriptStep ok{};
  ok.setCount = 3;
  ok.sets[0] = {3, 2};
  ok.sets[1] = {4, 2};
  ok.sets[2] = {5, 6};
  ok.hit = 1;
  HostDialogScript script{&ok, 1, 0};
  HostSetModalDialogDriver(HostScriptedDialogDriver, &script);
  Handle blob = NewHandle(0);
  ASSERT_EQ(ImageCodecRequestSettings(ci, blob, nullptr, nullptr), noErr);
  EXPECT_EQ(script.next, 1);
  EXPECT_EQ(ReadSettings(ci), (std::vector<int>{1, 0, 0, 6}));
  EXPECT_EQ(ReadPreference("preserveAlpha"), 1u);
  EXPECT_EQ(ReadPreference("preserveGradients"), 0u);
  EXPECT_EQ(ReadPreference("threadSetting"), 6u);

  DeletePreferences();
  HostDialogScriptStep cancel = ok;
  cancel.sets[0] = {3, 1};
  cancel.hit = 2;
  HostDialogScript script2{&cancel, 1, 0};
  HostSetModalDialogDriver(HostScriptedDialogDriver, &script2);
  ASSERT_EQ(ImageCodecRequestSettings(ci, blob, nullptr, nullptr), noErr);
  EXPECT_EQ(ReadSettings(ci), (std::vector<int>{1, 0, 0, 6}));
  EXPECT_EQ(ReadPreference("threadSetting"), 0xFFFFFFFFu);  // nothing written
  HostSetModalDialogDriver(nullptr, nullptr);
  DisposeHandle(blob);
  CloseComponent(ci);
}

TEST(CrossPlatform, LinuxFramesDecodeToTheSamePixelsAndTheseFramesMatchThem) {
  if (g_exchange.empty()) GTEST_SKIP() << "no --exchange folder";
  DeletePreferences();
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.name);
    std::vector<uint8_t> linuxFrame, linuxPixels;
    ASSERT_TRUE(ReadFile(FileName(g_exchange, v, "linux", "orx"), &linuxFrame));
    ASSERT_TRUE(ReadFile(FileName(g_exchange, v, "linux", "argb"), &linuxPixels));
    OSStatus status = -1;
    const auto decoded = Decode(linuxFrame, v.width, v.height, &status);
    EXPECT_TRUE(decoded == linuxPixels) << FirstDifference(decoded, linuxPixels, v.width);
    EXPECT_EQ(status, noErr);

    const auto frame = Encode(v, v.width, v.height, Picture(v), 3);
    EXPECT_TRUE(SameFrameApartFromGradientsByte(frame, linuxFrame));
    EXPECT_EQ(linuxFrame[kGradientsDiscardedOffset], v.gradients == 1 ? 0 : 1);
    const auto pixels = Decode(frame, v.width, v.height, &status);
    ASSERT_EQ(status, noErr);
    ASSERT_TRUE(WriteFile(FileName(g_exchange, v, "windows", "orx"), frame));
    ASSERT_TRUE(WriteFile(FileName(g_exchange, v, "windows", "argb"), pixels));

    // Blocks made smaller: the same bytes as the Linux build's.
    std::vector<uint8_t> linuxReduced;
    ASSERT_TRUE(ReadFile(FileName(g_exchange, v, "linux", "reduced"), &linuxReduced));
    EXPECT_TRUE(EncodeReduced(v) == linuxReduced);
  }
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--exchange") == 0) g_exchange = argv[i + 1];
  const int r = RUN_ALL_TESTS();
  DeletePreferences();
  return r;
}
