// Puts a source's sound into the movie in step with its pictures: sound
// that starts after the first picture is led in with silence, sound before
// it is cut, a stretch missing between two others is filled with silence
// (and counted), and nothing is written past the last picture's end.
// Silence is counted, never held: only sound that arrived waits here.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "MovieFile.h"

namespace orxapp {

// "PCM 24-bit, 48000 Hz, 2 channels"; SampleWords gives the first part.
std::string SoundWords(const HostSoundFormat& f);
std::string SampleWords(UInt32 sampleFormat);

class SoundPlacer {
 public:
  // videoStartNs: the source time of the movie's first picture, -1 when the
  // sound's own first frame starts the movie (a separate sound file), or
  // leadNs after it (a movie of a source's later frames).
  SoundPlacer(HostMovieWriterRef writer, const HostSoundFormat& format, int64_t videoStartNs, int64_t leadNs = 0);
  // Sound that starts at source time firstNs (-1: where the last ended).
  void Add(const std::vector<uint8_t>& bytes, int64_t firstNs);
  // Writes what lies before movie time endNs; keeps the rest for later.
  OSStatus WriteUntil(int64_t endNs);
  // Frames the movie holds so far, and those it would with what is held back.
  int64_t Written() const { return written_; }
  int64_t Have() const { return written_ + held_; }
  int64_t FramesUntil(int64_t endNs) const;
  // Leaves out what is held back (sound past the last picture).
  void DropPending();
  // The first stretch missing inside the sound (filled with silence): its
  // length in frames (0 when none) and where it starts, in frames of the
  // movie; sound that lies before the movie's start does not count.
  int64_t MissingFrames() const { return missingFrames_; }
  int64_t MissingAt() const { return missingAt_; }
  // The source time of the movie's start (-1 until the first sound when the
  // sound starts the movie).
  int64_t OriginNs() const { return originNs_; }

 private:
  int64_t FramesAt(int64_t ns) const;  // frames in ns of sound, rounded, either sign

  struct Run {
    int64_t silence;  // frames of silence before the bytes
    std::vector<uint8_t> bytes;
  };
  HostMovieWriterRef writer_;
  HostSoundFormat format_;
  size_t frameBytes_;
  int64_t originNs_;
  int64_t leadNs_;
  bool started_ = false;
  int64_t next_ = 0;  // the movie frame where the next sound frame goes (< 0: before the start, cut)
  int64_t written_ = 0;
  int64_t held_ = 0;  // frames in pending_, silence included
  int64_t missingFrames_ = 0, missingAt_ = -1;
  std::deque<Run> pending_;
};

}  // namespace orxapp
