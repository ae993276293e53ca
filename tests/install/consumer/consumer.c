/* A program built outside the tree against the installed SDK: it encodes a
 * picture, checks the frame, decodes it and writes and reads a movie, and
 * prints what it found. Exit 0 only when every step gives what it should. */
#include <orx/orx.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define W 40
#define H 28

static int fail(const char* what, orx_error e) {
  fprintf(stderr, "consumer: %s: %s\n", what, orx_error_string(e));
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: consumer MOVIE\n");
    return 2;
  }
  if (orx_version() != ORX_VERSION_NUMBER) {
    fprintf(stderr, "consumer: header %d, library %d\n", ORX_VERSION_NUMBER, orx_version());
    return 1;
  }
  unsigned char rgba[W * H * 4];
  for (int i = 0; i < W * H; ++i) {
    rgba[4 * i + 0] = (unsigned char)(i % W * 6);
    rgba[4 * i + 1] = (unsigned char)(i / W * 9);
    rgba[4 * i + 2] = 128;
    rgba[4 * i + 3] = 255;
  }
  const orx_encode_settings settings = {0, 1, 0, 1}; /* Quality */
  const size_t capacity = orx_max_encoded_size(W, H, &settings);
  unsigned char* frame = malloc(capacity);
  orx_encoder* encoder = NULL;
  orx_decoder* decoder = NULL;
  size_t size = 0;
  orx_error e = orx_encoder_create(&settings, &encoder);
  if (e == ORX_OK) e = orx_encode(encoder, rgba, W, H, W * 4, ORX_PIXEL_RGBA, frame, capacity, &size);
  orx_encoder_destroy(encoder);
  if (e != ORX_OK) return fail("encode", e);

  orx_frame_props props;
  e = orx_frame_info(frame, size, W, H, &props);
  if (e != ORX_OK) return fail("frame info", e);
  if (props.variant != ORX_VARIANT_DXT24 || props.frame_size != (int64_t)size) {
    fprintf(stderr, "consumer: variant %d, %lld bytes of %zu\n", props.variant, (long long)props.frame_size, size);
    return 1;
  }
  unsigned char back[W * H * 4];
  e = orx_decoder_create(&decoder);
  if (e == ORX_OK) e = orx_decode_rgba(decoder, frame, size, W, H, ORX_PIXEL_RGBA, back, sizeof back, W * 4);
  orx_decoder_destroy(decoder);
  if (e != ORX_OK) return fail("decode", e);
  int worst = 0;
  for (int i = 0; i < W * H * 4; ++i) {
    const int d = abs(back[i] - rgba[i]);
    if (d > worst) worst = d;
  }
  if (worst > 16) {
    fprintf(stderr, "consumer: decoded picture differs by %d levels\n", worst);
    return 1;
  }

  orx_movie_writer* writer = NULL;
  char message[256];
  e = orx_movie_create(argv[1], W, H, 600, ORX_MOVIE_REPLACE, &writer, message, sizeof message);
  for (int i = 0; e == ORX_OK && i < 3; ++i) e = orx_movie_add_frame(writer, frame, size, 20);
  if (e != ORX_OK) {
    orx_movie_abort(writer);
    return fail("movie", e);
  }
  e = orx_movie_finish(writer, message, sizeof message);
  if (e != ORX_OK) return fail(message, e);
  orx_movie_reader* reader = NULL;
  e = orx_movie_open(argv[1], &reader, message, sizeof message);
  if (e != ORX_OK) return fail(message, e);
  orx_movie_props movie;
  orx_movie_get_props(reader, &movie);
  orx_movie_close(reader);
  free(frame);
  if (movie.frame_count != 3 || movie.duration != 60 || movie.width != W) {
    fprintf(stderr, "consumer: the movie reads back as %d frames, %lld units\n", movie.frame_count,
            (long long)movie.duration);
    return 1;
  }
  printf("liborx %s: %d x %d, %zu bytes a frame, %d frames\n", orx_version_string(), W, H, size, movie.frame_count);
  return 0;
}
