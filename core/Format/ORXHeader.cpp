#include "core/Format/ORXHeader.h"

#include <cstring>

namespace {

int64_t BlockCount(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return 0;
  const int64_t across = (static_cast<int64_t>(width) + 3) / 4;
  const int64_t down = (static_cast<int64_t>(height) + 3) / 4;
  return across * down;
}

}  // namespace

void WriteORXHeader(const ORXHeader& h, uint8_t* dest) {
  std::memset(dest, 0, kORXHeaderSize);
  ORXPutU32LE(dest + 0, h.headerSize);
  dest[4] = h.version;
  dest[5] = h.hasAlpha;
  dest[6] = h.isLZF;
  dest[7] = h.secondIsLZF;
  ORXPutU32LE(dest + 8, static_cast<uint32_t>(h.secondWidth));
  ORXPutU32LE(dest + 12, static_cast<uint32_t>(h.secondHeight));
  ORXPutU32LE(dest + 16, static_cast<uint32_t>(h.dataSize));
  ORXPutU32LE(dest + 20, static_cast<uint32_t>(h.secondSize));
  dest[24] = h.secondIsRGB;
  dest[25] = h.gradientsDiscarded;
  dest[26] = h.isDXT24;
  dest[27] = h.reserved;
}

ORXHeader ReadORXHeader(const uint8_t* src) {
  ORXHeader h;
  h.headerSize = ORXGetU32LE(src + 0);
  h.version = src[4];
  h.hasAlpha = src[5];
  h.isLZF = src[6];
  h.secondIsLZF = src[7];
  h.secondWidth = static_cast<int32_t>(ORXGetU32LE(src + 8));
  h.secondHeight = static_cast<int32_t>(ORXGetU32LE(src + 12));
  h.dataSize = static_cast<int32_t>(ORXGetU32LE(src + 16));
  h.secondSize = static_cast<int32_t>(ORXGetU32LE(src + 20));
  h.secondIsRGB = src[24];
  h.gradientsDiscarded = src[25];
  h.isDXT24 = src[26];
  h.reserved = src[27];
  return h;
}

int64_t CalculateORXBlockDataSize(int32_t width, int32_t height, bool hasAlpha, bool isDXT24) {
  return BlockCount(width, height) * ORXBytesPerBlock(hasAlpha, isDXT24);
}

int64_t CalculateMaxORXDataSize(int32_t width, int32_t height, bool hasAlpha, bool isDXT24) {
  int64_t size = CalculateORXBlockDataSize(width, height, hasAlpha, isDXT24);
  if (!isDXT24 && width > 0 && height > 0) {
    // Only complete blocks count here.
    size += static_cast<int64_t>(width / 4) * (height / 4) * 4;
  }
  return size + kORXHeaderSize;
}

const char* ORXFrameErrorMessage(ORXFrameError error) {
  switch (error) {
    case ORXFrameError::none: return "no error";
    case ORXFrameError::badImageSize: return "image size is negative or too large";
    case ORXFrameError::truncatedHeader: return "frame is shorter than its 28-byte header";
    case ORXFrameError::badHeaderSize: return "header size field is out of range";
    case ORXFrameError::negativeSectionSize: return "a section size or layer dimension is negative";
    case ORXFrameError::firstSectionOutOfBounds: return "block data extends past the end of the frame";
    case ORXFrameError::secondSectionOutOfBounds: return "layer data extends past the end of the frame";
    case ORXFrameError::firstSectionTooShort: return "block data is shorter than the image needs";
    case ORXFrameError::secondSectionTooShort: return "layer data is shorter than its dimensions need";
    case ORXFrameError::unknownVariant: return "unknown block variant";
    case ORXFrameError::firstSectionDamaged: return "packed block data does not unpack to the image's blocks";
    case ORXFrameError::secondSectionDamaged: return "packed layer data does not unpack to its dimensions";
  }
  return "unknown error";
}

ORXFrameError CheckORXFrame(const uint8_t* frame, int64_t sampleSize, int32_t width,
                            int32_t height, ORXFrameLayout* layout) {
  if (width < 0 || height < 0) return ORXFrameError::badImageSize;
  if (frame == nullptr || sampleSize < kORXHeaderSize) return ORXFrameError::truncatedHeader;
  ORXHeader h = ReadORXHeader(frame);
  if (h.headerSize < static_cast<uint32_t>(kORXHeaderSize) ||
      static_cast<int64_t>(h.headerSize) > sampleSize) {
    return ORXFrameError::badHeaderSize;
  }
  if (h.isDXT24 > 1) return ORXFrameError::unknownVariant;
  if (!ORXPlatformReadsSecondSection() || h.isDXT24 == 1) {
    // Its fields are ignored, as if the frame had none: this platform's
    // decoder reads no second section, and no platform's DXT24 road does.
    h.secondIsLZF = 0;
    h.secondWidth = h.secondHeight = h.secondSize = 0;
    h.secondIsRGB = 0;
  }
  if (h.dataSize < 0 || h.secondSize < 0 || h.secondWidth < 0 || h.secondHeight < 0) {
    return ORXFrameError::negativeSectionSize;
  }
  const int64_t blockDataSize = CalculateORXBlockDataSize(width, height, h.hasAlpha != 0, h.isDXT24 == 1);
  // The decoder allocates the block data in one piece; keep it inside what a
  // 32-bit size can describe.
  if (blockDataSize > INT32_MAX) return ORXFrameError::badImageSize;

  const int64_t firstEnd = static_cast<int64_t>(h.headerSize) + h.dataSize;
  if (firstEnd > sampleSize) return ORXFrameError::firstSectionOutOfBounds;
  if (h.isLZF == 1) {
    // A packed section may be longer than what it unpacks to (incompressible
    // blocks); the decoder requires that it unpack to exactly blockDataSize.
    if (blockDataSize > kLZFMaxExpansion * h.dataSize) return ORXFrameError::firstSectionTooShort;
  } else if (h.dataSize < blockDataSize) {
    return ORXFrameError::firstSectionTooShort;
  }

  const int64_t layerPixels = static_cast<int64_t>(h.secondWidth) * h.secondHeight;  // < 2^62
  if (layerPixels > INT32_MAX) return ORXFrameError::badImageSize;
  const int64_t layerSize = layerPixels * (h.secondIsRGB ? 3 : 4);
  if (layerSize > INT32_MAX) return ORXFrameError::badImageSize;
  if (firstEnd + h.secondSize > sampleSize) return ORXFrameError::secondSectionOutOfBounds;
  if (layerSize > 0 && h.secondIsLZF != 1 && h.secondSize < layerSize) {
    return ORXFrameError::secondSectionTooShort;
  }
  if (layerSize > 0 && h.secondIsLZF == 1 && layerSize > kLZFMaxExpansion * h.secondSize) {
    return ORXFrameError::secondSectionTooShort;
  }

  if (layout != nullptr) {
    layout->header = h;
    layout->blockDataSize = blockDataSize;
    layout->layerSize = layerSize;
  }
  return ORXFrameError::none;
}

bool ORXLZFUnpacksTo(const uint8_t* src, int64_t size, int64_t expected) {
  if (src == nullptr || size <= 0) return expected == 0;
  const uint8_t* ip = src;
  const uint8_t* const end = src + size;
  int64_t out = 0;
  while (ip < end) {
    const unsigned ctrl = *ip++;
    if (ctrl < 32) {  // a literal run of ctrl + 1 bytes
      const int64_t run = int64_t{ctrl} + 1;
      if (out + run > expected || run > end - ip) return false;
      ip += run;
      out += run;
      continue;
    }
    // A back reference: length (ctrl >> 5) + 2, or 9 + the next byte; the
    // distance's high bits in ctrl, its low byte next; it must start inside
    // what has been written.
    int64_t length = ctrl >> 5;
    if (ip >= end) return false;
    if (length == 7) {
      length += *ip++;
      if (ip >= end) return false;
    }
    const int64_t distance = ((int64_t{ctrl} & 0x1F) << 8) + *ip++ + 1;
    if (out + length + 2 > expected || distance > out) return false;
    out += length + 2;
  }
  return out == expected;
}

ORXFrameError CheckORXFrameData(const uint8_t* frame, int64_t sampleSize, int32_t width, int32_t height,
                                ORXFrameLayout* layout, bool proveBlocks) {
  ORXFrameLayout checked;
  const ORXFrameError e = CheckORXFrame(frame, sampleSize, width, height, &checked);
  if (e != ORXFrameError::none) return e;
  const ORXHeader& h = checked.header;
  const uint8_t* first = frame + h.headerSize;
  if (proveBlocks && h.isLZF == 1 && checked.blockDataSize > 0 &&
      !ORXLZFUnpacksTo(first, h.dataSize, checked.blockDataSize))
    return ORXFrameError::firstSectionDamaged;
  if (checked.layerSize > 0 && h.secondIsLZF == 1 &&
      !ORXLZFUnpacksTo(first + h.dataSize, h.secondSize, checked.layerSize))
    return ORXFrameError::secondSectionDamaged;
  if (layout != nullptr) *layout = checked;
  return ORXFrameError::none;
}
