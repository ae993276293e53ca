// The Windows deliverable's run-time binding to QuickTime. Every QuickTime,
// CoreFoundation and CoreVideo function the codec calls is an entry stub
// (QuickTimeStubs.cpp); the first call of any stub loads "QuickTime.qts"
// (found as QuickTimeLibrary.cpp says), resolves its three entry points, and
// from then on each stub jumps to QuickTime's dispatcher with the function's
// selector in EAX and the caller's arguments untouched. Here: the binding's
// state, the binding step, the calls that need more than a stub, and the
// deliverable's own entry points.
#include "quicktime/windows/QuickTimeBinding.h"

#include <cstdint>
#include <cstring>

extern "C" {

// ---- Binding state (process-wide; each entry a pointer written once) -----------

int32_t QuickTimeNotBound(void) { return -2095; }

HMODULE g_componentModule = nullptr;
HMODULE g_quickTimeLibrary = nullptr;
BindingHook g_bindingHook = BindQuickTime;
EntryPoint g_dispatcherEntry = reinterpret_cast<EntryPoint>(QuickTimeNotBound);
EntryPoint g_callComponentEntry = reinterpret_cast<EntryPoint>(QuickTimeNotBound);
EntryPoint g_callWithStorageEntry = reinterpret_cast<EntryPoint>(QuickTimeNotBound);
uint8_t g_hasQuickTime702 = 0;
uint8_t g_versionChecked = 0;
// What the constant lookup answers on QuickTime older than 7.0.2.
alignas(16) uint8_t g_emptyConstantBlock[64] = {};

}  // extern "C"

extern "C" {

int32_t QTPixelBufferLockByReference(int32_t* result, void** buffer, uint64_t* flags);
int32_t QTPixelBufferUnlockByReference(int32_t* result, void** buffer, uint64_t* flags);
const void* QTStubCFStringMakeConstantString(const char* text);
const void* QTStubGetCFConstant(const char* name);

// The 64-bit flags argument travels by reference: QuickTime's dispatcher
// takes three pointers (result slot, buffer, flags) and fills the result.
// The slot starts as "not bound", so an unbound call is not taken for a
// success.
int32_t CVPixelBufferLockBaseAddress(void* buffer, uint64_t flags) {
  int32_t result = -2095;
  QTPixelBufferLockByReference(&result, &buffer, &flags);
  return result;
}

int32_t CVPixelBufferUnlockBaseAddress(void* buffer, uint64_t flags) {
  int32_t result = -2095;
  QTPixelBufferUnlockByReference(&result, &buffer, &flags);
  return result;
}

// Constant strings and constants by name exist from QuickTime 7.0.2 on.
const void* __CFStringMakeConstantString(const char* text) {
  if (g_bindingHook) g_bindingHook();
  if (!HasQuickTime702()) return nullptr;
  return QTStubCFStringMakeConstantString(text);
}

const void* QTGetCFConstantByName(const char* name) {
  if (g_bindingHook) g_bindingHook();
  if (!HasQuickTime702()) return g_emptyConstantBlock;
  return QTStubGetCFConstant(name);
}

}  // extern "C"

extern "C" {

// Looks up the three entry points in order; at the first missing one the
// rest stay unbound and the hook stays set. -2094 then, else 0.
int32_t ResolveQuickTimeEntries(void) {
  static const char* const kNames[] = {"_CallComponentFunctionWithStorage", "_CallComponent", "theQuickTimeDispatcher"};
  EntryPoint* const entries[] = {&g_callWithStorageEntry, &g_callComponentEntry, &g_dispatcherEntry};
  for (int i = 0; i < 3; ++i) {
    FARPROC p = GetProcAddress(g_quickTimeLibrary, kNames[i]);
    if (p == nullptr) return -2094;
    *entries[i] = reinterpret_cast<EntryPoint>(p);
  }
  g_bindingHook = nullptr;
  return 0;
}

void BindQuickTime(void) {
  bool loadedHere = false;
  bool alreadyInProcess = false;
  if (g_quickTimeLibrary == nullptr) {
    alreadyInProcess = GetModuleHandleA(kQuickTimeLibrary) != nullptr;
    g_quickTimeLibrary = LoadQuickTimeLibrary(kQuickTimeLibrary);
    if (g_quickTimeLibrary == nullptr) return;  // stubs keep answering -2095; the next call tries again
    loadedHere = true;
  }
  if (ResolveQuickTimeEntries() != 0) return;
  if (loadedHere && HasQuickTime702()) {
    // QuickTime may ask to have its library released once bound. The
    // resolved entries stay in use, so the release happens only when another
    // reference (the application's) keeps the library mapped.
    if ((QTPostLoadQuery() & 0xFF) != 0 && alreadyInProcess) {
      FreeLibrary(g_quickTimeLibrary);
      g_quickTimeLibrary = nullptr;
    }
  }
}

// ---- The deliverable's own entry points ------------------------------------------------

BOOL WINAPI DllMain(HINSTANCE module, DWORD, LPVOID) {
  g_componentModule = module;
  return TRUE;
}

HMODULE GetComponentModule(void) { return g_componentModule; }

// The dispatchers call their handlers through QuickTime's call-with-storage
// entry (it copies the parameter block onto the stack for the handler).
int32_t CallComponentFunctionWithStorage(void* storage, void* params, void* handler) {
  if (g_bindingHook) g_bindingHook();
  typedef int32_t(__cdecl * CallWithStorage)(void*, void*, void*);
  return reinterpret_cast<CallWithStorage>(g_callWithStorageEntry)(storage, params, handler);
}

}  // extern "C"

