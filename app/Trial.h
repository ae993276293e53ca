// One measured run of the demo and the bench: frames generated, encoded
// through a compressor instance with one set of choices (into a movie, or
// into memory), decoded back through a decompressor, and compared with the
// source; and the table both print.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Cli.h"
#include "Codec.h"
#include "ImageIO.h"

namespace orxapp {

struct RunConfig {
  std::string name;
  std::string file;  // movie file name in the demo folder
  EncoderChoices choices;
  bool decodeOnOneThread = false;  // also time each frame's decode on one thread
};

struct RunResult {
  std::string variant;
  bool lzf = false;
  bool alpha = false;
  uint64_t bytes = 0;
  int frames = 0;
  double encodeSeconds = 0, decodeSeconds = 0;
  double decodeOneSeconds = 0;  // with decodeOnOneThread
  double sqErrRGB = 0, sqErrA = 0;
  ImageARGB kept;  // the decoded frame chosen for the contact sheet
};

using FrameGen = std::function<void(int index, ImageARGB* out)>;

// The four "Optimize For" and alpha choices, each at the given thread setting.
std::vector<RunConfig> StandardConfigs(int32_t threads);

// Encodes `frames` frames of gen into a movie at moviePath (in memory when it
// is empty), decodes each back and accumulates the errors against gen; the
// decoded frame keepIndex is kept. False with *error naming the file. The
// finished movie is registered in *movie (when not null), for the caller
// to let go once all it writes is complete.
bool RunOne(const RunConfig& cfg, int w, int h, int frames, const FrameGen& gen, const std::string& moviePath,
            int keepIndex, RunResult* res, std::string* error, PartialOutput* movie = nullptr);

// Variant, size, ratio, speeds and PSNR, a row a run.
void PrintTable(const std::vector<std::string>& names, const std::vector<RunResult>& results, int w, int h);

}  // namespace orxapp
