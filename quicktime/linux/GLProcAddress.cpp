// Linux: OpenGL entry points through eglGetProcAddress. The codec's context
// is an EGL context, and with the GL vendor-neutral dispatch libraries the
// addresses EGL hands out are the ones dispatched to that context's driver;
// a name EGL does not know is then looked up in the process with the
// dynamic linker (core entry points exported by libGL itself).
#include <EGL/egl.h>
#include <dlfcn.h>

#include "quicktime/Common/OpenGL/GLExtensions.h"

void* GLExtensions::GetProcAddress(const char* name) {
  if (name == nullptr) return nullptr;
  if (void* p = reinterpret_cast<void*>(eglGetProcAddress(name))) return p;
  return dlsym(RTLD_DEFAULT, name);
}
