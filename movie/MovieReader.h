// The movie reader: a QuickTime movie's first video track of a given codec
// type, read sample by sample, and its first sound track of linear PCM
// when it has one. Every table is checked against its atom and the file
// before anything is allocated from a count read from it, so a hostile file
// gives a status and words, never a crash or a huge allocation. No call
// throws.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "movie/MovieFacts.h"
#include "movie/MovieStatus.h"

namespace orxmovie {

class Reader {
 public:
  Reader();
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Opens the movie at path and chooses its first video track whose sample
  // description has codec type codecType (any when 0). On failure the
  // reader holds nothing and *message gives the reason in words, without
  // the file name. Once per reader.
  Status Open(const char* path, uint32_t codecType, std::string* message);

  // The chosen track; all zero before a successful Open.
  const TrackFacts& Facts() const;
  // Sample index (0-based): false when there is none.
  bool Sample(int64_t index, SampleSpan* span) const;
  // Reads sample index into buffer, which holds capacity bytes (at least the
  // sample's size); *size gets its size. endOfFile when the file ends
  // before the sample does. A failure's words are in Error().
  Status ReadSample(int64_t index, void* buffer, int64_t capacity, uint32_t* size);
  // The last failure of ReadSample or ReadSound in words; "" when none.
  const char* Error() const;

  // The sound track offered, its format and length in frames: false when
  // none is (the video is read the same either way).
  bool Sound(SoundFormat* format, uint64_t* frames) const;
  // Why no sound is offered though the movie has a sound track (or a track
  // too damaged to tell its kind); "" when sound is offered or there is
  // no such track.
  const char* SoundProblem() const;
  // Reads frameCount frames of it from firstFrame into buffer (frameCount x
  // bytes a frame). badArgument without sound or for a negative range;
  // endOfFile past its end or when the file ends early.
  Status ReadSound(int64_t firstFrame, int64_t frameCount, void* buffer);

  struct State;

 private:
  std::unique_ptr<State> state_;
  TrackFacts facts_;
};

// Checks what every sound track of the QuickTime or MP4 movie at path must
// hold whatever its format: a sample description within its atom giving at
// least one channel, and chunk tables that agree with their atoms (the
// sample-to-chunk table starting at chunk 1, in order). ok when they do,
// and for a file that is not a movie or whose movie atom cannot be found;
// otherwise the status and, in *message, which track fails and why. For a
// program about to hand the file to another reader: some are known to
// crash on such tracks.
Status CheckSoundTracks(const char* path, std::string* message);

}  // namespace orxmovie
