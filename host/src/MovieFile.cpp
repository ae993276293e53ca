// Movie files: writes and reads QuickTime movies with one video track.
//
// The writer lays the file out as ftyp, wide, mdat (samples, streamed as they
// arrive), moov. The file is built under a temporary name beside its path and
// renamed at Finish; the per-sample table goes to an anonymous spill file so
// that memory stays flat however long the movie runs.
//
// The reader walks the top-level atoms with positioned reads, loads the movie
// atom, picks the video track and checks every table against its atom and the
// file before it allocates anything from a count it read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "MacMemory.h"
#include "MovieFile.h"

namespace {

constexpr uint32_t FourCC(const char (&s)[5]) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) | (uint32_t(uint8_t(s[2])) << 8) |
         uint32_t(uint8_t(s[3]));
}

constexpr uint32_t kDescriptionBytes = 86;  // the stored image description without extensions
constexpr uint64_t kSecondsFrom1904To1970 = 2082844800;
constexpr uint64_t kMax32 = 0xFFFFFFFFu;
// Header of the file up to the first sample: ftyp (20), wide (8), mdat (8).
constexpr uint64_t kWideOffset = 20, kMdatOffset = 28, kFirstSampleOffset = 36;
// Keeps the movie atom under 4 GiB: each sample costs at most 20 bytes of
// tables (size, 64-bit offset and its own time-to-sample run).
constexpr uint32_t kMaxSamples = 200000000;
constexpr uint64_t kMaxMovieAtom = uint64_t(1) << 30;  // the most the reader loads

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string Format(const char* fmt, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

// "'moov'", with anything unprintable as '?'.
std::string TypeName(uint32_t type) {
  std::string s = "'";
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = char((type >> shift) & 0xFF);
    s += (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  return s + "'";
}

void CopyMessage(const std::string& message, char* out, SInt32 outSize) {
  if (out == nullptr || outSize <= 0) return;
  const size_t n = std::min(message.size(), size_t(outSize) - 1);
  std::memcpy(out, message.data(), n);
  out[n] = '\0';
}

uint16_t BE16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
uint32_t BE32(const uint8_t* p) { return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]; }
uint64_t BE64(const uint8_t* p) { return (uint64_t{BE32(p)} << 32) | BE32(p + 4); }

void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

void PutBE64(uint8_t* p, uint64_t v) {
  PutBE32(p, uint32_t(v >> 32));
  PutBE32(p + 4, uint32_t(v));
}

// Big-endian byte builder for atoms.
struct Bytes {
  std::vector<uint8_t> v;
  void U8(uint32_t x) { v.push_back(uint8_t(x)); }
  void U16(uint32_t x) {
    U8(x >> 8);
    U8(x);
  }
  void U32(uint32_t x) {
    U16(x >> 16);
    U16(x);
  }
  void U64(uint64_t x) {
    U32(uint32_t(x >> 32));
    U32(uint32_t(x));
  }
  void Zeros(size_t n) { v.insert(v.end(), n, 0); }
  void Atom(uint64_t size, const char (&type)[5]) {
    U32(uint32_t(size));
    U32(FourCC(type));
  }
  void FullAtom(uint64_t size, const char (&type)[5], uint32_t version, uint32_t flags) {
    Atom(size, type);
    U32((version << 24) | flags);
  }
  // A time (v1: 64 bits) of a movie, track or media header.
  void Time(uint64_t x, bool v1) { v1 ? U64(x) : U32(uint32_t(x)); }
  void Matrix() {
    const uint32_t m[9] = {0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000};
    for (uint32_t x : m) U32(x);
  }
};

// ---- Writer -----------------------------------------------------------------------------------------

struct Run {
  uint32_t count;
  uint32_t duration;
};

// The spill file holds per sample its size (4 bytes) and offset (8), native order.
constexpr size_t kRecordBytes = 12;

}  // namespace

struct OpaqueHostMovieWriter {
  std::string path, tempPath;
  FILE* out = nullptr;
  FILE* table = nullptr;
  std::vector<uint8_t> description;  // the stored sample description
  SInt16 width = 0, height = 0;
  TimeScale timeScale = 0;
  std::vector<Run> runs;
  uint32_t sampleCount = 0;
  uint64_t duration = 0;
  uint64_t position = 0;  // bytes written so far
  uint32_t firstSize = 0;
  bool uniformSizes = true;
  uint64_t threshold = uint64_t(1) << 32;
  bool replace = true;
  OSStatus failure = noErr;  // latched I/O failure
  std::string error;
};

namespace {

using Writer = OpaqueHostMovieWriter;

std::string SampleWhat(uint32_t index) { return "sample " + std::to_string(index); }

OSStatus StatusOfErrno(int e) {
  switch (e) {
    case ENOSPC:
    case EDQUOT: return dskFulErr;
    case ENOENT:
    case ENOTDIR: return fnfErr;
    case EACCES:
    case EPERM: return permErr;
    case EROFS: return wrPermErr;
    default: return ioErr;
  }
}

// Records a write failure; later calls return the same status.
OSStatus FailWrite(Writer* w, int e, const std::string& what) {
  if (e == 0) e = EIO;
  w->failure = StatusOfErrno(e) == dskFulErr ? OSStatus(dskFulErr) : OSStatus(ioErr);
  w->error = e == ENOSPC ? "no space left on the device while writing " + what
                         : "cannot write " + what + ": " + std::strerror(e);
  return w->failure;
}

bool Put(Writer* w, FILE* f, const void* p, size_t n, const std::string& what) {
  errno = 0;
  if (n == 0 || std::fwrite(p, 1, n, f) == n) return true;
  FailWrite(w, errno, what);
  return false;
}

void CloseAndRemove(Writer* w) {
  if (w->out != nullptr) std::fclose(w->out);
  if (w->table != nullptr) std::fclose(w->table);
  w->out = w->table = nullptr;
  if (!w->tempPath.empty()) unlink(w->tempPath.c_str());
  w->tempPath.clear();
}

// Creates "<path>.partial-XXXXXX" exclusively; mode 0666 lets the umask
// give the finished movie the permissions of any new file.
int CreateTemporary(Writer* w) {
  const unsigned long seed = (unsigned long)getpid() ^ (unsigned long)(uintptr_t)w ^ (unsigned long)std::time(nullptr);
  for (unsigned i = 0; i < 100; ++i) {
    w->tempPath = w->path + Format(".partial-%06lx", (seed + i * 7919ul) & 0xFFFFFF);
    const int fd = open(w->tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// The stored sample description: the ImageDescription's fields big-endian,
// then any extension bytes the handle holds after them.
OSStatus BuildDescription(Writer* w, ImageDescriptionHandle desc) {
  const Size handleSize = GetHandleSize(reinterpret_cast<Handle>(desc));
  if (handleSize < Size(kDescriptionBytes)) {
    w->error = Format("the image description holds %d bytes, fewer than %u", int(handleSize), kDescriptionBytes);
    return paramErr;
  }
  const ImageDescription& d = **desc;
  if (d.idSize > handleSize) {
    w->error = Format("the image description claims %d bytes but holds %d", int(d.idSize), int(handleSize));
    return paramErr;
  }
  if (d.width <= 0 || d.height <= 0) {
    w->error = Format("the image is %dx%d", d.width, d.height);
    return paramErr;
  }
  const uint32_t extension = d.idSize > SInt32(kDescriptionBytes) ? uint32_t(d.idSize) - kDescriptionBytes : 0;
  Bytes b;
  b.U32(kDescriptionBytes + extension);
  b.U32(d.cType);
  b.Zeros(6);
  b.U16(1);  // data reference 1: this file
  b.U16(uint16_t(d.version));
  b.U16(uint16_t(d.revisionLevel));
  b.U32(uint32_t(d.vendor));
  b.U32(d.temporalQuality);
  b.U32(d.spatialQuality);
  b.U16(uint16_t(d.width));
  b.U16(uint16_t(d.height));
  b.U32(uint32_t(d.hRes));
  b.U32(uint32_t(d.vRes));
  b.U32(uint32_t(d.dataSize));
  b.U16(uint16_t(d.frameCount));
  b.v.insert(b.v.end(), d.name, d.name + sizeof d.name);
  b.U16(uint16_t(d.depth));
  b.U16(uint16_t(d.clutID));
  const uint8_t* ext = reinterpret_cast<const uint8_t*>(*desc) + kDescriptionBytes;
  b.v.insert(b.v.end(), ext, ext + extension);
  w->description = std::move(b.v);
  w->width = d.width;
  w->height = d.height;
  return noErr;
}

void Destroy(Writer* w) {
  CloseAndRemove(w);
  delete w;
}

OSStatus Create(const char* path, ImageDescriptionHandle desc, TimeScale timeScale, HostMovieWriterRef* writerOut,
                std::string* error) {
  if (writerOut != nullptr) *writerOut = nullptr;
  if (writerOut == nullptr || path == nullptr || *path == '\0' || desc == nullptr || *desc == nullptr) {
    *error = "missing path, image description or writer";
    return paramErr;
  }
  if (timeScale <= 0) {
    *error = Format("the time scale is %d", int(timeScale));
    return paramErr;
  }
  std::unique_ptr<Writer, void (*)(Writer*)> w(new Writer, Destroy);
  w->path = path;
  w->timeScale = timeScale;
  if (const OSStatus s = BuildDescription(w.get(), desc); s != noErr) {
    *error = w->error;
    return s;
  }
  const int fd = CreateTemporary(w.get());
  if (fd < 0) {
    const int e = errno;
    w->tempPath.clear();
    *error = std::string("cannot create the movie file: ") + std::strerror(e);
    return StatusOfErrno(e);
  }
  w->out = fdopen(fd, "wb");
  if (w->out == nullptr) close(fd);
  if (w->out != nullptr) w->table = std::tmpfile();
  if (w->table == nullptr) {
    *error = std::string("cannot create the movie file: ") + std::strerror(errno);
    return ioErr;
  }
  Bytes b;
  b.Atom(20, "ftyp");
  b.U32(FourCC("qt  "));
  b.U32(0x20050300);
  b.U32(FourCC("qt  "));
  b.Atom(8, "wide");
  b.Atom(0, "mdat");  // "to the end of the file" until Finish knows its size
  if (!Put(w.get(), w->out, b.v.data(), b.v.size(), "the movie header")) {
    *error = w->error;
    return w->failure;
  }
  w->position = kFirstSampleOffset;
  *writerOut = w.release();
  return noErr;
}

// Streams the spill file back: the sizes (stsz) or the offsets (stco, co64).
bool WriteTable(Writer* w, bool offsets, bool wide) {
  if (std::fseek(w->table, 0, SEEK_SET) != 0) {
    FailWrite(w, errno, "the sample table");
    return false;
  }
  constexpr size_t kBatch = 4096;
  std::vector<uint8_t> in(kBatch * kRecordBytes), outBytes(kBatch * 8);
  for (uint32_t done = 0; done < w->sampleCount;) {
    const size_t want = std::min<size_t>(kBatch, w->sampleCount - done);
    errno = 0;
    if (std::fread(in.data(), kRecordBytes, want, w->table) != want) {
      w->failure = ioErr;
      w->error = std::string("cannot read back the sample table: ") +
                 (std::ferror(w->table) ? std::strerror(errno ? errno : EIO) : "it ends early");
      return false;
    }
    size_t n = 0;
    for (size_t i = 0; i < want; ++i) {
      uint32_t size;
      uint64_t offset;
      std::memcpy(&size, &in[i * kRecordBytes], 4);
      std::memcpy(&offset, &in[i * kRecordBytes + 4], 8);
      if (!offsets) {
        PutBE32(&outBytes[n], size);
        n += 4;
      } else if (wide) {
        PutBE64(&outBytes[n], offset);
        n += 8;
      } else {
        PutBE32(&outBytes[n], uint32_t(offset));
        n += 4;
      }
    }
    if (!Put(w, w->out, outBytes.data(), n, "the movie header")) return false;
    done += uint32_t(want);
  }
  return true;
}

OSStatus WriteMovieAtom(Writer* w) {
  const uint64_t n = w->sampleCount;
  const bool large = w->position > std::min(w->threshold, kMax32);
  const uint64_t now = uint64_t(std::time(nullptr)) + kSecondsFrom1904To1970;
  const bool v1 = w->duration > kMax32 || now > kMax32;
  const uint64_t descSize = w->description.size();
  const uint64_t stsd = 16 + descSize, stts = 16 + 8 * uint64_t(w->runs.size()), stsc = 28;
  const uint64_t stsz = 20 + (w->uniformSizes ? 0 : 4 * n), stco = 16 + (large ? 8 : 4) * n;
  const uint64_t stbl = 8 + stsd + stts + stsc + stsz + stco;
  const uint64_t dhlr = 33, mhlr = 33;  // handler names left empty
  const uint64_t minf = 8 + 20 + dhlr + 36 + stbl;
  const uint64_t mdia = 8 + (v1 ? 44 : 32) + mhlr + minf;
  const uint64_t trak = 8 + (v1 ? 104 : 92) + mdia;
  const uint64_t moov = 8 + (v1 ? 120 : 108) + trak;
  const uint32_t ver = v1 ? 1 : 0;

  Bytes b;
  b.Atom(moov, "moov");
  b.FullAtom(v1 ? 120 : 108, "mvhd", ver, 0);
  b.Time(now, v1);
  b.Time(now, v1);
  b.U32(uint32_t(w->timeScale));
  b.Time(w->duration, v1);
  b.U32(0x00010000);  // rate 1.0
  b.U16(0x0100);      // volume 1.0
  b.Zeros(10);
  b.Matrix();
  b.Zeros(24);  // preview, poster, selection and current times
  b.U32(2);     // next track ID

  b.Atom(trak, "trak");
  b.FullAtom(v1 ? 104 : 92, "tkhd", ver, 0x0F);
  b.Time(now, v1);
  b.Time(now, v1);
  b.U32(1);  // track ID
  b.Zeros(4);
  b.Time(w->duration, v1);
  b.Zeros(8);
  b.Zeros(8);  // layer, alternate group, volume (none for video), reserved
  b.Matrix();
  b.U32(uint32_t(w->width) << 16);
  b.U32(uint32_t(w->height) << 16);

  b.Atom(mdia, "mdia");
  b.FullAtom(v1 ? 44 : 32, "mdhd", ver, 0);
  b.Time(now, v1);
  b.Time(now, v1);
  b.U32(uint32_t(w->timeScale));
  b.Time(w->duration, v1);
  b.U16(0);  // language: English
  b.U16(0);  // quality
  b.FullAtom(mhlr, "hdlr", 0, 0);
  b.U32(FourCC("mhlr"));
  b.U32(FourCC("vide"));
  b.Zeros(12);
  b.U8(0);

  b.Atom(minf, "minf");
  b.FullAtom(20, "vmhd", 0, 1);
  b.U16(0x0040);  // graphics mode: dither copy
  b.U16(0x8000);
  b.U16(0x8000);
  b.U16(0x8000);
  b.FullAtom(dhlr, "hdlr", 0, 0);
  b.U32(FourCC("dhlr"));
  b.U32(FourCC("alis"));
  b.Zeros(12);
  b.U8(0);
  b.Atom(36, "dinf");
  b.FullAtom(28, "dref", 0, 0);
  b.U32(1);
  b.FullAtom(12, "alis", 0, 1);  // the data is in this file

  b.Atom(stbl, "stbl");
  b.FullAtom(stsd, "stsd", 0, 0);
  b.U32(1);
  b.v.insert(b.v.end(), w->description.begin(), w->description.end());
  b.FullAtom(stts, "stts", 0, 0);
  b.U32(uint32_t(w->runs.size()));
  for (const Run& r : w->runs) {
    b.U32(r.count);
    b.U32(r.duration);
  }
  b.FullAtom(stsc, "stsc", 0, 0);
  b.U32(1);
  b.U32(1);  // from chunk 1 on, one sample per chunk, description 1
  b.U32(1);
  b.U32(1);
  b.FullAtom(stsz, "stsz", 0, 0);
  b.U32(w->uniformSizes ? w->firstSize : 0);
  b.U32(uint32_t(n));
  if (!Put(w, w->out, b.v.data(), b.v.size(), "the movie header")) return w->failure;
  if (!w->uniformSizes && !WriteTable(w, false, false)) return w->failure;
  b.v.clear();
  b.FullAtom(stco, large ? "co64" : "stco", 0, 0);
  b.U32(uint32_t(n));
  if (!Put(w, w->out, b.v.data(), b.v.size(), "the movie header") || !WriteTable(w, true, large)) return w->failure;

  // The mdat's real size: 32 bits in its own header, or 64 bits in a header
  // that takes over the wide atom in front of it.
  uint8_t header[16];
  long where;
  size_t headerBytes;
  if (large) {
    PutBE32(header, 1);
    PutBE32(header + 4, FourCC("mdat"));
    PutBE64(header + 8, w->position - kWideOffset);
    where = long(kWideOffset);
    headerBytes = 16;
  } else {
    PutBE32(header, uint32_t(w->position - kMdatOffset));
    where = long(kMdatOffset);
    headerBytes = 4;
  }
  if (std::fseek(w->out, where, SEEK_SET) != 0) return FailWrite(w, errno, "the movie header");
  if (!Put(w, w->out, header, headerBytes, "the movie header")) return w->failure;
  return noErr;
}

OSStatus Finish(Writer* w, std::string* error) {
  OSStatus s = w->failure;
  if (s == noErr && w->sampleCount == 0) {
    w->error = "the movie holds no samples";
    s = paramErr;
  }
  if (s == noErr) {
    try {
      s = WriteMovieAtom(w);
    } catch (const std::bad_alloc&) {
      w->error = "out of memory while writing the movie header";
      s = memFullErr;
    }
  }
  if (s == noErr) {
    errno = 0;
    if (std::fflush(w->out) != 0 || fsync(fileno(w->out)) != 0) s = FailWrite(w, errno, "the movie header");
  }
  if (s == noErr) {
    FILE* f = w->out;
    w->out = nullptr;
    if (std::fclose(f) != 0) s = FailWrite(w, errno, "the movie header");
  }
  if (s == noErr && !HostMoveFileIntoPlace(w->tempPath.c_str(), w->path.c_str(), w->replace)) {
    if (errno == EEXIST) {
      s = dupFNErr;
      w->error = "a file of that name appeared while the movie was written; the movie is kept as " + w->tempPath;
      w->tempPath.clear();
    } else {
      s = ioErr;
      w->error = std::string("cannot move the finished movie into place: ") + std::strerror(errno);
    }
  }
  if (s == noErr) {
    w->tempPath.clear();
    // Best effort: makes the rename durable. The movie is in place either way.
    const size_t slash = w->path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : w->path.substr(0, slash);
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      fsync(dir);
      close(dir);
    }
  }
  if (s != noErr) *error = w->error;
  Destroy(w);
  return s;
}

// ---- Reader -----------------------------------------------------------------------------------------

struct Failure {
  OSStatus status = noErr;
  std::string message;
};

bool Fail(Failure* f, OSStatus status, std::string message) {
  f->status = status;
  f->message = std::move(message);
  return false;
}

// An atom inside the loaded movie atom: its type and contents after the header.
struct Box {
  uint32_t type = 0;
  const uint8_t* data = nullptr;
  uint64_t size = 0;
};

bool Children(const Box& parent, std::vector<Box>* out, Failure* f) {
  out->clear();
  uint64_t pos = 0;
  // Fewer than 8 bytes left cannot be an atom: some writers pad containers.
  while (parent.size - pos >= 8) {
    const uint8_t* p = parent.data + pos;
    const uint64_t left = parent.size - pos;
    uint64_t size = BE32(p), header = 8;
    const uint32_t type = BE32(p + 4);
    if (size == 1) {
      if (left < 16) return Fail(f, invalidMovie, "the " + TypeName(type) + " atom header is cut short");
      size = BE64(p + 8);
      header = 16;
    } else if (size == 0) {
      return Fail(f, invalidMovie, "the " + TypeName(type) + " atom inside " + TypeName(parent.type) + " has size 0");
    }
    if (size < header) return Fail(f, invalidMovie, Format("the %s atom claims %llu bytes", TypeName(type).c_str(), (unsigned long long)size));
    if (size > left) {
      return Fail(f, invalidMovie, "the " + TypeName(type) + " atom runs past the end of its parent " + TypeName(parent.type));
    }
    out->push_back(Box{type, p + header, size - header});
    pos += size;
  }
  return true;
}

const Box* Find(const std::vector<Box>& boxes, uint32_t type) {
  for (const Box& b : boxes) {
    if (b.type == type) return &b;
  }
  return nullptr;
}

// The child of the given type, which the video track must have.
bool Require(const std::vector<Box>& boxes, const char (&type)[5], Box* out, Failure* f) {
  const Box* b = Find(boxes, FourCC(type));
  if (b == nullptr) return Fail(f, invalidTrack, std::string("the video track has no '") + type + "' atom");
  *out = *b;
  return true;
}

// A table atom: version and flags, an entry count, then entries of entryBytes
// each (after `skip` further bytes). Checks the count against the atom.
bool Table(const Box* b, const char* name, uint64_t skip, uint64_t entryBytes, uint32_t* count, const uint8_t** entries,
           Failure* f) {
  if (b == nullptr) return Fail(f, invalidSampleTable, std::string("the video track has no '") + name + "' atom");
  if (b->size < 8 + skip) return Fail(f, invalidSampleTable, std::string("the '") + name + "' atom is cut short");
  *count = BE32(b->data + 4 + skip);
  *entries = b->data + 8 + skip;
  const uint64_t room = (b->size - 8 - skip) / entryBytes;
  if (*count > room) {
    return Fail(f, invalidSampleTable, Format("the '%s' atom lists %u entries but has room for %llu", name, *count,
                                              (unsigned long long)room));
  }
  return true;
}

struct TimeRun {
  uint32_t first;  // index of the run's first sample
  uint32_t duration;
};

}  // namespace

struct OpaqueHostMovieReader {
  int fd = -1;
  uint64_t fileSize = 0;
  ImageDescriptionHandle desc = nullptr;
  SInt32 trackCount = 0, trackID = 0;
  TimeScale timeScale = 0;
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

  ~OpaqueHostMovieReader() {
    if (fd >= 0) close(fd);
    DisposeHandle(reinterpret_cast<Handle>(desc));
  }
  uint64_t SizeOf(uint32_t i) const { return uniformSize ? uniformSize : sizeSums[i + 1] - sizeSums[i]; }
  uint64_t OffsetOf(uint32_t i) const {
    const size_t c = size_t(std::upper_bound(chunkFirst.begin(), chunkFirst.end(), i) - chunkFirst.begin()) - 1;
    const uint32_t first = chunkFirst[c];
    return chunkOffsets[c] + (uniformSize ? uint64_t(uniformSize) * (i - first) : sizeSums[i] - sizeSums[first]);
  }
};

namespace {

using Reader = OpaqueHostMovieReader;

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
bool LoadMovieAtom(Reader* r, std::vector<uint8_t>* moov, Failure* f) {
  const auto readFailure = [f]() { return Fail(f, ioErr, std::string("cannot read: ") + std::strerror(errno)); };
  if (r->fileSize == 0) return Fail(f, noMovieFound, "not a QuickTime movie (the file is empty)");
  for (uint64_t pos = 0; pos < r->fileSize;) {
    uint8_t h[16];
    const ssize_t got = ReadAt(r->fd, pos, h, sizeof h);
    if (got < 0) return readFailure();
    const uint32_t type = got >= 8 ? BE32(h + 4) : 0;
    // A first atom of a type no movie starts with: some other kind of file.
    if (pos == 0 && (got < 8 || !KnownTopLevel(type))) return Fail(f, noMovieFound, "not a QuickTime movie");
    if (got < 8) return Fail(f, invalidMovie, Format("the file ends inside an atom header at byte %llu", (unsigned long long)pos));
    uint64_t size = BE32(h), header = 8;
    if (size == 1) {
      if (got < 16) return Fail(f, invalidMovie, "the file ends inside the " + TypeName(type) + " atom header");
      size = BE64(h + 8);
      header = 16;
    } else if (size == 0) {
      size = r->fileSize - pos;  // the last atom, to the end of the file
    }
    if (size < header) {
      return Fail(f, invalidMovie, Format("the %s atom at byte %llu claims %llu bytes", TypeName(type).c_str(),
                                          (unsigned long long)pos, (unsigned long long)size));
    }
    if (size > r->fileSize - pos) {
      return Fail(f, invalidMovie,
                  Format("the %s atom runs past the end of the file (%llu bytes from byte %llu, the file has %llu)",
                         TypeName(type).c_str(), (unsigned long long)size, (unsigned long long)pos,
                         (unsigned long long)r->fileSize));
    }
    if (type == FourCC("moov")) {
      if (size - header > kMaxMovieAtom) return Fail(f, invalidMovie, "the 'moov' atom is too large");
      moov->resize(size_t(size - header));
      const ssize_t n = ReadAt(r->fd, pos + header, moov->data(), moov->size());
      if (n < 0) return readFailure();
      if (size_t(n) != moov->size()) return Fail(f, eofErr, "the file ends inside the 'moov' atom");
      return true;
    }
    pos += size;
  }
  return Fail(f, noMovieFound, "no movie atom ('moov') in the file");
}

bool ParseDescription(Reader* r, const uint8_t* entry, uint32_t entrySize, Failure* f) {
  if (entrySize < kDescriptionBytes) {
    return Fail(f, badImageDescription,
                Format("the sample description holds %u bytes, fewer than %u", entrySize, kDescriptionBytes));
  }
  Handle h = NewHandleClear(Size(entrySize));
  if (h == nullptr) return Fail(f, memFullErr, "out of memory");
  r->desc = reinterpret_cast<ImageDescriptionHandle>(h);
  ImageDescription& d = **r->desc;
  d.idSize = SInt32(entrySize);
  d.cType = BE32(entry + 4);
  d.dataRefIndex = SInt16(BE16(entry + 14));
  d.version = SInt16(BE16(entry + 16));
  d.revisionLevel = SInt16(BE16(entry + 18));
  d.vendor = SInt32(BE32(entry + 20));
  d.temporalQuality = BE32(entry + 24);
  d.spatialQuality = BE32(entry + 28);
  d.width = SInt16(BE16(entry + 32));
  d.height = SInt16(BE16(entry + 34));
  d.hRes = Fixed(BE32(entry + 36));
  d.vRes = Fixed(BE32(entry + 40));
  d.dataSize = SInt32(BE32(entry + 44));
  d.frameCount = SInt16(BE16(entry + 48));
  std::memcpy(d.name, entry + 50, sizeof d.name);
  d.depth = SInt16(BE16(entry + 82));
  d.clutID = SInt16(BE16(entry + 84));
  std::memcpy(*h + kDescriptionBytes, entry + kDescriptionBytes, entrySize - kDescriptionBytes);
  if (d.width <= 0 || d.height <= 0) return Fail(f, badImageDescription, Format("the image is %dx%d", d.width, d.height));
  return true;
}

bool ParseSampleTables(Reader* r, const std::vector<Box>& stbl, Failure* f) {
  uint32_t count;
  const uint8_t* e;
  // Sizes. A uniform size leaves the count unbounded by the atom, so check it
  // against the file: the samples cannot hold more bytes than it does.
  const Box* stsz = Find(stbl, FourCC("stsz"));
  const uint32_t uniform = stsz != nullptr && stsz->size >= 12 ? BE32(stsz->data + 4) : 0;
  if (uniform != 0) {
    count = BE32(stsz->data + 8);
  } else if (!Table(stsz, "stsz", 4, 4, &count, &e, f)) {
    return false;
  }
  if (count == 0) return Fail(f, invalidSampleTable, "the track holds no samples");
  if (count > uint32_t(INT32_MAX) || uint64_t(uniform) * count > r->fileSize) {
    return Fail(f, invalidSampleTable, Format("the sample table claims %u samples, more than the file can hold", count));
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
  if (r->maxSize > uint32_t(INT32_MAX)) return Fail(f, invalidSampleTable, Format("a sample holds %u bytes", r->maxSize));
  r->sampleCount = count;

  // Durations.
  uint32_t runs;
  if (!Table(Find(stbl, FourCC("stts")), "stts", 0, 8, &runs, &e, f)) return false;
  uint64_t covered = 0;
  for (uint32_t i = 0; i < runs; ++i) covered += BE32(e + 8 * i);
  if (covered != count) {
    return Fail(f, invalidSampleTable, Format("the time-to-sample table covers %llu samples, the track has %u",
                                              (unsigned long long)covered, count));
  }
  covered = 0;
  for (uint32_t i = 0; i < runs; ++i) {
    const uint32_t n = BE32(e + 8 * i), d = BE32(e + 8 * i + 4);
    if (d > uint32_t(INT32_MAX)) return Fail(f, invalidSampleTable, Format("a sample lasts %u units", d));
    if (n == 0) continue;
    r->runs.push_back(TimeRun{uint32_t(covered), d});
    covered += n;
    r->duration += uint64_t(n) * d;
  }

  // Chunks.
  const Box* stco = Find(stbl, FourCC("stco"));
  const Box* co64 = Find(stbl, FourCC("co64"));
  uint32_t chunks;
  if (!Table(stco ? stco : co64, stco ? "stco" : "co64", 0, stco ? 4 : 8, &chunks, &e, f)) return false;
  r->chunkOffsets.resize(chunks);
  for (uint32_t i = 0; i < chunks; ++i) r->chunkOffsets[i] = stco ? BE32(e + 4 * i) : BE64(e + 8 * i);
  uint32_t entries;
  if (!Table(Find(stbl, FourCC("stsc")), "stsc", 0, 12, &entries, &e, f)) return false;
  if (entries == 0 || BE32(e) != 1) return Fail(f, invalidSampleTable, "the sample-to-chunk table does not start at chunk 1");
  r->chunkFirst.resize(chunks);
  uint64_t placed = 0;
  for (uint32_t i = 0; i < entries; ++i) {
    const uint32_t first = BE32(e + 12 * i), perChunk = BE32(e + 12 * i + 4);
    const uint64_t next = i + 1 < entries ? BE32(e + 12 * (i + 1)) : uint64_t(chunks) + 1;
    if (next <= first || next > uint64_t(chunks) + 1 || perChunk == 0) {
      return Fail(f, invalidSampleTable, Format("entry %u of the sample-to-chunk table is out of order", i));
    }
    for (uint64_t c = first; c < next; ++c) {
      r->chunkFirst[c - 1] = uint32_t(std::min<uint64_t>(placed, count));
      placed += perChunk;
    }
  }
  if (placed != count) {
    return Fail(f, invalidSampleTable,
                Format("the sample-to-chunk table does not place the track's %u samples in its %u chunks", count, chunks));
  }

  // Every sample must lie inside the file.
  for (uint32_t c = 0; c < chunks; ++c) {
    const uint32_t end = c + 1 < chunks ? r->chunkFirst[c + 1] : count;
    uint64_t at = r->chunkOffsets[c];
    for (uint32_t i = r->chunkFirst[c]; i < end; ++i) {
      const uint64_t size = r->SizeOf(i);
      if (at > r->fileSize || size > r->fileSize - at) {
        return Fail(f, invalidSampleTable,
                    Format("sample %u ends at byte %llu, past the end of the file (%llu bytes)", i,
                           (unsigned long long)(at + size), (unsigned long long)r->fileSize));
      }
      at += size;
    }
  }

  // Sync samples; without the table every sample is one.
  if (const Box* stss = Find(stbl, FourCC("stss"))) {
    uint32_t n;
    if (!Table(stss, "stss", 0, 4, &n, &e, f)) return false;
    r->allSync = false;
    r->syncSamples.resize(n);
    for (uint32_t i = 0; i < n; ++i) {
      r->syncSamples[i] = BE32(e + 4 * i);
      if (r->syncSamples[i] == 0 || r->syncSamples[i] > count) {
        return Fail(f, invalidSampleTable, Format("the sync-sample table names sample %u of %u", r->syncSamples[i], count));
      }
    }
    std::sort(r->syncSamples.begin(), r->syncSamples.end());
  }
  return true;
}

// Chooses the track if it is video of codec type cType and reads its tables.
bool ParseTrack(Reader* r, const Box& trak, CodecType cType, bool* chosen, Failure* f) {
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
  if (descriptions == 0 || room < 8) return Fail(f, badImageDescription, "the video track has no sample description");
  const uint32_t entrySize = BE32(entry);
  if (entrySize > room) return Fail(f, badImageDescription, "the sample description runs past its 'stsd' atom");
  if (cType != 0 && BE32(entry + 4) != cType) return true;

  *chosen = true;
  if (const Box* tkhd = Find(trakKids, FourCC("tkhd"))) {
    const uint64_t at = tkhd->size > 0 && tkhd->data[0] == 1 ? 20 : 12;
    if (tkhd->size >= at + 4) r->trackID = SInt32(BE32(tkhd->data + at));
  }
  Box mdhd;
  if (!Require(mdiaKids, "mdhd", &mdhd, f)) return false;
  const uint64_t at = mdhd.size > 0 && mdhd.data[0] == 1 ? 20 : 12;
  if (mdhd.size < at + 4) return Fail(f, invalidMovie, "the 'mdhd' atom is cut short");
  const uint32_t scale = BE32(mdhd.data + at);
  if (scale == 0 || scale > uint32_t(INT32_MAX)) return Fail(f, invalidMovie, Format("the media's time scale is %u", scale));
  r->timeScale = TimeScale(scale);
  return ParseDescription(r, entry, entrySize, f) && ParseSampleTables(r, stblKids, f);
}

bool Open(Reader* r, const char* path, CodecType cType, Failure* f) {
  // Without blocking: a FIFO at the path must be refused, not waited on.
  r->fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (r->fd < 0) {
    const int e = errno;
    const OSStatus s = StatusOfErrno(e);
    return Fail(f, s == fnfErr || s == permErr ? s : OSStatus(ioErr), std::string("cannot open: ") + std::strerror(e));
  }
  struct stat st;
  if (fstat(r->fd, &st) != 0) return Fail(f, ioErr, std::string("cannot read: ") + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return Fail(f, noMovieFound, "not a QuickTime movie (not a regular file)");
  r->fileSize = uint64_t(st.st_size);
  std::vector<uint8_t> bytes;
  if (!LoadMovieAtom(r, &bytes, f)) return false;
  std::vector<Box> tracks;
  if (!Children(Box{FourCC("moov"), bytes.data(), bytes.size()}, &tracks, f)) return false;
  bool chosen = false;
  for (const Box& b : tracks) {
    if (b.type != FourCC("trak")) continue;
    ++r->trackCount;
    if (!chosen && !ParseTrack(r, b, cType, &chosen, f)) return false;
  }
  if (!chosen) {
    return Fail(f, invalidTrack, cType == 0 ? std::string("no video track") : "no " + TypeName(cType) + " video track");
  }
  return true;
}

}  // namespace

extern "C" {

OSStatus HostMovieWriterCreateWithError(const char* path, ImageDescriptionHandle desc, TimeScale timeScale,
                                        HostMovieWriterRef* writerOut, char* errorMessage, SInt32 errorSize) {
  std::string error;
  OSStatus s;
  try {
    s = Create(path, desc, timeScale, writerOut, &error);
  } catch (...) {
    s = memFullErr;
  }
  if (s == memFullErr && error.empty()) error = "out of memory";
  CopyMessage(s == noErr ? std::string() : error, errorMessage, errorSize);
  return s;
}

OSStatus HostMovieWriterCreate(const char* path, ImageDescriptionHandle desc, TimeScale timeScale,
                               HostMovieWriterRef* writerOut) {
  return HostMovieWriterCreateWithError(path, desc, timeScale, writerOut, nullptr, 0);
}

OSStatus HostMovieWriterAddSample(HostMovieWriterRef w, const void* data, SInt32 dataSize, TimeValue duration) {
  if (w == nullptr) return paramErr;
  if (w->failure != noErr) return w->failure;
  w->error.clear();
  try {
    if (dataSize < 0 || (data == nullptr && dataSize > 0) || duration <= 0) {
      w->error = Format("sample %u: size %d, duration %d", w->sampleCount, int(dataSize), int(duration));
      return paramErr;
    }
    if (w->sampleCount >= kMaxSamples) {
      w->error = Format("the movie already holds %u samples, the most it can", kMaxSamples);
      return paramErr;
    }
    if (!w->runs.empty() && w->runs.back().duration == uint32_t(duration) && w->runs.back().count < kMax32) {
      ++w->runs.back().count;
    } else {
      w->runs.push_back(Run{1, uint32_t(duration)});
    }
  } catch (const std::bad_alloc&) {
    w->error = "out of memory";
    return memFullErr;
  }
  const uint32_t index = w->sampleCount;
  uint8_t record[kRecordBytes];
  const uint32_t size = uint32_t(dataSize);
  std::memcpy(record, &size, 4);
  std::memcpy(record + 4, &w->position, 8);
  if (!Put(w, w->out, data, size_t(size), SampleWhat(index)) ||
      !Put(w, w->table, record, sizeof record, SampleWhat(index))) {
    return w->failure;
  }
  if (index == 0) w->firstSize = size;
  w->uniformSizes = w->uniformSizes && size == w->firstSize && size != 0;
  w->position += size;
  w->duration += uint64_t(duration);
  w->sampleCount = index + 1;
  return noErr;
}

SInt32 HostMovieWriterGetSampleCount(HostMovieWriterRef w) { return w ? SInt32(w->sampleCount) : 0; }

SInt64 HostMovieWriterGetFileSize(HostMovieWriterRef w) { return w ? SInt64(w->position) : 0; }

OSStatus HostMovieWriterFinishWithError(HostMovieWriterRef w, char* errorMessage, SInt32 errorSize) {
  if (w == nullptr) {
    CopyMessage("no movie writer", errorMessage, errorSize);
    return paramErr;
  }
  std::string error;
  OSStatus s;
  try {
    s = Finish(w, &error);
  } catch (...) {  // only the message strings can throw here
    s = memFullErr;
  }
  CopyMessage(error, errorMessage, errorSize);
  return s;
}

OSStatus HostMovieWriterFinish(HostMovieWriterRef w) { return HostMovieWriterFinishWithError(w, nullptr, 0); }

void HostMovieWriterAbort(HostMovieWriterRef w) {
  if (w != nullptr) Destroy(w);
}

const char* HostMovieWriterGetErrorMessage(HostMovieWriterRef w) { return w ? w->error.c_str() : ""; }

Boolean HostMoveFileIntoPlace(const char* temp, const char* path, Boolean replace) {
  if (replace) return std::rename(temp, path) == 0;
  if (renameat2(AT_FDCWD, temp, AT_FDCWD, path, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
  if (link(temp, path) == 0) {  // made only where no file is
    unlink(temp);
    return true;
  }
  if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) return false;
  struct stat st {};  // neither: the plain check, then the move
  if (lstat(path, &st) == 0) {
    errno = EEXIST;
    return false;
  }
  return std::rename(temp, path) == 0;
}

void HostMovieWriterSetReplaceExisting(HostMovieWriterRef w, Boolean replace) {
  if (w != nullptr) w->replace = replace != 0;
}

void HostMovieWriterSetLargeFileThreshold(HostMovieWriterRef w, SInt64 bytes) {
  if (w != nullptr) w->threshold = bytes > 0 ? uint64_t(bytes) : 0;
}

OSStatus HostMovieReaderOpen(const char* path, CodecType cType, HostMovieReaderRef* readerOut, char* errorMessage,
                             SInt32 errorSize) {
  Failure f;
  if (readerOut == nullptr || path == nullptr) {
    CopyMessage("missing path or reader", errorMessage, errorSize);
    return paramErr;
  }
  *readerOut = nullptr;
  Reader* r = new (std::nothrow) Reader;
  if (r == nullptr) {
    CopyMessage("out of memory", errorMessage, errorSize);
    return memFullErr;
  }
  try {
    if (Open(r, path, cType, &f)) {
      *readerOut = r;
      CopyMessage("", errorMessage, errorSize);
      return noErr;
    }
  } catch (const std::bad_alloc&) {
    Fail(&f, memFullErr, "out of memory");
  }
  delete r;
  CopyMessage(f.message, errorMessage, errorSize);
  return f.status;
}

void HostMovieReaderClose(HostMovieReaderRef r) { delete r; }

ImageDescriptionHandle HostMovieReaderGetImageDescription(HostMovieReaderRef r) { return r ? r->desc : nullptr; }
SInt32 HostMovieReaderGetTrackCount(HostMovieReaderRef r) { return r ? r->trackCount : 0; }
SInt32 HostMovieReaderGetTrackID(HostMovieReaderRef r) { return r ? r->trackID : 0; }
TimeScale HostMovieReaderGetTimeScale(HostMovieReaderRef r) { return r ? r->timeScale : 0; }
TimeValue64 HostMovieReaderGetDuration(HostMovieReaderRef r) { return r ? TimeValue64(r->duration) : 0; }
SInt32 HostMovieReaderGetSampleCount(HostMovieReaderRef r) { return r ? SInt32(r->sampleCount) : 0; }
SInt32 HostMovieReaderGetMaxSampleSize(HostMovieReaderRef r) { return r ? SInt32(r->maxSize) : 0; }

OSStatus HostMovieReaderGetSampleInfo(HostMovieReaderRef r, SInt32 index, SInt64* offset, SInt32* size,
                                      TimeValue* duration, Boolean* isSync) {
  if (r == nullptr || index < 0 || uint32_t(index) >= r->sampleCount) return paramErr;
  const uint32_t i = uint32_t(index);
  if (offset != nullptr) *offset = SInt64(r->OffsetOf(i));
  if (size != nullptr) *size = SInt32(r->SizeOf(i));
  if (duration != nullptr) {
    const auto run = std::upper_bound(r->runs.begin(), r->runs.end(), i,
                                      [](uint32_t v, const TimeRun& t) { return v < t.first; }) - 1;
    *duration = TimeValue(run->duration);
  }
  if (isSync != nullptr) {
    *isSync = r->allSync || std::binary_search(r->syncSamples.begin(), r->syncSamples.end(), i + 1);
  }
  return noErr;
}

OSStatus HostMovieReaderReadSample(HostMovieReaderRef r, SInt32 index, void* buffer, SInt32 bufferSize,
                                   SInt32* sizeOut) {
  if (r == nullptr) return paramErr;
  try {
    r->error.clear();
    if (index < 0 || uint32_t(index) >= r->sampleCount) {
      r->error = Format("there is no sample %d (the track has %u)", int(index), r->sampleCount);
      return paramErr;
    }
    const uint32_t i = uint32_t(index);
    const uint64_t size = r->SizeOf(i), offset = r->OffsetOf(i);
    if ((buffer == nullptr && size > 0) || bufferSize < 0 || uint64_t(bufferSize) < size) {
      r->error = Format("sample %u needs %llu bytes, the buffer holds %d", i, (unsigned long long)size, int(bufferSize));
      return paramErr;
    }
    const ssize_t got = ReadAt(r->fd, offset, buffer, size_t(size));
    if (got < 0) {
      r->error = Format("cannot read sample %u: %s", i, std::strerror(errno));
      return ioErr;
    }
    if (uint64_t(got) != size) {
      r->error = Format("the file ends inside sample %u (%lld of its %llu bytes)", i, (long long)got, (unsigned long long)size);
      return eofErr;
    }
    if (sizeOut != nullptr) *sizeOut = SInt32(size);
    return noErr;
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
}

const char* HostMovieReaderGetErrorMessage(HostMovieReaderRef r) { return r ? r->error.c_str() : ""; }

}  // extern "C"
