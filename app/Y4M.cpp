// YUV4MPEG2 streams: header and frame parsing, BT.709 colour conversion in
// 16.16 fixed point, chroma upsampling by replication.
#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <new>
#include <string_view>

#include "ImageIO.h"

namespace orxapp {
namespace {

constexpr size_t kMaxLine = 1024;
constexpr int kMaxSide = 16384;

constexpr double kKr = 0.2126, kKb = 0.0722, kKg = 1.0 - kKr - kKb;

constexpr int Fix(double v) { return int(v * 65536.0 + (v < 0 ? -0.5 : 0.5)); }

uint8_t Clamp8(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }
uint8_t Round16(int v) { return Clamp8((v + 32768) >> 16); }

// Coefficients for one range. The G terms of the forward matrix are derived
// from the others so that grey maps to grey exactly, both ways.
struct Matrix {
  int yOffset;
  int y, rCr, gCb, gCr, bCb;         // YCbCr -> RGB
  int yR, yG, yB, cbR, cbG, cbB, crR, crG, crB;  // RGB -> YCbCr
};

constexpr Matrix MakeMatrix(bool full) {
  const double ys = full ? 1.0 : 255.0 / 219.0, cs = full ? 1.0 : 255.0 / 224.0;
  Matrix m{};
  m.yOffset = full ? 0 : 16;
  m.y = Fix(ys);
  m.rCr = Fix(cs * 2 * (1 - kKr));
  m.gCb = Fix(cs * 2 * kKb * (1 - kKb) / kKg);
  m.gCr = Fix(cs * 2 * kKr * (1 - kKr) / kKg);
  m.bCb = Fix(cs * 2 * (1 - kKb));
  m.yR = Fix(kKr / ys);
  m.yB = Fix(kKb / ys);
  m.yG = Fix(1 / ys) - m.yR - m.yB;
  m.cbR = Fix(-kKr / (2 * (1 - kKb)) / cs);
  m.cbG = Fix(-kKg / (2 * (1 - kKb)) / cs);
  m.cbB = -m.cbR - m.cbG;
  m.crG = Fix(-kKg / (2 * (1 - kKr)) / cs);
  m.crB = Fix(-kKb / (2 * (1 - kKr)) / cs);
  m.crR = -m.crG - m.crB;
  return m;
}

constexpr Matrix kLimited = MakeMatrix(false);
constexpr Matrix kFull = MakeMatrix(true);

template <typename T>
T Fail(std::string* error, T result, std::string text) {
  if (error) *error = std::move(text);
  return result;
}

enum class Line { kOk, kEnd, kTruncated, kTooLong, kError };

// Reads up to '\n' (not stored), at most kMaxLine bytes, into buffer.
Line ReadLine(FILE* file, char (&buffer)[kMaxLine], std::string_view* line) {
  size_t n = 0;
  for (;;) {
    const int c = std::fgetc(file);
    *line = std::string_view(buffer, n);
    if (c == EOF) return std::ferror(file) ? Line::kError : n == 0 ? Line::kEnd : Line::kTruncated;
    if (c == '\n') return Line::kOk;
    if (n == kMaxLine) return Line::kTooLong;
    buffer[n++] = char(c);
  }
}

bool ParseInt(std::string_view text, int* value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ParseChroma(std::string_view v, Y4MChroma* chroma, std::string* error) {
  struct Name {
    std::string_view prefix;
    Y4MChroma chroma;
  };
  for (const Name& n : {Name{"420", Y4MChroma::k420}, Name{"422", Y4MChroma::k422}, Name{"444", Y4MChroma::k444},
                        Name{"mono", Y4MChroma::kMono}}) {
    if (!v.starts_with(n.prefix)) continue;
    std::string_view rest = v.substr(n.prefix.size());
    *chroma = n.chroma;
    if (rest.empty() || (n.chroma == Y4MChroma::k420 && (rest == "jpeg" || rest == "paldv" || rest == "mpeg2"))) {
      return true;
    }
    // Bit depth suffix: "p10", "p16", or plain digits as in "mono16".
    if (rest.starts_with('p')) rest.remove_prefix(1);
    int depth = 0;
    if (ParseInt(rest, &depth) && depth > 0) {
      if (depth == 8) return true;
      return Fail(error, false, "only 8-bit streams are supported");
    }
    break;
  }
  return Fail(error, false, "unsupported colour space C" + std::string(v));
}

size_t ChromaSize(const Y4MFormat& f) {
  const size_t cw = size_t(f.width + 1) / 2, ch = size_t(f.height + 1) / 2;
  switch (f.chroma) {
    case Y4MChroma::k420: return cw * ch;
    case Y4MChroma::k422: return cw * size_t(f.height);
    case Y4MChroma::k444: return size_t(f.width) * size_t(f.height);
    case Y4MChroma::kMono: break;
  }
  return 0;
}

}  // namespace

void YCbCrToRGB709(int y, int cb, int cr, bool fullRange, uint8_t rgb[3]) {
  const Matrix& m = fullRange ? kFull : kLimited;
  const int luma = m.y * (y - m.yOffset);
  cb -= 128;
  cr -= 128;
  rgb[0] = Round16(luma + m.rCr * cr);
  rgb[1] = Round16(luma - m.gCb * cb - m.gCr * cr);
  rgb[2] = Round16(luma + m.bCb * cb);
}

void YCbCrRowToARGB709(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, int width, bool fullRange,
                       uint8_t* argb) {
  const Matrix& m = fullRange ? kFull : kLimited;
  const int ky = m.y, off = m.yOffset, rCr = m.rCr, gCb = m.gCb, gCr = m.gCr, bCb = m.bCb;
  // Written as one word a pixel (bytes A, R, G, B) with no branches, so that
  // the compiler turns the loop into vector code.
  auto clamp = [](int v) { return uint32_t(v < 0 ? 0 : v > 255 ? 255 : v); };
  constexpr bool kLittle = std::endian::native == std::endian::little;
  constexpr int kA = kLittle ? 0 : 24, kR = kLittle ? 8 : 16, kG = kLittle ? 16 : 8, kB = kLittle ? 24 : 0;
  for (int x = 0; x < width; ++x) {
    const int l = ky * (luma[x] - off) + 32768;
    const int b = cb[x] - 128, r = cr[x] - 128;
    const uint32_t word = 0xFFu << kA | clamp((l + rCr * r) >> 16) << kR | clamp((l - gCb * b - gCr * r) >> 16) << kG |
                          clamp((l + bCb * b) >> 16) << kB;
    std::memcpy(argb + size_t(x) * 4, &word, 4);
  }
}

void RGBToYCbCr709(const uint8_t rgb[3], bool fullRange, uint8_t ycbcr[3]) {
  const Matrix& m = fullRange ? kFull : kLimited;
  const int r = rgb[0], g = rgb[1], b = rgb[2];
  ycbcr[0] = Clamp8(m.yOffset + ((m.yR * r + m.yG * g + m.yB * b + 32768) >> 16));
  ycbcr[1] = Clamp8(128 + ((m.cbR * r + m.cbG * g + m.cbB * b + 32768) >> 16));
  ycbcr[2] = Clamp8(128 + ((m.crR * r + m.crG * g + m.crB * b + 32768) >> 16));
}

bool Y4MReader::ReadHeader(std::string* error) {
  char buffer[kMaxLine];
  std::string_view line;
  const Line status = ReadLine(file_, buffer, &line);
  if (status == Line::kError) return Fail(error, false, std::string("read failed: ") + std::strerror(errno));
  const std::string_view magic = "YUV4MPEG2";
  if (!line.starts_with(magic) || (line.size() > magic.size() && line[magic.size()] != ' ')) {
    return Fail(error, false, "not a YUV4MPEG2 stream");
  }
  if (status == Line::kTooLong) return Fail(error, false, "stream header longer than 1024 bytes");
  if (status != Line::kOk) return Fail(error, false, "truncated stream header");

  Y4MFormat f;
  f.width = f.height = 0;
  std::string_view rest = line.substr(magic.size());
  while (!rest.empty()) {
    const size_t space = rest.find(' ');
    const std::string_view token = rest.substr(0, space);
    rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
    if (token.empty()) continue;
    const std::string_view value = token.substr(1);
    switch (token[0]) {
      case 'W':
      case 'H': {
        int v = 0;
        if (!ParseInt(value, &v) || v <= 0 || v > kMaxSide) {
          return Fail(error, false, std::string(token[0] == 'W' ? "bad width " : "bad height ") + std::string(token));
        }
        (token[0] == 'W' ? f.width : f.height) = v;
        break;
      }
      case 'F': {
        const size_t colon = value.find(':');
        if (colon == std::string_view::npos || !ParseInt(value.substr(0, colon), &f.fpsNum) ||
            !ParseInt(value.substr(colon + 1), &f.fpsDen) || f.fpsNum <= 0 || f.fpsDen <= 0) {
          return Fail(error, false, "bad frame rate " + std::string(token));
        }
        break;
      }
      case 'I':
        if (value == "t" || value == "b" || value == "m") {
          return Fail(error, false, "interlaced streams are not supported");
        }
        if (value != "p" && value != "?") return Fail(error, false, "bad interlace tag " + std::string(token));
        break;
      case 'C':
        if (!ParseChroma(value, &f.chroma, error)) return false;
        break;
      case 'X':
        if (value.starts_with("COLORRANGE=")) {
          const std::string_view range = value.substr(11);
          if (range != "FULL" && range != "LIMITED") return Fail(error, false, "bad colour range " + std::string(token));
          f.fullRange = range == "FULL";
        }
        break;
      default:  // A (aspect) and unknown tags carry nothing needed here
        break;
    }
  }
  if (f.width == 0 || f.height == 0) return Fail(error, false, "stream header lacks width or height");
  // The planes are sized as the first frame's bytes arrive, not from the
  // header's claim.
  planes_.clear();
  planeBytes_ = size_t(f.width) * size_t(f.height) + 2 * ChromaSize(f);
  format_ = f;
  frames_ = 0;
  return true;
}

int Y4MReader::ReadFrame(ImageARGB* out, std::string* error) {
  if (format_.width <= 0 || planeBytes_ == 0) return Fail(error, -1, "stream header not read");
  const auto which = [this] { return "frame " + std::to_string(frames_ + 1); };
  char buffer[kMaxLine];
  std::string_view line;
  const Line status = ReadLine(file_, buffer, &line);
  if (status == Line::kEnd) return 0;
  if (status == Line::kError) return Fail(error, -1, std::string("read failed: ") + std::strerror(errno));
  if (status == Line::kTruncated) return Fail(error, -1, "truncated " + which());
  if (status == Line::kTooLong || !line.starts_with("FRAME") ||
      (line.size() > 5 && line[5] != ' ')) {
    return Fail(error, -1, "bad frame header in " + which());
  }
  size_t got = 0;
  try {
    got = ReadGrowing(file_, &planes_, planeBytes_);
  } catch (const std::bad_alloc&) {
    return Fail(error, -1, "out of memory");
  }
  if (got != planeBytes_) {
    if (std::ferror(file_)) return Fail(error, -1, std::string("read failed: ") + std::strerror(errno));
    return Fail(error, -1, "truncated " + which());
  }

  const Y4MFormat& f = format_;
  try {
    out->Allocate(f.width, f.height);
  } catch (const std::bad_alloc&) {
    return Fail(error, -1, "out of memory");
  }
  out->hasAlpha = false;
  const size_t lumaSize = size_t(f.width) * size_t(f.height);
  const uint8_t* cbPlane = planes_.data() + lumaSize;
  const uint8_t* crPlane = cbPlane + ChromaSize(f);
  const bool subX = f.chroma == Y4MChroma::k420 || f.chroma == Y4MChroma::k422;
  const bool subY = f.chroma == Y4MChroma::k420;
  const bool mono = f.chroma == Y4MChroma::kMono;
  const size_t chromaStride = subX ? size_t(f.width + 1) / 2 : size_t(f.width);
  // Chroma of a row at full width (repeated across subsampled pairs, 128 for
  // grey streams), so that the conversion below is one branch-free loop.
  try {
    rowCb_.resize(size_t(f.width));
    rowCr_.resize(size_t(f.width));
  } catch (const std::bad_alloc&) {
    return Fail(error, -1, "out of memory");
  }
  if (mono) {
    std::fill(rowCb_.begin(), rowCb_.end(), uint8_t(128));
    std::fill(rowCr_.begin(), rowCr_.end(), uint8_t(128));
  }
  for (int y = 0; y < f.height; ++y) {
    const uint8_t* luma = planes_.data() + size_t(y) * f.width;
    const size_t chromaRow = size_t(subY ? y / 2 : y) * chromaStride;
    const uint8_t* cb = cbPlane + chromaRow;
    const uint8_t* cr = crPlane + chromaRow;
    if (subX) {
      for (int x = 0; x < f.width; ++x) {
        rowCb_[size_t(x)] = cb[x / 2];
        rowCr_[size_t(x)] = cr[x / 2];
      }
      cb = rowCb_.data();
      cr = rowCr_.data();
    } else if (mono) {
      cb = rowCb_.data();
      cr = rowCr_.data();
    }
    YCbCrRowToARGB709(luma, cb, cr, f.width, f.fullRange, out->Row(y));
  }
  ++frames_;
  return 1;
}

bool Y4MWriter::WriteHeader(int width, int height, int fpsNum, int fpsDen, std::string* error) {
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return Fail(error, false, "bad frame size");
  if (fpsNum <= 0 || fpsDen <= 0) return Fail(error, false, "bad frame rate");
  try {
    planes_.resize(size_t(width) * size_t(height) * 3);
  } catch (const std::bad_alloc&) {
    return Fail(error, false, "out of memory");
  }
  if (std::fprintf(file_, "YUV4MPEG2 W%d H%d F%d:%d Ip A1:1 C444 XCOLORRANGE=LIMITED\n", width, height, fpsNum,
                   fpsDen) < 0) {
    return Fail(error, false, std::string("write failed: ") + std::strerror(errno));
  }
  width_ = width;
  height_ = height;
  return true;
}

bool Y4MWriter::WriteFrame(const uint8_t* argb, size_t rowBytes, std::string* error) {
  if (width_ == 0) return Fail(error, false, "stream header not written");
  if (!argb || rowBytes < size_t(width_) * 4) return Fail(error, false, "invalid image");
  const size_t planeSize = size_t(width_) * size_t(height_);
  for (int y = 0; y < height_; ++y) {
    const uint8_t* s = argb + size_t(y) * rowBytes;
    for (int x = 0; x < width_; ++x, s += 4) {
      uint8_t ycbcr[3];
      RGBToYCbCr709(s + 1, false, ycbcr);
      const size_t i = size_t(y) * width_ + x;
      planes_[i] = ycbcr[0];
      planes_[planeSize + i] = ycbcr[1];
      planes_[2 * planeSize + i] = ycbcr[2];
    }
  }
  if (std::fputs("FRAME\n", file_) < 0 || std::fwrite(planes_.data(), 1, planes_.size(), file_) != planes_.size()) {
    return Fail(error, false, std::string("write failed: ") + std::strerror(errno));
  }
  return true;
}

}  // namespace orxapp
