/*
 * liborx: ORX frames and movies for programs that play or make them
 * themselves, without QuickTime.
 *
 * - Buffers belong to the caller. Every call that writes output has a size
 *   query beside it, and every output buffer comes with its size.
 * - Every call that can fail returns an orx_error; orx_error_string names it.
 * - Handles (orx_decoder, orx_encoder, orx_movie_reader, orx_movie_writer)
 *   keep working storage between calls. Calls on one handle may come from
 *   any thread; they are served one at a time. Different handles are
 *   independent.
 * - Threads belong to the caller: each encoder and decoder runs its work on
 *   the calling thread, on worker threads of its own (started on first use,
 *   stopped by its destroy call; never shared with another handle), or
 *   through the caller's own job system (orx_run_jobs_fn), as its options
 *   say.
 * - Pixels are 8 bits a channel, rows top to bottom, `stride` bytes apart.
 *
 * See docs/API.md for each call, its errors and the texture recipe for GL.
 */
#ifndef ORX_ORX_H
#define ORX_ORX_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ORX_VERSION_MAJOR 1
#define ORX_VERSION_MINOR 1
#define ORX_VERSION_PATCH 0
/* major * 10000 + minor * 100 + patch, as orx_version() returns it. */
#define ORX_VERSION_NUMBER (ORX_VERSION_MAJOR * 10000 + ORX_VERSION_MINOR * 100 + ORX_VERSION_PATCH)

/* The library's version number (as ORX_VERSION_NUMBER of the headers it was
 * built with) and its text ("1.1.0"): the ORX project's version, which
 * orx --version and the GStreamer plug-in report too. The codec components
 * report a version of their own ("ORX components 1.1"). */
int orx_version(void);
const char* orx_version_string(void);

/* ---- Errors ------------------------------------------------------------- */

typedef enum orx_error {
  ORX_OK = 0,
  ORX_ERROR_INVALID_ARGUMENT = 1, /* a null pointer, a size or value out of range */
  ORX_ERROR_BUFFER_TOO_SMALL = 2, /* the output buffer is smaller than the size query gives */
  ORX_ERROR_OUT_OF_MEMORY = 3,    /* working storage could not be allocated */
  ORX_ERROR_BAD_FRAME = 4,        /* the bytes are not an ORX frame of the given size */
  ORX_ERROR_IO = 5,               /* a file could not be opened, read or written */
  ORX_ERROR_BAD_MOVIE = 6,        /* not a movie, no ORX video track, or damaged tables */
  ORX_ERROR_TRUNCATED = 7,        /* the movie file ends inside a frame it lists */
  ORX_ERROR_EXISTS = 8,           /* the movie's path is taken and replacing was not asked */
  ORX_ERROR_NO_FRAMES = 9,        /* a movie finished without any frame */
  ORX_ERROR_NO_SOUND = 10         /* the movie has no sound track the library reads (ORX_1.3) */
} orx_error;

/* A short English description ("the bytes are not an ORX frame"); never
 * null, also for values outside the enum. */
const char* orx_error_string(orx_error error);

/* ---- Frames ------------------------------------------------------------- */

/* The four block variants a frame may hold. */
typedef enum orx_variant {
  ORX_VARIANT_DXT1 = 1,       /* standard DXT1 blocks, 8 bytes, no alpha */
  ORX_VARIANT_DXT5 = 2,       /* standard DXT5 blocks, 16 bytes, with alpha */
  ORX_VARIANT_DXT24 = 3,      /* DXT24 blocks, 10 bytes: 8-bit end points */
  ORX_VARIANT_DXT24_ALPHA = 4 /* DXT24 with a DXT5 alpha block, 18 bytes */
} orx_variant;

/* What orx_frame_info tells about a frame. A frame does not store its
 * picture's size: the caller gives it (a movie's track holds it). */
typedef struct orx_frame_props {
  orx_variant variant;
  int32_t width, height;       /* the picture, as given */
  int32_t has_alpha;           /* 1 for DXT5 and DXT24 with alpha */
  int32_t is_lzf;              /* 1 when the block data is packed with LZF */
  int64_t frame_size;          /* bytes the frame occupies: header and sections */
  int64_t data_size;           /* block data as stored (packed or raw) */
  int64_t block_data_size;     /* block data unpacked: whole 4x4 blocks */
  int64_t layer_size;          /* the optional second section, unpacked; 0 when absent */
} orx_frame_props;

/* The largest picture a frame holds, each way. */
#define ORX_MAX_SIDE 32767

/* Checks the frame in the first frame_size bytes at frame for a picture of
 * width x height (0 to ORX_MAX_SIDE each), as the decompressor checks it before it
 * draws: every section inside the bytes, a known variant, block data that
 * holds or unpacks to exactly every block, a packed layer that unpacks to
 * its size. Packed data is proven without memory, so a frame that passes
 * decodes. Fills *props (may be null). ORX_ERROR_BAD_FRAME for bytes that
 * fail; ORX_ERROR_INVALID_ARGUMENT for a null frame or a size out of
 * range. */
orx_error orx_frame_info(const void* frame, size_t frame_size, int width, int height, orx_frame_props* props);

/* Byte orders of 8-bit pixels in memory. */
typedef enum orx_pixel_format {
  ORX_PIXEL_RGBA = 1,
  ORX_PIXEL_BGRA = 2,
  ORX_PIXEL_ARGB = 3 /* QuickTime's 32-bit ARGB, the components' own */
} orx_pixel_format;

/* Smallest buffer for width x height pixels, rows stride bytes apart:
 * stride x (height - 1) + 4 x width; 0 when stride < 4 x width or a size is
 * out of range. */
size_t orx_pixels_size(int width, int height, size_t stride);

/* One of a list of independent jobs: job(job_context, index). */
typedef void (*orx_job_fn)(void* job_context, int index);

/* A caller's job system: runs job(job_context, i) exactly once for each i in
 * 0 .. count - 1, on any threads and in any order, and returns when all are
 * done. user is the run_jobs_user given with it. It must not call back into
 * the handle that called it. */
typedef void (*orx_run_jobs_fn)(void* user, int count, orx_job_fn job, void* job_context);

/* A decoder keeps unpacked block data between frames, so decoding a stream
 * allocates nothing per frame. orx_decoder_create makes one with all options
 * zero: worker threads of its own, one a processor core. */
typedef struct orx_decoder orx_decoder;
orx_error orx_decoder_create(orx_decoder** decoder);
void orx_decoder_destroy(orx_decoder* decoder); /* accepts null; stops the decoder's threads */

/* How a decoder runs a frame. Zero every field before setting those you
 * use (e.g. orx_decoder_options o = {0};): fields added later take the
 * place of reserved ones, and their zero keeps today's behaviour. */
typedef struct orx_decoder_options {
  /* Without run_jobs: 1 decodes on the calling thread only; 2 to 32 on the
   * calling thread and threads - 1 workers of the decoder's own; 0 one
   * thread a processor core (at most 32). With run_jobs: the number of bands
   * a frame is cut into (0: one a processor core). Frames under a megapixel
   * are never cut. */
  int32_t threads;
  int32_t reserved0;        /* 0 */
  orx_run_jobs_fn run_jobs; /* null: the decoder's own threads */
  void* run_jobs_user;
  uint64_t reserved[4];     /* 0 */
} orx_decoder_options;

/* A decoder with these options. ORX_ERROR_INVALID_ARGUMENT for threads
 * outside 0 .. 32 or a reserved field not zero. The pixels do not depend on
 * the options. */
orx_error orx_decoder_create_with_options(const orx_decoder_options* options, orx_decoder** decoder);

/* Decodes a frame into dest (dest_size bytes, rows stride bytes apart, at
 * least orx_pixels_size(width, height, stride)) in the given byte order. The
 * pixels are the decompressor component's on its processor road. Writes only
 * the picture's width x height pixels. On an error dest may hold part of a
 * picture. */
orx_error orx_decode_rgba(orx_decoder* decoder, const void* frame, size_t frame_size, int width, int height,
                          orx_pixel_format format, void* dest, size_t dest_size, size_t stride);

/* GL values named by orx_texture, so that a program need not include GL
 * headers to compare them. */
#define ORX_GL_COMPRESSED_RGBA_S3TC_DXT1_EXT 0x83F1
#define ORX_GL_COMPRESSED_RGBA_S3TC_DXT5_EXT 0x83F3
#define ORX_GL_RGBA8 0x8058
#define ORX_GL_RGBA 0x1908
#define ORX_GL_UNSIGNED_BYTE 0x1401

/* A frame ready for a GL texture of tex_width x tex_height, the picture
 * rounded up to whole 4x4 blocks; the picture is its top-left width x height,
 * first row first (upside down in GL's terms: flip t when drawing).
 * - compressed = 1 (DXT1, DXT5): data holds size bytes of S3TC blocks for
 *   glCompressedTexImage2D(target, 0, gl_internal_format, tex_width,
 *   tex_height, 0, size, data).
 * - compressed = 0 (DXT24): data holds RGBA pixels, tex_width x 4 bytes a row,
 *   for glTexImage2D(target, 0, gl_internal_format, tex_width, tex_height, 0,
 *   gl_format, gl_type, data).
 * data points into the frame for raw DXT1/DXT5 frames (no copy) and into the
 * caller's buffer otherwise; it is valid while both are. */
typedef struct orx_texture {
  int32_t compressed;
  uint32_t gl_internal_format; /* ORX_GL_COMPRESSED_RGBA_S3TC_DXT1/5_EXT or ORX_GL_RGBA8 */
  uint32_t gl_format;          /* ORX_GL_RGBA when not compressed, else 0 */
  uint32_t gl_type;            /* ORX_GL_UNSIGNED_BYTE when not compressed, else 0 */
  int32_t width, height;       /* the picture */
  int32_t tex_width, tex_height;
  size_t size;                 /* bytes at data */
  const void* data;
} orx_texture;

/* Bytes of buffer that orx_frame_texture needs for this frame (0 for a raw
 * DXT1/DXT5 frame, which it hands over in place). Checks the frame as
 * orx_frame_info does. */
orx_error orx_frame_texture_size(const void* frame, size_t frame_size, int width, int height, size_t* buffer_size);

/* The texture road: DXT1/DXT5 blocks unpacked from LZF into buffer (or
 * pointed at in the frame when raw), DXT24 decoded to RGBA into buffer. No
 * decode and no copy beyond that. buffer may be null when the size query
 * gave 0. */
orx_error orx_frame_texture(orx_decoder* decoder, const void* frame, size_t frame_size, int width, int height,
                            void* buffer, size_t buffer_size, orx_texture* texture);

/* ---- DXT24 decoded by the graphics processor (ORX_1.2) ---------------------
 * With ORX_TEXTURE_DXT24_BLOCKS, a DXT24 frame is handed over as its blocks,
 * unpacked but not decoded, for a fragment program to decode as it draws
 * (orx_dxt24_fragment_shader): compressed is ORX_TEXTURE_BLOCKS and data
 * holds size bytes for glTexImage2D(target, 0, gl_internal_format, tex_width,
 * tex_height, 0, gl_format, gl_type, data): the frame's block data in order,
 * four bytes a texel of ORX_GL_RGBA8UI, ORX_BLOCK_TEXTURE_WIDTH texels a row,
 * zeros after its end. width and height stay the picture's. A DXT24 frame
 * uploads 10 bytes (18 with alpha) a 16 pixels this way, against 64 as RGBA.
 * DXT1/DXT5 frames are handed over as without the flag. docs/API.md has the
 * recipe. */
#define ORX_TEXTURE_DXT24_BLOCKS 1u
#define ORX_TEXTURE_BLOCKS 2
#define ORX_BLOCK_TEXTURE_WIDTH 2048
#define ORX_GL_RGBA8UI 0x8D7C
#define ORX_GL_RGBA_INTEGER 0x8D99

/* orx_frame_texture_size and orx_frame_texture with flags (0 or
 * ORX_TEXTURE_DXT24_BLOCKS); ORX_ERROR_INVALID_ARGUMENT for other bits. */
orx_error orx_frame_texture_size_with_flags(const void* frame, size_t frame_size, int width, int height,
                                            uint32_t flags, size_t* buffer_size);
orx_error orx_frame_texture_with_flags(orx_decoder* decoder, const void* frame, size_t frame_size, int width,
                                       int height, uint32_t flags, void* buffer, size_t buffer_size,
                                       orx_texture* texture);

/* The source of a fragment shader that draws a DXT24 picture from the block
 * texture above: glsl_es 0 for "#version 130" (OpenGL 3.0 and later), 1 for
 * "#version 300 es" (OpenGL ES 3.0 and later); NULL for another value. Its
 * interface:
 * - uniform usampler2D orx_blocks: the block texture, read with texelFetch
 *   (its filtering does not matter);
 * - uniform int orx_blocks_across: (width + 3) / 4;
 * - uniform int orx_alpha: 1 for a frame with alpha (orx_frame_props'
 *   has_alpha), whose blocks are 18 bytes, else 0;
 * - in vec2 orx_pixel: the picture's pixel coordinates, x to the right and
 *   y down from the top row (pixel x, y covers [x, x + 1) x [y, y + 1));
 * - out vec4 orx_color: the pixel as orx_decode_rgba decodes it (RGBA, alpha
 *   1.0 without alpha), exact when drawn into 8-bit channels. */
const char* orx_dxt24_fragment_shader(int glsl_es);

/* ---- Encoding ----------------------------------------------------------- */

/* The compressor component's settings. Its "Optimize For" popup sets two of
 * them: Quality is preserve_gradients = 1, skip_lzf = 0; Performance is 0, 0;
 * VovorEvaded is 1, 1. */
typedef struct orx_encode_settings {
  int32_t keep_alpha;         /* "Transparency": DXT5 blocks, whatever preserve_gradients says */
  int32_t preserve_gradients; /* DXT24 blocks rather than DXT1 (without alpha) */
  int32_t skip_lzf;           /* store the block data raw */
  int32_t threads;            /* 1 to 32 threads to encode on; 0 for one a processor core */
} orx_encode_settings;

/* The largest frame orx_encode may write for width x height (1 to ORX_MAX_SIDE)
 * with these settings; 0 for arguments out of range. */
size_t orx_max_encoded_size(int width, int height, const orx_encode_settings* settings);

/* An encoder keeps its settings and working storage between frames. With
 * threads above 1 it starts that many threads less one of its own (the
 * calling thread is the other) on its first frame. */
typedef struct orx_encoder orx_encoder;
orx_error orx_encoder_create(const orx_encode_settings* settings, orx_encoder** encoder);
void orx_encoder_destroy(orx_encoder* encoder); /* accepts null; stops the encoder's threads */

/* An encoder's settings and who runs its work. Zero it before setting the
 * fields you use: fields added later take the place of reserved ones. */
typedef struct orx_encoder_options {
  /* As for orx_encoder_create. With run_jobs, settings.threads is the number
   * of bands a picture is cut into (0: one a processor core); the LZF chunks
   * go to run_jobs too. */
  orx_encode_settings settings;
  orx_run_jobs_fn run_jobs; /* null: the encoder's own threads, as settings.threads says */
  void* run_jobs_user;
  /* Smaller frames for a little error (ORX_1.3): ORX_SMALLER_OFF (0, the
   * compressor component's bytes), LIGHT, MEDIUM or STRONG. With LZF, each
   * block may be re-encoded so that it repeats bytes written just before it,
   * as long as its error stays within the level's budget; any reader plays
   * the frames as before. Without LZF (skip_lzf) it changes nothing. */
  int32_t smaller;
  int32_t reserved32;       /* 0 */
  uint64_t reserved[3];     /* 0 */
} orx_encoder_options;

#define ORX_SMALLER_OFF 0
#define ORX_SMALLER_LIGHT 1
#define ORX_SMALLER_MEDIUM 2 /* within about 0.5 dB of PSNR, about a quarter smaller on photographs */
#define ORX_SMALLER_STRONG 3

/* An encoder with these options; orx_encoder_create(s, e) is this call with
 * settings s and every other field zero. ORX_ERROR_INVALID_ARGUMENT for
 * settings out of range or a reserved field not zero. The frames' bytes do
 * not depend on the threads or the runner. */
orx_error orx_encoder_create_with_options(const orx_encoder_options* options, orx_encoder** encoder);

/* Encodes width x height pixels (rows stride bytes apart, in the given byte
 * order) into dest, which holds dest_size bytes, at least
 * orx_max_encoded_size. *frame_size gets the frame's size. The frame's bytes
 * are the compressor component's for the same pixels and settings. */
orx_error orx_encode(orx_encoder* encoder, const void* pixels, int width, int height, size_t stride,
                     orx_pixel_format format, void* dest, size_t dest_size, size_t* frame_size);

/* ---- Movies ------------------------------------------------------------- */

/* A movie's ORX video track. */
typedef struct orx_movie_props {
  int32_t width, height;
  int32_t frame_count;
  int32_t time_scale;     /* units a second */
  int64_t duration;       /* in units of time_scale */
  size_t max_frame_size;  /* the largest frame: a buffer for every orx_movie_read_frame */
} orx_movie_props;

typedef struct orx_movie_reader orx_movie_reader;

/* Opens the movie at path and chooses its first video track of ORX frames.
 * ORX_ERROR_IO when the file cannot be opened or read, ORX_ERROR_BAD_MOVIE
 * when it is not a movie or has no such track. On failure the reason in
 * words goes to message (message_size bytes with the terminating zero;
 * message may be null). */
orx_error orx_movie_open(const char* path, orx_movie_reader** reader, char* message, size_t message_size);
void orx_movie_close(orx_movie_reader* reader); /* accepts null */
orx_error orx_movie_get_props(orx_movie_reader* reader, orx_movie_props* props);

/* Where frame index (0-based) lies in time and how large it is. */
typedef struct orx_movie_frame {
  int64_t time;      /* start, in units of the time scale */
  int32_t duration;  /* in units of the time scale */
  size_t size;       /* bytes */
} orx_movie_frame;
orx_error orx_movie_get_frame(orx_movie_reader* reader, int32_t index, orx_movie_frame* frame);

/* Reads frame index into buffer (buffer_size bytes, at least its size);
 * *size gets its size. ORX_ERROR_TRUNCATED when the file ends inside it. */
orx_error orx_movie_read_frame(orx_movie_reader* reader, int32_t index, void* buffer, size_t buffer_size,
                               size_t* size);

/* The reason for the handle's last failure in words ("the 'stsz' atom is
 * cut short"), without the file name; "" when there was none, and for a
 * null handle. Valid until the next call on the handle. */
const char* orx_movie_reader_message(orx_movie_reader* reader);

typedef struct orx_movie_writer orx_movie_writer;

/* Flags of orx_movie_create. */
#define ORX_MOVIE_REPLACE 1 /* finishing may replace a file at the path */

/* Starts a movie at path with one ORX video track of width x height and
 * time_scale units a second (1 to 2^31 - 1). The movie is written beside
 * path under a temporary name and appears at path only when
 * orx_movie_finish succeeds; an existing file there is replaced only with
 * ORX_MOVIE_REPLACE (else ORX_ERROR_EXISTS, already here when the path is
 * taken), and only a regular file: a folder, FIFO or device never
 * (ORX_ERROR_IO). On failure the reason in words goes to message, as
 * orx_movie_open gives it. */
orx_error orx_movie_create(const char* path, int width, int height, int32_t time_scale, int flags,
                           orx_movie_writer** writer, char* message, size_t message_size);
/* Appends one frame lasting duration units (at least 1). The frame is
 * checked as orx_frame_info checks it against the movie's size: the movie
 * takes only frames that a decoder can read. The writer's message says why
 * a frame was refused. */
orx_error orx_movie_add_frame(orx_movie_writer* writer, const void* frame, size_t frame_size, int32_t duration);
/* Writes the movie's tables and moves it to its path. The writer is gone
 * afterwards, whatever the result; on failure nothing is left at path, and
 * the reason in words goes to message (message_size bytes with the
 * terminating zero; message may be null). */
orx_error orx_movie_finish(orx_movie_writer* writer, char* message, size_t message_size);
/* Abandons the movie: nothing is left behind. Accepts null. */
void orx_movie_abort(orx_movie_writer* writer);
/* As orx_movie_reader_message, for the writer's last failure. */
const char* orx_movie_writer_message(orx_movie_writer* writer);

/* ---- Sound (ORX_1.3) ------------------------------------------------------
 * A movie's sound track of linear PCM: frames of interleaved little-endian
 * samples, one for every channel. The track starts with the first picture;
 * the sound of frame i is the sound from its time to the next frame's. */

typedef enum orx_sample_format {
  ORX_SAMPLE_S16 = 16, /* signed 16-bit integers */
  ORX_SAMPLE_S24 = 24, /* signed 24-bit integers, 3 bytes each */
  ORX_SAMPLE_F32 = 32  /* 32-bit IEEE floats */
} orx_sample_format;

typedef struct orx_sound_format {
  int32_t sample_rate;             /* frames a second, 1 to 384000 */
  int32_t channels;                /* 1 to 64 */
  orx_sample_format sample_format;
} orx_sound_format;

/* Bytes of one frame of sound of the format; 0 for a format out of range. */
size_t orx_sound_frame_size(const orx_sound_format* format);

/* The movie's first sound track of linear PCM: its format and its length in
 * frames. ORX_ERROR_NO_SOUND when it has none the library reads; the
 * reader's message then says why a sound track there cannot be read, or is
 * "" when there is none. The pictures read the same either way. */
orx_error orx_movie_get_sound(orx_movie_reader* reader, orx_sound_format* format, int64_t* frame_count);

/* Reads frame_count frames of sound from first_frame into buffer
 * (buffer_size bytes, at least frame_count x orx_sound_frame_size).
 * ORX_ERROR_INVALID_ARGUMENT for a range outside the track,
 * ORX_ERROR_TRUNCATED when the file ends inside it. */
orx_error orx_movie_read_sound(orx_movie_reader* reader, int64_t first_frame, int64_t frame_count, void* buffer,
                               size_t buffer_size);

/* Gives the movie a sound track of the format (one, at any time before
 * orx_movie_finish; it starts with the first picture). */
orx_error orx_movie_add_sound_track(orx_movie_writer* writer, const orx_sound_format* format);
/* Appends frame_count frames of sound. The writer puts the sound into the
 * file in chunks of about half a second between the pictures that arrive
 * meanwhile, so a player reads both from one place: add each frame's sound
 * with it. */
orx_error orx_movie_add_sound(orx_movie_writer* writer, const void* frames, int64_t frame_count);

#ifdef __cplusplus
}
#endif

#endif /* ORX_ORX_H */
