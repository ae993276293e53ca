#include "TestClip.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "testimage/ORXTestImage.h"

namespace orxapp {

namespace {

// Lines of small type that scroll across the frame: the finest detail a
// block codec meets in practice (titles, captions, user interfaces).
const char* const kTextLines[] = {
    "ORX 4x4 BLOCKS - DXT1 DXT5 DXT24 - LZF",
    "the quick brown fox jumps over the lazy dog 0123456789",
    "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG !@#$%&*()",
    "frame-exact playback: every frame is a key frame",
};

}  // namespace

void MakeTestClipFrame(ImageARGB* out, int width, int height, int index) {
  out->Allocate(width, height);
  out->hasAlpha = true;
  ORXMakeTestImageARGB(out->pixels.data(), width, height, 0, index);

  // A band of text in the upper part, scrolling two pixels a frame.
  const int scale = height >= 480 ? 2 : 1;
  const int lineHeight = LabelHeight(scale) + 2 * scale;
  const int top = height / 16;
  for (int i = 0; i < 4; ++i) {
    const int y = top + i * lineHeight;
    // The scroll wraps every quarter of the width (every pixel on frames
    // narrower than 4).
    const int x = width / 20 - (index * 2) % std::max(1, width / 4) + i * 7;
    DrawLabel(out, x, y, kTextLines[i], scale, i % 2 ? 0xFF101010u : 0xFFF0F0F0u);
  }

  // The alpha ramp in the lower quarter: transparent to opaque every 320
  // pixels, with a hard edge where it starts again, moving three pixels a
  // frame so it is not block-aligned.
  const int rampTop = height - height / 4;
  for (int y = rampTop; y < height; ++y) {
    uint8_t* row = out->Row(y);
    for (int x = 0; x < width; ++x) {
      const int a = (x + index * 3) % 320 * 255 / 319;
      row[size_t(x) * 4] = static_cast<uint8_t>(a);
    }
  }
}

double AlphaPSNR(const uint8_t* a, size_t rowBytesA, const uint8_t* b, size_t rowBytesB, int width, int height) {
  double sum = 0;
  for (int y = 0; y < height; ++y) {
    const uint8_t* ra = a + rowBytesA * size_t(y);
    const uint8_t* rb = b + rowBytesB * size_t(y);
    for (int x = 0; x < width; ++x) {
      const double d = double(ra[size_t(x) * 4]) - double(rb[size_t(x) * 4]);
      sum += d * d;
    }
  }
  if (sum == 0) return std::numeric_limits<double>::infinity();
  const double mse = sum / (double(width) * double(height));
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace orxapp
