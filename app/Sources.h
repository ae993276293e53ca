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

namespace orxapp {

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
};

// Chooses the reader from the options and the inputs' first bytes. Null
// with *error (naming the file) when no reader fits. Raw ARGB files are
// checked up front: each must hold whole frames of the given size (unless
// allowPartial) and must not be a PNG image or a YUV4MPEG2 stream.
std::unique_ptr<FrameSource> OpenFrameSource(const SourceOptions& options, std::string* error);

// The same frames, read ahead on threads of their own while the caller
// encodes: one reader for sources read in order, several for independent
// reads (PNG files decode in parallel). A few frames are held at a time.
std::unique_ptr<FrameSource> ReadAhead(std::unique_ptr<FrameSource> source);

}  // namespace orxapp
