// Shared pieces of the fuzz harnesses: each harness defines
// LLVMFuzzerTestOneInput (and optionally LLVMFuzzerInitialize); libFuzzer
// drives it in the fuzz build, replay_main.cpp replays saved cases in the
// ordinary build.
#pragma once

#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace orxfuzz {

// The input as a file this process can open by path (an in-memory file, so
// nothing is left on disk). Closed when destroyed.
class MemoryFile {
 public:
  MemoryFile(const uint8_t* data, size_t size) {
    fd_ = memfd_create("orx-fuzz", 0);
    if (fd_ < 0) return;
    size_t done = 0;
    while (done < size) {
      const ssize_t n = write(fd_, data + done, size - done);
      if (n <= 0) break;
      done += size_t(n);
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemoryFile() {
    if (fd_ >= 0) close(fd_);
  }
  const std::string& Path() const { return path_; }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  std::string path_;
};

// Points the compressor's preferences at a private folder for this process.
inline std::string PrivatePreferencesFolder() {
  static std::string folder = [] {
    char pattern[] = "/tmp/orx-fuzz-prefs-XXXXXX";
    const char* made = mkdtemp(pattern);
    std::string f = made ? made : "/tmp";
    setenv("ORX_PREFERENCES_DIR", f.c_str(), 1);
    return f;
  }();
  return folder;
}

}  // namespace orxfuzz
