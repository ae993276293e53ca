#include "movie/MovieReaderSound.h"

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <string>

namespace orxmovie {

namespace {

constexpr uint32_t kLPCMFloat = 1, kLPCMBigEndian = 2, kLPCMSignedInteger = 4, kLPCMPacked = 8;
// A sound description's bytes: the common fields (version 0), with version
// 1's four more, and version 2's structure.
constexpr uint32_t kSoundV0Bytes = 36, kSoundV1Bytes = 52, kSoundV2Bytes = 72;
constexpr uint32_t kMaxChannels = 64, kMaxRate = 384000;

// A sound track's tables, each checked against its atom, and the sample-to-
// chunk table against the chunk offsets.
struct SoundTables {
  std::vector<Box> kids[4];  // of trak, mdia, minf and stbl
  const uint8_t* description = nullptr;  // the first sample description
  uint32_t descriptionSize = 0, descriptions = 0;
  const Box* stsz = nullptr;
  const uint8_t* offsets = nullptr;
  bool wideOffsets = false;  // co64
  uint32_t chunks = 0;
  const uint8_t* runs = nullptr;
  uint32_t runCount = 0;
  uint64_t placed = 0;  // samples the sample-to-chunk table puts in the chunks
};

const Box* Path(const Box& from, std::initializer_list<const char*> types, std::vector<Box> (&kids)[4], Failure* f) {
  const Box* at = &from;
  int depth = 0;
  for (const char* t : types) {
    if (!Children(*at, &kids[depth], f)) return nullptr;
    at = Find(kids[depth], BE32(reinterpret_cast<const uint8_t*>(t)));
    if (at == nullptr) {
      Fail(f, Status::invalidTrack, std::string("the sound track has no '") + t + "' atom");
      return nullptr;
    }
    ++depth;
  }
  return at;
}

// A table atom's count and entries, the count checked against the atom.
bool Entries(const Box* b, const char* name, uint64_t entryBytes, uint32_t* count, const uint8_t** entries, Failure* f) {
  if (b == nullptr) return Fail(f, Status::invalidSampleTable, std::string("the sound track has no '") + name + "' atom");
  if (b->size < 8) return Fail(f, Status::invalidSampleTable, std::string("the sound track's '") + name + "' atom is cut short");
  *count = BE32(b->data + 4);
  *entries = b->data + 8;
  const uint64_t room = (b->size - 8) / entryBytes;
  if (*count > room) {
    return Fail(f, Status::invalidSampleTable, Format("the sound track's '%s' atom lists %u entries but has room for %llu", name,
                                              *count, (unsigned long long)room));
  }
  return true;
}

bool FindTables(const Box& trak, SoundTables* t, Failure* f) {
  const Box* stbl = Path(trak, {"mdia", "minf", "stbl"}, t->kids, f);
  if (stbl == nullptr) return false;
  std::vector<Box>& tables = t->kids[3];  // stbl itself lies in kids[2]
  if (!Children(*stbl, &tables, f)) return false;
  const Box* stsd = Find(tables, FourCC("stsd"));
  if (stsd == nullptr) return Fail(f, Status::badDescription, "the sound track has no 'stsd' atom");
  if (stsd->size < 8 || BE32(stsd->data + 4) == 0)
    return Fail(f, Status::badDescription, "the sound track has no sample description");
  t->descriptions = BE32(stsd->data + 4);
  const uint64_t room = stsd->size - 8;
  if (room < 8) return Fail(f, Status::badDescription, "the sound track's sample description is cut short");
  t->description = stsd->data + 8;
  t->descriptionSize = BE32(t->description);
  if (t->descriptionSize > room) {
    return Fail(f, Status::badDescription, Format("the sound track's sample description claims %u bytes, its 'stsd' atom holds %llu",
                                               t->descriptionSize, (unsigned long long)room));
  }
  if (t->descriptionSize < kSoundV0Bytes) {
    return Fail(f, Status::badDescription, Format("the sound track's sample description holds %u bytes, fewer than %u",
                                               t->descriptionSize, kSoundV0Bytes));
  }
  if (!CheckDescriptions(t->description, room, t->descriptions, "the sound track's", f)) return false;
  t->stsz = Find(tables, FourCC("stsz"));
  const Box* stco = Find(tables, FourCC("stco"));
  t->wideOffsets = stco == nullptr && Find(tables, FourCC("co64")) != nullptr;
  if (t->wideOffsets) stco = Find(tables, FourCC("co64"));
  return Entries(stco, t->wideOffsets ? "co64" : "stco", t->wideOffsets ? 8 : 4, &t->chunks, &t->offsets, f) &&
         Entries(Find(tables, FourCC("stsc")), "stsc", 12, &t->runCount, &t->runs, f) &&
         CheckSampleToChunk(t->runs, t->runCount, t->chunks, t->descriptions, &t->placed, "the sound track's", f);
}

// The description's version, once its bytes are known to hold that
// version's fields.
bool DescriptionVersion(const SoundTables& t, uint16_t* version, Failure* f) {
  *version = BE16(t.description + 16);
  const uint32_t need = *version == 2 ? kSoundV2Bytes : *version == 1 ? kSoundV1Bytes : kSoundV0Bytes;
  if (t.descriptionSize < need) {
    return Fail(f, Status::badDescription, Format("the sound track's version %u description holds %u bytes, fewer than %u",
                                               *version, t.descriptionSize, need));
  }
  return true;
}

bool CheckChannels(uint32_t channels, Failure* f) {
  if (channels >= 1 && channels <= kMaxChannels) return true;
  return Fail(f, Status::badDescription, Format("the sound track has %u channels (1 to %u)", channels, kMaxChannels));
}

// The format from the first sample description, every field it gives
// checked: the reason for a refusal names the field at fault.
bool ParseFormat(const SoundTables& t, SoundTrackReader* out, Failure* f) {
  const uint8_t* e = t.description;
  const uint32_t type = BE32(e + 4);
  uint16_t version = 0;
  SoundFormat& fmt = out->format;
  if (type == FourCC("lpcm")) {
    if (!DescriptionVersion(t, &version, f)) return false;
    if (version != 2) {
      return Fail(f, Status::badDescription,
                  Format("the sound track's 'lpcm' description is version %u (linear PCM is described by version 2)", version));
    }
    double rate;
    const uint64_t rateBits = BE64(e + 40);
    std::memcpy(&rate, &rateBits, 8);
    const uint32_t structure = BE32(e + 36), channels = BE32(e + 48), depth = BE32(e + 56), flags = BE32(e + 60),
                   bytesPerPacket = BE32(e + 64), framesPerPacket = BE32(e + 68);
    if (structure < kSoundV2Bytes || structure > t.descriptionSize) {
      return Fail(f, Status::badDescription, Format("the sound track's description gives its structure as %u bytes (%u to %u)",
                                                 structure, kSoundV2Bytes, t.descriptionSize));
    }
    if (!(rate >= 1 && rate <= kMaxRate))
      return Fail(f, Status::badDescription, Format("the sound track's rate is %g Hz (1 to %u)", rate, kMaxRate));
    if (rate != std::floor(rate))
      return Fail(f, Status::badDescription, Format("the sound track's rate of %.9g Hz is not a whole number", rate));
    if (!CheckChannels(channels, f)) return false;
    if ((flags & kLPCMBigEndian) != 0)
      return Fail(f, Status::badDescription, "the sound track's samples are big-endian (linear PCM is read little-endian)");
    if ((flags & kLPCMPacked) == 0) return Fail(f, Status::badDescription, "the sound track's samples are not packed");
    const bool isFloat = (flags & kLPCMFloat) != 0;
    if (isFloat && depth != 32)
      return Fail(f, Status::badDescription, Format("the sound track's samples are %u-bit floats (32 bits)", depth));
    if (!isFloat && (flags & kLPCMSignedInteger) == 0)
      return Fail(f, Status::badDescription, Format("the sound track's samples are unsigned %u-bit integers (signed ones are read)", depth));
    if (!isFloat && depth != 16 && depth != 24)
      return Fail(f, Status::badDescription, Format("the sound track's samples are %u-bit integers (16 or 24 bits)", depth));
    if (framesPerPacket != 1) {
      return Fail(f, Status::badDescription,
                  Format("the sound track's packets hold %u frames (linear PCM has one a packet)", framesPerPacket));
    }
    fmt.sampleRate = uint32_t(rate);
    fmt.channels = channels;
    fmt.sampleFormat = isFloat ? uint32_t{kSoundFloat32} : depth;
    out->bytesPerFrame = SoundBytesPerFrame(fmt);
    if (bytesPerPacket != out->bytesPerFrame) {
      return Fail(f, Status::badDescription, Format("the sound track's description gives %u bytes a frame, its format makes %u",
                                                 bytesPerPacket, out->bytesPerFrame));
    }
  } else if (type == FourCC("sowt")) {
    if (!DescriptionVersion(t, &version, f)) return false;
    if (version > 1) return Fail(f, Status::badDescription, Format("the sound track's 'sowt' description is version %u (0 or 1)", version));
    const uint32_t channels = BE16(e + 24), depth = BE16(e + 26), rate = BE32(e + 32);  // rate: 16.16 fixed point
    if (depth != 16) return Fail(f, Status::badDescription, Format("the sound track's 'sowt' samples are %u-bit (16 bits)", depth));
    if (!CheckChannels(channels, f)) return false;
    if ((rate & 0xFFFF) != 0 || rate >> 16 == 0 || rate >> 16 > kMaxRate) {
      return Fail(f, Status::badDescription,
                  Format("the sound track's rate is %.9g Hz (1 to %u, a whole number)", rate / 65536.0, kMaxRate));
    }
    fmt.channels = channels;
    fmt.sampleRate = rate >> 16;
    fmt.sampleFormat = kSoundInt16;
    out->bytesPerFrame = SoundBytesPerFrame(fmt);
  } else {
    return Fail(f, Status::badDescription,
                "the sound track is not linear PCM of a kind this reader reads (" + TypeName(type) + ", not 'lpcm' or 'sowt')");
  }
  if (out->bytesPerFrame == 0) return Fail(f, Status::badDescription, "the sound track's format is out of range");
  return true;
}

}  // namespace

bool CheckSoundTrack(const Box& trak, Failure* f) {
  SoundTables t;
  uint16_t version = 0;
  if (!FindTables(trak, &t, f) || !DescriptionVersion(t, &version, f)) return false;
  const uint32_t channels = version == 2 ? BE32(t.description + 48) : BE16(t.description + 24);
  if (channels == 0) return Fail(f, Status::badDescription, "the sound track has 0 channels");
  return true;
}

bool ParseSoundTrack(const Box& trak, uint64_t fileSize, SoundTrackReader* out, Failure* f) {
  SoundTables t;
  if (!FindTables(trak, &t, f) || !ParseFormat(t, out, f)) return false;
  const uint32_t frameBytes = out->bytesPerFrame;

  // Every sample is a frame: stsz gives the count (its uniform size is the
  // frame's bytes, or 1 in older files) and the chunks must hold as many.
  if (t.stsz == nullptr) return Fail(f, Status::invalidSampleTable, "the sound track has no 'stsz' atom");
  if (t.stsz->size < 12) return Fail(f, Status::invalidSampleTable, "the sound track's 'stsz' atom is cut short");
  const uint32_t uniform = BE32(t.stsz->data + 4);
  if (uniform == 0)
    return Fail(f, Status::invalidSampleTable, "the sound track's 'stsz' gives each sample a size of its own (frames are of one size)");
  if (uniform != frameBytes && uniform != 1) {
    return Fail(f, Status::invalidSampleTable,
                Format("the sound track's samples are %u bytes, its frames %u", uniform, frameBytes));
  }
  const uint64_t frames = BE32(t.stsz->data + 8);
  if (frames == 0) return Fail(f, Status::invalidSampleTable, "the sound track holds no frames");
  if (frames * frameBytes > fileSize) {
    return Fail(f, Status::invalidSampleTable, Format("the sound track claims %llu frames of %u bytes, more than the file holds (%llu bytes)",
                                              (unsigned long long)frames, frameBytes, (unsigned long long)fileSize));
  }
  if (t.placed != frames) {
    return Fail(f, Status::invalidSampleTable, Format("the sound track's chunks (%u) hold %llu frames, its 'stsz' counts %llu", t.chunks,
                                              (unsigned long long)t.placed, (unsigned long long)frames));
  }

  // Each chunk's frames must lie inside the file.
  out->chunks.reserve(t.chunks);  // no more chunks than frames, so backed by the file
  uint64_t frame = 0;
  for (uint32_t c = 0, run = 0; c < t.chunks; ++c) {
    while (run + 1 < t.runCount && BE32(t.runs + 12 * (run + 1)) <= c + 1) ++run;
    const uint64_t perChunk = BE32(t.runs + 12 * run + 4);
    const uint64_t offset = t.wideOffsets ? BE64(t.offsets + 8 * uint64_t(c)) : BE32(t.offsets + 4 * uint64_t(c));
    const uint64_t bytes = perChunk * frameBytes;
    if (offset > fileSize || bytes > fileSize - offset) {
      return Fail(f, Status::invalidSampleTable,
                  Format("sound chunk %u (%llu bytes from byte %llu) runs past the end of the file (%llu bytes)", c + 1,
                         (unsigned long long)bytes, (unsigned long long)offset, (unsigned long long)fileSize));
    }
    out->chunks.push_back({offset, frame});
    frame += perChunk;
  }
  out->frames = frames;
  return true;
}

}  // namespace orxmovie
