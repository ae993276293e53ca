#include "testimage/ORXTestImage.h"

#include <cmath>
#include <limits>

namespace {

uint32_t Hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

// Smooth value noise in 0..1 on a lattice of the given cell size.
double ValueNoise(int x, int y, int cell, uint32_t seed) {
  const int cx = x / cell, cy = y / cell;
  const double fx = static_cast<double>(x % cell) / cell;
  const double fy = static_cast<double>(y % cell) / cell;
  auto at = [&](int i, int j) {
    return (Hash(static_cast<uint32_t>(i) * 73856093U ^ static_cast<uint32_t>(j) * 19349663U ^ seed) & 0xFFFF) /
           65535.0;
  };
  const double sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
  const double top = at(cx, cy) * (1 - sx) + at(cx + 1, cy) * sx;
  const double bottom = at(cx, cy + 1) * (1 - sx) + at(cx + 1, cy + 1) * sx;
  return top * (1 - sy) + bottom * sy;
}

uint8_t Clamp8(double v) {
  if (v <= 0) return 0;
  if (v >= 255) return 255;
  return static_cast<uint8_t>(v + 0.5);
}

}  // namespace

void ORXMakeTestImageARGB(uint8_t* dest, int width, int height, int rowBytes, int frame) {
  if (width <= 0 || height <= 0) return;
  if (rowBytes == 0) rowBytes = 4 * width;
  const double w = width, h = height;
  const double shift = frame * 3.0;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = dest + static_cast<long long>(y) * rowBytes;
    for (int x = 0; x < width; ++x) {
      const double u = x / w, v = y / h;
      // Sky-like gradient background.
      double r = 40 + 150 * v + 30 * u;
      double g = 90 + 110 * v;
      double b = 200 - 80 * v + 40 * u;

      // Noise texture in the lower third (foliage, gravel).
      if (v > 0.66) {
        const int xs = x + static_cast<int>(shift);
        const double n = 0.5 * ValueNoise(xs, y, 32, 1) + 0.3 * ValueNoise(xs, y, 8, 2) +
                         0.2 * ValueNoise(xs, y, 2, 3);
        r = 40 + 90 * n;
        g = 70 + 120 * n;
        b = 30 + 50 * n;
      }

      // Soft shaded disc that moves with the frame.
      const double dx = x - (0.3 * w + shift), dy = y - 0.35 * h;
      const double rad = 0.18 * (w < h ? w : h);
      const double d2 = (dx * dx + dy * dy) / (rad * rad);
      if (d2 < 1.0) {
        const double shade = 1.0 - 0.6 * d2 + 0.3 * (-dx - dy) / rad;
        r = 230 * shade;
        g = 160 * shade;
        b = 60 * shade;
      }

      // Hard-edged saturated rectangles.
      if (u > 0.55 && u < 0.75 && v > 0.1 && v < 0.3) {
        r = 220;
        g = 20;
        b = 30;
      }
      if (u > 0.62 && u < 0.9 && v > 0.22 && v < 0.45) {
        r = 20;
        g = 40;
        b = 230;
      }

      // Fine detail: one-pixel lines and a checker, like small text.
      if (u > 0.05 && u < 0.25 && v > 0.7 && v < 0.85) {
        const bool on = ((x / 1 + y / 3) % 2 == 0) || (y % 5 == 0);
        r = g = b = on ? 250 : 15;
      }
      // Zone plate: rising spatial frequency.
      if (u > 0.78 && v > 0.55 && v < 0.8) {
        const double zx = x - 0.89 * w, zy = y - 0.675 * h;
        const double s = 0.5 + 0.5 * std::cos((zx * zx + zy * zy) * 0.004);
        r = g = b = 255 * s;
      }

      uint8_t* p = row + 4 * x;
      p[0] = 255;
      p[1] = Clamp8(r);
      p[2] = Clamp8(g);
      p[3] = Clamp8(b);
    }
  }
}

void ORXAddGrainARGB(uint8_t* dest, int width, int height, int rowBytes, int amplitude, uint32_t seed) {
  if (width <= 0 || height <= 0 || amplitude <= 0) return;
  if (rowBytes == 0) rowBytes = 4 * width;
  uint32_t state = Hash(seed + 1);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = dest + static_cast<long long>(y) * rowBytes;
    for (int x = 0; x < width; ++x)
      for (int c = 1; c < 4; ++c) {
        state = state * 1664525u + 1013904223u;
        const int delta = static_cast<int>((state >> 16) % static_cast<uint32_t>(2 * amplitude + 1)) - amplitude;
        row[4 * x + c] = Clamp8(row[4 * x + c] + delta);
      }
  }
}

double ORXPSNR_ARGB(const uint8_t* a, int rowBytesA, const uint8_t* b, int rowBytesB, int width, int height) {
  if (width <= 0 || height <= 0) return std::numeric_limits<double>::infinity();
  double sum = 0;
  for (int y = 0; y < height; ++y) {
    const uint8_t* pa = a + static_cast<long long>(y) * rowBytesA;
    const uint8_t* pb = b + static_cast<long long>(y) * rowBytesB;
    for (int x = 0; x < width; ++x) {
      for (int c = 1; c < 4; ++c) {
        const double d = static_cast<double>(pa[4 * x + c]) - pb[4 * x + c];
        sum += d * d;
      }
    }
  }
  if (sum == 0) return std::numeric_limits<double>::infinity();
  const double mse = sum / (3.0 * width * height);
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}
