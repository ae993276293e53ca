// The sound of footage held between the end of its GStreamer branch and its
// reader. The pictures' own sound never holds the demuxer back: it is
// dropped before the first picture and past the last as it comes, and lost
// (and reported) when it runs too far ahead of the pictures; a sound file
// of its own waits for its reader instead. The pipeline feeds in the
// pictures' times, and the losses GStreamer reports are judged against them
// here.
//
// Locking: one mutex guards everything here, and nothing else is waited for
// while it is held, so a caller may hold a lock of its own around any call
// (never the other way round).
#pragma once

#include <gst/gst.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "MovieFile.h"

namespace orxapp {

class GstSoundHold {
 public:
  GstSoundHold() = default;
  GstSoundHold(const GstSoundHold&) = delete;
  GstSoundHold& operator=(const GstSoundHold&) = delete;
  ~GstSoundHold();

  // The stream's format, before its first buffer. soundFile: the source is
  // a sound file of its own, read beside pictures from elsewhere.
  void Begin(const HostSoundFormat& format, bool soundFile);

  // On the streaming threads: a buffer of sound at the end of its branch
  // (a sound file's thread waits here for room), the sound's end, a picture
  // where the decoder hands it over, the pictures' end.
  void Arrived(GstBuffer* b);
  void Ended();
  void PictureArrived(GstBuffer* b);
  void PicturesEnded();
  // A loss a warning or QoS message reports: of the sound (from where it
  // has reached), or of the pictures once they have begun.
  void Lost(bool ofSound, const std::string& what);
  // Lets a sound file's thread go for good, before the pipeline stops.
  void Close();

  // Sound that ends before ns is no longer needed, while nobody takes it
  // (pictures skipped before the first one encoded). Once the sound's reader
  // has begun it takes what arrives, which may come after later pictures.
  void KeepFrom(int64_t ns);

  // The reader's turn: appends the held sound that follows the first held
  // chunk without a break (at most about a megabyte) to *out and sets
  // *firstNs to its time (kTaken); else says the sound has ended (kEnded; a
  // sound file that ends well short of declaredNs, when known, lost its
  // end), or that `until` (g_get_monotonic_time) has passed (kTimeUp), or
  // waits up to kPoll for sound and says so (kWaited).
  enum class Turn { kTaken, kEnded, kTimeUp, kWaited };
  Turn Take(std::vector<uint8_t>* out, int64_t* firstNs, gint64 until, int64_t declaredNs);

  // The source time from which sound is missing, -1 when none is; *why says
  // what happened.
  int64_t SoundLost(std::string* why) const;
  // The first report of lost pictures, in *why: false when none came.
  bool PicturesLost(std::string* why) const;

 private:
  // A stretch of sound as it arrived: the buffer, its source times and its
  // whole frames' bytes.
  struct Chunk {
    GstBuffer* buffer;
    int64_t startNs, endNs;
    size_t bytes;
  };

  static std::string Holds();
  int64_t FramesNs(int64_t frames) const;
  void Hold(GstBuffer* b, int64_t startNs, int64_t endNs, size_t bytes);
  void NoteSoundLoss(int64_t atNs, const std::string& why);
  void PopFront();
  void DropBefore(int64_t ns);
  void TakeRun(std::vector<uint8_t>* out, int64_t* firstNs);

  mutable std::mutex m_;
  std::condition_variable ready_;  // sound arrived, or it ended
  std::condition_variable room_;   // a sound file's reader took some
  bool soundFile_ = false;
  UInt32 sampleRate_ = 0;
  size_t frameBytes_ = 0;
  std::deque<Chunk> chunks_;
  size_t chunkBytes_ = 0;
  int64_t soundEndNs_ = -1;  // where the sound that arrived so far ends
  bool soundEnded_ = false;
  bool soundLengthChecked_ = false;
  bool closing_ = false;
  int64_t firstPictureNs_ = -1;
  int64_t picturesEndNs_ = -1;  // where the pictures end, once they have
  int64_t latestPictureEndNs_ = -1;
  int64_t keepFromNs_ = INT64_MIN;  // sound that ends before this is no longer needed
  bool soundTaken_ = false;         // the reader of the sound has begun
  int64_t droppedUntilNs_ = -1;     // sound dropped before the first picture came ends here
  bool overflowed_ = false;
  int64_t lostNs_ = -1;  // the source time from which sound is missing
  std::string lostWhy_;
  std::string pictureLoss_;  // the first report of lost pictures
};

}  // namespace orxapp
