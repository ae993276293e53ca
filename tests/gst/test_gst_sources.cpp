// orx encode from footage GStreamer decodes, every input made here with
// GStreamer's own encoders: the kinds of footage, alpha, rate and aspect,
// variable frame times, the same frames as from PNG files, sound through to
// orx info, mediainfo, qtdemux and a WAV file, picture and sound in step
// through orxdec, sound of 64 channels, sound placed to the nearest frame,
// pictures and sound lost in damaged files, the bad inputs, several inputs
// joined into one movie, and --fps converting footage's rate.
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "MacMemory.h"
#include "MovieFile.h"
#include "ProcessRun.h"

namespace {

namespace fs = std::filesystem;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::vector<uint8_t> ClickWave(uint32_t frames, uint32_t click);

class Footage : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/orx-footage-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("ORX_PREFERENCES_DIR", (dir_ + "/prefs").c_str(), 1);
    orx_ = Env("ORX_BIN");
    ASSERT_FALSE(orx_.empty());
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  // VP8 footage at 30 fps in Matroska, with linear PCM beside it when
  // soundFrames > 0: 48 kHz stereo, silent but for a click at frame click,
  // decoded as `format` (no codec delay, so the clicks tell exact times).
  void Clip(const std::string& name, int frames, uint32_t soundFrames = 0, uint32_t click = 0,
            const char* format = "S16LE", int width = 64, const char* rate = "30/1") const {
    std::string sound;
    if (soundFrames > 0) {
      WriteAll(Path(name + ".wav"), ClickWave(soundFrames, click));
      sound = " filesrc location=" + Q(name + ".wav") + " ! wavparse ! audioconvert ! audio/x-raw,format=" + format + " ! m.";
    }
    Make("videotestsrc num-buffers=" + std::to_string(frames) + " pattern=ball ! video/x-raw,format=I420,width=" +
         std::to_string(width) + ",height=48,framerate=" + rate + " ! vp8enc ! matroskamux name=m ! filesink location=" +
         Q(name) + sound);
  }
  std::string Q(const std::string& name) const { return "'" + Path(name) + "'"; }
  RunResult Orx(const std::string& args) const { return Shell(orx_ + " " + args); }
  void Make(const std::string& pipeline) const {
    const RunResult r = Shell("gst-launch-1.0 -q " + pipeline);
    ASSERT_EQ(r.status, 0) << pipeline << "\n" << r.output;
  }
  void Encode(const std::string& args, const std::string& movie) const {
    const RunResult r = Orx("encode -q " + args + " -o " + Q(movie));
    ASSERT_EQ(r.status, 0) << r.output;
  }
  // Only the given names in the folder: no partial movie left anywhere.
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string dir_, orx_;
};

struct Samples {
  std::vector<std::vector<uint8_t>> frames;
  std::vector<TimeValue> durations;
  TimeScale scale = 0;
  int width = 0, height = 0;
};

Samples ReadMovie(const std::string& path) {
  Samples s;
  HostMovieReaderRef r = nullptr;
  char message[256];
  if (HostMovieReaderOpen(path.c_str(), 0, &r, message, sizeof message) != noErr) {
    ADD_FAILURE() << path << ": " << message;
    return s;
  }
  s.scale = HostMovieReaderGetTimeScale(r);
  ImageDescriptionHandle d = HostMovieReaderGetImageDescription(r);
  s.width = (*d)->width;
  s.height = (*d)->height;
  std::vector<uint8_t> buf(size_t(HostMovieReaderGetMaxSampleSize(r)));
  for (SInt32 i = 0; i < HostMovieReaderGetSampleCount(r); ++i) {
    SInt32 size = 0;
    TimeValue duration = 0;
    HostMovieReaderGetSampleInfo(r, i, nullptr, nullptr, &duration, nullptr);
    if (HostMovieReaderReadSample(r, i, buf.data(), SInt32(buf.size()), &size) != noErr) break;
    s.frames.emplace_back(buf.begin(), buf.begin() + size);
    s.durations.push_back(duration);
  }
  HostMovieReaderClose(r);
  return s;
}

bool Contains(const std::vector<uint8_t>& hay, const std::vector<uint8_t>& needle) {
  return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

// Decoded 16-bit samples of a WAV file's data chunk (the first one).
std::vector<uint8_t> WaveData(const std::string& path) {
  const std::vector<uint8_t> f = ReadAll(path);
  for (size_t at = 12; at + 8 <= f.size();) {
    const uint32_t size = f[at + 4] | f[at + 5] << 8 | f[at + 6] << 16 | uint32_t(f[at + 7]) << 24;
    if (std::memcmp(&f[at], "data", 4) == 0)
      return std::vector<uint8_t>(f.begin() + std::ptrdiff_t(at + 8),
                                  f.begin() + std::ptrdiff_t(std::min<size_t>(f.size(), at + 8 + size)));
    at += 8 + size + (size & 1);
  }
  return {};
}

// A WAV file of linear PCM: 16-bit integers or 32-bit ones (tag 1), or
// the same under WAVE_FORMAT_EXTENSIBLE with no channel positions; each
// sample's value tells its frame and channel apart.
std::vector<uint8_t> Wave(uint32_t rate, uint16_t channels, uint16_t bits, uint32_t frames, bool extensible = false) {
  std::vector<uint8_t> w;
  auto u16 = [&](uint32_t v) { w.push_back(uint8_t(v)), w.push_back(uint8_t(v >> 8)); };
  auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
  auto tag = [&](const char* t) {
    for (int i = 0; i < 4; ++i) w.push_back(uint8_t(t[i]));
  };
  const uint32_t block = uint32_t(channels) * bits / 8, data = block * frames;
  const uint32_t fmt = extensible ? 40 : 16;
  tag("RIFF"), u32(4 + 8 + fmt + 8 + data), tag("WAVE"), tag("fmt "), u32(fmt);
  u16(extensible ? 0xFFFE : 1), u16(channels), u32(rate), u32(rate * block), u16(uint16_t(block)), u16(bits);
  if (extensible) {
    u16(22), u16(bits), u32(0);  // valid bits, no channel positions
    for (const uint8_t b : {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}) w.push_back(b);
  }
  tag("data"), u32(data);
  for (uint32_t f = 0; f < frames; ++f)
    for (uint32_t c = 0; c < channels; ++c) {
      const uint32_t v = (f * 131 + c * 977) & 0x7FFF;
      bits == 16 ? u16(v) : u32(v << 16);
    }
  return w;
}

// Silent 16-bit stereo at 48 kHz with a click (48 frames at 0x6000, 0.75 of
// full scale) starting at frame `click`.
std::vector<uint8_t> ClickWave(uint32_t frames, uint32_t click) {
  std::vector<uint8_t> w = Wave(48000, 2, 16, frames);
  for (size_t i = 44; i < w.size(); ++i) w[i] = 0;
  for (uint32_t f = click; f < click + 48 && f < frames; ++f)
    for (int c = 0; c < 2; ++c) w[44 + f * 4 + c * 2 + 1] = 0x60;
  return w;
}

// The sound orx decode wrote as a WAV file (16-bit or float, stereo): its
// frames, its bits a sample, and where each click starts with its value.
struct Heard {
  size_t frames = 0;
  int bits = 0;
  std::vector<std::pair<size_t, float>> clicks;
};
Heard Listen(const std::string& path) {
  Heard h;
  const std::vector<uint8_t> header = ReadAll(path);
  if (header.size() < 44) return h;
  h.bits = header[34];
  const std::vector<uint8_t> data = WaveData(path);
  const size_t bytes = size_t(h.bits / 8) * 2;
  h.frames = data.size() / bytes;
  bool loud = false;
  for (size_t f = 0; f < h.frames; ++f) {
    float v;
    if (h.bits == 32) {
      std::memcpy(&v, &data[f * bytes], 4);
    } else {
      v = float(int16_t(uint16_t(data[f * bytes] | data[f * bytes + 1] << 8))) / 32768.0f;
    }
    if (std::fabs(v) > 0.5f && !loud) h.clicks.emplace_back(f, v);
    loud = std::fabs(v) > 0.5f;
  }
  return h;
}

// Where each Matroska block names its track, by track: the offsets of those
// bytes, found by walking the file's elements (segment, clusters, block
// groups) by their sizes.
std::map<int, std::vector<size_t>> BlockTracks(const std::vector<uint8_t>& f) {
  std::map<int, std::vector<size_t>> tracks;
  // An EBML number at `at`: its length, and its value with or without the
  // length marker (IDs keep it).
  auto number = [&](size_t at, bool keepMarker, size_t* length) {
    size_t n = 1;
    while (n <= 8 && !(f[at] & (0x80 >> (n - 1)))) ++n;
    uint64_t v = keepMarker ? f[at] : f[at] & (0xFF >> n);
    for (size_t i = 1; i < n && at + i < f.size(); ++i) v = v << 8 | f[at + i];
    *length = n;
    return v;
  };
  std::function<void(size_t, size_t)> walk = [&](size_t at, size_t end) {
    while (at + 2 <= end) {
      size_t idLength = 0, sizeLength = 0;
      const uint64_t id = number(at, true, &idLength);
      uint64_t size = number(at + idLength, false, &sizeLength);
      const size_t data = at + idLength + sizeLength;
      if (data > end) return;
      if (size == (uint64_t(1) << (7 * sizeLength)) - 1 || size > end - data) size = end - data;  // unknown: to the end
      if (id == 0x18538067 || id == 0x1F43B675 || id == 0xA0) walk(data, data + size);  // segment, cluster, block group
      if ((id == 0xA3 || id == 0xA1) && size > 0) tracks[f[data] & 0x7F].push_back(data);  // (simple) block
      at = data + size;
    }
  };
  walk(0, f.size());
  return tracks;
}

}  // namespace

// H.264 in MP4, VP9 in WebM and AV1 in Matroska: every frame, at the
// source's rate, with its pixel aspect stored beside the picture.
TEST_F(Footage, EveryKindOfFootageEncodesAtItsRateAndAspect) {
  const std::string raw = "videotestsrc num-buffers=12 pattern=smpte ! video/x-raw,format=I420,width=96,height=64,";
  Make(raw + "framerate=25/1,pixel-aspect-ratio=4/3 ! x264enc ! h264parse ! mp4mux ! filesink location=" + Q("a.mp4"));
  Make(raw + "framerate=24000/1001 ! vp9enc deadline=1 ! webmmux ! filesink location=" + Q("b.webm"));
  Make(raw + "framerate=12/1 ! av1enc cpu-used=8 usage-profile=realtime ! av1parse ! matroskamux ! filesink location=" + Q("c.mkv"));
  const struct {
    const char* file;
    const char* rate;
    bool aspect;
  } cases[] = {{"a.mp4", "25/1", true}, {"b.webm", "24000/1001", false}, {"c.mkv", "12/1", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    Encode(Q(c.file), std::string(c.file) + ".mov");
    const RunResult info = Orx("info --json " + Q(std::string(c.file) + ".mov"));
    ASSERT_EQ(info.status, 0) << info.output;
    EXPECT_NE(info.output.find("\"frames\": 12,"), std::string::npos) << info.output;
    EXPECT_NE(info.output.find(std::string("\"frame_rate\": \"") + c.rate + "\""), std::string::npos) << info.output;
    EXPECT_NE(info.output.find("\"width\": 96,"), std::string::npos) << info.output;
    const std::vector<uint8_t> pasp = {'p', 'a', 's', 'p', 0, 0, 0, 4, 0, 0, 0, 3};
    EXPECT_EQ(Contains(ReadAll(Path(std::string(c.file) + ".mov")), pasp), c.aspect);
  }
  // --retime gives the source's frames another rate; --frames picks a stretch of it.
  Encode(Q("a.mp4") + " --retime 50 --frames 3-7", "d.mov");
  const Samples d = ReadMovie(Path("d.mov"));
  ASSERT_EQ(d.frames.size(), 5u);
  const Samples a = ReadMovie(Path("a.mp4.mov"));
  for (size_t i = 0; i < 5; ++i) EXPECT_TRUE(d.frames[i] == a.frames[i + 3]) << i;
  EXPECT_EQ(double(d.durations[0]) / d.scale, 0.02);

  // Two video streams: the first, unless --video-stream picks the other.
  const std::string stream = "num-buffers=3 ! video/x-raw,format=I420,width=32,height=32,framerate=3/1 ! vp9enc deadline=1 ! m.";
  Make("matroskamux name=m ! filesink location=" + Q("two.mkv") + " videotestsrc pattern=black " + stream +
       " videotestsrc pattern=white " + stream);
  for (int n : {1, 2}) {
    Encode(Q("two.mkv") + (n == 2 ? " --video-stream 2" : "") + " -y", "two.mov");
    const RunResult px = Orx("decode -q -y " + Q("two.mov") + " --frames 0 -o " + Q("two.argb"));
    ASSERT_EQ(px.status, 0) << px.output;
    EXPECT_EQ(ReadAll(Path("two.argb"))[1] > 128, n == 2) << n;  // red of the first pixel: white or black
  }
}

// Footage with alpha keeps it when asked; footage without says so.
TEST_F(Footage, AlphaIsKeptWhenTheFootageHasIt) {
  Make("videotestsrc num-buffers=4 pattern=ball ! video/x-raw,format=RGBA,width=64,height=48,framerate=4/1 ! "
       "alpha method=set alpha=0.25 ! videoconvert ! video/x-raw,format=RGBA ! pngenc ! qtmux ! filesink location=" +
       Q("alpha.mov"));
  Encode(Q("alpha.mov") + " --transparency preserve", "kept.mov");
  const RunResult d = Orx("decode -q " + Q("kept.mov") + " -o " + Q("kept.argb"));
  ASSERT_EQ(d.status, 0) << d.output;
  const std::vector<uint8_t> px = ReadAll(Path("kept.argb"));
  ASSERT_EQ(px.size(), size_t(4) * 64 * 48 * 4);
  int transparent = 0;
  for (size_t i = 0; i < px.size(); i += 4) transparent += px[i] < 128;
  EXPECT_EQ(transparent, 4 * 64 * 48);  // a quarter opaque, every pixel
  Make("videotestsrc num-buffers=2 ! video/x-raw,format=I420,width=32,height=32 ! vp9enc ! webmmux ! filesink location=" +
       Q("opaque.webm"));
  const RunResult r = Orx("encode " + Q("opaque.webm") + " --transparency preserve -o " + Q("o.mov"));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("no alpha channel"), std::string::npos) << r.output;
}

// Pictures that reach the codec through GStreamer are those PNG files give:
// the same frames, byte for byte.
TEST_F(Footage, FramesFromGStreamerEqualThoseFromPNGFiles) {
  fs::create_directory(Path("png"));
  Make("videotestsrc num-buffers=6 pattern=smpte ! video/x-raw,format=RGB,width=96,height=64,framerate=6/1 ! "
       "tee name=t t. ! queue ! pngenc ! multifilesink location=" + Q("png/f%02d.png") +
       " t. ! queue ! pngenc ! qtmux ! filesink location=" + Q("png.mov"));
  for (const char* optimize : {"quality", "performance"}) {
    SCOPED_TRACE(optimize);
    const std::string settings = std::string(" --optimize ") + optimize + " --fps 6 -y";
    Encode(Q("png/f%02d.png") + settings, "from-png.mov");
    Encode(Q("png.mov") + settings, "from-gst.mov");
    const Samples a = ReadMovie(Path("from-png.mov")), b = ReadMovie(Path("from-gst.mov"));
    ASSERT_EQ(a.frames.size(), 6u);
    EXPECT_TRUE(a.frames == b.frames);
  }
  // Lossless VP9 (quantizer 0) in 4:4:4: its pictures, written out as PNG files by GStreamer, encode
  // to the frames the WebM file itself gives.
  Make("videotestsrc num-buffers=4 pattern=smpte ! video/x-raw,format=Y444,width=64,height=32,framerate=4/1 ! "
       "vp9enc min-quantizer=0 max-quantizer=0 deadline=1 ! webmmux ! filesink location=" + Q("lossless.webm"));
  fs::create_directory(Path("vp9"));
  Make("filesrc location=" + Q("lossless.webm") + " ! matroskademux ! vp9dec ! videoconvert ! video/x-raw,format=RGB ! "
       "pngenc ! multifilesink location=" + Q("vp9/f%02d.png"));
  Encode(Q("vp9/f%02d.png") + " --fps 4", "vp9-png.mov");
  Encode(Q("lossless.webm"), "vp9-gst.mov");
  const Samples a = ReadMovie(Path("vp9-png.mov")), b = ReadMovie(Path("vp9-gst.mov"));
  ASSERT_EQ(a.frames.size(), 4u);
  EXPECT_TRUE(a.frames == b.frames);
}

// Sequences of JPEG and WebP pictures made by GStreamer's encoders, by
// pattern and as a list of mixed kinds, encode to the frames of PNG files
// holding GStreamer's decoding of them. A 16-bit TIFF sequence (ImageMagick:
// GStreamer's own plug-ins write no TIFF) encodes to the frames of 16-bit
// PNG files of the same samples, which the PNG reader rounds to 8 bits.
TEST_F(Footage, PictureSequencesOfEveryKindEqualTheirPNGs) {
  for (const char* dir : {"src", "png"}) fs::create_directory(Path(dir));
  Make("videotestsrc num-buffers=3 pattern=ball ! video/x-raw,width=72,height=40,framerate=3/1 ! jpegenc ! "
       "multifilesink location=" + Q("src/j%02d.jpg"));
  Make("videotestsrc num-buffers=3 pattern=smpte ! video/x-raw,width=72,height=40,framerate=3/1 ! webpenc ! "
       "multifilesink location=" + Q("src/w%02d.webp"));
  for (int i = 0; i < 3; ++i) {
    const std::string n = "0" + std::to_string(i);
    Make("filesrc location=" + Q("src/j" + n + ".jpg") + " ! jpegdec ! videoconvert ! video/x-raw,format=RGB ! pngenc ! "
         "filesink location=" + Q("png/j" + n + ".png"));
    Make("filesrc location=" + Q("src/w" + n + ".webp") + " ! webpdec ! videoconvert ! video/x-raw,format=RGB ! pngenc ! "
         "filesink location=" + Q("png/w" + n + ".png"));
    const RunResult im = Shell("convert -size 72x40 gradient:'#0a1f33-#f3e1c7' -rotate " + std::to_string(i * 90) +
                               " -resize 72x40! -depth 16 " + Q("png/t" + n + ".png") + " && convert " +
                               Q("png/t" + n + ".png") + " -depth 16 " + Q("src/t" + n + ".tif"));
    ASSERT_EQ(im.status, 0) << im.output;
  }
  const std::vector<std::pair<std::string, std::string>> pairs{
      {Q("src/j%02d.jpg"), Q("png/j%02d.png")},
      {Q("src/w%02d.webp"), Q("png/w%02d.png")},
      {Q("src/t%02d.tif"), Q("png/t%02d.png")},
      {Q("src/j00.jpg") + " " + Q("src/w01.webp") + " " + Q("src/t02.tif"),
       Q("png/j00.png") + " " + Q("png/w01.png") + " " + Q("png/t02.png")}};
  for (const auto& [pictures, pngs] : pairs) {
    SCOPED_TRACE(pictures);
    Encode(pictures + " -y", "pictures.mov");
    Encode(pngs + " -y", "pngs.mov");
    const Samples a = ReadMovie(Path("pictures.mov")), b = ReadMovie(Path("pngs.mov"));
    ASSERT_EQ(a.frames.size(), 3u);
    EXPECT_TRUE(a.frames == b.frames);
  }
  // A damaged picture in the sequence is named, and no movie is left.
  WriteAll(Path("src/j01.jpg"), std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xE0, 0, 0});
  const RunResult r = Orx("encode -q " + Q("src/j%02d.jpg") + " -o " + Q("bad.mov"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("j01.jpg: "), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(Path("bad.mov")));
}

// Frames of a variable-rate source keep their own times in the movie.
TEST_F(Footage, VariableRateFramesKeepTheirTimes) {
  GstElement* p = gst_parse_launch(("appsrc name=src format=time ! videoconvert ! vp9enc deadline=1 ! matroskamux ! "
                                    "filesink location=" + Path("vfr.mkv")).c_str(),
                                   nullptr);
  ASSERT_NE(p, nullptr);
  GstElement* src = gst_bin_get_by_name(GST_BIN(p), "src");
  GstCaps* caps = gst_caps_from_string("video/x-raw,format=I420,width=32,height=32,framerate=0/1");
  gst_app_src_set_caps(GST_APP_SRC(src), caps);
  gst_caps_unref(caps);
  gst_element_set_state(p, GST_STATE_PLAYING);
  const int ms[] = {0, 40, 100, 110, 200, 333, 400};
  for (size_t i = 0; i < std::size(ms); ++i) {
    GstBuffer* b = gst_buffer_new_allocate(nullptr, 32 * 32 * 3 / 2, nullptr);
    gst_buffer_memset(b, 0, uint8_t(i * 30), 32 * 32 * 3 / 2);
    GST_BUFFER_PTS(b) = GstClockTime(ms[i]) * GST_MSECOND;
    GST_BUFFER_DURATION(b) = i + 1 < std::size(ms) ? GstClockTime(ms[i + 1] - ms[i]) * GST_MSECOND : 50 * GST_MSECOND;
    ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(src), b), GST_FLOW_OK);
  }
  gst_app_src_end_of_stream(GST_APP_SRC(src));
  GstMessage* m = gst_bus_timed_pop_filtered(GST_ELEMENT_BUS(p), 10 * GST_SECOND,
                                             GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GST_MESSAGE_TYPE(m), GST_MESSAGE_EOS);
  gst_message_unref(m);
  gst_element_set_state(p, GST_STATE_NULL);
  gst_object_unref(src);
  gst_object_unref(p);

  Encode(Q("vfr.mkv"), "vfr.mov");
  const Samples s = ReadMovie(Path("vfr.mov"));
  ASSERT_EQ(s.frames.size(), std::size(ms));
  EXPECT_EQ(s.scale, 90000);
  for (size_t i = 0; i + 1 < std::size(ms); ++i) EXPECT_EQ(s.durations[i], (ms[i + 1] - ms[i]) * 90) << i;
}

// Sound from a WAV file beside PNG pictures, and a source's own sound: the
// movie's track is PCM that orx info, mediainfo and qtdemux read, and
// orx decode gives back the source's samples as far as the pictures last.
TEST_F(Footage, SoundReachesInfoMediaInfoQtdemuxAndAWaveFile) {
  fs::create_directory(Path("png"));
  Make("videotestsrc num-buffers=30 ! video/x-raw,format=RGB,width=32,height=32 ! pngenc ! multifilesink location=" +
       Q("png/f%02d.png"));
  Make("audiotestsrc num-buffers=60 samplesperbuffer=1000 wave=sine ! audio/x-raw,format=S16LE,rate=44100,channels=2 ! "
       "wavenc ! filesink location=" + Q("tone.wav"));
  Encode(Q("png/f%02d.png") + " --fps 30 --audio " + Q("tone.wav"), "s.mov");
  const RunResult info = Orx("info " + Q("s.mov"));
  EXPECT_NE(info.output.find("sound     PCM 16-bit, 44100 Hz, 2 channels, 1.000 s"), std::string::npos) << info.output;
  const RunResult mi = Shell("mediainfo '--Inform=Audio;%Format%|%BitDepth%|%SamplingRate%|%Channels%' " + Q("s.mov"));
  EXPECT_EQ(mi.output, "PCM|16|44100|2\n");
  const RunResult caps = Shell("gst-launch-1.0 -v filesrc location=" + Q("s.mov") + " ! qtdemux name=d d.audio_0 ! fakesink");
  EXPECT_NE(caps.output.find("audio/x-raw, format=(string)S16LE"), std::string::npos) << caps.output;
  const RunResult w = Orx("decode -q " + Q("s.mov") + " -o " + Q("out.wav"));
  ASSERT_EQ(w.status, 0) << w.output;
  const std::vector<uint8_t> source = WaveData(Path("tone.wav")), back = WaveData(Path("out.wav"));
  ASSERT_EQ(back.size(), size_t(44100) * 4);  // one second: the pictures' length
  EXPECT_TRUE(std::equal(back.begin(), back.end(), source.begin()));

  // The source's own sound, 24 bits deep in FLAC, and --audio none.
  Make("videotestsrc num-buffers=20 ! video/x-raw,format=I420,width=32,height=32,framerate=20/1 ! vp9enc deadline=1 ! "
       "matroskamux name=m ! filesink location=" + Q("av.mkv") +
       " audiotestsrc num-buffers=50 ! audio/x-raw,format=S24LE,rate=48000,channels=1 ! flacenc ! m.");
  Encode(Q("av.mkv"), "av.mov");
  EXPECT_NE(Orx("info " + Q("av.mov")).output.find("sound     PCM 24-bit, 48000 Hz, 1 channel, 1.000 s"), std::string::npos);
  // Sound whose decoder is ranked out of use: the pictures are kept, and a
  // warning says what keeps the sound out.
  const RunResult nodec = Shell("GST_PLUGIN_FEATURE_RANK=flacdec:NONE " + orx_ + " encode -q " + Q("av.mkv") + " -o " +
                                Q("nodec.mov"));
  EXPECT_EQ(nodec.status, 0) << nodec.output;
  EXPECT_NE(nodec.output.find("its sound cannot be decoded"), std::string::npos) << nodec.output;
  EXPECT_NE(nodec.output.find("flacdec (gstreamer1.0-plugins-good, installed) decodes it but is ranked out"),
            std::string::npos)
      << nodec.output;
  EXPECT_EQ(Orx("info " + Q("nodec.mov")).output.find("sound"), std::string::npos);
  Encode(Q("av.mkv") + " --audio none", "silent.mov");
  EXPECT_EQ(Orx("info " + Q("silent.mov")).output.find("sound"), std::string::npos);
  EXPECT_NE(Orx("decode " + Q("silent.mov") + " -o " + Q("none.wav")).status, 0);
}

// A flash frame and a click at the same second of the source arrive at the
// same time on the two branches of playbin, its pictures through orxdec.
TEST_F(Footage, PictureAndSoundStayInStepThroughOrxdec) {
  fs::create_directory(Path("png"));
  // 60 frames at 30 fps, frame 30 white; a click at 1.000 s in silence.
  for (int i = 0; i < 60; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "png/f%02d.png", i);
    Make(std::string("videotestsrc num-buffers=1 pattern=") + (i == 30 ? "white" : "black") +
         " ! video/x-raw,format=RGB,width=32,height=32 ! pngenc ! filesink location=" + Q(name));
  }
  std::vector<uint8_t> wav = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0,
                              0x80, 0xBB, 0, 0, 0, 0x77, 1, 0, 2, 0, 16, 0, 'd', 'a', 't', 'a', 0, 0, 0, 0};
  const uint32_t frames = 48000 * 2, bytes = frames * 2;
  for (int i = 0; i < 4; ++i) wav[40 + i] = uint8_t(bytes >> (8 * i)), wav[4 + i] = uint8_t((bytes + 36) >> (8 * i));
  wav.resize(44 + bytes, 0);
  for (uint32_t k = 48000; k < 48000 + 48; ++k) wav[44 + 2 * k + 1] = 0x60;  // 1 ms click
  WriteAll(Path("click.wav"), wav);
  Encode(Q("png/f%02d.png") + " --fps 30 --audio " + Q("click.wav"), "sync.mov");

  // playbin, as a player builds it, with its two sinks read here.
  GstElement* p = gst_parse_launch(("playbin uri=file://" + Path("sync.mov") +
                                    " video-sink=\"videoconvert ! video/x-raw,format=ARGB ! appsink name=v sync=false\""
                                    " audio-sink=\"audioconvert ! audio/x-raw,format=S16LE ! appsink name=a sync=false\"")
                                       .c_str(),
                                   nullptr);
  ASSERT_NE(p, nullptr);
  // The sinks live in the bins playbin was given.
  GstElement *videoBin = nullptr, *audioBin = nullptr;
  g_object_get(p, "video-sink", &videoBin, "audio-sink", &audioBin, nullptr);
  ASSERT_NE(videoBin, nullptr);
  ASSERT_NE(audioBin, nullptr);
  GstElement* v = gst_bin_get_by_name(GST_BIN(videoBin), "v");
  GstElement* a = gst_bin_get_by_name(GST_BIN(audioBin), "a");
  gst_object_unref(videoBin);
  gst_object_unref(audioBin);
  ASSERT_NE(v, nullptr);
  ASSERT_NE(a, nullptr);
  gst_element_set_state(p, GST_STATE_PLAYING);
  GstClockTime flash = GST_CLOCK_TIME_NONE, click = GST_CLOCK_TIME_NONE;
  // The next buffer of a sink, handed to look with its bytes; false once the
  // sink has no more.
  auto pull = [](GstElement* sink, const std::function<void(GstBuffer*, const uint8_t*, size_t)>& look) {
    GstSample* s = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), GST_SECOND);
    if (s == nullptr) return false;
    GstBuffer* b = gst_sample_get_buffer(s);
    GstMapInfo map;
    if (gst_buffer_map(b, &map, GST_MAP_READ)) {
      look(b, map.data, map.size);
      gst_buffer_unmap(b, &map);
    }
    gst_sample_unref(s);
    return true;
  };
  bool videoDone = false, audioDone = false;
  while (!videoDone || !audioDone) {
    if (!videoDone)
      videoDone = !pull(v, [&](GstBuffer* b, const uint8_t* argb, size_t) {
        if (flash == GST_CLOCK_TIME_NONE && argb[1] > 200) flash = GST_BUFFER_PTS(b);
      });
    if (!audioDone)
      audioDone = !pull(a, [&](GstBuffer* b, const uint8_t* bytes, size_t size) {
        const auto* pcm = reinterpret_cast<const int16_t*>(bytes);
        for (size_t k = 0; click == GST_CLOCK_TIME_NONE && k < size / 2; ++k)
          if (std::abs(pcm[k]) > 10000) click = GST_BUFFER_PTS(b) + gst_util_uint64_scale(k, GST_SECOND, 48000);
      });
  }
  gst_element_set_state(p, GST_STATE_NULL);
  gst_object_unref(v);
  gst_object_unref(a);
  gst_object_unref(p);
  ASSERT_NE(flash, GST_CLOCK_TIME_NONE);
  ASSERT_NE(click, GST_CLOCK_TIME_NONE);
  EXPECT_NEAR(double(flash) / GST_SECOND, 1.0, 0.001);
  EXPECT_NEAR(double(click) / GST_SECOND, 1.0, 0.001);
}

// Each bad input is one line naming the file, a failure status, and no
// movie (nor a part of one) left behind.
TEST_F(Footage, BadInputsFailInOneLineAndLeaveNoMovie) {
  std::vector<uint8_t> junk(5000);
  for (size_t i = 0; i < junk.size(); ++i) junk[i] = uint8_t(i * 2654435761u >> 13);
  WriteAll(Path("junk.bin"), junk);
  Make("audiotestsrc num-buffers=10 ! wavenc ! filesink location=" + Q("only-sound.wav"));
  Make("videotestsrc num-buffers=4 ! video/x-raw,format=I420,width=32,height=32 ! x264enc ! h264parse ! mp4mux ! "
       "filesink location=" + Q("h264.mp4"));
  const struct {
    const char* what;
    std::string args;
    const char* says;
  } cases[] = {
      {"not footage", Q("junk.bin"), "junk.bin: GStreamer cannot tell what kind of file it is"},
      {"no such file", Q("missing.mp4"), "missing.mp4: cannot open"},
      {"no video", Q("only-sound.wav"), "only-sound.wav: it has no video stream"},
      {"no such stream", Q("h264.mp4") + " --video-stream 2", "h264.mp4: it has 1 video stream, not 2"},
      {"missing plug-in", "GST_PLUGIN_FEATURE_RANK=openh264dec:NONE",
       "openh264dec (gstreamer1.0-plugins-bad, installed) decodes it but is ranked out of automatic use"},
      {"sound file that is not one", Q("h264.mp4") + " --audio " + Q("junk.bin"), "junk.bin: GStreamer cannot tell"},
  };
  const std::vector<std::string> before = Listing();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string command = std::string(c.what) == "missing plug-in"
                                    ? c.args + " " + orx_ + " encode " + Q("h264.mp4") + " -o " + Q("out.mov")
                                    : orx_ + " encode " + c.args + " -o " + Q("out.mov");
    const RunResult r = Shell(command);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
    EXPECT_EQ(Listing(), before);
  }
  // A stream cut short ends where its data does, as other sources do: it
  // fails for the length its file declares unless --keep-partial keeps the
  // frames before the cut.
  Make("videotestsrc num-buffers=30 ! video/x-raw,format=I420,width=64,height=64,framerate=30/1 ! vp9enc deadline=1 ! "
       "matroskamux ! filesink location=" + Q("whole.mkv"));
  std::vector<uint8_t> mkv = ReadAll(Path("whole.mkv"));
  mkv.resize(mkv.size() / 2);
  WriteAll(Path("cut.mkv"), mkv);
  RunResult r = Orx("encode -q " + Q("cut.mkv") + " -o " + Q("cut.mov"));
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("its file declares: cut short or damaged"), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(Path("cut.mov")));
  r = Orx("encode -q --keep-partial " + Q("cut.mkv") + " -o " + Q("cut.mov"));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("warning: " + Path("cut.mkv") + ": its streams end at"), std::string::npos) << r.output;
  const Samples s = ReadMovie(Path("cut.mov"));
  EXPECT_GT(s.frames.size(), 0u);
  EXPECT_LT(s.frames.size(), 30u);
}

// Refusals name the reason found, at once, in one line; sound the movie
// cannot store says how to leave it out.
TEST_F(Footage, RefusalsNameTheirReason) {
  Make("videotestsrc num-buffers=2 ! video/x-raw,format=I420,width=32768,height=4,framerate=2/1 ! matroskamux ! "
       "filesink location=" + Q("wide.mkv"));
  WriteAll(Path("fast.wav"), Wave(768000, 2, 16, 7680));
  WriteAll(Path("s32.wav"), Wave(48000, 64, 32, 480));
  const struct {
    const char* what;
    std::string args;
    const char* says;
  } cases[] = {
      {"too wide", Q("wide.mkv"), "wide.mkv: its pictures are 32768x4, wider than ORX allows (32767 each way at most)"},
      {"nothing feeds it", "appsrc://feed", "appsrc://feed: an appsrc:// source is fed by the program that makes it"},
      {"sound rate", "--test-clip --size 8x8 --frames 2 --audio " + Q("fast.wav"),
       "fast.wav: its sound is 768000 Hz, above the 384000 Hz a movie stores; --audio none leaves the sound out"},
      {"64 channels to convert", "--test-clip --size 8x8 --frames 2 --audio " + Q("s32.wav"),
       "s32.wav: its sound has 64 channels of S32LE, more than GStreamer's converter takes (63); --audio none"},
  };
  const std::vector<std::string> before = Listing();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const RunResult r = Shell("timeout 60 " + orx_ + " encode " + c.args + " -o " + Q("out.mov"));
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
    EXPECT_EQ(Listing(), before);
  }
}

// Sound of 64 channels, which GStreamer's converter cannot take, is stored
// as it comes when it needs no converting: a WAV file of plain PCM, one
// with no channel positions, and Matroska; 64 channels that would need
// converting leave the footage's pictures without sound, saying why.
TEST_F(Footage, SixtyFourChannelsOfSoundAreStoredAsTheyCome) {
  for (const bool extensible : {false, true}) {
    SCOPED_TRACE(extensible);
    const std::vector<uint8_t> wav = Wave(48000, 64, 16, 4800, extensible);
    WriteAll(Path("c64.wav"), wav);
    Encode("--test-clip --size 8x8 --frames 3 --fps 30 --audio " + Q("c64.wav") + " -y", "c64.mov");
    const RunResult w = Orx("decode -q -y " + Q("c64.mov") + " -o " + Q("back.wav"));
    ASSERT_EQ(w.status, 0) << w.output;
    EXPECT_TRUE(WaveData(Path("back.wav")) == WaveData(Path("c64.wav")));
  }
  const std::string video = "videotestsrc num-buffers=3 ! video/x-raw,format=I420,width=32,height=32,framerate=30/1 ! "
                            "vp8enc ! matroskamux name=m ! filesink location=";
  const std::string sound = " audiotestsrc num-buffers=5 samplesperbuffer=960 ! 'audio/x-raw,channels=64,rate=48000,"
                            "channel-mask=(bitmask)0,format=";
  Make(video + Q("s16.mkv") + sound + "S16LE' ! m.");
  Encode(Q("s16.mkv"), "s16.mov");
  EXPECT_NE(Orx("info " + Q("s16.mov")).output.find("sound     PCM 16-bit, 48000 Hz, 64 channels, 0.100 s"),
            std::string::npos);
  Make(video + Q("s32.mkv") + sound + "S32LE' ! m.");
  const RunResult r = Orx("encode " + Q("s32.mkv") + " -o " + Q("s32.mov"));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("s32.mkv: its sound has 64 channels of S32LE, more than GStreamer's converter takes (63); "
                          "the movie has none"),
            std::string::npos)
      << r.output;
}

// Sound goes into the movie to the nearest of its frames: two frames at
// 24000/1001 last 3678.675 frames of 44.1 kHz sound, which is 3679 frames.
TEST_F(Footage, SoundIsPlacedToItsNearestFrame) {
  fs::create_directory(Path("png"));
  Make("videotestsrc num-buffers=2 ! video/x-raw,format=RGB,width=16,height=16 ! pngenc ! multifilesink location=" +
       Q("png/f%02d.png"));
  WriteAll(Path("tone.wav"), Wave(44100, 2, 16, 8000));
  Encode(Q("png/f%02d.png") + " --fps 24000/1001 --audio " + Q("tone.wav"), "near.mov");
  const RunResult w = Orx("decode -q " + Q("near.mov") + " -o " + Q("near.wav"));
  ASSERT_EQ(w.status, 0) << w.output;
  EXPECT_EQ(WaveData(Path("near.wav")).size(), size_t(3679) * 4);
}

// Pictures or sound lost inside a file count as a source that ends early:
// a picture block the demuxer skips, a stretch of sound it skips, a file
// cut short of the length it declares, and a FLAC file cut short. Each
// fails, naming what was lost, unless --keep-partial keeps the movie with a
// warning; sound that resumes after its gap stays in step, silent there.
TEST_F(Footage, LostPicturesAndSoundCountAsASourceEndingEarly) {
  Make("videotestsrc num-buffers=30 ! video/x-raw,format=I420,width=32,height=32,framerate=30/1 ! vp8enc ! "
       "webmmux name=m ! filesink location=" + Q("whole.webm") +
       " audiotestsrc num-buffers=44 samplesperbuffer=1024 ! audio/x-raw,rate=44100,channels=2 ! vorbisenc ! m.");
  Make("audiotestsrc num-buffers=44 samplesperbuffer=1024 ! audio/x-raw,format=S16LE,rate=44100,channels=2 ! flacenc ! "
       "filesink location=" + Q("whole.flac"));
  Encode(Q("whole.webm"), "whole.mov");  // the undamaged files keep everything, without a word
  Encode("--test-clip --size 8x8 --frames 24 --audio " + Q("whole.flac"), "whole-flac.mov");
  const std::vector<uint8_t> webm = ReadAll(Path("whole.webm"));
  std::map<int, std::vector<size_t>> tracks = BlockTracks(webm);
  ASSERT_EQ(tracks.size(), 2u);
  const bool videoFirst = tracks.begin()->second.size() == 30;
  const std::vector<size_t>& video = videoFirst ? tracks.begin()->second : tracks.rbegin()->second;
  const std::vector<size_t>& audio = videoFirst ? tracks.rbegin()->second : tracks.begin()->second;
  ASSERT_EQ(video.size(), 30u);
  ASSERT_GT(audio.size(), 20u);
  // A block moved to a track the file does not have is skipped by the demuxer.
  std::vector<uint8_t> damaged = webm;
  damaged[video[10]] = 0x89;
  WriteAll(Path("picture.webm"), damaged);
  damaged = webm;
  damaged[audio[10]] = 0x89;
  WriteAll(Path("sound.webm"), damaged);
  WriteAll(Path("cut.webm"), std::vector<uint8_t>(webm.begin(), webm.begin() + std::ptrdiff_t(webm.size() * 3 / 4)));
  const std::vector<uint8_t> flac = ReadAll(Path("whole.flac"));
  WriteAll(Path("cut.flac"), std::vector<uint8_t>(flac.begin(), flac.begin() + std::ptrdiff_t(flac.size() * 3 / 10)));
  const struct {
    const char* input;
    const char* lost;
    const char* kept;
  } cases[] = {
      {"picture.webm", "picture.webm: 1 picture is missing at 0.333 s (after frame 10); nothing was written",
       "kept the 10 frames before it"},
      {"sound.webm", "sound.webm: 0.023 s of its sound are missing at ", "the movie keeps the sound there is"},
      {"cut.webm", "cut.webm: its streams end at ", "frames before it"},
      {"cut.flac", "cut.flac: its sound ends at ", "the movie keeps the sound there is"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    const std::string input = std::string(c.input) == "cut.flac" ? "--test-clip --size 8x8 --frames 24 --audio " + Q(c.input)
                                                                  : Q(c.input);
    RunResult r = Orx("encode -q " + input + " -o " + Q("lost.mov"));
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find(c.lost), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("(--keep-partial keeps the"), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(Path("lost.mov")));
    r = Orx("encode -q --keep-partial " + input + " -o " + Q("lost.mov"));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("warning: "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(c.kept), std::string::npos) << r.output;
    ASSERT_TRUE(fs::exists(Path("lost.mov")));
    if (std::string(c.input) == "sound.webm") {
      // All 30 pictures, and sound as long as they are: the gap is silence.
      EXPECT_EQ(ReadMovie(Path("lost.mov")).frames.size(), 30u);
      ASSERT_EQ(Orx("decode -q -y " + Q("lost.mov") + " -o " + Q("lost.wav")).status, 0);
      EXPECT_EQ(WaveData(Path("lost.wav")).size(), size_t(44100) * 8);  // 1 s of 32-bit float stereo
    }
    fs::remove(Path("lost.mov"));
  }
}

// Several inputs make one movie in order: each one's sound against its own
// pictures, so sound shorter than its pictures (one), none at all (two),
// sound that starts after its first picture (late) and sound longer than
// its pictures (three) leave the next input's sound in step; 16-bit sound
// beside float is widened exactly; --frames counts across the inputs; the
// progress and -v name the input being read.
TEST_F(Footage, SeveralInputsAreJoinedWithTheirSoundInStep) {
  Clip("one.mkv", 30, 38400, 24000);                // 1 s of pictures, 0.8 s of sound, a click at 0.5 s
  Clip("two.mkv", 15);                              // 0.5 s, no sound
  Make("videotestsrc num-buffers=15 pattern=ball ! video/x-raw,format=I420,width=64,height=48,framerate=30/1 ! "
       "vp8enc ! matroskamux name=m ! filesink location=" + Q("late.mkv") +  // 0.5 s, 0.1 s of loud sound from 0.2 s
       " audiotestsrc wave=square volume=0.8 timestamp-offset=200000000 num-buffers=2 samplesperbuffer=2400 ! "
       "audio/x-raw,format=S16LE,rate=48000,channels=2 ! m.");
  Clip("three.mkv", 30, 62400, 12000, "F32LE");     // 1 s of pictures, 1.3 s of sound, a click at 0.25 s
  const std::string inputs = Q("one.mkv") + " " + Q("two.mkv") + " " + Q("late.mkv") + " " + Q("three.mkv");
  const RunResult r = Orx("encode -v " + inputs + " -o " + Q("j.mov"));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("sound PCM 32-bit float, 48000 Hz, 2 channels, 3.000 s"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("orx: reading " + Path("two.mkv")), std::string::npos) << r.output;
  const Samples j = ReadMovie(Path("j.mov"));
  ASSERT_EQ(j.frames.size(), 90u);
  Encode(Q("two.mkv"), "two.mov");
  const Samples two = ReadMovie(Path("two.mov"));
  ASSERT_EQ(two.frames.size(), 15u);
  EXPECT_TRUE(std::equal(two.frames.begin(), two.frames.end(), j.frames.begin() + 30));
  ASSERT_EQ(Orx("decode -q " + Q("j.mov") + " -o " + Q("j.wav")).status, 0);
  Heard h = Listen(Path("j.wav"));
  EXPECT_EQ(h.bits, 32);
  EXPECT_EQ(h.frames, 144000u);  // 3 s: as long as the pictures
  // 0.5 s; 1.5 s + 0.2 s; 2 s + 0.25 s, widened from 16 bits exactly.
  ASSERT_EQ(h.clicks.size(), 3u);
  EXPECT_EQ(h.clicks[0], std::make_pair(size_t(24000), 0.75f));
  EXPECT_EQ(h.clicks[1].first, 81600u);
  EXPECT_EQ(h.clicks[2], std::make_pair(size_t(108000), 0.75f));

  // Frames 25 to 49: the end of one, all of two, the start of late, with their sound.
  Encode(inputs + " --frames 25-49", "part.mov");
  EXPECT_EQ(ReadMovie(Path("part.mov")).frames.size(), 25u);
  ASSERT_EQ(Orx("decode -q " + Q("part.mov") + " -o " + Q("part.wav")).status, 0);
  h = Listen(Path("part.wav"));
  EXPECT_EQ(h.frames, 40000u);
  EXPECT_TRUE(h.clicks.empty());  // 0.5 s and 1.75 s lie outside 0.833 s to 1.667 s
}

// Inputs that cannot make one movie are refused before any work, in one
// line naming the input and how it differs, and nothing is written; so are
// lists that mix footage with PNG images.
TEST_F(Footage, InputsThatCannotBeJoinedAreRefused) {
  Clip("a.mkv", 3, 4800, 0);
  Clip("narrow.mkv", 3, 0, 0, "S16LE", 32);
  Clip("slow.mkv", 3, 0, 0, "S16LE", 64, "25/1");
  Make("videotestsrc num-buffers=3 ! video/x-raw,format=I420,width=64,height=48,framerate=30/1 ! vp8enc ! "
       "matroskamux name=m ! filesink location=" + Q("mono.mkv") +
       " audiotestsrc num-buffers=3 ! audio/x-raw,format=S16LE,rate=48000,channels=1 ! m.");
  Make("videotestsrc num-buffers=1 ! video/x-raw,width=64,height=48 ! pngenc ! filesink location=" + Q("f.png"));
  const struct {
    std::string inputs;
    std::string says;
  } cases[] = {
      {Q("a.mkv") + " " + Q("narrow.mkv"), Path("narrow.mkv") + ": its pictures are 32x48, not 64x48 as " + Path("a.mkv")},
      {Q("a.mkv") + " " + Q("slow.mkv"), Path("slow.mkv") + ": its rate is 25 fps, not 30 fps as " + Path("a.mkv")},
      {Q("a.mkv") + " " + Q("mono.mkv"),
       Path("mono.mkv") + ": its sound is 48000 Hz, 1 channel, not 48000 Hz, 2 channels as " + Path("a.mkv")},
      {Q("a.mkv") + " " + Q("f.png"), Path("f.png") + ": a PNG image cannot be joined to footage"},
      {Q("f.png") + " " + Q("a.mkv"), Path("a.mkv") + ": not a picture file, so it cannot follow pictures"},
  };
  const std::vector<std::string> before = Listing();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.inputs);
    const RunResult r = Orx("encode " + c.inputs + " -o " + Q("out.mov"));
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
    EXPECT_EQ(Listing(), before);
  }
  // Without sound, the sound's difference does not count.
  Encode(Q("a.mkv") + " " + Q("mono.mkv") + " --audio none", "pictures.mov");
  EXPECT_EQ(ReadMovie(Path("pictures.mov")).frames.size(), 6u);
}

// --fps converts footage by its frames' times: 30 fps to 60 shows every
// frame twice, to 25 drops one in six, and the movie keeps its length and
// its sound in step; the summary counts them. --retime gives the frames
// the new rate, which footage with sound refuses unless --audio none.
TEST_F(Footage, FpsConvertsFootageAndKeepsItsSoundInStep) {
  Clip("c.mkv", 30, 48000, 24000);  // 1 s, a click at 0.5 s
  Encode(Q("c.mkv"), "own.mov");
  const Samples own = ReadMovie(Path("own.mov"));
  ASSERT_EQ(own.frames.size(), 30u);
  const struct {
    const char* rate;
    size_t frames;
    const char* counts;
  } cases[] = {{"60", 60, "30 fps converted to 60 fps: 30 frames repeated, 0 dropped"},
               {"25", 25, "30 fps converted to 25 fps: 0 frames repeated, 5 dropped"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate);
    const std::string movie = std::string("at") + c.rate + ".mov";
    const RunResult r = Orx("encode " + Q("c.mkv") + " --fps " + c.rate + " -o " + Q(movie));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(c.counts), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("sound PCM 16-bit, 48000 Hz, 2 channels, 1.000 s"), std::string::npos) << r.output;
    const Samples s = ReadMovie(Path(movie));
    ASSERT_EQ(s.frames.size(), c.frames);
    EXPECT_EQ(int64_t(s.durations[0]) * std::stoi(c.rate), int64_t(s.scale));
    // Frame k shows the source frame nearest k / rate (the earlier at a tie).
    for (size_t k = 0; k < c.frames; ++k) {
      const size_t nearest = c.frames == 60 ? k / 2 : (12 * k + 4) / 10;
      EXPECT_TRUE(s.frames[k] == own.frames[nearest]) << k;
    }
    ASSERT_EQ(Orx("decode -q -y " + Q(movie) + " -o " + Q("at.wav")).status, 0);
    const Heard h = Listen(Path("at.wav"));
    EXPECT_EQ(h.frames, 48000u);
    ASSERT_EQ(h.clicks.size(), 1u);
    EXPECT_EQ(h.clicks[0].first, 24000u);
  }
  const RunResult r = Orx("encode " + Q("c.mkv") + " --retime 60 -o " + Q("retimed.mov"));
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("c.mkv: --retime 60 would put its sound out of step"), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(Path("retimed.mov")));
  Encode(Q("c.mkv") + " --retime 60 --audio none", "retimed.mov");
  const Samples s = ReadMovie(Path("retimed.mov"));
  ASSERT_EQ(s.frames.size(), 30u);
  EXPECT_TRUE(s.frames == own.frames);
  EXPECT_EQ(s.durations[0] * 60, s.scale);
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  char pattern[] = "/tmp/orx-footage-registry-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  setenv("GST_REGISTRY", (std::string(pattern) + "/registry.bin").c_str(), 1);
  setenv("GST_PLUGIN_PATH", Env("ORX_GST_PLUGIN_DIR").c_str(), 1);
  gst_init(nullptr, nullptr);
  const int result = RUN_ALL_TESTS();
  fs::remove_all(pattern);
  return result;
}
