/*
 * orx-encode-frames: makes an ORX movie from generated frames through
 * liborx. The pictures are moving gradients with a square crossing them (and
 * an alpha ramp with --alpha), drawn in RGBA, encoded one by one into a
 * buffer of orx_max_encoded_size and appended to the movie.
 *
 *   orx-encode-frames [-w W] [-h H] [-n FRAMES] [--fps N] [--alpha]
 *                     [--performance|--quality|--vovorevaded] [--no-lzf]
 *                     [--threads N] [--smaller LEVEL] [--tone HZ] [-y] OUT.mov
 *
 * Exit status: 0 done, 1 a file or the library failed, 2 a usage error.
 */
#include <errno.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <orx/orx.h>

static const char* const kProgram = "orx-encode-frames";

static void PrintHelp(void) {
  printf(
      "usage: %s [options] OUT.mov\n"
      "Encodes generated frames (moving gradients and a square) into an ORX movie.\n"
      "\n"
      "  -w W              width in pixels, 1 to %d (default 640)\n"
      "  -h H              height in pixels, 1 to %d (default 360)\n"
      "  -n FRAMES         number of frames (default 60)\n"
      "  --fps N           frames a second, 1 to 1000 (default 30)\n"
      "  --alpha           keep an alpha ramp (DXT5 blocks, as the component)\n"
      "  --quality         DXT24 blocks packed with LZF (default)\n"
      "  --performance     DXT1/DXT5 blocks packed with LZF\n"
      "  --vovorevaded     DXT24 blocks stored raw\n"
      "  --no-lzf          store the blocks raw whatever the choice above\n"
      "  --threads N       threads to encode on, 1 to 32; 0 for one a core (default 0)\n"
      "  --smaller LEVEL   0 off (default), 1 light, 2 medium, 3 strong: blocks chosen\n"
      "                    to pack smaller under LZF, within an error budget\n"
      "  --tone HZ         a sound track: a sine of HZ (1 to 20000) at 48000 Hz, 16-bit\n"
      "                    stereo, each frame's sound added with it\n"
      "  -y                replace OUT.mov if it exists\n"
      "  --help            this text\n"
      "  --version         the library's version\n",
      kProgram, ORX_MAX_SIDE, ORX_MAX_SIDE);
}

static int Usage(const char* what, const char* arg) {
  fprintf(stderr, "%s: %s%s (see --help)\n", kProgram, what, arg != NULL ? arg : "");
  return 2;
}

static int Fail(const char* file, const char* problem) {
  fprintf(stderr, "%s: %s: %s\n", kProgram, file, problem);
  return 1;
}

/* A whole decimal number within [lo, hi], or -1 after reporting. */
static int ParseNumber(const char* option, const char* text, long lo, long hi, long* value) {
  char* end = NULL;
  errno = 0;
  long v = strtol(text, &end, 10);
  if (text[0] == 0 || *end != 0 || errno != 0 || v < lo || v > hi) {
    fprintf(stderr, "%s: %s wants a number from %ld to %ld, not \"%s\" (see --help)\n", kProgram, option, lo, hi,
            text);
    return -1;
  }
  *value = v;
  return 0;
}

static uint8_t Clamp8(int v) { return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v); }

/* Frame t of the clip: diagonal colour gradients drifting with time, a
 * square bouncing across the picture, and with alpha a ramp from transparent
 * at the left to opaque at the right (the square stays opaque). */
static void DrawFrame(uint8_t* rgba, int width, int height, long t, int alpha) {
  const int side = (width < height ? width : height) / 4 + 1;
  const int travelX = width > side ? width - side : 1;
  const int travelY = height > side ? height - side : 1;
  int sx = (int)(t * 7 % (2 * travelX));
  int sy = (int)(t * 3 % (2 * travelY));
  const int phase = (int)(t % 64); /* the square's shade and the blue drift repeat */
  if (sx >= travelX) sx = 2 * travelX - sx;
  if (sy >= travelY) sy = 2 * travelY - sy;
  const int wd = width > 1 ? width - 1 : 1;
  const int hd = height > 1 ? height - 1 : 1;
  for (int y = 0; y < height; ++y) {
    uint8_t* p = rgba + (size_t)y * (size_t)width * 4;
    for (int x = 0; x < width; ++x, p += 4) {
      const int inSquare = x >= sx && x < sx + side && y >= sy && y < sy + side;
      if (inSquare) {
        p[0] = 240;
        p[1] = (uint8_t)(40 + 2 * phase);
        p[2] = 32;
        p[3] = 255;
        continue;
      }
      p[0] = Clamp8(x * 255 / wd);
      p[1] = Clamp8(y * 255 / hd);
      p[2] = (uint8_t)((x + y + 4 * phase) & 255);
      p[3] = alpha ? Clamp8(x * 255 / wd) : 255;
    }
  }
}

static const char* VariantName(orx_variant v) {
  switch (v) {
    case ORX_VARIANT_DXT1: return "DXT1";
    case ORX_VARIANT_DXT5: return "DXT5";
    case ORX_VARIANT_DXT24: return "DXT24";
    case ORX_VARIANT_DXT24_ALPHA: return "DXT24 with alpha";
  }
  return "unknown variant";
}

int main(int argc, char** argv) {
  long width = 640, height = 360, frames = 60, fps = 30, threads = 0, tone = 0, smaller = 0;
  int alpha = 0, replace = 0, noLZF = 0;
  const char* choice = "Quality";
  int preserveGradients = 1, skipLZF = 0;
  const char* out = NULL;

  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (!strcmp(a, "--help")) {
      PrintHelp();
      return 0;
    }
    if (!strcmp(a, "--version")) {
      printf("%s (liborx %s)\n", kProgram, orx_version_string());
      return 0;
    }
  }
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    long* number = NULL;
    long lo = 0, hi = 0;
    if (!strcmp(a, "-w")) number = &width, lo = 1, hi = ORX_MAX_SIDE;
    else if (!strcmp(a, "-h")) number = &height, lo = 1, hi = ORX_MAX_SIDE;
    else if (!strcmp(a, "-n")) number = &frames, lo = 1, hi = INT32_MAX;
    else if (!strcmp(a, "--fps")) number = &fps, lo = 1, hi = 1000;
    else if (!strcmp(a, "--threads")) number = &threads, lo = 0, hi = 32;
    else if (!strcmp(a, "--tone")) number = &tone, lo = 1, hi = 20000;
    else if (!strcmp(a, "--smaller")) number = &smaller, lo = 0, hi = 3;
    if (number != NULL) {
      if (i + 1 >= argc) return Usage("missing value after ", a);
      if (ParseNumber(a, argv[++i], lo, hi, number) != 0) return 2;
    } else if (!strcmp(a, "--alpha")) {
      alpha = 1;
    } else if (!strcmp(a, "--no-lzf")) {
      noLZF = 1;
    } else if (!strcmp(a, "-y")) {
      replace = 1;
    } else if (!strcmp(a, "--quality")) {
      choice = "Quality", preserveGradients = 1, skipLZF = 0;
    } else if (!strcmp(a, "--performance")) {
      choice = "Performance", preserveGradients = 0, skipLZF = 0;
    } else if (!strcmp(a, "--vovorevaded")) {
      choice = "VovorEvaded", preserveGradients = 1, skipLZF = 1;
    } else if (a[0] == '-' && a[1] != 0) {
      return Usage("unknown option ", a);
    } else if (out != NULL) {
      return Usage("more than one output: ", a);
    } else {
      out = a;
    }
  }
  if (out == NULL) return Usage("no output movie given", NULL);

  const orx_encode_settings settings = {alpha, preserveGradients, skipLZF || noLZF, (int32_t)threads};
  const int w = (int)width, h = (int)height;
  const size_t maxFrame = orx_max_encoded_size(w, h, &settings);
  const size_t pixelsSize = orx_pixels_size(w, h, (size_t)w * 4);
  if (maxFrame == 0 || pixelsSize == 0) return Fail(out, orx_error_string(ORX_ERROR_INVALID_ARGUMENT));

  uint8_t* pixels = malloc(pixelsSize);
  uint8_t* frame = malloc(maxFrame);
  orx_encoder* encoder = NULL;
  orx_movie_writer* writer = NULL;
  int status = 0;
  orx_error err = ORX_OK;
  orx_variant variant = ORX_VARIANT_DXT1;
  uint64_t total = 0;

  if (pixels == NULL || frame == NULL) {
    status = Fail(out, orx_error_string(ORX_ERROR_OUT_OF_MEMORY));
    goto done;
  }
  orx_encoder_options options;
  memset(&options, 0, sizeof options);
  options.settings = settings;
  options.smaller = (int32_t)smaller;
  if ((err = orx_encoder_create_with_options(&options, &encoder)) != ORX_OK) {
    status = Fail(out, orx_error_string(err));
    goto done;
  }
  /* Each frame lasts 100 units of a time scale of fps x 100 units a second. */
  char why[256] = "";
  err = orx_movie_create(out, w, h, (int32_t)(fps * 100), replace ? ORX_MOVIE_REPLACE : 0, &writer, why, sizeof why);
  if (err == ORX_ERROR_EXISTS) {
    char problem[160];
    snprintf(problem, sizeof problem, "%s (-y replaces it)", orx_error_string(err));
    status = Fail(out, problem);
    goto done;
  }
  if (err != ORX_OK) {
    status = Fail(out, why[0] != '\0' ? why : orx_error_string(err));
    goto done;
  }

  static const orx_sound_format kSound = {48000, 2, ORX_SAMPLE_S16};
  if (tone > 0 && (err = orx_movie_add_sound_track(writer, &kSound)) != ORX_OK) {
    status = Fail(out, orx_movie_writer_message(writer));
    goto done;
  }
  int64_t soundAt = 0; /* sound frames added */
  for (long t = 0; t < frames; ++t) {
    size_t size = 0;
    DrawFrame(pixels, w, h, t, alpha);
    err = orx_encode(encoder, pixels, w, h, (size_t)w * 4, ORX_PIXEL_RGBA, frame, maxFrame, &size);
    if (err != ORX_OK) {
      status = Fail(out, orx_error_string(err));
      goto done;
    }
    if (t == 0) {
      orx_frame_props props;
      if ((err = orx_frame_info(frame, size, w, h, &props)) != ORX_OK) {
        status = Fail(out, orx_error_string(err));
        goto done;
      }
      variant = props.variant;
    }
    if ((err = orx_movie_add_frame(writer, frame, size, 100)) != ORX_OK) {
      const char* why = orx_movie_writer_message(writer);
      status = Fail(out, why[0] != 0 ? why : orx_error_string(err));
      goto done;
    }
    total += size;
    /* The sound up to this frame's end: a sine, the right channel at half. */
    for (const int64_t end = (int64_t)(t + 1) * 48000 / fps; tone > 0 && soundAt < end;) {
      int16_t pcm[2 * 1024];
      int n = 0;
      for (; n < 1024 && soundAt < end; ++n, ++soundAt) {
        const double v = sin(2 * 3.14159265358979 * (double)tone * (double)soundAt / 48000.0);
        pcm[2 * n] = (int16_t)lrint(v * 16000);
        pcm[2 * n + 1] = (int16_t)lrint(v * 8000);
      }
      if ((err = orx_movie_add_sound(writer, pcm, n)) != ORX_OK) {
        status = Fail(out, orx_movie_writer_message(writer));
        goto done;
      }
    }
  }

  {
    char message[512] = "";
    orx_movie_writer* finishing = writer;
    writer = NULL; /* gone after orx_movie_finish, whatever it returns */
    if ((err = orx_movie_finish(finishing, message, sizeof message)) != ORX_OK) {
      status = Fail(out, message[0] != 0 ? message : orx_error_string(err));
      goto done;
    }
  }
  printf("%s: %s: %ld frames of %dx%d, %s (%s%s), %llu bytes of frames\n", kProgram, out, frames, w, h,
         VariantName(variant), choice, noLZF && !skipLZF ? ", raw" : "", (unsigned long long)total);

done:
  orx_movie_abort(writer);
  orx_encoder_destroy(encoder);
  free(frame);
  free(pixels);
  return status;
}
