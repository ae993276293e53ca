// Smaller frames at a bounded cost in error. Once the encoder has made a
// frame's blocks, each block may give way to a nearly equal encoding that
// repeats bytes written shortly before it, which LZF then packs as a back
// reference: the block to its left, two to its left or above it whole, their
// end points with indices of its own, or their index word with end points
// fitted to it. Among the encodings whose error stays within the level's
// budget, the one that weighs least (bytes LZF would spend, and the error
// added, at the level's exchange rate) is kept. The format is unchanged:
// every reader decodes the result at its usual speed.
//
// Blocks are taken in order within each LZF chunk and never look before
// their chunk, so the chunks are independent jobs and the bytes are the same
// at every thread count. All arithmetic is on integers.
#pragma once

#include <cstdint>

#include "core/Frames/ORXJobs.h"

// Levels: 0 off (the encoder's blocks as they are), 1 light, 2 medium,
// 3 strong.
constexpr int kORXReduceLevels = 4;

struct ORXReduceLevel {
  int growth;            // a block's error may grow by this many 256ths of its own,
  int floor;             // or by this much squared error a pixel channel: DXT24 colours,
  int floorStandard;     // DXT1/DXT5 colours (coarser end points),
  int floorAlpha;        // alpha; whichever is more
  int exchange;          // squared error (over the block) one byte saved is worth: DXT24,
  int exchangeStandard;  // DXT1/DXT5
  int keepRaw;           // packed data saving less than this many 256ths of the raw size is stored raw
  int neighbours;        // earlier blocks tried (1 to 3): the first in reach of left, above, two to the left
};
const ORXReduceLevel& ORXReduceLevelOf(int level);

// The squared error of one encoded block (DXT1, DXT5, DXT24, or DXT24 with
// alpha, as the frame's flags say) against its 16 pixels (R, G, B, A each,
// row-major, as GatherBlockRGBA gives them), decoded exactly as the decoders
// decode it: its colours (R, G and B) and its alpha. A DXT1 block that would
// draw a pixel transparent has colour error INT64_MAX.
struct ORXBlockErrors {
  int64_t colour = 0;
  int64_t alpha = 0;
};
ORXBlockErrors ORXBlockError(const unsigned char* block, const unsigned char pixels[64], bool alpha, bool dxt24);

// The most squared error a block of the variant may carry at level when the
// encoder's own block carries own: each part's own error grown by the
// level's share of it, or by its floor, whichever is more.
int64_t ORXReduceBudget(int level, ORXBlockErrors own, bool alpha, bool dxt24);

// Rewrites the blocks of a width x height ARGB picture (rows rowBytes apart)
// that the encoder made, at level (1 to 3; 0 leaves them), chunk by chunk
// as jobs of runner (null: in order on the calling thread).
void ORXReduceBlocks(const unsigned char* argb, int width, int height, int rowBytes, bool alpha, bool dxt24,
                     int level, unsigned char* blocks, const ORXJobRunner* runner);
