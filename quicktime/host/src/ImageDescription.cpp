// A new image description, as a compressor session or a movie writer starts
// one: 72 dpi, one frame a sample, 32-bit depth, no colour table.
#include <algorithm>
#include <cstring>

#include "ImageCompression.h"
#include "MacMemory.h"

extern "C" {

ImageDescriptionHandle HostNewImageDescription(CodecType cType, SInt16 width, SInt16 height, const char* name) {
  Handle h = NewHandleClear(sizeof(ImageDescription));
  if (h == nullptr) return nullptr;
  auto* d = reinterpret_cast<ImageDescription*>(*h);
  d->idSize = sizeof(ImageDescription);
  d->cType = cType;
  d->dataRefIndex = 1;
  d->width = width;
  d->height = height;
  d->hRes = 72 << 16;
  d->vRes = 72 << 16;
  d->frameCount = 1;
  d->depth = 32;
  d->clutID = -1;
  if (name != nullptr) {
    const size_t n = std::min<size_t>(std::strlen(name), 31);
    d->name[0] = static_cast<unsigned char>(n);
    std::memcpy(d->name + 1, name, n);
  }
  return reinterpret_cast<ImageDescriptionHandle>(h);
}

}  // extern "C"
