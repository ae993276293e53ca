// orxdec's graphics road: frames drawn into GL memory where downstream takes
// it (gldownload, glimagesink, playbin's GL sink), compared with orx decode;
// the fall-back to system memory; several pipelines at once; and no GL
// object left once a pipeline stops. Runs under xvfb-run: GStreamer finds a
// GL context only on a display here.
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ProcessRun.h"
#include "orx/orx.h"

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::vector<uint8_t> out;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.insert(out.end(), buf, buf + n);
    std::fclose(f);
  }
  return out;
}

// What a pipeline gave: every sample's RGBA bytes, and whether orxdec's
// output was GL memory.
struct Played {
  std::vector<uint8_t> rgba;
  bool glMemory = false;
  int glObjectsPlaying = -1, glObjectsStopped = -1;
  std::string error;
};

bool HasGLFeature(GstPad* pad) {
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (caps == nullptr) return false;
  const bool gl = gst_caps_features_contains(gst_caps_get_features(caps, 0), "memory:GLMemory");
  gst_caps_unref(caps);
  return gl;
}

// Runs description (an appsink named s, an orxdec named d) to its end.
Played Play(const std::string& description) {
  Played p;
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  if (pipeline == nullptr || error != nullptr) {
    p.error = error != nullptr ? error->message : "no pipeline";
    g_clear_error(&error);
    if (pipeline != nullptr) gst_object_unref(pipeline);
    return p;
  }
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "s");
  GstElement* dec = gst_bin_get_by_name(GST_BIN(pipeline), "d");
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstBus* bus = gst_element_get_bus(pipeline);
  for (int waited = 0; waited < 60;) {
    // A second at a time, so that an error (which ends no stream) is seen.
    GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), GST_SECOND);
    if (sample == nullptr) {
      if (gst_app_sink_is_eos(GST_APP_SINK(sink))) break;
      if (GstMessage* m = gst_bus_peek(bus); m != nullptr && GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
        gst_message_unref(m);
        break;
      } else if (m != nullptr) {
        gst_message_unref(gst_bus_pop(bus));
      }
      ++waited;
      continue;
    }
    if (dec != nullptr && p.glObjectsPlaying < 0) {
      GstPad* src = gst_element_get_static_pad(dec, "src");
      p.glMemory = HasGLFeature(src);
      gst_object_unref(src);
      g_object_get(dec, "gl-objects", &p.glObjectsPlaying, nullptr);
    }
    GstMapInfo map;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
      p.rgba.insert(p.rgba.end(), map.data, map.data + map.size);
      gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
  }
  if (GstMessage* m = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
    GError* e = nullptr;
    gst_message_parse_error(m, &e, nullptr);
    p.error = e->message;
    g_clear_error(&e);
    gst_message_unref(m);
  }
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  if (dec != nullptr) {
    g_object_get(dec, "gl-objects", &p.glObjectsStopped, nullptr);
    gst_object_unref(dec);
  }
  gst_object_unref(sink);
  gst_object_unref(pipeline);
  return p;
}

// The largest channel difference between RGBA bytes and orx decode's ARGB.
int Difference(const std::vector<uint8_t>& rgba, const std::vector<uint8_t>& argb) {
  if (rgba.size() != argb.size()) return 256;
  int worst = 0;
  for (size_t i = 0; i < rgba.size(); i += 4)
    for (int c = 0; c < 4; ++c) worst = std::max(worst, std::abs(int(rgba[i + c]) - int(argb[i + (c + 1) % 4])));
  return worst;
}

class OrxDecGL : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/orx-gstgl-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("ORX_PREFERENCES_DIR", (dir_ + "/prefs").c_str(), 1);
    setenv("ORX_DISABLE_GL", "1", 1);  // orx decode's reference from the processor road
    orx_ = Env("ORX_BIN");
    ASSERT_FALSE(orx_.empty());
  }
  void TearDown() override { Shell("rm -rf '" + dir_ + "'"); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // A movie of the test clip and orx decode's ARGB of it.
  std::vector<uint8_t> Movie(const std::string& name, const std::string& options) {
    RunResult r = Shell(orx_ + " encode -q --test-clip --frames 3 " + options + " -o '" + Path(name) + "'");
    EXPECT_EQ(r.status, 0) << r.output;
    r = Shell(orx_ + " decode -q '" + Path(name) + "' -o '" + Path(name) + ".argb'");
    EXPECT_EQ(r.status, 0) << r.output;
    return ReadAll(Path(name + ".argb"));
  }
  std::string Source(const std::string& name) const {
    return "filesrc location=\"" + Path(name) + "\" ! qtdemux ! orxdec name=d";
  }
  std::string dir_, orx_;
};

struct Variant {
  const char* name;
  const char* options;
};
const Variant kVariants[] = {
    {"DXT24+LZF", "--transparency discard --optimize quality"},
    {"DXT1+LZF", "--transparency discard --optimize performance"},
    {"DXT24", "--transparency discard --optimize vovorevaded"},
    {"DXT5+LZF", "--transparency preserve --optimize quality"},
};

TEST_F(OrxDecGL, EveryVariantDrawnInGLMemoryMatchesOrxDecode) {
  for (const char* size : {"320x180", "1030x70"}) {
    for (const Variant& v : kVariants) {
      SCOPED_TRACE(std::string(v.name) + " " + size);
      const std::string movie = std::string(v.name) + size + ".mov";
      const auto want = Movie(movie, std::string(v.options) + " --size " + size);
      const Played p = Play(Source(movie) + " ! gldownload ! video/x-raw,format=RGBA ! appsink name=s sync=false");
      EXPECT_EQ(p.error, "");
      EXPECT_TRUE(p.glMemory) << "orxdec did not output GL memory";
      EXPECT_GT(p.glObjectsPlaying, 0);
      EXPECT_EQ(p.glObjectsStopped, 0) << "GL objects left after the pipeline stopped";
      EXPECT_LE(Difference(p.rgba, want), 1);
    }
  }
}

// Downstream that takes only system memory gets it, and the same pixels as
// orx decode exactly; gl-memory=false keeps system memory before a GL sink.
TEST_F(OrxDecGL, SystemMemoryWhereDownstreamRefusesGLMemory) {
  const auto want = Movie("q.mov", kVariants[0].options);
  Played p = Play(Source("q.mov") + " ! video/x-raw,format=RGBA ! appsink name=s sync=false");
  EXPECT_EQ(p.error, "");
  EXPECT_FALSE(p.glMemory);
  EXPECT_EQ(p.glObjectsPlaying, 0);
  EXPECT_EQ(Difference(p.rgba, want), 0);
  p = Play(Source("q.mov") + " gl-memory=false ! glupload ! gldownload ! video/x-raw,format=RGBA ! appsink name=s "
                             "sync=false");
  EXPECT_EQ(p.error, "");
  EXPECT_FALSE(p.glMemory);
  EXPECT_EQ(Difference(p.rgba, want), 0);
}

// playbin with glimagesink takes the GL road with no property set.
TEST_F(OrxDecGL, PlaybinWithGlimagesinkTakesTheGLRoad) {
  Movie("p.mov", kVariants[1].options);
  GError* error = nullptr;
  GstElement* playbin = gst_parse_launch(
      ("playbin uri=file://" + Path("p.mov") + " video-sink=glimagesink audio-sink=fakesink").c_str(), &error);
  ASSERT_NE(playbin, nullptr) << (error ? error->message : "");
  bool gl = false;
  gst_element_set_state(playbin, GST_STATE_PLAYING);
  GstBus* bus = gst_element_get_bus(playbin);
  GstMessage* end = gst_bus_timed_pop_filtered(bus, 30 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  ASSERT_NE(end, nullptr) << "no end in 30 s";
  EXPECT_EQ(GST_MESSAGE_TYPE(end), GST_MESSAGE_EOS);
  GstIterator* it = gst_bin_iterate_recurse(GST_BIN(playbin));
  GValue item = G_VALUE_INIT;
  while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
    GstElement* e = GST_ELEMENT(g_value_get_object(&item));
    GstElementFactory* f = gst_element_get_factory(e);
    if (f != nullptr && std::strcmp(GST_OBJECT_NAME(f), "orxdec") == 0) {
      GstPad* src = gst_element_get_static_pad(e, "src");
      gl = HasGLFeature(src);
      gst_object_unref(src);
    }
    g_value_reset(&item);
  }
  g_value_unset(&item);
  gst_iterator_free(it);
  gst_message_unref(end);
  gst_object_unref(bus);
  gst_element_set_state(playbin, GST_STATE_NULL);
  gst_object_unref(playbin);
  EXPECT_TRUE(gl) << "playbin's orxdec did not output GL memory";
}

// Three pipelines at once, each with its own element and GL objects.
TEST_F(OrxDecGL, SeveralPipelinesAtOnce) {
  const auto want = Movie("m.mov", kVariants[0].options);
  std::vector<GstElement*> pipelines;
  for (int i = 0; i < 3; ++i) {
    GstElement* p = gst_parse_launch(
        (Source("m.mov") + " ! gldownload ! video/x-raw,format=RGBA ! appsink name=s sync=false").c_str(), nullptr);
    ASSERT_NE(p, nullptr);
    pipelines.push_back(p);
  }
  for (GstElement* p : pipelines) gst_element_set_state(p, GST_STATE_PLAYING);
  for (GstElement* p : pipelines) {
    GstElement* sink = gst_bin_get_by_name(GST_BIN(p), "s");
    std::vector<uint8_t> got;
    while (GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink))) {
      GstMapInfo map;
      if (gst_buffer_map(gst_sample_get_buffer(sample), &map, GST_MAP_READ)) {
        got.insert(got.end(), map.data, map.data + map.size);
        gst_buffer_unmap(gst_sample_get_buffer(sample), &map);
      }
      gst_sample_unref(sample);
    }
    EXPECT_LE(Difference(got, want), 1);
    gst_object_unref(sink);
  }
  for (GstElement* p : pipelines) {
    gst_element_set_state(p, GST_STATE_NULL);
    gst_object_unref(p);
  }
}

// A stream whose frame size changes mid-stream (new caps on appsrc): the GL
// road follows it, each frame at its own size equal to orx decode's.
TEST_F(OrxDecGL, ASizeChangeMidStreamIsFollowed) {
  const auto small = Movie("a.mov", std::string(kVariants[1].options) + " --size 320x180");
  const auto large = Movie("b.mov", std::string(kVariants[0].options) + " --size 400x224");
  GstElement* pipeline = gst_parse_launch(
      "appsrc name=in format=time ! orxdec name=d ! gldownload ! video/x-raw,format=RGBA ! appsink name=s sync=false",
      nullptr);
  ASSERT_NE(pipeline, nullptr);
  GstElement* in = gst_bin_get_by_name(GST_BIN(pipeline), "in");
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "s");
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  // Each movie's frames pushed with caps of its size.
  guint64 at = 0;
  for (const char* name : {"a.mov", "b.mov"}) {
    orx_movie_reader* reader = nullptr;
    orx_movie_props props{};
    ASSERT_EQ(orx_movie_open(Path(name).c_str(), &reader, nullptr, 0), ORX_OK);
    ASSERT_EQ(orx_movie_get_props(reader, &props), ORX_OK);
    GstCaps* caps = gst_caps_new_simple("video/x-orx", "width", G_TYPE_INT, props.width, "height", G_TYPE_INT,
                                        props.height, "framerate", GST_TYPE_FRACTION, 30, 1, nullptr);
    gst_app_src_set_caps(GST_APP_SRC(in), caps);
    gst_caps_unref(caps);
    for (int32_t i = 0; i < props.frame_count; ++i) {
      GstBuffer* buffer = gst_buffer_new_allocate(nullptr, props.max_frame_size, nullptr);
      GstMapInfo map;
      size_t size = 0;
      ASSERT_TRUE(gst_buffer_map(buffer, &map, GST_MAP_WRITE));
      ASSERT_EQ(orx_movie_read_frame(reader, i, map.data, map.size, &size), ORX_OK);
      gst_buffer_unmap(buffer, &map);
      gst_buffer_set_size(buffer, gssize(size));
      GST_BUFFER_PTS(buffer) = at;
      GST_BUFFER_DURATION(buffer) = GST_SECOND / 30;
      at += GST_SECOND / 30;
      ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(in), buffer), GST_FLOW_OK);
    }
    orx_movie_close(reader);
  }
  gst_app_src_end_of_stream(GST_APP_SRC(in));
  std::vector<uint8_t> got[2];
  bool gl = true;
  GstElement* dec = gst_bin_get_by_name(GST_BIN(pipeline), "d");
  while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND)) {
    GstVideoInfo info;
    gst_video_info_from_caps(&info, gst_sample_get_caps(sample));
    GstPad* src = gst_element_get_static_pad(dec, "src");
    gl = gl && HasGLFeature(src);
    gst_object_unref(src);
    GstMapInfo map;
    if (gst_buffer_map(gst_sample_get_buffer(sample), &map, GST_MAP_READ)) {
      got[GST_VIDEO_INFO_WIDTH(&info) == 320 ? 0 : 1].insert(got[GST_VIDEO_INFO_WIDTH(&info) == 320 ? 0 : 1].end(),
                                                            map.data, map.data + map.size);
      gst_buffer_unmap(gst_sample_get_buffer(sample), &map);
    }
    gst_sample_unref(sample);
    if (gst_app_sink_is_eos(GST_APP_SINK(sink))) break;
  }
  EXPECT_TRUE(gl) << "orxdec left GL memory";
  EXPECT_LE(Difference(got[0], small), 1);
  EXPECT_LE(Difference(got[1], large), 1);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(dec);
  gst_object_unref(in);
  gst_object_unref(sink);
  gst_object_unref(pipeline);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  char pattern[] = "/tmp/orx-gstgl-registry-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  setenv("GST_REGISTRY", (std::string(pattern) + "/registry.bin").c_str(), 1);
  setenv("GST_PLUGIN_PATH", Env("ORX_GST_PLUGIN_DIR").c_str(), 1);
  gst_init(nullptr, nullptr);
  const int result = RUN_ALL_TESTS();
  Shell("rm -rf '" + std::string(pattern) + "'");
  return result;
}
