#include "core/Frames/ORXFrameEncode.h"

#include <cstdlib>
#include <cstring>

#include "core/Blocks/DXT24.h"
#include "core/Blocks/DXTStandard.h"
#include "core/Format/ORXFormat.h"
#include "core/Format/ORXChunkTable.h"
#include "core/Format/ORXHeader.h"
#include "core/Frames/LZFChunks.h"
#include "core/Frames/LZFReduce.h"

namespace {

// An image's bands of block rows as jobs: job i compresses band i.
struct EncodeBands {
  const unsigned char* src;
  unsigned char* dest;
  int width, rowBytes, band, blockBytes;
  bool alpha, dxt24;
  int rows[kORXMaxThreads];
};

void EncodeBand(void* context, int i) {
  const EncodeBands& b = *static_cast<const EncodeBands*>(context);
  if (b.rows[i] <= 0) return;
  const int across = (b.width + 3) / 4;
  unsigned char* dest = b.dest + static_cast<ptrdiff_t>(i) * (b.band / 4) * across * b.blockBytes;
  const unsigned char* src = b.src + static_cast<ptrdiff_t>(i) * b.band * b.rowBytes;
  if (b.dxt24)
    _stbCompressARGB32_to24(dest, src, b.width, b.rows[i], b.rowBytes, b.alpha ? 1 : 0);
  else
    stbCompressARGB32(dest, src, b.width, b.rows[i], b.rowBytes, b.alpha ? 1 : 0);
}

// The blocks of the whole image, in one band for each of the choices'
// threads (the encode band rule) as jobs of the runner.
void EncodeBlocks(const unsigned char* argb, int width, int height, int rowBytes, const ORXFrameChoices& c,
                  unsigned char* blocks) {
  const bool runs = c.runner.run != nullptr;
  int n = runs ? (c.threads > 1 ? c.threads : 1) : 1;
  if (n > kORXMaxThreads) n = kORXMaxThreads;
  if (n == 1 || height <= 0) {
    if (c.dxt24)
      _stbCompressARGB32_to24(blocks, argb, width, height, rowBytes, c.alpha ? 1 : 0);
    else
      stbCompressARGB32(blocks, argb, width, height, rowBytes, c.alpha ? 1 : 0);
    return;
  }
  EncodeBands b{argb, blocks, width, rowBytes, 0, ORXBytesPerBlock(c.alpha, c.dxt24), c.alpha, c.dxt24, {}};
  b.band = ORXEncodeBandRows(height, n, b.rows);
  ORXRunJobs(&c.runner, n, EncodeBand, &b);
}

unsigned char* Reserve(ORXEncodeScratch* s, size_t bytes) {
  if (bytes == 0) bytes = 1;
  if (s->data != nullptr && s->size >= bytes) return s->data;
  auto* grown = static_cast<unsigned char*>(std::malloc(bytes));
  if (grown == nullptr) return nullptr;
  std::free(s->data);
  s->data = grown;
  s->size = bytes;
  return grown;
}

}  // namespace

void ORXFreeEncodeScratch(ORXEncodeScratch* s) {
  if (s == nullptr) return;
  std::free(s->data);
  s->data = nullptr;
  s->size = 0;
}

int64_t ORXFrameCapacity(int width, int height, const ORXFrameChoices& c) {
  return kORXHeaderSize + CalculateORXBlockDataSize(width, height, c.alpha, c.dxt24);
}

int64_t ORXEncodeFrame(const unsigned char* argb, int width, int height, int64_t rowBytes, const ORXFrameChoices& c,
                       unsigned char* dest, int64_t capacity, ORXEncodeScratch* scratch) {
  if (argb == nullptr || dest == nullptr || scratch == nullptr || width < 0 || height < 0 || width > kORXMaxSide ||
      height > kORXMaxSide || rowBytes < 4 * int64_t{width} || rowBytes > INT32_MAX)
    return 0;
  const int64_t rawSize = CalculateORXBlockDataSize(width, height, c.alpha, c.dxt24);
  if (capacity < kORXHeaderSize + rawSize) return 0;
  // Without LZF the blocks go straight into the frame. With it, the block
  // data and then the chunk scratch (8-byte aligned) are the scratch's.
  // Reduced blocks go after those, so that the encoder's own are stored
  // when the frame ends up raw.
  const int64_t lzfAt = (rawSize + 7) / 8 * 8;
  const int64_t chunkBytes = ORXLZFChunkBytes(c.alpha, c.dxt24);
  const bool reduce = c.lzf && c.reduce > 0;
  const int64_t reducedAt = reduce ? lzfAt + ORXLZFScratchBytes(rawSize, chunkBytes) : 0;
  unsigned char* blocks = dest + kORXHeaderSize;
  if (c.lzf) {
    blocks = Reserve(scratch, static_cast<size_t>(reduce ? reducedAt + rawSize : lzfAt + ORXLZFScratchBytes(rawSize, chunkBytes)));
    if (blocks == nullptr) return -1;
  }
  EncodeBlocks(argb, width, height, static_cast<int>(rowBytes), c, blocks);
  const unsigned char* packFrom = blocks;
  int64_t keepRaw = 0;  // packed data must save at least this much
  if (reduce) {
    unsigned char* reduced = blocks + reducedAt;
    std::memcpy(reduced, blocks, static_cast<size_t>(rawSize));
    ORXReduceBlocks(argb, width, height, static_cast<int>(rowBytes), c.alpha, c.dxt24, c.reduce, reduced, &c.runner);
    packFrom = reduced;
    keepRaw = rawSize * ORXReduceLevelOf(c.reduce).keepRaw / 256;
  }

  ORXHeader h;
  h.headerSize = kORXHeaderSize;
  h.version = kORXVersion;
  h.hasAlpha = c.alpha ? 1 : 0;
  h.isDXT24 = c.dxt24 ? 1 : 0;
  h.gradientsDiscarded = c.gradientsByte;
  // LZF in fixed chunks, one job each. A frame of several chunks carries
  // their table after the header; table and packed data together fit the
  // raw size or the blocks are stored raw.
  const int64_t chunks = ORXLZFChunkCount(rawSize, chunkBytes);
  const int64_t table = ORXChunkTableBytes(chunks);
  unsigned char* tableAt = dest + kORXHeaderSize;
  int64_t packed = 0;
  if (c.lzf && rawSize > table + keepRaw)
    packed = ORXPackLZF(&c.runner, packFrom, rawSize, chunkBytes, tableAt + table, rawSize - table - keepRaw,
                        blocks + lzfAt, table > 0 ? tableAt + kORXChunkTableFixedBytes : nullptr);
  if (packed != 0) {
    if (table > 0) WriteORXChunkTableHead(tableAt, chunks, chunkBytes);
    h.headerSize = static_cast<uint32_t>(kORXHeaderSize + table);
    h.isLZF = 1;
    h.dataSize = static_cast<int32_t>(packed);
  } else {
    if (rawSize > 0 && blocks != dest + kORXHeaderSize)
      std::memcpy(dest + kORXHeaderSize, blocks, static_cast<size_t>(rawSize));
    h.isLZF = 0;
    h.dataSize = static_cast<int32_t>(rawSize);
  }
  WriteORXHeader(h, dest);
  return int64_t{h.headerSize} + h.dataSize;
}
