// liborx through its public header: frames identical to the compressor's
// and pixels identical to the decompressor's processor road, the texture
// road, every error that bad input can reach, movies written and read back,
// and handles used from two threads at once.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "MacMemory.h"
#include "MovieFile.h"
#include "core/Frames/ORXFrameEncode.h"
#include "core/Format/ORXHeader.h"
#include "component_test_util.h"
#include "orx/orx.h"

namespace {

using Bytes = std::vector<uint8_t>;
struct Dim {
  int w, h;
};
// Whole blocks, odd sizes, and over a megapixel (several LZF chunks).
const Dim kSizes[] = {{64, 48}, {37, 21}, {1283, 1029}};

// Every kind of frame: the four gradients x skip-LZF settings (the "Optimize
// For" choices and raw DXT1/DXT5, which no popup offers) with and without
// alpha through orx_encode, then DXT24 with alpha (packed, raw), which the
// compressor never makes, from the core's encoder:
// 0 DXT24+LZF, 1 DXT5+LZF, 2 DXT24, 3 DXT5, 4 DXT1+LZF, 5 DXT5+LZF, 6 DXT1, 7 DXT5, 8-9 core.
struct Kind {
  orx_encode_settings s;
  bool core;
  std::string Name(Dim d) const {  // "alpha gradients skipLZF"
    return std::to_string(s.keep_alpha) + std::to_string(s.preserve_gradients) + std::to_string(s.skip_lzf) +
           (core ? " core " : " ") + std::to_string(d.w) + "x" + std::to_string(d.h);
  }
};
std::vector<Kind> Kinds() {
  std::vector<Kind> kinds;
  for (int gradients : {1, 0})
    for (int skip : {0, 1})
      for (int alpha : {0, 1}) kinds.push_back({{alpha, gradients, skip, 1}, false});
  for (int skip : {0, 1}) kinds.push_back({{1, 1, skip, 1}, true});
  return kinds;
}

Bytes Picture(int w, int h, uint32_t seed = 0) {
  Bytes p = PictureARGB(w, h);
  const Bytes n = NoiseARGB(w, h, seed + 1);
  for (size_t i = 0; i < p.size(); i += seed ? 5 : 28) p[i] = n[i];  // alpha that varies, grain for a seed
  return p;
}

// ARGB bytes in another order, byte by byte.
Bytes Reorder(const Bytes& argb, orx_pixel_format f) {
  Bytes out(argb.size());
  for (size_t i = 0; i < argb.size(); i += 4) {
    const uint8_t a = argb[i], r = argb[i + 1], g = argb[i + 2], b = argb[i + 3];
    const uint8_t rgba[4] = {r, g, b, a}, bgra[4] = {b, g, r, a};
    std::memcpy(&out[i], f == ORX_PIXEL_RGBA ? rgba : bgra, 4);
  }
  return out;
}

// Pixels with rows stride bytes apart, the padding filled with fill.
Bytes Spaced(const Bytes& tight, int w, int h, size_t stride, uint8_t fill) {
  Bytes out(orx_pixels_size(w, h, stride), fill);
  for (int y = 0; y < h; ++y) std::memcpy(&out[y * stride], &tight[size_t(y) * w * 4], size_t(w) * 4);
  return out;
}

Bytes LibEncode(orx_encoder* e, const orx_encode_settings& s, const Bytes& pixels, Dim d,
                orx_pixel_format f = ORX_PIXEL_ARGB, size_t stride = 0) {
  Bytes out(orx_max_encoded_size(d.w, d.h, &s));
  size_t n = 0;
  EXPECT_EQ(orx_encode(e, pixels.data(), d.w, d.h, stride ? stride : d.w * 4u, f, out.data(), out.size(), &n),
            ORX_OK);
  out.resize(n);
  return out;
}

Bytes LibEncode(const orx_encode_settings& s, const Bytes& pixels, Dim d) {
  orx_encoder* e = nullptr;
  EXPECT_EQ(orx_encoder_create(&s, &e), ORX_OK);
  Bytes out = LibEncode(e, s, pixels, d);
  orx_encoder_destroy(e);
  return out;
}

Bytes LibDecode(orx_decoder* dec, const Bytes& frame, Dim d, orx_pixel_format f = ORX_PIXEL_ARGB) {
  Bytes out(d.w * d.h * 4u);
  EXPECT_EQ(orx_decode_rgba(dec, frame.data(), frame.size(), d.w, d.h, f, out.data(), out.size(), d.w * 4u), ORX_OK);
  return out;
}

// Frames of Picture(w, h), made once.
const Bytes& Frame(const Kind& k, Dim d) {
  static std::map<std::tuple<int, int, int, bool, int, int>, Bytes> made;
  Bytes& f = made[{k.s.keep_alpha, k.s.preserve_gradients, k.s.skip_lzf, k.core, d.w, d.h}];
  if (!f.empty()) return f;
  const Bytes argb = Picture(d.w, d.h);
  if (!k.core) return f = LibEncode(k.s, argb, d);
  const ORXFrameChoices c{true, true, k.s.skip_lzf == 0, 0, 1};
  f.resize(size_t(ORXFrameCapacity(d.w, d.h, c)));
  ORXEncodeScratch scratch;
  f.resize(size_t(ORXEncodeFrame(argb.data(), d.w, d.h, d.w * 4, c, f.data(), int64_t(f.size()), &scratch)));
  ORXFreeEncodeScratch(&scratch);
  return f;
}

// A frame from the compressor component; threadSetting is the popup value.
Bytes ComponentEncode(const orx_encode_settings& s, int32_t threadSetting, const Bytes& argb, Dim d) {
  ComponentInstance ci = OpenCompressor();
  Bytes frame;
  if (ci == nullptr) return frame;
  EXPECT_EQ(SetSettings(ci, s.keep_alpha, s.preserve_gradients, s.skip_lzf, threadSetting), noErr);
  {
    CollectingSession session;
    CVPixelBufferRef pb = MakePixelBuffer(d.w, d.h, argb);
    if (session.Create(ci, d.w, d.h) == noErr && session.Encode(pb) == noErr && session.frames.size() == 1)
      frame = session.frames[0].bytes;
    CVPixelBufferRelease(pb);
  }
  CloseComponent(ci);
  return frame;
}

// The decompressor component's picture on its processor road (ARGB, w x h).
Bytes ComponentDecode(const Bytes& frame, Dim d) {
  UsePrivatePreferencesFolder();
  setenv("ORX_DISABLE_GL", "1", 1);  // read when the instance opens
  const CodecType orxv = FOUR_CHAR_CODE('O', 'R', 'X', 'V');
  ImageDescriptionHandle desc = HostNewImageDescription(orxv, SInt16(d.w), SInt16(d.h), "ORX");
  HostDecompressionSessionRef session = nullptr;
  CVPixelBufferRef dest = nullptr;
  Bytes out;
  if (HostDecompressionSessionCreate(desc, &session) == noErr &&
      HostDecompressionSessionCreateDestination(session, &dest) == noErr &&
      HostDecompressionSessionDecodeFrame(session, frame.data(), SInt32(frame.size()), dest) == noErr) {
    CVPixelBufferLockBaseAddress(dest, 0);
    const auto* base = static_cast<const uint8_t*>(CVPixelBufferGetBaseAddress(dest));
    for (int y = 0; y < d.h; ++y, base += CVPixelBufferGetBytesPerRow(dest))
      out.insert(out.end(), base, base + d.w * 4);
    CVPixelBufferUnlockBaseAddress(dest, 0);
  }
  if (dest) CVPixelBufferRelease(dest);
  HostDecompressionSessionRelease(session);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  return out;
}

// A fresh folder, removed with what is in it.
struct TempDir {
  std::filesystem::path path;
  TempDir() {
    char pattern[] = "/tmp/orx-lib-XXXXXX";
    path = mkdtemp(pattern);
  }
  std::string operator/(const std::string& name) const { return path / name; }
  size_t Count() const { return size_t(std::distance(std::filesystem::directory_iterator(path), {})); }
  ~TempDir() { std::filesystem::remove_all(path); }
};

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// A movie of frames (w x h) with the given durations, at 600 units a second.
void WriteMovie(const std::string& path, Dim d, const std::vector<Bytes>& frames,
                const std::vector<int32_t>& durations) {
  orx_movie_writer* writer = nullptr;
  ASSERT_EQ(orx_movie_create(path.c_str(), d.w, d.h, 600, 0, &writer, nullptr, 0), ORX_OK);
  for (size_t i = 0; i < frames.size(); ++i)
    ASSERT_EQ(orx_movie_add_frame(writer, frames[i].data(), frames[i].size(), durations[i]), ORX_OK);
  char message[256];
  ASSERT_EQ(orx_movie_finish(writer, message, sizeof message), ORX_OK) << message;
}

}  // namespace

TEST(Identity, EncodeMakesTheCompressorsBytesInEveryByteOrder) {
  for (Dim d : kSizes) {
    const Bytes argb = Picture(d.w, d.h);
    for (const Kind& k : Kinds())
      for (int threads : {1, 4}) {
        if (k.core) continue;
        SCOPED_TRACE(k.Name(d) + " threads " + std::to_string(threads));
        orx_encode_settings s = k.s;
        s.threads = threads;
        const Bytes expected = ComponentEncode(s, threads == 1 ? 2 : 4, argb, d);  // popup: 1x, 4x
        ASSERT_FALSE(expected.empty());
        orx_encoder* e = nullptr;
        ASSERT_EQ(orx_encoder_create(&s, &e), ORX_OK);
        EXPECT_TRUE(LibEncode(e, s, argb, d) == expected);
        if (threads == 1) {  // the other orders, one of them with padded rows
          EXPECT_TRUE(LibEncode(e, s, Reorder(argb, ORX_PIXEL_RGBA), d, ORX_PIXEL_RGBA) == expected);
          const size_t stride = d.w * 4u + 20;
          const Bytes bgra = Spaced(Reorder(argb, ORX_PIXEL_BGRA), d.w, d.h, stride, 0x5A);
          EXPECT_TRUE(LibEncode(e, s, bgra, d, ORX_PIXEL_BGRA, stride) == expected);
        }
        orx_encoder_destroy(e);
      }
  }
}

// Decoded pixels and textures of every kind of frame, on one decoder whose
// storage grows and is reused from size to size.
TEST(Identity, DecodeAndTextureGiveTheDecompressorsPixels) {
  orx_decoder* dec = nullptr;
  ASSERT_EQ(orx_decoder_create(&dec), ORX_OK);
  for (Dim d : kSizes)
    for (const Kind& k : Kinds()) {
      SCOPED_TRACE(k.Name(d));
      const Bytes& frame = Frame(k, d);
      const Bytes expected = ComponentDecode(frame, d);
      ASSERT_FALSE(expected.empty());
      EXPECT_TRUE(LibDecode(dec, frame, d) == expected);
      const Bytes rgba = LibDecode(dec, frame, d, ORX_PIXEL_RGBA);
      EXPECT_TRUE(rgba == Reorder(expected, ORX_PIXEL_RGBA));
      // Padded rows in a buffer of exactly the size asked: the padding keeps its bytes.
      const size_t stride = d.w * 4u + 12;
      Bytes spaced(orx_pixels_size(d.w, d.h, stride), 0xAB);
      ASSERT_EQ(orx_decode_rgba(dec, frame.data(), frame.size(), d.w, d.h, ORX_PIXEL_BGRA, spaced.data(),
                                spaced.size(), stride),
                ORX_OK);
      EXPECT_TRUE(spaced == Spaced(Reorder(expected, ORX_PIXEL_BGRA), d.w, d.h, stride, 0xAB));

      orx_frame_props p{};
      ASSERT_EQ(orx_frame_info(frame.data(), frame.size(), d.w, d.h, &p), ORX_OK);
      // The compressor keeps alpha in DXT5 blocks whatever the gradients setting.
      const orx_variant variant = k.core ? ORX_VARIANT_DXT24_ALPHA
                                  : k.s.keep_alpha ? ORX_VARIANT_DXT5
                                  : k.s.preserve_gradients ? ORX_VARIANT_DXT24 : ORX_VARIANT_DXT1;
      EXPECT_EQ(std::tie(p.variant, p.has_alpha, p.frame_size),
                std::make_tuple(variant, k.s.keep_alpha, int64_t(frame.size())));
      size_t need = 1;
      ASSERT_EQ(orx_frame_texture_size(frame.data(), frame.size(), d.w, d.h, &need), ORX_OK);
      Bytes buffer(need);
      orx_texture t{};
      ASSERT_EQ(orx_frame_texture(dec, frame.data(), frame.size(), d.w, d.h, need ? buffer.data() : nullptr, need, &t),
                ORX_OK);
      const int tw = (d.w + 3) / 4 * 4, th = (d.h + 3) / 4 * 4;
      EXPECT_EQ(std::tie(t.width, t.height, t.tex_width, t.tex_height), std::tie(d.w, d.h, tw, th));
      if (variant == ORX_VARIANT_DXT24 || variant == ORX_VARIANT_DXT24_ALPHA) {  // RGBA: orx_decode_rgba's picture
        EXPECT_EQ(std::tie(t.compressed, t.gl_internal_format, t.gl_format, t.gl_type),
                  std::make_tuple(0, ORX_GL_RGBA8, ORX_GL_RGBA, ORX_GL_UNSIGNED_BYTE));
        const size_t bytes = tw * th * 4u;
        ASSERT_EQ(std::tie(need, t.size), std::tie(bytes, bytes));
        ASSERT_EQ(t.data, buffer.data());
        for (int y = 0; y < d.h; ++y)
          ASSERT_EQ(std::memcmp(&buffer[y * tw * 4u], &rgba[y * d.w * 4u], d.w * 4u), 0) << y;
        continue;
      }
      const uint32_t gl = k.s.keep_alpha ? ORX_GL_COMPRESSED_RGBA_S3TC_DXT5_EXT : ORX_GL_COMPRESSED_RGBA_S3TC_DXT1_EXT;
      EXPECT_EQ(std::tie(t.compressed, t.gl_internal_format, t.gl_format, t.gl_type), std::make_tuple(1, gl, 0u, 0u));
      ASSERT_EQ(t.size, size_t(tw / 4) * (th / 4) * (k.s.keep_alpha ? 16 : 8));
      if (!p.is_lzf) {  // raw: the blocks where they lie, at the end of the frame
        EXPECT_EQ(need, 0u);
        EXPECT_EQ(static_cast<const uint8_t*>(t.data) + t.size, frame.data() + frame.size());
        continue;
      }
      // Packed: unpacked into the buffer, the raw frame's blocks.
      EXPECT_EQ(std::tie(need, t.data), std::make_tuple(t.size, static_cast<const void*>(buffer.data())));
      Kind raw = k;
      raw.s.skip_lzf = 1;
      orx_texture r{};
      ASSERT_EQ(orx_frame_texture(dec, Frame(raw, d).data(), Frame(raw, d).size(), d.w, d.h, nullptr, 0, &r), ORX_OK);
      ASSERT_EQ(r.size, t.size);
      EXPECT_EQ(std::memcmp(r.data, t.data, t.size), 0);
    }
  orx_decoder_destroy(dec);
}

TEST(Errors, BadArgumentsAndSmallBuffers) {
  const Dim d{37, 21};
  const Bytes& frame = Frame(Kinds()[0], d);  // DXT24+LZF
  const size_t row = d.w * 4u;
  Bytes out(row * d.h);
  EXPECT_EQ(orx_pixels_size(d.w, d.h, row + 8), (row + 8) * (d.h - 1) + row);
  EXPECT_EQ(orx_pixels_size(d.w, d.h, row - 1), 0u);
  EXPECT_EQ(orx_pixels_size(32768, 1, 32768 * 4), 0u);
  orx_decoder* dec = nullptr;
  ASSERT_EQ(orx_decoder_create(&dec), ORX_OK);
  const auto decode = [&](orx_decoder* de, const void* f, int w, int fmt, void* dest, size_t size, size_t stride) {
    return orx_decode_rgba(de, f, frame.size(), w, d.h, orx_pixel_format(fmt), dest, size, stride);
  };
  const int rgba = ORX_PIXEL_RGBA;
  EXPECT_EQ(decode(nullptr, frame.data(), d.w, rgba, out.data(), out.size(), row), ORX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(decode(dec, nullptr, d.w, rgba, out.data(), out.size(), row), ORX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(decode(dec, frame.data(), d.w, rgba, nullptr, out.size(), row), ORX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(decode(dec, frame.data(), 32768, rgba, out.data(), out.size(), row), ORX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(decode(dec, frame.data(), d.w, 4, out.data(), out.size(), row), ORX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(decode(dec, frame.data(), d.w, rgba, out.data(), out.size(), row - 4), ORX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(decode(dec, frame.data(), d.w, rgba, out.data(), out.size() - 1, row), ORX_ERROR_BUFFER_TOO_SMALL);
  EXPECT_EQ(orx_frame_info(nullptr, frame.size(), d.w, d.h, nullptr), ORX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(orx_frame_info(frame.data(), frame.size(), d.w, 32768, nullptr), ORX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(orx_frame_texture_size(frame.data(), frame.size(), d.w, d.h, nullptr), ORX_ERROR_INVALID_ARGUMENT);
  orx_texture t{};
  EXPECT_EQ(orx_frame_texture(nullptr, frame.data(), frame.size(), d.w, d.h, out.data(), out.size(), &t),
            ORX_ERROR_INVALID_ARGUMENT);
  for (const Bytes* f : {&frame, &Frame(Kinds()[5], d)}) {  // DXT24 pixels, unpacked DXT5 blocks
    size_t need = 0;
    ASSERT_EQ(orx_frame_texture_size(f->data(), f->size(), d.w, d.h, &need), ORX_OK);
    Bytes small(need - 1);
    EXPECT_EQ(orx_frame_texture(dec, f->data(), f->size(), d.w, d.h, small.data(), small.size(), &t),
              ORX_ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(orx_frame_texture(dec, f->data(), f->size(), d.w, d.h, nullptr, 0, &t), ORX_ERROR_INVALID_ARGUMENT);
  }
  orx_decoder_destroy(dec);

  orx_encoder* enc = nullptr;
  EXPECT_EQ(orx_encoder_create(nullptr, &enc), ORX_ERROR_INVALID_ARGUMENT);
  const orx_encode_settings bad{0, 1, 0, 33}, s{0, 1, 0, 1};
  EXPECT_EQ(orx_encoder_create(&bad, &enc), ORX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(enc, nullptr);
  EXPECT_EQ(orx_max_encoded_size(d.w, d.h, &bad), 0u);
  ASSERT_EQ(orx_encoder_create(&s, &enc), ORX_OK);
  const Bytes argb = Picture(d.w, d.h);
  Bytes dest(orx_max_encoded_size(d.w, d.h, &s));
  size_t n = 1;
  const auto encode = [&](const void* px, int w, size_t stride, int fmt, size_t size) {
    return orx_encode(enc, px, w, d.h, stride, orx_pixel_format(fmt), dest.data(), size, &n);
  };
  EXPECT_EQ(encode(nullptr, d.w, row, ORX_PIXEL_ARGB, dest.size()), ORX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(encode(argb.data(), 0, row, ORX_PIXEL_ARGB, dest.size()), ORX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(encode(argb.data(), d.w, row - 1, ORX_PIXEL_ARGB, dest.size()), ORX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(encode(argb.data(), d.w, row, 7, dest.size()), ORX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(encode(argb.data(), d.w, row, ORX_PIXEL_ARGB, dest.size() - 1), ORX_ERROR_BUFFER_TOO_SMALL);
  EXPECT_EQ(n, 0u);
  orx_encoder_destroy(enc);
}

// Frames that fail: a cut header, and packed data whose header passes but
// which does not unpack to the picture; every call refuses both, the size
// queries before the caller sizes a buffer for the frame.
TEST(Errors, BadFrames) {
  const Dim d{64, 48};
  orx_decoder* dec = nullptr;
  ASSERT_EQ(orx_decoder_create(&dec), ORX_OK);
  Bytes out(d.w * d.h * 4u);
  orx_texture t{};
  size_t need = 0;
  for (const Kind& k : Kinds()) {
    if (k.s.skip_lzf) continue;
    SCOPED_TRACE(k.Name(d));
    Bytes frame = Frame(k, d);
    orx_frame_props p{};
    ASSERT_EQ(orx_frame_info(frame.data(), frame.size(), d.w, d.h, &p), ORX_OK);
    ASSERT_EQ(std::tie(p.is_lzf, p.layer_size), std::make_tuple(1, int64_t{0}));  // the packed data ends the frame
    EXPECT_EQ(orx_frame_info(frame.data(), 20, d.w, d.h, &p), ORX_ERROR_BAD_FRAME);
    EXPECT_EQ(orx_frame_texture_size(frame.data(), 20, d.w, d.h, &need), ORX_ERROR_BAD_FRAME);
    EXPECT_EQ(orx_decode_rgba(dec, frame.data(), 20, d.w, d.h, ORX_PIXEL_RGBA, out.data(), out.size(), d.w * 4),
              ORX_ERROR_BAD_FRAME);
    // Zeros are one-byte literal runs: half the packed size once unpacked.
    ASSERT_EQ(orx_frame_texture_size(frame.data(), frame.size(), d.w, d.h, &need), ORX_OK);
    std::memset(&frame[frame.size() - p.data_size], 0, p.data_size);
    EXPECT_EQ(orx_frame_info(frame.data(), frame.size(), d.w, d.h, &p), ORX_ERROR_BAD_FRAME);
    EXPECT_EQ(orx_frame_texture_size(frame.data(), frame.size(), d.w, d.h, &need), ORX_ERROR_BAD_FRAME);
    Bytes buffer(need);
    EXPECT_EQ(orx_frame_texture(dec, frame.data(), frame.size(), d.w, d.h, buffer.data(), need, &t),
              ORX_ERROR_BAD_FRAME);
    EXPECT_EQ(orx_decode_rgba(dec, frame.data(), frame.size(), d.w, d.h, ORX_PIXEL_RGBA, out.data(), out.size(),
                              d.w * 4),
              ORX_ERROR_BAD_FRAME);
  }
  orx_decoder_destroy(dec);
}

TEST(Errors, StringsNameEachError) {
  std::set<std::string> texts;
  for (int e = ORX_OK; e <= ORX_ERROR_NO_SOUND; ++e) texts.insert(orx_error_string(orx_error(e)));
  EXPECT_EQ(texts.size(), size_t(ORX_ERROR_NO_SOUND) + 1);
  EXPECT_EQ(texts.count(""), 0u);
  const char* unknown = orx_error_string(orx_error(42));
  ASSERT_NE(unknown, nullptr);
  EXPECT_NE(unknown[0], '\0');
  EXPECT_EQ(texts.count(unknown), 0u);
}

TEST(Movies, FramesComeBackWithTheirTimesAndBytes) {
  const TempDir dir;
  const Dim d{37, 21};
  std::vector<Bytes> frames;  // DXT24+LZF, DXT5, DXT1+LZF, DXT5
  for (int i = 0; i < 4; ++i) frames.push_back(LibEncode(Kinds()[i * 2 + i % 2].s, Picture(d.w, d.h, i), d));
  const std::vector<int32_t> durations{1, 7, 3, 20};
  const std::string path = dir / "movie.mov";
  WriteMovie(path, d, frames, durations);

  orx_movie_reader* reader = nullptr;
  ASSERT_EQ(orx_movie_open(path.c_str(), &reader, nullptr, 0), ORX_OK);
  orx_movie_props props{};
  ASSERT_EQ(orx_movie_get_props(reader, &props), ORX_OK);
  size_t largest = 0;
  for (const Bytes& f : frames) largest = std::max(largest, f.size());
  EXPECT_EQ(std::tie(props.width, props.height, props.frame_count, props.time_scale, props.duration,
                     props.max_frame_size),
            std::make_tuple(d.w, d.h, 4, 600, int64_t{31}, largest));
  int64_t time = 0;
  for (int32_t i = 0; i < 4; ++i) {
    orx_movie_frame f{};
    ASSERT_EQ(orx_movie_get_frame(reader, i, &f), ORX_OK);
    EXPECT_EQ(std::tie(f.time, f.duration, f.size), std::make_tuple(time, durations[i], frames[i].size()));
    time += durations[i];
    Bytes got(props.max_frame_size);
    size_t n = 0;
    ASSERT_EQ(orx_movie_read_frame(reader, i, got.data(), got.size(), &n), ORX_OK);
    got.resize(n);
    EXPECT_TRUE(got == frames[i]) << i;
    EXPECT_EQ(orx_movie_read_frame(reader, i, got.data(), n - 1, &n), ORX_ERROR_BUFFER_TOO_SMALL);
  }
  orx_movie_frame f{};
  EXPECT_EQ(orx_movie_get_frame(reader, 4, &f), ORX_ERROR_INVALID_ARGUMENT);
  orx_movie_close(reader);

  // A frame that fails the check is refused with the reason; the movie keeps
  // the frames before it.
  const std::string second = dir / "second.mov";
  orx_movie_writer* writer = nullptr;
  ASSERT_EQ(orx_movie_create(second.c_str(), d.w, d.h, 25, 0, &writer, nullptr, 0), ORX_OK);
  ASSERT_EQ(orx_movie_add_frame(writer, frames[3].data(), frames[3].size(), 1), ORX_OK);
  EXPECT_EQ(orx_movie_add_frame(writer, frames[3].data(), frames[3].size() - 1, 1), ORX_ERROR_BAD_FRAME);
  const std::string why = orx_movie_writer_message(writer);
  EXPECT_EQ(why.rfind("frame 2: ", 0), 0u) << why;
  EXPECT_GT(why.size(), std::string("frame 2: ").size());
  ASSERT_EQ(orx_movie_finish(writer, nullptr, 0), ORX_OK);
  ASSERT_EQ(orx_movie_open(second.c_str(), &reader, nullptr, 0), ORX_OK);
  ASSERT_EQ(orx_movie_get_props(reader, &props), ORX_OK);
  EXPECT_EQ(props.frame_count, 1);
  orx_movie_close(reader);
}

// Sound written with the pictures comes back by any range, in every sample
// format; the program's reader agrees; ranges and formats out of bounds are
// refused with words; a movie without sound says so.
TEST(Movies, SoundComesBackByRangeBesideThePictures) {
  const TempDir dir;
  const Dim d{37, 21};
  const Bytes frame = LibEncode(Kinds()[0].s, Picture(d.w, d.h, 1), d);
  for (const orx_sample_format sf : {ORX_SAMPLE_S16, ORX_SAMPLE_S24, ORX_SAMPLE_F32}) {
    const orx_sound_format format{44100, 3, sf};
    const size_t fb = orx_sound_frame_size(&format);
    ASSERT_EQ(fb, size_t(sf / 8 * 3));
    const std::string path = dir / ("sound" + std::to_string(int(sf)) + ".mov");
    orx_movie_writer* writer = nullptr;
    ASSERT_EQ(orx_movie_create(path.c_str(), d.w, d.h, 30000, 0, &writer, nullptr, 0), ORX_OK);
    ASSERT_EQ(orx_movie_add_sound_track(writer, &format), ORX_OK);
    EXPECT_EQ(orx_movie_add_sound_track(writer, &format), ORX_ERROR_INVALID_ARGUMENT);
    // 30 frames of 1001 units and their sound (1471 or 1472 frames each): 44144.
    Bytes pcm;
    int64_t written = 0;
    for (int i = 0; i < 30; ++i) {
      ASSERT_EQ(orx_movie_add_frame(writer, frame.data(), frame.size(), 1001), ORX_OK);
      const int64_t until = (int64_t(i + 1) * 1001 * 44100 + 15000) / 30000;
      Bytes piece(size_t(until - written) * fb);
      for (size_t b = 0; b < piece.size(); ++b) piece[b] = uint8_t((size_t(written) * fb + b) * 131 >> 3);
      ASSERT_EQ(orx_movie_add_sound(writer, piece.data(), until - written), ORX_OK);
      pcm.insert(pcm.end(), piece.begin(), piece.end());
      written = until;
    }
    ASSERT_EQ(orx_movie_finish(writer, nullptr, 0), ORX_OK);

    orx_movie_reader* reader = nullptr;
    ASSERT_EQ(orx_movie_open(path.c_str(), &reader, nullptr, 0), ORX_OK);
    orx_sound_format got{};
    int64_t frames = 0;
    ASSERT_EQ(orx_movie_get_sound(reader, &got, &frames), ORX_OK);
    EXPECT_EQ(std::tie(got.sample_rate, got.channels, got.sample_format), std::make_tuple(44100, 3, sf));
    ASSERT_EQ(frames, written);
    // Ranges across the writer's half-second chunks, at the ends and empty.
    for (const auto& [first, count] : {std::pair<int64_t, int64_t>{0, frames}, {22049, 2}, {22050, 1}, {frames - 1, 1},
                                       {30000, 14144}, {frames, 0}, {5, 0}}) {
      Bytes out(size_t(count) * fb + 1, 0xEE);
      ASSERT_EQ(orx_movie_read_sound(reader, first, count, out.data(), out.size()), ORX_OK) << first << "+" << count;
      EXPECT_TRUE(std::equal(out.begin(), out.end() - 1, pcm.begin() + long(first) * long(fb))) << first << "+" << count;
      EXPECT_EQ(out.back(), 0xEE) << "written past the range";
    }
    Bytes out(fb * 4);
    EXPECT_EQ(orx_movie_read_sound(reader, frames - 1, 2, out.data(), out.size()), ORX_ERROR_INVALID_ARGUMENT);
    EXPECT_NE(std::string(orx_movie_reader_message(reader)).find("the track has 44144"), std::string::npos)
        << orx_movie_reader_message(reader);
    EXPECT_EQ(orx_movie_read_sound(reader, -1, 1, out.data(), out.size()), ORX_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(orx_movie_read_sound(reader, 0, 5, out.data(), out.size()), ORX_ERROR_BUFFER_TOO_SMALL);
    orx_movie_close(reader);
    // The host's reader, which the orx program plays through, reads the same.
    HostMovieReaderRef host = nullptr;
    ASSERT_EQ(HostMovieReaderOpen(path.c_str(), 0, &host, nullptr, 0), noErr);
    HostSoundFormat hf{};
    SInt64 hostFrames = 0;
    ASSERT_TRUE(HostMovieReaderGetSound(host, &hf, &hostFrames));
    Bytes all(size_t(hostFrames) * fb);
    EXPECT_EQ(HostMovieReaderReadSound(host, 0, SInt32(hostFrames), all.data()), noErr);
    EXPECT_TRUE(all == pcm);
    HostMovieReaderClose(host);
  }
  const orx_sound_format bad[] = {{0, 2, ORX_SAMPLE_S16}, {48000, 65, ORX_SAMPLE_S16}, {48000, 2, orx_sample_format(8)}};
  orx_movie_writer* writer = nullptr;
  const std::string path = dir / "quiet.mov";
  ASSERT_EQ(orx_movie_create(path.c_str(), d.w, d.h, 600, 0, &writer, nullptr, 0), ORX_OK);
  for (const orx_sound_format& f : bad) {
    EXPECT_EQ(orx_sound_frame_size(&f), 0u);
    EXPECT_EQ(orx_movie_add_sound_track(writer, &f), ORX_ERROR_INVALID_ARGUMENT);
  }
  EXPECT_EQ(orx_movie_add_sound(writer, frame.data(), 1), ORX_ERROR_INVALID_ARGUMENT);  // no track
  EXPECT_NE(std::string(orx_movie_writer_message(writer)).find("no sound track"), std::string::npos);
  ASSERT_EQ(orx_movie_add_frame(writer, frame.data(), frame.size(), 20), ORX_OK);
  ASSERT_EQ(orx_movie_finish(writer, nullptr, 0), ORX_OK);
  orx_movie_reader* reader = nullptr;
  ASSERT_EQ(orx_movie_open(path.c_str(), &reader, nullptr, 0), ORX_OK);
  orx_sound_format got{};
  int64_t frames = 0;
  EXPECT_EQ(orx_movie_get_sound(reader, &got, &frames), ORX_ERROR_NO_SOUND);
  EXPECT_STREQ(orx_movie_reader_message(reader), "");
  orx_movie_close(reader);
}

// A damaged track before the pictures (its 'mdia' of size 0, as a damaged
// sound track may have) costs nothing of them.
TEST(Movies, ADamagedTrackBeforeThePicturesLeavesThemReadable) {
  const TempDir dir;
  const Dim d{37, 21};
  const Bytes& frame = Frame(Kinds()[2], d);
  const std::string path = dir / "movie.mov";
  WriteMovie(path, d, {frame, frame}, {1, 1});
  Bytes m = ReadFile(path);
  const char moovType[] = "moov", trakType[] = "trak";
  const size_t moov = size_t(std::search(m.begin(), m.end(), moovType, moovType + 4) - m.begin()) - 4;
  const size_t trak = size_t(std::search(m.begin() + long(moov) + 8, m.end(), trakType, trakType + 4) - m.begin()) - 4;
  ASSERT_LT(trak, m.size());
  const Bytes damaged = {0, 0, 0, 16, 't', 'r', 'a', 'k', 0, 0, 0, 0, 'm', 'd', 'i', 'a'};
  m.insert(m.begin() + long(trak), damaged.begin(), damaged.end());
  const uint32_t size = (uint32_t(m[moov]) << 24 | uint32_t(m[moov + 1]) << 16 | uint32_t(m[moov + 2]) << 8 | m[moov + 3]) + 16;
  for (int i = 0; i < 4; ++i) m[moov + size_t(i)] = uint8_t(size >> (24 - 8 * i));
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(m.data()), long(m.size()));

  orx_movie_reader* reader = nullptr;
  char message[256] = "";
  ASSERT_EQ(orx_movie_open(path.c_str(), &reader, message, sizeof message), ORX_OK) << message;
  orx_movie_props props{};
  ASSERT_EQ(orx_movie_get_props(reader, &props), ORX_OK);
  EXPECT_EQ(props.frame_count, 2);
  Bytes got(props.max_frame_size);
  size_t n = 0;
  ASSERT_EQ(orx_movie_read_frame(reader, 1, got.data(), got.size(), &n), ORX_OK);
  got.resize(n);
  EXPECT_TRUE(got == frame);
  orx_movie_close(reader);
}

TEST(Errors, MovieFiles) {
  const TempDir dir;
  const Dim d{37, 21};
  const Bytes& frame = Frame(Kinds()[2], d);  // raw: the frame's bytes lie in the file as they are
  char message[256] = "";
  orx_movie_reader* reader = nullptr;
  orx_movie_writer* writer = nullptr;
  EXPECT_EQ(orx_movie_open((dir / "missing.mov").c_str(), &reader, message, sizeof message), ORX_ERROR_IO);
  EXPECT_NE(message[0], '\0');
  EXPECT_EQ(orx_movie_create((dir / "no/such/folder.mov").c_str(), d.w, d.h, 600, 0, &writer, message, sizeof message),
            ORX_ERROR_IO);
  EXPECT_NE(message[0], '\0');
  // A folder is refused before any frame, even where replacing is allowed.
  EXPECT_EQ(orx_movie_create(dir.path.c_str(), d.w, d.h, 600, ORX_MOVIE_REPLACE, &writer, nullptr, 0),
            ORX_ERROR_IO);

  const std::string noise = dir / "noise.mov";
  std::mt19937 rng(7);
  Bytes random(4096);
  for (auto& b : random) b = uint8_t(rng());
  std::ofstream(noise, std::ios::binary).write(reinterpret_cast<const char*>(random.data()), random.size());
  EXPECT_EQ(orx_movie_open(noise.c_str(), &reader, message, sizeof message), ORX_ERROR_BAD_MOVIE);
  EXPECT_NE(message[0], '\0');

  // A path that is taken, and its file left as it was; replacing asked for,
  // the movie takes it.
  EXPECT_EQ(orx_movie_create(noise.c_str(), d.w, d.h, 600, 0, &writer, nullptr, 0), ORX_ERROR_EXISTS);
  EXPECT_EQ(writer, nullptr);
  EXPECT_TRUE(ReadFile(noise) == random);
  ASSERT_EQ(orx_movie_create(noise.c_str(), d.w, d.h, 600, ORX_MOVIE_REPLACE, &writer, nullptr, 0), ORX_OK);
  ASSERT_EQ(orx_movie_add_frame(writer, frame.data(), frame.size(), 1), ORX_OK);
  ASSERT_EQ(orx_movie_finish(writer, nullptr, 0), ORX_OK);
  ASSERT_EQ(orx_movie_open(noise.c_str(), &reader, nullptr, 0), ORX_OK);
  orx_movie_close(reader);

  ASSERT_EQ(orx_movie_create((dir / "empty.mov").c_str(), d.w, d.h, 600, 0, &writer, nullptr, 0), ORX_OK);
  EXPECT_EQ(orx_movie_finish(writer, message, sizeof message), ORX_ERROR_NO_FRAMES);
  EXPECT_NE(message[0], '\0');
  EXPECT_EQ(dir.Count(), 1u);  // noise.mov

  // The reader checks at open that every frame lies inside the file; a file
  // cut while it is open ends inside its last frame.
  const std::string cut = dir / "cut.mov";
  WriteMovie(cut, d, {frame, frame}, {1, 1});
  const Bytes file = ReadFile(cut);
  ASSERT_EQ(orx_movie_open(cut.c_str(), &reader, nullptr, 0), ORX_OK);
  const auto last = std::find_end(file.begin(), file.end(), frame.begin(), frame.end());
  ASSERT_NE(last, file.end());
  ASSERT_EQ(truncate(cut.c_str(), off_t(last - file.begin()) + off_t(frame.size() / 2)), 0);
  Bytes got(frame.size());
  size_t n = 0;
  EXPECT_EQ(orx_movie_read_frame(reader, 1, got.data(), got.size(), &n), ORX_ERROR_TRUNCATED);
  EXPECT_NE(orx_movie_reader_message(reader)[0], '\0');
  EXPECT_EQ(orx_movie_read_frame(reader, 0, got.data(), got.size(), &n), ORX_OK);
  EXPECT_TRUE(got == frame);
  orx_movie_close(reader);
}

// ---- File types ------------------------------------------------------------------------

// Only a regular file is ever replaced: a FIFO or a device at the path (here
// behind a link, as /dev/null itself would be for root) is refused at
// create, with or without replacing, and left as it was; one that appears
// while the movie is written is refused at finish, the movie kept under its
// temporary name. Opening a FIFO that no one writes returns at once.
TEST(FileTypes, OnlyARegularFileIsReplacedAndNoPathBlocks) {
  const TempDir dir;
  const Dim d{37, 21};
  const Bytes& frame = Frame(Kinds()[2], d);
  const std::string fifo = dir / "fifo.mov", device = dir / "null.mov";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(symlink("/dev/null", device.c_str()), 0);
  char message[256] = "";
  orx_movie_writer* writer = nullptr;
  for (const std::string& path : {fifo, device})
    for (int flags : {ORX_MOVIE_REPLACE, 0}) {
      SCOPED_TRACE(path + (flags ? " replacing" : ""));
      EXPECT_EQ(orx_movie_create(path.c_str(), d.w, d.h, 600, flags, &writer, message, sizeof message),
                ORX_ERROR_IO);
      EXPECT_EQ(writer, nullptr);
      EXPECT_NE(std::string(message).find("not a regular file"), std::string::npos) << message;
    }
  struct stat st {};
  ASSERT_EQ(stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  ASSERT_EQ(stat(device.c_str(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_EQ(dir.Count(), 2u);

  const std::string late = dir / "late.mov";
  ASSERT_EQ(orx_movie_create(late.c_str(), d.w, d.h, 600, ORX_MOVIE_REPLACE, &writer, nullptr, 0), ORX_OK);
  ASSERT_EQ(orx_movie_add_frame(writer, frame.data(), frame.size(), 1), ORX_OK);
  ASSERT_EQ(mkfifo(late.c_str(), 0600), 0);
  EXPECT_EQ(orx_movie_finish(writer, message, sizeof message), ORX_ERROR_EXISTS);
  EXPECT_NE(std::string(message).find("kept as"), std::string::npos) << message;
  ASSERT_EQ(stat(late.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(dir.Count(), 4u);  // and the movie beside it

  // Run on a thread, so that a blocking open fails the test rather than
  // hanging it: a writer opened afterwards releases it.
  for (const std::string& path : {fifo, std::string(dir.path)}) {
    auto opened = std::async(std::launch::async, [&] {
      orx_movie_reader* reader = nullptr;
      char words[256] = "";
      const orx_error e = orx_movie_open(path.c_str(), &reader, words, sizeof words);
      orx_movie_close(reader);
      return std::make_pair(e, std::string(words));
    });
    if (opened.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
      const int unblock = open(path.c_str(), O_WRONLY | O_NONBLOCK);
      opened.wait();
      if (unblock >= 0) close(unblock);
      FAIL() << path << ": opening waited for a writer";
    }
    const auto [e, words] = opened.get();
    EXPECT_EQ(e, ORX_ERROR_BAD_MOVIE) << path;
    EXPECT_NE(words.find("not a regular file"), std::string::npos) << words;
  }
}

// ---- Frame checks of a movie ------------------------------------------------------------

// A movie takes only frames a decoder of its size can read: a frame of a
// smaller picture (packed, so its header passes the size check), packed data
// that cannot unpack to the picture, and a frame whose packed layer is
// damaged are refused with the reason, and the frames the movie did take
// decode. The same frames are refused by every frame call, size queries
// included, so no caller sizes a buffer for them.
TEST(FrameChecks, AMovieTakesOnlyFramesADecoderOfItsSizeReads) {
  const TempDir dir;
  const Dim d{64, 48}, half{32, 48};
  const orx_encode_settings packed{0, 0, 0, 1}, raw{0, 0, 1, 1};  // DXT1 with and without LZF
  const Bytes smaller = LibEncode(packed, Picture(half.w, half.h), half);
  const Bytes good = LibEncode(packed, Picture(d.w, d.h), d);
  Bytes zeros = good;
  const ORXHeader gh = ReadORXHeader(good.data());
  ASSERT_EQ(gh.isLZF, 1);
  std::memset(&zeros[gh.headerSize], 0, size_t(gh.dataSize));
  // A raw frame with a 4x4 RGBA layer packed as two 32-byte literal runs,
  // then the same layer one byte short inside its last run.
  Bytes layered = LibEncode(raw, Picture(d.w, d.h), d);
  Bytes layer;
  for (int run = 0; run < 2; ++run) {
    layer.push_back(31);
    for (int i = 0; i < 32; ++i) layer.push_back(uint8_t(i * 7 + run));
  }
  ORXHeader lh = ReadORXHeader(layered.data());
  lh.secondIsLZF = 1;
  lh.secondWidth = lh.secondHeight = 4;
  lh.secondSize = int32_t(layer.size());
  WriteORXHeader(lh, layered.data());
  Bytes damagedLayer = layered;
  layered.insert(layered.end(), layer.begin(), layer.end());
  --lh.secondSize;
  WriteORXHeader(lh, damagedLayer.data());
  damagedLayer.insert(damagedLayer.end(), layer.begin(), layer.end() - 1);

  orx_decoder* dec = nullptr;
  ASSERT_EQ(orx_decoder_create(&dec), ORX_OK);
  Bytes out(d.w * d.h * 4u);
  size_t need = 0;
  orx_movie_writer* writer = nullptr;
  const std::string path = dir / "checked.mov";
  ASSERT_EQ(orx_movie_create(path.c_str(), d.w, d.h, 600, 0, &writer, nullptr, 0), ORX_OK);
  const struct {
    const char* what;
    const Bytes* frame;
    const char* reason;  // null: taken
  } cases[] = {
      {"good", &good, nullptr},
      {"a 32x48 picture", &smaller, "packed block data does not unpack to the image's blocks"},
      {"zeros marked LZF", &zeros, "packed block data does not unpack to the image's blocks"},
      {"a layer", &layered, nullptr},
      {"a damaged layer", &damagedLayer, "packed layer data does not unpack to its dimensions"},
  };
  int taken = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes& f = *c.frame;
    const orx_error want = c.reason ? ORX_ERROR_BAD_FRAME : ORX_OK;
    EXPECT_EQ(orx_frame_info(f.data(), f.size(), d.w, d.h, nullptr), want);
    EXPECT_EQ(orx_frame_texture_size(f.data(), f.size(), d.w, d.h, &need), want);
    EXPECT_EQ(orx_decode_rgba(dec, f.data(), f.size(), d.w, d.h, ORX_PIXEL_RGBA, out.data(), out.size(), d.w * 4u),
              want);
    EXPECT_EQ(orx_movie_add_frame(writer, f.data(), f.size(), 1), want);
    if (c.reason == nullptr) {
      ++taken;
      continue;
    }
    const std::string why = orx_movie_writer_message(writer);
    EXPECT_EQ(why, "frame " + std::to_string(taken + 1) + ": not an ORX frame of 64x48: " + c.reason);
  }
  char message[256] = "";
  ASSERT_EQ(orx_movie_finish(writer, message, sizeof message), ORX_OK) << message;
  orx_movie_reader* reader = nullptr;
  ASSERT_EQ(orx_movie_open(path.c_str(), &reader, nullptr, 0), ORX_OK);
  orx_movie_props props{};
  ASSERT_EQ(orx_movie_get_props(reader, &props), ORX_OK);
  ASSERT_EQ(props.frame_count, taken);
  for (int32_t i = 0; i < taken; ++i) {
    Bytes f(props.max_frame_size);
    size_t n = 0;
    ASSERT_EQ(orx_movie_read_frame(reader, i, f.data(), f.size(), &n), ORX_OK);
    EXPECT_EQ(orx_decode_rgba(dec, f.data(), n, d.w, d.h, ORX_PIXEL_RGBA, out.data(), out.size(), d.w * 4u), ORX_OK);
  }
  orx_movie_close(reader);
  orx_decoder_destroy(dec);
}

// The largest picture's frame of zeros marked LZF (6.1 MB, enough for the
// 88:1 bound over its 512 MiB of blocks) is refused by the calls that size
// a caller's buffers and by a movie, without memory for the picture.
TEST(FrameChecks, ALargePicturesDamagedFrameIsRefusedBeforeAnyBufferIsSized) {
  const int side = 32767;
  const int64_t blocks = int64_t{(side + 3) / 4} * ((side + 3) / 4) * 8;
  ORXHeader h;
  h.headerSize = 28;
  h.version = 1;
  h.isLZF = 1;
  h.dataSize = int32_t((blocks + 87) / 88);
  Bytes frame(28 + size_t(h.dataSize), 0);
  WriteORXHeader(h, frame.data());
  size_t need = 0;
  EXPECT_EQ(orx_frame_info(frame.data(), frame.size(), side, side, nullptr), ORX_ERROR_BAD_FRAME);
  EXPECT_EQ(orx_frame_texture_size(frame.data(), frame.size(), side, side, &need), ORX_ERROR_BAD_FRAME);
  const TempDir dir;
  orx_movie_writer* writer = nullptr;
  ASSERT_EQ(orx_movie_create((dir / "big.mov").c_str(), side, side, 600, 0, &writer, nullptr, 0), ORX_OK);
  EXPECT_EQ(orx_movie_add_frame(writer, frame.data(), frame.size(), 1), ORX_ERROR_BAD_FRAME);
  EXPECT_EQ(orx_movie_finish(writer, nullptr, 0), ORX_ERROR_NO_FRAMES);
}

// Handles on two threads at once give what one thread alone gives, and so
// do two threads sharing one decoder and one encoder.
namespace {

struct Job {
  orx_encode_settings settings;
  Dim dim;
  std::vector<Bytes> pictures, frames, pixels;  // frames and pixels: one thread's
};

// Encodes the job's pictures on a fresh encoder and decodes frames of size
// decodeDim (the job's own when none are given) on a fresh decoder.
void EncodeAndDecode(const Job& j, const std::vector<Bytes>* decodeFrames, Dim decodeDim, std::vector<Bytes>* frames,
                     std::vector<Bytes>* pixels) {
  orx_encoder* e = nullptr;
  orx_decoder* dec = nullptr;
  if (orx_encoder_create(&j.settings, &e) == ORX_OK && orx_decoder_create(&dec) == ORX_OK) {
    for (const Bytes& p : j.pictures) frames->push_back(LibEncode(e, j.settings, p, j.dim));
    for (const Bytes& f : decodeFrames ? *decodeFrames : *frames)
      pixels->push_back(LibDecode(dec, f, decodeDim, ORX_PIXEL_BGRA));
  }
  orx_encoder_destroy(e);
  orx_decoder_destroy(dec);
}

Job MakeJob(orx_encode_settings s, Dim d, uint32_t seed) {
  Job j{s, d, {}, {}, {}};
  for (uint32_t i = 0; i < 3; ++i) j.pictures.push_back(Picture(d.w, d.h, seed + i));
  EncodeAndDecode(j, nullptr, d, &j.frames, &j.pixels);
  return j;
}

}  // namespace

TEST(Threads, HandlesOnTwoThreadsMatchOneThread) {
  // DXT24 not in whole blocks (the decoder's padded picture), packed DXT5.
  const Job a = MakeJob({0, 1, 0, 2}, {70, 45}, 10), b = MakeJob({1, 0, 0, 3}, {64, 48}, 20);
  ASSERT_EQ(a.pixels.size() + b.pixels.size(), 6u);
  // Each thread encodes its pictures and decodes the other's frames.
  std::vector<Bytes> framesA, framesB, pixelsA, pixelsB;
  std::thread one(EncodeAndDecode, std::cref(a), &b.frames, b.dim, &framesA, &pixelsB);
  std::thread two(EncodeAndDecode, std::cref(b), &a.frames, a.dim, &framesB, &pixelsA);
  one.join();
  two.join();
  EXPECT_TRUE(framesA == a.frames && framesB == b.frames);
  EXPECT_TRUE(pixelsA == a.pixels && pixelsB == b.pixels);
}

TEST(Threads, OneDecoderAndOneEncoderSharedByTwoThreads) {
  const Job a = MakeJob({0, 1, 0, 2}, {70, 45}, 30), b = MakeJob({0, 1, 0, 2}, {37, 21}, 40);
  orx_decoder* dec = nullptr;
  orx_encoder* enc = nullptr;
  ASSERT_EQ(orx_decoder_create(&dec), ORX_OK);
  ASSERT_EQ(orx_encoder_create(&a.settings, &enc), ORX_OK);
  // The decoder takes packed DXT24 frames of two sizes, neither whole blocks
  // (its unpacked blocks, its padded picture), then the encoder one picture
  // in two byte orders (its ARGB copy): one handle at a time, so that nothing
  // else orders the threads' calls.
  const Bytes rgba = Reorder(a.pictures[0], ORX_PIXEL_RGBA), bgra = Reorder(a.pictures[0], ORX_PIXEL_BGRA);
  int wrong[2] = {0, 0};
  const auto decode = [&](int k, const Job& j) {
    for (int i = 0; i < 20; ++i) wrong[k] += LibDecode(dec, j.frames[1], j.dim, ORX_PIXEL_BGRA) != j.pixels[1];
  };
  const auto encode = [&](int k, const Bytes& input, orx_pixel_format f) {
    for (int i = 0; i < 10; ++i) wrong[k] += LibEncode(enc, a.settings, input, a.dim, f) != a.frames[0];
  };
  std::thread one(decode, 0, std::cref(a)), two(decode, 1, std::cref(b));
  one.join();
  two.join();
  std::thread three(encode, 0, std::cref(rgba), ORX_PIXEL_RGBA), four(encode, 1, std::cref(bgra), ORX_PIXEL_BGRA);
  three.join();
  four.join();
  EXPECT_EQ(wrong[0] + wrong[1], 0);
  orx_encoder_destroy(enc);
  orx_decoder_destroy(dec);
}
