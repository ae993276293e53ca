// PNG reading and writing through libspng. Pictures are decoded row by row
// (deinterlaced by spng) straight into ARGB, so no second full-size buffer is
// needed, even for 16-bit sources.
#include <spng.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "ImageIO.h"

namespace orxapp {
namespace {

// Largest picture accepted: its ARGB copy stays within 1 GiB.
constexpr uint64_t kMaxImageBytes = uint64_t(1) << 30;
constexpr uint32_t kMaxSide = uint32_t(kMaxImageBytes / 4);
// Bounds on one chunk and on the ancillary chunk data kept in memory.
constexpr size_t kMaxChunkBytes = size_t(64) << 20;

// First column and column step of each Adam7 pass.
constexpr int kPassStart[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr int kPassStep[7] = {8, 8, 4, 4, 2, 2, 1};

struct CtxFree {
  void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Ctx = std::unique_ptr<spng_ctx, CtxFree>;

bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

// spng reports the end of its input as SPNG_IO_EOF (buffers and files alike).
bool Truncated(int rc) { return rc == SPNG_IO_EOF || rc == SPNG_EOF || rc == SPNG_EIDAT_TOO_SHORT; }

// The problem in words; data tells whether the image data was being read.
std::string PngError(int rc, bool data) {
  if (rc == SPNG_ESIGNATURE) return "not a PNG file";
  if (rc == SPNG_EMEM) return "out of memory";
  if (Truncated(rc)) return data ? "truncated image data" : "truncated file";
  if (rc == SPNG_IO_ERROR) return "read error";
  return std::string("damaged PNG (") + spng_strerror(rc) + ")";
}

uint8_t To8(const uint8_t* sample16) {
  uint16_t v;
  std::memcpy(&v, sample16, 2);
  return uint8_t((uint32_t(v) * 255 + 32767) / 65535);
}

// Deflate writes at most 1032 bytes for each byte it reads.
constexpr uint64_t kDeflateMaxExpansion = 1032;

// The filtered scanlines of a picture: what its compressed data must unpack to.
uint64_t ScanlineBytes(const spng_ihdr& ihdr) {
  uint64_t channels = 1;
  switch (ihdr.color_type) {
    case SPNG_COLOR_TYPE_TRUECOLOR: channels = 3; break;
    case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA: channels = 2; break;
    case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA: channels = 4; break;
    default: break;
  }
  return uint64_t(ihdr.height) * ((uint64_t(ihdr.width) * channels * ihdr.bit_depth + 7) / 8 + 1);
}

// inputBytes: the size of the whole PNG, which bounds what it can hold.
bool Decode(spng_ctx* ctx, uint64_t inputBytes, ImageARGB* out, std::string* error) {
  spng_set_image_limits(ctx, kMaxSide, kMaxSide);
  spng_set_chunk_limits(ctx, kMaxChunkBytes, kMaxChunkBytes);
  spng_ihdr ihdr{};
  int rc = spng_get_ihdr(ctx, &ihdr);
  if (rc != 0) return Fail(error, PngError(rc, false));
  if (uint64_t(ihdr.width) * ihdr.height * 4 > kMaxImageBytes) {
    return Fail(error, "image too large (" + std::to_string(ihdr.width) + "x" + std::to_string(ihdr.height) + ")");
  }
  // A header may claim any size; memory is only sized for what the file's
  // bytes could unpack to.
  if (ScanlineBytes(ihdr) > kDeflateMaxExpansion * inputBytes) {
    return Fail(error, "damaged PNG (" + std::to_string(inputBytes) + " bytes cannot hold a " +
                           std::to_string(ihdr.width) + "x" + std::to_string(ihdr.height) + " image)");
  }
  const bool wide = ihdr.bit_depth == 16;
  const int fmt = wide ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8;
  const int w = int(ihdr.width), h = int(ihdr.height);

  ImageARGB image;
  std::vector<uint8_t> row;
  try {
    image.Allocate(w, h);
    row.resize(size_t(w) * (wide ? 8 : 4));
  } catch (const std::bad_alloc&) {
    return Fail(error, "out of memory");
  }
  rc = spng_decode_image(ctx, nullptr, 0, fmt, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE);
  if (rc != 0) return Fail(error, PngError(rc, true));
  do {
    spng_row_info info{};
    rc = spng_get_row_info(ctx, &info);
    if (rc != 0) break;
    rc = spng_decode_row(ctx, row.data(), row.size());
    if (rc != 0 && rc != SPNG_EOI) break;
    // An interlaced pass fills only some columns of the row; convert those.
    const int pass = ihdr.interlace_method != 0 && info.pass >= 0 && info.pass < 7 ? info.pass : 6;
    uint8_t* d = image.Row(int(info.row_num));
    for (int x = kPassStart[pass]; x < w; x += kPassStep[pass]) {
      uint8_t* p = d + size_t(x) * 4;
      if (wide) {
        const uint8_t* s = row.data() + size_t(x) * 8;
        p[0] = To8(s + 6), p[1] = To8(s), p[2] = To8(s + 2), p[3] = To8(s + 4);
      } else {
        const uint8_t* s = row.data() + size_t(x) * 4;
        p[0] = s[3], p[1] = s[0], p[2] = s[1], p[3] = s[2];
      }
    }
  } while (rc == 0);
  if (rc != SPNG_EOI) return Fail(error, PngError(rc, true));
  // The chunks after the image data, which also checks the last IDAT's CRC.
  if ((rc = spng_decode_chunks(ctx)) != 0) return Fail(error, PngError(rc, true));

  spng_trns trns;
  image.hasAlpha = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                   ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA || spng_get_trns(ctx, &trns) == 0;
  *out = std::move(image);
  return true;
}

// Encodes through an encoder context whose output is already set.
bool Encode(spng_ctx* ctx, const uint8_t* argb, int width, int height, size_t rowBytes, bool withAlpha,
            std::string* error) {
  if (!argb || width <= 0 || height <= 0 || rowBytes < size_t(width) * 4) return Fail(error, "invalid image");
  const int channels = withAlpha ? 4 : 3;
  std::vector<uint8_t> row;
  try {
    row.resize(size_t(width) * channels);
  } catch (const std::bad_alloc&) {
    return Fail(error, "out of memory");
  }
  spng_ihdr ihdr{};
  ihdr.width = uint32_t(width);
  ihdr.height = uint32_t(height);
  ihdr.bit_depth = 8;
  ihdr.color_type = withAlpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR;
  int rc = spng_set_ihdr(ctx, &ihdr);
  if (rc == 0) rc = spng_encode_image(ctx, nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
  for (int y = 0; rc == 0 && y < height; ++y) {
    const uint8_t* s = argb + size_t(y) * rowBytes;
    uint8_t* d = row.data();
    for (int x = 0; x < width; ++x, s += 4, d += channels) {
      d[0] = s[1], d[1] = s[2], d[2] = s[3];
      if (withAlpha) d[3] = s[0];
    }
    rc = spng_encode_row(ctx, row.data(), row.size());
  }
  // The last row reports the end of the image.
  if (rc != SPNG_EOI) return Fail(error, rc == SPNG_EMEM ? "out of memory" : std::string("PNG encoding failed: ") + spng_strerror(rc));
  return true;
}

}  // namespace

FILE* OpenRegularFile(const std::string& path, std::string* error) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = std::string("cannot open: ") + std::strerror(errno);
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = S_ISDIR(st.st_mode) ? "is a folder, not a file" : "not a regular file";
    close(fd);
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* f = fdopen(fd, "rb");
  if (f == nullptr) {
    *error = std::string("cannot open: ") + std::strerror(errno);
    close(fd);
  }
  return f;
}

size_t ReadGrowing(FILE* file, std::vector<uint8_t>* buffer, size_t n) {
  if (buffer->size() >= n) return std::fread(buffer->data(), 1, n, file);
  constexpr size_t kFirstStep = size_t(1) << 20;
  size_t got = 0;
  while (got < n) {
    const size_t want = std::min(n, std::max(kFirstStep, 2 * got));
    if (buffer->size() < want) buffer->resize(want);
    const size_t asked = want - got;
    const size_t r = std::fread(buffer->data() + got, 1, asked, file);
    got += r;
    if (r < asked) break;
  }
  return got;
}

bool ReadPNG(const std::string& path, ImageARGB* out, std::string* error) {
  std::string e;
  FILE* file = OpenRegularFile(path, &e);
  if (!file) return Fail(error, e);
  bool ok = false;
  {
    Ctx ctx(spng_ctx_new(0));
    if (!ctx) {
      Fail(error, "out of memory");
    } else if (const int rc = spng_set_png_file(ctx.get(), file); rc != 0) {
      Fail(error, std::string("cannot read: ") + spng_strerror(rc));
    } else {
      struct stat st {};
      ok = Decode(ctx.get(), fstat(fileno(file), &st) == 0 ? uint64_t(st.st_size) : 0, out, error);
    }
  }
  if (!ok && std::ferror(file)) Fail(error, std::string("read failed: ") + std::strerror(errno));
  std::fclose(file);
  return ok;
}

bool ReadPNGFromMemory(const void* data, size_t size, ImageARGB* out, std::string* error) {
  if (!data || size == 0) return Fail(error, "not a PNG file");
  Ctx ctx(spng_ctx_new(0));
  if (!ctx) return Fail(error, "out of memory");
  if (const int rc = spng_set_png_buffer(ctx.get(), data, size); rc != 0) return Fail(error, PngError(rc, false));
  return Decode(ctx.get(), size, out, error);
}

bool WritePNG(const std::string& path, const uint8_t* argb, int width, int height, size_t rowBytes, bool withAlpha,
              std::string* error) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return Fail(error, std::string("cannot open: ") + std::strerror(errno));
  // Only a regular file is removed after a failure, never a device or pipe.
  struct stat st {};
  const bool regular = fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode);
  bool ok = false;
  {
    Ctx ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx) {
      Fail(error, "out of memory");
    } else if (const int rc = spng_set_png_file(ctx.get(), file); rc != 0) {
      Fail(error, std::string("cannot write: ") + spng_strerror(rc));
    } else {
      ok = Encode(ctx.get(), argb, width, height, rowBytes, withAlpha, error);
    }
  }
  if (std::ferror(file) || std::fflush(file) != 0) {
    ok = Fail(error, std::string("write failed: ") + std::strerror(errno));
  }
  if (std::fclose(file) != 0 && ok) ok = Fail(error, std::string("write failed: ") + std::strerror(errno));
  if (!ok && regular) std::remove(path.c_str());
  return ok;
}

bool EncodePNG(std::vector<uint8_t>* out, const uint8_t* argb, int width, int height, size_t rowBytes, bool withAlpha,
               std::string* error) {
  Ctx ctx(spng_ctx_new(SPNG_CTX_ENCODER));
  if (!ctx) return Fail(error, "out of memory");
  spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
  if (!Encode(ctx.get(), argb, width, height, rowBytes, withAlpha, error)) return false;
  size_t size = 0;
  int rc = 0;
  void* png = spng_get_png_buffer(ctx.get(), &size, &rc);
  if (!png) return Fail(error, std::string("PNG encoding failed: ") + spng_strerror(rc));
  bool ok = true;
  try {
    const uint8_t* bytes = static_cast<const uint8_t*>(png);
    out->assign(bytes, bytes + size);
  } catch (const std::bad_alloc&) {
    ok = Fail(error, "out of memory");
  }
  std::free(png);
  return ok;
}

}  // namespace orxapp
