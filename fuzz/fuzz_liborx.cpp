// Arbitrary bytes through liborx's frame calls, as a program that plays ORX
// frames would make them: bytes 0-1 give the width and 2-3 the height (0 to
// 300 each), byte 4 the byte order (bits 0-1) and the spare bytes after each
// row (bits 2-4, in pixels), the rest is the frame. Every call either
// refuses the bytes or succeeds, and the calls agree: the check proves packed
// data without unpacking it, so the texture calls and the decode accept
// exactly what the check accepts, a texture's size is the size query's, and
// a DXT24 texture holds the decoded picture. Buffers are allocated at exactly the size asked, so any access
// past them is caught.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "orx/orx.h"

namespace {

orx_decoder* decoder = nullptr;  // one for every input, as a player keeps one

}  // namespace

// Stops the run on a broken promise, naming it.
#define Require(condition)                                   \
  do {                                                       \
    if (!(condition)) {                                      \
      std::fprintf(stderr, "broken: %s\n", #condition);      \
      std::abort();                                          \
    }                                                        \
  } while (0)

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Require(orx_decoder_create(&decoder) == ORX_OK);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const int w = (data[0] | data[1] << 8) % 301;
  const int h = (data[2] | data[3] << 8) % 301;
  const orx_pixel_format format = orx_pixel_format(1 + (data[4] & 3) % 3);
  const size_t stride = 4 * (size_t(w) + (data[4] >> 2 & 7));
  // A copy of exactly the frame's size.
  const size_t n = size - 5;
  auto* frame = static_cast<uint8_t*>(std::malloc(n ? n : 1));
  if (frame == nullptr) return 0;
  if (n) std::memcpy(frame, data + 5, n);

  orx_frame_props props;
  const orx_error info = orx_frame_info(frame, n, w, h, &props);
  Require(info == ORX_OK || info == ORX_ERROR_BAD_FRAME);
  if (info == ORX_OK) Require(props.width == w && props.height == h && props.frame_size <= int64_t(n));
  size_t need = 0;
  Require(orx_frame_texture_size(frame, n, w, h, &need) == info);

  auto* buffer = static_cast<uint8_t*>(std::malloc(need ? need : 1));
  orx_texture t;
  const orx_error texture = buffer ? orx_frame_texture(decoder, frame, n, w, h, need ? buffer : nullptr, need, &t)
                                   : ORX_ERROR_OUT_OF_MEMORY;
  Require(texture == ORX_OK || texture == ORX_ERROR_BAD_FRAME || texture == ORX_ERROR_OUT_OF_MEMORY);
  if (texture != ORX_ERROR_OUT_OF_MEMORY) Require(texture == info);
  if (texture == ORX_OK) {
    Require(t.width == w && t.height == h && t.tex_width == (w + 3) / 4 * 4 && t.tex_height == (h + 3) / 4 * 4);
    if (need > 0)
      Require(t.data == buffer && t.size == need);
    else  // raw blocks handed over in place
      Require(t.size == 0 || (t.data >= frame && static_cast<const uint8_t*>(t.data) + t.size <= frame + n));
  }

  const size_t pixels = orx_pixels_size(w, h, stride);
  auto* dest = static_cast<uint8_t*>(std::malloc(pixels ? pixels : 1));
  if (dest != nullptr) {
    const orx_error decoded =
        orx_decode_rgba(decoder, frame, n, w, h, format, pixels ? dest : nullptr, pixels, stride);
    Require(decoded == ORX_OK || decoded == ORX_ERROR_BAD_FRAME || decoded == ORX_ERROR_OUT_OF_MEMORY);
    if (texture != ORX_ERROR_OUT_OF_MEMORY && decoded != ORX_ERROR_OUT_OF_MEMORY) Require(decoded == texture);
    // The DXT24 texture is the picture the decode gives, in whole blocks.
    if (decoded == ORX_OK && texture == ORX_OK && !t.compressed && format == ORX_PIXEL_RGBA && pixels > 0) {
      const auto* tex = static_cast<const uint8_t*>(t.data);
      for (int y = 0; y < h; ++y)
        Require(std::memcmp(tex + size_t(y) * t.tex_width * 4, dest + y * stride, size_t(w) * 4) == 0);
    }
  }
  std::free(dest);
  std::free(buffer);
  std::free(frame);
  return 0;
}
