// orx encode from footage GStreamer decodes, every input made here with
// GStreamer's own encoders: the kinds of footage, alpha, rate and aspect,
// variable frame times, the same frames as from PNG files, sound through to
// orx info, mediainfo, qtdemux and a WAV file, picture and sound in step
// through orxdec, and the bad inputs.
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
  // --fps overrides the source's rate; --frames picks a stretch of it.
  Encode(Q("a.mp4") + " --fps 50 --frames 3-7", "d.mov");
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
  // Sound without its decoder: the pictures are kept, and a warning says
  // what to install.
  const RunResult nodec = Shell("GST_PLUGIN_FEATURE_RANK=flacdec:NONE " + orx_ + " encode -q " + Q("av.mkv") + " -o " +
                                Q("nodec.mov"));
  EXPECT_EQ(nodec.status, 0) << nodec.output;
  EXPECT_NE(nodec.output.find("its sound cannot be decoded"), std::string::npos) << nodec.output;
  EXPECT_NE(nodec.output.find("gstreamer1.0-plugins-good (flacdec)"), std::string::npos) << nodec.output;
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
      {"missing plug-in", "GST_PLUGIN_FEATURE_RANK=openh264dec:NONE", "install gstreamer1.0-plugins-bad (openh264dec)"},
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
  // A stream cut short ends where its data does, as other sources do.
  Make("videotestsrc num-buffers=30 ! video/x-raw,format=I420,width=64,height=64,framerate=30/1 ! vp9enc deadline=1 ! "
       "matroskamux ! filesink location=" + Q("whole.mkv"));
  std::vector<uint8_t> mkv = ReadAll(Path("whole.mkv"));
  mkv.resize(mkv.size() / 2);
  WriteAll(Path("cut.mkv"), mkv);
  const RunResult r = Orx("encode -q " + Q("cut.mkv") + " -o " + Q("cut.mov"));
  EXPECT_EQ(r.status, 0) << r.output;
  const Samples s = ReadMovie(Path("cut.mov"));
  EXPECT_GT(s.frames.size(), 0u);
  EXPECT_LT(s.frames.size(), 30u);
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
