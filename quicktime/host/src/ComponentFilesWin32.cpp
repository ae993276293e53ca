// Component files on Windows: a library (".qtx") that carries its component
// resources inside itself, as the RCDATA resource "RESOURCEFORK".
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "quicktime/host/src/ComponentFiles.h"
#include "quicktime/host/src/ResourcesInternal.h"
#include "Resources.h"

const SInt16 kHostComponentPlatform = platformWin32;
const char kComponentPathSeparator = ';';

namespace {
bool EndsWithNoCase(const std::string& s, const char* tail) {
  const size_t n = std::char_traits<char>::length(tail);
  if (s.size() <= n) return false;
  for (size_t i = 0; i < n; ++i) {
    char c = s[s.size() - n + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != tail[i]) return false;
  }
  return true;
}
}  // namespace

OSErr HostResolveComponentFile(const char* path, HostComponentFile* out, std::string* why) {
  char full[MAX_PATH + 1];
  const DWORD n = GetFullPathNameA(path, sizeof full, full, nullptr);
  if (n == 0 || n >= sizeof full) {
    *why = "the path is too long";
    return fnfErr;
  }
  const DWORD attributes = GetFileAttributesA(full);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *why = "cannot be found";
    return fnfErr;
  }
  if (!EndsWithNoCase(full, ".qtx")) return paramErr;
  out->resourcePath = full;
  out->libraryPath = full;
  return noErr;
}

SInt16 HostOpenComponentResources(const std::string& resourcePath) {
  // Mapped as data: reading the resources runs none of the library's code.
  HMODULE data = LoadLibraryExA(resourcePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (data == nullptr) {
    HostSetResError(fnfErr);
    return -1;
  }
  SInt16 ref = -1;
  HRSRC found = FindResourceA(data, "RESOURCEFORK", MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  HGLOBAL loaded = found ? LoadResource(data, found) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (bytes != nullptr)
    ref = HostOpenResFileFromMemory(bytes, SizeofResource(data, found));
  else
    HostSetResError(resFNotFound);
  FreeLibrary(data);
  return ref;
}

namespace {
// The system's words for the calling thread's last error.
std::string LastErrorText() {
  const DWORD code = GetLastError();
  char text[512] = "";
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                           sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) text[--n] = 0;
  return n > 0 ? std::string(text) : "error " + std::to_string(code);
}
}  // namespace

ComponentRoutineUPP HostLoadComponentEntry(const std::string& libraryPath, const std::string& entryName,
                                           std::string* why) {
  // Never released: a deliverable's worker threads outlive any instance.
  HMODULE lib = LoadLibraryA(libraryPath.c_str());
  if (lib == nullptr) {
    *why = LastErrorText();
    return nullptr;
  }
  FARPROC entry = GetProcAddress(lib, entryName.c_str());
  if (entry == nullptr) *why = "no entry point " + entryName + ": " + LastErrorText();
  return reinterpret_cast<ComponentRoutineUPP>(reinterpret_cast<void*>(entry));
}

std::string HostLibraryFolder() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&HostRegisterComponentFile), &self))
    return {};
  char path[MAX_PATH + 1];
  const DWORD n = GetModuleFileNameA(self, path, sizeof path);
  if (n == 0 || n >= sizeof path) return {};
  std::string s(path, n);
  const auto slash = s.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : s.substr(0, slash);
}

std::vector<std::string> HostComponentFilesInFolder(const std::string& folder) {
  std::vector<std::string> files;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((folder + "\\*.qtx").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return files;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(folder + "\\" + entry.cFileName);
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  std::sort(files.begin(), files.end());
  return files;
}

FILE* HostOpenRegularFile(const char* path, OSErr* status) {
  // Opening a named pipe here does not wait for its other end; anything but
  // a plain file is refused all the same.
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    *status = fnfErr;
    return nullptr;
  }
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
    *status = paramErr;
    return nullptr;
  }
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) *status = fnfErr;
  return f;
}
