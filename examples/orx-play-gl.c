/*
 * orx-play-gl: plays an ORX movie into an OpenGL texture through liborx's
 * texture road, headless. Each frame is read from the movie, handed over by
 * orx_frame_texture_with_flags (S3TC blocks for DXT1/DXT5; DXT24 blocks,
 * which liborx's fragment program decodes as it draws, or with
 * --dxt24-as-rgba RGBA pixels decoded on the processor), uploaded, and
 * drawn into a framebuffer object the picture's size. One
 * frame is then drawn again, read back and compared with the same frame
 * decoded by orx_decode_rgba, so the program shows both that the recipe in
 * docs/API.md is right and how fast the texture road plays here.
 *
 *   orx-play-gl [--loops N] [--check N | --no-check] [--dxt24-as-rgba] MOVIE.mov
 *
 * The context is desktop OpenGL through EGL without any surface: Mesa's
 * surfaceless platform when the EGL library offers it, else the default
 * display. Entry points past GL 1.1 come from eglGetProcAddress.
 *
 * Exit status: 0 played (and the checked frame matched), 1 a file, the
 * library or GL failed or the frame did not match, 2 a usage error.
 */
#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <orx/orx.h>

static const char* const kProgram = "orx-play-gl";

/* Largest difference, in levels of 8 bits, allowed between the picture the
 * GL draws and the processor's decode: S3TC decoders may round the two
 * interpolated palette entries either way. */
enum { kTolerance = 1 };

static void PrintHelp(void) {
  printf(
      "usage: %s [options] MOVIE.mov\n"
      "Plays an ORX movie into an OpenGL texture (headless EGL) and checks one frame\n"
      "against the processor's decode.\n"
      "\n"
      "  --loops N     play the movie N times (default 1)\n"
      "  --check N     the frame to compare (default the middle one)\n"
      "  --no-check    compare no frame\n"
      "  --dxt24-as-rgba  DXT24 frames as RGBA decoded on the processor, not as\n"
      "                blocks decoded by the GPU\n"
      "  --help        this text\n"
      "  --version     the library's version\n",
      kProgram);
}

static int Usage(const char* message) {
  fprintf(stderr, "%s: %s (see --help)\n", kProgram, message);
  return 2;
}

static int Fail(const char* file, const char* problem) {
  if (file != NULL)
    fprintf(stderr, "%s: %s: %s\n", kProgram, file, problem);
  else
    fprintf(stderr, "%s: %s\n", kProgram, problem);
  return 1;
}

/* ---- The GL context and the entry points past GL 1.1 --------------------- */

typedef struct Gl {
  EGLDisplay display;
  EGLContext context;
  PFNGLCOMPRESSEDTEXIMAGE2DPROC CompressedTexImage2D;
  PFNGLGENFRAMEBUFFERSPROC GenFramebuffers;
  PFNGLBINDFRAMEBUFFERPROC BindFramebuffer;
  PFNGLFRAMEBUFFERTEXTURE2DPROC FramebufferTexture2D;
  PFNGLCHECKFRAMEBUFFERSTATUSPROC CheckFramebufferStatus;
  PFNGLDELETEFRAMEBUFFERSPROC DeleteFramebuffers;
  PFNGLCREATESHADERPROC CreateShader;
  PFNGLSHADERSOURCEPROC ShaderSource;
  PFNGLCOMPILESHADERPROC CompileShader;
  PFNGLGETSHADERIVPROC GetShaderiv;
  PFNGLGETSHADERINFOLOGPROC GetShaderInfoLog;
  PFNGLCREATEPROGRAMPROC CreateProgram;
  PFNGLATTACHSHADERPROC AttachShader;
  PFNGLLINKPROGRAMPROC LinkProgram;
  PFNGLGETPROGRAMIVPROC GetProgramiv;
  PFNGLGETPROGRAMINFOLOGPROC GetProgramInfoLog;
  PFNGLUSEPROGRAMPROC UseProgram;
  PFNGLGETUNIFORMLOCATIONPROC GetUniformLocation;
  PFNGLUNIFORM1IPROC Uniform1i;
  PFNGLUNIFORM2FPROC Uniform2f;
  PFNGLDELETESHADERPROC DeleteShader;
  PFNGLDELETEPROGRAMPROC DeleteProgram;
  int s3tc;     /* GL_EXT_texture_compression_s3tc */
  int gl3;      /* OpenGL 3.0 or later: integer textures and GLSL 1.30 */
  GLint maxTextureSize;
  GLuint fbo, target, picture; /* the framebuffer, its colour texture, the frame's texture */
  GLuint shaders[2], program;  /* the DXT24 program, made on the first DXT24 frame */
} Gl;

/* Whether the space-separated list holds name as a whole word. */
static int HasWord(const char* list, const char* name) {
  const size_t n = strlen(name);
  if (list == NULL) return 0;
  for (const char* p = list; (p = strstr(p, name)) != NULL; p += n)
    if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == 0)) return 1;
  return 0;
}

/* A desktop GL context on display, current without a surface, or
 * EGL_NO_CONTEXT. A compatibility profile is asked for first, for glBegin;
 * EGL before 1.5 takes no profile and gives one anyway. */
static EGLContext ContextOn(EGLDisplay display) {
  EGLint major = 0, minor = 0;
  if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) return EGL_NO_CONTEXT;
  if (!eglBindAPI(EGL_OPENGL_API)) return EGL_NO_CONTEXT;
  const EGLint configAttrs[] = {EGL_RED_SIZE,        8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 8,
                                EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, 0, EGL_NONE};
  EGLConfig config = NULL;
  EGLint n = 0;
  if (!eglChooseConfig(display, configAttrs, &config, 1, &n) || n < 1) config = NULL;
  const EGLint compat[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
  EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, compat);
  if (context == EGL_NO_CONTEXT) context = eglCreateContext(display, config, EGL_NO_CONTEXT, NULL);
  if (context == EGL_NO_CONTEXT) return EGL_NO_CONTEXT;
  if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
    eglDestroyContext(display, context);
    return EGL_NO_CONTEXT;
  }
  return context;
}

/* Makes the context current and finds the entry points; a problem in words,
 * or NULL. */
static const char* OpenGl(Gl* gl) {
  memset(gl, 0, sizeof *gl);
  gl->display = EGL_NO_DISPLAY;
  gl->context = EGL_NO_CONTEXT;
  EGLDisplay candidates[2] = {EGL_NO_DISPLAY, EGL_NO_DISPLAY};
  if (HasWord(eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS), "EGL_MESA_platform_surfaceless")) {
    PFNEGLGETPLATFORMDISPLAYEXTPROC getPlatformDisplay =
        (PFNEGLGETPLATFORMDISPLAYEXTPROC)eglGetProcAddress("eglGetPlatformDisplayEXT");
    if (getPlatformDisplay != NULL)
      candidates[0] = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, NULL);
  }
  for (int i = 0; i < 2 && gl->context == EGL_NO_CONTEXT; ++i) {
    if (i == 1) candidates[1] = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    EGLContext context = ContextOn(candidates[i]);
    if (context != EGL_NO_CONTEXT) gl->display = candidates[i], gl->context = context;
  }
  if (gl->context == EGL_NO_CONTEXT) return "no EGL display gives a desktop OpenGL context";

  const char* version = (const char*)glGetString(GL_VERSION);
  const char* extensions = (const char*)glGetString(GL_EXTENSIONS);
  const int gl3 = version != NULL && atoi(version) >= 3;
  if (!gl3 && !HasWord(extensions, "GL_ARB_framebuffer_object"))
    return "the OpenGL context has no framebuffer objects (GL 3.0 or GL_ARB_framebuffer_object)";
  gl->s3tc = HasWord(extensions, "GL_EXT_texture_compression_s3tc");
  gl->gl3 = gl3;
#define ORX_GET(name, type) gl->name = (type)eglGetProcAddress("gl" #name)
  ORX_GET(CreateShader, PFNGLCREATESHADERPROC);
  ORX_GET(ShaderSource, PFNGLSHADERSOURCEPROC);
  ORX_GET(CompileShader, PFNGLCOMPILESHADERPROC);
  ORX_GET(GetShaderiv, PFNGLGETSHADERIVPROC);
  ORX_GET(GetShaderInfoLog, PFNGLGETSHADERINFOLOGPROC);
  ORX_GET(CreateProgram, PFNGLCREATEPROGRAMPROC);
  ORX_GET(AttachShader, PFNGLATTACHSHADERPROC);
  ORX_GET(LinkProgram, PFNGLLINKPROGRAMPROC);
  ORX_GET(GetProgramiv, PFNGLGETPROGRAMIVPROC);
  ORX_GET(GetProgramInfoLog, PFNGLGETPROGRAMINFOLOGPROC);
  ORX_GET(UseProgram, PFNGLUSEPROGRAMPROC);
  ORX_GET(GetUniformLocation, PFNGLGETUNIFORMLOCATIONPROC);
  ORX_GET(Uniform1i, PFNGLUNIFORM1IPROC);
  ORX_GET(Uniform2f, PFNGLUNIFORM2FPROC);
  ORX_GET(DeleteShader, PFNGLDELETESHADERPROC);
  ORX_GET(DeleteProgram, PFNGLDELETEPROGRAMPROC);
#undef ORX_GET
  gl->CompressedTexImage2D = (PFNGLCOMPRESSEDTEXIMAGE2DPROC)eglGetProcAddress("glCompressedTexImage2D");
  gl->GenFramebuffers = (PFNGLGENFRAMEBUFFERSPROC)eglGetProcAddress("glGenFramebuffers");
  gl->BindFramebuffer = (PFNGLBINDFRAMEBUFFERPROC)eglGetProcAddress("glBindFramebuffer");
  gl->FramebufferTexture2D = (PFNGLFRAMEBUFFERTEXTURE2DPROC)eglGetProcAddress("glFramebufferTexture2D");
  gl->CheckFramebufferStatus = (PFNGLCHECKFRAMEBUFFERSTATUSPROC)eglGetProcAddress("glCheckFramebufferStatus");
  gl->DeleteFramebuffers = (PFNGLDELETEFRAMEBUFFERSPROC)eglGetProcAddress("glDeleteFramebuffers");
  if (gl->CompressedTexImage2D == NULL || gl->GenFramebuffers == NULL || gl->BindFramebuffer == NULL ||
      gl->FramebufferTexture2D == NULL || gl->CheckFramebufferStatus == NULL || gl->DeleteFramebuffers == NULL)
    return "eglGetProcAddress found no address for a GL entry point";
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &gl->maxTextureSize);
  return NULL;
}

/* The framebuffer the pictures are drawn into: an RGBA8 colour texture of
 * width x height, with a viewport of exactly that size so that texels land
 * on pixels one to one. Also the texture the frames go into, sampled with
 * GL_NEAREST and used as it is (GL_REPLACE), and the fixed state the draw
 * needs. A problem in words, or NULL. */
static const char* PrepareTarget(Gl* gl, int width, int height) {
  if (width > gl->maxTextureSize || height > gl->maxTextureSize)
    return "the picture is larger than GL_MAX_TEXTURE_SIZE";
  glGenTextures(1, &gl->target);
  glBindTexture(GL_TEXTURE_2D, gl->target);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, NULL);
  gl->GenFramebuffers(1, &gl->fbo);
  gl->BindFramebuffer(GL_FRAMEBUFFER, gl->fbo);
  gl->FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, gl->target, 0);
  if (gl->CheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
    return "the framebuffer object is not complete";
  glViewport(0, 0, width, height);
  glDisable(GL_BLEND);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_DITHER);

  glGenTextures(1, &gl->picture);
  glBindTexture(GL_TEXTURE_2D, gl->picture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  glEnable(GL_TEXTURE_2D);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  return glGetError() == GL_NO_ERROR ? NULL : "setting up the framebuffer object raised a GL error";
}

/* The vertex half of the DXT24 program: the quad's corners are the
 * viewport's, and orx_pixel runs over the picture with y = 0 at the bottom
 * of the framebuffer, so that glReadPixels returns rows top first (as the
 * fixed-function draw below does). On a window, flip y. */
static const char kVertexShader[] =
    "#version 130\n"
    "uniform vec2 orx_size;\n"
    "out vec2 orx_pixel;\n"
    "void main() {\n"
    "  gl_Position = gl_Vertex;\n"
    "  orx_pixel = (gl_Vertex.xy * 0.5 + 0.5) * orx_size;\n"
    "}\n";

/* Compiles and links the DXT24 program: liborx's fragment shader and the
 * vertex shader above. A problem in words (the compiler's log in problem),
 * or NULL. */
static const char* MakeDXT24Program(Gl* gl, char* problem, size_t problemSize) {
  if (!gl->gl3 || gl->CreateShader == NULL || gl->CreateProgram == NULL || gl->Uniform1i == NULL)
    return "the OpenGL context cannot run the DXT24 program (OpenGL 3.0 and GLSL 1.30)";
  const char* sources[2] = {kVertexShader, orx_dxt24_fragment_shader(0)};
  const GLenum kinds[2] = {GL_VERTEX_SHADER, GL_FRAGMENT_SHADER};
  gl->program = gl->CreateProgram();
  for (int i = 0; i < 2; ++i) {
    GLint ok = 0;
    gl->shaders[i] = gl->CreateShader(kinds[i]);
    gl->ShaderSource(gl->shaders[i], 1, &sources[i], NULL);
    gl->CompileShader(gl->shaders[i]);
    gl->GetShaderiv(gl->shaders[i], GL_COMPILE_STATUS, &ok);
    if (!ok) {
      gl->GetShaderInfoLog(gl->shaders[i], (GLsizei)problemSize, NULL, problem);
      return "the DXT24 program does not compile";
    }
    gl->AttachShader(gl->program, gl->shaders[i]);
  }
  GLint linked = 0;
  gl->LinkProgram(gl->program);
  gl->GetProgramiv(gl->program, GL_LINK_STATUS, &linked);
  if (!linked) {
    gl->GetProgramInfoLog(gl->program, (GLsizei)problemSize, NULL, problem);
    return "the DXT24 program does not link";
  }
  return NULL;
}

/* The display stays initialised: terminating it unloads the driver, whose
 * remaining allocations leak checkers would then report as lost. */
static void CloseGl(Gl* gl) {
  if (gl->context == EGL_NO_CONTEXT) return;
  if (gl->fbo != 0) gl->DeleteFramebuffers(1, &gl->fbo);
  if (gl->target != 0) glDeleteTextures(1, &gl->target);
  if (gl->picture != 0) glDeleteTextures(1, &gl->picture);
  if (gl->program != 0) gl->DeleteProgram(gl->program);
  for (int i = 0; i < 2; ++i)
    if (gl->shaders[i] != 0) gl->DeleteShader(gl->shaders[i]);
  eglMakeCurrent(gl->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  eglDestroyContext(gl->display, gl->context);
}

/* ---- Playing --------------------------------------------------------------- */

/* What playing needs between frames: the frame and texture buffers grow to
 * the largest frame and stay. */
typedef struct Player {
  const char* path;
  orx_movie_reader* reader;
  orx_movie_props props;
  orx_decoder* decoder;
  uint8_t* frame;
  size_t frameSize;          /* bytes of the current frame */
  uint8_t* buffer;           /* orx_frame_texture's buffer */
  size_t bufferSize;
  uint32_t textureFlags;     /* ORX_TEXTURE_DXT24_BLOCKS unless --dxt24-as-rgba */
  orx_variant variant;       /* of the first frame drawn */
  int mixedVariants;
  char problem[256];
} Player;

static int ReaderFailed(Player* p, orx_error err) {
  const char* why = orx_movie_reader_message(p->reader);
  snprintf(p->problem, sizeof p->problem, "%s", why != NULL && why[0] != 0 ? why : orx_error_string(err));
  return -1;
}

static int Failed(Player* p, const char* what, int32_t index, orx_error err) {
  snprintf(p->problem, sizeof p->problem, "frame %d: %s%s", (int)index, what,
           err != ORX_OK ? orx_error_string(err) : "");
  return -1;
}

/* Reads frame index into p->frame; 0, or -1 with p->problem. */
static int ReadFrame(Player* p, int32_t index) {
  const orx_error err = orx_movie_read_frame(p->reader, index, p->frame, p->props.max_frame_size, &p->frameSize);
  return err == ORX_OK ? 0 : ReaderFailed(p, err);
}

/* The texture road for one frame: the frame through orx_frame_texture into
 * the picture texture, then a quad over the whole viewport showing the
 * texture's top-left width x height. Texture row 0 is the picture's top row;
 * drawing it at the bottom of the framebuffer (t = 0 at y = -1) makes
 * glReadPixels, which starts at the bottom, return rows top first. On a
 * window, put t = 0 at the top instead. 0, or -1 with p->problem. */
static int DrawFrame(Player* p, Gl* gl, int32_t index) {
  const int w = p->props.width, h = p->props.height;
  size_t need = 0;
  orx_error err = orx_frame_texture_size_with_flags(p->frame, p->frameSize, w, h, p->textureFlags, &need);
  if (err != ORX_OK) return Failed(p, "", index, err);
  if (need > p->bufferSize) {
    uint8_t* grown = realloc(p->buffer, need);
    if (grown == NULL) return Failed(p, "", index, ORX_ERROR_OUT_OF_MEMORY);
    p->buffer = grown;
    p->bufferSize = need;
  }
  orx_texture tex;
  err = orx_frame_texture_with_flags(p->decoder, p->frame, p->frameSize, w, h, p->textureFlags, p->buffer,
                                     p->bufferSize, &tex);
  if (err != ORX_OK) return Failed(p, "", index, err);
  if (tex.tex_width > gl->maxTextureSize || tex.tex_height > gl->maxTextureSize)
    return Failed(p, "the texture is larger than GL_MAX_TEXTURE_SIZE", index, ORX_OK);

  orx_frame_props props;
  memset(&props, 0, sizeof props);
  if (orx_frame_info(p->frame, p->frameSize, w, h, &props) == ORX_OK) {
    if (p->variant == 0) p->variant = props.variant;
    else if (p->variant != props.variant) p->mixedVariants = 1;
  }

  glBindTexture(GL_TEXTURE_2D, gl->picture);
  const int blocks = tex.compressed == ORX_TEXTURE_BLOCKS;
  if (blocks && gl->program == 0) {
    char log[200] = "";
    const char* problem = MakeDXT24Program(gl, log, sizeof log);
    if (problem != NULL) {
      snprintf(p->problem, sizeof p->problem, "frame %d: %s%s%s", (int)index, problem, log[0] ? ": " : "", log);
      return -1;
    }
  }
  if (tex.compressed == 1) {
    if (!gl->s3tc) return Failed(p, "the OpenGL context has no S3TC texture compression", index, ORX_OK);
    gl->CompressedTexImage2D(GL_TEXTURE_2D, 0, tex.gl_internal_format, tex.tex_width, tex.tex_height, 0,
                             (GLsizei)tex.size, tex.data);
  } else {
    glTexImage2D(GL_TEXTURE_2D, 0, (GLint)tex.gl_internal_format, tex.tex_width, tex.tex_height, 0, tex.gl_format,
                 tex.gl_type, tex.data);
  }
  if (blocks) {
    /* DXT24 blocks: an integer texture the program reads texel by texel;
     * the quad gives it the picture's pixel coordinates. */
    gl->UseProgram(gl->program);
    gl->Uniform1i(gl->GetUniformLocation(gl->program, "orx_blocks"), 0);
    gl->Uniform1i(gl->GetUniformLocation(gl->program, "orx_blocks_across"), (w + 3) / 4);
    gl->Uniform1i(gl->GetUniformLocation(gl->program, "orx_alpha"), props.has_alpha);
    gl->Uniform2f(gl->GetUniformLocation(gl->program, "orx_size"), (GLfloat)w, (GLfloat)h);
  }
  const GLfloat s = (GLfloat)tex.width / (GLfloat)tex.tex_width;
  const GLfloat t = (GLfloat)tex.height / (GLfloat)tex.tex_height;
  glBegin(GL_TRIANGLE_STRIP);
  glTexCoord2f(0, 0), glVertex2f(-1, -1);
  glTexCoord2f(s, 0), glVertex2f(1, -1);
  glTexCoord2f(0, t), glVertex2f(-1, 1);
  glTexCoord2f(s, t), glVertex2f(1, 1);
  glEnd();
  if (blocks) gl->UseProgram(0);
  glFinish();
  const GLenum glErr = glGetError();
  if (glErr != GL_NO_ERROR) {
    snprintf(p->problem, sizeof p->problem, "frame %d: GL error 0x%04x drawing it", (int)index, (unsigned)glErr);
    return -1;
  }
  return 0;
}

/* Reads the framebuffer back and compares it with frame index decoded by
 * orx_decode_rgba. *maxDiff gets the largest channel difference; 0, or -1
 * with p->problem. */
static int CheckFrame(Player* p, Gl* gl, int32_t index, int* maxDiff) {
  const int w = p->props.width, h = p->props.height;
  const size_t stride = (size_t)w * 4;
  const size_t size = orx_pixels_size(w, h, stride);
  uint8_t* drawn = malloc(size);
  uint8_t* decoded = malloc(size);
  int result = -1;
  if (drawn == NULL || decoded == NULL) {
    Failed(p, "", index, ORX_ERROR_OUT_OF_MEMORY);
    goto done;
  }
  if (ReadFrame(p, index) != 0 || DrawFrame(p, gl, index) != 0) goto done;
  glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, drawn);
  if (glGetError() != GL_NO_ERROR) {
    Failed(p, "glReadPixels raised a GL error", index, ORX_OK);
    goto done;
  }
  const orx_error err =
      orx_decode_rgba(p->decoder, p->frame, p->frameSize, w, h, ORX_PIXEL_RGBA, decoded, size, stride);
  if (err != ORX_OK) {
    Failed(p, "", index, err);
    goto done;
  }
  int worst = 0;
  size_t at = 0;
  for (size_t i = 0; i < size; ++i) {
    const int d = abs((int)drawn[i] - (int)decoded[i]);
    if (d > worst) worst = d, at = i;
  }
  *maxDiff = worst;
  if (worst > kTolerance) {
    static const char channels[] = "RGBA";
    snprintf(p->problem, sizeof p->problem,
             "frame %d differs from the RGBA road by %d levels (%c of pixel %zu,%zu: drawn %d, decoded %d)",
             (int)index, worst, channels[at % 4], at % stride / 4, at / stride, drawn[at], decoded[at]);
    goto done;
  }
  result = 0;
done:
  free(drawn);
  free(decoded);
  return result;
}

static const char* VariantName(orx_variant v) {
  switch (v) {
    case ORX_VARIANT_DXT1: return "DXT1";
    case ORX_VARIANT_DXT5: return "DXT5";
    case ORX_VARIANT_DXT24: return "DXT24";
    case ORX_VARIANT_DXT24_ALPHA: return "DXT24 with alpha";
  }
  return "ORX";
}

static double Seconds(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

/* A whole decimal number within [lo, hi], or -1. */
static long ParseNumber(const char* text, long lo, long hi) {
  char* end = NULL;
  errno = 0;
  const long v = strtol(text, &end, 10);
  if (text[0] == 0 || *end != 0 || errno != 0 || v < lo || v > hi) return -1;
  return v;
}

int main(int argc, char** argv) {
  long loops = 1, check = -1; /* -1: the middle frame */
  int doCheck = 1, asRGBA = 0;
  const char* path = NULL;
  char message[160];

  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--help")) {
      PrintHelp();
      return 0;
    }
    if (!strcmp(argv[i], "--version")) {
      printf("%s (liborx %s)\n", kProgram, orx_version_string());
      return 0;
    }
  }
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (!strcmp(a, "--loops") || !strcmp(a, "--check")) {
      const int isLoops = a[2] == 'l';
      const long v = i + 1 < argc ? ParseNumber(argv[++i], isLoops ? 1 : 0, isLoops ? 1000000 : INT32_MAX) : -1;
      if (v < 0) {
        snprintf(message, sizeof message, "%s wants a number from %d to %ld", a, isLoops ? 1 : 0,
                 isLoops ? 1000000L : (long)INT32_MAX);
        return Usage(message);
      }
      if (isLoops) loops = v;
      else check = v, doCheck = 1;
    } else if (!strcmp(a, "--no-check")) {
      doCheck = 0;
    } else if (!strcmp(a, "--dxt24-as-rgba")) {
      asRGBA = 1;
    } else if (a[0] == '-' && a[1] != 0) {
      snprintf(message, sizeof message, "unknown option %s", a);
      return Usage(message);
    } else if (path != NULL) {
      return Usage("more than one movie given");
    } else {
      path = a;
    }
  }
  if (path == NULL) return Usage("no movie given");

  Player p;
  memset(&p, 0, sizeof p);
  p.path = path;
  p.textureFlags = asRGBA ? 0 : ORX_TEXTURE_DXT24_BLOCKS;
  Gl gl;
  memset(&gl, 0, sizeof gl);
  gl.context = EGL_NO_CONTEXT;
  int status = 1;
  const char* glProblem = NULL;

  orx_error err = orx_movie_open(path, &p.reader, p.problem, sizeof p.problem);
  if (err != ORX_OK) {
    status = Fail(path, p.problem[0] != 0 ? p.problem : orx_error_string(err));
    goto done;
  }
  if ((err = orx_movie_get_props(p.reader, &p.props)) != ORX_OK) {
    ReaderFailed(&p, err);
    status = Fail(path, p.problem);
    goto done;
  }
  const int32_t frames = p.props.frame_count;
  if (frames < 1) {
    status = Fail(path, orx_error_string(ORX_ERROR_NO_FRAMES));
    goto done;
  }
  if (check < 0) check = frames / 2;
  if (doCheck && check >= frames) {
    snprintf(message, sizeof message, "--check %ld: the movie has frames 0 to %d", check, (int)frames - 1);
    status = Usage(message);
    goto done;
  }
  if ((err = orx_decoder_create(&p.decoder)) != ORX_OK ||
      (p.frame = malloc(p.props.max_frame_size > 0 ? p.props.max_frame_size : 1)) == NULL) {
    status = Fail(path, orx_error_string(err != ORX_OK ? err : ORX_ERROR_OUT_OF_MEMORY));
    goto done;
  }
  if ((glProblem = OpenGl(&gl)) != NULL || (glProblem = PrepareTarget(&gl, p.props.width, p.props.height)) != NULL) {
    status = Fail(NULL, glProblem);
    goto done;
  }

  const double start = Seconds();
  for (long loop = 0; loop < loops; ++loop)
    for (int32_t i = 0; i < frames; ++i)
      if (ReadFrame(&p, i) != 0 || DrawFrame(&p, &gl, i) != 0) {
        status = Fail(path, p.problem);
        goto done;
      }
  const double elapsed = Seconds() - start;

  int maxDiff = 0;
  if (doCheck && CheckFrame(&p, &gl, (int32_t)check, &maxDiff) != 0) {
    status = Fail(path, p.problem);
    goto done;
  }

  const double played = (double)frames * (double)loops;
  const char* renderer = (const char*)glGetString(GL_RENDERER);
  printf("%s: %.0f frames of %dx%d %s in %.2f s: %.1f fps (renderer: %s)", kProgram, played, (int)p.props.width,
         (int)p.props.height, p.mixedVariants ? "mixed variants" : VariantName(p.variant), elapsed,
         elapsed > 0 ? played / elapsed : 0.0, renderer != NULL ? renderer : "unknown");
  if (doCheck)
    printf("; frame %ld matches the RGBA road within %d level%s (max difference %d)", check, kTolerance,
           kTolerance == 1 ? "" : "s", maxDiff);
  printf("\n");
  status = 0;

done:
  CloseGl(&gl);
  free(p.buffer);
  free(p.frame);
  orx_decoder_destroy(p.decoder);
  orx_movie_close(p.reader);
  return status;
}
