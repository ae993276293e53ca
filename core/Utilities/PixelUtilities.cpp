#include "core/Utilities/PixelUtilities.h"

#include <cstdlib>

namespace {
constexpr int32_t kMemFullErr = -108;

uint8_t* Calloc(uint64_t bytes) {
  if (bytes > SIZE_MAX) return nullptr;
  return static_cast<uint8_t*>(std::calloc(bytes ? static_cast<size_t>(bytes) : 1, 1));
}
}  // namespace

void freeInternalPixelBuffer(InternalPixelBuffer* buffer) {
  if (buffer == nullptr) return;
  for (auto& plane : buffer->planes) {
    std::free(plane.base);
    plane.base = nullptr;
  }
}

int32_t callocInternalPixelBuffer(uint32_t width, uint32_t height, InternalPixelBuffer* buffer) {
  if (buffer == nullptr) return -50;
  freeInternalPixelBuffer(buffer);
  const uint64_t w16 = (static_cast<uint64_t>(width) + 15) & ~uint64_t{15};
  const uint64_t c16 = (static_cast<uint64_t>(width / 2) + 15) & ~uint64_t{15};
  // Row lengths are 32-bit; a width whose rounded row does not fit is refused.
  if (w16 > UINT32_MAX) return kMemFullErr;

  buffer->planes[0].rowBytes = static_cast<uint32_t>(w16);
  buffer->planes[0].base = Calloc(w16 * height);
  if (buffer->planes[0].base == nullptr) return kMemFullErr;
  for (int i = 1; i < 3; ++i) {
    buffer->planes[i].rowBytes = static_cast<uint32_t>(c16);
    buffer->planes[i].base = Calloc(c16 * height / 2);
    if (buffer->planes[i].base == nullptr) return kMemFullErr;
  }
  return 0;
}

int32_t CopyChunkyYUV422ToPlanarYUV420(uint32_t width, uint32_t height, const uint8_t* src,
                                       uint32_t srcRowBytes, uint8_t* y, uint32_t yRowBytes,
                                       uint8_t* cb, uint32_t cbRowBytes, uint8_t* cr,
                                       uint32_t crRowBytes) {
  for (uint32_t row = 0; row < height; row += 2) {
    const uint8_t* s0 = src + static_cast<size_t>(row) * srcRowBytes;
    const uint8_t* s1 = s0 + srcRowBytes;
    uint8_t* y0 = y + static_cast<size_t>(row) * yRowBytes;
    uint8_t* y1 = y0 + yRowBytes;
    uint8_t* cbRow = cb + static_cast<size_t>(row / 2) * cbRowBytes;
    uint8_t* crRow = cr + static_cast<size_t>(row / 2) * crRowBytes;
    for (uint32_t x = 0; x < width; x += 2) {
      const uint32_t j = x / 2;
      const uint8_t* p0 = s0 + 4 * static_cast<size_t>(j);
      const uint8_t* p1 = s1 + 4 * static_cast<size_t>(j);
      y0[2 * j] = p0[1];
      y0[2 * j + 1] = p0[3];
      y1[2 * j] = p1[1];
      y1[2 * j + 1] = p1[3];
      cbRow[j] = static_cast<uint8_t>((p0[0] + p1[0]) >> 1);
      crRow[j] = static_cast<uint8_t>((p0[2] + p1[2]) >> 1);
    }
  }
  return 0;
}

int32_t CopyPlanarYUV420ToChunkyYUV422(uint32_t width, uint32_t height, const uint8_t* y,
                                       uint32_t yRowBytes, const uint8_t* cb, uint32_t cbRowBytes,
                                       const uint8_t* cr, uint32_t crRowBytes, uint8_t* dest,
                                       uint32_t destRowBytes) {
  for (uint32_t row = 0; row < height; row += 2) {
    uint8_t* d0 = dest + static_cast<size_t>(row) * destRowBytes;
    uint8_t* d1 = d0 + destRowBytes;
    const uint8_t* y0 = y + static_cast<size_t>(row) * yRowBytes;
    const uint8_t* y1 = y0 + yRowBytes;
    const uint8_t* cbRow = cb + static_cast<size_t>(row / 2) * cbRowBytes;
    const uint8_t* crRow = cr + static_cast<size_t>(row / 2) * crRowBytes;
    for (uint32_t x = 0; x < width; x += 2) {
      const uint32_t j = x / 2;
      uint8_t* p0 = d0 + 4 * static_cast<size_t>(j);
      uint8_t* p1 = d1 + 4 * static_cast<size_t>(j);
      p0[0] = p1[0] = cbRow[j];
      p0[2] = p1[2] = crRow[j];
      p0[1] = y0[2 * j];
      p0[3] = y0[2 * j + 1];
      p1[1] = y1[2 * j];
      p1[3] = y1[2 * j + 1];
    }
  }
  return 0;
}
