// Linux: the persisted settings are the file ORXPreferences.dat in the folder
// that ORXFindPreferencesPlace names (VantorinMedia under $XDG_CONFIG_HOME,
// else under the home's .config; ORX_PREFERENCES_DIR names the folder
// instead). 16 bytes: four 32-bit little-endian integers preserveAlpha,
// preserveGradients, skipLZF, threadSetting.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "core/Format/ORXPreferencesPlace.h"
#include "quicktime/Common/Component/ORXComponent.h"

void GetPreferencesPath(char* path, size_t pathSize) {
  if (path == nullptr || pathSize == 0) return;
  std::snprintf(path, pathSize, "%s", ORXFindPreferencesPlace().File().c_str());
}

void ReadPreferences(CompressorGlobals* g) {
  // The full path, however long: the writer uses it too. Opened without
  // blocking and read only when it is a regular file, so a FIFO or device
  // put there cannot stall every compressor that opens.
  const std::string path = ORXFindPreferencesPlace().File();
  if (path.empty()) return;
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
  // Nothing is written where the folder cannot be made (no home, or a home
  // that does not exist): the program that asked reports why.
  const ORXPreferencesPlace place = ORXFindPreferencesPlace();
  if (!ORXMakePreferencesFolder(place).empty()) return;
  const std::string path = place.File();
  uint8_t bytes[kORXPreferencesBytes];
  WriteORXPreferences(SettingsOf(g), bytes);
  // Written to a temporary file and renamed, so a reader never sees half a
  // file. The signals that end a program by default wait on this thread
  // until the rename is done, so one that arrives meanwhile leaves the old
  // file or the new one, never the temporary one (a program that handles
  // them elsewhere, as orx does, acts on them on this thread).
  const std::string temp = path + ".tmp" + std::to_string(getpid());
  sigset_t held, old;
  sigemptyset(&held);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, sig);
  pthread_sigmask(SIG_BLOCK, &held, &old);
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd >= 0) {
    // On disk before the rename: a full or failing disk leaves the old file.
    const bool ok = write(fd, bytes, sizeof bytes) == static_cast<ssize_t>(sizeof bytes) && fsync(fd) == 0;
    const bool closed = close(fd) == 0;
    if (!ok || !closed || rename(temp.c_str(), path.c_str()) != 0) unlink(temp.c_str());
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
}
