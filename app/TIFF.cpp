// TIFF pictures through libtiff. Grey and RGB of 8 or 16 bits a sample, with
// or without alpha, in strips or tiles, are read sample by sample so that
// 16-bit samples are rounded to 8 bits (libtiff's own RGBA reader keeps
// only their high byte); every other kind (palette, YCbCr, CMYK, fewer
// bits) goes through that reader. Errors come back in words through a
// handler of this file's own, never on standard error.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "ImageIO.h"

namespace orxapp {

namespace {

constexpr int kMaxSide = 32767;

// libtiff's errors for one file, the first kept; warnings are dropped.
int OnError(TIFF*, void* user, const char*, const char* format, va_list args) {
  auto* words = static_cast<std::string*>(user);
  if (words->empty()) {
    char buf[256];
    std::vsnprintf(buf, sizeof buf, format, args);
    *words = buf;
  }
  return 1;
}
int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

uint8_t Round16(uint32_t v) { return uint8_t((v * 255 + 32767) / 65535); }

// Every sample of the picture, rows top to bottom, as the file stores them
// (contiguous planes); false when libtiff reports an error.
bool ReadSamples(TIFF* tif, uint32_t width, uint32_t height, size_t rowBytes, std::vector<uint8_t>* out) {
  out->resize(rowBytes * height);
  if (!TIFFIsTiled(tif)) {
    if (size_t(TIFFScanlineSize64(tif)) != rowBytes) return false;
    for (uint32_t y = 0; y < height; ++y)
      if (TIFFReadScanline(tif, out->data() + rowBytes * y, y, 0) < 0) return false;
    return true;
  }
  uint32_t tw = 0, th = 0;
  TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
  TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
  const tmsize_t tileBytes = TIFFTileSize(tif);
  if (tw == 0 || th == 0 || tileBytes <= 0) return false;
  const size_t pixelBytes = rowBytes / width, tileRow = size_t(tw) * pixelBytes;
  if (size_t(tileBytes) < tileRow * th) return false;
  std::vector<uint8_t> tile(static_cast<size_t>(tileBytes));
  for (uint32_t ty = 0; ty < height; ty += th)
    for (uint32_t tx = 0; tx < width; tx += tw) {
      if (TIFFReadTile(tif, tile.data(), tx, ty, 0, 0) < 0) return false;
      const size_t cols = std::min<size_t>(tw, width - tx) * pixelBytes;
      for (uint32_t y = ty; y < std::min(height, ty + th); ++y)
        std::memcpy(out->data() + rowBytes * y + size_t(tx) * pixelBytes, tile.data() + tileRow * (y - ty), cols);
    }
  return true;
}

}  // namespace

bool ReadTIFF(const std::string& path, ImageARGB* out, std::string* error) {
  std::string words;
  std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(), TIFFOpenOptionsFree);
  if (options == nullptr) {
    *error = "out of memory";
    return false;
  }
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, &words);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), tmsize_t(1) << 31);
  std::string opened;
  FILE* check = OpenRegularFile(path, &opened);  // never a FIFO or a folder
  if (check == nullptr) {
    *error = opened;
    return false;
  }
  std::fclose(check);
  std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFOpenExt(path.c_str(), "r", options.get()), TIFFClose);
  if (tif == nullptr) {
    *error = "damaged TIFF (" + (words.empty() ? std::string("cannot be opened") : words) + ")";
    return false;
  }
  uint32_t width = 0, height = 0;
  uint16_t bits = 0, spp = 0, photometric = 0, planar = PLANARCONFIG_CONTIG, sampleFormat = SAMPLEFORMAT_UINT;
  TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLEFORMAT, &sampleFormat);
  if (!TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric)) photometric = spp >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) {
    *error = "image size " + std::to_string(width) + "x" + std::to_string(height) + " (1 to " +
             std::to_string(kMaxSide) + " each way)";
    return false;
  }
  uint16_t extraCount = 0;
  uint16_t* extra = nullptr;
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
  const bool grey = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
  const int colours = grey ? 1 : 3;
  const bool alpha = extraCount > 0 && spp > colours;
  const bool premultiplied = alpha && extra != nullptr && extra[0] == EXTRASAMPLE_ASSOCALPHA;
  ImageARGB image;
  try {
    image.Allocate(int(width), int(height));
    const bool direct = (bits == 8 || bits == 16) && sampleFormat == SAMPLEFORMAT_UINT && planar == PLANARCONFIG_CONTIG &&
                        (grey || photometric == PHOTOMETRIC_RGB) && spp >= colours;
    if (direct) {
      const size_t bytes = bits / 8, rowBytes = size_t(width) * spp * bytes;
      std::vector<uint8_t> samples;
      if (!ReadSamples(tif.get(), width, height, rowBytes, &samples)) {
        *error = "damaged TIFF (" + (words.empty() ? std::string("the image data cannot be read") : words) + ")";
        return false;
      }
      const uint32_t max = bits == 16 ? 65535 : 255;
      for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = samples.data() + rowBytes * y;
        uint8_t* d = image.Row(int(y));
        for (uint32_t x = 0; x < width; ++x, d += 4) {
          uint32_t v[4];
          for (int c = 0; c < colours + (alpha ? 1 : 0); ++c) {
            const uint8_t* s = row + (size_t(x) * spp + size_t(c)) * bytes;
            uint16_t w16 = 0;
            if (bytes == 2) std::memcpy(&w16, s, 2);  // libtiff gives samples in this machine's order
            v[c] = bytes == 2 ? w16 : *s;
          }
          if (photometric == PHOTOMETRIC_MINISWHITE) v[0] = max - v[0];
          const uint32_t a = alpha ? v[colours] : max;
          uint32_t rgb[3] = {v[0], v[grey ? 0 : 1], v[grey ? 0 : 2]};
          for (uint32_t& c : rgb)
            if (premultiplied) c = a == 0 ? 0 : std::min(max, (c * max + a / 2) / a);
          const auto to8 = [&](uint32_t c) { return bits == 16 ? Round16(c) : uint8_t(c); };
          d[0] = to8(a), d[1] = to8(rgb[0]), d[2] = to8(rgb[1]), d[3] = to8(rgb[2]);
        }
      }
    } else {
      // Palette, YCbCr, CMYK, fewer bits, separate planes: libtiff's reader,
      // 8 bits a channel, alpha unassociated.
      std::vector<uint32_t> rgba(size_t(width) * height);
      if (!TIFFReadRGBAImageOriented(tif.get(), width, height, rgba.data(), ORIENTATION_TOPLEFT, 0)) {
        *error = "TIFF of a kind orx does not read (" + (words.empty() ? std::string("no RGBA form") : words) + ")";
        return false;
      }
      for (uint32_t y = 0; y < height; ++y) {
        uint8_t* d = image.Row(int(y));
        for (uint32_t x = 0; x < width; ++x, d += 4) {
          const uint32_t p = rgba[size_t(y) * width + x];
          d[0] = uint8_t(TIFFGetA(p)), d[1] = uint8_t(TIFFGetR(p)), d[2] = uint8_t(TIFFGetG(p)), d[3] = uint8_t(TIFFGetB(p));
        }
      }
    }
  } catch (const std::bad_alloc&) {
    *error = "out of memory";
    return false;
  }
  image.hasAlpha = alpha;
  *out = std::move(image);
  return true;
}

}  // namespace orxapp
