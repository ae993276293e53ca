// The movie reader's sound track: the input is checked as footage is before
// it goes to GStreamer, then opened as a movie; every sound frame the reader
// offers must lie in the file and read back.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "movie/MovieReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using orxmovie::Status;
  orxfuzz::MemoryFile file(data, size);
  if (!file.ok()) return 0;
  std::string message;
  if (orxmovie::CheckSoundTracks(file.Path().c_str(), &message) != Status::ok && message.empty())
    std::abort();  // a refusal names its reason
  orxmovie::Reader r;
  if (r.Open(file.Path().c_str(), 0, &message) != Status::ok) return 0;
  orxmovie::SoundFormat format;
  uint64_t frames = 0;
  if (r.Sound(&format, &frames)) {
    if (*r.SoundProblem() != '\0') std::abort();
    const uint32_t bytes = orxmovie::SoundBytesPerFrame(format);
    if (bytes == 0 || frames == 0 || frames * bytes > size) std::abort();  // the reader vouched for them
    constexpr uint64_t kStep = 4096;
    std::vector<uint8_t> buf(size_t(kStep) * bytes);
    for (uint64_t at = 0; at < frames; at += kStep) {
      if (r.ReadSound(int64_t(at), int64_t(std::min(kStep, frames - at)), buf.data()) != Status::ok) std::abort();
    }
    if (r.ReadSound(int64_t(frames), 1, buf.data()) != Status::endOfFile) std::abort();
  }
  return 0;
}
