// The facts of the ORX format that every part of the system shares: the
// codec's identifiers, the frame header's size and version, and the bytes
// of each block variant. The header's fields and the size rules are in
// ORXHeader.h; the compressor's settings blob in ORXSettingsFormat.h.
#pragma once

#include <cstdint>

// The four-character codes, as big-endian 32-bit values.
constexpr uint32_t ORXFourCC(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) << 24 | static_cast<uint32_t>(static_cast<uint8_t>(b)) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 8 | static_cast<uint32_t>(static_cast<uint8_t>(d));
}
constexpr uint32_t kORXCodecType = ORXFourCC('O', 'R', 'X', 'V');     // the media samples' codec type
constexpr uint32_t kORXManufacturer = ORXFourCC('a', 'p', 'p', 'l');  // the components' manufacturer
constexpr uint32_t kORXCodecVersion = 0x00010001;                    // the components' version, 1.1

// The largest picture a frame holds, each way: the image description keeps
// its width and height as signed 16-bit numbers.
constexpr int kORXMaxSide = 32767;

constexpr int32_t kORXHeaderSize = 28;
constexpr uint8_t kORXVersion = 1;

// Bytes per 4x4 block of each variant. The DXT5 and DXT24-with-alpha blocks
// begin with the 8-byte DXT5 alpha block; the colour block follows it.
constexpr int32_t kDXTAlphaBlockBytes = 8;
constexpr int32_t kDXT1BlockBytes = 8;
constexpr int32_t kDXT5BlockBytes = kDXTAlphaBlockBytes + kDXT1BlockBytes;
constexpr int32_t kDXT24BlockBytes = 10;
constexpr int32_t kDXT24AlphaBlockBytes = kDXTAlphaBlockBytes + kDXT24BlockBytes;

// Bytes per block for a frame's flags; any isDXT24 other than 1 counts as
// the standard variant, as the decoder reads it.
constexpr int32_t ORXBytesPerBlock(bool hasAlpha, bool isDXT24) {
  return isDXT24 ? (hasAlpha ? kDXT24AlphaBlockBytes : kDXT24BlockBytes) : (hasAlpha ? kDXT5BlockBytes : kDXT1BlockBytes);
}

// The most bytes LZF unpacks from one packed byte: its longest back
// reference writes 264 bytes from 3. Packed data that claims to unpack to
// more than this many times its size is damaged, and is refused before any
// buffer is sized for it.
constexpr int64_t kLZFMaxExpansion = 88;

// The encoder packs a frame's block data with LZF in chunks of this many
// blocks (256 KiB of DXT1, 320 KiB of DXT24, 512 KiB of DXT5), each chunk on
// its own, concatenated in order. LZF back references never reach before
// their own chunk's output, so the result is one valid LZF stream that
// unpacks in one call: readers need not know the chunk size. It is fixed
// here, never derived from the thread count, so the bytes of a frame are the
// same at every Threads setting; a 1080p frame is four chunks of any variant.
constexpr int64_t kLZFChunkBlocks = 32768;
constexpr int64_t ORXLZFChunkBytes(bool hasAlpha, bool isDXT24) {
  return kLZFChunkBlocks * ORXBytesPerBlock(hasAlpha, isDXT24);
}
