// The GPU resources of one decompressor instance: its own context, the
// block and layer textures, the render target and the fragment programs.
#pragma once

#include <cstdint>

#include "core/Format/ORXDecompressorRequests.h"
#include "quicktime/Common/OpenGL/GLContext.h"
#include "quicktime/Common/OpenGL/GLFBO.h"
#include "quicktime/Common/OpenGL/GLSLProgram.h"
#include "quicktime/Common/OpenGL/GLTexture.h"

struct GLDecompressorResources : GLContext {
  GLTexture textures[2];  // 0: block texture, 1: layer texture
  GLFBOClass fbo;
  GLSLProgram programs[4];  // blend, plain, DXT24, DXT24 with alpha
  // Frames of more padded pixels than wholeFramePixels are drawn in bands of
  // block rows: the framebuffer and the block texture are a band high (the
  // largest power of two of rows whose band holds at most bandPixels), so
  // the graphics memory of a very large frame stays a fraction of a frame.
  int64_t wholeFramePixels = int64_t{1} << 24;
  int64_t bandPixels = int64_t{1} << 22;
  // The DXT1/DXT5 road (ORXChooseDXTRoad), decided on the first such frame
  // or when a host asks; forceGraphics is ORX_FORCE_GL as the instance found
  // it at open.
  bool forceGraphics = false;
  bool roadChosen = false;
  ORXDecodeRoad road = ORXDecodeRoad::noContext;

  // Releases every GL object (when the context can be made current) and the context.
  void FreeResources();
};

// The program sources, as literals.
extern const char* const kORXBlendProgram;
extern const char* const kORXPlainProgram;
extern const char* const kORXDXT24Program;
extern const char* const kORXDXT24AlphaProgram;

// Picks the blend (blend true) or plain program, compiles it on first use,
// makes it current and sets its uniforms. The context must be current.
void ApplyORXShader(GLDecompressorResources* res, GLExtensions& ext, double edgeHigh, bool blend);
void ApplyDXT24Shader(GLDecompressorResources* res, GLExtensions& ext, bool alpha);
