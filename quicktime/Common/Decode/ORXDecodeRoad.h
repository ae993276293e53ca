// Which road a decompressor instance takes for DXT1/DXT5 frames, and why.
// The graphics road pays off on graphics hardware; on a software rasterizer
// the same blocks decode several times faster on the processor.
#pragma once

#include "core/Format/ORXDecompressorRequests.h"

struct GLDecompressorResources;

// ORX_DISABLE_GL=1 (or yes, true): a decompressor instance opened while it
// is set keeps to the processor road. ORX_FORCE_GL=1 likewise keeps the
// graphics road on any renderer. Both are read once per instance, at open,
// through ORXSwitchOn (ORXSwitches.h: a refused value leaves them off).
bool ORXGLRoadDisabled();
bool ORXGLRoadForced();

// True for the renderer strings of the software rasterizers: Mesa's
// llvmpipe, softpipe and swrast, and Windows' GDI Generic.
bool ORXIsSoftwareRenderer(const char* renderer);

// What renders for the process's display. The answer never changes while
// the process runs, so it is learned once, on first use, and kept as one
// constant behind this function (thread-safe; each copy of the core learns
// its own). Where the platform can tell without a context
// (GLContext::RendererWithoutContext) nothing is made; otherwise one context
// is made, its GL_RENDERER read and the context released.
struct ORXDisplayRenderer {
  bool usable;       // false: no context could be made
  bool software;     // a software rasterizer (ORXIsSoftwareRenderer)
  char name[512];    // the renderer's name ("" when unusable), as GL_RENDERER gives it
};
const ORXDisplayRenderer& ORXLearnDisplayRenderer();

// Decided on the instance's first DXT1/DXT5 frame (or when a host asks the
// road first) and kept, from the process's renderer (not asked when
// ORX_FORCE_GL keeps the graphics road): no context is made for it. The
// graphics road makes the instance's own context when a frame needs it, and
// turns to noContext for good when that fails. Null resources: disabled.
ORXDecodeRoad ORXChooseDXTRoad(GLDecompressorResources* resources);

// The renderer an instance's road is told with: its own context's once it
// has one, else the process's; "" for null resources (disabled).
const char* ORXRoadRenderer(const GLDecompressorResources* resources);

// The road in a few words, with its reason, e.g. "processor (llvmpipe (LLVM
// 15.0.6, 256 bits) is a software rasterizer; ORX_FORCE_GL=1 keeps the
// graphics road)"; a switch behind the choice is named with the value it is
// set to ("processor (ORX_DISABLE_GL=yes)"). renderer may be empty.
const char* ORXDecodeRoadName(ORXDecodeRoad road);
void ORXDescribeDecodeRoad(ORXDecodeRoad road, const char* renderer, char* text, int size);
