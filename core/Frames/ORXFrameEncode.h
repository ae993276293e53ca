// One 32-bit ARGB picture into one compressed frame: blocks of the chosen
// variant in bands of block rows, LZF in chunks when it fits within the raw
// size, the header. Bands and chunks are jobs of the runner the caller
// supplies (ORXJobs.h). The compressor component and any other caller of the
// core make the same bytes from the same pixels and choices.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/Frames/ORXJobs.h"

struct ORXFrameChoices {
  bool alpha = false;       // DXT5 blocks (with alpha kept)
  bool dxt24 = false;       // DXT24 blocks; DXT1/DXT5 otherwise
  bool lzf = true;          // pack the block data when it gets smaller
  uint8_t gradientsByte = 0;  // the header's informational byte 25
  // Blocks re-chosen to pack smaller under LZF (LZFReduce.h): 0 off, 1 to 3
  // light to strong. Only with lzf; the compressor component leaves it off.
  int reduce = 0;
  // Bands of block rows the image is cut into (1 to kORXMaxThreads; the
  // encode band rule, ORXEncodeBandRows) when runner runs jobs.
  int threads = 1;
  // Runs the bands and the LZF chunks; without run, all of them in order on
  // the calling thread, the image as one band. The bytes do not depend on it.
  ORXJobRunner runner{};
};

// The variant rule: DXT24 blocks when gradients are preserved and alpha is
// not kept; kept alpha is DXT5 either way.
constexpr bool ORXChoosesDXT24(bool keepAlpha, bool preserveGradients) { return preserveGradients && !keepAlpha; }

// Working storage kept between frames (block data and the LZF chunks).
struct ORXEncodeScratch {
  unsigned char* data = nullptr;
  size_t size = 0;
};
void ORXFreeEncodeScratch(ORXEncodeScratch* scratch);

// Room a frame of this size and variant may need: the header and the raw
// block data (packed data is never larger).
int64_t ORXFrameCapacity(int width, int height, const ORXFrameChoices& choices);

// Encodes the picture at argb (width x height, rows rowBytes apart) into
// dest, which holds capacity bytes (at least ORXFrameCapacity); a picture of
// no pixels gives a bare header. Returns the
// frame's size; 0 when dest is too small or the arguments are out of range;
// -1 without memory for the scratch.
int64_t ORXEncodeFrame(const unsigned char* argb, int width, int height, int64_t rowBytes,
                       const ORXFrameChoices& choices, unsigned char* dest, int64_t capacity,
                       ORXEncodeScratch* scratch);
