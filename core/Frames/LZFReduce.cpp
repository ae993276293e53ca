#include "core/Frames/LZFReduce.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "core/Blocks/BlockGather.h"
#include "core/Blocks/DXT24Decoder.h"
#include "core/Format/ORXFormat.h"
#include "core/Format/ORXHeader.h"
#include "core/Frames/ReduceScore.h"

namespace {

// growth, floors (DXT24 colours, DXT1/DXT5 colours, alpha), exchange
// rates (DXT24, DXT1/DXT5), keepRaw, neighbours: light trades little and
// looks only left, strong much. The rates are the same for every frame,
// which gives the smallest movie for its total error; measured on
// photographs, medium makes 4K movies a fifth smaller within 0.5 dB (1080p
// ones 17-19% smaller at 0.17 dB).
constexpr ORXReduceLevel kLevels[kORXReduceLevels] = {
    {0, 0, 0, 0, 0, 0, 0, 0},
    {160, 4, 6, 6, 16, 32, 4, 1},
    {256, 8, 12, 12, 30, 60, 6, 2},
    {512, 16, 24, 24, 140, 280, 8, 3},
};

// A part's own error (over channels channels) and what a level lets it grow
// to: by a share of it, or by the floor a pixel channel, whichever is more.
int64_t Grown(const ORXReduceLevel& l, int64_t own, int channels, int floor) {
  return own + std::max<int64_t>(own * l.growth / 256, int64_t(floor) * 16 * channels);
}

// LZF reaches back at most 8192 bytes; a little less keeps clear of the edge.
constexpr int kReach = 8191;
constexpr int64_t kNever = kORXScoreNever;
// A neighbour's index word is fitted with end points only when it differs
// from the block's own in at most this many pixels.
constexpr int kFitDiffering = 6;

// The layout of one variant's blocks.
struct Shape {
  bool alpha, dxt24;
  int bytes;       // a block
  int colourAt;    // where the colour block starts (8 after an alpha block)
  int colourBytes; // 8, or 10 for DXT24
  int indexAt;     // the index word within the colour block
  bool threeColour;  // DXT1: end points in the other order mean three colours and transparent black
};

Shape ShapeOf(bool alpha, bool dxt24) {
  Shape s{};
  s.alpha = alpha;
  s.dxt24 = dxt24;
  s.bytes = ORXBytesPerBlock(alpha, dxt24);
  s.colourAt = alpha ? 8 : 0;
  s.colourBytes = dxt24 ? 10 : 8;
  s.indexAt = dxt24 ? 6 : 4;
  s.threeColour = !alpha && !dxt24;
  return s;
}

// Copies of blocks (8, 10, 16 or 18 bytes) and of their alpha or colour
// parts (8 or 10), each size inline rather than by a call.
void CopyBlock(unsigned char* to, const unsigned char* from, int n) {
  switch (n) {
    case 8: std::memcpy(to, from, 8); break;
    case 10: std::memcpy(to, from, 10); break;
    case 16: std::memcpy(to, from, 16); break;
    default: std::memcpy(to, from, 18);
  }
}
void CopyPart(unsigned char* to, const unsigned char* from, int n) {
  if (n == 8)
    std::memcpy(to, from, 8);
  else
    std::memcpy(to, from, 10);
}

// A colour block's four colours as the decoders make them.
ORXReducePalette ColourPalette(const unsigned char* colour, const Shape& s) {
  ORXReducePalette p;
  unsigned e[2][3];
  bool four = true;
  if (s.dxt24) {
    for (int k = 0; k < 3; ++k) e[0][k] = colour[k], e[1][k] = colour[3 + k];
  } else {
    const unsigned c0 = colour[0] | colour[1] << 8, c1 = colour[2] | colour[3] << 8;
    const unsigned cs[2] = {c0, c1};
    for (int i = 0; i < 2; ++i) {
      const unsigned r = (cs[i] >> 11) & 31, g = (cs[i] >> 5) & 63, b = cs[i] & 31;
      e[i][0] = (r << 3) | (r >> 2);
      e[i][1] = (g << 2) | (g >> 4);
      e[i][2] = (b << 3) | (b >> 2);
    }
    four = !s.threeColour || c0 > c1;
  }
  for (int k = 0; k < 3; ++k) {
    p.c[0][k] = int(e[0][k]);
    p.c[1][k] = int(e[1][k]);
    if (four) {
      p.c[2][k] = int((2 * e[0][k] + e[1][k] + 1) / 3);
      p.c[3][k] = int((e[0][k] + 2 * e[1][k] + 1) / 3);
    } else {
      p.c[2][k] = int((e[0][k] + e[1][k] + 1) / 2);
      p.c[3][k] = 0;
    }
  }
  p.fourth = four;
  ORXPaletteTerms(&p);
  return p;
}

// Pixels whose 2-bit indices differ between two index words.
int IndicesDiffering(uint32_t a, uint32_t b) {
  uint32_t x = a ^ b;
  x = (x | x >> 1) & 0x55555555u;  // one bit a pixel, counted in place
  x = (x & 0x33333333u) + (x >> 2 & 0x33333333u);
  x = (x + (x >> 4)) & 0x0F0F0F0Fu;
  return int(x * 0x01010101u >> 24);
}

int64_t AlphaErrorOf(const unsigned char* alphaBlock, const unsigned char* px) {
  uint8_t pal[8];
  DXT5AlphaPalette(alphaBlock[0], alphaBlock[1], pal);
  uint64_t bits = 0;
  for (int i = 0; i < 6; ++i) bits |= uint64_t(alphaBlock[2 + i]) << (8 * i);
  int64_t sum = 0;
  for (int i = 0; i < 16; ++i) {
    const int d = int(pal[(bits >> (3 * i)) & 7]) - px[4 * i + 3];
    sum += d * d;
  }
  return sum;
}

// The alpha every pixel of the block has, or -1 when they differ.
int UniformAlpha(const unsigned char* px) {
  for (int i = 1; i < 16; ++i)
    if (px[4 * i + 3] != px[3]) return -1;
  return px[3];
}

// Alpha indices chosen afresh for the block's end points; their error.
// Where every pixel has the same alpha (uniform, not -1), the nearest entry
// serves all sixteen.
int64_t BestAlphaIndices(unsigned char* alphaBlock, const unsigned char* px, int uniform) {
  uint8_t pal[8];
  DXT5AlphaPalette(alphaBlock[0], alphaBlock[1], pal);
  // The first nearest entry to an alpha, and its squared distance.
  auto nearest = [&pal](int alpha, int* at) {
    int best = INT_MAX;
    for (int k = 0; k < 8; ++k) {
      const int d = (int(pal[k]) - alpha) * (int(pal[k]) - alpha);
      if (d < best) best = d, *at = k;
    }
    return best;
  };
  uint64_t bits = 0;
  int64_t sum = 0;
  int at = 0, d = uniform >= 0 ? nearest(uniform, &at) : 0;
  for (int i = 0; i < 16; ++i) {
    if (uniform < 0) d = nearest(px[4 * i + 3], &at);
    sum += d;
    bits |= uint64_t(at) << (3 * i);
  }
  for (int i = 0; i < 6; ++i) alphaBlock[2 + i] = uint8_t(bits >> (8 * i));
  return sum;
}

// Rounded a / b for b > 0, either sign of a.
int64_t DivRound(int64_t a, int64_t b) { return a >= 0 ? (2 * a + b) / (2 * b) : -((-2 * a + b) / (2 * b)); }

// End points fitted by least squares to the pixels for a fixed index word
// (four-colour weights 1, 0, 2/3, 1/3 of colour 0); false when the word
// leaves them undetermined, or a DXT1 block's end points would come out in
// the three-colour order.
bool FitEndPoints(const Shape& s, uint32_t word, const unsigned char* px, unsigned char* colour) {
  static constexpr int kWeight[4] = {3, 0, 2, 1};
  int64_t saa = 0, sbb = 0, sab = 0, sap[3] = {}, sbp[3] = {};
  for (int i = 0; i < 16; ++i) {
    const int a = kWeight[(word >> (2 * i)) & 3], b = 3 - a;
    saa += a * a, sbb += b * b, sab += a * b;
    for (int k = 0; k < 3; ++k) sap[k] += a * px[4 * i + k], sbp[k] += b * px[4 * i + k];
  }
  const int64_t det = saa * sbb - sab * sab;
  if (det == 0) return false;
  int e[2][3];
  for (int k = 0; k < 3; ++k) {
    e[0][k] = int(std::clamp<int64_t>(DivRound(3 * (sbb * sap[k] - sab * sbp[k]), det), 0, 255));
    e[1][k] = int(std::clamp<int64_t>(DivRound(3 * (saa * sbp[k] - sab * sap[k]), det), 0, 255));
  }
  if (s.dxt24) {
    for (int k = 0; k < 3; ++k) colour[k] = uint8_t(e[0][k]), colour[3 + k] = uint8_t(e[1][k]);
  } else {
    unsigned c[2];
    for (int i = 0; i < 2; ++i)
      c[i] = unsigned((e[i][0] * 31 + 127) / 255) << 11 | unsigned((e[i][1] * 63 + 127) / 255) << 5 |
             unsigned((e[i][2] * 31 + 127) / 255);
    if (s.threeColour && c[0] <= c[1]) return false;
    colour[0] = uint8_t(c[0]), colour[1] = uint8_t(c[0] >> 8), colour[2] = uint8_t(c[1]), colour[3] = uint8_t(c[1] >> 8);
  }
  ORXPutU32LE(colour + s.indexAt, word);
  return true;
}

// Which of the n (at most 16) bytes at a and b are equal: bit i for byte i.
uint32_t EqualBytes(const unsigned char* a, const unsigned char* b, int n) {
  if constexpr (std::endian::native == std::endian::little) {
    // Eight bytes at a time: a byte of x is zero where they are equal, and
    // its top bit is then set in z; the multiply gathers the top bits.
    auto eight = [](const unsigned char* p, const unsigned char* q) {
      uint64_t u, v;
      std::memcpy(&u, p, 8);
      std::memcpy(&v, q, 8);
      const uint64_t x = u ^ v, low = 0x7F7F7F7F7F7F7F7Full;
      const uint64_t z = ~(((x & low) + low) | x | low);
      return uint32_t((z >> 7) * 0x0102040810204080ull >> 56);
    };
    uint32_t m = eight(a, b);
    if (n > 8) m |= (eight(a + n - 8, b + n - 8) << (n - 8)) & ~0xFFu;
    return m & ((1u << n) - 1);
  } else {
    uint32_t m = 0;
    for (int i = 0; i < n; ++i) m |= uint32_t(a[i] == b[i]) << i;
    return m;
  }
}

// The bytes LZF would spend, in 32nds, on a field of n bytes (`field`) to be
// written at `at` after the chunk's earlier bytes: a greedy parse that looks
// for repeats at the given distances (whole blocks back, so the same field
// of an earlier block, always within the chunk), continuing a match of
// distance *run (0: none) that reaches the field. *run gets the match that
// runs to the field's end, or 0.
int Cost(const unsigned char* field, const unsigned char* at, int n, const int* distances, int count, int* run) {
  uint32_t equal[4];
  for (int i = 0; i < count; ++i) equal[i] = EqualBytes(field, at - distances[i], n);
  int cost = 0, pos = 0;
  if (*run != 0) {
    pos = std::countr_one(EqualBytes(field, at - *run, n));
    if (pos < n) *run = 0;
  } else {
    // Most fields are one back reference whole, or no repeat at all.
    const uint32_t whole = (1u << n) - 1;
    uint32_t starts = 0;  // where a repeat of three bytes or more begins
    for (int i = 0; i < count; ++i) {
      if (equal[i] == whole) {
        *run = distances[i];
        return n > 8 ? 96 : 64;
      }
      starts |= equal[i] & equal[i] >> 1 & equal[i] >> 2;
    }
    if (starts == 0) return 33 * n;
  }
  while (pos < n) {
    int best = 0, bestDistance = 0;
    for (int i = 0; i < count; ++i) {
      // Bits past the field are clear, so the count of ones stops there.
      const int length = std::countr_one(equal[i] >> pos);
      if (length > best) best = length, bestDistance = distances[i];
    }
    if (best >= 3) {
      cost += best > 8 ? 96 : 64;
      pos += best;
      *run = pos == n ? bestDistance : 0;
    } else {
      cost += 33;  // a literal, and its share of a literal run's length byte
      ++pos;
      *run = 0;
    }
  }
  return cost;
}

struct Reducer {
  const unsigned char* argb;
  int width, height, rowBytes;
  Shape s;
  ORXReduceLevel level;
  unsigned char* blocks;
  int64_t total, across;
  int floor;        // the colours' floor
  int64_t exchange;
  ORXScoreFunction score;  // the widest this processor runs

  // Block b's pixels as GatherBlockRGBA gives them; blocks wholly inside
  // the picture by whole words, the last column and row as it does.
  void Gather(int bx, int by, unsigned char* px) const {
    if (4 * bx + 4 > width || 4 * by + 4 > height || std::endian::native != std::endian::little) {
      GatherBlockRGBA(argb, width, height, rowBytes, bx, by, px);
      return;
    }
    const unsigned char* row = argb + ptrdiff_t(by) * 4 * rowBytes + ptrdiff_t(bx) * 16;
    for (int y = 0; y < 4; ++y, row += rowBytes) {
      uint32_t v[4];
      std::memcpy(v, row, 16);
      for (int x = 0; x < 4; ++x) v[x] = std::rotr(v[x], 8);  // A, R, G, B to R, G, B, A
      std::memcpy(px + 16 * y, v, 16);
    }
  }

  struct Pick {
    int64_t weight = kNever;
    unsigned char bytes[10] = {};
    int run = 0;
  };

  void Chunk(int64_t first, int64_t end) const {
    // The palettes of the blocks as chosen, as far back as the block above,
    // in a ring; without room for them, each is made where it is needed.
    const int64_t kept = across + 3;
    std::unique_ptr<ORXReducePalette[]> chosenPalettes(new (std::nothrow) ORXReducePalette[size_t(kept)]);
    unsigned char px[64];
    int run = 0;  // the match that ran to the end of the previous block
    int bx = int(first % across), by = int(first / across);
    int64_t slot = 0;  // block b's place in the ring
    ORXReducePalette ownPalette;
    for (int64_t b = first; b < end; ++b) {
      unsigned char* at = blocks + b * s.bytes;
      Gather(bx, by, px);
      // The earlier blocks within reach in this chunk: left, above, two to the left.
      const int64_t back[3] = {1, across, 2};
      int distances[4], count = 0;
      const unsigned char* neighbours[3];
      ORXReducePalette made[3];
      const ORXReducePalette* palettes[3];
      // The first of them in reach, as many as the level tries: where the
      // block above is out of reach (the chunk's first row, or rows longer
      // than LZF's window), two to the left takes its place.
      for (int j = 0; j < 3 && count < level.neighbours; ++j) {
        const int64_t k = back[j];
        if (k <= 0 || b - k < first || k * s.bytes > kReach ||
            std::find(distances, distances + count, int(k * s.bytes)) != distances + count)
          continue;
        neighbours[count] = blocks + (b - k) * s.bytes;
        if (chosenPalettes) {
          palettes[count] = &chosenPalettes[size_t(slot >= k ? slot - k : slot - k + kept)];
        } else {
          made[count] = ColourPalette(neighbours[count] + s.colourAt, s);
          palettes[count] = &made[count];
        }
        distances[count++] = int(k * s.bytes);
      }
      const int near = count;
      if (run != 0 && std::find(distances, distances + count, run) == distances + count) distances[count++] = run;
      unsigned char chosen[18];
      CopyBlock(chosen, at, s.bytes);
      if (s.alpha) ChooseAlpha(px, at, neighbours, near, distances, count, &run, chosen);
      // The block's own palette goes straight into the ring, and is
      // replaced there when another is chosen.
      ORXReducePalette* palette = chosenPalettes ? &chosenPalettes[size_t(slot)] : &ownPalette;
      ChooseColour(px, at, neighbours, palettes, near, distances, count, &run, chosen, palette);
      CopyBlock(at, chosen, s.bytes);
      if (++slot == kept) slot = 0;
      if (++bx == across) bx = 0, ++by;
    }
  }

  // Keeps in *best the candidate (bytes [from, to) of `trial`) that weighs
  // least: 32 x the error it adds plus the exchange rate x its cost.
  static bool Weigh(const unsigned char* trial, int64_t error, int64_t own, int64_t allowed, int64_t exchange,
                    const unsigned char* at, int from, int to, const int* distances, int count, int runIn,
                    Pick* best) {
    // A candidate that adds too much error to win even at the least cost a
    // field can have (nothing, when the match running into it covers it;
    // one back reference otherwise) is passed over uncounted.
    const int least = runIn != 0 ? 0 : to - from > 8 ? 96 : 64;
    if (error > allowed || 32 * (error - own) + exchange * least >= best->weight) return false;
    int run = runIn;
    const int cost = Cost(trial + from, at + from, to - from, distances, count, &run);
    const int64_t weight = 32 * (error - own) + exchange * cost;
    if (weight >= best->weight) return false;
    best->weight = weight;
    best->run = run;
    CopyPart(best->bytes, trial + from, to - from);
    return true;
  }

  void ChooseAlpha(const unsigned char* px, const unsigned char* at,
                   const unsigned char* const* neighbours, int near, const int* distances, int count, int* run,
                   unsigned char* chosen) const {
    unsigned char trial[18];
    CopyBlock(trial, chosen, s.bytes);
    const int64_t own = AlphaErrorOf(at, px), allowed = Grown(level, own, 1, level.floorAlpha);
    Pick best;
    Weigh(trial, own, own, allowed, exchange, at, 0, 8, distances, count, *run, &best);
    const int uniform = UniformAlpha(px);
    for (int i = 0; i < near; ++i) {
      // The same bytes weigh the same: a neighbour's alpha block that is an
      // earlier neighbour's gives nothing new, nor, whole, the block's own
      // (opaque pictures have the one alpha block throughout).
      bool weighed = false;
      for (int j = 0; j < i; ++j) weighed |= std::memcmp(neighbours[j], neighbours[i], 8) == 0;
      if (weighed) continue;
      std::memcpy(trial, neighbours[i], 8);  // its alpha block whole
      if (std::memcmp(trial, at, 8) != 0)
        Weigh(trial, AlphaErrorOf(trial, px), own, allowed, exchange, at, 0, 8, distances, count, *run, &best);
      // Its end points, indices of this block's own for them.
      const int64_t e = BestAlphaIndices(trial, px, uniform);
      Weigh(trial, e, own, allowed, exchange, at, 0, 8, distances, count, *run, &best);
    }
    std::memcpy(chosen, best.bytes, 8);
    *run = best.run;
  }

  // Chooses the colour block; *palette gets its palette.
  void ChooseColour(const unsigned char* px, const unsigned char* at, const unsigned char* const* neighbours,
                    const ORXReducePalette* const* palettes, int near, const int* distances, int count, int* run,
                    unsigned char* chosen, ORXReducePalette* palette) const {
    const int from = s.colourAt, to = s.bytes;
    unsigned char trial[18];
    CopyBlock(trial, chosen, s.bytes);
    unsigned char* colour = trial + from;
    const uint32_t ownWord = ORXGetU32LE(at + from + s.indexAt);
    ORXScorePixels pixels;
    ORXScorePixelsOf(px, &pixels);
    // The block's own palette and its neighbours' in one pass; *palette
    // holds the own until another is chosen.
    *palette = ColourPalette(at + from, s);
    const ORXReducePalette* scored[kORXScoreMost] = {palette};
    uint32_t words[kORXScoreMost] = {ownWord};
    for (int i = 0; i < near; ++i) {
      scored[1 + i] = palettes[i];
      words[1 + i] = ORXGetU32LE(neighbours[i] + from + s.indexAt);
    }
    ORXPaletteScore scores[kORXScoreMost];
    score(pixels, scored, words, 1 + near, scores);
    const int64_t own = scores[0].wordError;
    if (own >= kNever) {  // a block that draws transparent black is left as the encoder made it
      *run = 0;
      return;
    }
    const int64_t allowed = Grown(level, own, 3, floor);
    Pick best;
    Weigh(trial, own, own, allowed, exchange, at, from, to, distances, count, *run, &best);
    const ORXReducePalette* chosenPalette = palette;
    ORXReducePalette fitted;
    for (int i = 0; i < near; ++i) {
      const unsigned char* n = neighbours[i] + from;
      const uint32_t theirWord = words[1 + i];
      // Its end points with this block's best indices for them, and its
      // colour block whole, which errs at least as much (the same block
      // when its indices are the best).
      const ORXPaletteScore& theirs = scores[1 + i];
      if (theirs.bestError <= allowed) {
        CopyPart(colour, n, s.colourBytes);
        if (Weigh(trial, theirs.wordError, own, allowed, exchange, at, from, to, distances, count, *run, &best))
          chosenPalette = palettes[i];
        if (theirs.bestWord != theirWord) {
          ORXPutU32LE(colour + s.indexAt, theirs.bestWord);
          if (Weigh(trial, theirs.bestError, own, allowed, exchange, at, from, to, distances, count, *run, &best))
            chosenPalette = palettes[i];
        }
      }
      // The left block's index word, when it nearly is this block's, with
      // end points fitted to this block's pixels.
      if (i == 0 && IndicesDiffering(theirWord, ownWord) <= kFitDiffering && FitEndPoints(s, theirWord, px, colour)) {
        const ORXReducePalette mine = ColourPalette(colour, s);
        const ORXReducePalette* fit[1] = {&mine};
        ORXPaletteScore fitScore;
        score(pixels, fit, &theirWord, 1, &fitScore);
        const int64_t e = fitScore.wordError;
        if (Weigh(trial, e, own, allowed, exchange, at, from, to, distances, count, *run, &best)) {
          fitted = mine;
          chosenPalette = &fitted;
        }
      }
    }
    CopyPart(chosen + from, best.bytes, to - from);
    *run = best.run;
    if (chosenPalette != palette) *palette = *chosenPalette;
  }
};

void ReduceChunk(void* context, int i) {
  const Reducer& r = *static_cast<const Reducer*>(context);
  const int64_t first = int64_t(i) * kLZFChunkBlocks;
  r.Chunk(first, std::min(r.total, first + kLZFChunkBlocks));
}

}  // namespace

const ORXReduceLevel& ORXReduceLevelOf(int level) { return kLevels[std::clamp(level, 0, kORXReduceLevels - 1)]; }

int64_t ORXReduceBudget(int level, ORXBlockErrors own, bool alpha, bool dxt24) {
  const ORXReduceLevel& l = ORXReduceLevelOf(level);
  return Grown(l, own.colour, 3, dxt24 ? l.floor : l.floorStandard) + (alpha ? Grown(l, own.alpha, 1, l.floorAlpha) : 0);
}

ORXBlockErrors ORXBlockError(const unsigned char* block, const unsigned char pixels[64], bool alpha, bool dxt24) {
  const Shape s = ShapeOf(alpha, dxt24);
  ORXBlockErrors e;
  ORXScorePixels px;
  ORXScorePixelsOf(pixels, &px);
  e.colour = ORXScorePalettePlain(px, ColourPalette(block + s.colourAt, s), ORXGetU32LE(block + s.colourAt + s.indexAt))
                 .wordError;
  if (e.colour >= kNever) e.colour = INT64_MAX;
  if (alpha) e.alpha = AlphaErrorOf(block, pixels);
  return e;
}

void ORXReduceBlocks(const unsigned char* argb, int width, int height, int rowBytes, bool alpha, bool dxt24, int level,
                     unsigned char* blocks, const ORXJobRunner* runner) {
  if (level <= 0 || width <= 0 || height <= 0) return;
  const ORXReduceLevel& l = ORXReduceLevelOf(level);
  const int64_t across = (width + 3) / 4;
  Reducer r{argb, width, height, rowBytes, ShapeOf(alpha, dxt24), l, blocks, across * ((height + 3) / 4), across,
            dxt24 ? l.floor : l.floorStandard, dxt24 ? l.exchange : l.exchangeStandard,
            ORXScoreFunctionOf(ORXScoreBestLevel())};
  ORXRunJobs(runner, int((r.total + kLZFChunkBlocks - 1) / kLZFChunkBlocks), ReduceChunk, &r);
}
