#include "DXT24Decoder.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <new>

#include "ORXFormat.h"
#include "ORXSemaphore.h"
#include "ORXThread.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

uint8_t thirdsTable[65536];
std::atomic<bool> initThirds{false};

namespace {

std::once_flag g_thirdsOnce;

// Memory order A, R, G, B as one 32-bit value, whatever the host byte order.
inline uint32_t PackARGB(uint8_t a, uint8_t r, uint8_t g, uint8_t b) {
  const uint8_t bytes[4] = {a, r, g, b};
  uint32_t v;
  std::memcpy(&v, bytes, 4);
  return v;
}

inline void ColourPalette(const unsigned char* blk, uint8_t alphaValue, uint32_t palette[4]) {
  const uint8_t r0 = blk[0], g0 = blk[1], b0 = blk[2];
  const uint8_t r1 = blk[3], g1 = blk[4], b1 = blk[5];
  palette[0] = PackARGB(alphaValue, r0, g0, b0);
  palette[1] = PackARGB(alphaValue, r1, g1, b1);
  palette[2] = PackARGB(alphaValue, thirdsTable[r0 * 256 + r1], thirdsTable[g0 * 256 + g1],
                        thirdsTable[b0 * 256 + b1]);
  palette[3] = PackARGB(alphaValue, thirdsTable[r1 * 256 + r0], thirdsTable[g1 * 256 + g0],
                        thirdsTable[b1 * 256 + b0]);
}

inline uint32_t IndexWord(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

void InitThirdsTable() {
  if (initThirds.load(std::memory_order_acquire)) return;
  std::call_once(g_thirdsOnce, [] {
    for (int a = 0; a < 256; ++a) {
      for (int b = 0; b < 256; ++b) {
        double v = std::floor(b / 3.0 + (a + a) / 3.0 + 0.5);
        if (v < 0) v = 0;
        if (v > 255) v = 255;
        thirdsTable[a * 256 + b] = static_cast<uint8_t>(v);
      }
    }
    initThirds.store(true, std::memory_order_release);
  });
}

void DXT5AlphaPalette(int a0, int a1, uint8_t p[8]) {
  p[0] = static_cast<uint8_t>(a0);
  p[1] = static_cast<uint8_t>(a1);
  if (a0 > a1) {
    for (int k = 2; k < 8; ++k) p[k] = static_cast<uint8_t>(((8 - k) * a0 + (k - 1) * a1 + 3) / 7);
  } else {
    for (int k = 2; k < 6; ++k) p[k] = static_cast<uint8_t>(((6 - k) * a0 + (k - 1) * a1 + 2) / 5);
    p[6] = 0;
    p[7] = 255;
  }
}

namespace {

// Both builds run on little-endian processors: a pixel is the 32-bit value
// A | R << 8 | G << 16 | B << 24, two pixels one 64-bit store.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "pixel packing assumes little-endian");

inline uint64_t Load64(const unsigned char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

inline uint32_t Load32(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// One destination row of a block: four pixels from one index byte, stored
// as two 64-bit words.
inline void StoreRow(unsigned char* out, const uint32_t* palette, uint32_t bits) {
  const uint64_t lo = palette[bits & 3] | static_cast<uint64_t>(palette[(bits >> 2) & 3]) << 32;
  const uint64_t hi = palette[(bits >> 4) & 3] | static_cast<uint64_t>(palette[(bits >> 6) & 3]) << 32;
  std::memcpy(out, &lo, 8);
  std::memcpy(out + 8, &hi, 8);
}

// Decodes blockRows rows of `across` 10-byte blocks. The end points are read
// as one word: bytes 0..2 are colour 0 and 3..5 colour 1 (R, G, B), so each
// shifted into place beside an alpha of 255 is already a pixel; the two
// thirds come from the table, two look-ups a channel.
void DecodeRows24(const unsigned char* src, unsigned char* dest, int across, int rowBytes, int blockRows) {
  const ptrdiff_t stride = rowBytes;
  const uint8_t* thirds = thirdsTable;
  for (int r = 0; r < blockRows; ++r) {
    unsigned char* out = dest + static_cast<ptrdiff_t>(r) * 4 * stride;
    for (int c = 0; c < across; ++c, src += kDXT24BlockBytes, out += 16) {
      const uint64_t ends = Load64(src);  // bytes 0..7 of the block's 10
      const uint32_t e0 = static_cast<uint32_t>(ends) & 0xFFFFFFu;
      const uint32_t e1 = static_cast<uint32_t>(ends >> 24) & 0xFFFFFFu;
      const uint32_t r0 = e0 & 0xFF, g0 = (e0 >> 8) & 0xFF, b0 = e0 >> 16;
      const uint32_t r1 = e1 & 0xFF, g1 = (e1 >> 8) & 0xFF, b1 = e1 >> 16;
      uint32_t palette[4];
      palette[0] = e0 << 8 | 0xFFu;
      palette[1] = e1 << 8 | 0xFFu;
      palette[2] = 0xFFu | static_cast<uint32_t>(thirds[r0 << 8 | r1]) << 8 |
                   static_cast<uint32_t>(thirds[g0 << 8 | g1]) << 16 |
                   static_cast<uint32_t>(thirds[b0 << 8 | b1]) << 24;
      palette[3] = 0xFFu | static_cast<uint32_t>(thirds[r1 << 8 | r0]) << 8 |
                   static_cast<uint32_t>(thirds[g1 << 8 | g0]) << 16 |
                   static_cast<uint32_t>(thirds[b1 << 8 | b0]) << 24;
      const uint32_t word = Load32(src + 6);
      StoreRow(out, palette, word);
      StoreRow(out + stride, palette, word >> 8);
      StoreRow(out + 2 * stride, palette, word >> 16);
      StoreRow(out + 3 * stride, palette, word >> 24);
    }
  }
}

#if defined(__x86_64__)
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

// The palette is made in the register too: the thirds are (2a + b + 1) / 3
// (what the table holds), computed on 16-bit lanes as a multiply by
// 21846 / 65536, which is exact for every sum up to 766.
__attribute__((target("ssse3"))) void DecodeRows24Shuffle(const unsigned char* src, unsigned char* dest, int across,
                                                          int rowBytes, int blockRows) {
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
#endif

// The colour-only row decoder for this processor, chosen once.
using ColourRowsFn = void (*)(const unsigned char*, unsigned char*, int, int, int);
ColourRowsFn ChooseColourRows() {
#if defined(__x86_64__)
  if (__builtin_cpu_supports("ssse3")) return DecodeRows24Shuffle;
#endif
  return DecodeRows24;
}
void DecodeRows24Best(const unsigned char* src, unsigned char* dest, int across, int rowBytes, int blockRows) {
  static const ColourRowsFn chosen = ChooseColourRows();
  chosen(src, dest, across, rowBytes, blockRows);
}

// Decodes blockRows rows of `across` 18-byte blocks (alpha block, colour block).
void DecodeRows24Alpha(const unsigned char* src, unsigned char* dest, int across, int rowBytes,
                       int blockRows) {
  uint32_t palette[4];
  uint8_t alphas[8];
  for (int r = 0; r < blockRows; ++r) {
    unsigned char* rowBase = dest + static_cast<ptrdiff_t>(r) * 4 * rowBytes;
    for (int c = 0; c < across; ++c, src += kDXT24AlphaBlockBytes) {
      DXT5AlphaPalette(src[0], src[1], alphas);
      uint64_t alphaBits = 0;
      for (int i = 0; i < 6; ++i) alphaBits |= static_cast<uint64_t>(src[2 + i]) << (8 * i);
      ColourPalette(src + kDXTAlphaBlockBytes, 0, palette);
      uint32_t word = IndexWord(src + 14);
      unsigned char* out = rowBase + c * 16;
      for (int y = 0; y < 4; ++y, out += rowBytes) {
        for (int x = 0; x < 4; ++x, word >>= 2, alphaBits >>= 3) {
          uint32_t px = palette[word & 3];
          unsigned char* p = out + x * 4;
          std::memcpy(p, &px, 4);
          p[0] = alphas[alphaBits & 7];
        }
      }
    }
  }
}

typedef void (*DecodeRowsFn)(const unsigned char* src, unsigned char* dest, int across, int rowBytes,
                             int blockRows);

// ---- Decode pool ------------------------------------------------------------
// Large frames are decoded in bands of block rows: the calling thread takes
// the first band, the pool's workers the others. The workers start once, on
// the first large frame, and then wait on their start semaphores for the life
// of the process. A gate admits one frame at a time; a frame that finds the
// pool busy (another instance decoding on another thread) is decoded on its
// own thread, so callers never wait for each other.

constexpr int kMaxDecodeBands = 8;
// Frames of at least this many (padded) pixels are worth the hand-off.
constexpr int64_t kBandedDecodePixels = int64_t{1} << 20;

struct DecodeBand {
  ORXSemaphore start;
  ORXSemaphore done;
  DecodeRowsFn decode = nullptr;
  const unsigned char* src = nullptr;
  unsigned char* dest = nullptr;
  int across = 0;
  int rowBytes = 0;
  int blockRows = 0;
};

struct DecodePool {
  DecodeBand bands[kMaxDecodeBands - 1];
  ORXSemaphore gate;
  int workers = 0;
};

// Built once and never freed: its workers block in it until the process ends.
DecodePool* g_decodePool = nullptr;
std::once_flag g_decodePoolOnce;

void* DecodeWorker(void* arg) {
  DecodeBand* band = static_cast<DecodeBand*>(arg);
  for (;;) {
    band->start.Wait();
    band->decode(band->src, band->dest, band->across, band->rowBytes, band->blockRows);
    band->done.Post();
  }
  return nullptr;
}

// Starts up to one worker per processor beyond the first (at most 7). Without
// memory, semaphores or threads the pool is smaller or absent, and frames
// are decoded on the calling thread.
void StartDecodePool() {
  const int processors = ORXProcessorCount();
  if (processors < 2) return;
  const int wanted = (processors < kMaxDecodeBands ? processors : kMaxDecodeBands) - 1;
  DecodePool* pool = new (std::nothrow) DecodePool;
  if (pool == nullptr) return;
  if (!pool->gate.IsValid()) {
    delete pool;
    return;
  }
  ORXThreadId id;
  while (pool->workers < wanted) {
    DecodeBand& b = pool->bands[pool->workers];
    if (!b.start.IsValid() || !b.done.IsValid() || !ORXStartThread(DecodeWorker, &b, &id)) break;
    ++pool->workers;
  }
  if (pool->workers == 0) {
    delete pool;
    return;
  }
  pool->gate.Post();
  g_decodePool = pool;
}

void DecodeFrame(const unsigned char* src, unsigned char* dest, int width, int height, int rowBytes,
                 bool alpha, bool banded) {
  InitThirdsTable();
  const int w4 = (width + 3) / 4 * 4;
  const int h4 = (height + 3) / 4 * 4;
  if (w4 < 4 || h4 < 4) return;
  const int across = w4 / 4, down = h4 / 4;
  const DecodeRowsFn decode = alpha ? DecodeRows24Alpha : DecodeRows24Best;
  const int blockBytes = ORXBytesPerBlock(alpha, true);

  DecodePool* pool = nullptr;
  if (banded && int64_t{w4} * h4 >= kBandedDecodePixels) {
    std::call_once(g_decodePoolOnce, StartDecodePool);
    pool = g_decodePool;
    if (pool != nullptr && !pool->gate.TryWait()) pool = nullptr;
  }
  if (pool == nullptr) {
    decode(src, dest, across, rowBytes, down);
    return;
  }

  const int bands = pool->workers + 1;
  const int perBand = (down + bands - 1) / bands;
  int posted = 0;
  for (int i = 1; i < bands; ++i) {
    const int first = i * perBand;
    if (first >= down) break;
    DecodeBand& b = pool->bands[i - 1];
    b.decode = decode;
    b.src = src + static_cast<ptrdiff_t>(first) * across * blockBytes;
    b.dest = dest + static_cast<ptrdiff_t>(first) * 4 * rowBytes;
    b.across = across;
    b.rowBytes = rowBytes;
    b.blockRows = (down - first < perBand) ? down - first : perBand;
    b.start.Post();
    ++posted;
  }
  decode(src, dest, across, rowBytes, perBand < down ? perBand : down);
  for (int i = 0; i < posted; ++i) pool->bands[i].done.Wait();
  pool->gate.Post();
}

}  // namespace

void DecodeDXT24(const unsigned char* src, unsigned char* dest, int width, int height, int rowBytes) {
  DecodeFrame(src, dest, width, height, rowBytes, false, true);
}

void DecodeDXT24Plain(const unsigned char* src, unsigned char* dest, int width, int height, int rowBytes) {
  InitThirdsTable();
  const int w4 = (width + 3) / 4 * 4, h4 = (height + 3) / 4 * 4;
  if (w4 < 4 || h4 < 4) return;
  DecodeRows24(src, dest, w4 / 4, rowBytes, h4 / 4);
}

bool DXT24DecoderUsesVectorRows() { return ChooseColourRows() != DecodeRows24; }

void DecodeDXT24WithAlpha(const unsigned char* src, unsigned char* dest, int width, int height,
                          int rowBytes) {
  DecodeFrame(src, dest, width, height, rowBytes, true, true);
}

void DecodeDXT24OnCallingThread(const unsigned char* src, unsigned char* dest, int width, int height,
                                int rowBytes, bool alpha) {
  DecodeFrame(src, dest, width, height, rowBytes, alpha, false);
}
