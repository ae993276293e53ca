// Finding QuickTime's library for the Windows binding: the folder of a
// library already loaded, QuickTime's registry values, the system folder,
// QuickTime's extension folder; and the library's file version.
#include "quicktime/windows/QuickTimeBinding.h"

#include <cstring>
#include <initializer_list>

namespace {

constexpr const char* kQuickTimeKey = "Software\\Apple Computer, Inc.\\QuickTime";
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

}  // extern "C"
