// One framebuffer object with its colour texture and optional depth buffer.
// Needs the owner's context current; the destructor releases nothing.
#pragma once

#include "quicktime/Common/OpenGL/GLExtensions.h"

class GLFBOClass {
 public:
  struct ColorAttachmentInfo {
    GLuint texture = 0;
    void Update(GLExtensions& ext, GLFBOClass& owner, int index);
  };

  GLFBOClass() = default;
  virtual ~GLFBOClass() = default;

  bool IsValid(GLExtensions&) const { return framebuffer != 0; }
  bool Create(int width, int height, int depth, bool mipmaps, GLExtensions& ext);
  bool BindAsRenderTarget(GLExtensions& ext);
  bool UnbindAsRenderTarget(GLExtensions& ext);
  bool BindAsTexture(GLExtensions& ext, bool generateMipmaps);
  bool UnbindAsTexture(GLExtensions& ext);
  void SetTextureMatrix();
  void FreeResources(GLExtensions& ext);

  GLuint framebuffer = 0;
  int colourCount = 1;
  ColorAttachmentInfo colour[2];
  GLuint depthBuffer = 0;
  GLuint restoreFramebuffer = 0;
  int textureWidth = 0, textureHeight = 0;
  int width = 0, height = 0;
  GLenum internalFormat = GL_RGBA8;
  GLenum target = 0;
  GLint mipmaps = 0;
  int depth = 0;
};
