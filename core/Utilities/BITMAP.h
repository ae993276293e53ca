// Device-independent bitmap (BMP) files: the published Windows DIB layout.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
#else
constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;
constexpr uint32_t BI_RLE4 = 2;
constexpr uint32_t BI_BITFIELDS = 3;

struct BITMAPINFOHEADER {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes in the file");

struct RGBQUAD {
  uint8_t rgbBlue, rgbGreen, rgbRed, rgbReserved;
};

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};
#endif

constexpr uint16_t kBitmapSignature = 0x4D42;  // 'B', 'M'
constexpr int kBitmapFileHeaderSize = 14;

// Bytes of the info block for this header: 40 (52 with bit-field masks),
// plus 4 per palette entry where the compression and depth call for one.
// Returns -1 for a header whose palette could not exist.
int64_t DIBInfoSize(const BITMAPINFOHEADER& h);
// Bytes of the pixel array: biSizeImage, or whole 4-byte rows when it is 0.
int64_t DIBPixelArraySize(const BITMAPINFOHEADER& h);

// Writes file header, info and pixels. 0, or -1 on any failure.
int SaveDIBitmap(const char* fileName, const BITMAPINFO* info, const void* bits);

// Reads a BMP file. Returns the pixel array (free() it) and the info block
// through *info (free() it), or null with *info null on any failure.
void* LoadDIBitmap(const char* fileName, BITMAPINFO** info);
