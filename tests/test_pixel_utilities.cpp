// Scratch pixel buffers, the 4:2:2 <-> 4:2:0 copies, BMP files and the
// diagnostic bitmap writers.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "core/Utilities/BITMAP.h"
#include "core/Utilities/PixelUtilities.h"

namespace fs = std::filesystem;

namespace {

// A fresh directory under /tmp, removed with its contents afterwards.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/orx-pixels-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  bool ok() const { return !path_.empty(); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

uint32_t U32At(const std::vector<uint8_t>& bytes, size_t offset) {
  return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
         static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<uint8_t> v(count);
  for (auto& b : v) b = static_cast<uint8_t>(byte(rng));
  return v;
}

BITMAPINFOHEADER Header(int width, int height, int bitCount, uint32_t compression = BI_RGB) {
  BITMAPINFOHEADER h{};
  h.biSize = 40;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<uint16_t>(bitCount);
  h.biCompression = compression;
  return h;
}

struct Loaded {
  struct Free {
    void operator()(void* p) const { std::free(p); }
  };
  std::unique_ptr<uint8_t, Free> bits;
  std::unique_ptr<BITMAPINFO, Free> info;
};

Loaded Load(const std::string& path) {
  BITMAPINFO* info = nullptr;
  Loaded out;
  out.bits.reset(static_cast<uint8_t*>(LoadDIBitmap(path.c_str(), &info)));
  out.info.reset(info);
  return out;
}

// ---- Scratch buffers ------------------------------------------------------

struct PlaneShape {
  uint32_t rowBytes;
  size_t bytes;
};

// Every plane has its row length, is zero-filled and writable to its last byte.
void ExpectPlanes(const InternalPixelBuffer& buffer, const PlaneShape (&shapes)[3]) {
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE("plane " + std::to_string(i));
    const auto& plane = buffer.planes[i];
    EXPECT_EQ(plane.rowBytes, shapes[i].rowBytes);
    ASSERT_NE(plane.base, nullptr);
    EXPECT_TRUE(std::all_of(plane.base, plane.base + shapes[i].bytes, [](uint8_t b) { return b == 0; }));
    std::memset(plane.base, 0xA5, shapes[i].bytes);
  }
}

TEST(InternalPixelBuffer, PlaneSizes) {
  InternalPixelBuffer buffer;
  ASSERT_EQ(callocInternalPixelBuffer(720, 480, &buffer), 0);
  ExpectPlanes(buffer, {{720, 345600}, {368, 88320}, {368, 88320}});
  // Rows round up to 16 bytes, also for a tiny image.
  ASSERT_EQ(callocInternalPixelBuffer(4, 4, &buffer), 0);
  ExpectPlanes(buffer, {{16, 64}, {16, 32}, {16, 32}});
  freeInternalPixelBuffer(&buffer);
}

TEST(InternalPixelBuffer, ReallocationGivesFreshZeroedPlanes) {
  InternalPixelBuffer buffer;
  ASSERT_EQ(callocInternalPixelBuffer(16, 16, &buffer), 0);
  std::memset(buffer.planes[0].base, 0xFF, 16 * 16);
  // The old planes are released (the leak checker sees it otherwise) and the
  // new ones are zero, whatever was written before.
  ASSERT_EQ(callocInternalPixelBuffer(32, 8, &buffer), 0);
  ExpectPlanes(buffer, {{32, 256}, {16, 64}, {16, 64}});
  freeInternalPixelBuffer(&buffer);
}

TEST(InternalPixelBuffer, FreeClearsAndMayRepeat) {
  InternalPixelBuffer buffer;
  ASSERT_EQ(callocInternalPixelBuffer(64, 64, &buffer), 0);
  freeInternalPixelBuffer(&buffer);
  for (const auto& plane : buffer.planes) EXPECT_EQ(plane.base, nullptr);
  freeInternalPixelBuffer(&buffer);
  freeInternalPixelBuffer(nullptr);
  for (const auto& plane : buffer.planes) EXPECT_EQ(plane.base, nullptr);
}

// ---- 4:2:2 <-> 4:2:0 ------------------------------------------------------

constexpr uint8_t kUntouched = 0xEE;

TEST(YUVCopy, ChunkyToPlanarTwoByTwo) {
  // Cb, Y0, Cr, Y1 in each row; chroma of the two rows averaged, rounding down.
  const uint8_t src[8] = {255, 10, 7, 11, 254, 12, 10, 13};
  uint8_t y[4], cb = 0, cr = 0;
  ASSERT_EQ(CopyChunkyYUV422ToPlanarYUV420(2, 2, src, 4, y, 2, &cb, 1, &cr, 1), 0);
  EXPECT_EQ(std::vector<uint8_t>(y, y + 4), (std::vector<uint8_t>{10, 11, 12, 13}));
  EXPECT_EQ(cb, 254);
  EXPECT_EQ(cr, 8);
}

TEST(YUVCopy, ChunkyToPlanarHonoursStrides) {
  constexpr uint32_t w = 6, h = 4, srcStride = 16, yStride = 9, cStride = 5;
  const auto src = RandomBytes(srcStride * h, 1);
  std::vector<uint8_t> y(yStride * h, kUntouched), cb(cStride * h / 2, kUntouched),
      cr(cStride * h / 2, kUntouched);
  ASSERT_EQ(CopyChunkyYUV422ToPlanarYUV420(w, h, src.data(), srcStride, y.data(), yStride,
                                           cb.data(), cStride, cr.data(), cStride),
            0);
  for (uint32_t row = 0; row < h; ++row) {
    for (uint32_t x = 0; x < yStride; ++x) {
      const uint8_t want = x < w ? src[row * srcStride + 2 * x + 1] : kUntouched;
      EXPECT_EQ(y[row * yStride + x], want) << "luma " << x << "," << row;
    }
  }
  for (uint32_t row = 0; row < h / 2; ++row) {
    for (uint32_t j = 0; j < cStride; ++j) {
      const uint8_t* top = &src[2 * row * srcStride + 4 * j];
      const uint8_t* bottom = top + srcStride;
      const bool inside = j < w / 2;
      EXPECT_EQ(cb[row * cStride + j], inside ? (top[0] + bottom[0]) / 2 : kUntouched) << j << "," << row;
      EXPECT_EQ(cr[row * cStride + j], inside ? (top[2] + bottom[2]) / 2 : kUntouched) << j << "," << row;
    }
  }
}

TEST(YUVCopy, PlanarToChunkyRepeatsChromaOnBothRows) {
  constexpr uint32_t w = 4, h = 4, yStride = 5, cStride = 3, destStride = 10;
  const auto y = RandomBytes(yStride * h, 2), cb = RandomBytes(cStride * h / 2, 3),
             cr = RandomBytes(cStride * h / 2, 4);
  std::vector<uint8_t> dest(destStride * h, kUntouched);
  ASSERT_EQ(CopyPlanarYUV420ToChunkyYUV422(w, h, y.data(), yStride, cb.data(), cStride, cr.data(),
                                           cStride, dest.data(), destStride),
            0);
  for (uint32_t row = 0; row < h; ++row) {
    const uint8_t* d = &dest[row * destStride];
    for (uint32_t j = 0; j < w / 2; ++j) {
      SCOPED_TRACE("pair " + std::to_string(j) + ", row " + std::to_string(row));
      EXPECT_EQ(d[4 * j + 0], cb[row / 2 * cStride + j]);
      EXPECT_EQ(d[4 * j + 1], y[row * yStride + 2 * j]);
      EXPECT_EQ(d[4 * j + 2], cr[row / 2 * cStride + j]);
      EXPECT_EQ(d[4 * j + 3], y[row * yStride + 2 * j + 1]);
    }
    for (uint32_t x = 2 * w; x < destStride; ++x) EXPECT_EQ(d[x], kUntouched) << "row " << row;
  }
}

TEST(YUVCopy, PlanarRoundTripIsIdentity) {
  constexpr uint32_t w = 16, h = 8, chunkyStride = 40;
  const auto y = RandomBytes(w * h, 5), cb = RandomBytes(w / 2 * h / 2, 6),
             cr = RandomBytes(w / 2 * h / 2, 7);
  std::vector<uint8_t> chunky(chunkyStride * h);
  std::vector<uint8_t> y2(w * h), cb2(cb.size()), cr2(cr.size());
  CopyPlanarYUV420ToChunkyYUV422(w, h, y.data(), w, cb.data(), w / 2, cr.data(), w / 2,
                                 chunky.data(), chunkyStride);
  CopyChunkyYUV422ToPlanarYUV420(w, h, chunky.data(), chunkyStride, y2.data(), w, cb2.data(), w / 2,
                                 cr2.data(), w / 2);
  EXPECT_EQ(y2, y);
  EXPECT_EQ(cb2, cb);
  EXPECT_EQ(cr2, cr);
}

// ---- BMP files --------------------------------------------------------------

struct InfoWithPalette {
  BITMAPINFOHEADER header;
  RGBQUAD colors[256];
};
struct InfoWithMasks {
  BITMAPINFOHEADER header;
  uint32_t masks[3];
};

const BITMAPINFO* AsInfo(const void* block) { return static_cast<const BITMAPINFO*>(block); }

class BitmapFile : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.ok()); }

  // Saves and checks the file's total size and pixel offset.
  void SaveAndExpectLayout(const void* info, const std::vector<uint8_t>& pixels, uint32_t offBits) {
    const std::string path = dir / "layout.bmp";
    ASSERT_EQ(SaveDIBitmap(path.c_str(), AsInfo(info), pixels.data()), 0);
    const auto bytes = ReadBytes(path);
    ASSERT_GE(bytes.size(), 14u);
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    EXPECT_EQ(bytes.size(), offBits + pixels.size());
    EXPECT_EQ(U32At(bytes, 2), bytes.size());
    EXPECT_EQ(U32At(bytes, 10), offBits);
  }

  TempDir dir;
};

TEST_F(BitmapFile, InfoAndPixelSizes) {
  {
    SCOPED_TRACE("32-bit, no palette");
    const auto h = Header(2, 2, 32);
    SaveAndExpectLayout(&h, std::vector<uint8_t>(16, 1), 54);
  }
  {
    SCOPED_TRACE("8-bit, full palette");
    InfoWithPalette info{Header(4, 2, 8), {}};
    SaveAndExpectLayout(&info, std::vector<uint8_t>(8, 2), 54 + 1024);
  }
  {
    SCOPED_TRACE("bit fields");
    InfoWithMasks info{Header(2, 1, 32, BI_BITFIELDS), {0xFF0000, 0xFF00, 0xFF}};
    SaveAndExpectLayout(&info, std::vector<uint8_t>(8, 3), 14 + 52);
  }
  {
    SCOPED_TRACE("24-bit, 3 wide: 12-byte rows");
    const auto h = Header(3, 2, 24);
    SaveAndExpectLayout(&h, std::vector<uint8_t>(24, 4), 54);
  }
}

TEST_F(BitmapFile, SaveThenLoadKeepsHeaderPaletteAndPixels) {
  InfoWithPalette info{Header(5, 3, 8), {}};
  info.header.biXPelsPerMeter = 2834;
  info.header.biYPelsPerMeter = 1417;
  const auto palette = RandomBytes(sizeof info.colors, 8);
  std::memcpy(info.colors, palette.data(), palette.size());
  const auto pixels = RandomBytes(8 * 3, 9);
  const std::string path = dir / "roundtrip.bmp";
  ASSERT_EQ(SaveDIBitmap(path.c_str(), AsInfo(&info), pixels.data()), 0);

  const Loaded loaded = Load(path);
  ASSERT_NE(loaded.bits, nullptr);
  ASSERT_NE(loaded.info, nullptr);
  EXPECT_EQ(std::memcmp(&loaded.info->bmiHeader, &info.header, sizeof info.header), 0);
  EXPECT_EQ(std::memcmp(loaded.info->bmiColors, info.colors, sizeof info.colors), 0);
  EXPECT_EQ(std::vector<uint8_t>(loaded.bits.get(), loaded.bits.get() + pixels.size()), pixels);
}

TEST_F(BitmapFile, SaveToMissingFolderFails) {
  const auto h = Header(1, 1, 32);
  const uint8_t pixel[4] = {};
  const std::string path = dir / "no-such-folder/x.bmp";
  EXPECT_EQ(SaveDIBitmap(path.c_str(), AsInfo(&h), pixel), -1);
  EXPECT_FALSE(fs::exists(path));
}

// A damaged or missing file loads as null, with the info out-argument null too.
void ExpectLoadFails(const std::string& path) {
  BITMAPINFO sentinel{};
  BITMAPINFO* info = &sentinel;
  void* bits = LoadDIBitmap(path.c_str(), &info);
  EXPECT_EQ(bits, nullptr);
  EXPECT_EQ(info, nullptr);
  std::free(bits);
  if (info != &sentinel) std::free(info);
}

TEST_F(BitmapFile, MissingFileFailsToLoad) { ExpectLoadFails(dir / "absent.bmp"); }

struct Damage {
  const char* name;
  void (*apply)(std::vector<uint8_t>& file);
};
void PrintTo(const Damage& damage, std::ostream* os) { *os << damage.name; }

class DamagedBitmap : public BitmapFile, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedBitmap, FailsToLoad) {
  const auto h = Header(3, 2, 24);
  const auto pixels = RandomBytes(24, 10);
  const std::string path = dir / "damaged.bmp";
  ASSERT_EQ(SaveDIBitmap(path.c_str(), AsInfo(&h), pixels.data()), 0);
  // The undamaged file loads, so the failure below is the damage's doing.
  ASSERT_NE(Load(path).bits, nullptr);
  auto bytes = ReadBytes(path);
  GetParam().apply(bytes);
  WriteBytes(path, bytes);
  ExpectLoadFails(path);
}

void SetOffBits(std::vector<uint8_t>& f, uint32_t v) {
  for (int i = 0; i < 4; ++i) f[10 + i] = static_cast<uint8_t>(v >> (8 * i));
}

INSTANTIATE_TEST_SUITE_P(
    BitmapFile, DamagedBitmap,
    ::testing::Values(
        Damage{"WrongSignature", [](std::vector<uint8_t>& f) { f[1] = 'A'; }},
        Damage{"TruncatedFileHeader", [](std::vector<uint8_t>& f) { f.resize(10); }},
        Damage{"TruncatedInfoHeader", [](std::vector<uint8_t>& f) { f.resize(30); }},
        Damage{"TruncatedPixels", [](std::vector<uint8_t>& f) { f.pop_back(); }},
        Damage{"OffBitsBelowInfoHeader", [](std::vector<uint8_t>& f) { SetOffBits(f, 14 + 39); }},
        Damage{"OffBitsPastEnd", [](std::vector<uint8_t>& f) { SetOffBits(f, 4096); }}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Diagnostic bitmap writers ---------------------------------------------

class BitmapWriter : public BitmapFile {
 protected:
  // The file holds a bottom-up 24-bit BGR image with 4-byte rows equal to
  // rgb (top row first).
  void ExpectImage(const std::string& path, int w, int h, const std::vector<uint8_t>& rgb) {
    const Loaded loaded = Load(path);
    ASSERT_NE(loaded.bits, nullptr) << path;
    const auto& hdr = loaded.info->bmiHeader;
    EXPECT_EQ(hdr.biWidth, w);
    EXPECT_EQ(hdr.biHeight, h);
    EXPECT_EQ(hdr.biBitCount, 24);
    EXPECT_EQ(hdr.biCompression, BI_RGB);
    const int rowBytes = (3 * w + 3) / 4 * 4;
    ASSERT_EQ(DIBPixelArraySize(hdr), int64_t{rowBytes} * h);
    for (int y = 0; y < h; ++y) {
      const uint8_t* row = loaded.bits.get() + (h - 1 - y) * rowBytes;
      for (int x = 0; x < w; ++x) {
        const uint8_t* want = &rgb[3 * (y * w + x)];
        EXPECT_EQ(row[3 * x + 0], want[2]) << "blue at " << x << "," << y;
        EXPECT_EQ(row[3 * x + 1], want[1]) << "green at " << x << "," << y;
        EXPECT_EQ(row[3 * x + 2], want[0]) << "red at " << x << "," << y;
      }
    }
  }

  static constexpr int kW = 5, kH = 3;
};

TEST_F(BitmapWriter, Writes24BitPixels) {
  const auto rgb = RandomBytes(3 * kW * kH, 11);
  const std::string path = dir / "rgb.bmp";
  char used[1024];
  ASSERT_EQ(WriteUInt8Bitmap24(rgb.data(), kW, kH, path.c_str(), used), 0);
  EXPECT_STREQ(used, path.c_str());
  ExpectImage(path, kW, kH, rgb);
}

TEST_F(BitmapWriter, Writes32BitBGRADroppingAlpha) {
  const auto bgra = RandomBytes(4 * kW * kH, 12);
  std::vector<uint8_t> rgb;
  for (size_t i = 0; i < bgra.size(); i += 4) rgb.insert(rgb.end(), {bgra[i + 2], bgra[i + 1], bgra[i]});
  const std::string path = dir / "bgra.bmp";
  ASSERT_EQ(WriteUInt8Bitmap32BGRA(bgra.data(), kW, kH, path.c_str()), 0);
  ExpectImage(path, kW, kH, rgb);
}

TEST_F(BitmapWriter, RejectsMissingPixelsAndEmptySizes) {
  const uint8_t pixel[4] = {};
  char used[1024] = "stale";
  const std::string path = dir / "none.bmp";
  EXPECT_EQ(WriteUInt8Bitmap24(nullptr, 1, 1, path.c_str(), used), -1);
  EXPECT_STREQ(used, "");
  EXPECT_EQ(WriteUInt8Bitmap24(pixel, 0, 1, path.c_str()), -1);
  EXPECT_EQ(WriteUInt8Bitmap32BGRA(pixel, 1, -1, path.c_str()), -1);
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(BitmapWriter, TakenNamesGetTheNextFreeNumber) {
  struct Case {
    std::vector<std::string> taken;
    std::string request, expected;
  };
  const Case cases[] = {
      {{}, "free.bmp", "free.bmp"},
      {{"frame.bmp", "frame_1.bmp"}, "frame.bmp", "frame_2.bmp"},
      {{"clip.v2.bmp"}, "clip.v2.bmp", "clip_1.v2.bmp"},
      {{"plain"}, "plain", "plain_1"},
      {{"take.3/shot.bmp"}, "take.3/shot.bmp", "take.3/shot_1.bmp"},
      {{"take.4/shot"}, "take.4/shot", "take.4/shot_1"},
  };
  const uint8_t rgb[3] = {1, 2, 3};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    for (const auto& name : c.taken) {
      fs::create_directories(fs::path(dir / name).parent_path());
      WriteBytes(dir / name, {});
    }
    char used[1024];
    ASSERT_EQ(WriteUInt8Bitmap24(rgb, 1, 1, (dir / c.request).c_str(), used), 0);
    EXPECT_EQ(std::string(used), dir / c.expected);
    EXPECT_GT(fs::file_size(dir / c.expected), 54u);
    for (const auto& name : c.taken) EXPECT_EQ(fs::file_size(dir / name), 0u) << name << " overwritten";
  }
}

TEST_F(BitmapWriter, NoNumberedNameFitsMeansNoWrite) {
  // A taken name whose numbered form would be cut to 1023 characters must not
  // be reused: the write fails and the file keeps its contents.
  std::string name = dir / "";
  while (name.size() < 1018 - 201) {  // nest folders to keep each component short
    name += std::string(200, 'd') + "/";
    fs::create_directories(name);
  }
  name += std::string(1021 - name.size(), 'n') + ".bmp";
  ASSERT_EQ(name.size(), 1025u);  // longer than a name may be
  const uint8_t rgb[3] = {1, 2, 3};
  EXPECT_EQ(WriteUInt8Bitmap24(rgb, 1, 1, name.c_str()), -1);

  name.resize(1019);
  name += ".bmp";  // 1023 characters: fits, but "_1" would not
  WriteBytes(name, {7});
  char used[1024];
  EXPECT_EQ(WriteUInt8Bitmap24(rgb, 1, 1, name.c_str(), used), -1);
  EXPECT_STREQ(used, "");
  EXPECT_EQ(ReadBytes(name), std::vector<uint8_t>{7});
}

TEST_F(BitmapWriter, OutputOpensInImageMagick) {
  if (!fs::exists("/usr/bin/identify")) GTEST_SKIP() << "ImageMagick's identify is not installed";
  const auto rgb = RandomBytes(3 * kW * kH, 13);
  const std::string path = dir / "identify.bmp";
  ASSERT_EQ(WriteUInt8Bitmap24(rgb.data(), kW, kH, path.c_str()), 0);

  const std::string command = "/usr/bin/identify -format '%m %wx%h' '" + path + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char chunk[256];
  while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) output += chunk;
  const int status = pclose(pipe);
  ASSERT_TRUE(WIFEXITED(status)) << output;
  EXPECT_EQ(WEXITSTATUS(status), 0) << output;
  EXPECT_NE(output.find("BMP"), std::string::npos) << output;
  EXPECT_NE(output.find("5x3"), std::string::npos) << output;
}

}  // namespace
