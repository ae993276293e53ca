#include "ORXDecodePipeline.h"

#include <lzf.h>

#include <cstdlib>
#include <cstring>

#include "DXT24Decoder.h"
#include "DXTDecoder.h"
#include "ORXHeader.h"

namespace {
constexpr int kMemFullErr = -108;
constexpr int kCodecBadDataErr = -8969;
}  // namespace

int ORX_DecompressImageData(GLDecompressorResources* /*resources*/, int width, int height, const unsigned char* frame,
                            int64_t frameSize, unsigned char* dest, int rowBytes) {
  ORXFrameLayout layout;
  if (dest == nullptr || CheckORXFrame(frame, frameSize, width, height, &layout) != ORXFrameError::none)
    return kCodecBadDataErr;
  const ORXHeader& h = layout.header;
  // DXT24 writes whole blocks; the other roads write the image only.
  const int64_t rowNeeded = 4 * static_cast<int64_t>(h.isDXT24 == 1 ? (width + 3) / 4 * 4 : width);
  if (rowBytes < rowNeeded) return kCodecBadDataErr;
  const int64_t rawSize = layout.blockDataSize;
  if (rawSize == 0) return 0;  // an empty image: nothing to draw

  // Cleared, so that no stale memory can ever reach the picture.
  auto* blocks = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(rawSize), 1));
  if (blocks == nullptr) return kMemFullErr;
  const unsigned char* section = frame + h.headerSize;
  if (h.isLZF == 1) {
    const unsigned n = lzf_decompress(section, static_cast<unsigned>(h.dataSize), blocks, static_cast<unsigned>(rawSize));
    if (static_cast<int64_t>(n) != rawSize) {  // short, corrupt or too long for the image
      std::free(blocks);
      return kCodecBadDataErr;
    }
  } else {
    std::memcpy(blocks, section, static_cast<size_t>(rawSize));
  }

  if (h.isDXT24 == 1) {
    if (h.hasAlpha)
      DecodeDXT24WithAlpha(blocks, dest, width, height, rowBytes);
    else
      DecodeDXT24(blocks, dest, width, height, rowBytes);
  } else if (h.hasAlpha) {
    DecodeDXT5ToARGB(blocks, dest, width, height, rowBytes);
  } else {
    DecodeDXT1ToARGB(blocks, dest, width, height, rowBytes);
  }
  std::free(blocks);
  return 0;
}
