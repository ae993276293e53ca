// One compressed frame into 32-bit ARGB on the processor: the frame checked,
// its block data found (in place when raw, unpacked when packed) and
// decoded. The decompressor's pipeline uses the first half for every road
// and the second where the processor draws; any other caller of the core
// gets the same pixels.
#pragma once

#include <cstdint>

#include "core/Format/ORXHeader.h"
#include "core/Frames/ORXJobs.h"
#include "core/Frames/ORXStatus.h"

// Frames of at least this many (padded) pixels are cut into bands for the
// runner's threads; smaller ones are decoded as one job.
constexpr int64_t kORXBandedDecodePixels = int64_t{1} << 20;

// Unpacked block data kept between frames, so that playback allocates
// nothing per frame: grown when a frame needs more, released by
// ORXFreeDecodeScratch. All zero is empty.
struct ORXDecodeScratch {
  unsigned char* data;
  int64_t size;
};
void ORXFreeDecodeScratch(ORXDecodeScratch* scratch);

// Unpacks the packed block data of a frame that passed CheckORXFrame into
// dest (layout.blockDataSize bytes). A frame with a valid chunk table is
// unpacked chunk by chunk as jobs of runner, each into its own share of dest;
// without one, or when a chunk does not unpack to exactly its share, as one
// stream on the calling thread. True when the data unpacks to exactly the
// block data; dest's bytes are then the same whichever way was taken.
bool ORXUnpackBlocks(const unsigned char* frame, const ORXFrameLayout& layout, unsigned char* dest,
                     const ORXJobRunner* runner = nullptr);

// Checks the frame against the sample size and the image size (a packed
// layer must unpack to its dimensions, whether or not the road draws it),
// and that rowBytes holds a row (whole blocks for DXT24, the image for the
// others), then finds its block data: *blocks points into the frame when it
// is raw, into scratch when it is packed (and unpacks to exactly the raw
// size, proven before the scratch grows for it).
// *blocks is null for an image without blocks. Packed data is unpacked by
// ORXUnpackBlocks over runner. Returns ok, noMemory, or badData for a frame
// that cannot be decoded safely.
ORXStatus ORXPrepareFrame(const unsigned char* frame, int64_t frameSize, int width, int height, int64_t rowBytes,
                          ORXDecodeScratch* scratch, ORXFrameLayout* layout, const unsigned char** blocks,
                          const ORXJobRunner* runner = nullptr);

// Decodes prepared block data into dest: DXT24 as whole blocks (the image
// extended to multiples of 4), DXT1/DXT5 the image's pixels only. A frame of
// kORXBandedDecodePixels or more is cut into bands of block rows, one for
// each of the runner's threads (ORXDecodeBandRows), run as its jobs; null
// runs it on the calling thread. The pixels do not depend on the runner.
// finish, when given, is called in each band's job once its rows are
// decoded (pixel rows firstRow .. firstRow + rowCount - 1 of the image), so
// a caller converts them while they are still in cache.
struct ORXBandFinish {
  void (*run)(void* context, int firstRow, int rowCount) = nullptr;
  void* context = nullptr;
};
void ORXDecodeBlocksOnProcessor(const ORXFrameLayout& layout, const unsigned char* blocks, int width, int height,
                                unsigned char* dest, int rowBytes, const ORXJobRunner* runner = nullptr,
                                const ORXBandFinish* finish = nullptr);

// ORXPrepareFrame and ORXDecodeBlocksOnProcessor in one, for a caller whose
// dest may hold part of a picture when a frame is refused: a frame with a
// valid chunk table is unpacked and decoded chunk by chunk as jobs of
// runner, each chunk's block rows decoded (and finished) while its blocks
// are in cache; any other frame, or one whose chunks do not unpack, as one
// stream and then in bands. The pixels are the same either way. Returns ok,
// noMemory or badData, as ORXPrepareFrame does.
ORXStatus ORXDecodeFrameOnProcessor(const unsigned char* frame, int64_t frameSize, int width, int height,
                                    ORXDecodeScratch* scratch, unsigned char* dest, int rowBytes,
                                    const ORXJobRunner* runner = nullptr, const ORXBandFinish* finish = nullptr);
