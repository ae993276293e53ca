// The DXT24 colour rows with SSSE3 byte shuffles (x86-64), built with
// -mssse3 and called only when the processor has it.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "core/Blocks/DXT24DecoderRows.h"
#include "core/Format/ORXFormat.h"

namespace {

// The same rows with one byte shuffle a pixel row: the four palette entries
// sit in one 16-byte register and each index byte selects through a mask
// from a 256-entry table. Same palette, same pixels as the plain rows.
struct RowShuffles {
  alignas(16) uint8_t mask[256][16];
  constexpr RowShuffles() : mask{} {
    for (int bits = 0; bits < 256; ++bits)
      for (int px = 0; px < 4; ++px)
        for (int byte = 0; byte < 4; ++byte)
          mask[bits][px * 4 + byte] = static_cast<uint8_t>(((bits >> (2 * px)) & 3) * 4 + byte);
  }
};
constexpr RowShuffles kRowShuffles;

}  // namespace

// The palette is made in the register too: the thirds are (2a + b + 1) / 3
// (what the table holds), computed on 16-bit lanes as a multiply by
// 21846 / 65536, which is exact for every sum up to 766.
void DecodeRows24Shuffle(const unsigned char* src, unsigned char* dest, int across, int rowBytes, int blockRows) {
  const ptrdiff_t stride = rowBytes;
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi16(1);
  const __m128i third = _mm_set1_epi16(21846);
  // Words r0 g0 b0 r1 g1 b1 -> r1 g1 b1 r0 g0 b0.
  const __m128i swapEnds = _mm_setr_epi8(6, 7, 8, 9, 10, 11, 0, 1, 2, 3, 4, 5, -1, -1, -1, -1);
  // Bytes r0 g0 b0 r1 g1 b1 (0..5) and the thirds (8..13) into four A R G B entries.
  const __m128i entries = _mm_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 8, 9, 10, -1, 11, 12, 13);
  const __m128i opaque = _mm_setr_epi8(-1, 0, 0, 0, -1, 0, 0, 0, -1, 0, 0, 0, -1, 0, 0, 0);
  for (int r = 0; r < blockRows; ++r) {
    unsigned char* out = dest + static_cast<ptrdiff_t>(r) * 4 * stride;
    for (int c = 0; c < across; ++c, src += kDXT24BlockBytes, out += 16) {
      const __m128i ends = _mm_cvtsi64_si128(static_cast<long long>(Load64(src)));
      const __m128i a = _mm_unpacklo_epi8(ends, zero);
      const __m128i b = _mm_shuffle_epi8(a, swapEnds);
      const __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(a, a), b), one);
      const __m128i thirds = _mm_packus_epi16(_mm_mulhi_epu16(sum, third), zero);
      const __m128i palette =
          _mm_or_si128(_mm_shuffle_epi8(_mm_unpacklo_epi64(ends, thirds), entries), opaque);
      const uint32_t word = Load32(src + 6);
      for (int y = 0; y < 4; ++y) {
        const __m128i mask =
            _mm_load_si128(reinterpret_cast<const __m128i*>(kRowShuffles.mask[(word >> (8 * y)) & 0xFF]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + y * stride), _mm_shuffle_epi8(palette, mask));
      }
    }
  }
}
