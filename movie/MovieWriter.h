// The movie writer: a QuickTime movie of one video track of sync samples,
// streamed to disk as they arrive, with an optional sound track of linear
// PCM. The movie is written to a temporary file beside its path and
// appears there only when Finish succeeds, so an interrupted run never
// leaves a file at the path. No call throws.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "movie/MovieFacts.h"
#include "movie/MovieStatus.h"

namespace orxmovie {

class Writer {
 public:
  Writer();
  // Abandons a movie not finished: its temporary file is removed.
  ~Writer();
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Starts the movie at path with one video track of the image's sample
  // description and timeScale units a second. Once per writer; on failure
  // Error() says why, without the file name.
  Status Create(const char* path, const ImageFacts& image, int64_t timeScale);
  // Appends one sync sample of duration units of the time scale.
  Status AddSample(const void* data, int64_t size, int64_t duration);
  // Gives the movie a sound track (one; before Finish). Its samples go into
  // the file in chunks of about half a second, between the video samples
  // that arrive meanwhile.
  Status AddSoundTrack(const SoundFormat& format);
  // Appends frameCount frames of sound; the track starts with the video.
  Status AddSound(const void* frames, int64_t frameCount);
  // Writes the movie header, closes the file and moves it to its path. The
  // writer is spent whatever the result; on failure nothing is left at the
  // path (an existing file there is untouched).
  Status Finish();
  // Removes the temporary file of a movie not finished.
  void Abort();

  uint32_t SampleCount() const;
  uint64_t SoundFrameCount() const;
  // Bytes written so far (the file as it would stand after Finish, less
  // the movie header).
  uint64_t FileSize() const;
  // The last failure in words ("no space left on the device while writing
  // sample 12"); "" when none.
  const char* Error() const;
  // "<path>.partial-XXXXXX" until Finish moves it; "" when there is none.
  const char* TemporaryPath() const;
  // Whether Finish may replace a file at the path (it may by default).
  // Without it Finish fails with fileExists and keeps the finished movie
  // under its temporary name, which the error gives.
  void SetReplaceExisting(bool replace);
  // The chunk offsets switch to 64 bits when the file passes this size.
  void SetLargeFileThreshold(int64_t bytes);

  struct State;

 private:
  std::unique_ptr<State> state_;
  std::string error_;  // Create's failure, before there is a state
};

// Moves a finished temporary file onto path, as Finish does. Without
// replace an existing file is never replaced: false with errno EEXIST;
// with it only a regular file is (anything else at the path, or behind a
// link there, gives the same EEXIST). The check and the move are one step
// where the file system allows (a rename that refuses to replace, else a
// hard link).
bool MoveFileIntoPlace(const char* temp, const char* path, bool replace);

}  // namespace orxmovie
