// The chunk table: where each LZF chunk of a frame's packed block data
// starts, so that a reader may unpack the chunks at once on several threads.
// It lies between the 28-byte header and headerSize, where every reader of
// the format skips what it does not know, so a reader without it unpacks the
// same data as one stream. Only frames packed in more than one chunk carry
// one. Layout, all u32 little-endian: the tag "LZFT" (its four bytes in that
// order), the chunk count, the raw bytes of every chunk but the last (the
// last holds the rest), then each chunk's packed size in order.
#pragma once

#include <cstdint>

#include "core/Format/ORXHeader.h"

constexpr int64_t kORXChunkTableFixedBytes = 12;

// The table's size for a frame packed in chunks chunks: 0 for one chunk.
constexpr int64_t ORXChunkTableBytes(int64_t chunks) {
  return chunks > 1 ? kORXChunkTableFixedBytes + 4 * chunks : 0;
}

// Writes the tag, the count and the chunks' raw size at dest; the packed
// sizes (chunks little-endian u32s) follow at dest + kORXChunkTableFixedBytes.
void WriteORXChunkTableHead(uint8_t* dest, int64_t chunks, int64_t chunkRawBytes);

// A frame's table as read: chunk k unpacks to raw bytes [k * chunkRawBytes,
// min((k + 1) * chunkRawBytes, blockDataSize)) from ORXChunkPackedSize(k)
// packed bytes, which follow those of chunks 0 .. k - 1.
struct ORXChunkTable {
  int64_t chunks = 0;
  int64_t chunkRawBytes = 0;
  const uint8_t* sizes = nullptr;  // the packed sizes as stored
};
uint32_t ORXChunkPackedSize(const ORXChunkTable& table, int64_t k);

// Reads the table of a frame that passed CheckORXFrame (layout from it).
// True only for packed block data with a whole, consistent table: the tag,
// at least two chunks, inside headerSize, as many chunks as the chunk size
// cuts the block data into, no empty chunk, and packed sizes that add up to
// dataSize. Whether each chunk unpacks to its share is the reader's to prove.
bool ReadORXChunkTable(const uint8_t* frame, const ORXFrameLayout& layout, ORXChunkTable* table);
