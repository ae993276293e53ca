// The 24-bit bitmap writer and its numbered-name rule, shared by both
// platforms; BitmapFiles.h names what each platform answers itself.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/Utilities/BITMAP.h"
#include "core/Utilities/BitmapFiles.h"
#include "core/Utilities/PixelUtilities.h"

bool ChooseBitmapFileName(const char* fileName, char out[1024]) {
  if (std::snprintf(out, 1024, "%s", fileName) >= 1024) return false;
  if (!BitmapNameTaken(out)) return true;

  // Cut at the first '.' of the last path component, so that folders with
  // dots in their names (and "./") stay as they are.
  char stem[1024];
  std::snprintf(stem, sizeof stem, "%s", fileName);
  char* dot = std::strchr(const_cast<char*>(LastPathComponent(stem)), '.');
  const char* ext = nullptr;
  if (dot != nullptr) {
    *dot = '\0';
    ext = dot + 1;
  }
  for (int n = 1; n < 1000000; ++n) {
    const int length = ext != nullptr ? std::snprintf(out, 1024, "%s_%d.%s", stem, n, ext)
                                      : std::snprintf(out, 1024, "%s_%d", stem, n);
    if (length >= 1024) return false;  // a cut name could be a taken one
    if (!BitmapNameTaken(out)) return true;
  }
  return false;
}

int WriteUInt8Bitmap24(const uint8_t* pixels, int width, int height, const char* fileName, char* usedName) {
  if (usedName != nullptr) usedName[0] = '\0';
  if (pixels == nullptr || fileName == nullptr || width <= 0 || height <= 0) return -1;
  const int64_t rowBytes = (static_cast<int64_t>(width) * 3 + 3) / 4 * 4;
  const int64_t imageBytes = rowBytes * height;
  if (imageBytes > INT32_MAX) return -1;

  auto* rows = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(imageBytes), 1));
  if (rows == nullptr) return -1;
  // Bottom-up rows, B, G, R order.
  for (int y = 0; y < height; ++y) {
    const uint8_t* s = pixels + static_cast<size_t>(y) * width * 3;
    uint8_t* d = rows + static_cast<size_t>(height - 1 - y) * rowBytes;
    for (int x = 0; x < width; ++x) {
      d[3 * x + 0] = s[3 * x + 2];
      d[3 * x + 1] = s[3 * x + 1];
      d[3 * x + 2] = s[3 * x + 0];
    }
  }

  BITMAPINFO info{};
  info.bmiHeader.biSize = 40;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  info.bmiHeader.biSizeImage = static_cast<uint32_t>(imageBytes);
  info.bmiHeader.biXPelsPerMeter = 2834;
  info.bmiHeader.biYPelsPerMeter = 2834;

  char name[1024];
  if (!ChooseBitmapFileName(fileName, name)) {
    std::free(rows);
    return -1;
  }
  const int result = SaveDIBitmap(name, &info, rows);
  std::free(rows);
  if (result == 0 && usedName != nullptr) std::snprintf(usedName, 1024, "%s", name);
  return result;
}
