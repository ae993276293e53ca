#include "quicktime/Common/OpenGL/GLExtensions.h"

#include <cstdio>
#include <cstring>

int get_token(const char* src, char* buf, int size) {
  if (buf == nullptr || size < 1) return 0;
  if (src == nullptr) {
    buf[0] = 0;
    return 0;
  }
  const char* p = src;
  while (*p != 0 && static_cast<signed char>(*p) < 33) ++p;  // bytes 1-32 and 128-255 separate
  int stored = 0;
  auto store = [&](char ch) {
    if (stored < size - 1) buf[stored++] = ch;
  };
  if (*p == '"') {
    ++p;
    while (*p != 0 && *p != '"') {
      if (*p == '\\') {
        ++p;
        // A backslash marks the next byte: runs of backslashes collapse to one,
        // and a marked quote still ends the token.
        while (*p == '\\') ++p;
        if (*p == 0 || *p == '"') break;  // not copied by itself
        store('\\');
        store(*p++);
        continue;
      }
      store(*p++);
    }
    if (*p == '"') ++p;
  } else {
    while (*p != 0 && static_cast<signed char>(*p) >= 33) store(*p++);
  }
  buf[stored] = 0;
  return static_cast<int>(p - src);
}

GLExtensions::GLExtensions() {
  rendererName[0] = 0;
  maxTextureSize = 0;
  maxRenderbufferSize = 0;
  glVersion = 0.0;
#define ORX_GL_FLAG_CLEAR(member, name) member = 0;
  ORX_GL_EXTENSIONS(ORX_GL_FLAG_CLEAR)
#if defined(_WIN32)
  ORX_WGL_EXTENSIONS(ORX_GL_FLAG_CLEAR)
  WGL_ARB_extensions_string_flag = 0;
  WGL_EXT_extensions_string_flag = 0;
#endif
#undef ORX_GL_FLAG_CLEAR
}

const GLubyte* GLExtensions::GetString(GLenum name) { return glGetString(name); }
void GLExtensions::GetIntegerv(GLenum name, GLint* value) { glGetIntegerv(name, value); }

void GLExtensions::Initialize() {
  const char* renderer = reinterpret_cast<const char*>(GetString(GL_RENDERER));
  std::snprintf(rendererName, sizeof rendererName, "%s", renderer ? renderer : "");
  GetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);
  maxRenderbufferSize = 0;
  GetIntegerv(GL_MAX_RENDERBUFFER_SIZE_EXT, &maxRenderbufferSize);
#if defined(_WIN32)
  InitWGLExtensionsString();  // the WGL flags below need its entry points
#endif
  FindSupportedExtensions();
#if defined(_WIN32)
  InitWGLARBPbuffer();
  InitWGLARBPixelFormat();
  InitWGLARBRenderTexture();
  InitWGLARBMakeCurrentRead();
  InitWGLEXTSwapControl();
#endif
  InitARBMultitexture();
  InitARBTextureCompression();
  InitARBVertexBufferObject();
  InitARBVertexProgram();
  InitARBShaderObjects();
  InitARBVertexShader();
  InitARBImaging();
  InitEXTBlendFuncSeparate();
  InitEXTFramebufferObject();
  InitEXTVertexWeighting();
  InitNVRegisterCombiners();
  InitNVPixelDataRange();
}

void GLExtensions::FindSupportedExtensions() {
  glVersion = 0.0;
  if (const char* v = reinterpret_cast<const char*>(GetString(GL_VERSION))) {
    // Through the first '.', then its run of digits: "2.1 Vendor" gives 2.1,
    // "1.5.8" gives 1.5.
    size_t n = 0;
    const char* dot = std::strchr(v, '.');
    if (dot == nullptr) {
      n = std::strlen(v);
    } else {
      n = static_cast<size_t>(dot - v) + 1;
      while (v[n] >= '0' && v[n] <= '9') ++n;
    }
    if (n > 0) {
      char buf[1024];
      std::snprintf(buf, sizeof buf, "%.*s", static_cast<int>(n < 1023 ? n : 1023), v);
      double d = 0;
      if (std::sscanf(buf, "%lf", &d) == 1) glVersion = d;
    }
  }
#define ORX_GL_FLAG_QUERY(member, name) member = (name) ? QueryExtension(name) : 0;
  ORX_GL_EXTENSIONS(ORX_GL_FLAG_QUERY)
#undef ORX_GL_FLAG_QUERY
#if defined(_WIN32)
#define ORX_WGL_FLAG_QUERY(member, name) member = QueryWGLExtension(name);
  ORX_WGL_EXTENSIONS(ORX_WGL_FLAG_QUERY)
#undef ORX_WGL_FLAG_QUERY
#endif
}

namespace {
// Whether name is a whole token of an extension string.
int ListHas(const char* p, const char* name) {
  char token[1024];
  while (p != nullptr && *p != 0) {
    const int used = get_token(p, token, sizeof token);
    if (used <= 0) break;
    p += used;
    if (std::strcmp(token, name) == 0) return 1;
  }
  return 0;
}
}  // namespace

#if defined(_WIN32)
void GLExtensions::InitWGLExtensionsString() {
  wglGetExtensionsStringARB = reinterpret_cast<PFNWGLGETEXTENSIONSSTRINGARBPROC>(GetProcAddress("wglGetExtensionsStringARB"));
  wglGetExtensionsStringEXT = reinterpret_cast<PFNWGLGETEXTENSIONSSTRINGEXTPROC>(GetProcAddress("wglGetExtensionsStringEXT"));
  WGL_ARB_extensions_string_flag = wglGetExtensionsStringARB != nullptr;
  WGL_EXT_extensions_string_flag = wglGetExtensionsStringEXT != nullptr;
}

int GLExtensions::QueryWGLExtension(const char* name) {
  if (name == nullptr || *name == 0 || std::strchr(name, ' ') != nullptr) return 0;
  const char* list = nullptr;
  if (wglGetExtensionsStringARB) list = wglGetExtensionsStringARB(wglGetCurrentDC());
  else if (wglGetExtensionsStringEXT) list = wglGetExtensionsStringEXT();
  else return 0;
  return ListHas(list, name);
}
#endif

int GLExtensions::QueryExtension(const char* name) {
  if (name == nullptr || *name == 0 || std::strchr(name, ' ') != nullptr) return 0;
  return ListHas(reinterpret_cast<const char*>(GetString(GL_EXTENSIONS)), name);
}


#define ORX_GL_RESOLVE(type, name) name = reinterpret_cast<type>(GetProcAddress(#name));

void GLExtensions::InitARBMultitexture() {
  if (!ARB_multitexture) return;
  ORX_GL_ARB_MULTITEXTURE(ORX_GL_RESOLVE)
}

void GLExtensions::InitARBTextureCompression() {
  // Some resolvers hand out an address for any name (EGL's does, for GL
  // dispatch stubs), so an address alone proves nothing: the seven are core
  // in OpenGL 1.3 and otherwise need the extension advertised.
  if (glVersion < 1.3 && !QueryExtension("GL_ARB_texture_compression")) return;
  ORX_GL_ARB_TEXTURE_COMPRESSION(ORX_GL_RESOLVE)
  // All seven or none: a partial set is treated as absent.
  const bool all = glCompressedTexImage1D && glCompressedTexImage2D && glCompressedTexImage3D &&
                   glCompressedTexSubImage1D && glCompressedTexSubImage2D && glCompressedTexSubImage3D &&
                   glGetCompressedTexImage;
  if (all) {
    ARB_texture_compression = 1;
  } else {
#define ORX_GL_CLEAR_SLOT(type, name) name = nullptr;
    ORX_GL_ARB_TEXTURE_COMPRESSION(ORX_GL_CLEAR_SLOT)
#undef ORX_GL_CLEAR_SLOT
  }
}

void GLExtensions::InitARBVertexBufferObject() {
  if (!ARB_vertex_buffer_object) return;
  ORX_GL_ARB_VERTEX_BUFFER_OBJECT(ORX_GL_RESOLVE)
}

void GLExtensions::InitARBVertexProgram() {
  if (!ARB_vertex_program) return;
  ORX_GL_ARB_VERTEX_PROGRAM(ORX_GL_RESOLVE)
}

void GLExtensions::InitARBShaderObjects() {
  if (!ARB_shader_objects) return;
  ORX_GL_ARB_SHADER_OBJECTS(ORX_GL_RESOLVE)
}

void GLExtensions::InitARBVertexShader() {
  if (!ARB_vertex_shader) return;
  ORX_GL_ARB_VERTEX_SHADER(ORX_GL_RESOLVE)
}

void GLExtensions::InitARBImaging() {
  if (!ARB_imaging) return;
  ORX_GL_ARB_IMAGING(ORX_GL_RESOLVE)
}

void GLExtensions::InitEXTBlendFuncSeparate() {
  if (!EXT_blend_func_separate) return;
  ORX_GL_EXT_BLEND_FUNC_SEPARATE(ORX_GL_RESOLVE)
}

void GLExtensions::InitEXTFramebufferObject() {
  if (!EXT_framebuffer_object) return;
  ORX_GL_EXT_FRAMEBUFFER_OBJECT(ORX_GL_RESOLVE)
}

void GLExtensions::InitEXTVertexWeighting() {
  if (!EXT_vertex_weighting) return;
  ORX_GL_EXT_VERTEX_WEIGHTING(ORX_GL_RESOLVE)
}

void GLExtensions::InitNVRegisterCombiners() {
  if (!NV_register_combiners) return;
  ORX_GL_NV_REGISTER_COMBINERS(ORX_GL_RESOLVE)
}

void GLExtensions::InitNVPixelDataRange() {
  if (!NV_pixel_data_range) return;
  ORX_GL_NV_PIXEL_DATA_RANGE(ORX_GL_RESOLVE)
}

#if defined(_WIN32)
void GLExtensions::InitWGLARBPbuffer() {
  if (!WGL_ARB_pbuffer_flag) return;
  ORX_WGL_ARB_PBUFFER(ORX_GL_RESOLVE)
}

void GLExtensions::InitWGLARBPixelFormat() {
  if (!WGL_ARB_pixel_format_flag) return;
  ORX_WGL_ARB_PIXEL_FORMAT(ORX_GL_RESOLVE)
}

void GLExtensions::InitWGLARBRenderTexture() {
  if (!WGL_ARB_render_texture_flag) return;
  ORX_WGL_ARB_RENDER_TEXTURE(ORX_GL_RESOLVE)
}

void GLExtensions::InitWGLARBMakeCurrentRead() {
  if (!WGL_ARB_make_current_read_flag) return;
  ORX_WGL_ARB_MAKE_CURRENT_READ(ORX_GL_RESOLVE)
}

void GLExtensions::InitWGLEXTSwapControl() {
  if (!WGL_EXT_swap_control_flag) return;
  ORX_WGL_EXT_SWAP_CONTROL(ORX_GL_RESOLVE)
}
#endif
