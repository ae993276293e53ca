// What the library's two halves (frames, movies) share.
#pragma once

#include <cstdint>

#include "orx/orx.h"

// Bytes of a pixel in every byte order the library takes.
constexpr int64_t kORXLibPixelBytes = 4;

// True for the byte orders of orx_pixel_format.
constexpr bool ORXLibIsPixelFormat(int format) {
  return format == ORX_PIXEL_RGBA || format == ORX_PIXEL_BGRA || format == ORX_PIXEL_ARGB;
}
