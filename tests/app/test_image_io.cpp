// Picture I/O of the orx program: PNG decoding of every colour type and bit
// depth, damaged PNGs, PNG writing, YUV4MPEG2 streams, BT.709 conversion and
// contact-sheet labels.
#include <gtest/gtest.h>
#include <spng.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "ImageIO.h"

namespace orxapp {
namespace {

using Bytes = std::vector<uint8_t>;

// ---- PNG files made with the spng encoder ---------------------------------------

struct PngCase {
  uint8_t colorType, depth, interlace;
  bool trns;
};

int Channels(uint8_t colorType) { return colorType == 2 ? 3 : colorType == 4 ? 2 : colorType == 6 ? 4 : 1; }

uint8_t Scale8(uint32_t v, int depth) {
  return uint8_t(depth == 16 ? (v * 255 + 32767) / 65535 : v * 255 / ((1u << depth) - 1));
}

// Builds random samples for the case, the PNG holding them, and the ARGB
// pixels a reader must produce.
Bytes MakePng(const PngCase& c, int w, int h, Bytes* expected, uint32_t seed) {
  std::mt19937 rng(seed);
  const int ch = Channels(c.colorType), maxv = (1 << c.depth) - 1;
  const size_t stride = (size_t(w) * ch * c.depth + 7) / 8;
  Bytes raw(stride * h, 0);
  expected->assign(size_t(w) * h * 4, 0);
  spng_plte plte{};
  plte.n_entries = uint32_t(maxv + 1 < 256 ? maxv + 1 : 256);
  for (uint32_t i = 0; i < plte.n_entries; ++i) plte.entries[i] = {uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0};
  spng_trns trns{};
  trns.gray = uint16_t(maxv / 3);
  trns.n_type3_entries = plte.n_entries / 2;
  for (uint32_t i = 0; i < trns.n_type3_entries; ++i) trns.type3_alpha[i] = uint8_t(rng());
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint32_t v[4];
      for (int k = 0; k < ch; ++k) {
        v[k] = rng() & uint32_t(maxv);
        if (c.trns && (x + y) % 3 == 0) v[k] = trns.gray;  // some pixels hit the grey key
        const size_t bit = size_t(x * ch + k) * c.depth;
        uint8_t* p = raw.data() + y * stride + bit / 8;
        if (c.depth == 16) {
          const uint16_t s = uint16_t(v[k]);
          std::memcpy(p, &s, 2);
        } else {
          *p |= uint8_t(v[k] << (8 - c.depth - bit % 8));
        }
      }
      uint8_t* e = expected->data() + (size_t(y) * w + x) * 4;
      if (c.colorType == 3) {
        const spng_plte_entry& pe = plte.entries[v[0]];
        e[0] = c.trns && v[0] < trns.n_type3_entries ? trns.type3_alpha[v[0]] : 255;
        e[1] = pe.red, e[2] = pe.green, e[3] = pe.blue;
      } else if (ch <= 2) {
        e[1] = e[2] = e[3] = Scale8(v[0], c.depth);
        e[0] = ch == 2 ? Scale8(v[1], c.depth) : c.trns && v[0] == trns.gray ? 0 : 255;
      } else {
        for (int k = 0; k < 3; ++k) e[1 + k] = Scale8(v[k], c.depth);
        e[0] = ch == 4 ? Scale8(v[3], c.depth) : 255;
      }
    }
  }
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
  spng_ihdr ihdr{uint32_t(w), uint32_t(h), c.depth, c.colorType, 0, 0, c.interlace};
  spng_set_ihdr(ctx, &ihdr);
  if (c.colorType == 3) spng_set_plte(ctx, &plte);
  if (c.trns) spng_set_trns(ctx, &trns);
  const int rc = spng_encode_image(ctx, raw.data(), raw.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
  EXPECT_EQ(rc, 0) << spng_strerror(rc);
  size_t len = 0;
  int err = 0;
  uint8_t* buf = static_cast<uint8_t*>(spng_get_png_buffer(ctx, &len, &err));
  Bytes png(buf, buf + (buf ? len : 0));
  std::free(buf);
  spng_ctx_free(ctx);
  return png;
}

uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

void Put32(uint8_t* p, uint32_t v) { p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v); }

TEST(PngRead, EveryColourTypeAndDepthGivesExactARGB) {
  const PngCase cases[] = {
      {0, 1, 0, false}, {0, 2, 0, false}, {0, 4, 0, false}, {0, 8, 0, false}, {0, 16, 0, false}, {0, 8, 0, true},
      {4, 8, 0, false}, {4, 16, 0, false}, {2, 8, 0, false}, {2, 16, 0, false}, {6, 8, 0, false}, {6, 16, 0, false},
      {3, 8, 0, false}, {3, 8, 0, true},   {3, 2, 0, true},   {2, 8, 1, false}, {4, 16, 1, false}, {0, 1, 1, false},
  };
  for (const PngCase& c : cases) {
    SCOPED_TRACE("colour type " + std::to_string(c.colorType) + ", depth " + std::to_string(c.depth) +
                 (c.trns ? ", tRNS" : "") + (c.interlace ? ", interlaced" : ""));
    Bytes expected;
    const Bytes png = MakePng(c, 13, 11, &expected, c.colorType * 100u + c.depth);
    ImageARGB image;
    std::string error;
    ASSERT_TRUE(ReadPNGFromMemory(png.data(), png.size(), &image, &error)) << error;
    EXPECT_EQ(image.width, 13);
    EXPECT_EQ(image.height, 11);
    EXPECT_EQ(image.hasAlpha, c.colorType == 4 || c.colorType == 6 || c.trns);
    EXPECT_EQ(image.pixels, expected);
  }
}

TEST(PngRead, DamagedInputsFailWithAMessage) {
  Bytes expected;
  const Bytes png = MakePng({2, 8, 0, false}, 32, 32, &expected, 7);
  ASSERT_GT(png.size(), 100u);
  size_t idat = 8;  // offset of the IDAT chunk
  while (idat + 8 < png.size() && std::memcmp(&png[idat + 4], "IDAT", 4) != 0) {
    idat += 12 + (size_t(png[idat]) << 24 | size_t(png[idat + 1]) << 16 | size_t(png[idat + 2]) << 8 | png[idat + 3]);
  }
  ASSERT_LT(idat + 8, png.size());
  const size_t idatEnd = png.size() - 12;  // IEND follows the only IDAT
  ImageARGB image;
  std::string error;

  const char text[] = "this is certainly not a picture";
  EXPECT_FALSE(ReadPNGFromMemory(text, sizeof text, &image, &error));
  EXPECT_EQ(error, "not a PNG file");
  EXPECT_FALSE(ReadPNGFromMemory(png.data(), 0, &image, &error));

  for (size_t cut : {size_t(4), size_t(8), size_t(20), size_t(33), idat + 4, idat + 20, (idat + idatEnd) / 2, idatEnd - 5}) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    error.clear();
    EXPECT_FALSE(ReadPNGFromMemory(png.data(), cut, &image, &error));
    EXPECT_EQ(error.rfind("truncated", 0), 0u) << error;
  }
  for (size_t at : {size_t(29), idat + 40, idatEnd - 2}) {  // IHDR CRC, image data, IDAT CRC
    SCOPED_TRACE("damaged byte at " + std::to_string(at));
    Bytes bad = png;
    bad[at] ^= 0x5A;
    error.clear();
    EXPECT_FALSE(ReadPNGFromMemory(bad.data(), bad.size(), &image, &error));
    EXPECT_EQ(error.rfind("damaged PNG (", 0), 0u) << error;
  }
  Bytes huge = png;
  Put32(&huge[16], 100000);
  Put32(&huge[20], 100000);
  Put32(&huge[29], Crc32(&huge[12], 17));
  EXPECT_FALSE(ReadPNGFromMemory(huge.data(), huge.size(), &image, &error));
  EXPECT_EQ(error, "image too large (100000x100000)");
  Put32(&huge[16], 0);
  Put32(&huge[29], Crc32(&huge[12], 17));
  EXPECT_FALSE(ReadPNGFromMemory(huge.data(), huge.size(), &image, &error));
  EXPECT_EQ(error.rfind("damaged PNG (", 0), 0u) << error;

  EXPECT_FALSE(ReadPNG(::testing::TempDir() + "/orx-no-such-file.png", &image, &error));
  EXPECT_EQ(error.rfind("cannot open: ", 0), 0u) << error;
}

Bytes RandomARGB(size_t stride, int h, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes argb(stride * h);
  for (uint8_t& b : argb) b = uint8_t(rng());
  return argb;
}

// A TIFF written with libtiff: w x h, spp samples of bits each (sample i of
// the picture is value(i)), in strips or 16x16 tiles.
struct TiffSpec {
  int bits, spp;
  uint16_t photometric;
  uint16_t extra;  // EXTRASAMPLE_* of the alpha sample, when spp has one
  bool tiled;
};
void WriteTiff(const std::string& path, int w, int h, const TiffSpec& t, const std::vector<uint16_t>& samples) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(w));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(h));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(t.bits));
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(t.spp));
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, t.photometric);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
  const int colours = t.photometric == PHOTOMETRIC_RGB ? 3 : 1;
  if (t.spp > colours) TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(1), &t.extra);
  const size_t bytes = size_t(t.bits / 8), rowBytes = size_t(w) * size_t(t.spp) * bytes;
  std::vector<uint8_t> plane(rowBytes * size_t(h));
  for (size_t i = 0; i < samples.size(); ++i) {
    if (bytes == 2) std::memcpy(&plane[i * 2], &samples[i], 2);
    else plane[i] = uint8_t(samples[i]);
  }
  if (t.tiled) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16u);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, 16u);
    std::vector<uint8_t> tile(size_t(16 * 16 * t.spp) * bytes);
    for (int ty = 0; ty < h; ty += 16)
      for (int tx = 0; tx < w; tx += 16) {
        std::fill(tile.begin(), tile.end(), 0);
        for (int y = ty; y < std::min(h, ty + 16); ++y)
          std::memcpy(&tile[size_t((y - ty) * 16 * t.spp) * bytes], &plane[rowBytes * size_t(y) + size_t(tx * t.spp) * bytes],
                      size_t(std::min(16, w - tx) * t.spp) * bytes);
        ASSERT_GE(TIFFWriteTile(tif, tile.data(), uint32_t(tx), uint32_t(ty), 0, 0), 0);
      }
  } else {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 7u);
    for (int y = 0; y < h; ++y) ASSERT_GE(TIFFWriteScanline(tif, &plane[rowBytes * size_t(y)], uint32_t(y), 0), 0);
  }
  TIFFClose(tif);
}

// Grey and RGB, with and without alpha, 8 and 16 bits, strips and tiles:
// 16-bit samples rounded (not cut to their high byte), associated alpha
// divided out, white-is-zero turned round; damaged files give words.
TEST(TiffRead, EveryLayoutGivesRoundedARGB) {
  const std::string path = ::testing::TempDir() + "/orx-imageio-read.tif";
  const int w = 37, h = 21;
  const TiffSpec specs[] = {
      {16, 4, PHOTOMETRIC_RGB, EXTRASAMPLE_UNASSALPHA, false}, {16, 3, PHOTOMETRIC_RGB, 0, true},
      {8, 4, PHOTOMETRIC_RGB, EXTRASAMPLE_UNASSALPHA, true},   {8, 3, PHOTOMETRIC_RGB, 0, false},
      {16, 1, PHOTOMETRIC_MINISBLACK, 0, false},               {16, 2, PHOTOMETRIC_MINISBLACK, EXTRASAMPLE_UNASSALPHA, true},
      {8, 1, PHOTOMETRIC_MINISWHITE, 0, false},                {16, 4, PHOTOMETRIC_RGB, EXTRASAMPLE_ASSOCALPHA, false},
  };
  std::mt19937 rng(7);
  for (const TiffSpec& t : specs) {
    SCOPED_TRACE(std::to_string(t.bits) + " bits, " + std::to_string(t.spp) + " samples, photometric " +
                 std::to_string(t.photometric) + (t.tiled ? ", tiled" : ""));
    const uint32_t max = t.bits == 16 ? 65535 : 255;
    std::vector<uint16_t> samples(size_t(w * h * t.spp));
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = uint16_t(rng() % (max + 1));
    const int colours = t.photometric == PHOTOMETRIC_RGB ? 3 : 1;
    const bool alpha = t.spp > colours, assoc = alpha && t.extra == EXTRASAMPLE_ASSOCALPHA;
    if (assoc)  // premultiplied: no colour above its alpha
      for (size_t p = 0; p < size_t(w * h); ++p)
        for (int c = 0; c < colours; ++c) samples[p * 4 + size_t(c)] = std::min(samples[p * 4 + size_t(c)], samples[p * 4 + 3]);
    WriteTiff(path, w, h, t, samples);
    orxapp::ImageARGB img;
    std::string err;
    ASSERT_TRUE(orxapp::ReadTIFF(path, &img, &err)) << err;
    ASSERT_EQ(img.width, w);
    ASSERT_EQ(img.height, h);
    EXPECT_EQ(img.hasAlpha, alpha);
    const auto to8 = [&](double v) { return int(std::lround(v * 255.0 / max)); };
    for (int p = 0; p < w * h; ++p) {
      const uint16_t* s = &samples[size_t(p * t.spp)];
      const double a = alpha ? s[colours] : max;
      int want[4] = {to8(a), 0, 0, 0};
      for (int c = 0; c < 3; ++c) {
        double v = s[colours == 3 ? c : 0];
        if (t.photometric == PHOTOMETRIC_MINISWHITE) v = max - v;
        if (assoc) v = a == 0 ? 0 : std::min<double>(max, std::floor((v * max + std::floor(a / 2)) / a));
        want[c + 1] = to8(v);
      }
      const uint8_t* got = img.pixels.data() + size_t(p) * 4;
      for (int c = 0; c < 4; ++c) ASSERT_EQ(int(got[c]), want[c]) << "pixel " << p << " channel " << c;
    }
  }
  std::string err;
  orxapp::ImageARGB img;
  std::vector<uint8_t> bytes = {'I', 'I', 42, 0, 8, 0, 0, 0, 0xFF, 0xFF};  // a directory that is not there
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  EXPECT_FALSE(orxapp::ReadTIFF(path, &img, &err));
  EXPECT_EQ(err.rfind("damaged TIFF (", 0), 0u) << err;
  EXPECT_FALSE(orxapp::ReadTIFF(::testing::TempDir() + "/orx-imageio-missing.tif", &img, &err));
  EXPECT_NE(err.find("cannot open"), std::string::npos) << err;
  std::remove(path.c_str());
}

TEST(PngWrite, RoundTripsWithAndWithoutAlpha) {
  const int w = 9, h = 6;
  const size_t stride = w * 4 + 12;
  const Bytes argb = RandomARGB(stride, h, 3);
  const std::string path = ::testing::TempDir() + "/orx-imageio-roundtrip.png";
  for (const bool alpha : {true, false}) {
    SCOPED_TRACE(alpha ? "RGBA" : "RGB");
    std::string error;
    ASSERT_TRUE(WritePNG(path, argb.data(), w, h, stride, alpha, &error)) << error;
    ImageARGB fromFile, fromMemory;
    ASSERT_TRUE(ReadPNG(path, &fromFile, &error)) << error;
    Bytes png;
    ASSERT_TRUE(EncodePNG(&png, argb.data(), w, h, stride, alpha, &error)) << error;
    ASSERT_TRUE(ReadPNGFromMemory(png.data(), png.size(), &fromMemory, &error)) << error;
    EXPECT_EQ(fromFile.pixels, fromMemory.pixels);
    ASSERT_EQ(fromFile.width, w);
    ASSERT_EQ(fromFile.height, h);
    EXPECT_EQ(fromFile.hasAlpha, alpha);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const uint8_t* s = argb.data() + y * stride + x * 4;
        const uint8_t* d = fromFile.Row(y) + x * 4;
        ASSERT_EQ(d[0], alpha ? s[0] : 255) << x << "," << y;
        ASSERT_EQ(std::memcmp(d + 1, s + 1, 3), 0) << x << "," << y;
      }
    }
  }
  std::remove(path.c_str());
}

TEST(PngWrite, FailuresReportAndLeaveNoFile) {
  const Bytes argb = RandomARGB(16, 4, 5);
  std::string error;
  EXPECT_FALSE(WritePNG(::testing::TempDir() + "/no-such-dir/x.png", argb.data(), 4, 4, 16, true, &error));
  EXPECT_EQ(error.rfind("cannot open: ", 0), 0u) << error;

  const std::string path = ::testing::TempDir() + "/orx-imageio-bad.png";
  EXPECT_FALSE(WritePNG(path, argb.data(), 4, 4, 8, true, &error));  // stride shorter than a row
  struct stat st {};
  EXPECT_NE(stat(path.c_str(), &st), 0) << "partial file left behind";
  Bytes png;
  EXPECT_FALSE(EncodePNG(&png, argb.data(), 0, 4, 16, false, &error));

  // A full device: the write fails and the device itself stays.
  EXPECT_FALSE(WritePNG("/dev/full", argb.data(), 4, 4, 16, false, &error));
  EXPECT_EQ(error.rfind("write failed: ", 0), 0u) << error;
  ASSERT_EQ(stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// ---- YUV4MPEG2 ----------------------------------------------------------------

struct TempStream {
  explicit TempStream(const std::string& bytes) : file(std::tmpfile()) {
    if (file) std::fwrite(bytes.data(), 1, bytes.size(), file), std::rewind(file);
  }
  ~TempStream() {
    if (file) std::fclose(file);
  }
  FILE* file;
};

TEST(Y4MRead, EveryChromaLayoutAndRangeAtOddSize) {
  const int w = 5, h = 3;
  struct Layout {
    const char* tag;
    Y4MChroma chroma;
    int cw, ch;
  };
  const Layout layouts[] = {{"C420jpeg", Y4MChroma::k420, 3, 2}, {"C422", Y4MChroma::k422, 3, 3},
                            {"C444", Y4MChroma::k444, 5, 3}, {"Cmono", Y4MChroma::kMono, 0, 0}};
  std::mt19937 rng(11);
  for (const Layout& l : layouts) {
    for (const bool full : {false, true}) {
      SCOPED_TRACE(std::string(l.tag) + (full ? " full" : " limited"));
      std::string stream = std::string("YUV4MPEG2 W5 H3 F30000:1001 Ip A1:1 ") + l.tag +
                           (full ? " XCOLORRANGE=FULL" : " XYSCSS=ANY") + "\n";
      std::vector<Bytes> frames;
      for (int f = 0; f < 2; ++f) {
        Bytes planes(w * h + 2 * l.cw * l.ch);
        for (uint8_t& b : planes) b = uint8_t(rng());
        stream += f == 0 ? "FRAME\n" : "FRAME Ixyz\n";
        stream.append(planes.begin(), planes.end());
        frames.push_back(planes);
      }
      TempStream in(stream);
      ASSERT_NE(in.file, nullptr);
      Y4MReader reader(in.file);
      std::string error;
      ASSERT_TRUE(reader.ReadHeader(&error)) << error;
      const Y4MFormat& f = reader.Format();
      EXPECT_TRUE(f.width == w && f.height == h && f.fpsNum == 30000 && f.fpsDen == 1001 && f.chroma == l.chroma &&
                  f.fullRange == full);
      for (const Bytes& planes : frames) {
        ImageARGB image;
        ASSERT_EQ(reader.ReadFrame(&image, &error), 1) << error;
        ASSERT_EQ(image.pixels.size(), size_t(w * h * 4));
        EXPECT_FALSE(image.hasAlpha);
        for (int y = 0; y < h; ++y) {
          for (int x = 0; x < w; ++x) {
            // Chroma sample covering (x, y): halved columns for 4:2:x, halved rows for 4:2:0.
            const int cx = l.cw == w ? x : x / 2, cy = l.ch == h ? y : y / 2;
            const size_t c = size_t(cy) * l.cw + cx;
            const int cb = l.cw ? planes[w * h + c] : 128, cr = l.cw ? planes[w * h + l.cw * l.ch + c] : 128;
            uint8_t rgb[3];
            YCbCrToRGB709(planes[y * w + x], cb, cr, full, rgb);
            const uint8_t* p = image.Row(y) + x * 4;
            ASSERT_EQ(p[0], 255);
            ASSERT_EQ(std::memcmp(p + 1, rgb, 3), 0) << x << "," << y;
          }
        }
      }
      ImageARGB image;
      EXPECT_EQ(reader.ReadFrame(&image, &error), 0);
    }
  }
}

TEST(Y4MRead, HeadersAreCheckedTagByTag) {
  for (const char* header : {"YUV4MPEG2 W2 H2\n", "YUV4MPEG2  W2   H2 C420paldv I? A0:0\n", "YUV4MPEG2 W2 H2 C420mpeg2\n",
                             "YUV4MPEG2 W2 H2 C420 XCOLORRANGE=LIMITED\n", "YUV4MPEG2 W2 H2 C420p8\n"}) {
    TempStream in(header);
    Y4MReader reader(in.file);
    std::string error;
    ASSERT_TRUE(reader.ReadHeader(&error)) << header << error;
    const Y4MFormat& f = reader.Format();  // absent tags: 4:2:0, 25 frames a second, limited range
    EXPECT_TRUE(f.chroma == Y4MChroma::k420 && f.fpsNum == 25 && f.fpsDen == 1 && !f.fullRange) << header;
  }
  const std::pair<std::string, const char*> cases[] = {
      {"YUV4MPEG2 H2\n", "lacks width or height"}, {"YUV4MPEG2 W0 H2\n", "bad width"},
      {"YUV4MPEG2 Wabc H2\n", "bad width"}, {"YUV4MPEG2 W2 H20000\n", "bad height"},
      {"YUV4MPEG2 W2 H2 It\n", "interlaced streams are not supported"},
      {"YUV4MPEG2 W2 H2 Ib\n", "interlaced streams are not supported"},
      {"YUV4MPEG2 W2 H2 Im\n", "interlaced streams are not supported"},
      {"YUV4MPEG2 W2 H2 C420p10\n", "only 8-bit streams are supported"},
      {"YUV4MPEG2 W2 H2 C444p16\n", "only 8-bit streams are supported"},
      {"YUV4MPEG2 W2 H2 Cmono16\n", "only 8-bit streams are supported"},
      {"YUV4MPEG2 W2 H2 C411\n", "unsupported colour space C411"},
      {"YUV4MPEG2 W2 H2 C444alpha\n", "unsupported colour space"},
      {"YUV4MPEG2 W2 H2 F0:1\n", "bad frame rate"}, {"YUV4MPEG2 W2 H2 F30:0\n", "bad frame rate"},
      {"YUV4MPEG2 W2 H2 F30\n", "bad frame rate"}, {"YUV4MPEG2 W2 H2 XCOLORRANGE=WIDE\n", "bad colour range"},
      {"YUV4MPEG W2 H2\n", "not a YUV4MPEG2 stream"}, {"", "not a YUV4MPEG2 stream"},
      {"YUV4MPEG2 W2 H2", "truncated stream header"},
      {"YUV4MPEG2 " + std::string(2000, 'X') + "\n", "longer than 1024 bytes"},
  };
  for (const auto& [header, message] : cases) {
    SCOPED_TRACE(header.substr(0, 40));
    TempStream in(header);
    Y4MReader reader(in.file);
    std::string error;
    EXPECT_FALSE(reader.ReadHeader(&error));
    EXPECT_NE(error.find(message), std::string::npos) << error;
  }
}

TEST(Y4MRead, DamagedFramesAreCountedFromOne) {
  const std::string header = "YUV4MPEG2 W4 H2 C444\n", frame = "FRAME\n" + std::string(24, '\x50');
  const std::pair<std::string, const char*> cases[] = {
      {header + frame + "FRAME\n" + std::string(12, 'x'), "truncated frame 2"},
      {header + frame + frame + "FRAM", "truncated frame 3"},
      {header + "FRAMEX\n" + std::string(24, 'x'), "bad frame header in frame 1"},
      {header + frame + "JUNK\n", "bad frame header in frame 2"},
  };
  for (const auto& [stream, message] : cases) {
    SCOPED_TRACE(message);
    TempStream in(stream);
    Y4MReader reader(in.file);
    std::string error;
    ASSERT_TRUE(reader.ReadHeader(&error)) << error;
    ImageARGB image;
    int rc;
    while ((rc = reader.ReadFrame(&image, &error)) == 1) {
    }
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(error, message);
  }
  Y4MReader unread(nullptr);
  ImageARGB image;
  std::string error;
  EXPECT_EQ(unread.ReadFrame(&image, &error), -1);
}

TEST(Y4MWrite, RoundTripsThroughTheReaderAndReportsWriteErrors) {
  const int w = 7, h = 5;
  const size_t stride = w * 4 + 4;
  const Bytes argb = RandomARGB(stride, h, 9);
  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  Y4MWriter writer(file);
  std::string error;
  EXPECT_FALSE(writer.WriteFrame(argb.data(), stride, &error));  // no header yet
  ASSERT_TRUE(writer.WriteHeader(w, h, 24, 1, &error)) << error;
  ASSERT_TRUE(writer.WriteFrame(argb.data(), stride, &error)) << error;
  ASSERT_TRUE(writer.WriteFrame(argb.data(), stride, &error)) << error;
  std::rewind(file);
  Y4MReader reader(file);
  ASSERT_TRUE(reader.ReadHeader(&error)) << error;
  EXPECT_EQ(reader.Format().chroma, Y4MChroma::k444);
  EXPECT_EQ(reader.Format().fpsNum, 24);
  EXPECT_FALSE(reader.Format().fullRange);
  ImageARGB image;
  for (int f = 0; f < 2; ++f) {
    ASSERT_EQ(reader.ReadFrame(&image, &error), 1) << error;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const uint8_t* s = argb.data() + y * stride + x * 4;
        const uint8_t* d = image.Row(y) + x * 4;
        ASSERT_EQ(d[0], 255);
        for (int k = 1; k < 4; ++k) ASSERT_NEAR(d[k], s[k], 2) << x << "," << y;
      }
    }
  }
  EXPECT_EQ(reader.ReadFrame(&image, &error), 0);
  std::fclose(file);

  FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  std::setvbuf(full, nullptr, _IONBF, 0);
  Y4MWriter failing(full);
  EXPECT_FALSE(failing.WriteHeader(w, h, 24, 1, &error) && failing.WriteFrame(argb.data(), stride, &error));
  EXPECT_EQ(error.rfind("write failed: ", 0), 0u) << error;
  std::fclose(full);
  EXPECT_FALSE(Y4MWriter(nullptr).WriteHeader(0, 5, 24, 1, &error));
  EXPECT_FALSE(Y4MWriter(nullptr).WriteHeader(5, 5, 24, 0, &error));
}

// ---- BT.709 -------------------------------------------------------------------

TEST(Bt709, ReferenceColoursGreysAndRoundTrips) {
  struct Ref {
    uint8_t rgb[3];
    bool full;
    uint8_t ycbcr[3];
  };
  const Ref refs[] = {{{255, 0, 0}, false, {63, 102, 240}}, {{0, 255, 0}, false, {173, 42, 26}},
                      {{0, 0, 255}, false, {32, 240, 118}}, {{255, 255, 255}, false, {235, 128, 128}},
                      {{0, 0, 0}, false, {16, 128, 128}},   {{255, 0, 0}, true, {54, 99, 255}}};
  for (const Ref& r : refs) {
    uint8_t ycbcr[3], rgb[3];
    RGBToYCbCr709(r.rgb, r.full, ycbcr);
    EXPECT_EQ(std::memcmp(ycbcr, r.ycbcr, 3), 0) << int(ycbcr[0]) << " " << int(ycbcr[1]) << " " << int(ycbcr[2]);
    YCbCrToRGB709(r.ycbcr[0], r.ycbcr[1], r.ycbcr[2], r.full, rgb);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(rgb[k], r.rgb[k], 1);
  }
  for (const bool full : {false, true}) {
    for (int v = 0; v < 256; ++v) {
      uint8_t rgb[3], ycbcr[3];
      YCbCrToRGB709(v, 128, 128, full, rgb);
      ASSERT_TRUE(rgb[0] == rgb[1] && rgb[1] == rgb[2]) << v;
      ASSERT_EQ(rgb[0], full ? v : std::clamp(int(std::lround((v - 16) * 255.0 / 219)), 0, 255)) << v;
      const uint8_t grey[3] = {uint8_t(v), uint8_t(v), uint8_t(v)};
      RGBToYCbCr709(grey, full, ycbcr);
      ASSERT_EQ(ycbcr[1], 128);
      ASSERT_EQ(ycbcr[2], 128);
      ASSERT_EQ(ycbcr[0], full ? v : 16 + (v * 219 + 127) / 255) << v;
    }
    for (int r = 0; r < 256; r += 3) {
      for (int g = 0; g < 256; g += 3) {
        for (int b = 0; b < 256; b += 3) {
          const uint8_t rgb[3] = {uint8_t(r), uint8_t(g), uint8_t(b)};
          uint8_t ycbcr[3], back[3];
          RGBToYCbCr709(rgb, full, ycbcr);
          YCbCrToRGB709(ycbcr[0], ycbcr[1], ycbcr[2], full, back);
          for (int k = 0; k < 3; ++k) ASSERT_NEAR(back[k], rgb[k], full ? 1 : 2) << r << " " << g << " " << b;
        }
      }
    }
  }
}

// ---- Labels -------------------------------------------------------------------

Bytes Render(const std::string& text, int scale, int w, int h, int x, int y) {
  ImageARGB image;
  image.Allocate(w, h);
  EXPECT_EQ(DrawLabel(&image, x, y, text, scale, 0xFFC08040u), LabelWidth(text, scale));
  return image.pixels;
}

int Lit(const Bytes& pixels) {
  int n = 0;
  for (size_t i = 0; i < pixels.size(); i += 4) n += pixels[i] != 0;
  return n;
}

TEST(Labels, GlyphsStayInTheirCellsAndScale) {
  EXPECT_EQ(LabelWidth("abc", 2), 36);
  EXPECT_EQ(LabelHeight(3), 24);
  EXPECT_EQ(LabelWidth("", 4), 0);
  std::set<Bytes> glyphs;
  for (int c = 33; c < 127; ++c) {
    const std::string text(1, char(c));
    const Bytes one = Render(text, 1, 6, 8, 0, 0), three = Render(text, 3, 30, 30, 2, 1);
    SCOPED_TRACE(text);
    EXPECT_GT(Lit(one), 0);
    EXPECT_EQ(Lit(three), 9 * Lit(one));
    for (int y = 0; y < 30; ++y) {
      for (int x = 0; x < 30; ++x) {
        const uint8_t* p = &three[(y * 30 + x) * 4];
        if (p[0] == 0) continue;
        ASSERT_TRUE(x >= 2 && x < 17 && y >= 1 && y < 22) << x << "," << y;  // 5x7 glyph at scale 3
        ASSERT_EQ(p[1], 0xC0);
        ASSERT_EQ(p[3], 0x40);
        const uint8_t* q = &one[(((y - 1) / 3) * 6 + (x - 2) / 3) * 4];
        ASSERT_NE(q[0], 0) << "scaled pixel without its source";
      }
    }
    glyphs.insert(one);
  }
  EXPECT_EQ(glyphs.size(), 94u) << "two characters share a glyph";
  EXPECT_EQ(Lit(Render(" ", 1, 6, 8, 0, 0)), 0);
  const Bytes question = Render("?", 2, 12, 16, 0, 0);
  for (const char* unknown : {"\x01", "\x7f", "\xe9", "\t"}) EXPECT_EQ(Render(unknown, 2, 12, 16, 0, 0), question);
}

TEST(Labels, ClipsAtEveryImageEdge) {
  const std::string text = "Hi!@W";
  const int rx = 40, ry = 30, rw = 160, rh = 90;  // holds the whole label
  const Bytes reference = Render(text, 3, rw, rh, rx, ry);
  const int w = 13, h = 9;
  for (const auto& [ox, oy] : std::vector<std::pair<int, int>>{
           {-5, -5}, {6, 4}, {-40, 3}, {11, 7}, {-100, -100}, {12, -20}, {0, 8}, {-2147483647, 0}, {3, 2147483600}}) {
    SCOPED_TRACE(std::to_string(ox) + "," + std::to_string(oy));
    const Bytes clipped = Render(text, 3, w, h, ox, oy);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const int64_t sx = int64_t(x) - ox + rx, sy = int64_t(y) - oy + ry;
        const bool inside = sx >= 0 && sx < rw && sy >= 0 && sy < rh;
        const uint8_t want = inside ? reference[(sy * rw + sx) * 4] : 0;
        ASSERT_EQ(clipped[(y * w + x) * 4], want) << x << "," << y;
      }
    }
  }
}

}  // namespace
}  // namespace orxapp
