// Linux: where the compressor's preferences live (ORXPreferencesPlace.h).
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/Format/ORXPreferencesPlace.h"

namespace {

bool Absolute(const char* path) { return path != nullptr && path[0] == '/'; }

// path/name, without doubling the slash of "/".
std::string Join(const std::string& path, const char* name) {
  return path.back() == '/' ? path + name : path + "/" + name;
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The user's home in the password database; empty when it has none.
std::string PasswordHome() {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  if (size < 1024 || size > (1 << 20)) size = 16384;
  std::vector<char> buffer(static_cast<size_t>(size));
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      !Absolute(entry.pw_dir))
    return {};
  return entry.pw_dir;
}

std::string NoHome() {
  return "no home folder is known: HOME is not set to an absolute path and the password database has no home for "
         "user ID " + std::to_string(getuid());
}

// Why root cannot hold the preferences folder; "" when it is a folder.
std::string RootProblem(const ORXPreferencesPlace& p) {
  const std::string what = std::string(p.source == "XDG_CONFIG_HOME" ? "the configuration folder " : "the home folder ") +
                           p.root + " (from " + p.source + ")";
  struct stat st {};
  if (stat(p.root.c_str(), &st) != 0)
    return what + (errno == ENOENT ? " does not exist" : std::string(" cannot be reached: ") + std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) return what + " is not a folder";
  return {};
}

}  // namespace

ORXPreferencesPlace ORXFindPreferencesPlace() {
  ORXPreferencesPlace p;
  if (const char* dir = std::getenv("ORX_PREFERENCES_DIR"); dir != nullptr && *dir != '\0') {
    p.folder = dir;
    return p;
  }
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); Absolute(xdg)) {
    p.root = WithoutTrailingSlashes(xdg);
    p.source = "XDG_CONFIG_HOME";
    p.folder = Join(p.root, "VantorinMedia");
    return p;
  }
  if (const char* home = std::getenv("HOME"); Absolute(home)) {
    p.root = WithoutTrailingSlashes(home);
    p.source = "HOME";
  } else {
    p.root = WithoutTrailingSlashes(PasswordHome());
    p.source = "the password database";
  }
  if (!p.root.empty()) p.folder = Join(p.root, ".config/VantorinMedia");
  return p;
}

std::string ORXMakePreferencesFolder(const ORXPreferencesPlace& p) {
  if (p.folder.empty()) return NoHome();
  if (!p.root.empty()) {
    if (std::string why = RootProblem(p); !why.empty()) return why;
  }
  // Each missing folder below root (below "/" for ORX_PREFERENCES_DIR), 0755:
  // other users must not be able to replace the file.
  const size_t start = p.root.empty() ? 1 : p.root.size() + 1;
  for (size_t pos = start; pos <= p.folder.size(); ++pos) {
    if (pos != p.folder.size() && p.folder[pos] != '/') continue;
    const std::string part = p.folder.substr(0, pos);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
      return part + " cannot be made: " + std::strerror(errno);
  }
  struct stat st {};
  if (stat(p.folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return p.folder + " is not a folder";
  return {};
}

std::string ORXPreferencesProblem(const ORXPreferencesPlace& p) {
  if (p.folder.empty()) return NoHome();
  if (!p.root.empty()) {
    if (std::string why = RootProblem(p); !why.empty()) return why;
  }
  // The deepest part of the folder's path that exists must be a folder this
  // user may write in (the folders below it are made).
  for (std::string at = p.folder; !at.empty();) {
    struct stat st {};
    if (stat(at.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) return at + " is not a folder";
      if (access(at.c_str(), W_OK | X_OK) != 0) return at + " is not writable: " + std::strerror(errno);
      break;
    }
    const size_t slash = at.rfind('/');
    at = slash == std::string::npos || slash == 0 ? std::string() : at.substr(0, slash);
  }
  struct stat st {};
  if (stat(p.File().c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return p.File() + " is a folder";
  return {};
}
