// Component files on Linux: a resource file "<name>.rsrc" with the shared
// library "<name>.so" beside it.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "quicktime/host/src/ComponentFiles.h"
#include "Resources.h"

const SInt16 kHostComponentPlatform = platformLinuxX86_64;
const char kComponentPathSeparator = ':';

namespace {
bool EndsWith(const std::string& s, const char* tail) {
  const std::string t = tail;
  return s.size() > t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}
}  // namespace

OSErr HostResolveComponentFile(const char* path, HostComponentFile* out, std::string* why) {
  char real[PATH_MAX];
  if (realpath(path, real) == nullptr) {
    *why = std::string("cannot be found: ") + std::strerror(errno);
    return fnfErr;
  }
  const std::string resources = real;
  if (!EndsWith(resources, ".rsrc")) return paramErr;
  const std::string library = resources.substr(0, resources.size() - 5) + ".so";
  struct stat st;
  if (stat(library.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {  // a FIFO would stall dlopen
    *why = "no library " + library + " beside it";
    return fnfErr;
  }
  out->resourcePath = resources;
  out->libraryPath = library;
  return noErr;
}

SInt16 HostOpenComponentResources(const std::string& resourcePath) { return HostOpenResFile(resourcePath.c_str()); }

ComponentRoutineUPP HostLoadComponentEntry(const std::string& libraryPath, const std::string& entryName,
                                           std::string* why) {
  // RTLD_NODELETE: a deliverable's worker threads outlive any instance.
  void* lib = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (lib == nullptr) {
    const char* e = dlerror();
    *why = e ? e : "the loader gave no reason";
    // The loader's message starts with the path, which the caller names.
    if (why->compare(0, libraryPath.size() + 2, libraryPath + ": ") == 0) why->erase(0, libraryPath.size() + 2);
    return nullptr;
  }
  dlerror();
  void* entry = dlsym(lib, entryName.c_str());
  if (entry == nullptr) {
    const char* e = dlerror();
    *why = e ? e : "no entry point " + entryName;
  }
  return reinterpret_cast<ComponentRoutineUPP>(entry);
}

std::string HostLibraryFolder() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&HostRegisterComponentFile), &info) == 0 || info.dli_fname == nullptr) return {};
  std::string path = info.dli_fname;
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::vector<std::string> HostComponentFilesInFolder(const std::string& folder) {
  std::vector<std::string> files;
  DIR* d = opendir(folder.c_str());
  if (d == nullptr) return files;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (EndsWith(name, ".rsrc")) files.push_back(folder + "/" + name);
  }
  closedir(d);
  std::sort(files.begin(), files.end());
  return files;
}

FILE* HostOpenRegularFile(const char* path, OSErr* status) {
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *status = fnfErr;
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    *status = paramErr;
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* f = fdopen(fd, "rb");
  if (f == nullptr) {
    close(fd);
    *status = fnfErr;
  }
  return f;
}
