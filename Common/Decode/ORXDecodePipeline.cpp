#include "ORXDecodePipeline.h"

#include <lzf.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "DXT24Decoder.h"
#include "DXTDecoder.h"
#include "GLDecodeRoad.h"
#include "ORXHeader.h"

namespace {
constexpr int kMemFullErr = -108;
constexpr int kCodecBadDataErr = -8969;

// The pipeline's buffers, freed on every way out.
struct FreeDeleter {
  void operator()(unsigned char* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<unsigned char, FreeDeleter>;
// A cleared buffer of n bytes; null when memory runs out.
Buffer ClearedBuffer(int64_t n) { return Buffer(static_cast<unsigned char*>(std::calloc(static_cast<size_t>(n), 1))); }

// The second section (a plain-pixel layer) into its own cleared buffer.
bool ReadLayer(const ORXFrameLayout& layout, const unsigned char* frame, unsigned char* layer) {
  const ORXHeader& h = layout.header;
  const unsigned char* section = frame + h.headerSize + h.dataSize;
  if (h.secondIsLZF == 1) {
    const unsigned n = lzf_decompress(section, static_cast<unsigned>(h.secondSize), layer,
                                      static_cast<unsigned>(layout.layerSize));
    return static_cast<int64_t>(n) == layout.layerSize;
  }
  std::memcpy(layer, section, static_cast<size_t>(layout.layerSize));
  return true;
}

}  // namespace

void ORXFreeDecodeScratch(ORXDecodeScratch* scratch) {
  if (scratch == nullptr) return;
  std::free(scratch->data);
  scratch->data = nullptr;
  scratch->size = 0;
}

int ORX_DecompressImageData(GLDecompressorResources* resources, int width, int height, const unsigned char* frame,
                            int64_t frameSize, unsigned char* dest, int rowBytes, ORXDecodeScratch* scratch) {
  ORXFrameLayout layout;
  if (dest == nullptr || CheckORXFrame(frame, frameSize, width, height, &layout) != ORXFrameError::none)
    return kCodecBadDataErr;
  const ORXHeader& h = layout.header;
  // DXT24 writes whole blocks; the other roads write the image only.
  const int64_t rowNeeded = 4 * static_cast<int64_t>(h.isDXT24 == 1 ? (width + 3) / 4 * 4 : width);
  if (rowBytes < rowNeeded) return kCodecBadDataErr;
  const int64_t rawSize = layout.blockDataSize;
  if (rawSize == 0) return 0;  // an empty image: nothing to draw

  // Raw blocks are read where they are (the check above guarantees the
  // sample holds all of them). Packed ones are unpacked into the instance's
  // scratch, or a cleared buffer of the frame's own; either way a frame is
  // drawn only when it unpacks to exactly the block data, every byte
  // written, so no stale memory can reach the picture.
  const unsigned char* section = frame + h.headerSize;
  const unsigned char* blocks = section;
  Buffer unpacked;
  if (h.isLZF == 1) {
    unsigned char* into = nullptr;
    if (scratch != nullptr) {
      if (scratch->size < rawSize) {
        ORXFreeDecodeScratch(scratch);
        scratch->data = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(rawSize)));
        if (scratch->data == nullptr) return kMemFullErr;
        scratch->size = rawSize;
      }
      into = scratch->data;
    } else {
      unpacked = ClearedBuffer(rawSize);
      if (!unpacked) return kMemFullErr;
      into = unpacked.get();
    }
    const unsigned n = lzf_decompress(section, static_cast<unsigned>(h.dataSize), into, static_cast<unsigned>(rawSize));
    if (static_cast<int64_t>(n) != rawSize) return kCodecBadDataErr;  // short, corrupt or too long for the image
    blocks = into;
  }

  if (h.isDXT24 == 1) {
    if (h.hasAlpha)
      DecodeDXT24WithAlpha(blocks, dest, width, height, rowBytes);
    else
      DecodeDXT24(blocks, dest, width, height, rowBytes);
    return 0;
  }

  // The graphics road where it is the faster one; the processor road, which
  // has no use for the second section, everywhere else. Where the platform
  // ignores the second section the check leaves no layer: no layer buffer,
  // and textures[1] is never uploaded.
  bool drawn = false;
  if (ORXChooseDXTRoad(resources) == ORXDecodeRoad::graphics) {
    Buffer layer;
    if (layout.layerSize > 0) {
      layer = ClearedBuffer(layout.layerSize);
      if (!layer) return kMemFullErr;
      if (!ReadLayer(layout, frame, layer.get())) return kCodecBadDataErr;
    }
    drawn = DrawFrameOnGPU(resources, layout, blocks, layer.get(), width, height, dest, rowBytes);
  }
  if (!drawn) {
    // No usable context: the same pixels from the processor.
    if (h.hasAlpha)
      DecodeDXT5ToARGB(blocks, dest, width, height, rowBytes);
    else
      DecodeDXT1ToARGB(blocks, dest, width, height, rowBytes);
  }
  return 0;
}
