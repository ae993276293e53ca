#include "core/Format/ORXChunkTable.h"

namespace {

constexpr uint8_t kTag[4] = {'L', 'Z', 'F', 'T'};

}  // namespace

void WriteORXChunkTableHead(uint8_t* dest, int64_t chunks, int64_t chunkRawBytes) {
  for (int i = 0; i < 4; ++i) dest[i] = kTag[i];
  ORXPutU32LE(dest + 4, static_cast<uint32_t>(chunks));
  ORXPutU32LE(dest + 8, static_cast<uint32_t>(chunkRawBytes));
}

uint32_t ORXChunkPackedSize(const ORXChunkTable& table, int64_t k) { return ORXGetU32LE(table.sizes + 4 * k); }

bool ReadORXChunkTable(const uint8_t* frame, const ORXFrameLayout& layout, ORXChunkTable* table) {
  const ORXHeader& h = layout.header;
  const int64_t room = int64_t{h.headerSize} - kORXHeaderSize;
  if (h.isLZF != 1 || layout.blockDataSize <= 0 || room < kORXChunkTableFixedBytes) return false;
  const uint8_t* t = frame + kORXHeaderSize;
  for (int i = 0; i < 4; ++i)
    if (t[i] != kTag[i]) return false;
  const int64_t chunks = ORXGetU32LE(t + 4), chunkRaw = ORXGetU32LE(t + 8);
  if (chunks < 2 || chunkRaw <= 0 || ORXChunkTableBytes(chunks) > room) return false;
  // Exactly the chunks the chunk size cuts the block data into.
  if ((layout.blockDataSize + chunkRaw - 1) / chunkRaw != chunks) return false;
  ORXChunkTable read{chunks, chunkRaw, t + kORXChunkTableFixedBytes};
  int64_t total = 0;
  for (int64_t k = 0; k < chunks; ++k) {
    const uint32_t size = ORXChunkPackedSize(read, k);
    if (size == 0) return false;
    total += size;
  }
  if (total != h.dataSize) return false;
  *table = read;
  return true;
}
