// The movie reader: walks the top-level atoms with positioned reads, loads
// the movie atom, picks the video track and checks every table against its
// atom and the file before it allocates anything from a count it read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "movie/MovieAtoms.h"
#include "movie/MovieBoxes.h"
#include "movie/MovieReader.h"
#include "movie/MovieReaderSound.h"

namespace orxmovie {

namespace {

// The child of the given type, which the video track must have.
bool Require(const std::vector<Box>& boxes, const char (&type)[5], Box* out, Failure* f) {
  const Box* b = Find(boxes, FourCC(type));
  if (b == nullptr) return Fail(f, Status::invalidTrack, std::string("the video track has no '") + type + "' atom");
  *out = *b;
  return true;
}

// A table atom: version and flags, an entry count, then entries of entryBytes
// each (after `skip` further bytes). Checks the count against the atom.
bool Table(const Box* b, const char* name, uint64_t skip, uint64_t entryBytes, uint32_t* count, const uint8_t** entries,
           Failure* f) {
  if (b == nullptr) return Fail(f, Status::invalidSampleTable, std::string("the video track has no '") + name + "' atom");
  if (b->size < 8 + skip) return Fail(f, Status::invalidSampleTable, std::string("the '") + name + "' atom is cut short");
  *count = BE32(b->data + 4 + skip);
  *entries = b->data + 8 + skip;
  const uint64_t room = (b->size - 8 - skip) / entryBytes;
  if (*count > room) {
    return Fail(f, Status::invalidSampleTable, Format("the '%s' atom lists %u entries but has room for %llu", name, *count,
                                              (unsigned long long)room));
  }
  return true;
}

}  // namespace

struct TimeRun {
  uint32_t first;  // index of the run's first sample
  uint32_t duration;
};

struct Reader::State {
  int fd = -1;
  uint64_t fileSize = 0;
  TrackFacts facts;  // the image description is read into it; the rest is gathered below
  int32_t trackCount = 0, trackID = 0;
  uint32_t timeScale = 0;
  uint64_t duration = 0;
  uint32_t sampleCount = 0;
  uint32_t uniformSize = 0;         // when nonzero every sample has this size
  std::vector<uint64_t> sizeSums;   // otherwise: bytes of the samples before each (count + 1 entries)
  std::vector<uint64_t> chunkOffsets;
  std::vector<uint32_t> chunkFirst;  // index of each chunk's first sample
  std::vector<TimeRun> runs;
  bool allSync = true;
  std::vector<uint32_t> syncSamples;  // 1-based, sorted, when not allSync
  uint32_t maxSize = 0;
  std::string error;
  bool hasSound = false;
  SoundTrackReader sound;
  std::string soundProblem;  // why no sound is offered, when a track that could hold it cannot be read

  ~State() {
    if (fd >= 0) close(fd);
  }
  uint64_t SizeOf(uint32_t i) const { return uniformSize ? uniformSize : sizeSums[i + 1] - sizeSums[i]; }
  uint64_t OffsetOf(uint32_t i) const {
    const size_t c = size_t(std::upper_bound(chunkFirst.begin(), chunkFirst.end(), i) - chunkFirst.begin()) - 1;
    const uint32_t first = chunkFirst[c];
    return chunkOffsets[c] + (uniformSize ? uint64_t(uniformSize) * (i - first) : sizeSums[i] - sizeSums[first]);
  }
};

namespace {

using ReaderState = Reader::State;

// Reads n bytes at off; the count read, or -1 with errno set.
ssize_t ReadAt(int fd, uint64_t off, void* buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    const ssize_t r = pread(fd, static_cast<uint8_t*>(buf) + done, n - done, off_t(off + done));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    done += size_t(r);
  }
  return ssize_t(done);
}

bool KnownTopLevel(uint32_t type) {
  static constexpr uint32_t kTypes[] = {FourCC("moov"), FourCC("mdat"), FourCC("ftyp"), FourCC("wide"), FourCC("free"),
                                        FourCC("skip"), FourCC("pnot"), FourCC("PICT"), FourCC("junk"), FourCC("uuid")};
  return std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes);
}

// Finds the movie atom among the top-level atoms and loads it.
bool LoadMovieAtom(ReaderState* r, std::vector<uint8_t>* moov, Failure* f) {
  const auto readFailure = [f]() { return Fail(f, Status::ioError, std::string("cannot read: ") + std::strerror(errno)); };
  if (r->fileSize == 0) return Fail(f, Status::noMovie, "not a QuickTime movie (the file is empty)");
  for (uint64_t pos = 0; pos < r->fileSize;) {
    uint8_t h[16];
    const ssize_t got = ReadAt(r->fd, pos, h, sizeof h);
    if (got < 0) return readFailure();
    const uint32_t type = got >= 8 ? BE32(h + 4) : 0;
    // A first atom of a type no movie starts with: some other kind of file.
    if (pos == 0 && (got < 8 || !KnownTopLevel(type))) return Fail(f, Status::noMovie, "not a QuickTime movie");
    if (got < 8) return Fail(f, Status::invalidMovie, Format("the file ends inside an atom header at byte %llu", (unsigned long long)pos));
    uint64_t size = BE32(h), header = 8;
    if (size == 1) {
      if (got < 16) return Fail(f, Status::invalidMovie, "the file ends inside the " + TypeName(type) + " atom header");
      size = BE64(h + 8);
      header = 16;
    } else if (size == 0) {
      size = r->fileSize - pos;  // the last atom, to the end of the file
    }
    if (size < header) {
      return Fail(f, Status::invalidMovie, Format("the %s atom at byte %llu claims %llu bytes", TypeName(type).c_str(),
                                          (unsigned long long)pos, (unsigned long long)size));
    }
    if (size > r->fileSize - pos) {
      return Fail(f, Status::invalidMovie,
                  Format("the %s atom runs past the end of the file (%llu bytes from byte %llu, the file has %llu)",
                         TypeName(type).c_str(), (unsigned long long)size, (unsigned long long)pos,
                         (unsigned long long)r->fileSize));
    }
    if (type == FourCC("moov")) {
      if (size - header > kMaxMovieAtom) return Fail(f, Status::invalidMovie, "the 'moov' atom is too large");
      moov->resize(size_t(size - header));
      const ssize_t n = ReadAt(r->fd, pos + header, moov->data(), moov->size());
      if (n < 0) return readFailure();
      if (size_t(n) != moov->size()) return Fail(f, Status::endOfFile, "the file ends inside the 'moov' atom");
      return true;
    }
    pos += size;
  }
  return Fail(f, Status::noMovie, "no movie atom ('moov') in the file");
}

bool ParseDescription(ReaderState* r, const uint8_t* entry, uint32_t entrySize, Failure* f) {
  if (entrySize < kDescriptionBytes) {
    return Fail(f, Status::badDescription,
                Format("the sample description holds %u bytes, fewer than %u", entrySize, kDescriptionBytes));
  }
  ImageFacts& d = r->facts.image;
  d.codecType = BE32(entry + 4);
  d.dataRefIndex = int16_t(BE16(entry + 14));
  d.version = int16_t(BE16(entry + 16));
  d.revisionLevel = int16_t(BE16(entry + 18));
  d.vendor = int32_t(BE32(entry + 20));
  d.temporalQuality = BE32(entry + 24);
  d.spatialQuality = BE32(entry + 28);
  d.width = int16_t(BE16(entry + 32));
  d.height = int16_t(BE16(entry + 34));
  d.hRes = int32_t(BE32(entry + 36));
  d.vRes = int32_t(BE32(entry + 40));
  d.dataSize = int32_t(BE32(entry + 44));
  d.frameCount = int16_t(BE16(entry + 48));
  std::memcpy(d.name, entry + 50, sizeof d.name);
  d.depth = int16_t(BE16(entry + 82));
  d.clutID = int16_t(BE16(entry + 84));
  d.extensions.assign(entry + kDescriptionBytes, entry + entrySize);
  if (d.width <= 0 || d.height <= 0) return Fail(f, Status::badDescription, Format("the image is %dx%d", d.width, d.height));
  return true;
}

// Sizes. A uniform size leaves the count unbounded by the atom, so it is
// checked against the file: the samples cannot hold more bytes than it does.
bool ParseSizes(ReaderState* r, const std::vector<Box>& stbl, Failure* f) {
  uint32_t count;
  const uint8_t* e;
  const Box* stsz = Find(stbl, FourCC("stsz"));
  const uint32_t uniform = stsz != nullptr && stsz->size >= 12 ? BE32(stsz->data + 4) : 0;
  if (uniform != 0) {
    count = BE32(stsz->data + 8);
  } else if (!Table(stsz, "stsz", 4, 4, &count, &e, f)) {
    return false;
  }
  if (count == 0) return Fail(f, Status::invalidSampleTable, "the track holds no samples");
  if (count > uint32_t(INT32_MAX) || uint64_t(uniform) * count > r->fileSize) {
    return Fail(f, Status::invalidSampleTable, Format("the sample table claims %u samples, more than the file can hold", count));
  }
  if (uniform == 0) {
    r->sizeSums.resize(size_t(count) + 1);
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t s = BE32(e + 4 * i);
      r->maxSize = std::max(r->maxSize, s);
      r->sizeSums[i + 1] = r->sizeSums[i] + s;
    }
  }
  r->uniformSize = uniform;
  r->maxSize = std::max(r->maxSize, uniform);
  if (r->maxSize > uint32_t(INT32_MAX)) return Fail(f, Status::invalidSampleTable, Format("a sample holds %u bytes", r->maxSize));
  r->sampleCount = count;

  return true;
}

// Durations: runs of samples of one duration, covering every sample.
bool ParseDurations(ReaderState* r, const std::vector<Box>& stbl, Failure* f) {
  const uint32_t count = r->sampleCount;
  const uint8_t* e;
  uint32_t runs;
  if (!Table(Find(stbl, FourCC("stts")), "stts", 0, 8, &runs, &e, f)) return false;
  uint64_t covered = 0;
  for (uint32_t i = 0; i < runs; ++i) covered += BE32(e + 8 * i);
  if (covered != count) {
    return Fail(f, Status::invalidSampleTable, Format("the time-to-sample table covers %llu samples, the track has %u",
                                              (unsigned long long)covered, count));
  }
  covered = 0;
  for (uint32_t i = 0; i < runs; ++i) {
    const uint32_t n = BE32(e + 8 * i), d = BE32(e + 8 * i + 4);
    if (d > uint32_t(INT32_MAX)) return Fail(f, Status::invalidSampleTable, Format("a sample lasts %u units", d));
    if (n == 0) continue;
    r->runs.push_back(TimeRun{uint32_t(covered), d});
    covered += n;
    r->duration += uint64_t(n) * d;
  }

  return true;
}

// Chunks: their offsets, and which samples each holds.
bool ParseChunks(ReaderState* r, const std::vector<Box>& stbl, uint32_t descriptions, Failure* f) {
  const uint32_t count = r->sampleCount;
  const uint8_t* e;
  const Box* stco = Find(stbl, FourCC("stco"));
  const Box* co64 = Find(stbl, FourCC("co64"));
  uint32_t chunks;
  if (!Table(stco ? stco : co64, stco ? "stco" : "co64", 0, stco ? 4 : 8, &chunks, &e, f)) return false;
  r->chunkOffsets.resize(chunks);
  for (uint32_t i = 0; i < chunks; ++i) r->chunkOffsets[i] = stco ? BE32(e + 4 * i) : BE64(e + 8 * i);
  uint32_t entries;
  uint64_t placed = 0;
  if (!Table(Find(stbl, FourCC("stsc")), "stsc", 0, 12, &entries, &e, f) ||
      !CheckSampleToChunk(e, entries, chunks, descriptions, &placed, "the", f)) {
    return false;
  }
  if (placed != count) {
    return Fail(f, Status::invalidSampleTable,
                Format("the sample-to-chunk table does not place the track's %u samples in its %u chunks", count, chunks));
  }
  r->chunkFirst.resize(chunks);
  placed = 0;
  for (uint32_t i = 0; i < entries; ++i) {
    const uint32_t first = BE32(e + 12 * i), perChunk = BE32(e + 12 * i + 4);
    const uint64_t next = i + 1 < entries ? BE32(e + 12 * (i + 1)) : uint64_t(chunks) + 1;
    for (uint64_t c = first; c < next; ++c) {
      r->chunkFirst[c - 1] = uint32_t(std::min<uint64_t>(placed, count));
      placed += perChunk;
    }
  }
  return true;
}

// Every sample must lie inside the file.
bool CheckSamplesInFile(const ReaderState* r, Failure* f) {
  const uint32_t count = r->sampleCount, chunks = uint32_t(r->chunkOffsets.size());
  for (uint32_t c = 0; c < chunks; ++c) {
    const uint32_t end = c + 1 < chunks ? r->chunkFirst[c + 1] : count;
    uint64_t at = r->chunkOffsets[c];
    for (uint32_t i = r->chunkFirst[c]; i < end; ++i) {
      const uint64_t size = r->SizeOf(i);
      if (at > r->fileSize || size > r->fileSize - at) {
        return Fail(f, Status::invalidSampleTable,
                    Format("sample %u ends at byte %llu, past the end of the file (%llu bytes)", i,
                           (unsigned long long)(at + size), (unsigned long long)r->fileSize));
      }
      at += size;
    }
  }

  return true;
}

// Sync samples; without the table every sample is one.
bool ParseSyncSamples(ReaderState* r, const std::vector<Box>& stbl, Failure* f) {
  const uint32_t count = r->sampleCount;
  const uint8_t* e;
  if (const Box* stss = Find(stbl, FourCC("stss"))) {
    uint32_t n;
    if (!Table(stss, "stss", 0, 4, &n, &e, f)) return false;
    r->allSync = false;
    r->syncSamples.resize(n);
    for (uint32_t i = 0; i < n; ++i) {
      r->syncSamples[i] = BE32(e + 4 * i);
      if (r->syncSamples[i] == 0 || r->syncSamples[i] > count) {
        return Fail(f, Status::invalidSampleTable, Format("the sync-sample table names sample %u of %u", r->syncSamples[i], count));
      }
    }
    std::sort(r->syncSamples.begin(), r->syncSamples.end());
  }
  return true;
}

bool ParseSampleTables(ReaderState* r, const std::vector<Box>& stbl, uint32_t descriptions, Failure* f) {
  return ParseSizes(r, stbl, f) && ParseDurations(r, stbl, f) && ParseChunks(r, stbl, descriptions, f) &&
         CheckSamplesInFile(r, f) && ParseSyncSamples(r, stbl, f);
}

// Chooses the track if it is video of codec type cType and reads its tables.
bool ParseTrack(ReaderState* r, const Box& trak, uint32_t cType, bool* chosen, Failure* f) {
  std::vector<Box> trakKids, mdiaKids, minfKids, stblKids;
  if (!Children(trak, &trakKids, f)) return false;
  const Box* mdia = Find(trakKids, FourCC("mdia"));
  if (mdia == nullptr) return true;  // no media: not a video track
  if (!Children(*mdia, &mdiaKids, f)) return false;
  const Box* hdlr = Find(mdiaKids, FourCC("hdlr"));
  if (hdlr == nullptr || hdlr->size < 12 || BE32(hdlr->data + 8) != FourCC("vide")) return true;
  Box minf, stbl;
  if (!Require(mdiaKids, "minf", &minf, f) || !Children(minf, &minfKids, f) || !Require(minfKids, "stbl", &stbl, f) ||
      !Children(stbl, &stblKids, f)) {
    return false;
  }
  uint32_t descriptions;
  const uint8_t* entry;
  if (!Table(Find(stblKids, FourCC("stsd")), "stsd", 0, 1, &descriptions, &entry, f)) return false;
  const uint64_t room = Find(stblKids, FourCC("stsd"))->size - 8;
  if (descriptions == 0 || room < 8) return Fail(f, Status::badDescription, "the video track has no sample description");
  const uint32_t entrySize = BE32(entry);
  if (entrySize > room) return Fail(f, Status::badDescription, "the sample description runs past its 'stsd' atom");
  if (!CheckDescriptions(entry, room, descriptions, "the video track's", f)) return false;
  if (cType != 0 && BE32(entry + 4) != cType) return true;

  *chosen = true;
  if (const Box* tkhd = Find(trakKids, FourCC("tkhd"))) {
    const uint64_t at = tkhd->size > 0 && tkhd->data[0] == 1 ? 20 : 12;
    if (tkhd->size >= at + 4) r->trackID = int32_t(BE32(tkhd->data + at));
  }
  Box mdhd;
  if (!Require(mdiaKids, "mdhd", &mdhd, f)) return false;
  const uint64_t at = mdhd.size > 0 && mdhd.data[0] == 1 ? 20 : 12;
  if (mdhd.size < at + 4) return Fail(f, Status::invalidMovie, "the 'mdhd' atom is cut short");
  const uint32_t scale = BE32(mdhd.data + at);
  if (scale == 0 || scale > uint32_t(INT32_MAX)) return Fail(f, Status::invalidMovie, Format("the media's time scale is %u", scale));
  r->timeScale = scale;
  return ParseDescription(r, entry, entrySize, f) && ParseSampleTables(r, stblKids, descriptions, f);
}

// Opens the file at path and loads its movie atom's children, the tracks
// among them.
bool LoadTracks(ReaderState* r, const char* path, std::vector<uint8_t>* moov, std::vector<Box>* atoms, Failure* f) {
  // Without blocking: a FIFO at the path must be refused, not waited on.
  r->fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (r->fd < 0) {
    const int e = errno;
    const Status s = StatusOfErrno(e);
    return Fail(f, s == Status::fileNotFound || s == Status::noPermission ? s : Status::ioError, std::string("cannot open: ") + std::strerror(e));
  }
  struct stat st;
  if (fstat(r->fd, &st) != 0) return Fail(f, Status::ioError, std::string("cannot read: ") + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return Fail(f, Status::noMovie, "not a QuickTime movie (not a regular file)");
  r->fileSize = uint64_t(st.st_size);
  return LoadMovieAtom(r, moov, f) && Children(Box{FourCC("moov"), moov->data(), moov->size()}, atoms, f);
}

// Reads the movie's tracks: the first video track of codec type cType is
// chosen and must be read whole. Any other track is skipped whatever its
// damage, so a damaged track (sound, or video of another kind) never costs
// the pictures; only when no track is chosen does the first damage of a
// track that might have been the one name the reason. The first sound track
// of linear PCM is kept for whoever wants it, or else the reason the first
// track that could hold sound cannot be read.
bool OpenMovie(ReaderState* r, const char* path, uint32_t cType, Failure* f) {
  std::vector<uint8_t> bytes;
  std::vector<Box> atoms;
  if (!LoadTracks(r, path, &bytes, &atoms, f)) return false;
  bool chosen = false;
  Failure skipped;  // the first failure of a track that was not chosen
  for (const Box& b : atoms) {
    if (b.type != FourCC("trak")) continue;
    ++r->trackCount;
    const uint32_t handler = TrackHandler(b);  // 0: damaged before its kind shows
    if (!chosen && (handler == FourCC("vide") || handler == 0)) {
      Failure tf;
      if (!ParseTrack(r, b, cType, &chosen, &tf)) {
        if (chosen) return Fail(f, tf.status, tf.message);
        if (skipped.status == Status::ok) skipped = tf;
      }
    }
    if (!r->hasSound && (handler == FourCC("soun") || handler == 0)) {
      Failure sf;
      r->hasSound = ParseSoundTrack(b, r->fileSize, &r->sound, &sf);
      if (!r->hasSound) {
        r->sound = SoundTrackReader{};
        if (r->soundProblem.empty()) {
          r->soundProblem = handler != 0 ? sf.message
                                         : Format("track %d, damaged before its kind shows: ", int(r->trackCount)) + sf.message;
        }
      }
    }
  }
  if (r->hasSound) r->soundProblem.clear();
  if (!chosen && skipped.status != Status::ok) return Fail(f, skipped.status, skipped.message);
  if (!chosen) {
    return Fail(f, Status::invalidTrack, cType == 0 ? std::string("no video track") : "no " + TypeName(cType) + " video track");
  }
  return true;
}

// The checks every sound track of the movie at path must pass (see
// CheckSoundTrack); a file that is not a movie has none to fail.
bool CheckEverySoundTrack(ReaderState* r, const char* path, Failure* f) {
  std::vector<uint8_t> bytes;
  std::vector<Box> atoms;
  Failure unread;
  if (!LoadTracks(r, path, &bytes, &atoms, &unread)) return true;  // not this check's to refuse
  for (const Box& b : atoms) {
    if (b.type != FourCC("trak")) continue;
    ++r->trackCount;
    if (TrackHandler(b) == FourCC("soun") && !CheckSoundTrack(b, f)) {
      f->message = Format("track %d: ", int(r->trackCount)) + f->message;
      return false;
    }
  }
  return true;
}

}  // namespace

Reader::Reader() = default;
Reader::~Reader() = default;

Status Reader::Open(const char* path, uint32_t codecType, std::string* message) {
  Failure f;
  try {
    if (path == nullptr || state_ != nullptr) {
      Fail(&f, Status::badArgument, path == nullptr ? "missing path or reader" : "the reader is already open");
    } else {
      auto r = std::make_unique<State>();
      if (OpenMovie(r.get(), path, codecType, &f)) {
        TrackFacts& t = r->facts;
        t.trackCount = r->trackCount;
        t.trackID = r->trackID;
        t.timeScale = r->timeScale;
        t.duration = r->duration;
        t.sampleCount = r->sampleCount;
        t.maxSampleSize = r->maxSize;
        facts_ = std::move(t);
        state_ = std::move(r);
        if (message != nullptr) message->clear();
        return Status::ok;
      }
    }
  } catch (const std::bad_alloc&) {
    Fail(&f, Status::outOfMemory, "out of memory");
  }
  return Report(f, message);
}

const TrackFacts& Reader::Facts() const { return facts_; }

bool Reader::Sample(int64_t index, SampleSpan* span) const {
  const State* r = state_.get();
  if (r == nullptr || index < 0 || uint64_t(index) >= r->sampleCount) return false;
  const uint32_t i = uint32_t(index);
  span->offset = r->OffsetOf(i);
  span->size = uint32_t(r->SizeOf(i));
  const auto run =
      std::upper_bound(r->runs.begin(), r->runs.end(), i, [](uint32_t v, const TimeRun& t) { return v < t.first; }) - 1;
  span->duration = run->duration;
  span->sync = r->allSync || std::binary_search(r->syncSamples.begin(), r->syncSamples.end(), i + 1);
  return true;
}

Status Reader::ReadSample(int64_t index, void* buffer, int64_t capacity, uint32_t* sizeOut) {
  State* r = state_.get();
  if (r == nullptr) return Status::badArgument;
  try {
    r->error.clear();
    if (index < 0 || uint64_t(index) >= r->sampleCount) {
      r->error = Format("there is no sample %lld (the track has %u)", (long long)index, r->sampleCount);
      return Status::badArgument;
    }
    const uint32_t i = uint32_t(index);
    const uint64_t size = r->SizeOf(i), offset = r->OffsetOf(i);
    if ((buffer == nullptr && size > 0) || capacity < 0 || uint64_t(capacity) < size) {
      r->error = Format("sample %u needs %llu bytes, the buffer holds %lld", i, (unsigned long long)size, (long long)capacity);
      return Status::badArgument;
    }
    const ssize_t got = ReadAt(r->fd, offset, buffer, size_t(size));
    if (got < 0) {
      r->error = Format("cannot read sample %u: %s", i, std::strerror(errno));
      return Status::ioError;
    }
    if (uint64_t(got) != size) {
      r->error = Format("the file ends inside sample %u (%lld of its %llu bytes)", i, (long long)got, (unsigned long long)size);
      return Status::endOfFile;
    }
    if (sizeOut != nullptr) *sizeOut = uint32_t(size);
    return Status::ok;
  } catch (const std::bad_alloc&) {
    return Status::outOfMemory;
  }
}

const char* Reader::Error() const { return state_ != nullptr ? state_->error.c_str() : ""; }

bool Reader::Sound(SoundFormat* format, uint64_t* frames) const {
  if (state_ == nullptr || !state_->hasSound) return false;
  if (format != nullptr) *format = state_->sound.format;
  if (frames != nullptr) *frames = state_->sound.frames;
  return true;
}

const char* Reader::SoundProblem() const {
  return state_ != nullptr && !state_->hasSound ? state_->soundProblem.c_str() : "";
}

namespace {

Status ReadSoundFrames(ReaderState* r, uint64_t frame, uint64_t left, uint8_t* out) {
  r->error.clear();
  const SoundTrackReader& s = r->sound;
  if (frame + left > s.frames) {
    r->error = Format("the sound track has %llu frames", (unsigned long long)s.frames);
    return Status::endOfFile;
  }
  // The chunk holding the first frame, then its successors.
  size_t c = size_t(std::upper_bound(s.chunks.begin(), s.chunks.end(), frame,
                                     [](uint64_t v, const SoundTrackReader::Chunk& k) { return v < k.firstFrame; }) -
                    s.chunks.begin()) - 1;
  while (left > 0) {
    const uint64_t end = c + 1 < s.chunks.size() ? s.chunks[c + 1].firstFrame : s.frames;
    const uint64_t take = std::min(left, end - frame);
    const size_t bytes = size_t(take * s.bytesPerFrame);
    const ssize_t got = ReadAt(r->fd, s.chunks[c].offset + (frame - s.chunks[c].firstFrame) * s.bytesPerFrame, out, bytes);
    if (got < 0) {
      r->error = Format("cannot read the sound: %s", std::strerror(errno));
      return Status::ioError;
    }
    if (size_t(got) != bytes) {
      r->error = Format("the file ends inside sound chunk %zu", c + 1);
      return Status::endOfFile;
    }
    out += bytes;
    frame += take;
    left -= take;
    ++c;
  }
  return Status::ok;
}

}  // namespace

Status Reader::ReadSound(int64_t firstFrame, int64_t frameCount, void* buffer) {
  State* r = state_.get();
  if (r == nullptr || !r->hasSound || firstFrame < 0 || frameCount < 0 || (buffer == nullptr && frameCount > 0))
    return Status::badArgument;
  try {
    return ReadSoundFrames(r, uint64_t(firstFrame), uint64_t(frameCount), static_cast<uint8_t*>(buffer));
  } catch (const std::bad_alloc&) {
    return Status::outOfMemory;
  }
}

Status CheckSoundTracks(const char* path, std::string* message) {
  Failure f;
  try {
    if (path == nullptr) {
      Fail(&f, Status::badArgument, "missing path");
    } else {
      Reader::State r;
      if (CheckEverySoundTrack(&r, path, &f)) {
        if (message != nullptr) message->clear();
        return Status::ok;
      }
    }
  } catch (const std::bad_alloc&) {
    Fail(&f, Status::outOfMemory, "out of memory");
  }
  return Report(f, message);
}

}  // namespace orxmovie
