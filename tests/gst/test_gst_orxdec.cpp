// The orxdec GStreamer element, run by GStreamer's own tools and through its
// API: what gst-inspect-1.0 lists, pixels of every variant against what
// orx decode delivers on the decompressor's processor road, frame-exact
// seeks, damaged frames as bus messages, and a player window under Xvfb
// without videoconvert. Movies are made by the built orx program.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "ImageIO.h"
#include "MovieFile.h"
#include "ProcessRun.h"

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// A tool found by CMake (find_program), passed in the environment.
std::string Tool(const char* variable) {
  const std::string t = Env(variable);
  return t.empty() || t.find("NOTFOUND") != std::string::npos ? "" : t;
}

struct Variant {
  const char* transparency;
  const char* optimize;
};
// Without alpha: DXT24+LZF, DXT1+LZF, DXT24 raw; keeping alpha the compressor makes DXT5 (LZF, LZF, raw).
const Variant kVariants[] = {{"discard", "quality"},  {"discard", "performance"},  {"discard", "vovorevaded"},
                             {"preserve", "quality"}, {"preserve", "performance"}, {"preserve", "vovorevaded"}};

class OrxDec : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/orx-gst-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("ORX_PREFERENCES_DIR", (dir_ + "/prefs").c_str(), 1);
    // orxdec decodes on the processor road, orx decode's reference with it.
    setenv("ORX_DISABLE_GL", "1", 1);
    orx_ = Env("ORX_BIN");
    launch_ = Tool("ORX_GST_LAUNCH");
    ASSERT_FALSE(orx_.empty());
    ASSERT_FALSE(launch_.empty()) << "gst-launch-1.0 is not installed (scripts/install-deps.sh installs it)";
  }
  void TearDown() override { Shell("rm -rf '" + dir_ + "'"); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string Q(const std::string& name) const { return "'" + Path(name) + "'"; }

  RunResult Orx(const std::string& args) const { return Shell(orx_ + " " + args); }
  RunResult Launch(const std::string& pipeline) const { return Shell(launch_ + " " + pipeline); }

  void Encode(const std::string& args, const std::string& movie) {
    const RunResult r = Orx("encode -q " + args + " -o " + Q(movie));
    ASSERT_EQ(r.status, 0) << r.output;
  }
  // All frames of a movie as orx decode delivers them (raw ARGB).
  std::vector<uint8_t> OrxFrames(const std::string& movie) {
    const RunResult r = Orx("decode -q " + Q(movie) + " -o " + Q(movie + ".argb"));
    EXPECT_EQ(r.status, 0) << r.output;
    return ReadAll(Path(movie + ".argb"));
  }
  // All frames through qtdemux and orxdec, as written by filesink.
  RunResult GstFrames(const std::string& movie, const std::string& out, const std::string& decoderOptions = "") {
    return Launch("-q filesrc location=" + Q(movie) + " ! qtdemux ! orxdec " + decoderOptions +
                  " ! video/x-raw,format=ARGB ! filesink location=" + Q(out));
  }

  // Makes sample index of the movie one the decompressor rejects: its
  // variant byte (offset 26 of the frame header) names no variant.
  void DamageSample(const std::string& movie, int index) {
    HostMovieReaderRef r = nullptr;
    ASSERT_EQ(HostMovieReaderOpen(Path(movie).c_str(), 0, &r, nullptr, 0), noErr);
    SInt64 offset = 0;
    SInt32 size = 0;
    TimeValue duration = 0;
    Boolean sync = 0;
    ASSERT_EQ(HostMovieReaderGetSampleInfo(r, index, &offset, &size, &duration, &sync), noErr);
    HostMovieReaderClose(r);
    ASSERT_GE(size, 28);
    std::vector<uint8_t> bytes = ReadAll(Path(movie));
    ASSERT_LT(size_t(offset) + 26, bytes.size());
    bytes[size_t(offset) + 26] = 0xEE;
    WriteAll(Path(movie), bytes);
  }

  std::string dir_, orx_, launch_;
};

// ---- Registration ----------------------------------------------------------------------

TEST_F(OrxDec, InspectListsTheElementWithItsCaps) {
  const std::string inspect = Tool("ORX_GST_INSPECT");
  ASSERT_FALSE(inspect.empty()) << "gst-inspect-1.0 is not installed";
  const RunResult r = Shell(inspect + " orxdec");
  ASSERT_EQ(r.status, 0) << r.output;
  for (const char* text : {"GstVideoDecoder", "GstOrxDec", "primary", "SINK template", "video/x-gst-fourcc-ORXV",
                           "video/x-orx", "SRC template", "video/x-raw", "max-errors"})
    EXPECT_NE(r.output.find(text), std::string::npos) << text << " missing from:\n" << r.output;
  // The source offers the six byte orders, ARGB first.
  EXPECT_NE(r.output.find("format: { (string)ARGB, (string)BGRA, (string)RGBA, (string)xRGB, (string)BGRx, "
                          "(string)RGBx }"),
            std::string::npos)
      << r.output;
  // The plug-in lists only this element and loads without complaint.
  const RunResult p = Shell(inspect + " orx");
  ASSERT_EQ(p.status, 0) << p.output;
  EXPECT_NE(p.output.find("orxdec: ORX video decoder"), std::string::npos) << p.output;
  EXPECT_EQ(p.output.find("WARNING"), std::string::npos) << p.output;
}

// gst-discoverer-1.0 names the codec. Its summary line describes qtdemux's
// caps, whose type GStreamer's descriptions do not know; the name comes with
// the stream's tags (shown with -v), from orxdec: ORX with the first
// frame's variant and packing.
TEST_F(OrxDec, DiscovererNamesTheCodec) {
  const std::string discoverer = Tool("ORX_GST_DISCOVERER");
  ASSERT_FALSE(discoverer.empty()) << "gst-discoverer-1.0 is not installed";
  const struct {
    Variant variant;
    const char* name;
  } cases[] = {{{"discard", "quality"}, "ORX (DXT24, LZF)"},
               {{"discard", "vovorevaded"}, "ORX (DXT24)"},
               {{"preserve", "performance"}, "ORX (DXT5, LZF)"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string movie = std::string(c.variant.optimize) + "-" + c.variant.transparency + ".mov";
    Encode(std::string("--test-clip --size 40x24 --frames 3 --transparency ") + c.variant.transparency +
               " --optimize " + c.variant.optimize,
           movie);
    const RunResult r = Shell(discoverer + " -v " + Q(movie));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(std::string("video codec: ") + c.name + "\n"), std::string::npos) << r.output;
  }
}

// ---- Pixels ----------------------------------------------------------------------------

// Every variant at a size of whole blocks (the decompressor draws into the
// element's output buffer) and at one that is not (its destination is
// extended; the element copies out the image alone).
TEST_F(OrxDec, EveryVariantDecodesToTheSamePixelsAsOrxDecode) {
  const int frames = 4;
  for (const char* size : {"64x48", "70x42"}) {
    int w = 0, h = 0;
    ASSERT_EQ(std::sscanf(size, "%dx%d", &w, &h), 2);
    for (const Variant& v : kVariants) {
      SCOPED_TRACE(std::string(size) + " " + v.transparency + " " + v.optimize);
      const std::string movie = std::string(size) + "-" + v.transparency + "-" + v.optimize + ".mov";
      Encode("--test-clip --size " + std::string(size) + " --frames 4 --transparency " + std::string(v.transparency) +
                 " --optimize " + v.optimize,
             movie);
      const std::vector<uint8_t> expected = OrxFrames(movie);
      ASSERT_EQ(expected.size(), size_t(w) * h * 4 * frames);
      const RunResult g = GstFrames(movie, movie + ".gst");
      ASSERT_EQ(g.status, 0) << g.output;
      const std::vector<uint8_t> got = ReadAll(Path(movie + ".gst"));
      ASSERT_EQ(got.size(), expected.size());
      EXPECT_TRUE(got == expected) << "orxdec's pixels differ from orx decode's";
    }
  }
}

// A frame of more than a megapixel (decoded in bands by the decode pool),
// and the element found by decodebin, as players find it.
TEST_F(OrxDec, LargeFramesAndDecodebinMatchOrxDecode) {
  Encode("--test-clip --size 1300x820 --frames 2 --transparency discard --optimize quality", "large.mov");
  const std::vector<uint8_t> expected = OrxFrames("large.mov");
  ASSERT_EQ(expected.size(), size_t(1300) * 820 * 4 * 2);
  const RunResult g = GstFrames("large.mov", "large.gst");
  ASSERT_EQ(g.status, 0) << g.output;
  EXPECT_TRUE(ReadAll(Path("large.gst")) == expected);

  Encode("--test-clip --size 70x42 --frames 3 --transparency preserve --optimize performance", "auto.mov");
  const std::vector<uint8_t> dxt5 = OrxFrames("auto.mov");
  const RunResult d = Launch("-q filesrc location=" + Q("auto.mov") +
                             " ! decodebin ! video/x-raw,format=ARGB ! filesink location=" + Q("auto.gst"));
  ASSERT_EQ(d.status, 0) << d.output;
  EXPECT_TRUE(ReadAll(Path("auto.gst")) == dxt5);
}

// ---- Seeking ---------------------------------------------------------------------------

// Pulls the frame the pipeline prerolled after a flushing seek to position.
bool SeekAndPull(GstElement* pipeline, GstElement* sink, GstSeekFlags flags, gint64 position, std::vector<uint8_t>* pixels,
                 GstClockTime* pts) {
  if (!gst_element_seek_simple(pipeline, GST_FORMAT_TIME, GstSeekFlags(GST_SEEK_FLAG_FLUSH | flags), position))
    return false;
  if (gst_element_get_state(pipeline, nullptr, nullptr, 10 * GST_SECOND) != GST_STATE_CHANGE_SUCCESS) return false;
  GstSample* sample = gst_app_sink_try_pull_preroll(GST_APP_SINK(sink), 10 * GST_SECOND);
  if (sample == nullptr) return false;
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  GstMapInfo map;
  const bool mapped = gst_buffer_map(buffer, &map, GST_MAP_READ);
  if (mapped) {
    pixels->assign(map.data, map.data + map.size);
    gst_buffer_unmap(buffer, &map);
  }
  *pts = GST_BUFFER_PTS(buffer);
  gst_sample_unref(sample);
  return mapped;
}

TEST_F(OrxDec, SeekingToFrameKYieldsFrameK) {
  const int w = 64, h = 48, frames = 12;
  const size_t frameBytes = size_t(w) * h * 4;
  const GstClockTime duration = GST_SECOND / 25;
  Encode("--test-clip --size 64x48 --frames 12 --fps 25 --transparency discard --optimize quality", "seek.mov");
  const std::vector<uint8_t> all = OrxFrames("seek.mov");
  ASSERT_EQ(all.size(), frameBytes * frames);
  auto frame = [&](int k) { return std::vector<uint8_t>(all.begin() + long(frameBytes * k), all.begin() + long(frameBytes * (k + 1))); };
  ASSERT_NE(frame(2), frame(7)) << "the clip's frames must differ for the seeks to be told apart";

  GError* error = nullptr;
  const std::string description = "filesrc location=" + Path("seek.mov") +
                                  " ! qtdemux ! orxdec ! video/x-raw,format=ARGB ! appsink name=sink sync=false";
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  ASSERT_NE(pipeline, nullptr) << (error ? error->message : "");
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
  ASSERT_NE(sink, nullptr);
  ASSERT_NE(gst_element_set_state(pipeline, GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
  ASSERT_EQ(gst_element_get_state(pipeline, nullptr, nullptr, 10 * GST_SECOND), GST_STATE_CHANGE_SUCCESS);

  std::vector<uint8_t> pixels;
  GstClockTime pts = 0;
  // Accurate seeks, out of order, to the first and last frames among others.
  for (int k : {7, 2, 11, 0, 5, 6}) {
    SCOPED_TRACE("accurate seek to frame " + std::to_string(k));
    ASSERT_TRUE(SeekAndPull(pipeline, sink, GST_SEEK_FLAG_ACCURATE, gint64(k * duration), &pixels, &pts));
    EXPECT_EQ(pts, k * duration);
    EXPECT_TRUE(pixels == frame(k));
  }
  // Every frame is a key frame: a key-unit seek into the middle of frame k
  // snaps back to frame k itself.
  for (int k : {9, 3}) {
    SCOPED_TRACE("key-unit seek into frame " + std::to_string(k));
    ASSERT_TRUE(SeekAndPull(pipeline, sink, GstSeekFlags(GST_SEEK_FLAG_KEY_UNIT | GST_SEEK_FLAG_SNAP_BEFORE),
                            gint64(k * duration + duration / 2), &pixels, &pts));
    EXPECT_EQ(pts, k * duration);
    EXPECT_TRUE(pixels == frame(k));
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(sink);
  gst_object_unref(pipeline);
}

// ---- Damaged frames ----------------------------------------------------------------------

TEST_F(OrxDec, DamagedFramesBecomeDecodeErrorsWithTheFrameChecksReason) {
  const size_t frameBytes = size_t(64) * 48 * 4;
  Encode("--test-clip --size 64x48 --frames 6 --transparency discard --optimize performance", "ok.mov");
  const std::vector<uint8_t> all = OrxFrames("ok.mov");
  ASSERT_EQ(all.size(), frameBytes * 6);

  // The decompressor refuses the frame too; the bus message carries the
  // frame check's reason.
  ASSERT_EQ(Shell("cp " + Q("ok.mov") + " " + Q("one.mov")).status, 0);
  DamageSample("one.mov", 2);
  const RunResult o = Orx("decode -q " + Q("one.mov") + " -o " + Q("one.argb"));
  ASSERT_NE(o.status, 0);
  ASSERT_NE(o.output.find("frame 2: "), std::string::npos) << o.output;
  const std::string message = "not an ORX frame of 64x48: unknown block variant";

  // One damaged frame is within the tolerance: a warning, and the other
  // frames exactly as orx decode gives them.
  const RunResult tolerated = Launch("filesrc location=" + Q("one.mov") +
                                     " ! qtdemux ! orxdec ! video/x-raw,format=ARGB ! filesink location=" + Q("one.gst"));
  EXPECT_EQ(tolerated.status, 0) << tolerated.output;
  EXPECT_NE(tolerated.output.find("WARNING"), std::string::npos) << tolerated.output;
  EXPECT_NE(tolerated.output.find(message), std::string::npos) << tolerated.output;
  std::vector<uint8_t> rest(all.begin(), all.begin() + long(2 * frameBytes));
  rest.insert(rest.end(), all.begin() + long(3 * frameBytes), all.end());
  EXPECT_TRUE(ReadAll(Path("one.gst")) == rest);

  // With no tolerance the same frame stops the pipeline with an error.
  const RunResult strict = GstFrames("one.mov", "strict.gst", "max-errors=0");
  EXPECT_NE(strict.status, 0) << strict.output;
  EXPECT_NE(strict.output.find("ERROR"), std::string::npos) << strict.output;
  EXPECT_NE(strict.output.find(message), std::string::npos) << strict.output;

  // More consecutive damaged frames than the default tolerance: an error.
  ASSERT_EQ(Shell("cp " + Q("ok.mov") + " " + Q("many.mov")).status, 0);
  for (int i = 1; i <= 4; ++i) DamageSample("many.mov", i);
  const RunResult many = GstFrames("many.mov", "many.gst");
  EXPECT_NE(many.status, 0) << many.output;
  EXPECT_NE(many.output.find("ERROR"), std::string::npos) << many.output;
  EXPECT_NE(many.output.find("orxdec"), std::string::npos) << many.output;
  EXPECT_NE(many.output.find(message), std::string::npos) << many.output;
}

// A sample description claiming 32767x32767 over frames of 64x48: every
// frame is refused for its size before anything is sized for the image, so
// the pipeline fails with the reason even in an address space far below the
// 4 GiB such a frame would take.
TEST_F(OrxDec, AFrameSizeTheFramesCannotBackIsRefusedBeforeAnyAllocation) {
  Encode("--test-clip --size 64x48 --frames 8", "q.mov");
  std::vector<uint8_t> bytes = ReadAll(Path("q.mov"));
  const size_t i = std::string(bytes.begin(), bytes.end()).rfind("ORXV");
  ASSERT_NE(i, std::string::npos);
  const uint8_t size[4] = {0x7F, 0xFF, 0x7F, 0xFF};
  std::memcpy(&bytes[i + 28], size, sizeof size);
  WriteAll(Path("big.mov"), bytes);
  // max-errors=0: the first refused frame ends the pipeline (with every
  // frame dropped, gst-launch can wait in preroll on the decoder's gaps).
  const RunResult r = Shell("sh -c \"ulimit -v 1500000; timeout 60 " + launch_ + " filesrc location=" + Q("big.mov") +
                            " ! qtdemux ! orxdec max-errors=0 ! fakesink\"");
  EXPECT_NE(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("not an ORX frame of 32767x32767: block data is shorter than the image needs"),
            std::string::npos)
      << r.output;
  EXPECT_EQ(r.output.find("emory"), std::string::npos) << r.output;  // no "Out of memory" on the way
}

// The largest picture the caps may name, and its one frame: zeros marked
// LZF, as long as the 88:1 bound asks (6.1 MB), which cannot unpack to the
// picture. The element refuses it with the reason before it opens the
// decompressor, whose destination alone would be 4 GiB: the pipeline fails
// even in an address space far below that.
TEST_F(OrxDec, ADamagedPackedFrameIsRefusedBeforeAnyAllocation) {
  const int side = 32764;
  const int64_t blocks = int64_t{side / 4} * (side / 4) * 8;
  const auto dataSize = uint32_t((blocks + 87) / 88);
  std::vector<uint8_t> frame(28 + dataSize, 0);
  frame[0] = 28;  // headerSize
  frame[4] = 1;   // version
  frame[6] = 1;   // isLZF
  for (int i = 0; i < 4; ++i) frame[16 + size_t(i)] = uint8_t(dataSize >> (8 * i));
  WriteAll(Path("zeros.orx"), frame);
  const std::string size = std::to_string(side);
  const RunResult r =
      Shell("sh -c \"ulimit -v 1500000; timeout 60 " + launch_ + " filesrc location=" + Q("zeros.orx") +
            " blocksize=" + std::to_string(frame.size()) + " ! video/x-orx,width=" + size + ",height=" + size +
            ",framerate=25/1 ! orxdec max-errors=0 ! fakesink\"");
  EXPECT_NE(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("not an ORX frame of 32764x32764: packed block data does not unpack to the image's blocks"),
            std::string::npos)
      << r.output;
  EXPECT_EQ(r.output.find("emory"), std::string::npos) << r.output;
}

// ---- A player's window under Xvfb --------------------------------------------------------

// Mean colour (R, G, B) of a rectangle of an RGB (3 bytes a pixel) or an
// ARGB (4 bytes, alpha first) image.
struct Mean {
  double r = 0, g = 0, b = 0;
};
Mean MeanOf(const uint8_t* pixels, int stride, int bytesPerPixel, int x0, int y0, int w, int h) {
  Mean m;
  const int first = bytesPerPixel == 4 ? 1 : 0;
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) {
      const uint8_t* p = pixels + size_t(y) * size_t(stride) + size_t(x) * size_t(bytesPerPixel) + size_t(first);
      m.r += p[0], m.g += p[1], m.b += p[2];
    }
  const double n = double(w) * h;
  m.r /= n, m.g /= n, m.b /= n;
  return m;
}

TEST_F(OrxDec, PlayersShowTheClipUnderXvfb) {
  const std::string xvfb = Tool("ORX_XVFB_RUN"), import = Tool("ORX_IMPORT"), play = Tool("ORX_GST_PLAY");
  ASSERT_FALSE(xvfb.empty()) << "xvfb-run is not installed";
  ASSERT_FALSE(import.empty()) << "import (imagemagick) is not installed";
  ASSERT_FALSE(play.empty()) << "gst-play-1.0 is not installed (gstreamer1.0-plugins-base-apps)";
  // A still clip of four flat quarters, long enough to be on screen when
  // the screenshot is taken.
  const int w = 160, h = 120;
  const uint32_t quarters[4] = {0xFFD02020u, 0xFF20C040u, 0xFF2040D0u, 0xFFE0E0E0u};
  orxapp::ImageARGB img;
  img.Allocate(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t c = quarters[(y >= h / 2) * 2 + (x >= w / 2)];
      uint8_t* p = img.Row(y) + size_t(x) * 4;
      p[0] = uint8_t(c >> 24), p[1] = uint8_t(c >> 16), p[2] = uint8_t(c >> 8), p[3] = uint8_t(c);
    }
  std::string err;
  for (int i = 0; i < 80; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "still%03d.png", i);
    ASSERT_TRUE(orxapp::WritePNG(Path(name), img.pixels.data(), w, h, img.RowBytes(), false, &err)) << err;
  }
  Encode(Q("still%03d.png") + " --fps 20 --transparency discard --optimize quality", "still.mov");
  const std::vector<uint8_t> decoded = OrxFrames("still.mov");
  ASSERT_GE(decoded.size(), size_t(w) * h * 4);

  const std::string players[] = {
      play + " --no-interactive --videosink=ximagesink " + Q("still.mov"),
      // orxdec gives ximagesink its own format directly.
      launch_ + " filesrc location=" + Q("still.mov") + " ! qtdemux ! orxdec ! ximagesink",
  };
  int n = 0;
  for (const std::string& player : players) {
    SCOPED_TRACE(player);
    const std::string shot = "shot" + std::to_string(n++) + ".rgb";
    // The player runs for 4 s; the root window is captured after 1.5 s. The
    // window opens at the top left at the clip's own size (no window manager).
    const std::string script = player + " > " + Q("player.log") + " 2>&1 & p=$!; sleep 1.5; " + import +
                               " -window root -depth 8 rgb:" + Path(shot) + "; kill $p; wait $p; true";
    const RunResult r = Shell("timeout 60 " + xvfb + " -a -s '-screen 0 640x480x24' sh -c \"" + script + "\"");
    const std::vector<uint8_t> log = ReadAll(Path("player.log"));
    ASSERT_EQ(r.status, 0) << r.output << std::string(log.begin(), log.end());
    const std::vector<uint8_t> screen = ReadAll(Path(shot));
    ASSERT_EQ(screen.size(), size_t(640) * 480 * 3) << r.output;
    for (int q = 0; q < 4; ++q) {
      const int x0 = (q % 2) * w / 2 + 10, y0 = (q / 2) * h / 2 + 10;
      const Mean want = MeanOf(decoded.data(), w * 4, 4, x0, y0, w / 2 - 20, h / 2 - 20);
      const Mean got = MeanOf(screen.data(), 640 * 3, 3, x0, y0, w / 2 - 20, h / 2 - 20);
      EXPECT_NEAR(got.r, want.r, 3.0) << "quarter " << q;
      EXPECT_NEAR(got.g, want.g, 3.0) << "quarter " << q;
      EXPECT_NEAR(got.b, want.b, 3.0) << "quarter " << q;
    }
    // Outside the window the screen stays black.
    const Mean outside = MeanOf(screen.data(), 640 * 3, 3, 300, 300, 100, 100);
    EXPECT_LT(outside.r + outside.g + outside.b, 3.0);
  }
}

}  // namespace

// The suite's own registry, so a stale one never hides the plug-in, and the
// built plug-in's folder on GStreamer's search path; then GStreamer starts.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  char pattern[] = "/tmp/orx-gst-registry-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string registry = std::string(pattern) + "/registry.bin";
  setenv("GST_REGISTRY", registry.c_str(), 1);
  setenv("GST_PLUGIN_PATH", Env("ORX_GST_PLUGIN_DIR").c_str(), 1);
  gst_init(nullptr, nullptr);
  const int result = RUN_ALL_TESTS();
  Shell("rm -rf '" + std::string(pattern) + "'");
  return result;
}
