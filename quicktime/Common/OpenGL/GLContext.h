// A private OpenGL context with no visible drawable, owned by one
// decompressor instance, with the extension registry of that context.
// The owner calls DeleteContext; the destructor releases nothing.
#pragma once

#include "quicktime/Common/OpenGL/GLExtensions.h"

class GLContext {
 public:
  GLContext();
  virtual ~GLContext();

  // Creates the context if there is none; true when one exists afterwards.
  // A new context is left not current.
  bool InitContext();
  // Makes the context current on this thread; false when there is none.
  bool ActivateContext();
  // Leaves no context current on this thread.
  void DeactivateContext();
  // Destroys the context; harmless when there is none.
  void DeleteContext();

  // What InitContext's context would render with, where the platform can
  // tell without making one: the renderer's name into name (cut to size)
  // and whether it is a software rasterizer. False when it cannot tell
  // (a context must then be asked). Makes no context and no display.
  static bool RendererWithoutContext(char* name, int size, bool* software);

  GLint maxTextureSize;
  GLExtensions extensions;

#if defined(_WIN32)
  void* deviceContext;
  void* renderingContext;
  void* window;
#else
  void* display;  // EGLDisplay; kept initialised for the life of the process
  void* context;  // EGLContext
#endif
};
