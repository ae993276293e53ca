// Windows: OpenGL entry points through wglGetProcAddress, which needs the
// context current.
#include <windows.h>

#include "quicktime/Common/OpenGL/GLExtensions.h"

void* GLExtensions::GetProcAddress(const char* name) {
  if (name == nullptr) return nullptr;
  return reinterpret_cast<void*>(wglGetProcAddress(name));
}
