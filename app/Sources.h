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
  // Frames that carry times of their own (footage): --fps converts their
  // rate by those times; other sources take it as the rate of their frames.
  virtual bool Timed() const { return false; }
  // A live source, which never ends by itself.
  virtual bool Endless() const { return false; }
  // The pictures' size before the first frame is read, when the source knows.
  virtual bool PictureSize(int* /*width*/, int* /*height*/) const { return false; }
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

// Footage GStreamer's plug-ins decode (GstSource.cpp): options.inputs[0].
std::unique_ptr<FrameSource> OpenGstFrameSource(const SourceOptions& options, std::string* error);
// The one picture of a still-image file GStreamer decodes (JPEG, WebP, ...),
// deeper samples rounded to 8 bits; false with the problem in words
// (without the file name).
bool ReadStillPicture(const std::string& path, ImageARGB* out, std::string* error);
// Several footage inputs as one source, in order (JoinedSource.cpp): each is
// opened once before any frame is read, and one of another picture size,
// rate or pixel aspect, a live one, or sound of another rate or channel
// count is refused with the reason. Their times run on from one input to
// the next, and their sound is joined in step with their pictures: each
// input's own is cut at the end of its pictures, and where it is short or
// missing the movie is silent; sound of another sample format is widened to
// the deepest (16-bit to 24-bit to float, exactly).
std::unique_ptr<FrameSource> OpenJoinedFootage(const SourceOptions& options, std::string* error);
// What a joined source holds, an entry an input (none for other sources).
struct JoinedInput {
  std::string name;
  int64_t frames = 0;        // estimated from its length and rate; 0 when unknown
  int64_t durationNs = -1;
  std::string sound;         // its sound in words, "" when it has none
  std::string soundProblem;  // why it has none, when it has an audio stream
};
std::vector<JoinedInput> JoinedInputs(const FrameSource& source);
// The sound of a file (a WAV or FLAC file, or any footage), for pictures
// that have none.
std::unique_ptr<SoundSource> OpenSoundFile(const std::string& path, std::string* error);

// Footage converted to another frame rate by the frames' times: each frame
// of the new rate shows the source frame nearest its time (the earlier one
// at a tie), so frames are repeated or dropped and the length, and the
// sound beside it, stay as they were. Each frame's time is that of its
// place at the new rate.
class RateConverter : public FrameSource {
 public:
  RateConverter(std::unique_ptr<FrameSource> source, int num, int den);
  int Next(ImageARGB* out) override;
  int64_t Count() const override;
  bool Rate(int* num, int* den) const override;
  bool Timed() const override { return true; }
  bool PixelAspect(int* num, int* den) const override { return source_->PixelAspect(num, den); }
  int64_t DurationNs() const override { return source_->DurationNs(); }
  int HasAlpha() const override { return source_->HasAlpha(); }
  SoundSource* Sound() override { return source_->Sound(); }
  std::string SoundProblem() const override { return source_->SoundProblem(); }
  std::string CurrentName() const override { return name_; }
  std::vector<std::string> Files() const override { return source_->Files(); }
  // Source frames shown more than once, and those not shown at all, since
  // StartCounting (frames skipped before the movie starts do not count).
  void StartCounting();
  int64_t Repeated() const { return repeated_; }
  int64_t Dropped() const { return dropped_; }

 private:
  int64_t SlotNs(int64_t n) const;  // the time of frame n of the new rate
  int64_t TimeOf(const ImageARGB& f, int64_t index) const;  // source frame index's time
  int64_t CurEndNs() const;  // where the current frame ends when none follows
  // Whether the current frame is done with by slot n: the next is nearer
  // its time (a tie goes to the earlier), or none follows and it has ended.
  bool Passed(int64_t n) const;
  void ReadNext();

  std::unique_ptr<FrameSource> source_;
  int num_, den_;
  int sourceNum_ = 0, sourceDen_ = 1;  // the source's own rate, when it has a fixed one
  int64_t sourceFrameNs_ = 0;          // and its frame length, 0 without
  bool started_ = false;
  int ended_ = 1;  // 1 while frames come; then what Next returns from here on (0 or -1)
  ImageARGB cur_, next_;  // the source frame shown now, and the one after it
  std::string name_, nextName_, nextError_;
  int64_t curIndex_ = 0, curNs_ = 0, curLengthNs_ = -1, nextNs_ = 0, prevNs_ = -1;
  int nextResult_ = 0;  // 1: next_ holds the following frame; 0: the source ended; -1: it failed
  bool curShown_ = false, curInMovie_ = false;  // shown at all, and since StartCounting
  int64_t t0_ = 0, slot_ = 0;
  int64_t repeated_ = 0, dropped_ = 0;
};

// The same frames, read ahead on threads of their own while the caller
// encodes: one reader for sources read in order, several for independent
// reads (PNG files decode in parallel). A few frames are held at a time.
std::unique_ptr<FrameSource> ReadAhead(std::unique_ptr<FrameSource> source);

}  // namespace orxapp
