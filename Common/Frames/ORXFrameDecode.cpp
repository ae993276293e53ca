#include "ORXFrameDecode.h"

#include <lzf.h>

#include <cstdlib>

#include "DXT24Decoder.h"
#include "DXTDecoder.h"

namespace {
constexpr int kMemFullErr = -108;
constexpr int kCodecBadDataErr = -8969;
}  // namespace

void ORXFreeDecodeScratch(ORXDecodeScratch* scratch) {
  if (scratch == nullptr) return;
  std::free(scratch->data);
  scratch->data = nullptr;
  scratch->size = 0;
}

int ORXPrepareFrame(const unsigned char* frame, int64_t frameSize, int width, int height, int64_t rowBytes,
                    ORXDecodeScratch* scratch, ORXFrameLayout* layout, const unsigned char** blocks) {
  *blocks = nullptr;
  // The layer is proven here, so that every road refuses a damaged one,
  // whether or not it draws it; the block data below, before the scratch
  // grows for it.
  if (scratch == nullptr ||
      CheckORXFrameData(frame, frameSize, width, height, layout, false) != ORXFrameError::none)
    return kCodecBadDataErr;
  const ORXHeader& h = layout->header;
  // DXT24 writes whole blocks; the other roads write the image only.
  const int64_t rowNeeded = 4 * static_cast<int64_t>(h.isDXT24 == 1 ? (width + 3) / 4 * 4 : width);
  if (rowBytes < rowNeeded) return kCodecBadDataErr;
  const int64_t rawSize = layout->blockDataSize;
  if (rawSize == 0) return 0;  // an empty image: nothing to draw

  // Raw blocks are read where they are (the check guarantees the sample
  // holds all of them). Packed ones count only when they unpack to exactly
  // the block data, every byte written, so no stale memory reaches the
  // picture.
  const unsigned char* section = frame + h.headerSize;
  if (h.isLZF != 1) {
    *blocks = section;
    return 0;
  }
  if (scratch->size < rawSize) {
    // Memory is sized for the image only once the frame is proven to fill it.
    if (!ORXLZFUnpacksTo(section, h.dataSize, rawSize)) return kCodecBadDataErr;
    ORXFreeDecodeScratch(scratch);
    scratch->data = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(rawSize)));
    if (scratch->data == nullptr) return kMemFullErr;
    scratch->size = rawSize;
  }
  const unsigned n =
      lzf_decompress(section, static_cast<unsigned>(h.dataSize), scratch->data, static_cast<unsigned>(rawSize));
  if (static_cast<int64_t>(n) != rawSize) return kCodecBadDataErr;  // short, corrupt or too long for the image
  *blocks = scratch->data;
  return 0;
}

void ORXDecodeBlocksOnProcessor(const ORXFrameLayout& layout, const unsigned char* blocks, int width, int height,
                                unsigned char* dest, int rowBytes) {
  const ORXHeader& h = layout.header;
  if (h.isDXT24 == 1 && h.hasAlpha)
    DecodeDXT24WithAlpha(blocks, dest, width, height, rowBytes);
  else if (h.isDXT24 == 1)
    DecodeDXT24(blocks, dest, width, height, rowBytes);
  else if (h.hasAlpha)
    DecodeDXT5ToARGB(blocks, dest, width, height, rowBytes);
  else
    DecodeDXT1ToARGB(blocks, dest, width, height, rowBytes);
}
