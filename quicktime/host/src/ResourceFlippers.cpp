// Structured resources of known layout are handed out in native byte order,
// as the system does on little-endian machines: 'cdci' (codec information).
#include <cstring>

#include "ImageCompression.h"
#include "quicktime/host/src/ResourcesInternal.h"

namespace {

void Swap16(uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  v = static_cast<uint16_t>((p[0] << 8) | p[1]);
  std::memcpy(p, &v, 2);
}

void Swap32(uint8_t* p) {
  const uint32_t v = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
  std::memcpy(p, &v, 4);
}

}  // namespace

bool HostFlipResourceToNative(ResType type, uint8_t* data, size_t size) {
  if (type != FOUR_CHAR_CODE('c', 'd', 'c', 'i')) return true;
  if (size != sizeof(CodecInfo)) return false;
  // typeName (Str31) stays; then version, revision, vendor, three flag words,
  // two accuracy bytes, two speeds, level and reserved bytes, four 16-bit
  // sizes and latencies, private data.
  Swap16(data + 32);
  Swap16(data + 34);
  Swap32(data + 36);
  Swap32(data + 40);
  Swap32(data + 44);
  Swap32(data + 48);
  Swap16(data + 54);
  Swap16(data + 56);
  for (size_t off = 60; off < 68; off += 2) Swap16(data + off);
  Swap32(data + 68);
  return true;
}
