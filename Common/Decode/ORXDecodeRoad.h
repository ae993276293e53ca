// Which road a decompressor instance takes for DXT1/DXT5 frames, and why.
// The graphics road pays off on graphics hardware; on a software rasterizer
// the same blocks decode several times faster on the processor.
#pragma once

struct GLDecompressorResources;

enum class ORXDecodeRoad {
  graphics,           // hardware renderer, or ORX_FORCE_GL=1
  softwareRenderer,   // processor: the context's renderer is a software rasterizer
  noContext,          // processor: no usable context or extension
  disabled,           // processor: ORX_DISABLE_GL=1 when the instance opened
};

// ORX_DISABLE_GL=1 (or yes, true): a decompressor instance opened while it
// is set keeps to the processor road. ORX_FORCE_GL=1 likewise keeps the
// graphics road on any renderer. Both are read once per instance, at open,
// through ORXSwitchOn (ORXSwitches.h: a refused value leaves them off).
bool ORXGLRoadDisabled();
bool ORXGLRoadForced();

// True for the renderer strings of the software rasterizers: Mesa's
// llvmpipe, softpipe and swrast, and Windows' GDI Generic.
bool ORXIsSoftwareRenderer(const char* renderer);

// Decided on the instance's first DXT1/DXT5 frame and kept: creates the
// context to read its renderer, and releases it again when the processor
// road wins, so that idle software contexts hold no threads or memory.
// Null resources: disabled.
ORXDecodeRoad ORXChooseDXTRoad(GLDecompressorResources* resources);

// The road in a few words, with its reason, e.g. "processor (llvmpipe (LLVM
// 15.0.6, 256 bits) is a software rasterizer; ORX_FORCE_GL=1 keeps the
// graphics road)"; a switch behind the choice is named with the value it is
// set to ("processor (ORX_DISABLE_GL=yes)"). renderer may be empty.
const char* ORXDecodeRoadName(ORXDecodeRoad road);
void ORXDescribeDecodeRoad(ORXDecodeRoad road, const char* renderer, char* text, int size);
