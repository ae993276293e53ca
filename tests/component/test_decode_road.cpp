// The decompressor's own road request, as a host sends it: the answer for
// each road, and that neither the answer nor choosing the road makes a
// graphics context (every EGL context this process makes is counted, the
// component's included).
#include <EGL/egl.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/Format/ORXDecompressorRequests.h"
#include "core/Format/ORXHeader.h"
#include "ImageCodec.h"
#include "MacMemory.h"

// The component's calls reach this definition before the library's: the
// program exports it. The library's own is found through the copy of EGL
// the component loaded.
int g_contextsMade = 0;

namespace {

using CreateContext = EGLContext (*)(EGLDisplay, EGLConfig, EGLContext, const EGLint*);

CreateContext RealCreateContext() {
  void* egl = dlopen("libEGL.so.1", RTLD_LAZY | RTLD_NOLOAD);
  return reinterpret_cast<CreateContext>(egl != nullptr ? dlsym(egl, "eglCreateContext") : nullptr);
}

}  // namespace

extern "C" EGLContext eglCreateContext(EGLDisplay display, EGLConfig config, EGLContext share, const EGLint* attrs) {
  static const CreateContext real = RealCreateContext();
  ++g_contextsMade;
  return real != nullptr ? real(display, config, share, attrs) : EGL_NO_CONTEXT;
}

namespace {

constexpr OSType kORXV = FOUR_CHAR_CODE('O', 'R', 'X', 'V');
constexpr int kWidth = 64, kHeight = 32;

struct ScopedEnv {
  std::string name;
  ScopedEnv(const char* n, const char* value) : name(n) { setenv(n, value, 1); }
  ~ScopedEnv() { unsetenv(name.c_str()); }
};

struct Answer {
  ComponentResult result = noErr;
  SInt32 road = 0;
  std::string text;
};

Answer AskRoad(ComponentInstance ci) {
  Answer a;
  char text[700] = "";
  const uintptr_t args[3] = {reinterpret_cast<uintptr_t>(&a.road), reinterpret_cast<uintptr_t>(text), sizeof text};
  a.result = HostCallComponent(ci, kORXGetDecodeRoadSelect, args, 3);
  a.text = text;
  return a;
}

// A DXT1 frame of zero blocks: black, opaque.
std::vector<uint8_t> DXT1Frame() {
  const int64_t blocks = CalculateORXBlockDataSize(kWidth, kHeight, false, false);
  std::vector<uint8_t> frame(static_cast<size_t>(kORXHeaderSize + blocks), 0);
  ORXHeader h;
  h.headerSize = kORXHeaderSize;
  h.version = kORXVersion;
  h.dataSize = static_cast<int32_t>(blocks);
  WriteORXHeader(h, frame.data());
  return frame;
}

// One decompression session, as a player opens one.
struct Session {
  ImageDescriptionHandle desc = HostNewImageDescription(kORXV, kWidth, kHeight, "ORX");
  HostDecompressionSessionRef session = nullptr;
  CVPixelBufferRef dest = nullptr;
  OSStatus Open() {
    OSStatus r = HostDecompressionSessionCreate(desc, &session);
    if (r == noErr) r = HostDecompressionSessionCreateDestination(session, &dest);
    return r;
  }
  ComponentInstance Instance() const { return HostDecompressionSessionGetDecompressor(session); }
  OSStatus Decode(const std::vector<uint8_t>& frame) {
    return HostDecompressionSessionDecodeFrame(session, frame.data(), static_cast<SInt32>(frame.size()), dest);
  }
  ~Session() {
    if (dest) CVPixelBufferRelease(dest);
    HostDecompressionSessionRelease(session);
    DisposeHandle(reinterpret_cast<Handle>(desc));
  }
};

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

// Each road is answered with its code and its words, before any frame and
// after frames, and only the graphics road makes a context: the instance's
// own, on its first frame. Many instances asking make none.
TEST(DecodeRoad, TheDecompressorAnswersEachRoadAndMakesNoContextToSayIt) {
  {  // The process learns its renderer once (at most one context, however it is learned).
    Session first;
    ASSERT_EQ(first.Open(), noErr);
    EXPECT_EQ(CallComponentCanDo(first.Instance(), kORXGetDecodeRoadSelect), 1);
    const Answer a = AskRoad(first.Instance());
    ASSERT_EQ(a.result, noErr);
    if (a.road == kORXRoadNoContext) GTEST_SKIP() << "no OpenGL context here: " << a.text;
    EXPECT_LE(g_contextsMade, 1);
  }
  const std::vector<uint8_t> frame = DXT1Frame();
  struct Case {
    const char* variable;  // the switch set while the instance opens, or null
    const char* value;
  };
  for (const Case c : {Case{nullptr, nullptr}, Case{"ORX_FORCE_GL", "1"}, Case{"ORX_DISABLE_GL", "yes"}}) {
    SCOPED_TRACE(c.variable ? c.variable : "no switch");
    std::unique_ptr<ScopedEnv> set;  // read when the instance opens; named in the answer
    if (c.variable != nullptr) set = std::make_unique<ScopedEnv>(c.variable, c.value);
    Session s;
    ASSERT_EQ(s.Open(), noErr);
    const int before = g_contextsMade;
    const Answer a = AskRoad(s.Instance());
    ASSERT_EQ(a.result, noErr);
    EXPECT_EQ(g_contextsMade, before) << "asking the road made a context";
    if (c.variable == nullptr) {
      EXPECT_TRUE(a.road == kORXRoadGraphics || a.road == kORXRoadSoftwareRenderer) << a.road;
      EXPECT_TRUE(StartsWith(a.text, a.road == kORXRoadGraphics ? "graphics (" : "processor (")) << a.text;
    } else if (std::strcmp(c.variable, "ORX_FORCE_GL") == 0) {
      EXPECT_EQ(a.road, kORXRoadGraphics);
      EXPECT_TRUE(StartsWith(a.text, "graphics (")) << a.text;
    } else {
      EXPECT_EQ(a.road, kORXRoadDisabled);
      EXPECT_EQ(a.text, "processor (ORX_DISABLE_GL=yes)");
    }
    // The frames take the road answered, and only the graphics road makes
    // a context: one, on the first frame.
    ASSERT_EQ(s.Decode(frame), noErr);
    ASSERT_EQ(s.Decode(frame), noErr);
    EXPECT_EQ(g_contextsMade - before, a.road == kORXRoadGraphics ? 1 : 0);
    const Answer after = AskRoad(s.Instance());
    EXPECT_EQ(after.road, a.road);
    if (a.road == kORXRoadGraphics) EXPECT_TRUE(StartsWith(after.text, "graphics (")) << after.text;
    else EXPECT_EQ(after.text, a.text);
  }
  // A player opening many clips pays no context for any of them.
  const int before = g_contextsMade;
  for (int i = 0; i < 8; ++i) {
    Session s;
    ASSERT_EQ(s.Open(), noErr);
    EXPECT_EQ(AskRoad(s.Instance()).result, noErr);
  }
  EXPECT_EQ(g_contextsMade, before);
}

// The request on a bare instance (no session): either answer may be left
// out, the words are cut to the room given, and a request of another shape
// is refused.
TEST(DecodeRoad, TheRequestTakesItsThreeArgumentsAndCutsTheWords) {
  const ScopedEnv set("ORX_DISABLE_GL", "1");
  ComponentInstance ci = nullptr;
  ASSERT_EQ(OpenADefaultComponent(decompressorComponentType, kORXV, &ci), noErr);
  SInt32 road = 0;
  uintptr_t args[3] = {reinterpret_cast<uintptr_t>(&road), 0, 0};
  EXPECT_EQ(HostCallComponent(ci, kORXGetDecodeRoadSelect, args, 3), noErr);
  EXPECT_EQ(road, kORXRoadDisabled);
  char small[10];
  std::memset(small, 'x', sizeof small);
  args[0] = 0;
  args[1] = reinterpret_cast<uintptr_t>(small);
  args[2] = 6;
  EXPECT_EQ(HostCallComponent(ci, kORXGetDecodeRoadSelect, args, 3), noErr);
  EXPECT_STREQ(small, "proce");
  EXPECT_EQ(small[6], 'x');  // nothing past the room given
  EXPECT_EQ(HostCallComponent(ci, kORXGetDecodeRoadSelect, args, 2), paramErr);
  EXPECT_EQ(CloseComponent(ci), noErr);
}
