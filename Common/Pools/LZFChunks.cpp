#include "LZFChunks.h"

#include <lzf.h>

#include <cstddef>
#include <cstring>

#include "DXT24Pool.h"
#include "ORXFormat.h"

namespace {

// Room for one chunk's output: LZF writes at most one control byte per 32
// literals more than its input, and refuses to start a back reference
// within 4 bytes of the end, so this never runs out. 8-byte multiple.
constexpr int64_t kChunkSlot = (kLZFChunkBytes + kLZFChunkBytes / 16 + 64 + 7) / 8 * 8;

int64_t ChunkCount(int64_t rawSize) { return (rawSize + kLZFChunkBytes - 1) / kLZFChunkBytes; }

struct PackJobs {
  const unsigned char* src;
  int64_t rawSize;
  unsigned char* slots;  // chunk k's output at k * kChunkSlot
  uint32_t* sizes;       // chunk k's packed size (0: it failed)
};

void PackChunk(void* context, int k) {
  auto* p = static_cast<PackJobs*>(context);
  const int64_t first = static_cast<int64_t>(k) * kLZFChunkBytes;
  const int64_t len = p->rawSize - first < kLZFChunkBytes ? p->rawSize - first : kLZFChunkBytes;
  p->sizes[k] = lzf_compress(p->src + first, static_cast<unsigned>(len), p->slots + k * kChunkSlot,
                             static_cast<unsigned>(kChunkSlot));
}

}  // namespace

int64_t ORXLZFScratchBytes(int64_t rawSize) {
  if (rawSize <= kLZFChunkBytes) return 0;
  const int64_t chunks = ChunkCount(rawSize);
  return chunks * kChunkSlot + chunks * static_cast<int64_t>(sizeof(uint32_t));
}

int64_t ORXPackLZF(int numThreads, const unsigned char* src, int64_t rawSize, unsigned char* dest, int64_t budget,
                   unsigned char* scratch) {
  if (rawSize <= 0 || budget <= 0) return 0;
  if (rawSize <= kLZFChunkBytes) {
    const int64_t room = budget < kChunkSlot ? budget : kChunkSlot;
    return lzf_compress(src, static_cast<unsigned>(rawSize), dest, static_cast<unsigned>(room));
  }

  const int64_t chunks = ChunkCount(rawSize);
  PackJobs jobs{src, rawSize, scratch, reinterpret_cast<uint32_t*>(scratch + chunks * kChunkSlot)};
  ORXRunEncodeJobs(numThreads, static_cast<int>(chunks), PackChunk, &jobs);

  int64_t total = 0;
  for (int64_t k = 0; k < chunks; ++k) {
    if (jobs.sizes[k] == 0) return 0;
    total += jobs.sizes[k];
  }
  if (total > budget) return 0;
  unsigned char* out = dest;
  for (int64_t k = 0; k < chunks; ++k) {
    std::memcpy(out, scratch + k * kChunkSlot, jobs.sizes[k]);
    out += jobs.sizes[k];
  }
  return total;
}
