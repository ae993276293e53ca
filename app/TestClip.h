// The built-in test clip: moving gradients, hard edges, fine text-like detail
// and an alpha ramp, generated frame by frame.
#pragma once

#include "ImageIO.h"

namespace orxapp {

constexpr int kTestClipWidth = 1280;
constexpr int kTestClipHeight = 720;
constexpr int kTestClipFrames = 72;  // three seconds at 24 frames a second

// Frame index of the clip at width x height (hasAlpha true: the alpha ramp
// fills the lower quarter, above it the picture is opaque).
void MakeTestClipFrame(ImageARGB* out, int width, int height, int index);

// PSNR in dB over the alpha bytes of two ARGB images (+infinity when equal).
double AlphaPSNR(const uint8_t* a, size_t rowBytesA, const uint8_t* b, size_t rowBytesB, int width, int height);

}  // namespace orxapp
