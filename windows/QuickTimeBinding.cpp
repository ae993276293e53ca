// The Windows deliverable's run-time binding to QuickTime. Every QuickTime,
// CoreFoundation and CoreVideo function the codec calls is an entry stub
// here; the first call of any stub loads "QuickTime.qts", resolves its three
// entry points, and from then on each stub jumps to QuickTime's dispatcher
// with the function's selector in EAX and the caller's arguments untouched.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>

extern "C" {

// ---- Binding state (process-wide; each entry a pointer written once) -----------

typedef void (*BindingHook)(void);
typedef void* EntryPoint;

int32_t QuickTimeNotBound(void) { return -2095; }  // 16-bit callers see 0xF7D1
void BindQuickTime(void);

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

// ---- Entry stubs ----------------------------------------------------------------------
//
// A status stub runs the hook (which may bind), then jumps to the dispatcher
// entry: bound, that is QuickTime's dispatcher; unbound, QuickTimeNotBound.
// A stub of a function that returns a reference answers null while unbound
// rather than the status, which no caller could tell from a pointer.

#define ORX_STUB_PROLOGUE(name)                                   \
  ".text\n"                                                       \
  ".globl _" #name "\n"                                           \
  ".def _" #name "; .scl 2; .type 32; .endef\n"                   \
  "_" #name ":\n"                                                 \
  "  movl _g_bindingHook, %eax\n"                                 \
  "  testl %eax, %eax\n"                                          \
  "  jz 1f\n"                                                     \
  "  call *%eax\n"                                                \
  "1:\n"

#define ORX_STUB(name, selector)                     \
  asm(ORX_STUB_PROLOGUE(name)                        \
      "  movl $" #selector ", %eax\n"                \
      "  jmp *_g_dispatcherEntry\n");

#define ORX_STUB_REF(name, selector)                                 \
  asm(ORX_STUB_PROLOGUE(name)                                        \
      "  cmpl $_QuickTimeNotBound, _g_dispatcherEntry\n"             \
      "  jne 2f\n"                                                   \
      "  xorl %eax, %eax\n"                                          \
      "  ret\n"                                                      \
      "2:\n"                                                         \
      "  movl $" #selector ", %eax\n"                                \
      "  jmp *_g_dispatcherEntry\n");

// Component Manager
ORX_STUB(QTCallComponentWithParameters, 0x00010000)
ORX_STUB(CloseComponent, 0x00010008)
ORX_STUB(SetComponentInstanceStorage, 0x0001000D)
ORX_STUB(OpenComponentResFile, 0x00010015)
ORX_STUB(CloseComponentResFile, 0x00010018)
ORX_STUB(DelegateComponentCall, 0x00010024)
ORX_STUB(OpenADefaultComponent, 0x0001002E)
ORX_STUB(GetComponentResource, 0x00010035)
// Memory Manager
ORX_STUB_REF(NewHandleClear, 0x0015000A)
ORX_STUB_REF(NewPtrClear, 0x00150011)
ORX_STUB(DisposePtr, 0x0015002F)
ORX_STUB(DisposeHandle, 0x00150032)
ORX_STUB(SetHandleSize, 0x00150033)
ORX_STUB(GetHandleSize, 0x00150034)
// Image Compression Manager
ORX_STUB(ICMImageDescriptionSetProperty, 0x000300AF)
ORX_STUB_REF(ICMCompressionSessionOptionsRetain, 0x000300E1)
ORX_STUB(ICMCompressionSessionOptionsRelease, 0x000300E2)
ORX_STUB(ICMEncodedFrameRelease, 0x00030103)
ORX_STUB_REF(ICMEncodedFrameGetDataPtr, 0x00030105)
ORX_STUB(ICMEncodedFrameSetDataSize, 0x00030108)
ORX_STUB(ICMEncodedFrameSetMediaSampleFlags, 0x00030118)
ORX_STUB(ICMEncodedFrameSetFrameType, 0x0003011A)
ORX_STUB_REF(ICMCompressorSourceFrameGetPixelBuffer, 0x00030121)
ORX_STUB(ICMCompressorSessionEmitEncodedFrame, 0x00030126)
ORX_STUB(ICMEncodedFrameCreateMutable, 0x00030127)
// Resource Manager
ORX_STUB(CurResFile, 0x00200005)
ORX_STUB(UseResFile, 0x00200009)
// Dialog and Control Managers (ShowWindow is QuickTime's, by its Mac name)
ORX_STUB_REF(GetNewDialog, 0x000C0004)
ORX_STUB(DisposeDialog, 0x000C0007)
ORX_STUB(ModalDialog, 0x000C0008)
ORX_STUB(SetDialogCancelItem, 0x000C0027)
ORX_STUB(GetDialogItemAsControl, 0x000C002F)
ORX_STUB(GetControlValue, 0x000B0013)
ORX_STUB(SetControlValue, 0x000B0014)
ORX_STUB(MacShowWindow, 0x002A001E)
// CoreFoundation
ORX_STUB(CFRelease, 0x0032006C)
ORX_STUB_REF(CFArrayCreateMutable, 0x0032007B)
ORX_STUB(CFArrayAppendValue, 0x00320086)
ORX_STUB_REF(CFDictionaryCreateMutable, 0x003200CC)
ORX_STUB(CFDictionaryAddValue, 0x003200D7)
ORX_STUB_REF(CFNumberCreate, 0x0032010A)
ORX_STUB_REF(QTStubCFStringMakeConstantString, 0x00320222)
ORX_STUB_REF(QTStubGetCFConstant, 0x0032028A)
// CoreVideo (lock and unlock by reference: see the wrappers below)
ORX_STUB(QTPixelBufferLockByReference, 0x00340011)
ORX_STUB(QTPixelBufferUnlockByReference, 0x00340012)
ORX_STUB(CVPixelBufferGetWidth, 0x00340013)
ORX_STUB(CVPixelBufferGetHeight, 0x00340014)
ORX_STUB_REF(CVPixelBufferGetBaseAddress, 0x00340016)
ORX_STUB(CVPixelBufferGetBytesPerRow, 0x00340017)
// Binding only
ORX_STUB(QTPostLoadQuery, 0x001D0059)

extern "C" {

int32_t QTPixelBufferLockByReference(int32_t* result, void** buffer, uint64_t* flags);
int32_t QTPixelBufferUnlockByReference(int32_t* result, void** buffer, uint64_t* flags);
const void* QTStubCFStringMakeConstantString(const char* text);
const void* QTStubGetCFConstant(const char* name);
int32_t QTPostLoadQuery(void);
int HasQuickTime702(void);
HMODULE LoadQuickTimeLibrary(const char* name);

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

// ---- Finding QuickTime's library -----------------------------------------------------

namespace {

constexpr const char* kQuickTimeKey = "Software\\Apple Computer, Inc.\\QuickTime";
constexpr const char* kQuickTimeLibrary = "QuickTime.qts";
constexpr size_t kPathSize = 261;  // MAX_PATH characters and the terminator

bool EndsInSeparator(const char* s) {
  const size_t n = std::strlen(s);
  return n > 0 && (s[n - 1] == '\\' || s[n - 1] == '/');
}

// Appends a separator when s is not empty and has none; false (and s
// emptied) when it does not fit.
bool AddSeparator(char* s, size_t size) {
  const size_t n = std::strlen(s);
  if (n == 0 || EndsInSeparator(s)) return true;
  if (n + 2 > size) {
    s[0] = '\0';
    return false;
  }
  s[n] = '\\';
  s[n + 1] = '\0';
  return true;
}

bool IsDirectory(const char* path) {
  const DWORD a = GetFileAttributesA(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

extern "C" {

// Reads a string value of the QuickTime key into out (size bytes), with a
// separator appended. A missing key or value, a value that is not a string,
// or one that does not fit leaves out empty.
void ReadQuickTimeRegistryDirectory(const char* value, char* out, size_t size) {
  if (size == 0) return;
  out[0] = '\0';
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kQuickTimeKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return;
  DWORD type = 0;
  DWORD bytes = static_cast<DWORD>(size - 1);  // room for a terminator the value may lack
  const LONG r = RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(out), &bytes);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || bytes >= size) {
    out[0] = '\0';
    return;
  }
  out[bytes] = '\0';
  AddSeparator(out, size);
}

// The folder QuickTime's library lives in, with a separator; empty if none.
void GetQuickTimeSystemDirectory(char* out, size_t size) {
  if (size == 0) return;
  out[0] = '\0';
  const size_t nameLength = std::strlen(kQuickTimeLibrary);
  if (HMODULE loaded = GetModuleHandleA(kQuickTimeLibrary)) {
    char path[kPathSize];
    const DWORD n = GetModuleFileNameA(loaded, path, sizeof path);
    if (n > nameLength && n < sizeof path && n - nameLength < size) {
      path[n - nameLength] = '\0';
      std::strcpy(out, path);
      AddSeparator(out, size);
      if (out[0]) return;
    }
  }
  for (const char* value : {"QTSysDir", "QuickTime.qts folder"}) {
    ReadQuickTimeRegistryDirectory(value, out, size);
    if (out[0] && IsDirectory(out)) return;
    out[0] = '\0';
  }
  const UINT n = GetSystemDirectoryA(out, static_cast<UINT>(size));
  if (n == 0 || n >= size || !IsDirectory(out)) {
    out[0] = '\0';
    return;
  }
  AddSeparator(out, size);
}

// The folder of QuickTime's extensions, with a separator; empty if none.
void GetQuickTimeExtensionDirectory(char* out, size_t size) {
  if (size == 0) return;
  ReadQuickTimeRegistryDirectory("QTExtDir", out, size);
  if (out[0]) return;
  char system[kPathSize];
  const UINT n = GetSystemDirectoryA(system, static_cast<UINT>(sizeof system - 10));
  if (n == 0 || n >= sizeof system - 10) system[0] = '\0';
  AddSeparator(system, sizeof system);
  GetQuickTimeSystemDirectory(out, size);
  if (!out[0]) return;
  if (std::strcmp(out, system) == 0) {
    if (std::strlen(out) + std::strlen("QuickTime\\") + 1 > size) {
      out[0] = '\0';
      return;
    }
    std::strcat(out, "QuickTime\\");
  }
}

HMODULE LoadQuickTimeLibrary(const char* name) {
  if (name == nullptr) return nullptr;
  char path[kPathSize];
  const size_t nameLength = std::strlen(name);
  GetQuickTimeSystemDirectory(path, sizeof path - nameLength);
  if (!path[0] || std::strlen(path) + nameLength + 1 > sizeof path) return nullptr;
  std::strcat(path, name);
  if (HMODULE m = LoadLibraryA(path)) return m;
  GetQuickTimeExtensionDirectory(path, sizeof path - nameLength);
  if (!path[0] || std::strlen(path) + nameLength + 1 > sizeof path) return nullptr;
  std::strcat(path, name);
  return LoadLibraryA(path);
}

// Packs major, minor, build and revision into one word (major on top).
uint32_t PackQuickTimeVersion(uint32_t mostSignificant, uint32_t leastSignificant) {
  const uint32_t major = (mostSignificant >> 16) & 0xFF, minor = mostSignificant & 0xFF;
  const uint32_t build = (leastSignificant >> 16) & 0xFF, revision = leastSignificant & 0xFF;
  return major << 24 | minor << 16 | build << 8 | revision;
}

int HasQuickTime702(void) {
  if (g_versionChecked) return g_hasQuickTime702;
  HMODULE library = g_quickTimeLibrary;
  bool loadedHere = false;
  if (library == nullptr) {
    library = LoadQuickTimeLibrary(kQuickTimeLibrary);
    if (library == nullptr) return g_hasQuickTime702;
    loadedHere = true;
  }
  char file[kPathSize] = {};
  uint32_t ms = 0, ls = 0;
  const DWORD n = GetModuleFileNameA(library, file, sizeof file);
  if (n > 0 && n < sizeof file) {
    DWORD ignored = 0;
    const DWORD infoSize = GetFileVersionInfoSizeA(file, &ignored);
    if (infoSize > 0) {
      if (HGLOBAL block = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, infoSize)) {
        void* info = GlobalLock(block);
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT fixedSize = 0;
        if (info && GetFileVersionInfoA(file, 0, infoSize, info) &&
            VerQueryValueA(info, "\\", reinterpret_cast<void**>(&fixed), &fixedSize) && fixed &&
            fixedSize >= sizeof(VS_FIXEDFILEINFO)) {
          ms = fixed->dwFileVersionMS;
          ls = fixed->dwFileVersionLS;
        }
        GlobalUnlock(block);
        GlobalFree(block);
      }
    }
  }
  if (PackQuickTimeVersion(ms, ls) >= 0x07000200u) g_hasQuickTime702 = 1;
  g_versionChecked = 1;
  if (loadedHere) FreeLibrary(library);
  return g_hasQuickTime702;
}

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

// ---- Component-call helpers -----------------------------------------------------------
//
// Each builds a parameter block as QuickTime for Windows lays it out (flags
// byte 0, parameter-size byte, 16-bit selector, then the parameters first to
// last, 4 bytes each) and sends it through the component-call stub.

extern "C" int32_t QTCallComponentWithParameters(void* instance, void* block);

namespace {

struct ParameterBlock {
  uint8_t flags;
  uint8_t paramSize;
  int16_t what;
  uint32_t params[4];
};
static_assert(sizeof(ParameterBlock) == 20, "four bytes of header, then 4-byte slots");

int32_t Send(void* instance, int16_t selector, std::initializer_list<uint32_t> params) {
  ParameterBlock b{};
  b.paramSize = static_cast<uint8_t>(params.size() * 4);
  b.what = selector;
  size_t i = 0;
  for (uint32_t p : params) b.params[i++] = p;
  return QTCallComponentWithParameters(instance, &b);
}

uint32_t Slot(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

}  // namespace

extern "C" {

int32_t ComponentSetTarget(void* instance, void* target) { return Send(instance, -6, {Slot(target)}); }

int32_t CallComponentCanDo(void* instance, int16_t selector) {
  return Send(instance, -3, {static_cast<uint32_t>(static_cast<int32_t>(selector))});
}

int32_t ImageCodecGetBaseMPWorkFunction(void* instance, void* workFunctionOut, void* refconOut, void* drawProc,
                                        void* drawRefcon) {
  return Send(instance, 0x25, {Slot(workFunctionOut), Slot(refconOut), Slot(drawProc), Slot(drawRefcon)});
}

}  // extern "C"
