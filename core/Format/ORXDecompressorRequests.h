// The decompressor's own request, which any host that opened an 'ORXV'
// decompressor may send beside QuickTime's: image codec selectors 128 to
// 191 belong to the codec's subtype.
//
//   ComponentResult call(ComponentInstance ci, SInt32* road, char* text, SInt32 textSize)
//
// answers the road this instance's DXT1 and DXT5 frames take: *road one of
// the codes below (null: not wanted), text the road in words with its
// reason, e.g. "processor (ORX_DISABLE_GL=1)", a C string cut to textSize
// bytes (null or 0: not wanted). An instance that has drawn no such frame
// yet decides its road now, as its first frame would, without making a
// graphics context of its own (the graphics road makes it when a frame needs
// it). DXT24 frames always decode on the processor. The result is noErr.
// Arguments are three pointer-sized slots in declaration order, as every
// request of this host.
#pragma once

#include <cstdint>

constexpr int16_t kORXGetDecodeRoadSelect = 0x0080;

// The road codes. Hosts keep them: they never change meaning.
enum : int32_t {
  kORXRoadGraphics = 1,          // graphics hardware, or ORX_FORCE_GL=1
  kORXRoadSoftwareRenderer = 2,  // processor: the renderer is a software rasterizer
  kORXRoadNoContext = 3,         // processor: no usable graphics context
  kORXRoadDisabled = 4,          // processor: ORX_DISABLE_GL=1 when the instance opened
};

// The same codes as the road a decompressor instance keeps: the graphics
// road's resources and the decode pipeline both name it.
enum class ORXDecodeRoad {
  graphics = kORXRoadGraphics,                  // hardware renderer, or ORX_FORCE_GL=1
  softwareRenderer = kORXRoadSoftwareRenderer,  // processor: the renderer is a software rasterizer
  noContext = kORXRoadNoContext,                // processor: no usable context or extension
  disabled = kORXRoadDisabled,                  // processor: ORX_DISABLE_GL=1 when the instance opened
};
