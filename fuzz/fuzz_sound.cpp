// The movie reader's sound track: the input is checked as footage is before
// it goes to GStreamer, then opened as a movie; every sound frame the reader
// offers must lie in the file and read back.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "FuzzSupport.h"
#include "MovieFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orxfuzz::MemoryFile file(data, size);
  if (!file.ok()) return 0;
  char message[256];
  if (HostMovieCheckSoundTracks(file.Path().c_str(), message, sizeof message) != noErr && message[0] == '\0')
    std::abort();  // a refusal names its reason
  HostMovieReaderRef r = nullptr;
  if (HostMovieReaderOpen(file.Path().c_str(), 0, &r, message, sizeof message) != noErr) return 0;
  HostSoundFormat format{};
  SInt64 frames = 0;
  if (HostMovieReaderGetSound(r, &format, &frames)) {
    if (*HostMovieReaderGetSoundProblem(r) != '\0') std::abort();
    const UInt32 bytes = HostSoundBytesPerFrame(&format);
    if (bytes == 0 || frames <= 0 || uint64_t(frames) * bytes > size) std::abort();  // the reader vouched for them
    constexpr SInt64 kStep = 4096;
    std::vector<uint8_t> buf(size_t(kStep) * bytes);
    for (SInt64 at = 0; at < frames; at += kStep) {
      if (HostMovieReaderReadSound(r, at, SInt32(std::min(kStep, frames - at)), buf.data()) != noErr) std::abort();
    }
    if (HostMovieReaderReadSound(r, frames, 1, buf.data()) != eofErr) std::abort();
  }
  HostMovieReaderClose(r);
  return 0;
}
