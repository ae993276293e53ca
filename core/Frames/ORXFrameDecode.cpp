#include "core/Frames/ORXFrameDecode.h"

#include <algorithm>
#include <cstdlib>

#include "core/Blocks/DXT24Decoder.h"
#include "core/Blocks/DXTDecoder.h"
#include "core/Format/ORXChunkTable.h"
#include "core/Frames/LZFUnpack.h"

void ORXFreeDecodeScratch(ORXDecodeScratch* scratch) {
  if (scratch == nullptr) return;
  std::free(scratch->data);
  scratch->data = nullptr;
  scratch->size = 0;
}

namespace {

// A frame's chunks as jobs: job k unpacks chunk k into its share of dest.
struct UnpackChunks {
  ORXChunkTable table;
  int64_t rawSize;
  const unsigned char* packed;
  unsigned char* dest;
  const int64_t* packedAt;
  bool* failed;  // chunk k's verdict
};

void UnpackChunk(void* context, int k) {
  const UnpackChunks& u = *static_cast<const UnpackChunks*>(context);
  const int64_t first = k * u.table.chunkRawBytes;
  const int64_t share = u.rawSize - first < u.table.chunkRawBytes ? u.rawSize - first : u.table.chunkRawBytes;
  const int64_t size = ORXChunkPackedSize(u.table, k);
  u.failed[k] = ORXUnpackLZF(u.packed + u.packedAt[k], size, u.dest + first, share) != share;
}

// Where each chunk's packed bytes start, and each chunk's verdict, for
// tables of up to this many chunks on the stack (an 8K DXT5 frame is 64);
// larger tables take memory, or are unpacked as one stream without it.
constexpr int64_t kStackChunks = 256;

}  // namespace

bool ORXUnpackBlocks(const unsigned char* frame, const ORXFrameLayout& layout, unsigned char* dest,
                     const ORXJobRunner* runner) {
  const ORXHeader& h = layout.header;
  const unsigned char* packed = frame + h.headerSize;
  ORXChunkTable table;
  // Chunks pay only where there is a second thread to take them.
  const bool threaded = runner != nullptr && runner->run != nullptr && runner->threads > 1;
  if (threaded && ReadORXChunkTable(frame, layout, &table)) {
    int64_t stackAt[kStackChunks];
    bool stackFailed[kStackChunks];
    int64_t* at = stackAt;
    bool* failed = stackFailed;
    void* heap = nullptr;
    if (table.chunks > kStackChunks) {
      heap = std::malloc(static_cast<size_t>(table.chunks) * (sizeof(int64_t) + sizeof(bool)));
      at = static_cast<int64_t*>(heap);
      failed = heap != nullptr ? reinterpret_cast<bool*>(at + table.chunks) : nullptr;
    }
    if (at != nullptr) {
      int64_t offset = 0;
      for (int64_t k = 0; k < table.chunks; ++k) {
        at[k] = offset;
        offset += ORXChunkPackedSize(table, k);
      }
      UnpackChunks jobs{table, layout.blockDataSize, packed, dest, at, failed};
      ORXRunJobs(runner, static_cast<int>(table.chunks), UnpackChunk, &jobs);
      bool whole = true;
      for (int64_t k = 0; k < table.chunks; ++k) whole = whole && !failed[k];
      std::free(heap);
      if (whole) return true;
    }
  }
  // No table, no second thread, or a table that does not describe the data:
  // the data as the one stream it always is.
  return ORXUnpackLZF(packed, h.dataSize, dest, layout.blockDataSize) == layout.blockDataSize;
}

ORXStatus ORXPrepareFrame(const unsigned char* frame, int64_t frameSize, int width, int height, int64_t rowBytes,
                          ORXDecodeScratch* scratch, ORXFrameLayout* layout, const unsigned char** blocks,
                          const ORXJobRunner* runner) {
  *blocks = nullptr;
  // The layer is proven here, so that every road refuses a damaged one,
  // whether or not it draws it; the block data below, before the scratch
  // grows for it.
  if (scratch == nullptr ||
      CheckORXFrameData(frame, frameSize, width, height, layout, false) != ORXFrameError::none)
    return ORXStatus::badData;
  const ORXHeader& h = layout->header;
  // DXT24 writes whole blocks; the other roads write the image only.
  const int64_t rowNeeded = 4 * static_cast<int64_t>(h.isDXT24 == 1 ? (width + 3) / 4 * 4 : width);
  if (rowBytes < rowNeeded) return ORXStatus::badData;
  const int64_t rawSize = layout->blockDataSize;
  if (rawSize == 0) return ORXStatus::ok;  // an empty image: nothing to draw

  // Raw blocks are read where they are (the check guarantees the sample
  // holds all of them). Packed ones count only when they unpack to exactly
  // the block data, every byte written, so no stale memory reaches the
  // picture.
  const unsigned char* section = frame + h.headerSize;
  if (h.isLZF != 1) {
    *blocks = section;
    return ORXStatus::ok;
  }
  if (scratch->size < rawSize) {
    // Memory is sized for the image only once the frame is proven to fill it.
    if (!ORXLZFUnpacksTo(section, h.dataSize, rawSize)) return ORXStatus::badData;
    ORXFreeDecodeScratch(scratch);
    scratch->data = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(rawSize)));
    if (scratch->data == nullptr) return ORXStatus::noMemory;
    scratch->size = rawSize;
  }
  if (!ORXUnpackBlocks(frame, *layout, scratch->data, runner))
    return ORXStatus::badData;  // short, corrupt or too long for the image
  *blocks = scratch->data;
  return ORXStatus::ok;
}

namespace {

// A frame's block rows as jobs: job i decodes band i.
struct DecodeBands {
  const unsigned char* blocks;
  unsigned char* dest;
  int width, height, rowBytes;
  bool alpha, dxt24;
  int perBand;
  const ORXBandFinish* finish;
};

void DecodeBand(void* context, int index) {
  const DecodeBands& d = *static_cast<const DecodeBands*>(context);
  if (d.dxt24)
    DecodeDXT24Rows(d.blocks, d.dest, d.width, d.height, d.rowBytes, d.alpha, index * d.perBand, d.perBand);
  else
    DecodeDXTRows(d.blocks, d.dest, d.width, d.height, d.rowBytes, d.alpha, index * d.perBand, d.perBand);
  if (d.finish != nullptr && d.finish->run != nullptr) {
    const int first = index * d.perBand * 4;
    const int last = std::min(first + d.perBand * 4, d.height);
    if (last > first) d.finish->run(d.finish->context, first, last - first);
  }
}

// Pixels of a band a finisher reads back while they are in cache: 512 KiB of
// 32-bit pixels, half a typical L2.
constexpr int64_t kCachedBandPixels = 128 * 1024;

}  // namespace

void ORXDecodeBlocksOnProcessor(const ORXFrameLayout& layout, const unsigned char* blocks, int width, int height,
                                unsigned char* dest, int rowBytes, const ORXJobRunner* runner,
                                const ORXBandFinish* finish) {
  const ORXHeader& h = layout.header;
  const bool dxt24 = h.isDXT24 == 1, alpha = h.hasAlpha != 0;
  if (width <= 0 || height <= 0) return;
  const int rows = (height + 3) / 4;
  // Frames of a megapixel and more in bands, one a thread of the runner;
  // smaller ones are not worth the hand-off.
  const int64_t padded = int64_t{(width + 3) / 4 * 4} * (rows * 4);
  const int threads = runner != nullptr && runner->run != nullptr ? runner->threads : 1;
  int perBand = padded >= kORXBandedDecodePixels ? ORXDecodeBandRows(rows, threads) : rows;
  // A band that is finished (converted) afterwards is kept small enough
  // that its pixels are still in cache when the finisher reads them.
  if (finish != nullptr && finish->run != nullptr) {
    const int64_t rowPixels = int64_t{(width + 3) / 4 * 4} * 4;
    const int cached = static_cast<int>(std::max<int64_t>(1, kCachedBandPixels / rowPixels));
    perBand = std::min(perBand, cached);
  }
  DecodeBands bands{blocks, dest, width, height, rowBytes, alpha, dxt24, perBand, finish};
  ORXRunJobs(runner, (rows + perBand - 1) / perBand, DecodeBand, &bands);
}
