// The library's frame calls over the codec core: the frame check, the
// processor decode into the caller's byte order, the texture road, and the
// frame encoder with the compressor component's choices.
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>

#include "core/Format/ORXHeader.h"
#include "core/Frames/ORXFrameDecode.h"
#include "core/Frames/ORXFrameEncode.h"
#include "core/Platform/ProcessorCores.h"
#include "ORXLibInternal.h"
#include "ORXLibThreads.h"

static_assert(std::endian::native == std::endian::little, "pixels are swizzled as little-endian words");

namespace {

constexpr int kMaxSide = kORXMaxSide;
static_assert(ORX_MAX_SIDE == kORXMaxSide, "the public size limit is the format's");
constexpr int kMaxThreads = kORXMaxThreads;

// The core's status as the library's error.
orx_error ErrorOf(ORXStatus status) {
  return status == ORXStatus::ok         ? ORX_OK
         : status == ORXStatus::noMemory ? ORX_ERROR_OUT_OF_MEMORY
                                         : ORX_ERROR_BAD_FRAME;
}

bool SideInRange(int n) { return n >= 0 && n <= kMaxSide; }
int64_t Padded(int n) { return (int64_t{n} + 3) / 4 * 4; }

// One ARGB word as read from memory (A in the low byte) in another order.
inline uint32_t FromARGB(uint32_t argb, orx_pixel_format to) {
  if (to == ORX_PIXEL_RGBA) return std::rotr(argb, 8);
  if (to == ORX_PIXEL_BGRA) return __builtin_bswap32(argb);
  return argb;
}
inline uint32_t ToARGB(uint32_t p, orx_pixel_format from) {
  if (from == ORX_PIXEL_RGBA) return std::rotl(p, 8);
  if (from == ORX_PIXEL_BGRA) return __builtin_bswap32(p);
  return p;
}

// Copies count pixels, converting their byte order; src and dest may be the
// same row. The format is a template argument so that each loop vectorizes.
template <orx_pixel_format kTo>
void RowFromARGB(const unsigned char* src, unsigned char* dest, int64_t count) {
  for (int64_t i = 0; i < count; ++i) {
    uint32_t p;
    std::memcpy(&p, src + 4 * i, 4);
    p = FromARGB(p, kTo);
    std::memcpy(dest + 4 * i, &p, 4);
  }
}
template <orx_pixel_format kFrom>
void RowToARGB(const unsigned char* src, unsigned char* dest, int64_t count) {
  for (int64_t i = 0; i < count; ++i) {
    uint32_t p;
    std::memcpy(&p, src + 4 * i, 4);
    p = ToARGB(p, kFrom);
    std::memcpy(dest + 4 * i, &p, 4);
  }
}

// rows x width pixels from ARGB (srcStride apart) into format (destStride).
void CopyFromARGB(const unsigned char* src, int64_t srcStride, unsigned char* dest, int64_t destStride, int width,
                  int rows, orx_pixel_format format) {
  for (int y = 0; y < rows; ++y) {
    const unsigned char* s = src + y * srcStride;
    unsigned char* d = dest + y * destStride;
    if (format == ORX_PIXEL_RGBA)
      RowFromARGB<ORX_PIXEL_RGBA>(s, d, width);
    else if (format == ORX_PIXEL_BGRA)
      RowFromARGB<ORX_PIXEL_BGRA>(s, d, width);
    else if (s != d)
      std::memcpy(d, s, static_cast<size_t>(width) * 4);
  }
}

// CopyFromARGB as a band finisher: each band's rows converted by the job
// that decoded them.
struct ConvertRows {
  const unsigned char* src;
  int64_t srcStride;
  unsigned char* dest;
  int64_t destStride;
  int width;
  orx_pixel_format format;
};

void ConvertBand(void* context, int firstRow, int rowCount) {
  const ConvertRows& c = *static_cast<const ConvertRows*>(context);
  CopyFromARGB(c.src + firstRow * c.srcStride, c.srcStride, c.dest + firstRow * c.destStride, c.destStride, c.width,
               rowCount, c.format);
}

bool Grow(unsigned char** data, int64_t* size, int64_t needed) {
  if (*size >= needed) return true;
  auto* grown = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(needed)));
  if (grown == nullptr) return false;
  std::free(*data);
  *data = grown;
  *size = needed;
  return true;
}

orx_variant VariantOf(const ORXHeader& h) {
  if (h.isDXT24 == 1) return h.hasAlpha ? ORX_VARIANT_DXT24_ALPHA : ORX_VARIANT_DXT24;
  return h.hasAlpha ? ORX_VARIANT_DXT5 : ORX_VARIANT_DXT1;
}

// The frame check shared by every frame call: a packed layer proven to
// unpack always, packed block data when proveBlocks (the calls whose answer
// sizes the caller's buffers; those that unpack into a buffer already held
// prove it by unpacking).
orx_error Check(const void* frame, size_t frameSize, int width, int height, ORXFrameLayout* layout,
                bool proveBlocks) {
  if (frame == nullptr || !SideInRange(width) || !SideInRange(height) || frameSize > size_t{INT64_MAX})
    return ORX_ERROR_INVALID_ARGUMENT;
  if (CheckORXFrameData(static_cast<const uint8_t*>(frame), static_cast<int64_t>(frameSize), width, height, layout,
                        proveBlocks) != ORXFrameError::none)
    return ORX_ERROR_BAD_FRAME;
  return ORX_OK;
}

// Who runs an object's jobs: the caller's run_jobs, the object's own
// threads (more than one), or the calling thread alone (one).
struct Jobs {
  orx_run_jobs_fn runJobs = nullptr;
  void* user = nullptr;
  int threads = 1;  // jobs a frame is cut into
  std::unique_ptr<ORXLibThreads> own;

  static void CallUser(void* self, int count, ORXJob job, void* context) {
    const Jobs* j = static_cast<const Jobs*>(self);
    j->runJobs(j->user, count, job, context);
  }
  // threads as the options give it (0: one a processor core); false without
  // memory for the threads' record.
  bool Set(int32_t requested, orx_run_jobs_fn run, void* runUser) {
    threads = requested == 0 ? ORXThreadsForCores(QueryProcessorCoreCount()) : requested;
    runJobs = run;
    user = runUser;
    if (run == nullptr && threads > 1) {
      own.reset(new (std::nothrow) ORXLibThreads(threads));
      if (!own) return false;
    }
    return true;
  }
  ORXJobRunner Runner() {
    if (runJobs != nullptr) return ORXJobRunner{CallUser, this, threads};
    if (own) return own->Runner();
    return ORXJobRunner{};
  }
};

bool ReservedZero(const uint64_t* reserved, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (reserved[i] != 0) return false;
  return true;
}

}  // namespace

// Working storage of a decoder: unpacked blocks and, for DXT24 pictures that
// are not whole blocks, the padded picture; the runner of its bands.
struct orx_decoder {
  std::mutex lock;
  ORXDecodeScratch blocks{nullptr, 0};
  unsigned char* pixels = nullptr;
  int64_t pixelsSize = 0;
  Jobs jobs;
};

struct orx_encoder {
  std::mutex lock;
  ORXFrameChoices choices;
  ORXEncodeScratch scratch;
  unsigned char* argb = nullptr;  // pictures in another byte order, as ARGB
  int64_t argbSize = 0;
  Jobs jobs;
};

extern "C" {

int orx_version(void) { return ORX_VERSION_NUMBER; }

#define ORX_TEXT_OF(n) #n
#define ORX_VERSION_TEXT_OF(a, b, c) ORX_TEXT_OF(a) "." ORX_TEXT_OF(b) "." ORX_TEXT_OF(c)
#define ORX_VERSION_TEXT ORX_VERSION_TEXT_OF(ORX_VERSION_MAJOR, ORX_VERSION_MINOR, ORX_VERSION_PATCH)
// The header's version is the project's, which orx and the plug-in report.
static_assert(std::string_view(ORX_VERSION_TEXT) == ORX_PROJECT_VERSION,
              "ORX_VERSION_MAJOR/_MINOR/_PATCH in include/orx/orx.h must be the version of project() in CMakeLists.txt");
const char* orx_version_string(void) { return ORX_VERSION_TEXT; }

const char* orx_error_string(orx_error error) {
  switch (error) {
    case ORX_OK: return "no error";
    case ORX_ERROR_INVALID_ARGUMENT: return "an argument is null or out of range";
    case ORX_ERROR_BUFFER_TOO_SMALL: return "the buffer is too small";
    case ORX_ERROR_OUT_OF_MEMORY: return "out of memory";
    case ORX_ERROR_BAD_FRAME: return "the bytes are not an ORX frame of this size";
    case ORX_ERROR_IO: return "the file cannot be opened, read or written";
    case ORX_ERROR_BAD_MOVIE: return "not a movie with an ORX video track";
    case ORX_ERROR_TRUNCATED: return "the movie file ends early";
    case ORX_ERROR_EXISTS: return "the file exists";
    case ORX_ERROR_NO_FRAMES: return "the movie has no frames";
    case ORX_ERROR_NO_SOUND: return "the movie has no sound track the library reads";
  }
  return "unknown error";
}

orx_error orx_frame_info(const void* frame, size_t frame_size, int width, int height, orx_frame_props* props) {
  ORXFrameLayout layout;
  const orx_error e = Check(frame, frame_size, width, height, &layout, true);
  if (e != ORX_OK || props == nullptr) return e;
  const ORXHeader& h = layout.header;
  props->variant = VariantOf(h);
  props->width = width;
  props->height = height;
  props->has_alpha = h.hasAlpha ? 1 : 0;
  props->is_lzf = h.isLZF == 1 ? 1 : 0;
  props->data_size = h.dataSize;
  props->block_data_size = layout.blockDataSize;
  props->layer_size = layout.layerSize;
  // The frame ends with the last section the check accepted.
  int64_t end = int64_t{h.headerSize} + h.dataSize;
  if (layout.layerSize > 0) end += h.secondSize;
  props->frame_size = end;
  return ORX_OK;
}

size_t orx_pixels_size(int width, int height, size_t stride) {
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return 0;
  if (stride < size_t(width) * 4 || stride > size_t{INT32_MAX}) return 0;
  return stride * size_t(height - 1) + size_t(width) * 4;
}

orx_error orx_decoder_create(orx_decoder** decoder) {
  const orx_decoder_options defaults{};
  return orx_decoder_create_with_options(&defaults, decoder);
}

orx_error orx_decoder_create_with_options(const orx_decoder_options* options, orx_decoder** decoder) {
  if (decoder == nullptr) return ORX_ERROR_INVALID_ARGUMENT;
  *decoder = nullptr;
  if (options == nullptr || options->threads < 0 || options->threads > kMaxThreads || options->reserved0 != 0 ||
      !ReservedZero(options->reserved, sizeof options->reserved / sizeof options->reserved[0]))
    return ORX_ERROR_INVALID_ARGUMENT;
  auto* d = new (std::nothrow) orx_decoder;
  if (d == nullptr) return ORX_ERROR_OUT_OF_MEMORY;
  if (!d->jobs.Set(options->threads, options->run_jobs, options->run_jobs_user)) {
    delete d;
    return ORX_ERROR_OUT_OF_MEMORY;
  }
  *decoder = d;
  return ORX_OK;
}

void orx_decoder_destroy(orx_decoder* decoder) {
  if (decoder == nullptr) return;
  ORXFreeDecodeScratch(&decoder->blocks);
  std::free(decoder->pixels);
  delete decoder;
}

orx_error orx_decode_rgba(orx_decoder* decoder, const void* frame, size_t frame_size, int width, int height,
                          orx_pixel_format format, void* dest, size_t dest_size, size_t stride) {
  if (decoder == nullptr || !ORXLibIsPixelFormat(format)) return ORX_ERROR_INVALID_ARGUMENT;
  if (frame == nullptr || !SideInRange(width) || !SideInRange(height)) return ORX_ERROR_INVALID_ARGUMENT;
  const bool empty = width == 0 || height == 0;
  if (!empty) {
    const size_t needed = orx_pixels_size(width, height, stride);
    if (needed == 0 || dest == nullptr) return ORX_ERROR_INVALID_ARGUMENT;
    if (dest_size < needed) return ORX_ERROR_BUFFER_TOO_SMALL;
  }
  std::lock_guard<std::mutex> hold(decoder->lock);
  const auto* bytes = static_cast<const unsigned char*>(frame);
  const ORXJobRunner runner = decoder->jobs.Runner();
  auto* out = static_cast<unsigned char*>(dest);
  const auto destStride = static_cast<int64_t>(stride);
  // DXT24 writes whole blocks: straight into dest when the picture is whole
  // blocks, else into the decoder's padded picture and then copied. Straight
  // into dest, each chunk is unpacked, decoded and converted on one thread.
  const bool dxt24 = frame_size >= size_t{kORXHeaderSize} && ReadORXHeader(bytes).isDXT24 == 1;
  if (!dxt24 || (width % 4 == 0 && height % 4 == 0)) {
    ConvertRows convert{out, destStride, out, destStride, width, format};
    const ORXBandFinish finish{ConvertBand, &convert};
    return ErrorOf(ORXDecodeFrameOnProcessor(bytes, static_cast<int64_t>(frame_size), width, height,
                                             &decoder->blocks, out, static_cast<int>(destStride), &runner,
                                             format != ORX_PIXEL_ARGB ? &finish : nullptr));
  }
  ORXFrameLayout layout;
  const unsigned char* blocks = nullptr;
  const int64_t paddedRow = 4 * Padded(width);
  const ORXStatus prepared = ORXPrepareFrame(bytes, static_cast<int64_t>(frame_size), width, height, paddedRow,
                                             &decoder->blocks, &layout, &blocks, &runner);
  if (prepared != ORXStatus::ok) return ErrorOf(prepared);
  if (blocks == nullptr) return ORX_OK;  // no pixels
  if (!Grow(&decoder->pixels, &decoder->pixelsSize, paddedRow * Padded(height))) return ORX_ERROR_OUT_OF_MEMORY;
  ConvertRows convert{decoder->pixels, paddedRow, out, destStride, width, format};
  const ORXBandFinish finish{ConvertBand, &convert};
  ORXDecodeBlocksOnProcessor(layout, blocks, width, height, decoder->pixels, static_cast<int>(paddedRow), &runner,
                             &finish);
  return ORX_OK;
}

orx_error orx_frame_texture_size(const void* frame, size_t frame_size, int width, int height, size_t* buffer_size) {
  return orx_frame_texture_size_with_flags(frame, frame_size, width, height, 0, buffer_size);
}

orx_error orx_frame_texture(orx_decoder* decoder, const void* frame, size_t frame_size, int width, int height,
                            void* buffer, size_t buffer_size, orx_texture* texture) {
  if (decoder == nullptr || texture == nullptr) return ORX_ERROR_INVALID_ARGUMENT;
  ORXFrameLayout layout;
  const orx_error e = Check(frame, frame_size, width, height, &layout, false);
  if (e != ORX_OK) return e;
  const ORXHeader& h = layout.header;
  const bool dxt24 = h.isDXT24 == 1;
  orx_texture t{};
  t.compressed = dxt24 ? 0 : 1;
  t.gl_internal_format = dxt24 ? ORX_GL_RGBA8
                         : h.hasAlpha ? ORX_GL_COMPRESSED_RGBA_S3TC_DXT5_EXT
                                      : ORX_GL_COMPRESSED_RGBA_S3TC_DXT1_EXT;
  t.gl_format = dxt24 ? ORX_GL_RGBA : 0;
  t.gl_type = dxt24 ? ORX_GL_UNSIGNED_BYTE : 0;
  t.width = width;
  t.height = height;
  t.tex_width = static_cast<int32_t>(Padded(width));
  t.tex_height = static_cast<int32_t>(Padded(height));
  const auto* section = static_cast<const unsigned char*>(frame) + h.headerSize;
  const int64_t blockBytes = layout.blockDataSize;
  // Unpacking proves packed data; a buffer that is refused before it is
  // used leaves the proof to be made here, so a frame the size query
  // refuses is refused the same way.
  const auto bufferError = [&](orx_error e) {
    return Check(frame, frame_size, width, height, nullptr, true) == ORX_OK ? e : ORX_ERROR_BAD_FRAME;
  };

  if (!dxt24) {
    t.size = static_cast<size_t>(blockBytes);
    // Raw blocks are handed over where they are; a picture without blocks
    // has nothing to unpack, as the size query's 0 promised.
    if (h.isLZF != 1 || blockBytes == 0) {
      t.data = blockBytes > 0 ? section : nullptr;
      *texture = t;
      return ORX_OK;
    }
    if (buffer == nullptr) return bufferError(ORX_ERROR_INVALID_ARGUMENT);
    if (buffer_size < static_cast<size_t>(blockBytes)) return bufferError(ORX_ERROR_BUFFER_TOO_SMALL);
    // Only data that unpacks to every block, and no further, is a texture.
    std::lock_guard<std::mutex> hold(decoder->lock);
    const ORXJobRunner runner = decoder->jobs.Runner();
    if (!ORXUnpackBlocks(static_cast<const unsigned char*>(frame), layout, static_cast<unsigned char*>(buffer),
                         &runner))
      return ORX_ERROR_BAD_FRAME;
    t.data = buffer;
    *texture = t;
    return ORX_OK;
  }

  const int64_t row = 4 * int64_t{t.tex_width};
  t.size = static_cast<size_t>(row * t.tex_height);
  if (t.size > 0 && buffer == nullptr) return bufferError(ORX_ERROR_INVALID_ARGUMENT);
  if (buffer_size < t.size) return bufferError(ORX_ERROR_BUFFER_TOO_SMALL);
  std::lock_guard<std::mutex> hold(decoder->lock);
  const ORXJobRunner runner = decoder->jobs.Runner();
  auto* out = static_cast<unsigned char*>(buffer);
  // The image's rows are converted with their chunks or bands; the padding
  // rows below it (DXT24 writes whole blocks) after them.
  ConvertRows convert{out, row, out, row, t.tex_width, ORX_PIXEL_RGBA};
  const ORXBandFinish finish{ConvertBand, &convert};
  const ORXStatus decoded = ORXDecodeFrameOnProcessor(static_cast<const unsigned char*>(frame),
                                                      static_cast<int64_t>(frame_size), width, height,
                                                      &decoder->blocks, out, static_cast<int>(row), &runner, &finish);
  if (decoded != ORXStatus::ok) return ErrorOf(decoded);
  if (t.size > 0)
    CopyFromARGB(out + height * row, row, out + height * row, row, t.tex_width, t.tex_height - height,
                 ORX_PIXEL_RGBA);
  t.data = t.size > 0 ? buffer : nullptr;
  *texture = t;
  return ORX_OK;
}

namespace {

// Rows of the block texture for blockBytes of block data.
int64_t BlockTextureRows(int64_t blockBytes) {
  constexpr int64_t kRow = int64_t{ORX_BLOCK_TEXTURE_WIDTH} * 4;
  return (blockBytes + kRow - 1) / kRow;
}

}  // namespace

orx_error orx_frame_texture_size_with_flags(const void* frame, size_t frame_size, int width, int height,
                                            uint32_t flags, size_t* buffer_size) {
  if ((flags & ~ORX_TEXTURE_DXT24_BLOCKS) != 0 || buffer_size == nullptr) return ORX_ERROR_INVALID_ARGUMENT;
  ORXFrameLayout layout;
  const orx_error e = Check(frame, frame_size, width, height, &layout, true);
  if (e != ORX_OK) return e;
  const ORXHeader& h = layout.header;
  if (h.isDXT24 == 1 && flags != 0)
    *buffer_size = static_cast<size_t>(BlockTextureRows(layout.blockDataSize) * ORX_BLOCK_TEXTURE_WIDTH * 4);
  else if (h.isDXT24 == 1)
    *buffer_size = static_cast<size_t>(4 * Padded(width) * Padded(height));
  else
    *buffer_size = h.isLZF == 1 ? static_cast<size_t>(layout.blockDataSize) : 0;
  return ORX_OK;
}

orx_error orx_frame_texture_with_flags(orx_decoder* decoder, const void* frame, size_t frame_size, int width,
                                       int height, uint32_t flags, void* buffer, size_t buffer_size,
                                       orx_texture* texture) {
  if ((flags & ~ORX_TEXTURE_DXT24_BLOCKS) != 0) return ORX_ERROR_INVALID_ARGUMENT;
  if (decoder == nullptr || texture == nullptr) return ORX_ERROR_INVALID_ARGUMENT;
  ORXFrameLayout layout;
  const orx_error e = Check(frame, frame_size, width, height, &layout, false);
  if (e != ORX_OK) return e;
  if (flags == 0 || layout.header.isDXT24 != 1)
    return orx_frame_texture(decoder, frame, frame_size, width, height, buffer, buffer_size, texture);
  const ORXHeader& h = layout.header;
  const int64_t blockBytes = layout.blockDataSize;
  orx_texture t{};
  t.compressed = ORX_TEXTURE_BLOCKS;
  t.gl_internal_format = ORX_GL_RGBA8UI;
  t.gl_format = ORX_GL_RGBA_INTEGER;
  t.gl_type = ORX_GL_UNSIGNED_BYTE;
  t.width = width;
  t.height = height;
  t.tex_width = blockBytes > 0 ? ORX_BLOCK_TEXTURE_WIDTH : 0;
  t.tex_height = static_cast<int32_t>(BlockTextureRows(blockBytes));
  t.size = static_cast<size_t>(int64_t{t.tex_width} * t.tex_height * 4);
  // As orx_frame_texture: a buffer refused before it is used leaves the
  // frame's proof to be made here.
  const auto bufferError = [&](orx_error err) {
    return Check(frame, frame_size, width, height, nullptr, true) == ORX_OK ? err : ORX_ERROR_BAD_FRAME;
  };
  if (t.size > 0 && buffer == nullptr) return bufferError(ORX_ERROR_INVALID_ARGUMENT);
  if (buffer_size < t.size) return bufferError(ORX_ERROR_BUFFER_TOO_SMALL);
  auto* out = static_cast<unsigned char*>(buffer);
  const auto* bytes = static_cast<const unsigned char*>(frame);
  if (blockBytes > 0) {
    if (h.isLZF == 1) {
      std::lock_guard<std::mutex> hold(decoder->lock);
      const ORXJobRunner runner = decoder->jobs.Runner();
      if (!ORXUnpackBlocks(bytes, layout, out, &runner)) return ORX_ERROR_BAD_FRAME;
    } else {
      std::memcpy(out, bytes + h.headerSize, static_cast<size_t>(blockBytes));
    }
    std::memset(out + blockBytes, 0, t.size - static_cast<size_t>(blockBytes));
  }
  t.data = t.size > 0 ? buffer : nullptr;
  *texture = t;
  return ORX_OK;
}

}  // extern "C"

namespace {

bool SettingsValid(const orx_encode_settings* s) {
  return s != nullptr && s->threads >= 0 && s->threads <= kMaxThreads;
}

ORXFrameChoices ChoicesFor(const orx_encode_settings& s) {
  ORXFrameChoices c;
  c.alpha = s.keep_alpha != 0;
  c.dxt24 = ORXChoosesDXT24(c.alpha, s.preserve_gradients != 0);  // as the compressor
  c.lzf = s.skip_lzf == 0;
  c.gradientsByte = ORXGradientsDiscardedByte(s.preserve_gradients != 0);
  c.threads = s.threads;
  return c;
}

}  // namespace

extern "C" {

size_t orx_max_encoded_size(int width, int height, const orx_encode_settings* settings) {
  if (!SettingsValid(settings) || width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return 0;
  return static_cast<size_t>(ORXFrameCapacity(width, height, ChoicesFor(*settings)));
}

orx_error orx_encoder_create(const orx_encode_settings* settings, orx_encoder** encoder) {
  if (encoder == nullptr) return ORX_ERROR_INVALID_ARGUMENT;
  *encoder = nullptr;
  if (settings == nullptr) return ORX_ERROR_INVALID_ARGUMENT;
  orx_encoder_options options{};
  options.settings = *settings;
  return orx_encoder_create_with_options(&options, encoder);
}

orx_error orx_encoder_create_with_options(const orx_encoder_options* options, orx_encoder** encoder) {
  if (encoder == nullptr) return ORX_ERROR_INVALID_ARGUMENT;
  *encoder = nullptr;
  if (options == nullptr || !SettingsValid(&options->settings) || options->smaller < ORX_SMALLER_OFF ||
      options->smaller > ORX_SMALLER_STRONG || options->reserved32 != 0 ||
      !ReservedZero(options->reserved, sizeof options->reserved / sizeof options->reserved[0]))
    return ORX_ERROR_INVALID_ARGUMENT;
  auto* e = new (std::nothrow) orx_encoder;
  if (e == nullptr) return ORX_ERROR_OUT_OF_MEMORY;
  e->choices = ChoicesFor(options->settings);
  e->choices.reduce = options->smaller;
  // threads 0 is one a processor core, as the component's Max.
  if (!e->jobs.Set(options->settings.threads, options->run_jobs, options->run_jobs_user)) {
    delete e;
    return ORX_ERROR_OUT_OF_MEMORY;
  }
  e->choices.threads = e->jobs.threads;
  e->choices.runner = e->jobs.Runner();
  *encoder = e;
  return ORX_OK;
}

void orx_encoder_destroy(orx_encoder* encoder) {
  if (encoder == nullptr) return;
  ORXFreeEncodeScratch(&encoder->scratch);
  std::free(encoder->argb);
  delete encoder;
}

orx_error orx_encode(orx_encoder* encoder, const void* pixels, int width, int height, size_t stride,
                     orx_pixel_format format, void* dest, size_t dest_size, size_t* frame_size) {
  if (encoder == nullptr || pixels == nullptr || dest == nullptr || frame_size == nullptr ||
      !ORXLibIsPixelFormat(format) || orx_pixels_size(width, height, stride) == 0)
    return ORX_ERROR_INVALID_ARGUMENT;
  *frame_size = 0;
  std::lock_guard<std::mutex> hold(encoder->lock);
  const int64_t capacity = ORXFrameCapacity(width, height, encoder->choices);
  if (dest_size < static_cast<size_t>(capacity)) return ORX_ERROR_BUFFER_TOO_SMALL;
  const auto* src = static_cast<const unsigned char*>(pixels);
  auto srcStride = static_cast<int64_t>(stride);
  if (format != ORX_PIXEL_ARGB) {  // the core takes ARGB
    const int64_t row = 4 * int64_t{width};
    if (!Grow(&encoder->argb, &encoder->argbSize, row * height)) return ORX_ERROR_OUT_OF_MEMORY;
    for (int y = 0; y < height; ++y) {
      if (format == ORX_PIXEL_RGBA)
        RowToARGB<ORX_PIXEL_RGBA>(src + y * srcStride, encoder->argb + y * row, width);
      else
        RowToARGB<ORX_PIXEL_BGRA>(src + y * srcStride, encoder->argb + y * row, width);
    }
    src = encoder->argb;
    srcStride = row;
  }
  const int64_t n = ORXEncodeFrame(src, width, height, srcStride, encoder->choices, static_cast<unsigned char*>(dest),
                                   capacity, &encoder->scratch);
  if (n < 0) return ORX_ERROR_OUT_OF_MEMORY;
  if (n == 0) return ORX_ERROR_INVALID_ARGUMENT;
  *frame_size = static_cast<size_t>(n);
  return ORX_OK;
}

}  // extern "C"
