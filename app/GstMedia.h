// Footage that GStreamer's own plug-ins decode: any file or URI, its video
// stream as 32-bit ARGB pulled from an appsink, and its first audio stream
// as linear PCM taken off its branch as it arrives, both from one pipeline
// (uridecodebin, then videoconvert, and audioconvert where the sound is not
// already in the format the movie stores). Memory stays bounded whatever
// the file holds: the pictures wait in a few buffers, and the sound is held
// only while pictures still to come need it, for a limited stretch.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "ImageIO.h"
#include "MovieFile.h"

namespace orxapp {

struct GstMediaRequest {
  std::string input;     // a path or a URI
  int videoStream = 1;   // which video stream (1 = the first); 0: no video
  bool sound = false;    // decode the first audio stream too, when there is one
  bool soundOnly = false;  // no video at all (a sound file beside pictures)
};

// What the source holds, known once it is open.
struct GstMediaInfo {
  int width = 0, height = 0;
  int fpsNum = 0, fpsDen = 1;  // 0/1: variable rate (frames carry their times)
  int parNum = 1, parDen = 1;  // pixel aspect
  bool hasAlpha = false;       // the decoded pictures carry alpha
  int videoStreams = 0;
  int64_t durationNs = -1;     // -1: unknown (the length the file declares)
  bool live = false;           // a live source (a network stream): it never ends by itself
  bool hasSound = false;
  HostSoundFormat sound{};
  std::string soundFrom;  // the decoded sample format ("S32LE") when it is stored otherwise
  std::string soundProblem;  // why the sound is left out, in words that name it ("" when not)
};

class GstMedia {
 public:
  GstMedia();
  ~GstMedia();
  // Opens and prerolls the pipeline. false with *error in words (without
  // the input's name): no such file, not a regular file, a URI nothing can
  // feed, a format GStreamer cannot read, a missing plug-in (which package
  // holds it), no video, no such stream, pictures larger than a frame
  // holds, sound a movie cannot store, an interruption.
  bool Open(const GstMediaRequest& request, std::string* error);
  const GstMediaInfo& Info() const { return info_; }

  // The next picture and its time. 1: a frame; 0: the stream ended; -1:
  // an error, in *error. Pictures lost on the way count as an error at the
  // place of the loss: a gap in the times of a stream of fixed rate, frames
  // a decoder dropped, GStreamer's warnings, or a stream that ends well
  // short of the length its file declares.
  int NextFrame(ImageARGB* out, int64_t* ptsNs, std::string* error);

  // Appends sound decoded so far to *out (whole frames, one stretch without
  // a break in its times, at most about a megabyte) and sets *firstNs to
  // the time of the first of them (-1 when none were added). waitMs: how
  // long to wait for some when none is ready. 1: more may come; 0: the
  // sound has ended; -1: an error, in *error.
  int TakeSound(std::vector<uint8_t>* out, int64_t* firstNs, int waitMs, std::string* error);
  // Sound the source could not hand over: the source time from which it is
  // missing, -1 when none is; *why says what happened.
  int64_t SoundLost(std::string* why) const;

  struct Pipeline;  // the GStreamer objects, reached from their callbacks

 private:
  int PicturesEnded(std::string* error);

  std::unique_ptr<Pipeline> p_;
  GstMediaInfo info_;
  int64_t lastPtsNs_ = -1, lastDurationNs_ = 0;  // the last picture handed over
  std::deque<int64_t> returnedNs_;              // the times of the last few
};

// input as GStreamer's uridecodebin wants it: URIs pass, paths become
// file:// URIs (relative ones against the working folder).
std::string ToURI(const std::string& input);
// Whether input names a URI rather than a file ("scheme://...").
bool IsURI(const std::string& input);

}  // namespace orxapp
