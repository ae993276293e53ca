/*
 * orx-play-av: plays an ORX movie's pictures and sound in step through
 * liborx, as a player would, into files: each frame is decoded to RGBA at
 * its time, the sound that plays with it (from its time to the next frame's)
 * is appended to a WAV file, and a line gives the frame's time and its
 * stretch of sound.
 *
 *   orx-play-av IN.mov OUT.wav TIMES.txt
 *
 * TIMES.txt holds a line a frame: "FRAME SECONDS FIRST COUNT", the frame's
 * time and the sound frames that play with it; the last frame takes the
 * sound to the track's end. Exit status: 0 done, 1 a file or the library
 * failed, 2 a usage error.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <orx/orx.h>

static const char* const kProgram = "orx-play-av";

static int Fail(const char* file, const char* problem) {
  fprintf(stderr, "%s: %s: %s\n", kProgram, file, problem);
  return 1;
}

static void PutLE(uint8_t* p, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = (uint8_t)(v >> (8 * i));
}

/* The 44-byte header of a WAV file of frames frames (integer PCM; float
 * samples as IEEE float, 58 bytes with its 'fact' chunk). */
static size_t WaveHeader(uint8_t* h, const orx_sound_format* f, uint32_t frames) {
  const uint32_t frameBytes = (uint32_t)orx_sound_frame_size(f);
  const int isFloat = f->sample_format == ORX_SAMPLE_F32;
  const uint32_t data = frames * frameBytes;
  size_t n = 0;
  memcpy(h, "RIFF", 4);
  PutLE(h + 4, 4 + 24 + (isFloat ? 12 : 0) + 8 + data, 4);
  memcpy(h + 8, "WAVEfmt ", 8);
  PutLE(h + 16, 16, 4);
  PutLE(h + 20, isFloat ? 3 : 1, 2);
  PutLE(h + 22, (uint32_t)f->channels, 2);
  PutLE(h + 24, (uint32_t)f->sample_rate, 4);
  PutLE(h + 28, (uint32_t)f->sample_rate * frameBytes, 4);
  PutLE(h + 32, frameBytes, 2);
  PutLE(h + 34, (uint32_t)f->sample_format, 2);
  n = 36;
  if (isFloat) {
    memcpy(h + n, "fact", 4);
    PutLE(h + n + 4, 4, 4);
    PutLE(h + n + 8, frames, 4);
    n += 12;
  }
  memcpy(h + n, "data", 4);
  PutLE(h + n + 4, data, 4);
  return n + 8;
}

/* Sound frames in t units of the time scale, to the nearest. */
static int64_t SoundAt(int64_t t, int32_t rate, int32_t timeScale) {
  return (int64_t)(((double)t * rate) / timeScale + 0.5);
}

int main(int argc, char** argv) {
  if (argc == 2 && !strcmp(argv[1], "--help")) {
    printf("usage: %s IN.mov OUT.wav TIMES.txt\n"
           "Plays an ORX movie's pictures and sound in step into a WAV file and a line a frame\n"
           "(frame, seconds, first sound frame, sound frames).\n", kProgram);
    return 0;
  }
  if (argc == 2 && !strcmp(argv[1], "--version")) {
    printf("%s (liborx %s)\n", kProgram, orx_version_string());
    return 0;
  }
  if (argc != 4) {
    fprintf(stderr, "%s: give IN.mov OUT.wav TIMES.txt (see --help)\n", kProgram);
    return 2;
  }
  const char* in = argv[1];
  const char* wavPath = argv[2];
  const char* timesPath = argv[3];
  char why[512] = "";
  orx_movie_reader* reader = NULL;
  orx_decoder* decoder = NULL;
  FILE* wav = NULL;
  FILE* times = NULL;
  uint8_t* frame = NULL;
  uint8_t* pixels = NULL;
  uint8_t* sound = NULL;
  int status = 0;
  orx_error err;
  orx_movie_props props;
  orx_sound_format format;
  int64_t soundFrames = 0;

  if ((err = orx_movie_open(in, &reader, why, sizeof why)) != ORX_OK) {
    status = Fail(in, why[0] ? why : orx_error_string(err));
    goto done;
  }
  orx_movie_get_props(reader, &props);
  if ((err = orx_movie_get_sound(reader, &format, &soundFrames)) != ORX_OK) {
    const char* m = orx_movie_reader_message(reader);
    status = Fail(in, m[0] ? m : orx_error_string(err));
    goto done;
  }
  const size_t frameBytes = orx_sound_frame_size(&format);
  const size_t stride = (size_t)props.width * 4;
  const size_t pixelsSize = orx_pixels_size(props.width, props.height, stride);
  /* The sound is read a frame's worth at a time (the last frame's, to the
   * track's end, in pieces of that size). */
  int64_t longest = 0;
  for (int32_t i = 0; i < props.frame_count; ++i) {
    orx_movie_frame f;
    orx_movie_get_frame(reader, i, &f);
    const int64_t n = SoundAt(f.duration, format.sample_rate, props.time_scale) + format.sample_rate;
    if (n > longest) longest = n;
  }
  frame = malloc(props.max_frame_size > 0 ? props.max_frame_size : 1);
  pixels = malloc(pixelsSize);
  sound = malloc((size_t)longest * frameBytes);
  if (frame == NULL || pixels == NULL || sound == NULL) {
    status = Fail(in, orx_error_string(ORX_ERROR_OUT_OF_MEMORY));
    goto done;
  }
  if ((err = orx_decoder_create(&decoder)) != ORX_OK) {
    status = Fail(in, orx_error_string(err));
    goto done;
  }
  wav = fopen(wavPath, "wb");
  times = fopen(timesPath, "w");
  if (wav == NULL || times == NULL) {
    status = Fail(wav == NULL ? wavPath : timesPath, "cannot be written");
    goto done;
  }
  uint8_t header[64];
  size_t headerSize = WaveHeader(header, &format, 0);
  fwrite(header, 1, headerSize, wav);

  int64_t played = 0; /* sound frames written so far */
  for (int32_t i = 0; i < props.frame_count; ++i) {
    orx_movie_frame f;
    size_t size = 0;
    orx_movie_get_frame(reader, i, &f);
    if ((err = orx_movie_read_frame(reader, i, frame, props.max_frame_size, &size)) != ORX_OK ||
        (err = orx_decode_rgba(decoder, frame, size, props.width, props.height, ORX_PIXEL_RGBA, pixels, pixelsSize,
                               stride)) != ORX_OK) {
      char problem[600];
      snprintf(problem, sizeof problem, "frame %d: %s", (int)i,
               orx_movie_reader_message(reader)[0] ? orx_movie_reader_message(reader) : orx_error_string(err));
      status = Fail(in, problem);
      goto done;
    }
    /* The sound from this picture's time to the next one's. */
    int64_t end = i + 1 == props.frame_count ? soundFrames : SoundAt(f.time + f.duration, format.sample_rate, props.time_scale);
    if (end > soundFrames) end = soundFrames;
    const int64_t count = end > played ? end - played : 0;
    fprintf(times, "%d %.6f %lld %lld\n", (int)i, (double)f.time / props.time_scale, (long long)played, (long long)count);
    while (played < end) {
      const int64_t n = end - played < longest ? end - played : longest;
      if ((err = orx_movie_read_sound(reader, played, n, sound, (size_t)longest * frameBytes)) != ORX_OK) {
        status = Fail(in, orx_movie_reader_message(reader));
        goto done;
      }
      fwrite(sound, frameBytes, (size_t)n, wav);
      played += n;
    }
  }
  headerSize = WaveHeader(header, &format, (uint32_t)played);
  if (fseek(wav, 0, SEEK_SET) != 0 || fwrite(header, 1, headerSize, wav) != headerSize) status = Fail(wavPath, "write failed");
  printf("%s: %s: %d frames, %lld sound frames at %d Hz\n", kProgram, in, (int)props.frame_count, (long long)played,
         (int)format.sample_rate);

done:
  if (wav != NULL && fclose(wav) != 0 && status == 0) status = Fail(wavPath, "write failed");
  if (times != NULL && fclose(times) != 0 && status == 0) status = Fail(timesPath, "write failed");
  orx_decoder_destroy(decoder);
  orx_movie_close(reader);
  free(sound);
  free(pixels);
  free(frame);
  return status;
}
