// orxdec: a GStreamer video decoder for ORX movies, on liborx. Where
// downstream takes GL memory (glimagesink, gldownload, the gl* filters), each
// frame only has its LZF unpacked on the processor and is drawn into the
// output's GL texture from its blocks (OrxGLOutput). Otherwise each frame is
// decoded on the processor road straight into the output buffer, in the byte
// order downstream asks for: ARGB, BGRA, RGBA, or the same orders with the
// alpha byte as padding (xRGB, BGRx, RGBx), so no videoconvert is needed.
// Every ORX frame stands alone, so every frame is a key frame and seeking is
// frame-exact.
#include <gst/gl/gl.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <cstdio>

#include "OrxGLOutput.h"

#include "core/Format/ORXHeader.h"
#include "orx/orx.h"

namespace {

// Frames liborx rejects before a damaged stream becomes an error; up to this
// many are dropped with a warning. The "max-errors" property of the base
// class changes it.
constexpr int kDefaultMaxErrors = 3;

struct GstOrxDec {
  GstVideoDecoder parent;
  orx_decoder* decoder;  // one per element; used on the streaming thread
  bool size_proven;      // a frame has passed the check at the caps' size
  bool holding_output;   // an output buffer of the current format is being filled and pushed
  gint width, height;
  GstVideoCodecState* input_state;
  OrxGLOutput* gl;        // the GL road's context and objects
  bool gl_output;         // the output state is GL memory
  bool gl_allowed;        // "gl-memory": offer GL memory where downstream takes it
  uint8_t* texture;       // the texture road's buffer, for the GL road
  size_t texture_size;
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
                            GST_STATIC_CAPS("video/x-gst-fourcc-ORXV, width = (int) [ 1, " G_STRINGIFY(ORX_MAX_SIDE)
                                            " ], height = (int) [ 1, " G_STRINGIFY(ORX_MAX_SIDE) " ]; "
                                            "video/x-orx, width = (int) [ 1, " G_STRINGIFY(ORX_MAX_SIDE)
                                            " ], height = (int) [ 1, " G_STRINGIFY(ORX_MAX_SIDE) " ]"));

// The byte orders liborx writes, and the padded orders that are the same
// bytes with alpha in the padding. ARGB first: liborx's own order (the
// others cost a pass over the pixels), taken when downstream takes any.
struct OutputFormat {
  GstVideoFormat gst;
  orx_pixel_format orx;
};
constexpr OutputFormat kFormats[] = {
    {GST_VIDEO_FORMAT_ARGB, ORX_PIXEL_ARGB}, {GST_VIDEO_FORMAT_BGRA, ORX_PIXEL_BGRA},
    {GST_VIDEO_FORMAT_RGBA, ORX_PIXEL_RGBA}, {GST_VIDEO_FORMAT_xRGB, ORX_PIXEL_ARGB},
    {GST_VIDEO_FORMAT_BGRx, ORX_PIXEL_BGRA}, {GST_VIDEO_FORMAT_RGBx, ORX_PIXEL_RGBA},
};

GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE_WITH_FEATURES(GST_CAPS_FEATURE_MEMORY_GL_MEMORY, "RGBA") ", texture-target = "
                    "(string) 2D; " GST_VIDEO_CAPS_MAKE("{ ARGB, BGRA, RGBA, xRGB, BGRx, RGBx }")));

G_DEFINE_TYPE(GstOrxDec, gst_orx_dec, GST_TYPE_VIDEO_DECODER)

// liborx's byte order for an output format; 0 for one the element does not offer.
int OrxOrder(GstVideoFormat format) {
  for (const OutputFormat& f : kFormats)
    if (f.gst == format) return f.orx;
  return 0;
}

void gst_orx_dec_init(GstOrxDec* self) {
  GstVideoDecoder* dec = GST_VIDEO_DECODER(self);
  gst_video_decoder_set_packetized(dec, TRUE);
  gst_video_decoder_set_needs_format(dec, TRUE);
  gst_video_decoder_set_max_errors(dec, kDefaultMaxErrors);
  GST_PAD_SET_ACCEPT_TEMPLATE(GST_VIDEO_DECODER_SINK_PAD(self));
  self->decoder = nullptr;
  self->size_proven = false;
  self->holding_output = false;
  self->width = self->height = 0;
  self->input_state = nullptr;
  self->gl = OrxGLOutputNew();
  self->gl_output = false;
  self->gl_allowed = true;
  self->texture = nullptr;
  self->texture_size = 0;
}

gboolean gst_orx_dec_start(GstVideoDecoder* dec) {
  GstOrxDec* self = GST_ORX_DEC(dec);
  if (self->decoder != nullptr) return TRUE;
  const orx_error e = orx_decoder_create(&self->decoder);
  if (e != ORX_OK) {
    self->decoder = nullptr;
    GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("Cannot make the ORX decoder"), ("%s", orx_error_string(e)));
    return FALSE;
  }
  return TRUE;
}

gboolean gst_orx_dec_stop(GstVideoDecoder* dec) {
  GstOrxDec* self = GST_ORX_DEC(dec);
  orx_decoder_destroy(self->decoder);
  self->decoder = nullptr;
  self->size_proven = false;
  g_clear_pointer(&self->input_state, gst_video_codec_state_unref);
  OrxGLOutputReset(self->gl);
  self->gl_output = false;
  return TRUE;
}

// Whether downstream takes format at the stream's size in system memory.
bool Takes(GstCaps* peer, GstVideoFormat format, int width, int height) {
  GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, gst_video_format_to_string(format),
                                      "width", G_TYPE_INT, width, "height", G_TYPE_INT, height, nullptr);
  const bool takes = gst_caps_can_intersect(caps, peer);
  gst_caps_unref(caps);
  return takes;
}

// The output format: the first of ours that downstream names, in its own
// order of preference, else the first of ours it takes (ARGB where it takes
// anything); GST_VIDEO_FORMAT_UNKNOWN when it takes none.
GstVideoFormat ChooseFormat(GstOrxDec* self) {
  GstCaps* peer = gst_pad_peer_query_caps(GST_VIDEO_DECODER_SRC_PAD(self), nullptr);
  if (peer == nullptr) return kFormats[0].gst;
  GstVideoFormat chosen = GST_VIDEO_FORMAT_UNKNOWN;
  auto consider = [&](const GValue* value) {
    if (chosen != GST_VIDEO_FORMAT_UNKNOWN || value == nullptr || !G_VALUE_HOLDS_STRING(value)) return;
    const GstVideoFormat f = gst_video_format_from_string(g_value_get_string(value));
    if (OrxOrder(f) != 0 && Takes(peer, f, self->width, self->height)) chosen = f;
  };
  if (!gst_caps_is_any(peer)) {
    for (guint i = 0; i < gst_caps_get_size(peer) && chosen == GST_VIDEO_FORMAT_UNKNOWN; ++i) {
      const GValue* formats = gst_structure_get_value(gst_caps_get_structure(peer, i), "format");
      if (formats != nullptr && GST_VALUE_HOLDS_LIST(formats)) {
        for (guint j = 0; j < gst_value_list_get_size(formats); ++j) consider(gst_value_list_get_value(formats, j));
      } else {
        consider(formats);
      }
    }
  }
  for (const OutputFormat& f : kFormats)
    if (chosen == GST_VIDEO_FORMAT_UNKNOWN && Takes(peer, f.gst, self->width, self->height)) chosen = f.gst;
  gst_caps_unref(peer);
  return chosen;
}

// Whether downstream takes RGBA in GL memory at the stream's size (and the
// "gl-memory" property allows it).
bool TakesGLMemory(GstOrxDec* self) {
  GST_OBJECT_LOCK(self);
  const bool allowed = self->gl_allowed;
  GST_OBJECT_UNLOCK(self);
  if (!allowed) return false;
  GstCaps* peer = gst_pad_peer_query_caps(GST_VIDEO_DECODER_SRC_PAD(self), nullptr);
  if (peer == nullptr || gst_caps_is_any(peer)) {
    if (peer != nullptr) gst_caps_unref(peer);
    return false;
  }
  GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "RGBA", "width", G_TYPE_INT,
                                      self->width, "height", G_TYPE_INT, self->height, "texture-target",
                                      G_TYPE_STRING, "2D", nullptr);
  gst_caps_set_features(caps, 0, gst_caps_features_new(GST_CAPS_FEATURE_MEMORY_GL_MEMORY, nullptr));
  const bool takes = gst_caps_can_intersect(caps, peer);
  gst_caps_unref(caps);
  gst_caps_unref(peer);
  return takes;
}

// An output state's caps for GL memory: RGBA textures of target 2D.
void MarkGLMemory(GstVideoCodecState* state) {
  if (state->caps != nullptr) gst_caps_unref(state->caps);
  state->caps = gst_video_info_to_caps(&state->info);
  gst_caps_set_features(state->caps, 0, gst_caps_features_new(GST_CAPS_FEATURE_MEMORY_GL_MEMORY, nullptr));
  gst_caps_set_simple(state->caps, "texture-target", G_TYPE_STRING, "2D", nullptr);
}

// Called by the base class with the stream lock held: on new input caps and
// when downstream asks to reconfigure. Chooses the format again and makes a
// new output state when it or the input changed.
//
// The base class also asks again just before it pushes a frame. A buffer
// already decoded holds the bytes of the format it was allocated for, so a
// change then would label them with the wrong order: the question waits for
// the next frame's allocation instead.
gboolean gst_orx_dec_negotiate(GstVideoDecoder* dec) {
  GstOrxDec* self = GST_ORX_DEC(dec);
  if (self->input_state == nullptr) return FALSE;
  if (self->holding_output) {
    gst_pad_mark_reconfigure(GST_VIDEO_DECODER_SRC_PAD(dec));
    return TRUE;
  }
  // GL memory where downstream takes it and a GL context can be had.
  const bool gl = TakesGLMemory(self) && OrxGLOutputEnsureContext(self->gl, GST_ELEMENT(self));
  const GstVideoFormat format = gl ? GST_VIDEO_FORMAT_RGBA : ChooseFormat(self);
  if (format == GST_VIDEO_FORMAT_UNKNOWN) {
    GST_WARNING_OBJECT(self, "downstream takes none of the formats orxdec offers");
    return FALSE;
  }
  GstVideoCodecState* current = gst_video_decoder_get_output_state(dec);
  const bool keep = current != nullptr && GST_VIDEO_INFO_FORMAT(&current->info) == format &&
                    GST_VIDEO_INFO_WIDTH(&current->info) == self->width &&
                    GST_VIDEO_INFO_HEIGHT(&current->info) == self->height && self->gl_output == gl;
  if (current != nullptr) gst_video_codec_state_unref(current);
  if (!keep) {
    GstVideoCodecState* state =
        gst_video_decoder_set_output_state(dec, format, guint(self->width), guint(self->height), self->input_state);
    if (state == nullptr) return FALSE;
    if (gl) MarkGLMemory(state);
    gst_video_codec_state_unref(state);
    self->gl_output = gl;
    GST_DEBUG_OBJECT(self, "output %s %dx%d%s", gst_video_format_to_string(format), self->width, self->height,
                     gl ? " in GL memory" : "");
  }
  return GST_VIDEO_DECODER_CLASS(gst_orx_dec_parent_class)->negotiate(dec);
}

gboolean gst_orx_dec_set_format(GstVideoDecoder* dec, GstVideoCodecState* state) {
  GstOrxDec* self = GST_ORX_DEC(dec);
  const GstStructure* s = gst_caps_get_structure(state->caps, 0);
  gint width = 0, height = 0;
  if (!gst_structure_get_int(s, "width", &width) || !gst_structure_get_int(s, "height", &height) || width <= 0 ||
      height <= 0 || width > ORX_MAX_SIDE || height > ORX_MAX_SIDE) {
    GST_ELEMENT_ERROR(self, STREAM, FORMAT, ("The ORX stream has no valid frame size"),
                      ("caps %" GST_PTR_FORMAT, state->caps));
    return FALSE;
  }
  if (self->decoder == nullptr && !gst_orx_dec_start(dec)) return FALSE;
  // The next frame is checked against this size before an output buffer is
  // allocated for it: a size the frames cannot back must cost nothing.
  self->size_proven = false;
  self->width = width;
  self->height = height;
  g_clear_pointer(&self->input_state, gst_video_codec_state_unref);
  self->input_state = gst_video_codec_state_ref(state);
  // A fresh output state, with the input's rate and aspect.
  GstVideoCodecState* previous = gst_video_decoder_get_output_state(dec);
  if (previous != nullptr) {
    const GstVideoFormat format = GST_VIDEO_INFO_FORMAT(&previous->info);
    gst_video_codec_state_unref(previous);
    GstVideoCodecState* fresh = gst_video_decoder_set_output_state(dec, format, guint(width), guint(height), state);
    if (fresh != nullptr && self->gl_output) MarkGLMemory(fresh);
    if (fresh != nullptr) gst_video_codec_state_unref(fresh);
  }
  return gst_video_decoder_negotiate(dec);
}

// Downstream's pool as the base class configured it, with video metadata on
// its buffers where downstream reads it, so that a pool with padded rows can
// be decoded into.
gboolean gst_orx_dec_decide_allocation(GstVideoDecoder* dec, GstQuery* query) {
  GstOrxDec* self = GST_ORX_DEC(dec);
  if (!GST_VIDEO_DECODER_CLASS(gst_orx_dec_parent_class)->decide_allocation(dec, query)) return FALSE;
  if (self->gl_output) {
    // A GL buffer pool: downstream's when it offers one, else one of ours.
    GstCaps* caps = nullptr;
    gst_query_parse_allocation(query, &caps, nullptr);
    GstVideoInfo info;
    if (caps == nullptr || !gst_video_info_from_caps(&info, caps)) return FALSE;
    GstBufferPool* pool = nullptr;
    guint size = guint(info.size), min = 0, max = 0;
    const bool have = gst_query_get_n_allocation_pools(query) > 0;
    if (have) gst_query_parse_nth_allocation_pool(query, 0, &pool, &size, &min, &max);
    if (pool == nullptr || !GST_IS_GL_BUFFER_POOL(pool)) {
      if (pool != nullptr) gst_object_unref(pool);
      pool = gst_gl_buffer_pool_new(OrxGLOutputContext(self->gl));
      size = guint(info.size);
    }
    GstStructure* config = gst_buffer_pool_get_config(pool);
    gst_buffer_pool_config_set_params(config, caps, size, min, max);
    gst_buffer_pool_config_add_option(config, GST_BUFFER_POOL_OPTION_VIDEO_META);
    if (gst_query_find_allocation_meta(query, GST_GL_SYNC_META_API_TYPE, nullptr))
      gst_buffer_pool_config_add_option(config, GST_BUFFER_POOL_OPTION_GL_SYNC_META);
    const bool set = gst_buffer_pool_set_config(pool, config);
    if (have)
      gst_query_set_nth_allocation_pool(query, 0, pool, size, min, max);
    else
      gst_query_add_allocation_pool(query, pool, size, min, max);
    gst_object_unref(pool);
    return set;
  }
  if (gst_query_get_n_allocation_pools(query) == 0) return TRUE;
  GstBufferPool* pool = nullptr;
  guint size = 0, min = 0, max = 0;
  gst_query_parse_nth_allocation_pool(query, 0, &pool, &size, &min, &max);
  if (pool == nullptr) return TRUE;
  if (gst_query_find_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr) &&
      gst_buffer_pool_has_option(pool, GST_BUFFER_POOL_OPTION_VIDEO_META)) {
    GstStructure* config = gst_buffer_pool_get_config(pool);
    gst_buffer_pool_config_add_option(config, GST_BUFFER_POOL_OPTION_VIDEO_META);
    gst_buffer_pool_set_config(pool, config);
  }
  gst_object_unref(pool);
  return TRUE;
}

// Why a frame was refused, in words: the frame check's reason for a frame
// that is not one of this size, else liborx's.
void DescribeRefusal(GstOrxDec* self, const GstMapInfo& in, orx_error e, char* text, size_t size) {
  const ORXFrameError problem = CheckORXFrameData(in.data, int64_t(in.size), self->width, self->height, nullptr);
  if (problem != ORXFrameError::none)
    std::snprintf(text, size, "not an ORX frame of %dx%d: %s", self->width, self->height,
                  ORXFrameErrorMessage(problem));
  else
    std::snprintf(text, size, "%s", orx_error_string(e));
}

// A frame liborx refused (or would refuse): dropped with a bus warning
// within the base class's error tolerance, an error beyond it.
GstFlowReturn DropDamaged(GstOrxDec* self, GstVideoCodecFrame* frame, const char* error) {
  GstVideoDecoder* dec = GST_VIDEO_DECODER(self);
  GstFlowReturn ret = GST_FLOW_OK;
  GST_VIDEO_DECODER_ERROR(self, 1, STREAM, DECODE, ("ORX frame %u: %s", frame->system_frame_number, error),
                          ("%s (%" G_GSIZE_FORMAT " bytes at %" GST_TIME_FORMAT ")", error,
                           gst_buffer_get_size(frame->input_buffer), GST_TIME_ARGS(frame->pts)),
                          ret);
  // Within the tolerance the base class only logs; the application hears
  // of the dropped frame through a warning on the bus.
  if (ret == GST_FLOW_OK)
    GST_ELEMENT_WARNING(self, STREAM, DECODE, ("ORX frame %u dropped: %s", frame->system_frame_number, error),
                        ("%s", error));
  gst_video_decoder_drop_frame(dec, frame);
  return ret;
}

// The codec's name in the stream's tags, which players and
// gst-discoverer-1.0 show (qtdemux gives no name for a codec it does not
// know): ORX, with the first frame's variant and packing.
void TagCodec(GstOrxDec* self, const orx_frame_props& props) {
  const char* variant = "ORX";
  switch (props.variant) {
    case ORX_VARIANT_DXT1: variant = "DXT1"; break;
    case ORX_VARIANT_DXT5: variant = "DXT5"; break;
    case ORX_VARIANT_DXT24: variant = "DXT24"; break;
    case ORX_VARIANT_DXT24_ALPHA: variant = "DXT24+alpha"; break;
  }
  char name[64];
  std::snprintf(name, sizeof name, "ORX (%s%s)", variant, props.is_lzf ? ", LZF" : "");
  GstTagList* tags = gst_tag_list_new(GST_TAG_VIDEO_CODEC, name, nullptr);
  gst_video_decoder_merge_tags(GST_VIDEO_DECODER(self), tags, GST_TAG_MERGE_REPLACE);
  gst_tag_list_unref(tags);
}

// Decodes the mapped frame into the output buffer the base class allocated,
// in its output state's format, rows as the buffer's video metadata or the
// state's info lays them out.
GstFlowReturn DecodeInto(GstOrxDec* self, GstVideoCodecFrame* frame, const GstMapInfo& in, orx_error* result) {
  GstVideoDecoder* dec = GST_VIDEO_DECODER(self);
  GstVideoCodecState* state = gst_video_decoder_get_output_state(dec);
  if (state == nullptr) {
    GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, (nullptr), ("no output format"));
    return GST_FLOW_NOT_NEGOTIATED;
  }
  const int order = OrxOrder(GST_VIDEO_INFO_FORMAT(&state->info));
  GstVideoFrame out;
  const bool mapped = order != 0 && gst_video_frame_map(&out, &state->info, frame->output_buffer, GST_MAP_WRITE);
  gst_video_codec_state_unref(state);
  if (!mapped) {
    GST_ELEMENT_ERROR(self, RESOURCE, WRITE, (nullptr), ("cannot map the output buffer"));
    return GST_FLOW_ERROR;
  }
  auto* dst = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&out, 0));
  const gint stride = GST_VIDEO_FRAME_PLANE_STRIDE(&out, 0);
  // The plane lies inside its memory's mapping; what follows its start is
  // what the decoder may write.
  const size_t offset = size_t(dst - static_cast<uint8_t*>(out.map[0].data));
  const size_t room = out.map[0].size > offset ? out.map[0].size - offset : 0;
  if (stride < self->width * 4) {
    gst_video_frame_unmap(&out);
    GST_ELEMENT_ERROR(self, STREAM, FORMAT, (nullptr), ("output rows of %d bytes cannot hold %d pixels", stride,
                                                        self->width));
    return GST_FLOW_ERROR;
  }
  *result = orx_decode_rgba(self->decoder, in.data, in.size, self->width, self->height, orx_pixel_format(order), dst,
                            room, size_t(stride));
  gst_video_frame_unmap(&out);
  return GST_FLOW_OK;
}

// The GL road: the frame through the texture road (LZF unpacked, DXT24 kept
// as blocks), drawn into the output buffer's GL texture. Where the context
// cannot draw it, the frame is decoded on the processor into the same
// buffer, which GL memory takes as an upload.
GstFlowReturn DrawInto(GstOrxDec* self, GstVideoCodecFrame* frame, const GstMapInfo& in, orx_error* result) {
  size_t need = 0;
  *result = orx_frame_texture_size_with_flags(in.data, in.size, self->width, self->height, ORX_TEXTURE_DXT24_BLOCKS,
                                              &need);
  if (*result != ORX_OK) return GST_FLOW_OK;
  if (need > self->texture_size) {
    auto* grown = static_cast<uint8_t*>(g_try_realloc(self->texture, need));
    if (grown == nullptr) {
      *result = ORX_ERROR_OUT_OF_MEMORY;
      return GST_FLOW_OK;
    }
    self->texture = grown;
    self->texture_size = need;
  }
  orx_texture tex{};
  *result = orx_frame_texture_with_flags(self->decoder, in.data, in.size, self->width, self->height,
                                         ORX_TEXTURE_DXT24_BLOCKS, self->texture, self->texture_size, &tex);
  if (*result != ORX_OK) return GST_FLOW_OK;
  // The frame passed the texture road's check: its header can be read.
  const bool alpha = ReadORXHeader(in.data).hasAlpha != 0;
  GstMemory* mem = gst_buffer_peek_memory(frame->output_buffer, 0);
  GstMapInfo target;
  const char* why = "the output buffer cannot be mapped for GL";
  bool drawn = false;
  if (gst_memory_map(mem, &target, GstMapFlags(GST_MAP_WRITE | GST_MAP_GL))) {
    drawn = OrxGLOutputDraw(self->gl, tex, alpha, frame->output_buffer, &why);
    gst_memory_unmap(mem, &target);
  }
  if (drawn) {
    if (GstGLSyncMeta* sync = gst_buffer_get_gl_sync_meta(frame->output_buffer))
      gst_gl_sync_meta_set_sync_point(sync, OrxGLOutputContext(self->gl));
    return GST_FLOW_OK;
  }
  GST_WARNING_OBJECT(self, "frame %u decoded on the processor: %s", frame->system_frame_number, why);
  return DecodeInto(self, frame, in, result);
}

// Marks the output buffer in hand for the scope's length.
struct HoldOutput {
  explicit HoldOutput(GstOrxDec* self) : self_(self) { self_->holding_output = true; }
  ~HoldOutput() { self_->holding_output = false; }
  HoldOutput(const HoldOutput&) = delete;
  HoldOutput& operator=(const HoldOutput&) = delete;
  GstOrxDec* self_;
};

GstFlowReturn gst_orx_dec_handle_frame(GstVideoDecoder* dec, GstVideoCodecFrame* frame) {
  GstOrxDec* self = GST_ORX_DEC(dec);
  if (self->decoder == nullptr || self->input_state == nullptr) {
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
  char refusal[160];
  if (!self->size_proven) {
    // The first frame at this size is checked, packed data proven, before
    // an output buffer is allocated for the caps' size.
    orx_frame_props props;
    const orx_error e = orx_frame_info(in.data, in.size, self->width, self->height, &props);
    if (e != ORX_OK) {
      DescribeRefusal(self, in, e, refusal, sizeof refusal);
      gst_buffer_unmap(frame->input_buffer, &in);
      return DropDamaged(self, frame, refusal);
    }
    self->size_proven = true;
    TagCodec(self, props);
  }
  GstFlowReturn ret = gst_video_decoder_allocate_output_frame(dec, frame);
  orx_error decoded = ORX_OK;
  if (ret == GST_FLOW_OK && self->gl_output) ret = DrawInto(self, frame, in, &decoded);
  else if (ret == GST_FLOW_OK) ret = DecodeInto(self, frame, in, &decoded);
  if (ret != GST_FLOW_OK) {
    gst_buffer_unmap(frame->input_buffer, &in);
    gst_video_decoder_drop_frame(dec, frame);
    return ret;
  }
  // From here until the frame is pushed or dropped, the output format holds.
  HoldOutput hold(self);
  if (decoded != ORX_OK) {
    DescribeRefusal(self, in, decoded, refusal, sizeof refusal);
    gst_buffer_unmap(frame->input_buffer, &in);
    // A frame that is fine but would not fit the output buffer is the
    // element's fault or downstream's, never the stream's.
    if (decoded == ORX_ERROR_INVALID_ARGUMENT || decoded == ORX_ERROR_BUFFER_TOO_SMALL) {
      GST_ELEMENT_ERROR(self, STREAM, DECODE, ("Cannot decode into the output buffer"), ("%s", refusal));
      gst_video_decoder_drop_frame(dec, frame);
      return GST_FLOW_ERROR;
    }
    return DropDamaged(self, frame, refusal);
  }
  gst_buffer_unmap(frame->input_buffer, &in);
  return gst_video_decoder_finish_frame(dec, frame);
}

void gst_orx_dec_finalize(GObject* object) {
  GstOrxDec* self = GST_ORX_DEC(object);
  orx_decoder_destroy(self->decoder);
  self->decoder = nullptr;
  g_clear_pointer(&self->input_state, gst_video_codec_state_unref);
  OrxGLOutputFree(self->gl);
  self->gl = nullptr;
  g_free(self->texture);
  G_OBJECT_CLASS(gst_orx_dec_parent_class)->finalize(object);
}

// The GL context the application or a neighbour hands over, and the
// context queries of neighbours asking for ours.
void gst_orx_dec_set_context(GstElement* element, GstContext* context) {
  OrxGLOutputSetContext(GST_ORX_DEC(element)->gl, element, context);
  GST_ELEMENT_CLASS(gst_orx_dec_parent_class)->set_context(element, context);
}

gboolean gst_orx_dec_src_query(GstVideoDecoder* dec, GstQuery* query) {
  if (OrxGLOutputHandleQuery(GST_ORX_DEC(dec)->gl, GST_ELEMENT(dec), query)) return TRUE;
  return GST_VIDEO_DECODER_CLASS(gst_orx_dec_parent_class)->src_query(dec, query);
}

// "gl-memory": whether GL memory is offered where downstream takes it (on
// by default; a change counts from the next negotiation). "gl-objects": the
// GL objects the element holds now (textures, buffers, framebuffer,
// programs), 0 in system memory and after it stops.
enum { kPropGLMemory = 1, kPropGLObjects };

void gst_orx_dec_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  GstOrxDec* self = GST_ORX_DEC(object);
  if (id == kPropGLMemory) {
    GST_OBJECT_LOCK(self);
    g_value_set_boolean(value, self->gl_allowed);
    GST_OBJECT_UNLOCK(self);
  } else if (id == kPropGLObjects) {
    g_value_set_int(value, OrxGLOutputObjects(self->gl));
  } else {
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
  }
}

void gst_orx_dec_set_property(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  GstOrxDec* self = GST_ORX_DEC(object);
  if (id == kPropGLMemory) {
    GST_OBJECT_LOCK(self);
    self->gl_allowed = g_value_get_boolean(value);
    GST_OBJECT_UNLOCK(self);
  } else {
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
  }
}

void gst_orx_dec_class_init(GstOrxDecClass* klass) {
  GObjectClass* gobject_class = G_OBJECT_CLASS(klass);
  GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
  GstVideoDecoderClass* dec_class = GST_VIDEO_DECODER_CLASS(klass);
  gobject_class->finalize = gst_orx_dec_finalize;
  gobject_class->get_property = gst_orx_dec_get_property;
  gobject_class->set_property = gst_orx_dec_set_property;
  g_object_class_install_property(
      gobject_class, kPropGLMemory,
      g_param_spec_boolean("gl-memory", "GL memory",
                           "Draw frames into GL memory where downstream takes it (the processor only unpacks)", TRUE,
                           GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
  g_object_class_install_property(
      gobject_class, kPropGLObjects,
      g_param_spec_int("gl-objects", "GL objects", "GL objects the element holds now (its graphics road's)", 0,
                       G_MAXINT, 0, GParamFlags(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));
  gst_element_class_add_static_pad_template(element_class, &sink_template);
  gst_element_class_add_static_pad_template(element_class, &src_template);
  gst_element_class_set_static_metadata(element_class, "ORX video decoder", "Codec/Decoder/Video",
                                        "Decodes ORX frames (DXT1, DXT5, DXT24, with or without LZF) through "
                                        "liborx into 8-bit RGB orders with alpha or padding",
                                        "ORX project");
  dec_class->start = GST_DEBUG_FUNCPTR(gst_orx_dec_start);
  dec_class->stop = GST_DEBUG_FUNCPTR(gst_orx_dec_stop);
  dec_class->set_format = GST_DEBUG_FUNCPTR(gst_orx_dec_set_format);
  dec_class->negotiate = GST_DEBUG_FUNCPTR(gst_orx_dec_negotiate);
  dec_class->decide_allocation = GST_DEBUG_FUNCPTR(gst_orx_dec_decide_allocation);
  dec_class->handle_frame = GST_DEBUG_FUNCPTR(gst_orx_dec_handle_frame);
  dec_class->src_query = GST_DEBUG_FUNCPTR(gst_orx_dec_src_query);
  element_class->set_context = GST_DEBUG_FUNCPTR(gst_orx_dec_set_context);
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
// The version is the project's, as orx --version and liborx report it.
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, orx,
                  "ORX movie playback: the orxdec video decoder (its version is ORX's, as orx --version and liborx "
                  "give it)",
                  plugin_init, ORX_GST_VERSION, "MIT/X11", "ORX", "ORX project")
