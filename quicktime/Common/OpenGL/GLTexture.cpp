#include "quicktime/Common/OpenGL/GLTexture.h"

namespace {

int NextPowerOfTwo(int n) {
  int p = 1;
  while (p < n && p < (1 << 30)) p <<= 1;
  return p;
}

}  // namespace

void GLTexture::Reset() {
  target = 0;
  texture = 0;
  width = height = 0;
  textureWidth = textureHeight = 0;
  internalFormat = 0;
}

bool GLTexture::IsResident() const {
  if (texture == 0) return false;
  GLboolean resident = GL_FALSE;
  return glAreTexturesResident(1, &texture, &resident) == GL_TRUE || resident == GL_TRUE;
}

void GLTexture::DeleteTexture() {
  if (texture != 0) glDeleteTextures(1, &texture);
  Reset();
}

void GLTexture::UploadRGBA8Image(GLExtensions& ext, const void* data, int w, int h, int rowBytes, GLenum t, bool mip) {
  _UploadImage(ext, RGBA8, data, w, h, w, h, rowBytes, t, mip);
}
void GLTexture::UploadRGB8Image(GLExtensions& ext, const void* data, int w, int h, int rowBytes, GLenum t, bool mip) {
  _UploadImage(ext, RGB8, data, w, h, w, h, rowBytes, t, mip);
}
void GLTexture::UploadDXT16Image(GLExtensions& ext, const void* data, int w, int h, int pw, int ph, GLenum t) {
  _UploadImage(ext, DXT16, data, w, h, pw, ph, 0, t, false);
}
void GLTexture::UploadDXT16ImageWithAlpha(GLExtensions& ext, const void* data, int w, int h, int pw, int ph, GLenum t) {
  _UploadImage(ext, DXT16A, data, w, h, pw, ph, 0, t, false);
}
void GLTexture::UploadDXT16Rows(GLExtensions& ext, const void* data, bool alpha, int pw, int storageHeight, int rows) {
  _UploadImage(ext, alpha ? DXT16A : DXT16, data, pw, storageHeight, pw, storageHeight, 0, GL_TEXTURE_2D, false, rows);
}
void GLTexture::UploadDXT24Image(GLExtensions& ext, const void* data, int w, int h, int pw, int ph, GLenum t) {
  _UploadImage(ext, DXT24, data, w, h, pw, ph, 0, t, false);
}
void GLTexture::UploadDXT24ImageWithAlpha(GLExtensions& ext, const void* data, int w, int h, int pw, int ph, GLenum t) {
  _UploadImage(ext, DXT24A, data, w, h, pw, ph, 0, t, false);
}

void GLTexture::_UploadImage(GLExtensions& ext, PixelFormat format, const void* data, int w, int h, int paddedWidth,
                             int paddedHeight, int rowBytes, GLenum t, bool mipmap, int uploadRows) {
  if (data == nullptr || w <= 0 || h <= 0) return;
  const bool block = format != RGBA8 && format != RGB8;
  int imageW = block ? paddedWidth : w, imageH = block ? paddedHeight : h;
  int texW = t == GL_TEXTURE_2D ? NextPowerOfTwo(imageW) : imageW;
  int texH = t == GL_TEXTURE_2D ? NextPowerOfTwo(imageH) : imageH;
  if (format == DXT24) {  // one byte a texel, ten texels a block, one texel row per block row
    imageW = texW = paddedWidth / 4 * 10;
    imageH = texH = paddedHeight / 4;
  }

  // A texture name that no longer exists is replaced; an existing one is
  // kept for the same target and deleted for another.
  bool fresh = false;
  if (texture != 0 && glIsTexture(texture)) {
    if (target != t) {
      DeleteTexture();
      glGenTextures(1, &texture);
      fresh = true;
    }
  } else {
    glGenTextures(1, &texture);
    fresh = true;
  }
  GLint internal = GL_RGBA8;
  if (format == DXT16) internal = GL_COMPRESSED_RGBA_S3TC_DXT1_EXT;
  else if (format == DXT16A) internal = GL_COMPRESSED_RGBA_S3TC_DXT5_EXT;
  else if (format == RGB8) internal = GL_RGB8;
  else if (format == DXT24 || format == DXT24A) internal = GL_LUMINANCE8UI_EXT;
  const bool respecify = fresh || imageW != width || imageH != height || texW != textureWidth ||
                         texH != textureHeight || internal != internalFormat;

  glBindTexture(t, texture);
  target = t;
  SetTextureModes(ext, t, true, mipmap, false);

  if (format == DXT16 || format == DXT16A) {
    const int rows = uploadRows >= 0 && uploadRows < paddedHeight ? uploadRows : paddedHeight;
    const GLsizei size = format == DXT16 ? paddedWidth * rows / 2 : paddedWidth * rows;
    if (respecify) glTexImage2D(t, 0, internal, texW, texH, 0, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
    if (ext.glCompressedTexSubImage2D && rows > 0)
      ext.glCompressedTexSubImage2D(t, 0, 0, 0, paddedWidth, rows, static_cast<GLenum>(internal), size, data);
  } else {
    GLenum external = GL_RGBA;
    int bytesPerPixel = 4;
    if (format == RGB8) {
      external = GL_RGB;
      bytesPerPixel = 3;
    } else if (format == DXT24 || format == DXT24A) {
      external = GL_LUMINANCE_INTEGER_EXT;
    }
    if (respecify) glTexImage2D(t, 0, internal, texW, texH, 0, external, GL_UNSIGNED_BYTE, nullptr);
    if (rowBytes != 0 && rowBytes != bytesPerPixel * imageW) {
      glPixelStorei(GL_UNPACK_ROW_LENGTH, rowBytes / bytesPerPixel);
      glTexSubImage2D(t, 0, 0, 0, imageW, imageH, external, GL_UNSIGNED_BYTE, data);
      glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    } else {
      glTexSubImage2D(t, 0, 0, 0, imageW, imageH, external, GL_UNSIGNED_BYTE, data);
    }
  }
  width = imageW;
  height = imageH;
  textureWidth = texW;
  textureHeight = texH;
  internalFormat = internal;
}

void GLTexture::SetTextureModes(GLExtensions&, GLenum t, bool linear, bool mipmap, bool repeat) {
  const GLint wrap = repeat ? GL_REPEAT : GL_CLAMP_TO_EDGE;
  glTexParameteri(t, GL_TEXTURE_WRAP_S, wrap);
  glTexParameteri(t, GL_TEXTURE_WRAP_T, wrap);
  if (mipmap) {
    glTexParameteri(t, GL_GENERATE_MIPMAP, 1);
    if (t == GL_TEXTURE_2D) {
      glTexParameteri(t, GL_TEXTURE_MAG_FILTER, linear ? GL_LINEAR : GL_NEAREST);
      glTexParameteri(t, GL_TEXTURE_MIN_FILTER, linear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_NEAREST);
      return;
    }
  } else {
    glTexParameteri(t, GL_GENERATE_MIPMAP, 0);
  }
  glTexParameteri(t, GL_TEXTURE_MAG_FILTER, linear ? GL_LINEAR : GL_NEAREST);
  glTexParameteri(t, GL_TEXTURE_MIN_FILTER, linear ? GL_LINEAR : GL_NEAREST);
}

void GLTexture::BindTexture(GLExtensions& ext, bool linear, bool mipmap, bool repeat) {
  if (target == 0 || texture == 0) return;
  glBindTexture(target, texture);
  SetTextureModes(ext, target, linear, mipmap, repeat);
}

void GLTexture::UnbindTexture() {
  if (target != 0) glBindTexture(target, 0);
}

void GLTexture::SetTextureMatrix() {
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  if (target == GL_TEXTURE_2D && textureWidth > 0 && textureHeight > 0)
    glScaled(static_cast<double>(width) / textureWidth, static_cast<double>(height) / textureHeight, 1.0);
  else
    glScaled(width, height, 1.0);
}
