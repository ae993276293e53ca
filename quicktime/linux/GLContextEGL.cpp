// Linux: the private context is an EGL OpenGL (compatibility profile) context
// with no surface at all: the decoder renders only into framebuffer objects.
// The display is the first of: Mesa's surfaceless platform, the first EGL
// device, the default display. Displays are shared by the whole process, so
// they are never terminated (that would destroy other instances' contexts).
#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdio>
#include <cstring>

#include "quicktime/Common/OpenGL/GLContext.h"

namespace {

// Whether the space-separated list holds the name as a whole word.
bool ListHas(const char* list, const char* name) {
  if (list == nullptr) return false;
  const size_t n = std::strlen(name);
  for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += n)
    if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == 0)) return true;
  return false;
}

bool HasClientExtension(const char* name) { return ListHas(eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS), name); }

EGLDisplay PlatformDisplay(EGLenum platform, void* nativeDisplay) {
  auto getPlatformDisplay =
      reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (getPlatformDisplay == nullptr) return EGL_NO_DISPLAY;
  return getPlatformDisplay(platform, nativeDisplay, nullptr);
}

EGLDisplay DeviceDisplay() {
  if (!HasClientExtension("EGL_EXT_device_enumeration") && !HasClientExtension("EGL_EXT_device_base"))
    return EGL_NO_DISPLAY;
  auto queryDevices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
  if (queryDevices == nullptr) return EGL_NO_DISPLAY;
  EGLDeviceEXT device;
  EGLint count = 0;
  if (!queryDevices(1, &device, &count) || count < 1) return EGL_NO_DISPLAY;
  return PlatformDisplay(EGL_PLATFORM_DEVICE_EXT, device);
}

// A compatibility-profile context on an initialised display, or none.
EGLContext CreateOn(EGLDisplay display) {
  EGLint major = 0, minor = 0;
  if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) return EGL_NO_CONTEXT;
  if (!eglBindAPI(EGL_OPENGL_API)) return EGL_NO_CONTEXT;
  // RGBA8 with a 24-bit depth, as the other builds ask; no surface type is
  // required because the context is used without one.
  const EGLint configAttrs[] = {EGL_RED_SIZE,        8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 8,
                                EGL_DEPTH_SIZE,      24, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, 0,
                                EGL_NONE};
  EGLConfig config = nullptr;
  EGLint n = 0;
  if (!eglChooseConfig(display, configAttrs, &config, 1, &n) || n < 1) config = nullptr;
  const EGLint compat[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
  EGLContext ctx = eglCreateContext(display, config, EGL_NO_CONTEXT, compat);
  if (ctx == EGL_NO_CONTEXT) ctx = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);  // EGL before 1.5
  return ctx;
}

}  // namespace

GLContext::GLContext() : maxTextureSize(0), display(nullptr), context(nullptr) {}

// Mesa lists its software device (EGL_MESA_device_software) beside a device
// for each render node it can drive. When every EGL device is a software
// one, each display InitContext tries renders with Mesa's software
// rasterizer, and the device list says so without initialising a display
// (which loads a driver) or making a context. With any other device the
// renderer depends on the driver chosen, and a context must be asked.
bool GLContext::RendererWithoutContext(char* name, int size, bool* software) {
  if (!HasClientExtension("EGL_EXT_device_query") ||
      (!HasClientExtension("EGL_EXT_device_enumeration") && !HasClientExtension("EGL_EXT_device_base")))
    return false;
  auto queryDevices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
  auto queryString = reinterpret_cast<PFNEGLQUERYDEVICESTRINGEXTPROC>(eglGetProcAddress("eglQueryDeviceStringEXT"));
  if (queryDevices == nullptr || queryString == nullptr) return false;
  constexpr EGLint kMost = 16;
  EGLDeviceEXT devices[kMost];
  EGLint total = 0, count = 0;
  if (!queryDevices(0, nullptr, &total) || total < 1 || total > kMost) return false;
  if (!queryDevices(kMost, devices, &count) || count != total) return false;
  for (EGLint i = 0; i < count; ++i)
    if (!ListHas(queryString(devices[i], EGL_EXTENSIONS), "EGL_MESA_device_software")) return false;
  if (name != nullptr && size > 0) std::snprintf(name, static_cast<size_t>(size), "%s", "Mesa's swrast");
  if (software != nullptr) *software = true;
  return true;
}
GLContext::~GLContext() = default;

bool GLContext::InitContext() {
  if (context != nullptr) return true;
  EGLDisplay candidates[3] = {
      HasClientExtension("EGL_MESA_platform_surfaceless") ? PlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY)
                                                          : EGL_NO_DISPLAY,
      EGL_NO_DISPLAY, EGL_NO_DISPLAY};
  for (int i = 0; i < 3; ++i) {
    if (i == 1) candidates[1] = DeviceDisplay();
    if (i == 2) candidates[2] = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    EGLDisplay d = candidates[i];
    EGLContext ctx = CreateOn(d);
    if (ctx == EGL_NO_CONTEXT) continue;
    if (!eglMakeCurrent(d, EGL_NO_SURFACE, EGL_NO_SURFACE, ctx)) {
      eglDestroyContext(d, ctx);
      continue;
    }
    display = d;
    context = ctx;
    extensions.Initialize();
    maxTextureSize = extensions.maxTextureSize;
    eglMakeCurrent(d, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    return true;
  }
  return false;
}

bool GLContext::ActivateContext() {
  if (context == nullptr) return false;
  eglBindAPI(EGL_OPENGL_API);
  eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context);
  return true;
}

void GLContext::DeactivateContext() {
  EGLDisplay d = display != nullptr ? display : eglGetCurrentDisplay();
  if (d != EGL_NO_DISPLAY) eglMakeCurrent(d, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

void GLContext::DeleteContext() {
  if (context == nullptr) return;
  EGLContext ctx = context;
  context = nullptr;
  if (eglGetCurrentContext() == ctx) eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  eglDestroyContext(display, ctx);
}
