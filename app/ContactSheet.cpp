#include "ContactSheet.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace orxapp {

namespace {

// A crop of an ARGB image composited over a grey checkerboard (so the alpha
// channel shows), placed into the sheet at (dx, dy).
void PasteCrop(ImageARGB* sheet, const ImageARGB& img, int sx, int sy, int cw, int ch, int dx, int dy) {
  for (int y = 0; y < ch; ++y) {
    if (sy + y >= img.height || dy + y >= sheet->height) break;
    const uint8_t* s = img.Row(sy + y);
    uint8_t* d = sheet->Row(dy + y);
    for (int x = 0; x < cw; ++x) {
      if (sx + x >= img.width || dx + x >= sheet->width) break;
      const uint8_t* p = s + size_t(sx + x) * 4;
      uint8_t* q = d + size_t(dx + x) * 4;
      const int bg = ((x / 8 + y / 8) & 1) ? 200 : 120;
      q[0] = 255;
      for (int c = 1; c < 4; ++c) q[c] = uint8_t((p[c] * p[0] + bg * (255 - p[0]) + 127) / 255);
    }
  }
}

}  // namespace

bool WriteContactSheet(const std::string& path, const ImageARGB& source, const std::vector<RunConfig>& cfgs,
                       const std::vector<RunResult>& results, PartialOutput* written, std::string* error) {
  const int w = source.width, h = source.height;
  // Three regions: small text, a gradient area and the alpha ramp.
  const int cw = std::min(320, w), ch = std::min(120, h);
  const int regions[3][2] = {{std::max(0, w / 32), std::max(0, h / 20)},
                             {std::max(0, w / 2 - cw / 2), std::max(0, h * 2 / 5)},
                             {std::max(0, w / 2 - cw / 2), std::max(0, h - h / 4 + 20)}};
  const int gap = 8, labelH = LabelHeight(2) + 6;
  const int columns = int(cfgs.size()) + 1;
  ImageARGB sheet;
  sheet.Allocate(gap + columns * (cw + gap), labelH + gap + 3 * (ch + gap));
  for (size_t i = 0; i < sheet.pixels.size(); i += 4) {
    sheet.pixels[i] = 255;
    sheet.pixels[i + 1] = sheet.pixels[i + 2] = sheet.pixels[i + 3] = 32;
  }
  for (int c = 0; c < columns; ++c) {
    const ImageARGB& img = c == 0 ? source : results[size_t(c - 1)].kept;
    const std::string label = c == 0 ? "Source" : cfgs[size_t(c - 1)].name + " " + results[size_t(c - 1)].variant;
    const int x = gap + c * (cw + gap);
    DrawLabel(&sheet, x, 4, label, label.size() * 12 > size_t(cw) ? 1 : 2, 0xFFFFFFFFu);
    for (int r = 0; r < 3; ++r) PasteCrop(&sheet, img, regions[r][0], regions[r][1], cw, ch, x, labelH + gap + r * (ch + gap));
  }
  std::string e;
  std::vector<uint8_t> png;
  OutputFile out;
  if (!EncodePNG(&png, sheet.pixels.data(), sheet.width, sheet.height, sheet.RowBytes(), false, &e) ||
      !out.Open(path, &e)) {
    *error = path + ": " + e;
    return false;
  }
  if (std::fwrite(png.data(), 1, png.size(), out.Stream()) != png.size()) {
    *error = path + ": write failed: " + std::strerror(errno);
    return false;
  }
  written->File(path);
  if (!out.Commit(&e)) {
    written->Release();  // what stands at the path is not this run's
    *error = path + ": " + e;
    return false;
  }
  return true;
}

}  // namespace orxapp
