#include "core/Utilities/BITMAP.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Files larger than this are refused on load: no real bitmap needs more, and
// a damaged header must not make us allocate without bound.
constexpr int64_t kMaxBitmapBytes = int64_t{1} << 31;

void PutU16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v) {
  PutU16(p, v);
  PutU16(p + 2, v >> 16);
}
uint32_t GetU16(const uint8_t* p) { return p[0] | (static_cast<uint32_t>(p[1]) << 8); }
uint32_t GetU32(const uint8_t* p) { return GetU16(p) | (GetU16(p + 2) << 16); }

}  // namespace

int64_t DIBInfoSize(const BITMAPINFOHEADER& h) {
  int64_t size = (h.biCompression == BI_BITFIELDS) ? 52 : 40;
  bool palette = false;
  if (h.biCompression == BI_RLE8 || h.biCompression == BI_RLE4)
    palette = true;
  else if (h.biCompression == BI_RGB)
    palette = h.biBitCount <= 8 || h.biClrUsed != 0;
  else if (h.biCompression == BI_BITFIELDS)
    palette = h.biClrUsed != 0;
  if (palette) {
    int64_t entries = h.biClrUsed;
    if (entries == 0) {
      if (h.biBitCount > 16) return -1;
      entries = int64_t{1} << h.biBitCount;
    }
    size += 4 * entries;
  }
  return size;
}

int64_t DIBPixelArraySize(const BITMAPINFOHEADER& h) {
  if (h.biSizeImage != 0) return h.biSizeImage;
  const int64_t rowBytes = (static_cast<int64_t>(h.biWidth) * h.biBitCount + 31) / 32 * 4;
  const int64_t rows = h.biHeight < 0 ? -static_cast<int64_t>(h.biHeight) : h.biHeight;
  const int64_t size = rowBytes * rows;
  return size < 0 ? 0 : size;
}

int SaveDIBitmap(const char* fileName, const BITMAPINFO* info, const void* bits) {
  if (fileName == nullptr || info == nullptr || bits == nullptr) return -1;
  const int64_t infoSize = DIBInfoSize(info->bmiHeader);
  const int64_t pixelSize = DIBPixelArraySize(info->bmiHeader);
  if (infoSize < 0 || kBitmapFileHeaderSize + infoSize + pixelSize > UINT32_MAX) return -1;

  FILE* f = std::fopen(fileName, "wb");
  if (f == nullptr) return -1;

  uint8_t header[kBitmapFileHeaderSize];
  PutU16(header + 0, kBitmapSignature);
  PutU32(header + 2, static_cast<uint32_t>(kBitmapFileHeaderSize + infoSize + pixelSize));
  PutU16(header + 6, 0);
  PutU16(header + 8, 0);
  PutU32(header + 10, static_cast<uint32_t>(kBitmapFileHeaderSize + infoSize));

  if (std::fwrite(header, 1, sizeof header, f) != sizeof header ||
      std::fwrite(info, 1, static_cast<size_t>(infoSize), f) != static_cast<size_t>(infoSize)) {
    std::fclose(f);
    return -1;
  }
  const bool pixelsOk = std::fwrite(bits, 1, static_cast<size_t>(pixelSize), f) == static_cast<size_t>(pixelSize);
  const bool closeOk = std::fclose(f) == 0;
  return (pixelsOk && closeOk) ? 0 : -1;
}

void* LoadDIBitmap(const char* fileName, BITMAPINFO** info) {
  if (info == nullptr) return nullptr;
  *info = nullptr;
  if (fileName == nullptr) return nullptr;
  FILE* f = std::fopen(fileName, "rb");
  if (f == nullptr) return nullptr;

  uint8_t header[kBitmapFileHeaderSize];
  if (std::fread(header, 1, sizeof header, f) != sizeof header || GetU16(header) != kBitmapSignature) {
    std::fclose(f);
    return nullptr;
  }
  const int64_t offBits = GetU32(header + 10);
  const int64_t infoSize = offBits - kBitmapFileHeaderSize;
  // The info block must at least hold the header we read sizes from.
  if (infoSize < static_cast<int64_t>(sizeof(BITMAPINFOHEADER)) || infoSize > kMaxBitmapBytes) {
    std::fclose(f);
    return nullptr;
  }

  auto* infoBlock = static_cast<BITMAPINFO*>(std::malloc(static_cast<size_t>(infoSize)));
  if (infoBlock == nullptr || std::fread(infoBlock, 1, static_cast<size_t>(infoSize), f) != static_cast<size_t>(infoSize)) {
    std::free(infoBlock);
    std::fclose(f);
    return nullptr;
  }

  const int64_t pixelSize = DIBPixelArraySize(infoBlock->bmiHeader);
  void* bits = nullptr;
  if (pixelSize <= kMaxBitmapBytes) bits = std::malloc(pixelSize > 0 ? static_cast<size_t>(pixelSize) : 1);
  if (bits == nullptr || std::fread(bits, 1, static_cast<size_t>(pixelSize), f) != static_cast<size_t>(pixelSize)) {
    std::free(bits);
    std::free(infoBlock);
    std::fclose(f);
    return nullptr;
  }
  std::fclose(f);
  *info = infoBlock;
  return bits;
}
