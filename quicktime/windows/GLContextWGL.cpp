// Windows: a WGL context on a 16x16 popup window of the class
// "ORXRenderRoot" at the screen origin, at the bottom of the Z order and
// never activated. The decode path renders only into framebuffer objects, so
// the window is never drawn into.
#include <windows.h>

#include "quicktime/Common/OpenGL/GLContext.h"

extern "C" HMODULE GetComponentModule(void);

namespace {

constexpr const char* kClassName = "ORXRenderRoot";

LRESULT CALLBACK RenderRootProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_ACTIVATE) return 0;  // never takes activation
  return DefWindowProcA(window, message, w, l);
}

HWND Window(void* p) { return static_cast<HWND>(p); }
HDC DC(void* p) { return static_cast<HDC>(p); }
HGLRC RC(void* p) { return static_cast<HGLRC>(p); }

}  // namespace

GLContext::GLContext()
    : maxTextureSize(0), deviceContext(nullptr), renderingContext(nullptr), window(nullptr) {}

GLContext::~GLContext() = default;

// WGL names the renderer only through a current context.
bool GLContext::RendererWithoutContext(char*, int, bool*) { return false; }

bool GLContext::InitContext() {
  // Step 1: the window.
  if (window == nullptr) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_OWNDC;
    wc.lpfnWndProc = RenderRootProc;
    wc.hInstance = GetComponentModule();
    wc.lpszClassName = kClassName;
    RegisterClassExA(&wc);  // a second registration fails harmlessly
    HWND w = CreateWindowExA(WS_EX_NOACTIVATE | WS_EX_TRANSPARENT, kClassName, kClassName, WS_POPUP | WS_VISIBLE, 0, 0,
                             16, 16, nullptr, nullptr, GetComponentModule(), nullptr);
    if (w == nullptr) return false;
    SetWindowPos(w, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
    window = w;
  }
  // Step 2: the rendering context.
  if (renderingContext != nullptr) return true;
  HDC dc = GetDC(Window(window));
  if (dc != nullptr) {
    HDC desktop = GetDC(GetDesktopWindow());
    const int depth = GetDeviceCaps(desktop, BITSPIXEL);
    ReleaseDC(GetDesktopWindow(), desktop);
    PIXELFORMATDESCRIPTOR want{};
    want.nSize = sizeof want;
    want.nVersion = 1;
    want.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    want.iPixelType = PFD_TYPE_RGBA;
    want.cColorBits = static_cast<BYTE>(depth);
    want.cAlphaBits = depth == 32 ? 8 : 0;
    want.cDepthBits = 16;
    want.iLayerType = PFD_MAIN_PLANE;
    const int format = ChoosePixelFormat(dc, &want);
    PIXELFORMATDESCRIPTOR chosen{};
    chosen.nSize = sizeof chosen;
    chosen.nVersion = 1;
    DescribePixelFormat(dc, format, sizeof chosen, &chosen);
    if (SetPixelFormat(dc, format, &chosen)) {
      if (HGLRC rc = wglCreateContext(dc)) {
        renderingContext = rc;
        wglMakeCurrent(dc, rc);
        extensions.Initialize();
        maxTextureSize = extensions.maxTextureSize;
        wglMakeCurrent(nullptr, nullptr);
      }
    }
    ReleaseDC(Window(window), dc);
    if (renderingContext != nullptr) return true;
  }
  DestroyWindow(Window(window));
  window = nullptr;
  return false;
}

bool GLContext::ActivateContext() {
  if (window == nullptr || renderingContext == nullptr) return false;
  deviceContext = GetDC(Window(window));
  wglMakeCurrent(DC(deviceContext), RC(renderingContext));
  return true;
}

void GLContext::DeactivateContext() {
  if (window == nullptr || deviceContext == nullptr) return;
  wglMakeCurrent(nullptr, nullptr);
  ReleaseDC(Window(window), DC(deviceContext));
  deviceContext = nullptr;
}

void GLContext::DeleteContext() {
  if (window != nullptr && renderingContext != nullptr) {
    if (deviceContext != nullptr) {
      wglMakeCurrent(nullptr, nullptr);
      ReleaseDC(Window(window), DC(deviceContext));
      deviceContext = nullptr;
    }
    wglDeleteContext(RC(renderingContext));
    renderingContext = nullptr;
  }
  if (window != nullptr) {
    DestroyWindow(Window(window));
    window = nullptr;
  }
}
