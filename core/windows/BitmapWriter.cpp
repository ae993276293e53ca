// Windows bitmap files: names and separators of the file system, and the
// 32-bit top-down B, G, R, A writer (pixels written as given).
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/Utilities/BITMAP.h"
#include "core/Utilities/BitmapFiles.h"
#include "core/Utilities/PixelUtilities.h"

bool BitmapNameTaken(const char* name) { return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES; }

const char* LastPathComponent(const char* path) {
  const char* last = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') last = p + 1;
  return last;
}

int WriteUInt8Bitmap32BGRA(const uint8_t* pixels, int width, int height, const char* fileName, char* usedName) {
  if (usedName != nullptr) usedName[0] = '\0';
  if (pixels == nullptr || fileName == nullptr || width <= 0 || height <= 0) return -1;
  const int64_t imageBytes = static_cast<int64_t>(width) * height * 4;
  if (imageBytes > INT32_MAX) return -1;
  BITMAPINFO info{};
  info.bmiHeader.biSize = 40;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  info.bmiHeader.biSizeImage = static_cast<DWORD>(imageBytes);
  info.bmiHeader.biXPelsPerMeter = 2834;
  info.bmiHeader.biYPelsPerMeter = 2834;
  const int result = SaveDIBitmap(fileName, &info, pixels);
  if (result == 0 && usedName != nullptr) std::snprintf(usedName, 1024, "%s", fileName);
  return result;
}
