#include "core/Frames/LZFChunks.h"

#include <lzf.h>

#include <cstddef>
#include <cstring>

#include "core/Format/ORXFormat.h"
#include "core/Format/ORXHeader.h"

namespace {

// Room for one chunk's output: LZF writes at most one control byte per 32
// literals more than its input, and refuses to start a back reference
// within 4 bytes of the end, so this never runs out. 8-byte multiple.
int64_t SlotBytes(int64_t chunkBytes) { return (chunkBytes + chunkBytes / 16 + 64 + 7) / 8 * 8; }

struct PackJobs {
  const unsigned char* src;
  int64_t rawSize;
  int64_t chunkBytes;
  int64_t slotBytes;
  unsigned char* slots;  // chunk k's output at k * slotBytes
  uint32_t* sizes;       // chunk k's packed size (0: it failed)
};

void PackChunk(void* context, int k) {
  auto* p = static_cast<PackJobs*>(context);
  const int64_t first = static_cast<int64_t>(k) * p->chunkBytes;
  const int64_t len = p->rawSize - first < p->chunkBytes ? p->rawSize - first : p->chunkBytes;
  p->sizes[k] = lzf_compress(p->src + first, static_cast<unsigned>(len), p->slots + k * p->slotBytes,
                             static_cast<unsigned>(p->slotBytes));
}

}  // namespace

int64_t ORXLZFChunkCount(int64_t rawSize, int64_t chunkBytes) {
  if (chunkBytes <= 0 || rawSize <= chunkBytes) return 1;
  return (rawSize + chunkBytes - 1) / chunkBytes;
}

int64_t ORXLZFScratchBytes(int64_t rawSize, int64_t chunkBytes) {
  if (chunkBytes <= 0 || rawSize <= chunkBytes) return 0;
  const int64_t chunks = ORXLZFChunkCount(rawSize, chunkBytes);
  return chunks * SlotBytes(chunkBytes) + chunks * static_cast<int64_t>(sizeof(uint32_t));
}

int64_t ORXPackLZF(const ORXJobRunner* runner, const unsigned char* src, int64_t rawSize, int64_t chunkBytes, unsigned char* dest,
                   int64_t budget, unsigned char* scratch, unsigned char* sizes) {
  if (rawSize <= 0 || budget <= 0) return 0;
  if (chunkBytes <= 0 || rawSize <= chunkBytes) {
    const int64_t room = budget < SlotBytes(rawSize) ? budget : SlotBytes(rawSize);
    const unsigned n = lzf_compress(src, static_cast<unsigned>(rawSize), dest, static_cast<unsigned>(room));
    if (n != 0 && sizes != nullptr) ORXPutU32LE(sizes, n);
    return n;
  }

  const int64_t chunks = ORXLZFChunkCount(rawSize, chunkBytes);
  const int64_t slotBytes = SlotBytes(chunkBytes);
  PackJobs jobs{src, rawSize, chunkBytes, slotBytes, scratch, reinterpret_cast<uint32_t*>(scratch + chunks * slotBytes)};
  ORXRunJobs(runner, static_cast<int>(chunks), PackChunk, &jobs);

  int64_t total = 0;
  for (int64_t k = 0; k < chunks; ++k) {
    if (jobs.sizes[k] == 0) return 0;
    total += jobs.sizes[k];
  }
  if (total > budget) return 0;
  unsigned char* out = dest;
  for (int64_t k = 0; k < chunks; ++k) {
    std::memcpy(out, scratch + k * slotBytes, jobs.sizes[k]);
    out += jobs.sizes[k];
    if (sizes != nullptr) ORXPutU32LE(sizes + 4 * k, jobs.sizes[k]);
  }
  return total;
}
