#include "GstMedia.h"

#include <gst/app/gstappsink.h>
#include <gst/audio/audio.h>
#include <gst/gst.h>
#include <gst/pbutils/missing-plugins.h>
#include <gst/video/video.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <mutex>

#include "Cli.h"
#include "core/Format/ORXFormat.h"
#include "GstFacts.h"
#include "GstSoundHold.h"

namespace orxapp {

namespace {

constexpr GstClockTime kPrerollLimit = 120 * GST_SECOND;
constexpr GstClockTime kLiveNotice = 3 * GST_SECOND;
constexpr int kMaxSide = kORXMaxSide;
constexpr int kMaxSoundRate = 384000;  // what a movie's sound track stores
constexpr int kMaxSoundChannels = 64;
// Frames the caller may still hold after NextFrame has returned them (the
// read-ahead ring and the encoder's two): sound before them is not needed.
constexpr int kFramesHeld = 8;

bool StartsWith(const char* s, const char* prefix) { return s != nullptr && std::strncmp(s, prefix, std::strlen(prefix)) == 0; }

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
  std::string error;         // the first failure, sticky
  std::string missing;       // what a missing plug-in would have decoded
  std::string soundRefused;  // why an audio stream was not taken (the first one's reason)
  bool asyncDone = false;    // prerolled
  bool eos = false;          // every stream has ended
  std::atomic<bool> arrived{false};       // data reached the sink that matters
  std::atomic<int64_t> streamsEndNs{-1};  // the latest end of any stream's data
  // The sound, taken off the end of its branch as it arrives, and the
  // pictures' times it is held against. Its lock is taken under m, never m
  // under it.
  GstSoundHold held;

  ~Pipeline() {
    held.Close();
    if (pipeline != nullptr) {
      gst_element_set_state(pipeline, GST_STATE_NULL);
      gst_object_unref(pipeline);
    }
    if (bus != nullptr) {
      gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
      gst_object_unref(bus);
    }
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
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, OnStreamData, this, nullptr);
    int width = 0, height = 0;
    if (StartsWith(name, "video/") && !request.soundOnly && ++videoSeen == request.videoStream && videoSink == nullptr) {
      if (gst_structure_get_int(s, "width", &width) && gst_structure_get_int(s, "height", &height) &&
          (width > kMaxSide || height > kMaxSide)) {
        if (error.empty())
          error = "its pictures are " + std::to_string(width) + "x" + std::to_string(height) + ", " +
                  (width > kMaxSide && height > kMaxSide ? "larger" : width > kMaxSide ? "wider" : "taller") +
                  " than ORX allows (" + std::to_string(kMaxSide) + " each way at most)";
        Discard(pad);
      } else {
        LinkPictures(pad);
      }
    } else if (StartsWith(name, "audio/") && request.sound && !soundLinked) {
      const std::string problem = LinkSound(pad, s, caps);
      if (!problem.empty()) {
        if (soundRefused.empty()) soundRefused = problem;
        Discard(pad);
      }
    } else {
      Discard(pad);
    }
    if (caps != nullptr) gst_caps_unref(caps);
  }

  void LinkPictures(GstPad* pad) {
    GstElement* queue = Make("queue");
    GstElement* convert = Make("videoconvert");
    GstElement* filter = Make("capsfilter");
    GstElement* sink = Make("appsink");
    // A few pictures wait between the decoder and the reader, whatever their size or rate.
    if (queue != nullptr)
      g_object_set(queue, "max-size-buffers", 3u, "max-size-bytes", 0u, "max-size-time", guint64(0), nullptr);
    // Deeper pictures (16-bit PNG or TIFF, 10- and 12-bit video) come as
    // 16 bits a channel, rounded here rather than dithered or cut by the
    // converter; 8-bit ones as they are.
    if (filter != nullptr) {
      GstCaps* argb = gst_caps_from_string("video/x-raw, format=(string){ ARGB, ARGB64 }");
      g_object_set(filter, "caps", argb, nullptr);
      gst_caps_unref(argb);
    }
    if (sink != nullptr) {
      g_object_set(sink, "sync", FALSE, "max-buffers", 4u, "drop", FALSE, nullptr);
      GstPad* in = gst_element_get_static_pad(sink, "sink");
      gst_pad_add_probe(in, GST_PAD_PROBE_TYPE_BUFFER, OnArrival, this, nullptr);
      gst_object_unref(in);
    }
    // Watched from before the first picture can pass.
    gst_pad_add_probe(pad, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM), OnPicture,
                      this, nullptr);
    if (Chain(pad, {queue, convert, filter, sink})) {
      videoSink = sink;
      videoQueue = queue;
    } else if (error.empty()) {
      error = "cannot convert its pictures to 32-bit ARGB";
    }
  }

  // Links the sound's branch: converted to the format the movie stores
  // unless it comes in it already, then taken off at a fakesink's pad as it
  // arrives. "" when linked, else why the stream cannot be taken.
  std::string LinkSound(GstPad* pad, const GstStructure* s, GstCaps* caps) {
    const char* format = s != nullptr ? gst_structure_get_string(s, "format") : nullptr;
    const char* layout = s != nullptr ? gst_structure_get_string(s, "layout") : nullptr;
    const GstAudioFormat gf = format != nullptr ? gst_audio_format_from_string(format) : GST_AUDIO_FORMAT_UNKNOWN;
    int rate = 0, channels = 0;
    if (caps == nullptr || !gst_caps_is_fixed(caps) || !gst_structure_get_int(s, "rate", &rate) ||
        !gst_structure_get_int(s, "channels", &channels) || rate <= 0 || channels <= 0)
      return "GStreamer gives no settled format for its sound";
    if (gf == GST_AUDIO_FORMAT_UNKNOWN || gf == GST_AUDIO_FORMAT_ENCODED)
      return std::string("its sound is decoded as ") + (format != nullptr ? format : "no known format") +
             ", which orx does not read";
    if (rate > kMaxSoundRate)
      return "its sound is " + std::to_string(rate) + " Hz, above the " + std::to_string(kMaxSoundRate) +
             " Hz a movie stores";
    if (channels > kMaxSoundChannels)
      return "its sound has " + std::to_string(channels) + " channels, more than the " +
             std::to_string(kMaxSoundChannels) + " a movie stores";
    const GstAudioFormatInfo* f = gst_audio_format_get_info(gf);
    HostSoundFormat stored{};
    stored.sampleRate = UInt32(rate);
    stored.channels = UInt32(channels);
    stored.sampleFormat = StoredSoundFormat(f);
    const char* storedName = GstFormatName(stored.sampleFormat);
    const bool convert = std::strcmp(format, storedName) != 0 || (layout != nullptr && std::strcmp(layout, "interleaved") != 0);
    // GStreamer's converter takes fewer than 64 channels, and more than two
    // only with their positions.
    guint64 mask = 0;
    if (convert && channels >= 64)
      return "its sound has " + std::to_string(channels) + " channels of " + format +
             ", more than GStreamer's converter takes (63)";
    if (convert && channels > 2 && !gst_structure_get(s, "channel-mask", GST_TYPE_BITMASK, &mask, nullptr))
      return "its sound has " + std::to_string(channels) + " channels of " + format +
             " without positions, which GStreamer's converter does not take";
    GstElement* conv = convert ? Make("audioconvert") : nullptr;
    GstElement* filter = Make("capsfilter");
    GstElement* sink = Make("fakesink");
    if (filter != nullptr) {
      // The whole format is fixed: a stream that changes it fails rather
      // than mixing two formats in one track.
      GstCaps* pcm = gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, storedName, "layout", G_TYPE_STRING,
                                         "interleaved", "rate", G_TYPE_INT, rate, "channels", G_TYPE_INT, channels, nullptr);
      g_object_set(filter, "caps", pcm, nullptr);
      gst_caps_unref(pcm);
    }
    sound = stored;
    held.Begin(sound, request.soundOnly);
    if (sink != nullptr) {
      g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
      // Taken off from the first buffer on.
      GstPad* in = gst_element_get_static_pad(sink, "sink");
      gst_pad_add_probe(in,
                        GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST |
                                        GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                        OnSound, this, nullptr);
      gst_object_unref(in);
    }
    const bool linked = convert ? Chain(pad, {conv, filter, sink}) : Chain(pad, {filter, sink});
    if (!linked) return error.empty() ? "cannot convert its sound to " + std::string(storedName) : error;
    if (std::strcmp(format, storedName) != 0) soundFrom = format;
    audioSink = sink;
    soundLinked = true;
    return "";
  }

  // Reads what the bus holds, waiting up to timeout for the first message.
  void Poll(GstClockTime timeout) {
    const auto types = GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_WARNING | GST_MESSAGE_ELEMENT | GST_MESSAGE_EOS |
                                      GST_MESSAGE_ASYNC_DONE);
    GstMessage* msg = gst_bus_timed_pop_filtered(bus, timeout, types);
    while (msg != nullptr) {
      // The words for a missing plug-in ask GStreamer's registry: found
      // before the lock is taken.
      const std::string hint = gst_is_missing_plugin_message(msg) ? MissingPluginHint(msg) : std::string();
      {
        std::lock_guard<std::mutex> lock(m);
        Note(msg, hint);
      }
      gst_message_unref(msg);
      msg = gst_bus_pop_filtered(bus, types);
    }
  }

  // True when the stream has failed (the first error, or a missing plug-in, is kept).
  bool Failed() {
    Poll(0);
    std::lock_guard<std::mutex> lock(m);
    return !error.empty();
  }

  // missingHint: MissingPluginHint of a missing-plugin message.
  void Note(GstMessage* msg, const std::string& missingHint) {
    switch (GST_MESSAGE_TYPE(msg)) {
      case GST_MESSAGE_ELEMENT:
        if (gst_is_missing_plugin_message(msg) && missing.empty()) missing = missingHint;
        return;
      case GST_MESSAGE_ASYNC_DONE:
        asyncDone = true;
        return;
      case GST_MESSAGE_EOS:
        eos = true;
        return;
      case GST_MESSAGE_WARNING: {
        GError* e = nullptr;
        gst_message_parse_warning(msg, &e, nullptr);
        // A stream without a decoder is reported by its missing plug-in.
        const bool notDecoded = e != nullptr && (g_error_matches(e, GST_STREAM_ERROR, GST_STREAM_ERROR_CODEC_NOT_FOUND) ||
                                                 g_error_matches(e, GST_CORE_ERROR, GST_CORE_ERROR_MISSING_PLUGIN));
        if (!notDecoded) Lost(msg, std::string("GStreamer reports damage: ") + (e ? e->message : "a warning"));
        if (e != nullptr) g_error_free(e);
        return;
      }
      case GST_MESSAGE_ERROR:
        break;
      default:
        return;
    }
    if (!error.empty()) return;
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

  // A loss a warning or QoS message reports: the sound's when an element of
  // sound reported it (or the source is a sound file), else the pictures'.
  // Sound the movie does not take does not count.
  void Lost(GstMessage* msg, const std::string& what) {
    const char* klass = GST_IS_ELEMENT(GST_MESSAGE_SRC(msg))
                            ? gst_element_get_metadata(GST_ELEMENT(GST_MESSAGE_SRC(msg)), GST_ELEMENT_METADATA_KLASS)
                            : nullptr;
    held.Lost(request.soundOnly || (klass != nullptr && std::strstr(klass, "Audio") != nullptr), what);
  }
  // QoS messages are judged as they are posted, on the thread that dropped
  // something, so that a drop before the stream began is told from one after.
  static GstBusSyncReply OnBusSync(GstBus*, GstMessage* msg, gpointer self) {
    if (GST_MESSAGE_TYPE(msg) != GST_MESSAGE_QOS) return GST_BUS_PASS;
    GstFormat format = GST_FORMAT_UNDEFINED;
    guint64 processed = 0, dropped = 0;
    gst_message_parse_qos_stats(msg, &format, &processed, &dropped);
    if (dropped == 0 || dropped == guint64(-1)) return GST_BUS_DROP;
    try {
      static_cast<Pipeline*>(self)->Lost(msg, "GStreamer's " + std::string(GST_OBJECT_NAME(GST_MESSAGE_SRC(msg))) +
                                                  " dropped " + std::to_string(dropped) +
                                                  (format == GST_FORMAT_DEFAULT ? " samples" : " buffers"));
    } catch (const std::exception&) {  // the message's words only
    }
    return GST_BUS_DROP;
  }

  static GstPadProbeReturn OnStreamData(GstPad*, GstPadProbeInfo* info, gpointer self) {
    GstBuffer* b = GST_PAD_PROBE_INFO_BUFFER(info);
    if (b != nullptr && GST_BUFFER_PTS_IS_VALID(b)) {
      const int64_t end = int64_t(GST_BUFFER_PTS(b)) + (GST_BUFFER_DURATION_IS_VALID(b) ? int64_t(GST_BUFFER_DURATION(b)) : 0);
      std::atomic<int64_t>& latest = static_cast<Pipeline*>(self)->streamsEndNs;
      int64_t seen = latest.load();
      while (end > seen && !latest.compare_exchange_weak(seen, end)) {
      }
    }
    return GST_PAD_PROBE_OK;
  }
  static GstPadProbeReturn OnPicture(GstPad*, GstPadProbeInfo* info, gpointer self) {
    auto* p = static_cast<Pipeline*>(self);
    try {
      if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        if (GstBuffer* b = GST_PAD_PROBE_INFO_BUFFER(info)) p->held.PictureArrived(b);
      } else if (GstEvent* e = GST_PAD_PROBE_INFO_EVENT(info); e != nullptr && GST_EVENT_TYPE(e) == GST_EVENT_EOS) {
        p->held.PicturesEnded();
      }
    } catch (const std::exception&) {  // a loss's message; nothing is thrown out of a streaming thread
      std::lock_guard<std::mutex> lock(p->m);
      if (p->error.empty()) p->error = "out of memory";
    }
    return GST_PAD_PROBE_OK;
  }
  static GstPadProbeReturn OnArrival(GstPad*, GstPadProbeInfo*, gpointer self) {
    static_cast<Pipeline*>(self)->arrived = true;
    return GST_PAD_PROBE_OK;
  }
  // A buffer of sound at the end of its branch (on a streaming thread).
  void SoundArrived(GstBuffer* b) {
    if (request.soundOnly) arrived = true;
    held.Arrived(b);
  }
  // The sound's buffers stop here, in the pipeline's memory only while held;
  // its end is noted. Nothing is thrown out of a streaming thread.
  static GstPadProbeReturn OnSound(GstPad*, GstPadProbeInfo* info, gpointer self) {
    auto* p = static_cast<Pipeline*>(self);
    try {
      if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        if (GstBuffer* b = GST_PAD_PROBE_INFO_BUFFER(info)) p->SoundArrived(b);
        return GST_PAD_PROBE_DROP;
      }
      if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
        if (GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info))
          for (guint i = 0; i < gst_buffer_list_length(list); ++i) p->SoundArrived(gst_buffer_list_get(list, i));
        return GST_PAD_PROBE_DROP;
      }
      if (GstEvent* e = GST_PAD_PROBE_INFO_EVENT(info); e != nullptr && GST_EVENT_TYPE(e) == GST_EVENT_EOS) p->held.Ended();
    } catch (const std::exception&) {
      std::lock_guard<std::mutex> lock(p->m);
      if (p->error.empty()) p->error = "out of memory for its sound";
      return GST_PAD_PROBE_DROP;
    }
    return GST_PAD_PROBE_OK;
  }
};

namespace {

void OnPadAdded(GstElement*, GstPad* pad, gpointer self) {
  auto* p = static_cast<GstMedia::Pipeline*>(self);
  try {
    p->PadAdded(pad);
  } catch (const std::exception&) {
    std::lock_guard<std::mutex> lock(p->m);
    if (p->error.empty()) p->error = "out of memory";
  }
}

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
  if (!GstReady(error)) return false;
  if (const std::string problem = InputProblem(request.input); !problem.empty()) {
    *error = problem;
    return false;
  }
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
  gst_bus_set_sync_handler(p.bus, Pipeline::OnBusSync, &p, nullptr);

  // Preroll: every stream found and linked, the first picture at its sink.
  // A live source prerolls only while playing, and may take its time to
  // start: it is waited for as long as the user lets it, and said so.
  const bool live = gst_element_set_state(p.pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_NO_PREROLL;
  if (live) gst_element_set_state(p.pipeline, GST_STATE_PLAYING);
  const gint64 started = g_get_monotonic_time();
  bool noticed = false;
  for (;;) {
    p.Poll(kPoll);
    std::lock_guard<std::mutex> lock(p.m);
    if (!p.error.empty()) break;
    if (Interrupted()) {
      p.error = "interrupted";
      break;
    }
    if (live ? p.arrived.load() : p.asyncDone) break;
    const GstClockTime waited = GstClockTime(g_get_monotonic_time() - started) * GST_USECOND;
    if (!live && waited >= kPrerollLimit) {
      p.error = "GStreamer did not get it ready within two minutes";
      break;
    }
    if (live && !noticed && waited >= kLiveNotice) {
      noticed = true;
      std::fprintf(stderr, "orx: %s: a live source; waiting for its first %s (Ctrl-C stops)\n", request.input.c_str(),
                   request.soundOnly ? "sound" : "picture");
    }
  }
  // What the streaming threads found is read under the lock, and GStreamer
  // is called below without it: a pad added late takes the lock while
  // GStreamer holds locks of its own.
  std::unique_lock<std::mutex> lock(p.m);
  if (p.error.empty() && !request.soundOnly && p.videoSink == nullptr) {
    p.error = p.videoSeen == 0 ? (p.missing.empty() ? "it has no video stream" : p.missing)
                               : "it has " + std::to_string(p.videoSeen) + " video stream" +
                                     (p.videoSeen == 1 ? "" : "s") + ", not " + std::to_string(request.videoStream);
  }
  if (p.error.empty() && request.soundOnly && !p.soundLinked)
    p.error = !p.soundRefused.empty() ? p.soundRefused + "; --audio none leaves the sound out"
                                      : p.missing.empty() ? "it has no audio stream" : p.missing;
  if (!p.error.empty()) {
    *error = p.error;
    return false;
  }
  info_ = GstMediaInfo{};
  info_.videoStreams = p.videoSeen;
  info_.hasSound = p.soundLinked;
  // Pictures beside sound that cannot be taken: the sound is left out with
  // the reason.
  if (request.sound && !p.soundLinked) {
    if (!p.soundRefused.empty()) info_.soundProblem = p.soundRefused;
    else if (!p.missing.empty()) info_.soundProblem = "its sound cannot be decoded (" + p.missing + ")";
  }
  info_.sound = p.sound;
  info_.soundFrom = p.soundFrom;
  GstElement* const videoSink = p.videoSink;
  GstElement* const videoQueue = p.videoQueue;
  lock.unlock();

  info_.live = live;
  gint64 duration = -1;
  if (!live && gst_element_query_duration(p.pipeline, GST_FORMAT_TIME, &duration) && duration > 0)
    info_.durationNs = duration;
  if (videoSink != nullptr) {
    GstPad* pad = gst_element_get_static_pad(videoSink, "sink");
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
    GstPad* in = gst_element_get_static_pad(videoQueue, "sink");
    GstCaps* decoded = gst_pad_get_current_caps(in);
    if (decoded != nullptr && gst_video_info_from_caps(&vi, decoded)) info_.hasAlpha = GST_VIDEO_INFO_HAS_ALPHA(&vi);
    if (decoded != nullptr) gst_caps_unref(decoded);
    gst_object_unref(in);
  }
  if (!live) gst_element_set_state(p.pipeline, GST_STATE_PLAYING);
  return true;
}

int GstMedia::NextFrame(ImageARGB* out, int64_t* ptsNs, std::string* error) {
  if (p_ == nullptr || p_->videoSink == nullptr) return 0;
  Pipeline& p = *p_;
  GstAppSink* sink = GST_APP_SINK(p.videoSink);
  GstSample* sample = nullptr;
  while (sample == nullptr) {
    if (Interrupted()) {
      *error = "interrupted";
      return -1;
    }
    if (p.Failed()) {
      *error = p.error;
      return -1;
    }
    if (p.held.PicturesLost(error)) return -1;
    sample = gst_app_sink_try_pull_sample(sink, kPoll);
    if (sample == nullptr && gst_app_sink_is_eos(sink)) return PicturesEnded(error);
  }
  GstVideoInfo vi;
  GstVideoFrame frame;
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  const int64_t pts = GST_BUFFER_PTS_IS_VALID(buffer) ? int64_t(GST_BUFFER_PTS(buffer)) : -1;
  const int64_t frameNs = info_.fpsNum > 0 ? int64_t(GST_SECOND) * info_.fpsDen / info_.fpsNum : 0;
  int result = -1;
  // Pictures of a fixed rate follow one another: a gap in their times is
  // pictures lost on the way (a damaged stretch the demuxer skipped).
  const int64_t expected = lastPtsNs_ + (lastDurationNs_ > 0 ? lastDurationNs_ : frameNs);
  if (frameNs > 0 && lastPtsNs_ >= 0 && pts >= 0 && pts - expected > frameNs / 2) {
    const int64_t lost = std::max<int64_t>(1, (pts - expected + frameNs / 2) / frameNs);
    *error = std::to_string(lost) + (lost == 1 ? " picture is" : " pictures are") + " missing at " + Seconds(expected);
  } else if (!gst_video_info_from_caps(&vi, gst_sample_get_caps(sample)) ||
             !gst_video_frame_map(&frame, &vi, buffer, GST_MAP_READ)) {
    *error = "a picture could not be read as 32-bit ARGB";
  } else {
    const int w = GST_VIDEO_FRAME_WIDTH(&frame), h = GST_VIDEO_FRAME_HEIGHT(&frame);
    if (w > kMaxSide || h > kMaxSide) {
      *error = "a picture is " + std::to_string(w) + "x" + std::to_string(h) + ", larger than ORX allows (" +
               std::to_string(kMaxSide) + " each way at most)";
    } else {
      out->Allocate(w, h);
      out->hasAlpha = info_.hasAlpha;
      const auto* src = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
      const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
      if (GST_VIDEO_FRAME_FORMAT(&frame) == GST_VIDEO_FORMAT_ARGB64) {
        for (int y = 0; y < h; ++y) {
          const auto* in = reinterpret_cast<const uint16_t*>(src + size_t(y) * size_t(stride));
          uint8_t* row = out->Row(y);
          for (size_t i = 0; i < size_t(w) * 4; ++i) row[i] = uint8_t((uint32_t(in[i]) + 128) / 257);  // v / 257, rounded
        }
      } else {
        for (int y = 0; y < h; ++y) std::memcpy(out->Row(y), src + size_t(y) * size_t(stride), out->RowBytes());
      }
      *ptsNs = pts;
      out->durationNs = GST_BUFFER_DURATION_IS_VALID(buffer) ? int64_t(GST_BUFFER_DURATION(buffer)) : -1;
      result = 1;
    }
    gst_video_frame_unmap(&frame);
  }
  if (result == 1) {
    lastPtsNs_ = pts;
    lastDurationNs_ = GST_BUFFER_DURATION_IS_VALID(buffer) ? int64_t(GST_BUFFER_DURATION(buffer)) : 0;
    // Sound before the pictures the caller may still hold is not needed.
    if (pts >= 0) {
      returnedNs_.push_back(pts);
      if (returnedNs_.size() > size_t(kFramesHeld)) {
        returnedNs_.pop_front();
        p.held.KeepFrom(returnedNs_.front());
      }
    }
  }
  gst_sample_unref(sample);
  return result;
}

int GstMedia::PicturesEnded(std::string* error) {
  Pipeline& p = *p_;
  if (p.Failed()) {
    *error = p.error;
    return -1;
  }
  if (p.held.PicturesLost(error)) return -1;
  std::unique_lock<std::mutex> lock(p.m);
  // A file that declares a longer length than any of its streams reached
  // was cut short or lost its end. The other streams may still be on their
  // way (sound that outlasts the pictures): they are waited for while they
  // move on, before it counts.
  const int64_t declared = info_.durationNs;
  if (declared <= 0 || !p.missing.empty()) return 0;
  const int64_t frameNs = info_.fpsNum > 0 ? int64_t(GST_SECOND) * info_.fpsDen / info_.fpsNum : 0;
  const int64_t shortOf = declared - LengthSlack(declared, frameNs);
  int64_t seen = p.streamsEndNs.load();
  gint64 moved = g_get_monotonic_time();
  while (seen < shortOf && !p.eos && p.error.empty() && !Interrupted() &&
         g_get_monotonic_time() - moved < 5 * G_USEC_PER_SEC) {
    lock.unlock();
    p.Poll(kPoll);
    lock.lock();
    if (p.streamsEndNs.load() != seen) {
      seen = p.streamsEndNs.load();
      moved = g_get_monotonic_time();
    }
  }
  if (!p.error.empty()) {
    *error = p.error;
    return -1;
  }
  const int64_t reached = std::max<int64_t>(p.streamsEndNs.load(), 0);
  if (reached >= shortOf) return 0;
  *error = "its streams end at " + Seconds(reached) + ", short of the " + Seconds(declared) +
           " its file declares: cut short or damaged";
  return -1;
}

int GstMedia::TakeSound(std::vector<uint8_t>* out, int64_t* firstNs, int waitMs, std::string* error) {
  *firstNs = -1;
  if (p_ == nullptr || p_->audioSink == nullptr) return 0;
  Pipeline& p = *p_;
  const gint64 until = g_get_monotonic_time() + gint64(waitMs) * 1000;
  for (;;) {
    if (Interrupted()) {
      *error = "interrupted";
      return -1;
    }
    if (p.Failed()) {
      *error = p.error;
      return -1;
    }
    switch (p.held.Take(out, firstNs, until, info_.durationNs)) {
      case GstSoundHold::Turn::kEnded:
        return 0;
      case GstSoundHold::Turn::kWaited:
        break;
      default:
        return 1;
    }
  }
}

int64_t GstMedia::SoundLost(std::string* why) const {
  if (p_ == nullptr) return -1;
  return p_->held.SoundLost(why);
}

}  // namespace orxapp
