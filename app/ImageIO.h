// Picture files and streams the orx program reads and writes: PNG images,
// YUV4MPEG2 streams, and the labels drawn on contact sheets. Pixels in
// memory are 32-bit ARGB (bytes A, R, G, B), rows top to bottom.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace orxapp {

struct ImageARGB {
  int width = 0;
  int height = 0;
  bool hasAlpha = false;       // the source carried an alpha channel
  int64_t ptsNs = -1;          // the picture's time in its source, when it has one
  int64_t durationNs = -1;     // and its length, when the source says
  std::vector<uint8_t> pixels;  // width * height * 4 bytes, no row padding

  size_t RowBytes() const { return size_t(width) * 4; }
  uint8_t* Row(int y) { return pixels.data() + size_t(y) * RowBytes(); }
  const uint8_t* Row(int y) const { return pixels.data() + size_t(y) * RowBytes(); }
  void Allocate(int w, int h) {
    width = w;
    height = h;
    pixels.assign(size_t(w) * size_t(h) * 4, 0);
  }
};

// Opens a file to read, refusing anything but a regular file without
// blocking on it (a FIFO at the path would otherwise wait for a writer).
// Null with *error set ("cannot open: ...", "not a regular file").
FILE* OpenRegularFile(const std::string& path, std::string* error);

// Reads up to n bytes into *buffer, growing it only as the bytes arrive (in
// steps that at most double it), so a size claimed by a header costs no more
// memory than the stream really holds. Returns the bytes read; *buffer keeps
// at least that many.
size_t ReadGrowing(FILE* file, std::vector<uint8_t>* buffer, size_t n);

// ---- PNG ----------------------------------------------------------------------

// Reads any PNG (grey, grey+alpha, RGB, RGBA, palette with or without
// transparency; 1- to 16-bit; interlaced or not) into ARGB: 16-bit channels
// are rounded to 8 bits, grey is spread to R, G, B, and pictures without
// alpha get A = 255 with hasAlpha false. tRNS transparency counts as alpha.
// On failure returns false and sets *error to the problem in words (without
// the file name), e.g. "not a PNG file", "truncated image data".
bool ReadPNG(const std::string& path, ImageARGB* out, std::string* error);
bool ReadPNGFromMemory(const void* data, size_t size, ImageARGB* out, std::string* error);

// ---- TIFF ---------------------------------------------------------------------

// Reads a TIFF's first picture into ARGB: 8- and 16-bit grey, grey+alpha,
// RGB and RGBA (16-bit samples rounded to 8 bits, associated alpha divided
// out), and libtiff's RGBA reading for every other kind. On failure false
// with the problem in words (without the file name).
bool ReadTIFF(const std::string& path, ImageARGB* out, std::string* error);

// Writes 8-bit RGBA (withAlpha) or RGB. rowBytes is the source stride.
bool WritePNG(const std::string& path, const uint8_t* argb, int width, int height, size_t rowBytes, bool withAlpha,
              std::string* error);
// The same, encoded into memory (tests and the contact sheet).
bool EncodePNG(std::vector<uint8_t>* out, const uint8_t* argb, int width, int height, size_t rowBytes, bool withAlpha,
               std::string* error);

// ---- YUV4MPEG2 ----------------------------------------------------------------

enum class Y4MChroma { k420, k422, k444, kMono };

struct Y4MFormat {
  int width = 0;
  int height = 0;
  int fpsNum = 25;  // F tag; 25:1 when absent
  int fpsDen = 1;
  Y4MChroma chroma = Y4MChroma::k420;
  bool fullRange = false;  // XCOLORRANGE=FULL; limited (16-235/240) otherwise
};

// Reads a stream frame by frame from a FILE* it does not own (a file or
// standard input). Honoured header tags: W, H, F, I (progressive only: p or
// ?), A (read, ignored), C (420jpeg, 420paldv, 420mpeg2, 420, 422, 444, mono;
// 8-bit only; absent means 420jpeg), X tags XCOLORRANGE=FULL|LIMITED; other X
// tags are ignored. Colour conversion uses the BT.709 matrix; 4:2:0 and 4:2:2
// chroma is upsampled by replication. Mono gives grey pixels.
class Y4MReader {
 public:
  explicit Y4MReader(FILE* file) : file_(file) {}
  // Parses the stream header. False with *error on a malformed or
  // unsupported header.
  bool ReadHeader(std::string* error);
  const Y4MFormat& Format() const { return format_; }
  // Reads the next frame into *out (allocated to the stream size, hasAlpha
  // false, A = 255). Returns 1 for a frame, 0 at a clean end of stream, -1
  // with *error for a damaged or truncated frame.
  int ReadFrame(ImageARGB* out, std::string* error);

 private:
  FILE* file_;
  Y4MFormat format_;
  std::vector<uint8_t> planes_;
  std::vector<uint8_t> rowCb_, rowCr_;  // a row's chroma at full width
  size_t planeBytes_ = 0;  // one frame's planes
  int frames_ = 0;  // frames read so far, for error messages
};

// Writes 4:4:4 8-bit frames (C444, BT.709, limited range, XCOLORRANGE=LIMITED)
// to a FILE* it does not own.
class Y4MWriter {
 public:
  explicit Y4MWriter(FILE* file) : file_(file) {}
  bool WriteHeader(int width, int height, int fpsNum, int fpsDen, std::string* error);
  // Converts w x h ARGB pixels (stride rowBytes) and writes one frame.
  bool WriteFrame(const uint8_t* argb, size_t rowBytes, std::string* error);

 private:
  FILE* file_;
  int width_ = 0;
  int height_ = 0;
  std::vector<uint8_t> planes_;
};

// BT.709 conversions used by the Y4M reader and writer (exposed for tests).
void YCbCrToRGB709(int y, int cb, int cr, bool fullRange, uint8_t rgb[3]);
// A row of width pixels (chroma at full width) to ARGB, alpha 255; the same
// values as YCbCrToRGB709 pixel by pixel.
void YCbCrRowToARGB709(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, int width, bool fullRange,
                       uint8_t* argb);
void RGBToYCbCr709(const uint8_t rgb[3], bool fullRange, uint8_t ycbcr[3]);

// ---- Labels -------------------------------------------------------------------

// Draws text (printable ASCII; others become '?') with a built-in 5x7 font
// scaled by scale, top-left at (x, y), in opaque ARGB colour argb (0xAARRGGBB),
// clipped to the image. Returns the width drawn in pixels.
int DrawLabel(ImageARGB* image, int x, int y, const std::string& text, int scale, uint32_t argb);
int LabelWidth(const std::string& text, int scale);
int LabelHeight(int scale);

}  // namespace orxapp
