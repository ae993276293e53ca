#include "quicktime/Common/Decode/ORXDecodePipeline.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/Format/ORXHeader.h"
#include "core/Frames/LZFUnpack.h"
#include "quicktime/Common/Decode/ORXDecodeStatus.h"
#include "quicktime/Common/OpenGL/GLDecodeRoad.h"
#include "quicktime/Common/Pools/ORXBandPool.h"

namespace {

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
    return ORXUnpackLZF(section, h.secondSize, layer, layout.layerSize) == layout.layerSize;
  }
  std::memcpy(layer, section, static_cast<size_t>(layout.layerSize));
  return true;
}

}  // namespace

int ORX_DecompressImageData(GLDecompressorResources* resources, int width, int height, const unsigned char* frame,
                            int64_t frameSize, unsigned char* dest, int rowBytes, ORXDecodeScratch* scratch) {
  if (dest == nullptr) return ORXQuickTimeStatus(ORXStatus::badData);
  // Without the instance's scratch, a buffer of this frame's own.
  struct Own {
    ORXDecodeScratch s{nullptr, 0};
    ~Own() { ORXFreeDecodeScratch(&s); }
  } own;
  ORXFrameLayout layout;
  const unsigned char* blocks = nullptr;
  // LZF chunks and the processor road's bands go to the decode pool; a frame
  // that finds it busy is decoded on this thread alone.
  const ORXJobRunner pool = ORXDecodePoolRunner();
  const ORXStatus prepared = ORXPrepareFrame(frame, frameSize, width, height, rowBytes, scratch ? scratch : &own.s,
                                             &layout, &blocks, &pool);
  if (prepared != ORXStatus::ok || blocks == nullptr) return ORXQuickTimeStatus(prepared);
  const ORXHeader& h = layout.header;
  if (h.isDXT24 == 1) {
    ORXDecodeBlocksOnProcessor(layout, blocks, width, height, dest, rowBytes, &pool);
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
      if (!layer) return ORXQuickTimeStatus(ORXStatus::noMemory);
      if (!ReadLayer(layout, frame, layer.get())) return ORXQuickTimeStatus(ORXStatus::badData);
    }
    drawn = DrawFrameOnGPU(resources, layout, blocks, layer.get(), width, height, dest, rowBytes);
  }
  // No usable context: the same pixels from the processor.
  if (!drawn) ORXDecodeBlocksOnProcessor(layout, blocks, width, height, dest, rowBytes, &pool);
  return 0;
}
