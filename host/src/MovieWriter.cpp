// The movie writer: lays the file out as ftyp, wide, mdat (samples, streamed
// as they arrive), moov. The file is built under a temporary name beside its
// path and moved into place at Finish; the per-sample table goes to an
// anonymous spill file so that memory stays flat however long the movie
// runs.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "AtomBuilder.h"
#include "MacMemory.h"
#include "MovieAtoms.h"
#include "MovieFile.h"
#include "MovieWriterSound.h"

using namespace host_movie;

namespace {

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
  uint64_t writebackFrom = 0;  // samples before this offset are being written back
  uint32_t firstSize = 0;
  bool uniformSizes = true;
  uint64_t threshold = uint64_t(1) << 32;
  bool replace = true;
  OSStatus failure = noErr;  // latched I/O failure
  std::string error;
  std::unique_ptr<SoundTrackWriter> sound;  // null without a sound track
};

namespace {

using Writer = OpaqueHostMovieWriter;

std::string SampleWhat(uint32_t index) { return "sample " + std::to_string(index); }

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

// Every kWritebackBytes of samples, the kernel is asked to start writing
// them to the disk (without waiting), so that the movie's final sync waits
// for the last stretch only instead of the whole file. Advice only: a
// failure here changes nothing, the final sync still reports errors.
constexpr uint64_t kWritebackBytes = uint64_t(16) << 20;

void StartWriteback(Writer* w, uint64_t written) {
  if (written - w->writebackFrom < kWritebackBytes) return;
  if (std::fflush(w->out) != 0) return;  // the next Put reports it
  sync_file_range(fileno(w->out), off_t(w->writebackFrom), off_t(written - w->writebackFrom), SYNC_FILE_RANGE_WRITE);
  w->writebackFrom = written;
}

// Writes the pending sound frames, up to `frames` of them, as the next chunk.
bool WriteSoundChunk(Writer* w, uint32_t frames) {
  SoundTrackWriter& s = *w->sound;
  const size_t bytes = size_t(frames) * s.bytesPerFrame;
  if (!Put(w, w->out, s.pending.data(), bytes, "sound chunk " + std::to_string(s.chunks.size() + 1))) return false;
  s.chunks.push_back(SoundChunk{w->position, frames});
  s.pending.erase(s.pending.begin(), s.pending.begin() + std::ptrdiff_t(bytes));
  StartWriteback(w, w->position + bytes);
  w->position += bytes;
  return true;
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
  const bool withSound = w->sound != nullptr && w->sound->frames > 0;
  const uint64_t movieDuration =
      withSound ? std::max(w->duration, w->sound->Duration(uint32_t(w->timeScale))) : w->duration;
  const bool v1 = movieDuration > kMax32 || now > kMax32;
  const uint32_t ver = v1 ? 1 : 0;
  enum { kSizeTable, kOffsetTable };

  AtomBuilder b;
  b.Open("moov");
  b.OpenFull("mvhd", ver, 0);
  b.Time(now, v1);
  b.Time(now, v1);
  b.U32(uint32_t(w->timeScale));
  b.Time(movieDuration, v1);
  b.U32(0x00010000);  // rate 1.0
  b.U16(0x0100);      // volume 1.0
  b.Zeros(10);
  b.Matrix();
  b.Zeros(24);                // preview, poster, selection and current times
  b.U32(withSound ? 3 : 2);  // next track ID
  b.Close();

  b.Open("trak");
  b.OpenFull("tkhd", ver, 0x0F);
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
  b.Close();

  b.Open("mdia");
  b.OpenFull("mdhd", ver, 0);
  b.Time(now, v1);
  b.Time(now, v1);
  b.U32(uint32_t(w->timeScale));
  b.Time(w->duration, v1);
  b.U16(0);  // language: English
  b.U16(0);  // quality
  b.Close();
  Handler(b, "mhlr", "vide");

  b.Open("minf");
  b.OpenFull("vmhd", 0, 1);
  b.U16(0x0040);  // graphics mode: dither copy
  b.U16(0x8000);
  b.U16(0x8000);
  b.U16(0x8000);
  b.Close();
  DataInThisFile(b);

  b.Open("stbl");
  b.OpenFull("stsd", 0, 0);
  b.U32(1);
  b.v.insert(b.v.end(), w->description.begin(), w->description.end());
  b.Close();
  b.OpenFull("stts", 0, 0);
  b.U32(uint32_t(w->runs.size()));
  for (const Run& r : w->runs) {
    b.U32(r.count);
    b.U32(r.duration);
  }
  b.Close();
  b.OpenFull("stsc", 0, 0);
  b.U32(1);
  b.U32(1);  // from chunk 1 on, one sample per chunk, description 1
  b.U32(1);
  b.U32(1);
  b.Close();
  b.OpenFull("stsz", 0, 0);
  b.U32(w->uniformSizes ? w->firstSize : 0);
  b.U32(uint32_t(n));
  if (!w->uniformSizes) b.Streamed(4 * n, kSizeTable);
  b.Close();
  b.OpenFull(large ? "co64" : "stco", 0, 0);
  b.U32(uint32_t(n));
  b.Streamed((large ? 8 : 4) * n, kOffsetTable);
  b.Close();
  b.Close();  // stbl
  b.Close();  // minf
  b.Close();  // mdia
  b.Close();  // trak
  if (withSound) WriteSoundTrack(b, *w->sound, 2, uint32_t(w->timeScale), now, large);
  b.Close();  // moov
  const bool written = b.Emit(
      [w](const uint8_t* p, size_t bytes) { return Put(w, w->out, p, bytes, "the movie header"); },
      [w, large](int which) { return WriteTable(w, which == kOffsetTable, large); });
  if (!written) return w->failure;

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
  if (s == noErr && w->sound != nullptr && !w->sound->pending.empty() &&
      !WriteSoundChunk(w, uint32_t(w->sound->pending.size() / w->sound->bytesPerFrame)))
    s = w->failure;
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
      struct stat st {};
      const bool special = stat(w->path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
      w->error = std::string(special ? S_ISDIR(st.st_mode) ? "a folder has that name, and only a file is replaced"
                                                           : "that name is not a regular file, and only a file is replaced"
                                     : "a file of that name appeared while the movie was written") +
                 "; the movie is kept as " + w->tempPath;
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
  StartWriteback(w, w->position + size);
  w->uniformSizes = w->uniformSizes && size == w->firstSize && size != 0;
  w->position += size;
  w->duration += uint64_t(duration);
  w->sampleCount = index + 1;
  return noErr;
}

UInt32 HostSoundBytesPerFrame(const HostSoundFormat* f) {
  if (f == nullptr || !SoundFormatProblem(*f).empty()) return 0;
  return f->channels * (f->sampleFormat / 8);
}

OSStatus HostMovieWriterAddSoundTrack(HostMovieWriterRef w, const HostSoundFormat* format) {
  if (w == nullptr || format == nullptr) return paramErr;
  if (w->failure != noErr) return w->failure;
  w->error.clear();
  try {
    if (w->sound != nullptr) {
      w->error = "the movie already has a sound track";
      return paramErr;
    }
    if (const std::string problem = SoundFormatProblem(*format); !problem.empty()) {
      w->error = "cannot store " + problem;
      return paramErr;
    }
    auto s = std::make_unique<SoundTrackWriter>();
    s->format = *format;
    s->bytesPerFrame = HostSoundBytesPerFrame(format);
    s->pending.reserve(size_t(s->ChunkFrames()) * s->bytesPerFrame);
    w->sound = std::move(s);
  } catch (const std::bad_alloc&) {
    w->error = "out of memory";
    return memFullErr;
  }
  return noErr;
}

OSStatus HostMovieWriterAddSound(HostMovieWriterRef w, const void* frames, SInt32 frameCount) {
  if (w == nullptr) return paramErr;
  if (w->failure != noErr) return w->failure;
  w->error.clear();
  if (w->sound == nullptr || frameCount < 0 || (frames == nullptr && frameCount > 0)) {
    w->error = w->sound == nullptr ? "the movie has no sound track" : Format("%d sound frames", int(frameCount));
    return paramErr;
  }
  SoundTrackWriter& s = *w->sound;
  if (s.frames + uint64_t(frameCount) > kMax32) {
    w->error = Format("the sound track already holds %llu frames, the most it can", (unsigned long long)s.frames);
    return paramErr;
  }
  const auto* p = static_cast<const uint8_t*>(frames);
  const uint32_t chunk = s.ChunkFrames();
  try {
    for (SInt32 left = frameCount; left > 0;) {
      const uint32_t room = chunk - uint32_t(s.pending.size() / s.bytesPerFrame);
      const uint32_t take = std::min<uint32_t>(room, uint32_t(left));
      s.pending.insert(s.pending.end(), p, p + size_t(take) * s.bytesPerFrame);
      p += size_t(take) * s.bytesPerFrame;
      left -= SInt32(take);
      s.frames += take;
      if (s.pending.size() == size_t(chunk) * s.bytesPerFrame && !WriteSoundChunk(w, chunk)) return w->failure;
    }
  } catch (const std::bad_alloc&) {
    w->error = "out of memory";
    return memFullErr;
  }
  return noErr;
}

SInt64 HostMovieWriterGetSoundFrameCount(HostMovieWriterRef w) {
  return w != nullptr && w->sound != nullptr ? SInt64(w->sound->frames) : 0;
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

const char* HostMovieWriterGetTemporaryPath(HostMovieWriterRef w) { return w ? w->tempPath.c_str() : ""; }

Boolean HostMoveFileIntoPlace(const char* temp, const char* path, Boolean replace) {
  if (replace) {
    // Only a regular file is replaced: a FIFO, device or folder that is
    // there (or that a link there leads to) stays, as a file that appeared.
    struct stat st {};
    if (stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
      errno = EEXIST;
      return false;
    }
    return std::rename(temp, path) == 0;
  }
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

}  // extern "C"
