// One texture object with its size and upload paths. Every call needs the
// owner's context current; the destructor releases nothing (DeleteTexture).
#pragma once

#include "quicktime/Common/OpenGL/GLExtensions.h"

class GLTexture {
 public:
  enum PixelFormat { RGBA8 = 0, RGB8 = 1, DXT16 = 2, DXT16A = 3, DXT24 = 4, DXT24A = 5 };

  GLTexture() { Reset(); }
  void Reset();
  bool IsResident() const;
  void DeleteTexture();

  void UploadRGBA8Image(GLExtensions& ext, const void* data, int width, int height, int rowBytes, GLenum target,
                        bool mipmap);
  void UploadRGB8Image(GLExtensions& ext, const void* data, int width, int height, int rowBytes, GLenum target,
                       bool mipmap);
  void UploadDXT16Image(GLExtensions& ext, const void* data, int width, int height, int paddedWidth, int paddedHeight,
                        GLenum target);
  void UploadDXT16ImageWithAlpha(GLExtensions& ext, const void* data, int width, int height, int paddedWidth,
                                 int paddedHeight, GLenum target);
  // Block rows of a larger image, for drawing it in bands: the storage is
  // paddedWidth x storageHeight (a band's height, kept for every band of the
  // frame) and the first `rows` pixel rows of it (whole blocks) are replaced.
  void UploadDXT16Rows(GLExtensions& ext, const void* data, bool alpha, int paddedWidth, int storageHeight, int rows);
  void UploadDXT24Image(GLExtensions& ext, const void* data, int width, int height, int paddedWidth,
                        int paddedHeight, GLenum target);
  void UploadDXT24ImageWithAlpha(GLExtensions& ext, const void* data, int width, int height, int paddedWidth,
                                 int paddedHeight, GLenum target);

  static void SetTextureModes(GLExtensions& ext, GLenum target, bool linear, bool mipmap, bool repeat);
  void BindTexture(GLExtensions& ext, bool linear, bool mipmap, bool repeat);
  void UnbindTexture();
  void SetTextureMatrix();
  void GetSourceSize(int* w, int* h) const {
    *w = width;
    *h = height;
  }

  GLenum target;
  GLuint texture;
  GLint width, height;
  GLint textureWidth, textureHeight;
  // The internal format the storage was specified with: storage of another
  // format is specified anew (a compressed upload into storage of another
  // format would be refused and leave the previous picture).
  GLint internalFormat;

 private:
  void _UploadImage(GLExtensions& ext, PixelFormat format, const void* data, int width, int height, int paddedWidth,
                    int paddedHeight, int rowBytes, GLenum target, bool mipmap, int uploadRows = -1);
};
