// The WGL context and the extension registry under Wine (on a virtual X
// display, Mesa's llvmpipe), and a DXT1 frame through the graphics road
// against the processor road.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/Blocks/DXTDecoder.h"
#include "core/Blocks/DXTStandard.h"
#include "quicktime/Common/OpenGL/GLDecompressorResources.h"
#include "quicktime/Common/Decode/ORXDecodePipeline.h"
#include "core/Format/ORXHeader.h"
#include "testimage/ORXTestImage.h"
#include "quicktime/Common/OpenGL/GLContext.h"

// The library's module handle, as the deliverable records it; here the
// test program's own.
extern "C" HMODULE GetComponentModule(void) { return GetModuleHandleA(nullptr); }

namespace {

TEST(WGLContext, CreatesOnItsOwnWindowAndFillsTheRegistry) {
  GLContext c;
  ASSERT_TRUE(c.InitContext());
  void* const rc = c.renderingContext;
  EXPECT_NE(FindWindowA("ORXRenderRoot", "ORXRenderRoot"), nullptr);
  EXPECT_EQ(wglGetCurrentContext(), nullptr);  // left not current
  EXPECT_GT(c.maxTextureSize, 0);
  EXPECT_EQ(c.maxTextureSize, c.extensions.maxTextureSize);
  EXPECT_NE(c.extensions.rendererName[0], 0);
  EXPECT_EQ(c.extensions.EXT_texture_compression_s3tc, 1);
  EXPECT_EQ(c.extensions.EXT_framebuffer_object, 1);
  EXPECT_EQ(c.extensions.ARB_shader_objects, 1);
  EXPECT_EQ(c.extensions.ARB_texture_compression, 1);
  EXPECT_NE(c.extensions.glGenFramebuffersEXT, nullptr);
  // The WGL string entry points decide whether WGL extensions can be seen.
  EXPECT_EQ(c.extensions.WGL_ARB_extensions_string_flag, c.extensions.wglGetExtensionsStringARB != nullptr);
  if (!c.extensions.WGL_ARB_extensions_string_flag && !c.extensions.WGL_EXT_extensions_string_flag) {
    EXPECT_EQ(c.extensions.WGL_ARB_pixel_format_flag, 0);
  }
  if (c.extensions.WGL_ARB_pixel_format_flag) {
    EXPECT_NE(c.extensions.wglChoosePixelFormatARB, nullptr);
  }

  ASSERT_TRUE(c.InitContext());  // again: nothing new
  EXPECT_EQ(c.renderingContext, rc);
  ASSERT_TRUE(c.ActivateContext());
  EXPECT_EQ(wglGetCurrentContext(), static_cast<HGLRC>(rc));
  c.DeactivateContext();
  EXPECT_EQ(wglGetCurrentContext(), nullptr);
  EXPECT_EQ(c.deviceContext, nullptr);

  // A second context registers the class again and still gets its window.
  GLContext d;
  ASSERT_TRUE(d.InitContext());
  EXPECT_NE(d.window, c.window);
  d.DeleteContext();
  c.DeleteContext();
  c.DeleteContext();  // harmless twice
  EXPECT_EQ(c.window, nullptr);
  EXPECT_EQ(c.renderingContext, nullptr);
  GLContext never;
  never.DeleteContext();
  EXPECT_FALSE(never.ActivateContext());
}

TEST(WGLContext, GraphicsRoadMatchesTheProcessorRoad) {
  const int w = 100, h = 60;
  std::vector<uint8_t> src(size_t(w) * h * 4);
  ORXMakeTestImageARGB(src.data(), w, h, 0, 3);
  const int64_t blocksSize = CalculateORXBlockDataSize(w, h, false, false);
  std::vector<uint8_t> frame(size_t(kORXHeaderSize + blocksSize));
  stbCompressARGB32(frame.data() + kORXHeaderSize, src.data(), w, h, w * 4, 0);
  ORXHeader hd;
  hd.headerSize = kORXHeaderSize;
  hd.version = 1;
  hd.dataSize = int32_t(blocksSize);
  WriteORXHeader(hd, frame.data());

  const int w4 = (w + 3) / 4 * 4, h4 = (h + 3) / 4 * 4;
  std::vector<uint8_t> gpu(size_t(w4) * h4 * 4), cpu(size_t(w4) * h4 * 4);
  GLDecompressorResources r;
  r.forceGraphics = true;  // the graphics road under test, whatever the renderer
  ASSERT_EQ(ORX_DecompressImageData(&r, w, h, frame.data(), int64_t(frame.size()), gpu.data(), w4 * 4), 0);
  EXPECT_NE(r.renderingContext, nullptr) << "the graphics road was not taken";
  r.FreeResources();
  DecodeDXT1ToARGB(frame.data() + kORXHeaderSize, cpu.data(), w, h, w4 * 4);
  int worst = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w * 4; ++x)
      worst = std::max(worst, std::abs(int(gpu[size_t(y) * w4 * 4 + x]) - int(cpu[size_t(y) * w4 * 4 + x])));
  EXPECT_LE(worst, 1);
}

}  // namespace
