// Linux bitmap files: names and separators of the file system, and the
// 32-bit writer through the 24-bit one (alpha dropped).
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/Utilities/BitmapFiles.h"
#include "core/Utilities/PixelUtilities.h"

bool BitmapNameTaken(const char* name) {
  struct stat st;
  return stat(name, &st) == 0;
}

const char* LastPathComponent(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

int WriteUInt8Bitmap32BGRA(const uint8_t* pixels, int width, int height, const char* fileName, char* usedName) {
  if (usedName != nullptr) usedName[0] = '\0';
  if (pixels == nullptr || width <= 0 || height <= 0) return -1;
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  auto* rgb = static_cast<uint8_t*>(std::malloc(count * 3));
  if (rgb == nullptr) return -1;
  for (size_t i = 0; i < count; ++i) {
    rgb[3 * i + 0] = pixels[4 * i + 2];
    rgb[3 * i + 1] = pixels[4 * i + 1];
    rgb[3 * i + 2] = pixels[4 * i + 0];
  }
  const int result = WriteUInt8Bitmap24(rgb, width, height, fileName, usedName);
  std::free(rgb);
  return result;
}
