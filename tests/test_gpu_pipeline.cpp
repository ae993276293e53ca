// The frame pipeline's graphics road on this machine's OpenGL: it really
// draws on the GPU, matches the processor road, follows size changes, reads
// the layer section.
#include <EGL/egl.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lzf.h>

#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "core/Blocks/DXTDecoder.h"
#include "core/Blocks/DXTStandard.h"
#include "quicktime/Common/OpenGL/GLSLProgram.h"
#include "quicktime/Common/OpenGL/GLTexture.h"
#include "quicktime/Common/OpenGL/GLDecompressorResources.h"
#include "quicktime/Common/Decode/ORXDecodePipeline.h"
#include "quicktime/Common/Decode/ORXDecodeRoad.h"
#include "core/Format/ORXHeader.h"
#include "testimage/ORXTestImage.h"

// Every EGL context made in this process is counted: the decode road must
// make none to choose itself.
int g_contextsMade = 0;

extern "C" EGLContext eglCreateContext(EGLDisplay display, EGLConfig config, EGLContext share, const EGLint* attrs) {
  using Create = EGLContext (*)(EGLDisplay, EGLConfig, EGLContext, const EGLint*);
  static const Create real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "eglCreateContext"));
  ++g_contextsMade;
  return real != nullptr ? real(display, config, share, attrs) : EGL_NO_CONTEXT;
}

namespace {

// A raw standard-variant frame of the test picture, with an optional layer.
// shift moves the picture; a nonzero shift also varies the alpha.
std::vector<uint8_t> MakeFrame(int w, int h, bool alpha, const std::vector<uint8_t>& layer = {}, int lw = 0,
                               int lh = 0, bool rgb = false, bool layerLZF = false, int shift = 0) {
  std::vector<uint8_t> argb(static_cast<size_t>(w) * h * 4);
  ORXMakeTestImageARGB(argb.data(), w, h, 0, 1 + shift);
  if (shift != 0)
    for (size_t i = 0; i < argb.size(); i += 4) argb[i] = static_cast<uint8_t>(i / 4 % 251);
  const int64_t raw = CalculateORXBlockDataSize(w, h, alpha, false);
  std::vector<uint8_t> f(28 + static_cast<size_t>(raw));
  stbCompressARGB32(f.data() + 28, argb.data(), w, h, w * 4, alpha);
  ORXHeader hd;
  hd.headerSize = 28;
  hd.version = 1;
  hd.hasAlpha = alpha;
  hd.dataSize = static_cast<int32_t>(raw);
  if (!layer.empty()) {
    std::vector<uint8_t> stored = layer;
    if (layerLZF) {
      std::vector<uint8_t> out(layer.size() + 64);
      const unsigned n = lzf_compress(layer.data(), static_cast<unsigned>(layer.size()), out.data(),
                                      static_cast<unsigned>(out.size()));
      out.resize(n);
      stored = out;
    }
    hd.secondIsLZF = layerLZF;
    hd.secondWidth = lw;
    hd.secondHeight = lh;
    hd.secondIsRGB = rgb;
    hd.secondSize = static_cast<int32_t>(stored.size());
    f.insert(f.end(), stored.begin(), stored.end());
  }
  WriteORXHeader(hd, f.data());
  return f;
}

int Decode(GLDecompressorResources* r, const std::vector<uint8_t>& f, int w, int h, std::vector<uint8_t>* out) {
  out->assign(static_cast<size_t>(w) * h * 4, 0);
  return ORX_DecompressImageData(r, w, h, f.data(), static_cast<int64_t>(f.size()), out->data(), w * 4);
}

int MaxDiff(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  int worst = 0;
  for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
  return worst;
}

}  // namespace

TEST(GPUPipeline, DrawsOnTheGPUAndMatchesTheProcessorRoad) {
  GLDecompressorResources r;
  r.forceGraphics = true;  // the graphics road under test, whatever the renderer
  for (bool alpha : {false, true}) {
    SCOPED_TRACE(alpha ? "DXT5" : "DXT1");
    const auto f = MakeFrame(100, 50, alpha);
    std::vector<uint8_t> gpu, cpu;
    ASSERT_EQ(Decode(&r, f, 100, 50, &gpu), 0);
    ASSERT_NE(r.context, nullptr) << "the graphics road made no context";
    EXPECT_TRUE(r.fbo.IsValid(r.extensions));
    EXPECT_EQ(r.textures[0].textureWidth, 128);  // 100 x 52 in a power-of-two texture
    EXPECT_EQ(r.textures[0].textureHeight, 64);
    EXPECT_STREQ(r.programs[1].log, "Compile OK");
    ASSERT_EQ(Decode(nullptr, f, 100, 50, &cpu), 0);  // the processor road
    EXPECT_LE(MaxDiff(gpu, cpu), 1);
  }
  // Same size again: the texture and framebuffer objects are kept.
  const GLuint texture = r.textures[0].texture, fbo = r.fbo.framebuffer;
  std::vector<uint8_t> out;
  ASSERT_EQ(Decode(&r, MakeFrame(100, 50, false), 100, 50, &out), 0);
  EXPECT_EQ(r.textures[0].texture, texture);
  EXPECT_EQ(r.fbo.framebuffer, fbo);
  // A new size within the instance gets a framebuffer of that size.
  std::vector<uint8_t> big, bigCPU;
  const auto f2 = MakeFrame(300, 200, false);
  ASSERT_EQ(Decode(&r, f2, 300, 200, &big), 0);
  EXPECT_EQ(r.fbo.width, 300);
  EXPECT_EQ(r.fbo.height, 200);
  ASSERT_EQ(Decode(nullptr, f2, 300, 200, &bigCPU), 0);
  EXPECT_LE(MaxDiff(big, bigCPU), 1);
  r.FreeResources();
  EXPECT_EQ(r.context, nullptr);
}

// The next texture and framebuffer names the context would hand out. Names
// are given in increasing order, so objects made and deleted between two
// probes move the second probe on by more than the first probe's own name.
std::pair<GLuint, GLuint> ProbeNames(GLDecompressorResources& r) {
  std::pair<GLuint, GLuint> names{0, 0};
  if (!r.ActivateContext()) return names;
  glGenTextures(1, &names.first);
  glDeleteTextures(1, &names.first);
  if (r.extensions.glGenFramebuffersEXT) {
    r.extensions.glGenFramebuffersEXT(1, &names.second);
    r.extensions.glDeleteFramebuffersEXT(1, &names.second);
  }
  r.DeactivateContext();
  return names;
}

TEST(GPUPipeline, AfterTheFirstFrameOfASizeNoGLObjectIsMade) {
  GLDecompressorResources r;
  r.forceGraphics = true;  // the graphics road under test, whatever the renderer
  for (bool alpha : {false, true}) {
    SCOPED_TRACE(alpha ? "DXT5" : "DXT1");
    const auto f = MakeFrame(640, 360, alpha);
    std::vector<uint8_t> first, out;
    ASSERT_EQ(Decode(&r, f, 640, 360, &first), 0);
    ASSERT_NE(r.context, nullptr);
    const GLuint texture = r.textures[0].texture, fbo = r.fbo.framebuffer, colour = r.fbo.colour[0].texture;
    const GLhandleARB program = r.programs[1].program;
    const auto before = ProbeNames(r);
    for (int i = 0; i < 6; ++i) {
      ASSERT_EQ(Decode(&r, f, 640, 360, &out), 0);
      EXPECT_EQ(out, first);
    }
    EXPECT_EQ(r.textures[0].texture, texture);
    EXPECT_EQ(r.fbo.framebuffer, fbo);
    EXPECT_EQ(r.fbo.colour[0].texture, colour);
    EXPECT_EQ(r.programs[1].program, program);
    const auto after = ProbeNames(r);
    EXPECT_LE(after.first, before.first + 1) << "textures were made while decoding";
    EXPECT_LE(after.second, before.second + 1) << "framebuffers were made while decoding";
  }
  r.FreeResources();
}

TEST(GPUPipeline, SwitchingBetweenDXT1AndDXT5AtOneSizeDrawsEachFrame) {
  GLDecompressorResources r;
  r.forceGraphics = true;  // the graphics road under test, whatever the renderer
  // Three different pictures, so a stale texture cannot pass for the new frame.
  const std::vector<uint8_t> frames[3] = {MakeFrame(96, 64, false, {}, 0, 0, false, false, 10),
                                          MakeFrame(96, 64, true, {}, 0, 0, false, false, 40),
                                          MakeFrame(96, 64, false, {}, 0, 0, false, false, 80)};
  for (const auto& f : frames) {
    std::vector<uint8_t> gpu, cpu;
    ASSERT_EQ(Decode(&r, f, 96, 64, &gpu), 0);
    ASSERT_NE(r.context, nullptr);
    ASSERT_EQ(Decode(nullptr, f, 96, 64, &cpu), 0);
    EXPECT_LE(MaxDiff(gpu, cpu), 1) << (ReadORXHeader(f.data()).hasAlpha ? "DXT5" : "DXT1");
  }
  r.FreeResources();
}

// Large frames are drawn in bands through a band-high framebuffer; forced
// here on small frames. The last band is short, the image height is not a
// whole number of blocks, and the destination rows are padded.
TEST(GPUPipeline, LargeFramesAreDrawnInBands) {
  GLDecompressorResources r;
  r.forceGraphics = true;  // the graphics road under test, whatever the renderer
  r.wholeFramePixels = 64 * 64;
  r.bandPixels = 100 * 16;  // 100 wide: 16-row bands
  for (bool alpha : {false, true}) {
    SCOPED_TRACE(alpha ? "DXT5" : "DXT1");
    const int w = 99, h = 71, stride = 4 * 104;  // 100 x 72 padded: 4 full bands and 8 rows
    const auto f = MakeFrame(w, h, alpha, {}, 0, 0, false, false, alpha ? 30 : 0);
    std::vector<uint8_t> gpu(static_cast<size_t>(stride) * h, 0xEE), cpu(gpu.size(), 0xEE);
    ASSERT_EQ(ORX_DecompressImageData(&r, w, h, f.data(), static_cast<int64_t>(f.size()), gpu.data(), stride), 0);
    ASSERT_NE(r.context, nullptr);
    EXPECT_EQ(r.fbo.width, 100);
    EXPECT_EQ(r.fbo.height, 16);
    EXPECT_EQ(r.textures[0].height, 16);
    ASSERT_EQ(ORX_DecompressImageData(nullptr, w, h, f.data(), static_cast<int64_t>(f.size()), cpu.data(), stride), 0);
    int worst = 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < stride; ++x) {
        const size_t i = static_cast<size_t>(y) * stride + x;
        if (x < 4 * w) worst = std::max(worst, std::abs(gpu[i] - cpu[i]));
        else ASSERT_EQ(gpu[i], 0xEE) << "row " << y << " written past the image";
      }
    }
    EXPECT_LE(worst, 1);

    // Later frames of the size make no GL object.
    const auto before = ProbeNames(r);
    std::vector<uint8_t> again(gpu.size(), 0xEE);
    ASSERT_EQ(ORX_DecompressImageData(&r, w, h, f.data(), static_cast<int64_t>(f.size()), again.data(), stride), 0);
    EXPECT_EQ(again, gpu);
    const auto after = ProbeNames(r);
    EXPECT_LE(after.first, before.first + 1);
    EXPECT_LE(after.second, before.second + 1);
  }
  // Back under the limit: one band of the whole frame again.
  r.wholeFramePixels = int64_t{1} << 24;
  std::vector<uint8_t> out;
  ASSERT_EQ(Decode(&r, MakeFrame(99, 71, false), 99, 71, &out), 0);
  EXPECT_EQ(r.fbo.height, 72);
  r.FreeResources();
}

TEST(GPUPipeline, LayerSectionIsReadRawAndPacked) {
  GLDecompressorResources r;
  r.forceGraphics = true;  // the graphics road under test, whatever the renderer
  std::vector<uint8_t> plain;
  ASSERT_EQ(Decode(&r, MakeFrame(16, 16, false), 16, 16, &plain), 0);
  for (bool rgb : {true, false})
    for (bool packed : {false, true}) {
      SCOPED_TRACE(std::string(rgb ? "RGB" : "RGBA") + (packed ? " LZF" : " raw"));
      std::vector<uint8_t> layer(static_cast<size_t>(8) * 4 * (rgb ? 3 : 4), 0);
      for (size_t i = 0; i < layer.size(); ++i) layer[i] = static_cast<uint8_t>(i / 3);
      const auto f = MakeFrame(16, 16, false, layer, 8, 4, rgb, packed);
      ORXFrameLayout layout;
      ASSERT_EQ(CheckORXFrame(f.data(), static_cast<int64_t>(f.size()), 16, 16, &layout), ORXFrameError::none);
      EXPECT_EQ(layout.layerSize, static_cast<int64_t>(layer.size()));
      std::vector<uint8_t> out;
      ASSERT_EQ(Decode(&r, f, 16, 16, &out), 0);
      EXPECT_EQ(r.textures[1].width, 8);
      EXPECT_EQ(r.textures[1].height, 4);
      EXPECT_EQ(out, plain);  // the plain program does not sample the layer
      // A packed layer that unpacks short is refused.
      if (packed) {
        auto bad = f;
        bad.resize(bad.size() - 1);
        ORXHeader hd = ReadORXHeader(bad.data());
        hd.secondSize -= 1;
        WriteORXHeader(hd, bad.data());
        EXPECT_EQ(Decode(&r, bad, 16, 16, &out), -8969);
      }
    }
  r.FreeResources();
}

TEST(GLWrappers, UploadSizesProgramsAndFramebufferRules) {
  GLDecompressorResources r;
  r.forceGraphics = true;  // the graphics road under test, whatever the renderer
  ASSERT_TRUE(r.InitContext());
  ASSERT_TRUE(r.ActivateContext());
  GLExtensions& ext = r.extensions;
  std::vector<uint8_t> data(100 * 52 * 4, 0x11);
  GLTexture t;
  t.UploadDXT16ImageWithAlpha(ext, data.data(), 100, 50, 100, 52, GL_TEXTURE_2D);
  EXPECT_EQ(t.textureWidth, 128);
  EXPECT_EQ(t.textureHeight, 64);
  EXPECT_EQ(t.width, 100);
  EXPECT_EQ(t.height, 52);
  const GLuint name = t.texture;
  t.UploadDXT16ImageWithAlpha(ext, data.data(), 100, 50, 100, 52, GL_TEXTURE_2D);
  EXPECT_EQ(t.texture, name);  // same size and target: the same texture
  // DXT24 blocks as raw bytes in a rectangle texture: ten texels a block.
  t.UploadDXT24Image(ext, data.data(), 8, 8, 8, 8, GL_TEXTURE_RECTANGLE_ARB);
  EXPECT_EQ(t.target, static_cast<GLenum>(GL_TEXTURE_RECTANGLE_ARB));
  EXPECT_EQ(t.textureWidth, 20);
  EXPECT_EQ(t.textureHeight, 2);
  EXPECT_FALSE(glIsTexture(name));  // the 2D texture was deleted on the target change
  t.DeleteTexture();
  EXPECT_EQ(t.texture, 0u);

  // A program that does not compile keeps the compiler's message.
  GLSLProgram bad;
  EXPECT_FALSE(bad.Init(kORXDXT24AlphaProgram, ext));
  EXPECT_STRNE(bad.log, "Compile OK");
  EXPECT_NE(bad.log[0], 0);
  bad.ReleaseGLResources(ext);

  // Without the framebuffer extension there is no framebuffer.
  GLFBOClass fbo;
  const int saved = ext.EXT_framebuffer_object;
  ext.EXT_framebuffer_object = 0;
  EXPECT_FALSE(fbo.Create(8, 8, 0, false, ext));
  EXPECT_FALSE(fbo.IsValid(ext));
  ext.EXT_framebuffer_object = saved;
  r.DeactivateContext();
  r.FreeResources();
}

// Rows of exactly 4 x width bytes: DXT24 writes whole blocks, so a width
// that is not a multiple of 4 needs the padded rows and is refused without
// them, with nothing written; the standard variants write the image only.
TEST(ProcessorRoad, RowsOfExactlyTheImageWidth) {
  const int w = 6, h = 4;
  std::vector<uint8_t> dxt24(28 + 2 * kDXT24BlockBytes, 0);
  ORXHeader hd;
  hd.headerSize = 28;
  hd.version = 1;
  hd.isDXT24 = 1;
  hd.dataSize = 2 * kDXT24BlockBytes;
  WriteORXHeader(hd, dxt24.data());
  std::vector<uint8_t> exact(static_cast<size_t>(w) * 4 * h, 0x5A);
  EXPECT_NE(ORX_DecompressImageData(nullptr, w, h, dxt24.data(), static_cast<int64_t>(dxt24.size()), exact.data(), w * 4), 0);
  for (uint8_t b : exact) ASSERT_EQ(b, 0x5A);
  std::vector<uint8_t> padded(static_cast<size_t>(8) * 4 * h, 0x5A);
  EXPECT_EQ(ORX_DecompressImageData(nullptr, w, h, dxt24.data(), static_cast<int64_t>(dxt24.size()), padded.data(), 8 * 4), 0);
  EXPECT_EQ(padded[0], 255);  // opaque black from zero blocks

  // A 0x0 image: a bare header is a valid frame with nothing to draw.
  std::vector<uint8_t> bare(28, 0);
  hd.dataSize = 0;
  WriteORXHeader(hd, bare.data());
  uint8_t untouched = 0x5A;
  EXPECT_EQ(ORX_DecompressImageData(nullptr, 0, 0, bare.data(), 28, &untouched, 0), 0);
  EXPECT_EQ(untouched, 0x5A);

  // A buffer of exactly the image: the sanitizers catch any write past it.
  for (bool alpha : {false, true}) {
    const std::vector<uint8_t> f = MakeFrame(w, h, alpha);
    std::vector<uint8_t> image(static_cast<size_t>(w) * 4 * h, 0);
    EXPECT_EQ(ORX_DecompressImageData(nullptr, w, h, f.data(), static_cast<int64_t>(f.size()), image.data(), w * 4), 0)
        << (alpha ? "DXT5" : "DXT1");
  }
}

// ORX_DISABLE_GL and ORX_FORCE_GL take the switch words (a refused value
// leaves them off), and the road's description names a switch with the
// value it is set to.
TEST(GPUPipeline, RoadSwitchesAreNamedAsTheyAreSet) {
  const std::pair<const char*, bool (*)()> switches[] = {{"ORX_DISABLE_GL", ORXGLRoadDisabled},
                                                        {"ORX_FORCE_GL", ORXGLRoadForced}};
  for (const auto& [name, read] : switches) {
    for (const char* off : {"0", "no", "FALSE", "2", "on", ""}) {
      setenv(name, off, 1);
      EXPECT_FALSE(read()) << name << "=" << off;
    }
    for (const char* on : {"1", "Yes", "true"}) {
      setenv(name, on, 1);
      EXPECT_TRUE(read()) << name << "=" << on;
    }
    unsetenv(name);
  }
  char text[256];
  setenv("ORX_DISABLE_GL", "yes", 1);
  ORXDescribeDecodeRoad(ORXDecodeRoad::disabled, "", text, sizeof text);
  EXPECT_STREQ(text, "processor (ORX_DISABLE_GL=yes)");
  unsetenv("ORX_DISABLE_GL");
  setenv("ORX_FORCE_GL", "TRUE", 1);
  ORXDescribeDecodeRoad(ORXDecodeRoad::graphics, "llvmpipe (LLVM 15.0.6, 256 bits)", text, sizeof text);
  EXPECT_STREQ(text, "graphics (llvmpipe (LLVM 15.0.6, 256 bits), kept by ORX_FORCE_GL=TRUE)");
  unsetenv("ORX_FORCE_GL");
  ORXDescribeDecodeRoad(ORXDecodeRoad::graphics, "llvmpipe (LLVM 15.0.6, 256 bits)", text, sizeof text);
  EXPECT_STREQ(text, "graphics (llvmpipe (LLVM 15.0.6, 256 bits))");
}

// The road for DXT1/DXT5 frames: the renderer strings of the software
// rasterizers are told from hardware ones; on a software renderer an
// instance decodes on the processor (making no context) unless forced, and
// the processor road gives the plain decoder's pixels exactly.
TEST(GPUPipeline, SoftwareRenderersTakeTheProcessorRoad) {
  for (const char* s : {"llvmpipe (LLVM 15.0.6, 256 bits)", "softpipe", "Mesa X11 swrast", "Software Rasterizer",
                        "GDI Generic", "LLVMPIPE"})
    EXPECT_TRUE(ORXIsSoftwareRenderer(s)) << s;
  for (const char* s : {"NVIDIA GeForce RTX 4090/PCIe/SSE2", "AMD Radeon RX 7900 XTX (radeonsi, navi31)",
                        "Mesa Intel(R) UHD Graphics 630 (CFL GT2)", "Apple M2", "", static_cast<const char*>(nullptr)})
    EXPECT_FALSE(ORXIsSoftwareRenderer(s)) << (s ? s : "null");
  EXPECT_EQ(ORXChooseDXTRoad(nullptr), ORXDecodeRoad::disabled);

  const int w = 100, h = 50;
  for (bool force : {false, true}) {
    GLDecompressorResources r;
    r.forceGraphics = force;
    const auto f = MakeFrame(w, h, false);
    std::vector<uint8_t> out;
    ASSERT_EQ(Decode(&r, f, w, h, &out), 0);
    ASSERT_TRUE(r.roadChosen);
    const bool software = ORXLearnDisplayRenderer().software;
    if (r.road == ORXDecodeRoad::noContext) GTEST_SKIP() << "no OpenGL context here";
    EXPECT_EQ(r.road, software && !force ? ORXDecodeRoad::softwareRenderer : ORXDecodeRoad::graphics)
        << ORXRoadRenderer(&r);
    EXPECT_EQ(r.context != nullptr, r.road == ORXDecodeRoad::graphics);
    if (r.road == ORXDecodeRoad::softwareRenderer) {
      std::vector<uint8_t> plain(out.size(), 0);
      DecodeDXTImagePlain(f.data() + 28, plain.data(), w, h, w * 4, false);
      EXPECT_TRUE(out == plain);
    }
    char text[256];
    ORXDescribeDecodeRoad(r.road, ORXRoadRenderer(&r), text, sizeof text);
    EXPECT_NE(std::strstr(text, ORXDecodeRoadName(r.road)), nullptr) << text;
    r.FreeResources();
  }
}

// The renderer is learned once a process; choosing a road makes no context
// in any instance, and an instance makes its own context only when a frame
// takes the graphics road, once. Where the platform answers without a
// context (Mesa with only its software device), the answer agrees with the
// renderer a context reports.
TEST(DecodeRoad, ChoosingTheRoadMakesNoContext) {
  char name[512] = "";
  bool software = false;
  int made = g_contextsMade;
  const bool told = GLContext::RendererWithoutContext(name, sizeof name, &software);
  EXPECT_EQ(g_contextsMade, made) << "the context-free answer made a context";
  const ORXDisplayRenderer& display = ORXLearnDisplayRenderer();
  if (!display.usable) GTEST_SKIP() << "no OpenGL context here";
  made = g_contextsMade;
  for (bool force : {false, true}) {
    for (int i = 0; i < 4; ++i) {
      GLDecompressorResources r;
      r.forceGraphics = force;
      EXPECT_EQ(ORXChooseDXTRoad(&r), force || !display.software ? ORXDecodeRoad::graphics
                                                                 : ORXDecodeRoad::softwareRenderer);
      EXPECT_EQ(r.context, nullptr);
      r.FreeResources();
    }
  }
  EXPECT_EQ(ORXLearnDisplayRenderer().name, display.name);  // the same value, kept
  EXPECT_EQ(g_contextsMade, made) << "instances made contexts to choose their road";

  const auto f = MakeFrame(64, 32, false);
  std::vector<uint8_t> out;
  GLDecompressorResources chosen;  // the renderer's own road
  ASSERT_EQ(Decode(&chosen, f, 64, 32, &out), 0);
  ASSERT_EQ(Decode(&chosen, f, 64, 32, &out), 0);
  EXPECT_EQ(g_contextsMade - made, chosen.road == ORXDecodeRoad::graphics ? 1 : 0);
  chosen.FreeResources();
  made = g_contextsMade;
  GLDecompressorResources forced;
  forced.forceGraphics = true;
  ASSERT_EQ(Decode(&forced, f, 64, 32, &out), 0);
  ASSERT_EQ(Decode(&forced, f, 64, 32, &out), 0);
  EXPECT_EQ(g_contextsMade - made, 1) << "the graphics road makes its context on its first frame, once";
  ASSERT_NE(forced.context, nullptr);
  if (told) {
    EXPECT_EQ(software, ORXIsSoftwareRenderer(forced.extensions.rendererName))
        << name << " against " << forced.extensions.rendererName;
    EXPECT_TRUE(ORXIsSoftwareRenderer(name)) << name;  // told in words a person and the road both read
  }
  EXPECT_EQ(display.software, ORXIsSoftwareRenderer(forced.extensions.rendererName)) << display.name;
  EXPECT_STREQ(ORXRoadRenderer(&forced), forced.extensions.rendererName);
  forced.FreeResources();
}
