#include "quicktime/Common/OpenGL/GLFBO.h"

void GLFBOClass::ColorAttachmentInfo::Update(GLExtensions& ext, GLFBOClass& owner, int index) {
  // The texture is made once; one that still exists is kept.
  if (texture != 0 && glIsTexture(texture)) return;
  glGenTextures(1, &texture);
  glBindTexture(owner.target, texture);
  glTexImage2D(owner.target, 0, GL_RGBA8, owner.textureWidth, owner.textureHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
  const bool mip = owner.mipmaps && owner.target == GL_TEXTURE_2D;
  if (mip && ext.glGenerateMipmapEXT) ext.glGenerateMipmapEXT(GL_TEXTURE_2D);
  glTexParameteri(owner.target, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(owner.target, GL_TEXTURE_MIN_FILTER, mip ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
  glTexParameteri(owner.target, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(owner.target, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glBindTexture(owner.target, 0);
  if (ext.glFramebufferTexture2DEXT)
    ext.glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT + index, owner.target, texture, 0);
}

bool GLFBOClass::Create(int w, int h, int wantDepth, bool wantMipmaps, GLExtensions& ext) {
  if (!ext.EXT_framebuffer_object || !ext.glGenFramebuffersEXT) return false;
  target = GL_TEXTURE_2D;
  mipmaps = wantMipmaps ? 1 : 0;
  ext.glGenFramebuffersEXT(1, &framebuffer);
  textureWidth = width = w;
  textureHeight = height = h;
  internalFormat = GL_RGBA8;
  depth = wantDepth;
  return true;
}

bool GLFBOClass::BindAsRenderTarget(GLExtensions& ext) {
  if (!ext.glBindFramebufferEXT || !ext.glCheckFramebufferStatusEXT) return false;
  ext.glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer);
  for (int i = 0; i < colourCount; ++i) colour[i].Update(ext, *this, i);
  if (depth >= 1 && depthBuffer == 0 && ext.glGenRenderbuffersEXT) {
    ext.glGenRenderbuffersEXT(1, &depthBuffer);
    ext.glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, depthBuffer);
    ext.glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, GL_DEPTH_COMPONENT, textureWidth, textureHeight);
    ext.glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT, depthBuffer);
  }
  if (ext.glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT) == GL_FRAMEBUFFER_COMPLETE_EXT) return true;
  ext.glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, restoreFramebuffer);
  restoreFramebuffer = 0;
  return false;
}

bool GLFBOClass::UnbindAsRenderTarget(GLExtensions& ext) {
  restoreFramebuffer = 0;
  if (ext.glBindFramebufferEXT) ext.glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  return true;
}

bool GLFBOClass::BindAsTexture(GLExtensions& ext, bool generateMipmaps) {
  glBindTexture(target, colour[0].texture);
  if (generateMipmaps && mipmaps && target == GL_TEXTURE_2D && ext.glGenerateMipmapEXT)
    ext.glGenerateMipmapEXT(GL_TEXTURE_2D);
  return true;
}

bool GLFBOClass::UnbindAsTexture(GLExtensions&) {
  glBindTexture(target, 0);
  return true;
}

void GLFBOClass::SetTextureMatrix() {
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  if (textureWidth > 0 && textureHeight > 0)
    glScaled(static_cast<double>(width) / textureWidth, static_cast<double>(height) / textureHeight, 1.0);
}

void GLFBOClass::FreeResources(GLExtensions& ext) {
  if (framebuffer != 0 && ext.glBindFramebufferEXT) {
    GLint previous = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &previous);
    ext.glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer);
    if (ext.glFramebufferRenderbufferEXT)
      ext.glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT, 0);
    if (ext.glFramebufferTexture2DEXT)
      ext.glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, 0, 0);
    ext.glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, static_cast<GLuint>(previous));
    if (ext.glDeleteFramebuffersEXT) ext.glDeleteFramebuffersEXT(1, &framebuffer);
  }
  if (depthBuffer != 0 && ext.glDeleteRenderbuffersEXT) ext.glDeleteRenderbuffersEXT(1, &depthBuffer);
  for (int i = 0; i < colourCount; ++i) {
    if (colour[i].texture != 0) glDeleteTextures(1, &colour[i].texture);
    colour[i].texture = 0;
  }
  framebuffer = 0;
  depthBuffer = 0;
}
