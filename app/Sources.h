// Where `orx encode` takes its frames from: a PNG sequence (a printf pattern
// or a list of files), a YUV4MPEG2 stream (a file or standard input), raw
// 32-bit ARGB (a file or standard input, with its size given), or the
// built-in test clip.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ImageIO.h"
#include "MovieFile.h"

namespace orxapp {

// Sound to go beside the pictures, as linear PCM of the format the movie
// stores.
class SoundSource {
 public:
  virtual ~SoundSource() = default;
  virtual HostSoundFormat Format() const = 0;
  // Appends decoded frames to *out: those ready, waiting up to waitMs for
  // some when none are. *firstNs: the source time of the first one added,
  // -1 when none were. 1: more may come; 0: the sound has ended; -1:
  // failure, described by Error() (which names the file).
  virtual int Take(std::vector<uint8_t>* out, int64_t* firstNs, int waitMs) = 0;
  // The file the sound comes from, and what it was decoded from when the
  // movie stores it in another sample format ("" otherwise).
  virtual std::string Name() const = 0;
  virtual std::string ConvertedFrom() const { return ""; }
  // Sound the source lost on the way (damage, or sound too far ahead of the
  // pictures to hold): the source time from which it is missing, -1 when
  // none is; *why says what happened.
  virtual int64_t LostNs(std::string* /*why*/) const { return -1; }
  const std::string& Error() const { return error_; }

 protected:
  std::string error_;
};

class FrameSource {
 public:
  virtual ~FrameSource() = default;
  // 1: a frame in *out; 0: no more frames; -1: failure, described by
  // Error() (which names the file).
  virtual int Next(ImageARGB* out) = 0;
  // Frames in all, when known (0 otherwise), for the progress display.
  virtual int64_t Count() const { return 0; }
  // The source's own frame rate, when it has one.
  virtual bool Rate(int* /*num*/, int* /*den*/) const { return false; }
  // Frames whose times vary: each carries its own (ImageARGB::ptsNs).
  virtual bool VariableRate() const { return false; }
  // The pixel aspect, when the source says.
  virtual bool PixelAspect(int* /*num*/, int* /*den*/) const { return false; }
  // The source's length in nanoseconds, -1 when unknown.
  virtual int64_t DurationNs() const { return -1; }
  // Whether the pictures carry alpha, before the first frame is read; -1
  // when the source cannot say until then.
  virtual int HasAlpha() const { return -1; }
  // The source's own sound (decoded when SourceOptions::sound asked for
  // it and the source has one), owned by the source.
  virtual SoundSource* Sound() { return nullptr; }
  // Why a stream of the source that may be sound could not be decoded.
  virtual std::string SoundProblem() const { return ""; }
  const std::string& Error() const { return error_; }
  // The file (or "standard input", "test clip") the last frame came from.
  virtual std::string CurrentName() const = 0;
  // The named files the frames come from (none for standard input or the
  // test clip), so that no output is written over one of them.
  virtual std::vector<std::string> Files() const { return {}; }
  // Sources whose frames can be read in any order and on any thread (a PNG
  // sequence): the number of reads (the frames, plus one that fails when
  // the sequence ends in an error), else -1.
  virtual int64_t IndependentReads() const { return -1; }
  // Read i of those: 1 with the frame, -1 with *error; *name is the file.
  virtual int ReadAt(int64_t /*i*/, ImageARGB* /*out*/, std::string* /*name*/, std::string* error) const {
    *error = "frames of this source are read in order";
    return -1;
  }

 protected:
  std::string error_;
};

struct SourceOptions {
  std::vector<std::string> inputs;
  bool testClip = false;
  int testClipFrames = 0;   // 0: the clip's own length
  int width = 0, height = 0;  // --size: raw ARGB input (or the test clip's size)
  int startNumber = -1;     // first number of a pattern; -1: 0 or 1, whichever exists
  bool allowPartial = false;  // --keep-partial: a raw file may end in a part frame
  int videoStream = 1;        // footage GStreamer reads: which video stream (1 = the first)
  bool sound = false;         // and its sound too
};

// Chooses the reader from the options and the inputs' first bytes. Null
// with *error (naming the file) when no reader fits. Raw ARGB files are
// checked up front: each must hold whole frames of the given size (unless
// allowPartial) and must not be a PNG image or a YUV4MPEG2 stream.
// Anything that is neither (a movie, a video file, a URI) goes to GStreamer.
std::unique_ptr<FrameSource> OpenFrameSource(const SourceOptions& options, std::string* error);

// Footage GStreamer's plug-ins decode (GstSource.cpp).
std::unique_ptr<FrameSource> OpenGstFrameSource(const SourceOptions& options, std::string* error);
// The sound of a file (a WAV or FLAC file, or any footage), for pictures
// that have none.
std::unique_ptr<SoundSource> OpenSoundFile(const std::string& path, std::string* error);

// The same frames, read ahead on threads of their own while the caller
// encodes: one reader for sources read in order, several for independent
// reads (PNG files decode in parallel). A few frames are held at a time.
std::unique_ptr<FrameSource> ReadAhead(std::unique_ptr<FrameSource> source);

}  // namespace orxapp
