#include "core/Frames/ORXFrameDecode.h"

#include <algorithm>
#include <cstdlib>

#include "core/Blocks/DXT24Decoder.h"
#include "core/Blocks/DXTDecoder.h"
#include "core/Format/ORXChunkTable.h"
#include "core/Format/ORXFormat.h"
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

// Where each chunk's packed bytes start, and each chunk's verdict: on the
// stack for tables of up to kStackChunks chunks (an 8K DXT5 frame has 64),
// in memory for larger ones.
constexpr int64_t kStackChunks = 256;

struct ChunkPlan {
  int64_t stackAt[kStackChunks];
  bool stackFailed[kStackChunks];
  int64_t* at = stackAt;
  bool* failed = stackFailed;
  void* heap = nullptr;
  ChunkPlan() = default;
  ChunkPlan(const ChunkPlan&) = delete;
  ChunkPlan& operator=(const ChunkPlan&) = delete;
  ~ChunkPlan() { std::free(heap); }

  // False without memory for a large table.
  bool Make(const ORXChunkTable& table) {
    if (table.chunks > kStackChunks) {
      heap = std::malloc(static_cast<size_t>(table.chunks) * (sizeof(int64_t) + sizeof(bool)));
      if (heap == nullptr) return false;
      at = static_cast<int64_t*>(heap);
      failed = reinterpret_cast<bool*>(at + table.chunks);
    }
    int64_t offset = 0;
    for (int64_t k = 0; k < table.chunks; ++k) {
      at[k] = offset;
      offset += ORXChunkPackedSize(table, k);
    }
    return true;
  }
  bool Whole(int64_t chunks) const {
    for (int64_t k = 0; k < chunks; ++k)
      if (failed[k]) return false;
    return true;
  }
};

}  // namespace

bool ORXUnpackBlocks(const unsigned char* frame, const ORXFrameLayout& layout, unsigned char* dest,
                     const ORXJobRunner* runner) {
  const ORXHeader& h = layout.header;
  const unsigned char* packed = frame + h.headerSize;
  ORXChunkTable table;
  ChunkPlan plan;
  // Chunks pay only where there is a second thread to take them.
  const bool threaded = runner != nullptr && runner->run != nullptr && runner->threads > 1;
  if (threaded && ReadORXChunkTable(frame, layout, &table) && plan.Make(table)) {
    UnpackChunks jobs{table, layout.blockDataSize, packed, dest, plan.at, plan.failed};
    ORXRunJobs(runner, static_cast<int>(table.chunks), UnpackChunk, &jobs);
    if (plan.Whole(table.chunks)) return true;
  }
  // No table, no second thread, or a table that does not describe the data:
  // the data as the one stream it always is.
  return ORXUnpackLZF(packed, h.dataSize, dest, layout.blockDataSize) == layout.blockDataSize;
}

namespace {

// ORXPrepareFrame up to the unpacking: raw blocks are found in the frame
// (*blocks), packed ones get scratch of their raw size (*packed true).
ORXStatus FindBlocks(const unsigned char* frame, int64_t frameSize, int width, int height, int64_t rowBytes,
                     ORXDecodeScratch* scratch, ORXFrameLayout* layout, const unsigned char** blocks, bool* packed) {
  *blocks = nullptr;
  *packed = false;
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
  *packed = true;
  return ORXStatus::ok;
}

}  // namespace

ORXStatus ORXPrepareFrame(const unsigned char* frame, int64_t frameSize, int width, int height, int64_t rowBytes,
                          ORXDecodeScratch* scratch, ORXFrameLayout* layout, const unsigned char** blocks,
                          const ORXJobRunner* runner) {
  bool packed = false;
  const ORXStatus found = FindBlocks(frame, frameSize, width, height, rowBytes, scratch, layout, blocks, &packed);
  if (found != ORXStatus::ok || !packed) return found;
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

// Pixels of a band a finisher reads back while they are in cache: 512 KiB of
// 32-bit pixels, half a typical L2.
constexpr int64_t kCachedBandPixels = 128 * 1024;

// Decodes block rows first .. first + count - 1 and finishes their pixel
// rows, in pieces small enough to stay in cache when there is a finisher.
void DecodeRows(const DecodeBands& d, int first, int count) {
  int piece = count;
  if (d.finish != nullptr && d.finish->run != nullptr) {
    const int64_t rowPixels = int64_t{(d.width + 3) / 4 * 4} * 4;
    piece = static_cast<int>(std::clamp<int64_t>(kCachedBandPixels / rowPixels, 1, count));
  }
  for (int at = first; at < first + count; at += piece) {
    const int n = std::min(piece, first + count - at);
    if (d.dxt24)
      DecodeDXT24Rows(d.blocks, d.dest, d.width, d.height, d.rowBytes, d.alpha, at, n);
    else
      DecodeDXTRows(d.blocks, d.dest, d.width, d.height, d.rowBytes, d.alpha, at, n);
    if (d.finish != nullptr && d.finish->run != nullptr) {
      const int top = at * 4, bottom = std::min((at + n) * 4, d.height);
      if (bottom > top) d.finish->run(d.finish->context, top, bottom - top);
    }
  }
}

void DecodeBand(void* context, int index) {
  const DecodeBands& d = *static_cast<const DecodeBands*>(context);
  DecodeRows(d, index * d.perBand, d.perBand);
}

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
  const int perBand = padded >= kORXBandedDecodePixels ? ORXDecodeBandRows(rows, threads) : rows;
  DecodeBands bands{blocks, dest, width, height, rowBytes, alpha, dxt24, perBand, finish};
  ORXRunJobs(runner, (rows + perBand - 1) / perBand, DecodeBand, &bands);
}

namespace {

// A frame's chunks as jobs that also decode: job k unpacks chunk k, then
// decodes the block rows that lie wholly inside it while its blocks are in
// cache. Rows that straddle two chunks are decoded once every job is done.
struct UnpackAndDecode {
  UnpackChunks unpack;
  DecodeBands decode;
  int64_t chunkBlocks, rowBlocks, rows;
};

// Block rows wholly inside chunk k: [first, end).
void RowsInside(const UnpackAndDecode& u, int64_t k, int64_t* first, int64_t* end) {
  const int64_t from = k * u.chunkBlocks, to = std::min((k + 1) * u.chunkBlocks, u.rows * u.rowBlocks);
  *first = (from + u.rowBlocks - 1) / u.rowBlocks;
  *end = std::max(*first, to / u.rowBlocks);
}

void UnpackAndDecodeChunk(void* context, int k) {
  UnpackAndDecode& u = *static_cast<UnpackAndDecode*>(context);
  UnpackChunk(&u.unpack, k);
  if (u.unpack.failed[k]) return;
  int64_t first = 0, end = 0;
  RowsInside(u, k, &first, &end);
  if (end > first) DecodeRows(u.decode, static_cast<int>(first), static_cast<int>(end - first));
}

}  // namespace

ORXStatus ORXDecodeFrameOnProcessor(const unsigned char* frame, int64_t frameSize, int width, int height,
                                    ORXDecodeScratch* scratch, unsigned char* dest, int rowBytes,
                                    const ORXJobRunner* runner, const ORXBandFinish* finish) {
  ORXFrameLayout layout;
  const unsigned char* blocks = nullptr;
  bool packed = false;
  const ORXStatus found = FindBlocks(frame, frameSize, width, height, rowBytes, scratch, &layout, &blocks, &packed);
  if (found != ORXStatus::ok) return found;
  if (!packed) {
    if (blocks != nullptr) ORXDecodeBlocksOnProcessor(layout, blocks, width, height, dest, rowBytes, runner, finish);
    return ORXStatus::ok;
  }
  const ORXHeader& h = layout.header;
  const int64_t blockBytes = ORXBytesPerBlock(h.hasAlpha != 0, h.isDXT24 == 1);
  const int64_t rowBlocks = (width + 3) / 4, rows = (height + 3) / 4;
  ORXChunkTable table;
  ChunkPlan plan;
  if (ReadORXChunkTable(frame, layout, &table) && table.chunkRawBytes % blockBytes == 0 && plan.Make(table)) {
    UnpackAndDecode jobs{{table, layout.blockDataSize, frame + h.headerSize, scratch->data, plan.at, plan.failed},
                         {scratch->data, dest, width, height, rowBytes, h.hasAlpha != 0, h.isDXT24 == 1,
                          static_cast<int>(rows), finish},
                         table.chunkRawBytes / blockBytes,
                         rowBlocks,
                         rows};
    ORXRunJobs(runner, static_cast<int>(table.chunks), UnpackAndDecodeChunk, &jobs);
    if (plan.Whole(table.chunks)) {
      // The rows no job decoded: those that straddle a chunk boundary.
      int64_t done = 0;  // rows before this are decoded
      for (int64_t k = 0; k < table.chunks; ++k) {
        int64_t first = 0, end = 0;
        RowsInside(jobs, k, &first, &end);
        if (first > done) DecodeRows(jobs.decode, static_cast<int>(done), static_cast<int>(first - done));
        done = std::max(done, end);
      }
      if (rows > done) DecodeRows(jobs.decode, static_cast<int>(done), static_cast<int>(rows - done));
      return ORXStatus::ok;
    }
  }
  // No table the blocks can be cut by, or one the data does not bear out:
  // the one stream, then the blocks decoded in bands.
  if (ORXUnpackLZF(frame + h.headerSize, h.dataSize, scratch->data, layout.blockDataSize) != layout.blockDataSize)
    return ORXStatus::badData;
  ORXDecodeBlocksOnProcessor(layout, scratch->data, width, height, dest, rowBytes, runner, finish);
  return ORXStatus::ok;
}
