// Linux: the persisted settings are the file ORXPreferences.dat in the folder
// VantorinMedia under the user's configuration folder ($XDG_CONFIG_HOME, else
// ~/.config); ORX_PREFERENCES_DIR names the folder instead. 16 bytes: four
// 32-bit little-endian integers preserveAlpha, preserveGradients, skipLZF,
// threadSetting.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ORXComponent.h"

namespace {

constexpr const char* kFileName = "ORXPreferences.dat";

std::string PreferencesFolder() {
  if (const char* dir = std::getenv("ORX_PREFERENCES_DIR"); dir != nullptr && *dir != '\0') return dir;
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    base = std::string(home) + "/.config";
  } else {
    return {};
  }
  return base + "/VantorinMedia";
}

// Creates the folder and any missing parents, owner-writable only for the
// folders made here (0755): other users must not be able to replace the file.
void MakeFolders(const std::string& folder) {
  for (size_t pos = 1; pos <= folder.size(); ++pos) {
    if (pos == folder.size() || folder[pos] == '/') {
      const std::string part = folder.substr(0, pos);
      if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return;
    }
  }
}

}  // namespace

void GetPreferencesPath(char* path, size_t pathSize) {
  if (path == nullptr || pathSize == 0) return;
  const std::string folder = PreferencesFolder();
  if (folder.empty())
    path[0] = '\0';
  else
    std::snprintf(path, pathSize, "%s/%s", folder.c_str(), kFileName);
}

void ReadPreferences(CompressorGlobals* g) {
  const std::string folder = PreferencesFolder();
  if (folder.empty()) return;
  // The full path, however long: the writer uses it too. Opened without
  // blocking and read only when it is a regular file, so a FIFO or device
  // put there cannot stall every compressor that opens.
  const std::string path = folder + "/" + kFileName;
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st {};
  unsigned char bytes[16];
  ssize_t got = 0;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    while (got < static_cast<ssize_t>(sizeof bytes)) {
      const ssize_t n = read(fd, bytes + got, sizeof bytes - size_t(got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += n;
    }
  }
  close(fd);
  SetSettings(g, ReadORXPreferences(bytes, static_cast<size_t>(got)));
}

void WritePreferences(CompressorGlobals* g) {
  const std::string folder = PreferencesFolder();
  if (folder.empty()) return;
  MakeFolders(folder);
  const std::string path = folder + "/" + kFileName;
  uint8_t bytes[kORXPreferencesBytes];
  WriteORXPreferences(SettingsOf(g), bytes);
  // Written to a temporary file and renamed, so a reader never sees half a file.
  const std::string temp = path + ".tmp" + std::to_string(getpid());
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  // On disk before the rename: a full or failing disk leaves the old file.
  const bool ok = write(fd, bytes, sizeof bytes) == static_cast<ssize_t>(sizeof bytes) && fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  if (!ok || !closed || rename(temp.c_str(), path.c_str()) != 0) unlink(temp.c_str());
}
