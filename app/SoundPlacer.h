// Puts a source's sound into the movie in step with its pictures: sound
// that starts after the first picture is led in with silence, sound before
// it is cut, and nothing is written past the last picture's end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MovieFile.h"

namespace orxapp {

class SoundPlacer {
 public:
  // videoStartNs: the source time of the movie's first picture, -1 when the
  // sound's own first frame starts the movie (a separate sound file).
  SoundPlacer(HostMovieWriterRef writer, const HostSoundFormat& format, int64_t videoStartNs);
  // Sound that starts at source time firstNs (the first call; later ones
  // follow on from it).
  void Add(const std::vector<uint8_t>& bytes, int64_t firstNs);
  // Writes what lies before movie time endNs; keeps the rest for later.
  OSStatus WriteUntil(int64_t endNs);
  // Frames the movie holds so far, and those it would with what is held back.
  int64_t Written() const { return written_; }
  int64_t Have() const { return written_ + int64_t(pending_.size() / frameBytes_); }
  int64_t FramesUntil(int64_t endNs) const;
  // Leaves out what is held back (sound past the last picture).
  void DropPending() { pending_.clear(); }

 private:
  HostMovieWriterRef writer_;
  HostSoundFormat format_;
  size_t frameBytes_;
  int64_t videoStartNs_;
  bool started_ = false;
  int64_t skip_ = 0;  // frames still to cut from the front
  int64_t written_ = 0;
  std::vector<uint8_t> pending_;
};

}  // namespace orxapp
