// orxdec's output formats: each of its six byte orders against the
// decompressor component's processor road (orx decode with the graphics
// road off), for DXT24, DXT1 and DXT5 frames, packed and raw, at a size of
// partial blocks, each into a sink that takes that format alone (no
// videoconvert); rows as GStreamer lays them out and as a downstream pool
// with padded rows does; and the format chosen from what downstream asks,
// at the start and when it changes.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ProcessRun.h"
#include "orx/orx.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Partial blocks both ways; 317 x 4 bytes is no multiple of 8 or 16.
constexpr int kW = 317, kH = 243;

struct Kind {
  const char* name;
  orx_encode_settings settings;  // keep_alpha, preserve_gradients, skip_lzf, threads
  orx_variant variant;
};
const Kind kKinds[] = {
    {"DXT24+LZF", {0, 1, 0, 1}, ORX_VARIANT_DXT24}, {"DXT24", {0, 1, 1, 1}, ORX_VARIANT_DXT24},
    {"DXT1+LZF", {0, 0, 0, 1}, ORX_VARIANT_DXT1},   {"DXT1", {0, 0, 1, 1}, ORX_VARIANT_DXT1},
    {"DXT5+LZF", {1, 1, 0, 1}, ORX_VARIANT_DXT5},   {"DXT5", {1, 1, 1, 1}, ORX_VARIANT_DXT5},
};
constexpr int kFrames = int(sizeof kKinds / sizeof kKinds[0]);

// Where R, G, B and A lie in a pixel of each format; -1 for padding.
struct Layout {
  const char* format;
  int r, g, b, a;
};
const Layout kLayouts[] = {{"ARGB", 1, 2, 3, 0}, {"BGRA", 2, 1, 0, 3}, {"RGBA", 0, 1, 2, 3},
                           {"xRGB", 1, 2, 3, -1}, {"BGRx", 2, 1, 0, -1}, {"RGBx", 0, 1, 2, -1}};

// Gradients with grain and an alpha that varies, ARGB.
Bytes Picture(uint32_t seed) {
  std::mt19937 random(seed);
  Bytes p(size_t(kW) * kH * 4);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      uint8_t* q = &p[(size_t(y) * kW + size_t(x)) * 4];
      const int grain = int(random() % 24);
      q[0] = uint8_t((x * 3 + y) % 256);
      q[1] = uint8_t(x * 255 / (kW - 1));
      q[2] = uint8_t(std::min(255, y * 255 / (kH - 1) + grain));
      q[3] = uint8_t(((x / 9 + y / 7) % 2) ? 40 + grain : 220 - grain);
    }
  return p;
}

class OrxDecFormats : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/orx-gst-formats-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("ORX_PREFERENCES_DIR", (dir_ + "/prefs").c_str(), 1);
    // orx decode's reference is the decompressor's processor road.
    setenv("ORX_DISABLE_GL", "1", 1);
    movie_ = dir_ + "/kinds.mov";
    orx_movie_writer* writer = nullptr;
    char message[256] = "";
    ASSERT_EQ(orx_movie_create(movie_.c_str(), kW, kH, 600, 0, &writer, message, sizeof message), ORX_OK) << message;
    for (int i = 0; i < kFrames; ++i) {
      const Kind& k = kKinds[i];
      orx_encoder* encoder = nullptr;
      ASSERT_EQ(orx_encoder_create(&k.settings, &encoder), ORX_OK);
      Bytes frame(orx_max_encoded_size(kW, kH, &k.settings));
      size_t size = 0;
      const Bytes argb = Picture(uint32_t(i + 1));
      const orx_error e = orx_encode(encoder, argb.data(), kW, kH, size_t(kW) * 4, ORX_PIXEL_ARGB, frame.data(),
                                     frame.size(), &size);
      orx_encoder_destroy(encoder);
      ASSERT_EQ(e, ORX_OK);
      orx_frame_props props;
      ASSERT_EQ(orx_frame_info(frame.data(), size, kW, kH, &props), ORX_OK);
      ASSERT_EQ(props.variant, k.variant) << k.name;
      ASSERT_EQ(props.is_lzf, k.settings.skip_lzf ? 0 : 1) << k.name;
      ASSERT_EQ(orx_movie_add_frame(writer, frame.data(), size, 24), ORX_OK) << orx_movie_writer_message(writer);
    }
    ASSERT_EQ(orx_movie_finish(writer, message, sizeof message), ORX_OK) << message;
    const std::string reference = dir_ + "/kinds.argb";
    const RunResult r = Shell(std::string(getenv("ORX_BIN")) + " decode -q '" + movie_ + "' -o '" + reference + "'");
    ASSERT_EQ(r.status, 0) << r.output;
    reference_ = ReadAll(reference);
    ASSERT_EQ(reference_.size(), size_t(kW) * kH * 4 * kFrames);
  }
  static void TearDownTestSuite() { Shell("rm -rf '" + dir_ + "'"); }

  // Runs qtdemux ! orxdec ! [between !] appsink with the sink's caps, and
  // collects the samples; the pipeline's error, if any, in *error.
  static std::vector<GstSample*> Decode(const std::string& between, const std::string& sinkCaps, bool paddedPool,
                                        std::string* error) {
    std::vector<GstSample*> samples;
    const std::string description = "filesrc location=" + movie_ + " ! qtdemux ! orxdec ! " + between +
                                    (between.empty() ? "" : " ! ") + "appsink name=sink sync=false" +
                                    (sinkCaps.empty() ? "" : " caps=" + sinkCaps);
    GError* parseError = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &parseError);
    if (pipeline == nullptr) {
      *error = parseError ? parseError->message : "cannot make the pipeline";
      g_clear_error(&parseError);
      return samples;
    }
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    if (paddedPool) {
      GstPad* pad = gst_element_get_static_pad(sink, "sink");
      gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM, ProposePaddedPool, nullptr, nullptr);
      gst_object_unref(pad);
    }
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    // Samples until the end of the stream or an error, for at most 20 s.
    GstBus* bus = gst_element_get_bus(pipeline);
    for (int waits = 0; waits < 200 && !gst_app_sink_is_eos(GST_APP_SINK(sink)); ++waits) {
      while (GstSample* s = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), GST_SECOND / 10)) samples.push_back(s);
      if (GstMessage* m = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
        GError* e = nullptr;
        gst_message_parse_error(m, &e, nullptr);
        *error = e ? e->message : "error";
        g_clear_error(&e);
        gst_message_unref(m);
        break;
      }
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return samples;
  }

  // Answers the decoder's allocation query with a pool whose rows carry 11
  // pixels of padding. The pool is given the alignment but not the video
  // metadata option: the padding takes effect only once the decoder turns on
  // the metadata that downstream declares it reads.
  static GstPadProbeReturn ProposePaddedPool(GstPad*, GstPadProbeInfo* info, gpointer) {
    GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
    if (GST_QUERY_TYPE(query) != GST_QUERY_ALLOCATION) return GST_PAD_PROBE_OK;
    GstCaps* caps = nullptr;
    gboolean needPool = FALSE;
    gst_query_parse_allocation(query, &caps, &needPool);
    GstVideoInfo vinfo;
    if (caps == nullptr || !gst_video_info_from_caps(&vinfo, caps)) return GST_PAD_PROBE_OK;
    GstVideoAlignment align;
    gst_video_alignment_reset(&align);
    align.padding_right = 11;
    GstBufferPool* pool = gst_video_buffer_pool_new();
    GstStructure* config = gst_buffer_pool_get_config(pool);
    gst_buffer_pool_config_set_params(config, caps, guint(vinfo.size), 2, 0);
    gst_buffer_pool_config_add_option(config, GST_BUFFER_POOL_OPTION_VIDEO_ALIGNMENT);
    gst_buffer_pool_config_set_video_alignment(config, &align);
    gst_buffer_pool_set_config(pool, config);
    gst_query_add_allocation_pool(query, pool, guint(vinfo.size), 2, 0);
    gst_query_add_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr);
    gst_object_unref(pool);
    return GST_PAD_PROBE_HANDLED;
  }

  // The sample's format.
  static std::string Format(GstSample* sample) {
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample))) return "";
    return gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&info));
  }
  // Whether the sample's pixels are frame index of the reference in its
  // format (padding bytes not compared); *stride gets the rows' distance as
  // the buffer lays them out.
  static testing::AssertionResult Matches(GstSample* sample, int index, int* stride) {
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample))) return testing::AssertionFailure() << "caps";
    const std::string format = gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&info));
    const Layout* layout = nullptr;
    for (const Layout& l : kLayouts)
      if (format == l.format) layout = &l;
    if (layout == nullptr) return testing::AssertionFailure() << "format " << format;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ))
      return testing::AssertionFailure() << "cannot map the frame";
    *stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    const auto* base = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const uint8_t* want = &reference_[size_t(kW) * kH * 4 * size_t(index)];
    testing::AssertionResult result = testing::AssertionSuccess();
    for (int y = 0; y < kH && result; ++y)
      for (int x = 0; x < kW && result; ++x) {
        const uint8_t* got = base + size_t(y) * size_t(*stride) + size_t(x) * 4;
        const uint8_t* argb = want + (size_t(y) * kW + size_t(x)) * 4;
        if (got[layout->r] != argb[1] || got[layout->g] != argb[2] || got[layout->b] != argb[3] ||
            (layout->a >= 0 && got[layout->a] != argb[0]))
          result = testing::AssertionFailure() << format << " differs at " << x << "," << y;
      }
    gst_video_frame_unmap(&frame);
    return result;
  }

  static void Release(std::vector<GstSample*>* samples) {
    for (GstSample* s : *samples) gst_sample_unref(s);
    samples->clear();
  }

  static std::string dir_, movie_;
  static Bytes reference_;
};
std::string OrxDecFormats::dir_, OrxDecFormats::movie_;
Bytes OrxDecFormats::reference_;

// Every format, straight into the sink, with GStreamer's own row layout and
// with a downstream pool whose rows are padded: every frame kind decodes to
// the processor road's pixels in that order.
TEST_F(OrxDecFormats, EveryFormatHoldsTheProcessorRoadsPixels) {
  for (bool padded : {false, true})
    for (const Layout& l : kLayouts) {
      SCOPED_TRACE(std::string(l.format) + (padded ? " padded rows" : ""));
      std::string error;
      std::vector<GstSample*> samples =
          Decode("", std::string("video/x-raw,format=") + l.format, padded, &error);
      EXPECT_EQ(error, "");
      ASSERT_EQ(samples.size(), size_t(kFrames));
      for (int i = 0; i < kFrames; ++i) {
        SCOPED_TRACE(kKinds[i].name);
        EXPECT_EQ(Format(samples[size_t(i)]), l.format);
        int stride = 0;
        EXPECT_TRUE(Matches(samples[size_t(i)], i, &stride));
        if (padded)
          EXPECT_EQ(stride, (kW + 11) * 4);
        else
          EXPECT_EQ(stride, kW * 4);
      }
      Release(&samples);
    }
}

// The format comes from downstream: its first choice among several, ARGB
// where it takes anything, and a clear failure where it takes none of ours.
TEST_F(OrxDecFormats, TheFormatIsTheOneDownstreamPrefers) {
  const struct {
    const char* caps;
    const char* format;
  } cases[] = {{"video/x-raw,format={RGBx,BGRA,ARGB}", "RGBx"},
               {"video/x-raw,format={BGRA,RGBx,ARGB}", "BGRA"},
               {"video/x-raw,format=I420;video/x-raw,format=xRGB", "xRGB"},
               {"", "ARGB"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.caps);
    std::string error;
    std::vector<GstSample*> samples = Decode("", c.caps[0] ? std::string("\"") + c.caps + "\"" : "", false, &error);
    EXPECT_EQ(error, "");
    ASSERT_EQ(samples.size(), size_t(kFrames));
    int stride = 0;
    for (int i = 0; i < kFrames; ++i) {
      EXPECT_EQ(Format(samples[size_t(i)]), c.format);
      EXPECT_TRUE(Matches(samples[size_t(i)], i, &stride)) << kKinds[i].name;
    }
    Release(&samples);
  }
  std::string error;
  std::vector<GstSample*> none = Decode("", "video/x-raw,format=I420", false, &error);
  EXPECT_TRUE(none.empty());
  EXPECT_NE(error, "") << "a sink taking no format of orxdec's must fail, not wait";
  Release(&none);
}

// A buffer pool that changes a capsfilter's caps to RGBA as it hands out
// its second buffer: downstream changes its mind while orxdec holds a frame
// allocated in the old format, before it is pushed.
struct SwitchingPool {
  GstVideoBufferPool parent;
  GstElement* filter;  // not owned; outlives the pool's streaming use
  int acquired;
};
struct SwitchingPoolClass {
  GstVideoBufferPoolClass parent_class;
};
GType switching_pool_get_type();
G_DEFINE_TYPE(SwitchingPool, switching_pool, GST_TYPE_VIDEO_BUFFER_POOL)

GstFlowReturn SwitchingPoolAcquire(GstBufferPool* pool, GstBuffer** buffer, GstBufferPoolAcquireParams* params) {
  auto* self = reinterpret_cast<SwitchingPool*>(pool);
  if (++self->acquired == 2 && self->filter != nullptr) {
    GstCaps* rgba = gst_caps_from_string("video/x-raw,format=RGBA");
    g_object_set(self->filter, "caps", rgba, nullptr);
    gst_caps_unref(rgba);
  }
  return GST_BUFFER_POOL_CLASS(switching_pool_parent_class)->acquire_buffer(pool, buffer, params);
}
void switching_pool_init(SwitchingPool* self) {
  self->filter = nullptr;
  self->acquired = 0;
}
void switching_pool_class_init(SwitchingPoolClass* klass) {
  GST_BUFFER_POOL_CLASS(klass)->acquire_buffer = SwitchingPoolAcquire;
}

// Answers the first allocation query with a switching pool for filter.
GstPadProbeReturn ProposeSwitchingPool(GstPad*, GstPadProbeInfo* info, gpointer filter) {
  GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
  if (GST_QUERY_TYPE(query) != GST_QUERY_ALLOCATION) return GST_PAD_PROBE_OK;
  GstCaps* caps = nullptr;
  gboolean needPool = FALSE;
  gst_query_parse_allocation(query, &caps, &needPool);
  GstVideoInfo vinfo;
  if (caps == nullptr || !gst_video_info_from_caps(&vinfo, caps)) return GST_PAD_PROBE_OK;
  auto* pool = static_cast<SwitchingPool*>(g_object_new(switching_pool_get_type(), nullptr));
  gst_object_ref_sink(pool);
  pool->filter = static_cast<GstElement*>(filter);
  GstStructure* config = gst_buffer_pool_get_config(GST_BUFFER_POOL(pool));
  gst_buffer_pool_config_set_params(config, caps, guint(vinfo.size), 2, 0);
  gst_buffer_pool_set_config(GST_BUFFER_POOL(pool), config);
  gst_query_add_allocation_pool(query, GST_BUFFER_POOL(pool), guint(vinfo.size), 2, 0);
  gst_object_unref(pool);
  return GstPadProbeReturn(GST_PAD_PROBE_HANDLED | GST_PAD_PROBE_REMOVE);
}

// Downstream changes its mind mid-stream: orxdec follows from the next frame
// it allocates (the base class's reconfigure calls its negotiation again).
// Either between frames (the sink holds one sample, so the stream waits
// while the caps change) or while the second frame is in hand, allocated
// in the old format: that frame keeps the format its bytes are in.
TEST_F(OrxDecFormats, ANewFormatDownstreamIsFollowedMidStream) {
  for (bool whileDecoding : {false, true}) {
    SCOPED_TRACE(whileDecoding ? "change while a frame is in hand" : "change between frames");
    const std::string description = "filesrc location=" + movie_ +
                                    " ! qtdemux ! orxdec ! capsfilter name=filter caps=video/x-raw,format=BGRx"
                                    " ! appsink name=sink sync=false max-buffers=1";
    GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
    ASSERT_NE(pipeline, nullptr);
    GstElement* filter = gst_bin_get_by_name(GST_BIN(pipeline), "filter");
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    if (whileDecoding) {
      GstPad* pad = gst_element_get_static_pad(sink, "sink");
      gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM, ProposeSwitchingPool, filter, nullptr);
      gst_object_unref(pad);
    }
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    std::vector<GstSample*> samples;
    if (GstSample* first = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND)) {
      samples.push_back(first);
      if (!whileDecoding) {
        GstCaps* rgba = gst_caps_from_string("video/x-raw,format=RGBA");
        g_object_set(filter, "caps", rgba, nullptr);
        gst_caps_unref(rgba);
      }
    }
    while (GstSample* s = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND)) samples.push_back(s);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    EXPECT_EQ(samples.size(), size_t(kFrames));
    if (samples.size() > 2) {
      EXPECT_EQ(Format(samples[0]), "BGRx");
      if (whileDecoding) {
        EXPECT_EQ(Format(samples[1]), "BGRx");
      }
      EXPECT_EQ(Format(samples.back()), "RGBA");
    }
    int stride = 0;
    for (size_t i = 0; i < samples.size() && i < size_t(kFrames); ++i)
      EXPECT_TRUE(Matches(samples[i], int(i), &stride)) << kKinds[i].name << " as " << Format(samples[i]);
    Release(&samples);
    gst_object_unref(filter);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
  }
}

}  // namespace

// The suite's own registry, with the built plug-in's folder on GStreamer's
// search path; then GStreamer starts.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  char pattern[] = "/tmp/orx-gst-registry-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string registry = std::string(pattern) + "/registry.bin";
  setenv("GST_REGISTRY", registry.c_str(), 1);
  const char* plugins = getenv("ORX_GST_PLUGIN_DIR");
  setenv("GST_PLUGIN_PATH", plugins ? plugins : "", 1);
  gst_init(nullptr, nullptr);
  const int result = RUN_ALL_TESTS();
  Shell("rm -rf '" + std::string(pattern) + "'");
  return result;
}
