// The LZF stage alone, as the frame encoder and decoder use it: unpacking
// arbitrary data into a buffer of an exact size must stay inside it, the
// decode roads' unpacker must answer as liblzf does (the same count, the
// same bytes), the frame check's proof (which unpacks nothing) must say
// whether it fills the buffer exactly, and packing with the output budget
// equal to the raw size then unpacking must give the input back.
#include <lzf.h>

#include <cstdint>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/Format/ORXHeader.h"
#include "core/Frames/LZFUnpack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const unsigned outSize = unsigned(data[0] | data[1] << 8);
  const uint8_t* in = data + 2;
  const unsigned inSize = unsigned(size - 2);
  std::vector<uint8_t> out(outSize ? outSize : 1);
  const unsigned n = inSize ? lzf_decompress(in, inSize, out.data(), outSize) : 0;
  if (n > outSize) std::abort();
  std::vector<uint8_t> fast(outSize ? outSize : 1);
  if (ORXUnpackLZF(in, inSize, fast.data(), outSize) != n) std::abort();
  if (n > 0 && std::memcmp(fast.data(), out.data(), n) != 0) std::abort();
  if (outSize > 0 && ORXLZFUnpacksTo(in, inSize, outSize) != (n == outSize)) std::abort();

  std::vector<uint8_t> packed(inSize ? inSize : 1);
  const unsigned p = inSize ? lzf_compress(in, inSize, packed.data(), inSize) : 0;
  if (p != 0) {
    std::vector<uint8_t> back(inSize);
    if (lzf_decompress(packed.data(), p, back.data(), inSize) != inSize) std::abort();
    if (std::memcmp(back.data(), in, inSize) != 0) std::abort();
    if (ORXUnpackLZF(packed.data(), p, back.data(), inSize) != inSize) std::abort();
    if (std::memcmp(back.data(), in, inSize) != 0) std::abort();
  }
  return 0;
}
