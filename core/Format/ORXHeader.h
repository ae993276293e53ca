// The compressed frame: a 28-byte little-endian header followed by the block
// data (first section) and an optional plain-pixel layer (second section).
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/Format/ORXFormat.h"

// The format's u32 fields, little-endian on every platform.
inline void ORXPutU32LE(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline uint32_t ORXGetU32LE(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// In-memory form of the header. Never cast over frame bytes: use
// WriteORXHeader / ReadORXHeader, which work field by field.
struct ORXHeader {
  uint32_t headerSize = 0;
  uint8_t version = 0;
  uint8_t hasAlpha = 0;
  uint8_t isLZF = 0;
  uint8_t secondIsLZF = 0;
  int32_t secondWidth = 0;
  int32_t secondHeight = 0;
  int32_t dataSize = 0;
  int32_t secondSize = 0;
  uint8_t secondIsRGB = 0;
  uint8_t gradientsDiscarded = 0;
  uint8_t isDXT24 = 0;
  uint8_t reserved = 0;
};

// Writes the 28 header bytes at dest (all bytes not named by a field are zero).
void WriteORXHeader(const ORXHeader& header, uint8_t* dest);
// Reads 28 header bytes from src.
ORXHeader ReadORXHeader(const uint8_t* src);

// Raw size of the first section: whole 4x4 blocks times bytes per block.
// Non-positive dimensions give zero blocks.
int64_t CalculateORXBlockDataSize(int32_t width, int32_t height, bool hasAlpha, bool isDXT24);

// Largest frame, header included, that the compressor may produce.
int64_t CalculateMaxORXDataSize(int32_t width, int32_t height, bool hasAlpha, bool isDXT24);

// Why a frame cannot be decoded safely.
enum class ORXFrameError {
  none = 0,
  badImageSize,         // width or height negative, or the blocks overflow
  truncatedHeader,      // sample shorter than 28 bytes
  badHeaderSize,        // headerSize below 28 or past the end of the sample
  negativeSectionSize,  // dataSize, secondSize or a layer dimension below zero
  firstSectionOutOfBounds,
  secondSectionOutOfBounds,
  firstSectionTooShort,   // block data shorter than the image needs (raw, or packed too small to unpack to it)
  secondSectionTooShort,  // layer shorter than its dimensions need (raw, or packed too small)
  unknownVariant,         // isDXT24 neither 0 nor 1
  firstSectionDamaged,    // packed block data that does not unpack to exactly the image's blocks
  secondSectionDamaged,   // a packed layer that does not unpack to exactly its dimensions
};

// A short English description of the error, for messages shown to users.
const char* ORXFrameErrorMessage(ORXFrameError error);

// What the decoder needs to know about a frame that passed CheckORXFrame.
struct ORXFrameLayout {
  ORXHeader header;
  int64_t blockDataSize = 0;  // raw size of the first section
  int64_t layerSize = 0;      // raw size of the second section; 0 when absent
};

// Whether this platform's decoder reads a frame's second section. Windows
// does not: there the check treats its fields as absent. One
// implementation per platform (FormatPlatform.cpp).
bool ORXPlatformReadsSecondSection();

// The header's informational byte 25 as this platform writes it: 1 -
// preserveGradients on Linux (as on Mac OS X), always 0 on Windows.
uint8_t ORXGradientsDiscardedByte(bool preserveGradients);

// Checks the header of the frame in the first sampleSize bytes at frame
// against the sample size and the image size from the image description:
// every section lies inside the sample, sizes are not negative, a raw first
// section holds all blocks of the image, the variant is known. On success
// fills *layout (when not null).
ORXFrameError CheckORXFrame(const uint8_t* frame, int64_t sampleSize, int32_t width,
                            int32_t height, ORXFrameLayout* layout);

// Whether the size bytes at src are one LZF stream that unpacks to exactly
// expected bytes, as lzf_decompress would find it with an output of that
// size: the runs are walked and counted, nothing is written, so the proof
// costs no memory and one pass over the packed bytes.
bool ORXLZFUnpacksTo(const uint8_t* src, int64_t size, int64_t expected);

// CheckORXFrame, then each packed section proven to unpack to exactly its
// raw size: the layer always, the block data when proveBlocks. What every
// road runs before it sizes anything for the frame, so a damaged frame costs
// no frame-sized memory and is refused for the same reason on every road.
// A caller that unpacks the block data into memory it already holds may
// leave that proof to the unpacking (proveBlocks false).
ORXFrameError CheckORXFrameData(const uint8_t* frame, int64_t sampleSize, int32_t width, int32_t height,
                                ORXFrameLayout* layout, bool proveBlocks = true);
