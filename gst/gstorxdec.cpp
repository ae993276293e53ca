// orxdec: a GStreamer video decoder for ORX movies. It is a host
// application like orx itself: it opens the ORX decompressor component
// through the host's decompression session (orxapp::Decoder) and hands the
// ARGB frames it draws to GStreamer. Every ORX frame stands alone, so every
// frame is a key frame and seeking is frame-exact.
#include <gst/gst.h>
#include <gst/video/video.h>

#include <cstring>
#include <new>
#include <string>

#include "Codec.h"
#include "MacMemory.h"

namespace {

// Frames the decompressor rejects before a damaged stream becomes an error;
// up to this many are dropped with a warning. The "max-errors" property of
// the base class changes it.
constexpr int kDefaultMaxErrors = 3;

struct GstOrxDec {
  GstVideoDecoder parent;
  orxapp::Decoder* decoder;  // one per element; used on the streaming thread
  bool decoder_open;         // opened on the first frame that fits the caps
  gint width, height, depth;
  GstVideoCodecState* input_state;
  GstVideoCodecState* output_state;
};

struct GstOrxDecClass {
  GstVideoDecoderClass parent_class;
};

GType gst_orx_dec_get_type();
#define GST_ORX_DEC(obj) (reinterpret_cast<GstOrxDec*>(obj))

GST_DEBUG_CATEGORY_STATIC(orxdec_debug);
#define GST_CAT_DEFAULT orxdec_debug

// What qtdemux makes of a track of codec type 'ORXV', and the name a muxer
// would give the same stream. The frame size comes from the caps: the frames
// themselves are checked against it.
GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("video/x-gst-fourcc-ORXV, width = (int) [ 1, 32767 ], "
                                            "height = (int) [ 1, 32767 ]; "
                                            "video/x-orx, width = (int) [ 1, 32767 ], "
                                            "height = (int) [ 1, 32767 ]"));

// The host's decompression session hands out 32-bit ARGB only; any other
// order would cost a conversion, which videoconvert does downstream.
GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("ARGB")));

G_DEFINE_TYPE(GstOrxDec, gst_orx_dec, GST_TYPE_VIDEO_DECODER)

// orxapp's calls report in std::string and may throw std::bad_alloc; these
// keep exceptions inside the element.
bool OpenDecoder(orxapp::Decoder* d, ImageDescriptionHandle desc, std::string* error) {
  try {
    return d->Open(desc, error);
  } catch (...) {
    *error = "out of memory opening the ORX decompressor";
    return false;
  }
}

bool DecodeFrame(orxapp::Decoder* d, const uint8_t* data, size_t size, std::string* error) {
  try {
    return d->Decode(data, size, error);
  } catch (...) {
    *error = "out of memory decoding the frame";
    return false;
  }
}

bool DecodeFrameInto(orxapp::Decoder* d, const uint8_t* data, size_t size, uint8_t* pixels, size_t rowBytes,
                     std::string* error) {
  try {
    return d->DecodeInto(data, size, pixels, rowBytes, error);
  } catch (...) {
    *error = "out of memory decoding the frame";
    return false;
  }
}

// The image description the decompressor reads: codec type, frame size and
// depth, as a movie's sample description carries them.
ImageDescriptionHandle MakeDescription(int width, int height, int depth) {
  ImageDescriptionHandle desc =
      HostNewImageDescription(kORXCodecType, static_cast<SInt16>(width), static_cast<SInt16>(height), "ORX");
  if (desc != nullptr) (*desc)->depth = static_cast<SInt16>(depth);
  return desc;
}

void gst_orx_dec_init(GstOrxDec* self) {
  GstVideoDecoder* dec = GST_VIDEO_DECODER(self);
  gst_video_decoder_set_packetized(dec, TRUE);
  gst_video_decoder_set_needs_format(dec, TRUE);
  gst_video_decoder_set_max_errors(dec, kDefaultMaxErrors);
  GST_PAD_SET_ACCEPT_TEMPLATE(GST_VIDEO_DECODER_SINK_PAD(self));
  self->decoder = nullptr;
  self->decoder_open = false;
  self->width = self->height = 0;
  self->depth = 32;
  self->input_state = nullptr;
  self->output_state = nullptr;
}

void ReleaseStates(GstOrxDec* self) {
  g_clear_pointer(&self->input_state, gst_video_codec_state_unref);
  g_clear_pointer(&self->output_state, gst_video_codec_state_unref);
}

gboolean gst_orx_dec_start(GstVideoDecoder* dec) {
  GstOrxDec* self = GST_ORX_DEC(dec);
  if (self->decoder == nullptr) self->decoder = new (std::nothrow) orxapp::Decoder;
  if (self->decoder == nullptr) {
    GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("Out of memory"), ("cannot allocate the ORX decoder"));
    return FALSE;
  }
  return TRUE;
}

gboolean gst_orx_dec_stop(GstVideoDecoder* dec) {
  GstOrxDec* self = GST_ORX_DEC(dec);
  delete self->decoder;  // closes the decompressor
  self->decoder = nullptr;
  self->decoder_open = false;
  ReleaseStates(self);
  return TRUE;
}

gboolean gst_orx_dec_set_format(GstVideoDecoder* dec, GstVideoCodecState* state) {
  GstOrxDec* self = GST_ORX_DEC(dec);
  const GstStructure* s = gst_caps_get_structure(state->caps, 0);
  gint width = 0, height = 0, depth = 32;
  if (!gst_structure_get_int(s, "width", &width) || !gst_structure_get_int(s, "height", &height) || width <= 0 ||
      height <= 0 || width > 32767 || height > 32767) {
    GST_ELEMENT_ERROR(self, STREAM, FORMAT, ("The ORX stream has no valid frame size"),
                      ("caps %" GST_PTR_FORMAT, state->caps));
    return FALSE;
  }
  gst_structure_get_int(s, "depth", &depth);  // a muxer may say 24 (no alpha) or 32

  if (self->decoder == nullptr && !gst_orx_dec_start(dec)) return FALSE;
  // The decompressor opens on the first frame that fits this size: a size
  // the frames cannot back must not cost a frame-sized destination.
  self->decoder->Close();
  self->decoder_open = false;
  self->width = width;
  self->height = height;
  self->depth = depth == 24 ? 24 : 32;

  ReleaseStates(self);
  self->input_state = gst_video_codec_state_ref(state);
  self->output_state = gst_video_decoder_set_output_state(dec, GST_VIDEO_FORMAT_ARGB, width, height, state);
  return gst_video_decoder_negotiate(dec);
}

// A frame the decompressor refused (or would refuse): dropped with a bus
// warning within the base class's error tolerance, an error beyond it.
GstFlowReturn DropDamaged(GstOrxDec* self, GstVideoCodecFrame* frame, const std::string& error) {
  GstVideoDecoder* dec = GST_VIDEO_DECODER(self);
  GstFlowReturn ret = GST_FLOW_OK;
  GST_VIDEO_DECODER_ERROR(self, 1, STREAM, DECODE, ("ORX frame %u: %s", frame->system_frame_number, error.c_str()),
                          ("%s (%" G_GSIZE_FORMAT " bytes at %" GST_TIME_FORMAT ")", error.c_str(),
                           gst_buffer_get_size(frame->input_buffer), GST_TIME_ARGS(frame->pts)),
                          ret);
  // Within the tolerance the base class only logs; the application hears
  // of the dropped frame through a warning on the bus.
  if (ret == GST_FLOW_OK)
    GST_ELEMENT_WARNING(self, STREAM, DECODE, ("ORX frame %u dropped: %s", frame->system_frame_number, error.c_str()),
                        ("%s", error.c_str()));
  gst_video_decoder_drop_frame(dec, frame);
  return ret;
}

// Why the first frame cannot open the decompressor at the caps' size; ""
// when it fits.
std::string FirstFrameProblem(const uint8_t* data, size_t size, int width, int height) {
  try {
    const std::string problem = orxapp::FrameProblem(data, size, width, height);
    if (problem.empty()) return problem;
    return "not an ORX frame of " + std::to_string(width) + "x" + std::to_string(height) + ": " + problem;
  } catch (...) {
    return "out of memory checking the frame";
  }
}

// The codec's name in the stream's tags, which players and
// gst-discoverer-1.0 show (qtdemux gives no name for a codec it does not
// know): ORX, with the first frame's variant and packing.
void TagCodec(GstOrxDec* self, const uint8_t* data, size_t size) {
  const char* name = "ORX";
  std::string described;
  try {
    orxapp::FrameSummary summary;
    if (orxapp::SummarizeFrame(data, size, self->width, self->height, &summary)) {
      described = "ORX (" + summary.variant + (summary.lzf ? ", LZF)" : ")");
      name = described.c_str();
    }
  } catch (...) {
  }
  GstTagList* tags = gst_tag_list_new(GST_TAG_VIDEO_CODEC, name, nullptr);
  gst_video_decoder_merge_tags(GST_VIDEO_DECODER(self), tags, GST_TAG_MERGE_REPLACE);
  gst_tag_list_unref(tags);
}

bool OpenFor(GstOrxDec* self, std::string* error) {
  ImageDescriptionHandle desc = MakeDescription(self->width, self->height, self->depth);
  if (desc == nullptr) {
    *error = "out of memory making the image description";
    return false;
  }
  const bool opened = OpenDecoder(self->decoder, desc, error);
  DisposeHandle(reinterpret_cast<Handle>(desc));  // the session keeps its own copy
  if (opened) GST_DEBUG_OBJECT(self, "decompressor open for %dx%d, depth %d", self->width, self->height, self->depth);
  return opened;
}

GstFlowReturn gst_orx_dec_handle_frame(GstVideoDecoder* dec, GstVideoCodecFrame* frame) {
  GstOrxDec* self = GST_ORX_DEC(dec);
  if (self->decoder == nullptr || self->output_state == nullptr) {
    GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, (nullptr), ("a frame arrived before the stream's format"));
    gst_video_decoder_drop_frame(dec, frame);
    return GST_FLOW_NOT_NEGOTIATED;
  }
  GST_VIDEO_CODEC_FRAME_SET_SYNC_POINT(frame);

  GstMapInfo in;
  if (!gst_buffer_map(frame->input_buffer, &in, GST_MAP_READ)) {
    GST_ELEMENT_ERROR(self, RESOURCE, READ, (nullptr), ("cannot map the input buffer"));
    gst_video_decoder_drop_frame(dec, frame);
    return GST_FLOW_ERROR;
  }
  GstFlowReturn ret = GST_FLOW_OK;
  std::string error;
  if (!self->decoder_open) {
    error = FirstFrameProblem(in.data, in.size, self->width, self->height);
    if (!error.empty()) {
      gst_buffer_unmap(frame->input_buffer, &in);
      return DropDamaged(self, frame, error);
    }
    if (!OpenFor(self, &error)) {
      gst_buffer_unmap(frame->input_buffer, &in);
      GST_ELEMENT_ERROR(self, LIBRARY, INIT, ("Cannot open the ORX decompressor"), ("%s", error.c_str()));
      gst_video_decoder_drop_frame(dec, frame);
      return GST_FLOW_ERROR;
    }
    self->decoder_open = true;
    TagCodec(self, in.data, in.size);
  }
  ret = gst_video_decoder_allocate_output_frame(dec, frame);
  if (ret != GST_FLOW_OK) {
    gst_buffer_unmap(frame->input_buffer, &in);
    gst_video_decoder_drop_frame(dec, frame);
    return ret;
  }
  GstVideoFrame out;
  if (!gst_video_frame_map(&out, &self->output_state->info, frame->output_buffer, GST_MAP_WRITE)) {
    gst_buffer_unmap(frame->input_buffer, &in);
    GST_ELEMENT_ERROR(self, RESOURCE, WRITE, (nullptr), ("cannot map the output buffer"));
    gst_video_decoder_drop_frame(dec, frame);
    return GST_FLOW_ERROR;
  }
  auto* dst = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&out, 0));
  const size_t dstStride = size_t(GST_VIDEO_FRAME_PLANE_STRIDE(&out, 0));
  bool decoded;
  if (self->decoder->DrawsImageOnly()) {
    // Frames of whole blocks: the decompressor draws into the output buffer.
    decoded = DecodeFrameInto(self->decoder, in.data, in.size, dst, dstStride, &error);
  } else {
    // Its destination is extended to whole blocks: only the image is copied.
    decoded = DecodeFrame(self->decoder, in.data, in.size, &error);
    if (decoded) {
      const size_t rowBytes = size_t(self->decoder->Width()) * 4;
      const uint8_t* src = self->decoder->Pixels();
      const size_t srcStride = self->decoder->RowBytes();
      for (int y = 0; y < self->decoder->Height(); ++y)
        std::memcpy(dst + dstStride * size_t(y), src + srcStride * size_t(y), rowBytes);
    }
  }
  gst_video_frame_unmap(&out);
  gst_buffer_unmap(frame->input_buffer, &in);
  if (!decoded) return DropDamaged(self, frame, error);
  return gst_video_decoder_finish_frame(dec, frame);
}

void gst_orx_dec_finalize(GObject* object) {
  GstOrxDec* self = GST_ORX_DEC(object);
  delete self->decoder;
  self->decoder = nullptr;
  ReleaseStates(self);
  G_OBJECT_CLASS(gst_orx_dec_parent_class)->finalize(object);
}

void gst_orx_dec_class_init(GstOrxDecClass* klass) {
  GObjectClass* gobject_class = G_OBJECT_CLASS(klass);
  GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
  GstVideoDecoderClass* dec_class = GST_VIDEO_DECODER_CLASS(klass);
  gobject_class->finalize = gst_orx_dec_finalize;
  gst_element_class_add_static_pad_template(element_class, &sink_template);
  gst_element_class_add_static_pad_template(element_class, &src_template);
  gst_element_class_set_static_metadata(element_class, "ORX video decoder", "Codec/Decoder/Video",
                                        "Decodes ORX frames (DXT1, DXT5, DXT24, with or without LZF) through "
                                        "the ORX decompressor component",
                                        "ORX project");
  dec_class->start = GST_DEBUG_FUNCPTR(gst_orx_dec_start);
  dec_class->stop = GST_DEBUG_FUNCPTR(gst_orx_dec_stop);
  dec_class->set_format = GST_DEBUG_FUNCPTR(gst_orx_dec_set_format);
  dec_class->handle_frame = GST_DEBUG_FUNCPTR(gst_orx_dec_handle_frame);
}

gboolean plugin_init(GstPlugin* plugin) {
  GST_DEBUG_CATEGORY_INIT(orxdec_debug, "orxdec", 0, "ORX video decoder");
  // Primary rank: decodebin, playbin and gst-play-1.0 pick it for ORX tracks.
  return gst_element_register(plugin, "orxdec", GST_RANK_PRIMARY, gst_orx_dec_get_type());
}

}  // namespace

// The plug-in's "source" field (GST_PLUGIN_DEFINE reads PACKAGE). The
// project is under the MIT licence (LICENSE), which GStreamer names
// "MIT/X11".
#define PACKAGE "orx"
// The version is the project's, as orx --version and liborx report it; the
// components the element decodes through report their own.
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, orx,
                  "ORX movie playback: the orxdec video decoder (its version is ORX's, as orx --version and liborx "
                  "give it; the ORX components it decodes through have their own)",
                  plugin_init, ORX_GST_VERSION, "MIT/X11", "ORX", "ORX project")
