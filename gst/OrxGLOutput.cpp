#include "OrxGLOutput.h"

#include <gst/gl/gstglfuncs.h>

#include <atomic>
#include <cstring>
#include <string>

struct OrxGLOutput {
  GstGLDisplay* display = nullptr;
  GstGLContext* other = nullptr;    // the application's, handed over by a context
  GstGLContext* context = nullptr;  // the one frames are drawn in
  // Made in the GL thread on the first frame that needs them.
  GLuint blocks = 0;  // the frame's texture: S3TC or DXT24 blocks
  GLuint vbo = 0, vao = 0;
  GstGLShader* programs[2] = {nullptr, nullptr};  // S3TC texels, DXT24 blocks
  bool programsTried[2] = {false, false};
  GstGLFramebuffer* framebuffer = nullptr;
  std::atomic<int> objects{0};
};

namespace {

// The dialect the context speaks: its version line (with ES's precision).
struct Dialect {
  const char* version = nullptr;  // null: the context cannot run the programs
};

Dialect DialectOf(GstGLContext* context) {
  Dialect d;
  const GstGLAPI api = gst_gl_context_get_gl_api(context);
  if ((api & GST_GL_API_GLES2) != 0 && gst_gl_context_check_gl_version(context, GST_GL_API_GLES2, 3, 0)) {
    d.version = "#version 300 es\nprecision highp float;\nprecision highp int;\n";
  } else if ((api & GST_GL_API_OPENGL3) != 0 && gst_gl_context_check_gl_version(context, GST_GL_API_OPENGL3, 3, 2)) {
    d.version = "#version 150\n";
  } else if ((api & GST_GL_API_OPENGL) != 0 && gst_gl_context_check_gl_version(context, GST_GL_API_OPENGL, 3, 0)) {
    d.version = "#version 130\n";
  }
  return d;
}

// The quad's corners and the picture's pixel coordinates at them: y = 0 at
// the bottom of the framebuffer, which is row 0 of a GL memory texture, the
// picture's top row.
const char kVertex[] =
    "in vec4 a_position;\n"
    "in vec2 a_texcoord;\n"
    "uniform vec2 orx_size;\n"
    "out vec2 orx_pixel;\n"
    "void main() {\n"
    "  gl_Position = a_position;\n"
    "  orx_pixel = a_texcoord * orx_size;\n"
    "}\n";

// S3TC texels as the driver decodes them, one a pixel.
const char kS3TC[] =
    "uniform sampler2D orx_texture;\n"
    "in vec2 orx_pixel;\n"
    "out vec4 orx_color;\n"
    "void main() {\n"
    "  orx_color = texelFetch(orx_texture, ivec2(floor(orx_pixel)), 0);\n"
    "}\n";

// liborx's DXT24 program without its version line: the dialect's goes
// first (its ES form differs only in that line and the precision lines the
// dialect adds).
std::string DXT24Body() {
  const std::string source = orx_dxt24_fragment_shader(0);
  const size_t eol = source.find('\n');
  return eol == std::string::npos ? "" : source.substr(eol + 1);
}

GstGLShader* MakeProgram(GstGLContext* context, int which) {
  const Dialect d = DialectOf(context);
  if (d.version == nullptr) return nullptr;
  const std::string vertex = std::string(d.version) + kVertex;
  const std::string fragment = std::string(d.version) + (which == 0 ? std::string(kS3TC) : DXT24Body());
  GError* error = nullptr;
  GstGLSLStage* vs = gst_glsl_stage_new_with_string(context, GL_VERTEX_SHADER, GST_GLSL_VERSION_NONE,
                                                    GST_GLSL_PROFILE_NONE, vertex.c_str());
  GstGLSLStage* fs = gst_glsl_stage_new_with_string(context, GL_FRAGMENT_SHADER, GST_GLSL_VERSION_NONE,
                                                    GST_GLSL_PROFILE_NONE, fragment.c_str());
  GstGLShader* shader = gst_gl_shader_new(context);
  bool ok = vs != nullptr && fs != nullptr && gst_gl_shader_compile_attach_stage(shader, vs, &error) &&
            gst_gl_shader_compile_attach_stage(shader, fs, &error);
  if (ok) {
    gst_gl_shader_bind_attribute_location(shader, 0, "a_position");
    gst_gl_shader_bind_attribute_location(shader, 1, "a_texcoord");
    ok = gst_gl_shader_link(shader, &error);
  }
  if (!ok) {
    GST_WARNING("orxdec: the %s program does not build: %s", which == 0 ? "S3TC" : "DXT24",
                error != nullptr ? error->message : "no stage");
    g_clear_error(&error);
    gst_object_unref(shader);
    return nullptr;
  }
  return shader;
}

// The GL thread's half of a draw.
struct Draw {
  OrxGLOutput* gl;
  const orx_texture* tex;
  bool alpha;
  GstGLMemory* target;
  const char* why = nullptr;
  bool done = false;
};

gboolean DrawQuad(gpointer data) {
  Draw& d = *static_cast<Draw*>(data);
  OrxGLOutput& gl = *d.gl;
  const GstGLFuncs* f = gl.context->gl_vtable;
  const int which = d.tex->compressed == ORX_TEXTURE_BLOCKS ? 1 : 0;
  GstGLShader* program = gl.programs[which];
  gst_gl_shader_use(program);
  gst_gl_shader_set_uniform_2f(program, "orx_size", float(d.tex->width), float(d.tex->height));
  if (which == 1) {
    gst_gl_shader_set_uniform_1i(program, "orx_blocks", 0);
    gst_gl_shader_set_uniform_1i(program, "orx_blocks_across", (d.tex->width + 3) / 4);
    gst_gl_shader_set_uniform_1i(program, "orx_alpha", d.alpha ? 1 : 0);
  } else {
    gst_gl_shader_set_uniform_1i(program, "orx_texture", 0);
  }
  f->ActiveTexture(GL_TEXTURE0);
  f->BindTexture(GL_TEXTURE_2D, gl.blocks);
  if (gl.vao != 0) f->BindVertexArray(gl.vao);
  f->BindBuffer(GL_ARRAY_BUFFER, gl.vbo);
  f->VertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(GLfloat), nullptr);
  f->VertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(GLfloat),
                         reinterpret_cast<const void*>(2 * sizeof(GLfloat)));
  f->EnableVertexAttribArray(0);
  f->EnableVertexAttribArray(1);
  f->Disable(GL_BLEND);
  f->DrawArrays(GL_TRIANGLE_STRIP, 0, 4);
  f->DisableVertexAttribArray(0);
  f->DisableVertexAttribArray(1);
  f->BindBuffer(GL_ARRAY_BUFFER, 0);
  if (gl.vao != 0) f->BindVertexArray(0);
  f->BindTexture(GL_TEXTURE_2D, 0);
  gst_gl_context_clear_shader(gl.context);
  return TRUE;
}

// Makes what a draw needs, once: the block texture, the quad, the
// framebuffer, the frame's program.
bool Prepare(OrxGLOutput& gl, int which, const char** why) {
  const GstGLFuncs* f = gl.context->gl_vtable;
  if (gl.blocks == 0) {
    f->GenTextures(1, &gl.blocks);
    f->BindTexture(GL_TEXTURE_2D, gl.blocks);
    f->TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    f->TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    f->TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    f->TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    f->TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    f->BindTexture(GL_TEXTURE_2D, 0);
    ++gl.objects;
  }
  if (gl.vbo == 0) {
    static const GLfloat kQuad[] = {-1, -1, 0, 0, 1, -1, 1, 0, -1, 1, 0, 1, 1, 1, 1, 1};
    if (f->GenVertexArrays != nullptr) {
      f->GenVertexArrays(1, &gl.vao);
      ++gl.objects;
    }
    f->GenBuffers(1, &gl.vbo);
    f->BindBuffer(GL_ARRAY_BUFFER, gl.vbo);
    f->BufferData(GL_ARRAY_BUFFER, sizeof kQuad, kQuad, GL_STATIC_DRAW);
    f->BindBuffer(GL_ARRAY_BUFFER, 0);
    ++gl.objects;
  }
  if (gl.framebuffer == nullptr) {
    gl.framebuffer = gst_gl_framebuffer_new(gl.context);
    ++gl.objects;
  }
  if (!gl.programsTried[which]) {
    gl.programsTried[which] = true;
    gl.programs[which] = MakeProgram(gl.context, which);
    if (gl.programs[which] != nullptr) ++gl.objects;
  }
  if (gl.programs[which] == nullptr) {
    *why = "the GL context cannot build the decoding program";
    return false;
  }
  return true;
}

void DrawInGLThread(GstGLContext* context, gpointer data) {
  Draw& d = *static_cast<Draw*>(data);
  OrxGLOutput& gl = *d.gl;
  const GstGLFuncs* f = context->gl_vtable;
  const orx_texture& t = *d.tex;
  const int which = t.compressed == ORX_TEXTURE_BLOCKS ? 1 : 0;
  if (t.compressed == 1 && !gst_gl_context_check_feature(context, "GL_EXT_texture_compression_s3tc")) {
    d.why = "the GL context has no S3TC textures";
    return;
  }
  if (!Prepare(gl, which, &d.why)) return;
  while (f->GetError() != GL_NO_ERROR) {
  }
  f->BindTexture(GL_TEXTURE_2D, gl.blocks);
  f->PixelStorei(GL_UNPACK_ALIGNMENT, 4);
  if (t.compressed == 1)
    f->CompressedTexImage2D(GL_TEXTURE_2D, 0, t.gl_internal_format, t.tex_width, t.tex_height, 0,
                            GLsizei(t.size), t.data);
  else
    f->TexImage2D(GL_TEXTURE_2D, 0, GLint(t.gl_internal_format), t.tex_width, t.tex_height, 0, t.gl_format,
                  t.gl_type, t.data);
  f->BindTexture(GL_TEXTURE_2D, 0);
  if (!gst_gl_framebuffer_draw_to_texture(gl.framebuffer, d.target, DrawQuad, &d)) {
    d.why = "the framebuffer cannot draw into the output texture";
    return;
  }
  const GLenum error = f->GetError();
  if (error != GL_NO_ERROR) {
    d.why = "a GL error while drawing the frame";
    return;
  }
  d.done = true;
}

void ReleaseInGLThread(GstGLContext* context, gpointer data) {
  OrxGLOutput& gl = *static_cast<OrxGLOutput*>(data);
  const GstGLFuncs* f = context->gl_vtable;
  if (gl.blocks != 0) f->DeleteTextures(1, &gl.blocks);
  if (gl.vbo != 0) f->DeleteBuffers(1, &gl.vbo);
  if (gl.vao != 0) f->DeleteVertexArrays(1, &gl.vao);
  for (GstGLShader*& p : gl.programs) g_clear_pointer(reinterpret_cast<gpointer*>(&p), gst_object_unref);
  g_clear_pointer(reinterpret_cast<gpointer*>(&gl.framebuffer), gst_object_unref);
  gl.blocks = gl.vbo = gl.vao = 0;
  gl.programsTried[0] = gl.programsTried[1] = false;
  gl.objects = 0;
}

}  // namespace

OrxGLOutput* OrxGLOutputNew() { return new OrxGLOutput; }

void OrxGLOutputReset(OrxGLOutput* gl) {
  if (gl == nullptr) return;
  if (gl->context != nullptr) gst_gl_context_thread_add(gl->context, ReleaseInGLThread, gl);
  gst_clear_object(&gl->context);
  gst_clear_object(&gl->other);
  gst_clear_object(&gl->display);
}

void OrxGLOutputFree(OrxGLOutput* gl) {
  OrxGLOutputReset(gl);
  delete gl;
}

void OrxGLOutputSetContext(OrxGLOutput* gl, GstElement* element, GstContext* context) {
  gst_gl_handle_set_context(element, context, &gl->display, &gl->other);
}

bool OrxGLOutputHandleQuery(OrxGLOutput* gl, GstElement* element, GstQuery* query) {
  return GST_QUERY_TYPE(query) == GST_QUERY_CONTEXT &&
         gst_gl_handle_context_query(element, query, gl->display, gl->context, gl->other);
}

bool OrxGLOutputEnsureContext(OrxGLOutput* gl, GstElement* element) {
  if (!gst_gl_ensure_element_data(element, &gl->display, &gl->other)) return false;
  gst_gl_display_filter_gl_api(gl->display, GstGLAPI(GST_GL_API_OPENGL | GST_GL_API_OPENGL3 | GST_GL_API_GLES2));
  // The context downstream already has, else the display's for this thread.
  if (gl->context == nullptr)
    gst_gl_query_local_gl_context(element, GST_PAD_SRC, &gl->context);
  if (gl->context == nullptr) {
    GST_OBJECT_LOCK(gl->display);
    do {
      if (gl->context != nullptr) gst_object_unref(gl->context);
      gl->context = gst_gl_display_get_gl_context_for_thread(gl->display, nullptr);
      if (gl->context == nullptr) {
        GError* error = nullptr;
        if (!gst_gl_display_create_context(gl->display, gl->other, &gl->context, &error)) {
          g_clear_error(&error);
          break;
        }
      }
    } while (!gst_gl_display_add_context(gl->display, gl->context));
    GST_OBJECT_UNLOCK(gl->display);
  }
  return gl->context != nullptr;
}

GstGLContext* OrxGLOutputContext(OrxGLOutput* gl) { return gl->context; }

bool OrxGLOutputDraw(OrxGLOutput* gl, const orx_texture& tex, bool alpha, GstBuffer* out, const char** why) {
  *why = nullptr;
  GstMemory* mem = gst_buffer_n_memory(out) > 0 ? gst_buffer_peek_memory(out, 0) : nullptr;
  if (gl->context == nullptr || mem == nullptr || !gst_is_gl_memory(mem)) {
    *why = "the output buffer is not GL memory";
    return false;
  }
  Draw d{gl, &tex, alpha, reinterpret_cast<GstGLMemory*>(mem)};
  gst_gl_context_thread_add(gl->context, DrawInGLThread, &d);
  if (!d.done) *why = d.why != nullptr ? d.why : "the frame was not drawn";
  return d.done;
}

int OrxGLOutputObjects(const OrxGLOutput* gl) { return gl != nullptr ? gl->objects.load() : 0; }
