// A frame's block data packed with LZF in fixed chunks (ORXLZFChunkBytes),
// one job a chunk for the caller's runner. Data of one chunk or less is
// packed exactly as one lzf_compress call packs it.
#pragma once

#include <cstdint>

#include "core/Frames/ORXJobs.h"

// How many chunks of chunkBytes rawSize bytes are packed in (1 for 0 or
// chunkBytes 0).
int64_t ORXLZFChunkCount(int64_t rawSize, int64_t chunkBytes);

// Working storage ORXPackLZF needs for rawSize bytes in chunks of chunkBytes
// (0 for one chunk).
int64_t ORXLZFScratchBytes(int64_t rawSize, int64_t chunkBytes);

// Packs src[0 .. rawSize) into dest and returns the packed size, or 0 when it
// does not fit into budget bytes (the caller then stores the data raw).
// scratch holds ORXLZFScratchBytes(rawSize, chunkBytes) bytes, 8-byte
// aligned. Chunks are packed as jobs of runner (null: in order on the calling
// thread); the bytes do not depend on it. When sizes is not null and the data
// packs, each chunk's packed size is written there as a little-endian u32
// (ORXLZFChunkCount of them).
int64_t ORXPackLZF(const ORXJobRunner* runner, const unsigned char* src, int64_t rawSize, int64_t chunkBytes,
                   unsigned char* dest, int64_t budget, unsigned char* scratch, unsigned char* sizes = nullptr);
