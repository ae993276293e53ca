#include "MovieReaderSound.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace host_movie {

namespace {

constexpr uint32_t kLPCMFloat = 1, kLPCMBigEndian = 2, kLPCMSignedInteger = 4, kLPCMPacked = 8;

const Box* Path(const Box& from, std::initializer_list<const char*> types, std::vector<Box> (&kids)[4], Failure* f) {
  const Box* at = &from;
  int depth = 0;
  for (const char* t : types) {
    if (!Children(*at, &kids[depth], f)) return nullptr;
    at = Find(kids[depth], BE32(reinterpret_cast<const uint8_t*>(t)));
    if (at == nullptr) {
      Fail(f, invalidTrack, std::string("the sound track has no '") + t + "' atom");
      return nullptr;
    }
    ++depth;
  }
  return at;
}

// A table atom's count and entries, the count checked against the atom.
bool Entries(const Box* b, const char* name, uint64_t entryBytes, uint32_t* count, const uint8_t** entries, Failure* f) {
  if (b == nullptr) return Fail(f, invalidSampleTable, std::string("the sound track has no '") + name + "' atom");
  if (b->size < 8) return Fail(f, invalidSampleTable, std::string("the sound track's '") + name + "' atom is cut short");
  *count = BE32(b->data + 4);
  *entries = b->data + 8;
  if (*count > (b->size - 8) / entryBytes)
    return Fail(f, invalidSampleTable, std::string("the sound track's '") + name + "' atom lists more than it holds");
  return true;
}

// The format from the first sample description.
bool ParseFormat(const Box& stsd, SoundTrackReader* out, Failure* f) {
  if (stsd.size < 8 + 36 || BE32(stsd.data + 4) == 0) return Fail(f, badImageDescription, "the sound track has no description");
  const uint8_t* e = stsd.data + 8;
  const uint64_t size = std::min<uint64_t>(BE32(e), stsd.size - 8);
  const uint32_t type = BE32(e + 4);
  const uint16_t version = uint16_t(BE32(e + 16) >> 16);
  HostSoundFormat& fmt = out->format;
  if (type == FourCC("lpcm") && version == 2 && size >= 72) {
    double rate;
    const uint64_t bits = BE64(e + 40);
    std::memcpy(&rate, &bits, 8);
    const uint32_t depth = BE32(e + 56), flags = BE32(e + 60), framesPerPacket = BE32(e + 68);
    const bool isFloat = (flags & kLPCMFloat) != 0;
    if ((flags & kLPCMBigEndian) != 0 || (flags & kLPCMPacked) == 0 || framesPerPacket != 1 ||
        !(rate >= 1 && rate <= 384000 && rate == double(uint32_t(rate))) ||
        (isFloat ? depth != 32 : ((flags & kLPCMSignedInteger) == 0 || (depth != 16 && depth != 24))))
      return Fail(f, badImageDescription, "the sound track's linear PCM is not a kind this reader knows");
    fmt.sampleRate = uint32_t(rate);
    fmt.channels = BE32(e + 48);
    fmt.sampleFormat = isFloat ? uint32_t{kHostSoundFloat32} : depth;
  } else if (type == FourCC("sowt") && (version == 0 || version == 1) && BE16(e + 26) == 16) {
    fmt.channels = BE16(e + 24);
    fmt.sampleRate = BE32(e + 32) >> 16;
    fmt.sampleFormat = kHostSoundInt16;
  } else {
    return Fail(f, badImageDescription, "the sound track is not linear PCM (" + TypeName(type) + ")");
  }
  out->bytesPerFrame = HostSoundBytesPerFrame(&fmt);
  if (out->bytesPerFrame == 0) return Fail(f, badImageDescription, "the sound track's format is out of range");
  return true;
}

}  // namespace

bool ParseSoundTrack(const Box& trak, SoundTrackReader* out, Failure* f) {
  std::vector<Box> kids[4];
  const Box* hdlr = Path(trak, {"mdia", "hdlr"}, kids, f);
  if (hdlr == nullptr || hdlr->size < 12 || BE32(hdlr->data + 8) != FourCC("soun"))
    return Fail(f, invalidTrack, "not a sound track");
  const Box* stbl = Path(trak, {"mdia", "minf", "stbl"}, kids, f);
  if (stbl == nullptr) return false;
  std::vector<Box>& tables = kids[3];  // stbl itself lies in kids[2]
  if (!Children(*stbl, &tables, f)) return false;
  const Box* stsd = Find(tables, FourCC("stsd"));
  if (stsd == nullptr) return Fail(f, invalidSampleTable, "the sound track has no 'stsd' atom");
  if (!ParseFormat(*stsd, out, f)) return false;

  // Every sample is a frame: stsz gives the count (its uniform size is the
  // frame's bytes, or 1 in older files).
  const Box* stsz = Find(tables, FourCC("stsz"));
  if (stsz == nullptr || stsz->size < 12) return Fail(f, invalidSampleTable, "the sound track has no 'stsz' atom");
  const uint32_t uniform = BE32(stsz->data + 4);
  if (uniform != out->bytesPerFrame && uniform != 1)
    return Fail(f, invalidSampleTable, "the sound track's samples are not whole frames");
  const uint64_t frames = BE32(stsz->data + 8);

  uint32_t chunkCount = 0, runCount = 0;
  const uint8_t *offsets = nullptr, *runs = nullptr;
  const Box* co64 = Find(tables, FourCC("co64"));
  const Box* stco = co64 ? co64 : Find(tables, FourCC("stco"));
  if (!Entries(stco, "stco", co64 ? 8 : 4, &chunkCount, &offsets, f) ||
      !Entries(Find(tables, FourCC("stsc")), "stsc", 12, &runCount, &runs, f))
    return false;
  if (runCount == 0 || BE32(runs) != 1) return Fail(f, invalidSampleTable, "the sound track's 'stsc' does not start at chunk 1");
  out->chunks.reserve(chunkCount);
  uint64_t frame = 0;
  for (uint32_t c = 0, run = 0; c < chunkCount && frame < frames; ++c) {
    while (run + 1 < runCount && BE32(runs + 12 * (run + 1)) <= c + 1) ++run;
    const uint32_t perChunk = BE32(runs + 12 * run + 4);
    if (perChunk == 0) return Fail(f, invalidSampleTable, "a sound chunk of no frames");
    out->chunks.push_back({co64 ? BE64(offsets + 8 * uint64_t(c)) : BE32(offsets + 4 * uint64_t(c)), frame});
    frame += perChunk;
  }
  out->frames = std::min(frame, frames);
  return true;
}

}  // namespace host_movie
