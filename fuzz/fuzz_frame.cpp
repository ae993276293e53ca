// A frame through the decoder, as the decompressor hands it a sample: bytes
// 0-1 give the width and 2-3 the height (1 to 64 each), byte 4 the
// destination's spare pixels at the end of each row (0 to 3), the rest is
// the sample. The processor road runs in this process, with no graphics
// context, so every input costs only the decode itself.
#include <cstdlib>
#include <cstring>

#include "core/Blocks/DXT24Decoder.h"
#include "quicktime/Common/Decode/ORXDecodePipeline.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InitThirdsTable();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const int w = 1 + (data[0] | data[1] << 8) % 64;
  const int h = 1 + (data[2] | data[3] << 8) % 64;
  // The destination the decompressor prepares: extended to whole blocks
  // (DXT24 writes them), rows of exactly rowBytes, so any write past it is
  // caught.
  const int w4 = (w + 3) / 4 * 4, h4 = (h + 3) / 4 * 4;
  const int rowBytes = 4 * (w4 + (data[4] & 3));
  const size_t destSize = size_t(rowBytes) * size_t(h4);
  auto* dest = static_cast<unsigned char*>(std::malloc(destSize));
  // A copy of exactly the sample's size, so a read past it is caught.
  const size_t n = size - 5;
  auto* sample = static_cast<unsigned char*>(std::malloc(n ? n : 1));
  if (dest != nullptr && sample != nullptr) {
    if (n) std::memcpy(sample, data + 5, n);
    ORX_DecompressImageData(nullptr, w, h, sample, int64_t(n), dest, rowBytes);
  }
  std::free(sample);
  std::free(dest);
  return 0;
}
