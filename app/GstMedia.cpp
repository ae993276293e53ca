#include "GstMedia.h"

#include <gst/app/gstappsink.h>
#include <gst/audio/audio.h>
#include <gst/gst.h>
#include <gst/pbutils/missing-plugins.h>
#include <gst/video/video.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <mutex>

namespace orxapp {

namespace {

constexpr GstClockTime kPoll = 100 * GST_MSECOND;
constexpr GstClockTime kPrerollLimit = 120 * GST_SECOND;

bool StartsWith(const char* s, const char* prefix) { return s != nullptr && std::strncmp(s, prefix, std::strlen(prefix)) == 0; }

// The Debian package that holds GStreamer's decoder for a missing kind of
// stream, as far as these kinds go.
std::string PackageFor(const std::string& detail) {
  static const struct {
    const char* caps;
    const char* package;
  } kKnown[] = {
      {"video/x-h264", "gstreamer1.0-plugins-bad (openh264dec)"},
      {"video/x-av1", "gstreamer1.0-plugins-bad (av1dec)"},
      {"video/x-vp8", "gstreamer1.0-plugins-good (vp8dec)"},
      {"video/x-vp9", "gstreamer1.0-plugins-good (vp9dec)"},
      {"image/jpeg", "gstreamer1.0-plugins-good (jpegdec)"},
      {"image/png", "gstreamer1.0-plugins-good (pngdec)"},
      {"video/x-theora", "gstreamer1.0-plugins-base (theoradec)"},
      {"audio/x-flac", "gstreamer1.0-plugins-good (flacdec)"},
      {"audio/x-vorbis", "gstreamer1.0-plugins-base (vorbisdec)"},
      {"audio/x-opus", "gstreamer1.0-plugins-base (opusdec)"},
      {"audio/mpeg", "gstreamer1.0-plugins-good (mpg123audiodec) or gstreamer1.0-plugins-bad (fdkaacdec)"},
      {"video/quicktime", "gstreamer1.0-plugins-good (qtdemux)"},
      {"video/x-matroska", "gstreamer1.0-plugins-good (matroskademux)"},
  };
  for (const auto& k : kKnown)
    if (detail.find(k.caps) != std::string::npos) return k.package;
  return "the GStreamer plug-in package that provides it (gstreamer1.0-plugins-good, -bad or -ugly)";
}

// The sample format a decoded audio stream is stored in: 16-bit for 8- and
// 16-bit sources, 24-bit for deeper integers, 32-bit float for floats.
UInt32 StoredSoundFormat(const GstAudioFormatInfo* f) {
  if (f == nullptr) return kHostSoundInt16;
  if (GST_AUDIO_FORMAT_INFO_IS_FLOAT(f)) return kHostSoundFloat32;
  return GST_AUDIO_FORMAT_INFO_DEPTH(f) > 16 ? kHostSoundInt24 : kHostSoundInt16;
}

const char* GstFormatName(UInt32 stored) {
  return stored == kHostSoundFloat32 ? "F32LE" : stored == kHostSoundInt24 ? "S24LE" : "S16LE";
}

}  // namespace

struct GstMedia::Pipeline {
  GstElement* pipeline = nullptr;
  GstBus* bus = nullptr;
  GstMediaRequest request;
  std::mutex m;  // pads are added on streaming threads; the bus is read by two
  GstElement* videoSink = nullptr;
  GstElement* videoQueue = nullptr;
  GstElement* audioSink = nullptr;
  int videoSeen = 0;
  bool soundLinked = false;
  HostSoundFormat sound{};
  std::string soundFrom;
  std::string error;    // the first failure, sticky
  std::string missing;  // what a missing plug-in would have decoded

  ~Pipeline() {
    if (pipeline != nullptr) {
      gst_element_set_state(pipeline, GST_STATE_NULL);
      gst_object_unref(pipeline);
    }
    if (bus != nullptr) gst_object_unref(bus);
  }

  GstElement* Make(const char* factory) {
    GstElement* e = gst_element_factory_make(factory, nullptr);
    if (e == nullptr && error.empty()) error = std::string("GStreamer has no ") + factory + " element";
    return e;
  }

  // Adds elements to the pipeline, links them in a row from pad and starts
  // them. The elements are the pipeline's from here on, linked or not.
  bool Chain(GstPad* pad, std::initializer_list<GstElement*> elements) {
    for (GstElement* e : elements)
      if (e == nullptr) {
        for (GstElement* x : elements)
          if (x != nullptr) gst_object_unref(gst_object_ref_sink(x));
        return false;
      }
    GstElement* prev = nullptr;
    for (GstElement* e : elements) {
      gst_bin_add(GST_BIN(pipeline), e);
      if (prev != nullptr && !gst_element_link(prev, e)) return false;
      prev = e;
    }
    for (GstElement* e : elements) gst_element_sync_state_with_parent(e);
    GstPad* sink = gst_element_get_static_pad(*elements.begin(), "sink");
    const bool linked = gst_pad_link(pad, sink) == GST_PAD_LINK_OK;
    gst_object_unref(sink);
    return linked;
  }

  // Streams nobody asked for end in a sink of their own, so that the demuxer
  // is never refused.
  void Discard(GstPad* pad) {
    GstElement* sink = Make("fakesink");
    if (sink == nullptr) return;
    g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
    Chain(pad, {sink});
  }

  void PadAdded(GstPad* pad) {
    std::lock_guard<std::mutex> lock(m);
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (caps == nullptr) caps = gst_pad_query_caps(pad, nullptr);
    const GstStructure* s = caps != nullptr && !gst_caps_is_empty(caps) ? gst_caps_get_structure(caps, 0) : nullptr;
    const char* name = s != nullptr ? gst_structure_get_name(s) : "";
    if (StartsWith(name, "video/") && !request.soundOnly && ++videoSeen == request.videoStream && videoSink == nullptr) {
      GstElement* queue = Make("queue");
      GstElement* convert = Make("videoconvert");
      GstElement* filter = Make("capsfilter");
      GstElement* sink = Make("appsink");
      if (filter != nullptr) {
        GstCaps* argb = gst_caps_from_string("video/x-raw, format=ARGB");
        g_object_set(filter, "caps", argb, nullptr);
        gst_caps_unref(argb);
      }
      if (sink != nullptr) g_object_set(sink, "sync", FALSE, "max-buffers", 4u, "drop", FALSE, nullptr);
      if (Chain(pad, {queue, convert, filter, sink})) {
        videoSink = sink;
        videoQueue = queue;
      } else if (error.empty()) {
        error = "cannot convert its pictures to 32-bit ARGB";
      }
    } else if (StartsWith(name, "audio/") && request.sound && !soundLinked) {
      GstAudioInfo info;
      if (!gst_audio_info_from_caps(&info, caps)) {
        Discard(pad);
      } else {
        sound.sampleRate = UInt32(GST_AUDIO_INFO_RATE(&info));
        sound.channels = UInt32(GST_AUDIO_INFO_CHANNELS(&info));
        sound.sampleFormat = StoredSoundFormat(info.finfo);
        const char* decoded = gst_audio_format_to_string(GST_AUDIO_INFO_FORMAT(&info));
        if (decoded != nullptr && std::strcmp(decoded, GstFormatName(sound.sampleFormat)) != 0) soundFrom = decoded;
        GstElement* queue = Make("queue");
        GstElement* convert = Make("audioconvert");
        GstElement* filter = Make("capsfilter");
        GstElement* sink = Make("appsink");
        if (queue != nullptr && !request.soundOnly)  // never hold the demuxer back for sound
          g_object_set(queue, "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time", guint64(0), nullptr);
        if (filter != nullptr) {
          GstCaps* pcm = gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, GstFormatName(sound.sampleFormat),
                                             "layout", G_TYPE_STRING, "interleaved", nullptr);
          g_object_set(filter, "caps", pcm, nullptr);
          gst_caps_unref(pcm);
        }
        if (sink != nullptr)
          g_object_set(sink, "sync", FALSE, "max-buffers", request.soundOnly ? 16u : 0u, "drop", FALSE, nullptr);
        if (Chain(pad, {queue, convert, filter, sink})) {
          audioSink = sink;
          soundLinked = true;
        }
      }
    } else {
      Discard(pad);
    }
    if (caps != nullptr) gst_caps_unref(caps);
  }

  // Reads what the bus holds: the first error (or a missing plug-in) is
  // kept. True when the stream has failed.
  bool Failed() {
    std::lock_guard<std::mutex> lock(m);
    while (GstMessage* msg = gst_bus_pop_filtered(bus, GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_ELEMENT))) {
      Note(msg);
      gst_message_unref(msg);
    }
    return !error.empty();
  }

  void Note(GstMessage* msg) {
    if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ELEMENT && gst_is_missing_plugin_message(msg)) {
      if (missing.empty()) {
        gchar* what = gst_missing_plugin_message_get_description(msg);
        gchar* detail = gst_missing_plugin_message_get_installer_detail(msg);
        missing = std::string("GStreamer has no ") + (what ? what : "plug-in for it") + "; install " +
                  PackageFor(detail ? detail : "");
        g_free(what);
        g_free(detail);
      }
      return;
    }
    if (GST_MESSAGE_TYPE(msg) != GST_MESSAGE_ERROR || !error.empty()) return;
    GError* e = nullptr;
    gst_message_parse_error(msg, &e, nullptr);
    if (!missing.empty())
      error = missing;
    else if (e != nullptr && g_error_matches(e, GST_STREAM_ERROR, GST_STREAM_ERROR_TYPE_NOT_FOUND))
      error = "GStreamer cannot tell what kind of file it is";
    else
      error = std::string("GStreamer cannot read it: ") + (e ? e->message : "error");
    if (e != nullptr) g_error_free(e);
  }
};

namespace {

void OnPadAdded(GstElement*, GstPad* pad, gpointer self) { static_cast<GstMedia::Pipeline*>(self)->PadAdded(pad); }

bool GstReady(std::string* error) {
  static std::once_flag once;
  static std::string failure;
  std::call_once(once, [] {
    GError* e = nullptr;
    if (!gst_init_check(nullptr, nullptr, &e)) failure = std::string("GStreamer cannot start: ") + (e ? e->message : "");
    if (e != nullptr) g_error_free(e);
  });
  if (!failure.empty()) *error = failure;
  return failure.empty();
}

}  // namespace

bool IsURI(const std::string& input) {
  const size_t colon = input.find("://");
  if (colon == std::string::npos || colon == 0) return false;
  for (size_t i = 0; i < colon; ++i)
    if (!(std::isalnum(static_cast<unsigned char>(input[i])) || input[i] == '+' || input[i] == '-' || input[i] == '.'))
      return false;
  return true;
}

std::string ToURI(const std::string& input) {
  if (IsURI(input)) return input;
  GError* e = nullptr;
  gchar* uri = gst_filename_to_uri(input.c_str(), &e);
  std::string out = uri != nullptr ? uri : "";
  g_free(uri);
  if (e != nullptr) g_error_free(e);
  return out;
}

GstMedia::GstMedia() = default;
GstMedia::~GstMedia() = default;

bool GstMedia::Open(const GstMediaRequest& request, std::string* error) {
  if (!IsURI(request.input)) {
    struct stat st {};
    if (stat(request.input.c_str(), &st) != 0) {
      *error = std::string("cannot open: ") + std::strerror(errno);
      return false;
    }
    if (S_ISDIR(st.st_mode)) {
      *error = "cannot read a folder";
      return false;
    }
  }
  if (!GstReady(error)) return false;
  p_ = std::make_unique<Pipeline>();
  Pipeline& p = *p_;
  p.request = request;
  p.pipeline = gst_pipeline_new("orx-source");
  GstElement* decode = gst_element_factory_make("uridecodebin", nullptr);
  if (p.pipeline == nullptr || decode == nullptr) {
    if (decode != nullptr) gst_object_unref(decode);
    *error = "GStreamer has no uridecodebin (install gstreamer1.0-plugins-base)";
    return false;
  }
  const std::string uri = ToURI(request.input);
  g_object_set(decode, "uri", uri.c_str(), nullptr);
  g_signal_connect(decode, "pad-added", G_CALLBACK(OnPadAdded), &p);
  gst_bin_add(GST_BIN(p.pipeline), decode);
  p.bus = gst_element_get_bus(p.pipeline);

  // Preroll: every stream found and linked, the first buffers at the sinks.
  gst_element_set_state(p.pipeline, GST_STATE_PAUSED);
  bool ready = false;
  for (GstClockTime waited = 0; !ready && waited < kPrerollLimit; waited += kPoll) {
    GstMessage* msg = gst_bus_timed_pop_filtered(
        p.bus, kPoll, GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_ELEMENT | GST_MESSAGE_ASYNC_DONE));
    if (msg == nullptr) continue;
    if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ASYNC_DONE) {
      ready = true;
    } else {
      std::lock_guard<std::mutex> lock(p.m);
      p.Note(msg);
    }
    gst_message_unref(msg);
    std::lock_guard<std::mutex> lock(p.m);
    if (!p.error.empty()) break;
  }
  std::lock_guard<std::mutex> lock(p.m);
  if (p.error.empty() && !ready) p.error = "GStreamer did not get it ready within two minutes";
  if (p.error.empty() && !request.soundOnly && p.videoSink == nullptr) {
    p.error = p.videoSeen == 0 ? (p.missing.empty() ? "it has no video stream" : p.missing)
                               : "it has " + std::to_string(p.videoSeen) + " video stream" +
                                     (p.videoSeen == 1 ? "" : "s") + ", not " + std::to_string(request.videoStream);
  }
  if (p.error.empty() && request.soundOnly && !p.soundLinked)
    p.error = p.missing.empty() ? "it has no audio stream" : p.missing;
  if (!p.error.empty()) {
    *error = p.error;
    return false;
  }

  info_ = GstMediaInfo{};
  info_.videoStreams = p.videoSeen;
  gint64 duration = -1;
  if (gst_element_query_duration(p.pipeline, GST_FORMAT_TIME, &duration) && duration > 0) info_.durationNs = duration;
  if (p.videoSink != nullptr) {
    GstPad* pad = gst_element_get_static_pad(p.videoSink, "sink");
    GstCaps* caps = gst_pad_get_current_caps(pad);
    GstVideoInfo vi;
    if (caps != nullptr && gst_video_info_from_caps(&vi, caps)) {
      info_.width = GST_VIDEO_INFO_WIDTH(&vi);
      info_.height = GST_VIDEO_INFO_HEIGHT(&vi);
      info_.fpsNum = GST_VIDEO_INFO_FPS_N(&vi);
      info_.fpsDen = GST_VIDEO_INFO_FPS_D(&vi) > 0 ? GST_VIDEO_INFO_FPS_D(&vi) : 1;
      info_.parNum = GST_VIDEO_INFO_PAR_N(&vi) > 0 ? GST_VIDEO_INFO_PAR_N(&vi) : 1;
      info_.parDen = GST_VIDEO_INFO_PAR_D(&vi) > 0 ? GST_VIDEO_INFO_PAR_D(&vi) : 1;
    }
    if (caps != nullptr) gst_caps_unref(caps);
    gst_object_unref(pad);
    // Alpha as decoded, before the conversion to ARGB adds a channel.
    GstPad* in = gst_element_get_static_pad(p.videoQueue, "sink");
    GstCaps* decoded = gst_pad_get_current_caps(in);
    if (decoded != nullptr && gst_video_info_from_caps(&vi, decoded)) info_.hasAlpha = GST_VIDEO_INFO_HAS_ALPHA(&vi);
    if (decoded != nullptr) gst_caps_unref(decoded);
    gst_object_unref(in);
  }
  info_.hasSound = p.soundLinked;
  // Pictures that decode beside sound that does not: the sound is left out
  // with the reason.
  if (request.sound && !p.soundLinked && !p.missing.empty()) info_.soundProblem = p.missing;
  info_.sound = p.sound;
  info_.soundFrom = p.soundFrom;
  gst_element_set_state(p.pipeline, GST_STATE_PLAYING);
  return true;
}

int GstMedia::NextFrame(ImageARGB* out, int64_t* ptsNs, std::string* error) {
  if (p_ == nullptr || p_->videoSink == nullptr) return 0;
  GstAppSink* sink = GST_APP_SINK(p_->videoSink);
  GstSample* sample = nullptr;
  while (sample == nullptr) {
    if (p_->Failed()) {
      *error = p_->error;
      return -1;
    }
    sample = gst_app_sink_try_pull_sample(sink, kPoll);
    if (sample == nullptr && gst_app_sink_is_eos(sink)) return p_->Failed() ? (*error = p_->error, -1) : 0;
  }
  GstVideoInfo vi;
  GstVideoFrame frame;
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  int result = -1;
  if (gst_video_info_from_caps(&vi, gst_sample_get_caps(sample)) &&
      gst_video_frame_map(&frame, &vi, buffer, GST_MAP_READ)) {
    const int w = GST_VIDEO_FRAME_WIDTH(&frame), h = GST_VIDEO_FRAME_HEIGHT(&frame);
    out->Allocate(w, h);
    out->hasAlpha = info_.hasAlpha;
    const auto* src = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    for (int y = 0; y < h; ++y) std::memcpy(out->Row(y), src + size_t(y) * size_t(stride), out->RowBytes());
    gst_video_frame_unmap(&frame);
    *ptsNs = GST_BUFFER_PTS_IS_VALID(buffer) ? int64_t(GST_BUFFER_PTS(buffer)) : -1;
    result = 1;
  } else {
    *error = "a picture could not be read as 32-bit ARGB";
  }
  gst_sample_unref(sample);
  return result;
}

int GstMedia::TakeSound(std::vector<uint8_t>* out, int64_t* firstNs, int waitMs, std::string* error) {
  *firstNs = -1;
  if (p_ == nullptr || p_->audioSink == nullptr) return 0;
  GstAppSink* sink = GST_APP_SINK(p_->audioSink);
  int64_t waited = 0;
  for (;;) {
    if (p_->Failed()) {
      *error = p_->error;
      return -1;
    }
    const bool mayWait = *firstNs < 0 && waited < int64_t(waitMs) * int64_t(GST_MSECOND);
    GstSample* sample = gst_app_sink_try_pull_sample(sink, mayWait ? kPoll : 0);
    if (sample == nullptr) {
      if (gst_app_sink_is_eos(sink)) return 0;
      if (!mayWait) return 1;
      waited += int64_t(kPoll);
      continue;
    }
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (buffer != nullptr && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
      if (*firstNs < 0) *firstNs = GST_BUFFER_PTS_IS_VALID(buffer) ? int64_t(GST_BUFFER_PTS(buffer)) : 0;
      out->insert(out->end(), map.data, map.data + map.size);
      gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
  }
}

}  // namespace orxapp
