#include "quicktime/Common/OpenGL/GLDecompressorResources.h"

// The program sources, character for character as the format lays them
// down (every run of spaces is part of a source), one statement a literal.

const char* const kORXBlendProgram =
    "      uniform sampler2D TEX0;"
    "       uniform sampler2D TEX1;"
    "       uniform vec2 minST0;"
    "       uniform vec2 maxST0;"
    "       uniform vec2 minST1;"
    "       uniform vec2 maxST1;"
    "       uniform float edgeLow;"
    "       uniform float edgeHigh;"
    "             void main()       {"
    "         vec2 st0 = clamp(gl_TexCoord[0].st, minST0, maxST0);"
    "         vec2 st1 = clamp(gl_TexCoord[1].st, minST1, maxST1);"
    "         vec4 t  = texture2D(TEX0, st0);"
    "         vec4 qt = texture2D(TEX1, st1);"
    "         float e = smoothstep(edgeLow,edgeHigh,qt.a);"
    "         gl_FragColor.gba = mix(qt.rgb,t.rgb,e);"
    "         gl_FragColor.r = t.a;"
    "       }";
const char* const kORXPlainProgram =
    "      uniform sampler2D TEX0;"
    "       uniform vec2 minST0;"
    "       uniform vec2 maxST0;"
    "             void main()       {"
    "         vec2 st0 = clamp(gl_TexCoord[0].st, minST0, maxST0);"
    "         vec4 t  = texture2D(TEX0, st0);"
    "         gl_FragColor = t.argb;"
    "       }";
const char* const kORXDXT24Program =
    "      #extension GL_EXT_gpu_shader4 : enable \n"
    "       uniform usampler2DRect TEX0;"
    "       void main()       {"
    "        int _x = int(floor(gl_TexCoord[0].s));"
    "         int x = (_x / 10) * 10;"
    "         uint bx = uint(fract(gl_TexCoord[0].s/10.0)*4.0);"
    "                 int y = int(floor(gl_TexCoord[0].t));"
    "         uint by = uint(fract(gl_TexCoord[0].t)*4.0);"
    "        uint _c0r = texture2DRect(TEX0, vec2(x+0,y)).x;"
    "         uint _c0g = texture2DRect(TEX0, vec2(x+1,y)).x;"
    "         uint _c0b = texture2DRect(TEX0, vec2(x+2,y)).x;"
    "         uint _c1r = texture2DRect(TEX0, vec2(x+3,y)).x;"
    "         uint _c1g = texture2DRect(TEX0, vec2(x+4,y)).x;"
    "         uint _c1b = texture2DRect(TEX0, vec2(x+5,y)).x;"
    "         vec3 c[4];"
    "           c[0].r = float(_c0r) / 255.0;"
    "         c[0].g = float(_c0g) / 255.0;"
    "         c[0].b = float(_c0b) / 255.0;"
    "         c[1].r = float(_c1r) / 255.0;"
    "         c[1].g = float(_c1g) / 255.0;"
    "         c[1].b = float(_c1b) / 255.0;"
    "                 uint row = texture2DRect(TEX0, vec2(x+6+by,y)).x;"
    "        uint i = (row >> (bx*2)) & 3;"
    "        c[2] = (c[0] * 2.0 / 3.0) + (c[1] / 3.0);"
    "         c[3] = (c[0] / 3.0) + (c[1] * 2.0 / 3.0);"
    "         gl_FragColor.gba = c[i];"
    "         gl_FragColor.r = 1.0;"
    "       }";
// No working source: frames that would need it decode on the processor.
const char* const kORXDXT24AlphaProgram = "      }";

namespace {

const char* const kSources[4] = {kORXBlendProgram, kORXPlainProgram, kORXDXT24Program, kORXDXT24AlphaProgram};

GLSLProgram& Prepare(GLDecompressorResources* res, GLExtensions& ext, int index) {
  GLSLProgram& p = res->programs[index];
  if (p.program == 0 || p.shader == 0) {
    p.CreateGLResources(ext);
    p.Init(kSources[index], ext);  // a program that fails keeps its objects and its log
  }
  if (ext.glUseProgramObjectARB) ext.glUseProgramObjectARB(p.program);
  return p;
}

void SetInt(GLExtensions& ext, GLhandleARB program, const char* name, int v) {
  const GLint loc = ext.glGetUniformLocationARB ? ext.glGetUniformLocationARB(program, name) : -1;
  if (loc >= 0 && ext.glUniform1iARB) ext.glUniform1iARB(loc, v);
}

void SetFloat(GLExtensions& ext, GLhandleARB program, const char* name, double v) {
  const GLint loc = ext.glGetUniformLocationARB ? ext.glGetUniformLocationARB(program, name) : -1;
  if (loc >= 0 && ext.glUniform1fARB) ext.glUniform1fARB(loc, static_cast<float>(v));
}

void SetVec2(GLExtensions& ext, GLhandleARB program, const char* name, double x, double y) {
  const GLint loc = ext.glGetUniformLocationARB ? ext.glGetUniformLocationARB(program, name) : -1;
  if (loc >= 0 && ext.glUniform2fARB) ext.glUniform2fARB(loc, static_cast<float>(x), static_cast<float>(y));
}

// Texel-centre clamp bounds of a texture's used area.
void SetBounds(GLExtensions& ext, GLhandleARB program, const GLTexture& t, const char* minName, const char* maxName) {
  const double tw = t.textureWidth > 0 ? t.textureWidth : 1, th = t.textureHeight > 0 ? t.textureHeight : 1;
  SetVec2(ext, program, minName, 0.5 / tw, 0.5 / th);
  SetVec2(ext, program, maxName, (t.width - 0.5) / tw, (t.height - 0.5) / th);
}

}  // namespace

void ApplyORXShader(GLDecompressorResources* res, GLExtensions& ext, double edgeHigh, bool blend) {
  GLSLProgram& p = Prepare(res, ext, blend ? 0 : 1);
  SetInt(ext, p.program, "TEX0", 0);
  SetInt(ext, p.program, "TEX1", 1);
  SetFloat(ext, p.program, "edgeLow", 0.0);
  SetFloat(ext, p.program, "edgeHigh", edgeHigh);
  SetBounds(ext, p.program, res->textures[0], "minST0", "maxST0");
  SetBounds(ext, p.program, res->textures[1], "minST1", "maxST1");
}

void ApplyDXT24Shader(GLDecompressorResources* res, GLExtensions& ext, bool alpha) {
  GLSLProgram& p = Prepare(res, ext, alpha ? 3 : 2);
  SetInt(ext, p.program, "TEX0", 0);
  SetBounds(ext, p.program, res->textures[0], "minST0", "maxST0");
}

void GLDecompressorResources::FreeResources() {
  if (ActivateContext()) {
    textures[0].DeleteTexture();
    textures[1].DeleteTexture();
    fbo.FreeResources(extensions);
    for (GLSLProgram& p : programs) p.ReleaseGLResources(extensions);
  }
  DeleteContext();
}
