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

#include "movie/AtomBuilder.h"
#include "movie/MovieAtoms.h"
#include "movie/MovieWriter.h"
#include "movie/MovieWriterSound.h"

namespace orxmovie {

namespace {

// The spill file holds per sample its size (4 bytes) and offset (8), native order.
constexpr size_t kRecordBytes = 12;

}  // namespace

struct DurationRun {
  uint32_t count;
  uint32_t duration;
};

struct Writer::State {
  std::string path, tempPath;
  FILE* out = nullptr;
  FILE* table = nullptr;
  std::vector<uint8_t> description;  // the stored sample description
  int16_t width = 0, height = 0;
  int32_t timeScale = 0;
  std::vector<DurationRun> runs;
  uint32_t sampleCount = 0;
  uint64_t duration = 0;
  uint64_t position = 0;  // bytes written so far
  uint64_t writebackFrom = 0;  // samples before this offset are being written back
  uint32_t firstSize = 0;
  bool uniformSizes = true;
  uint64_t threshold = uint64_t(1) << 32;
  bool replace = true;
  Status failure = Status::ok;  // latched I/O failure
  std::string error;
  std::unique_ptr<SoundTrackWriter> sound;  // null without a sound track

  ~State();
};

namespace {

using WriterState = Writer::State;

std::string SampleWhat(uint32_t index) { return "sample " + std::to_string(index); }

// Records a write failure; later calls return the same status.
Status FailWrite(WriterState* w, int e, const std::string& what) {
  if (e == 0) e = EIO;
  w->failure = StatusOfErrno(e) == Status::diskFull ? Status(Status::diskFull) : Status(Status::ioError);
  w->error = e == ENOSPC ? "no space left on the device while writing " + what
                         : "cannot write " + what + ": " + std::strerror(e);
  return w->failure;
}

bool Put(WriterState* w, FILE* f, const void* p, size_t n, const std::string& what) {
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

void StartWriteback(WriterState* w, uint64_t written) {
  if (written - w->writebackFrom < kWritebackBytes) return;
  if (std::fflush(w->out) != 0) return;  // the next Put reports it
  sync_file_range(fileno(w->out), off_t(w->writebackFrom), off_t(written - w->writebackFrom), SYNC_FILE_RANGE_WRITE);
  w->writebackFrom = written;
}

// Writes the pending sound frames, up to `frames` of them, as the next chunk.
bool WriteSoundChunk(WriterState* w, uint32_t frames) {
  SoundTrackWriter& s = *w->sound;
  const size_t bytes = size_t(frames) * s.bytesPerFrame;
  if (!Put(w, w->out, s.pending.data(), bytes, "sound chunk " + std::to_string(s.chunks.size() + 1))) return false;
  s.chunks.push_back(SoundChunk{w->position, frames});
  s.pending.erase(s.pending.begin(), s.pending.begin() + std::ptrdiff_t(bytes));
  StartWriteback(w, w->position + bytes);
  w->position += bytes;
  return true;
}

void CloseAndRemove(WriterState* w) {
  if (w->out != nullptr) std::fclose(w->out);
  if (w->table != nullptr) std::fclose(w->table);
  w->out = w->table = nullptr;
  if (!w->tempPath.empty()) unlink(w->tempPath.c_str());
  w->tempPath.clear();
}

}  // namespace

Writer::State::~State() { CloseAndRemove(this); }

namespace {

// Creates "<path>.partial-XXXXXX" exclusively; mode 0666 lets the umask
// give the finished movie the permissions of any new file.
int CreateTemporary(WriterState* w) {
  const unsigned long seed = (unsigned long)getpid() ^ (unsigned long)(uintptr_t)w ^ (unsigned long)std::time(nullptr);
  for (unsigned i = 0; i < 100; ++i) {
    w->tempPath = w->path + Format(".partial-%06lx", (seed + i * 7919ul) & 0xFFFFFF);
    const int fd = open(w->tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// The stored sample description: the image's fields big-endian, then its
// extensions.
Status BuildDescription(WriterState* w, const ImageFacts& d) {
  if (d.width <= 0 || d.height <= 0) {
    w->error = Format("the image is %dx%d", d.width, d.height);
    return Status::badArgument;
  }
  if (d.extensions.size() > kMax32 - kDescriptionBytes) {
    w->error = Format("the image description's extensions hold %zu bytes", d.extensions.size());
    return Status::badArgument;
  }
  Bytes b;
  b.U32(kDescriptionBytes + uint32_t(d.extensions.size()));
  b.U32(d.codecType);
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
  b.v.insert(b.v.end(), d.extensions.begin(), d.extensions.end());
  w->description = std::move(b.v);
  w->width = d.width;
  w->height = d.height;
  return Status::ok;
}

// The state of a new movie at path, its header written; on failure null
// with the reason in *error.
Status Create(const char* path, const ImageFacts& image, int64_t timeScale, std::unique_ptr<WriterState>* out,
              std::string* error) {
  if (path == nullptr || *path == '\0') {
    *error = "missing path, image description or writer";
    return Status::badArgument;
  }
  if (timeScale <= 0 || timeScale > INT32_MAX) {
    *error = Format("the time scale is %lld", (long long)timeScale);
    return Status::badArgument;
  }
  auto w = std::make_unique<WriterState>();
  w->path = path;
  w->timeScale = int32_t(timeScale);
  if (const Status s = BuildDescription(w.get(), image); s != Status::ok) {
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
    return Status::ioError;
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
  *out = std::move(w);
  return Status::ok;
}

// Streams the spill file back: the sizes (stsz) or the offsets (stco, co64).
bool WriteTable(WriterState* w, bool offsets, bool wide) {
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
      w->failure = Status::ioError;
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

Status WriteMovieAtom(WriterState* w) {
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
  for (const DurationRun& r : w->runs) {
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
  return Status::ok;
}

Status Finish(WriterState* w, std::string* error) {
  Status s = w->failure;
  if (s == Status::ok && w->sampleCount == 0) {
    w->error = "the movie holds no samples";
    s = Status::badArgument;
  }
  if (s == Status::ok && w->sound != nullptr && !w->sound->pending.empty() &&
      !WriteSoundChunk(w, uint32_t(w->sound->pending.size() / w->sound->bytesPerFrame)))
    s = w->failure;
  if (s == Status::ok) {
    try {
      s = WriteMovieAtom(w);
    } catch (const std::bad_alloc&) {
      w->error = "out of memory while writing the movie header";
      s = Status::outOfMemory;
    }
  }
  if (s == Status::ok) {
    errno = 0;
    if (std::fflush(w->out) != 0 || fsync(fileno(w->out)) != 0) s = FailWrite(w, errno, "the movie header");
  }
  if (s == Status::ok) {
    FILE* f = w->out;
    w->out = nullptr;
    if (std::fclose(f) != 0) s = FailWrite(w, errno, "the movie header");
  }
  if (s == Status::ok && !MoveFileIntoPlace(w->tempPath.c_str(), w->path.c_str(), w->replace)) {
    if (errno == EEXIST) {
      s = Status::fileExists;
      struct stat st {};
      const bool special = stat(w->path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
      w->error = std::string(special ? S_ISDIR(st.st_mode) ? "a folder has that name, and only a file is replaced"
                                                           : "that name is not a regular file, and only a file is replaced"
                                     : "a file of that name appeared while the movie was written") +
                 "; the movie is kept as " + w->tempPath;
      w->tempPath.clear();
    } else {
      s = Status::ioError;
      w->error = std::string("cannot move the finished movie into place: ") + std::strerror(errno);
    }
  }
  if (s == Status::ok) {
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
  if (s != Status::ok) *error = w->error;
  return s;
}

}  // namespace

Writer::Writer() = default;
Writer::~Writer() = default;

Status Writer::Create(const char* path, const ImageFacts& image, int64_t timeScale) {
  try {
    error_.clear();
    if (state_ != nullptr) {
      error_ = "the writer has a movie already";
      return Status::badArgument;
    }
    return orxmovie::Create(path, image, timeScale, &state_, &error_);
  } catch (const std::bad_alloc&) {
    state_.reset();
    error_ = "out of memory";  // short enough to need no allocation
    return Status::outOfMemory;
  }
}

Status Writer::AddSample(const void* data, int64_t dataSize, int64_t duration) {
  WriterState* w = state_.get();
  if (w == nullptr) return Status::badArgument;
  if (w->failure != Status::ok) return w->failure;
  w->error.clear();
  try {
    if (dataSize < 0 || dataSize > INT32_MAX || (data == nullptr && dataSize > 0) || duration <= 0 ||
        duration > INT32_MAX) {
      w->error = Format("sample %u: size %lld, duration %lld", w->sampleCount, (long long)dataSize, (long long)duration);
      return Status::badArgument;
    }
    if (w->sampleCount >= kMaxSamples) {
      w->error = Format("the movie already holds %u samples, the most it can", kMaxSamples);
      return Status::badArgument;
    }
    if (!w->runs.empty() && w->runs.back().duration == uint32_t(duration) && w->runs.back().count < kMax32) {
      ++w->runs.back().count;
    } else {
      w->runs.push_back(DurationRun{1, uint32_t(duration)});
    }
  } catch (const std::bad_alloc&) {
    w->error = "out of memory";
    return Status::outOfMemory;
  }
  try {
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
    return Status::ok;
  } catch (const std::bad_alloc&) {  // only the words of a failure can throw
    w->failure = Status::outOfMemory;
    return w->failure;
  }
}

Status Writer::AddSoundTrack(const SoundFormat& format) {
  WriterState* w = state_.get();
  if (w == nullptr) return Status::badArgument;
  if (w->failure != Status::ok) return w->failure;
  w->error.clear();
  try {
    if (w->sound != nullptr) {
      w->error = "the movie already has a sound track";
      return Status::badArgument;
    }
    if (const std::string problem = SoundFormatProblem(format); !problem.empty()) {
      w->error = "cannot store " + problem;
      return Status::badArgument;
    }
    auto s = std::make_unique<SoundTrackWriter>();
    s->format = format;
    s->bytesPerFrame = SoundBytesPerFrame(format);
    s->pending.reserve(size_t(s->ChunkFrames()) * s->bytesPerFrame);
    w->sound = std::move(s);
  } catch (const std::bad_alloc&) {
    w->error = "out of memory";
    return Status::outOfMemory;
  }
  return Status::ok;
}

Status Writer::AddSound(const void* frames, int64_t frameCount) {
  WriterState* w = state_.get();
  if (w == nullptr) return Status::badArgument;
  if (w->failure != Status::ok) return w->failure;
  w->error.clear();
  try {
    if (w->sound == nullptr || frameCount < 0 || (frames == nullptr && frameCount > 0)) {
      w->error = w->sound == nullptr ? "the movie has no sound track" : Format("%lld sound frames", (long long)frameCount);
      return Status::badArgument;
    }
    SoundTrackWriter& s = *w->sound;
    if (s.frames + uint64_t(frameCount) > kMax32) {
      w->error = Format("the sound track already holds %llu frames, the most it can", (unsigned long long)s.frames);
      return Status::badArgument;
    }
    const auto* p = static_cast<const uint8_t*>(frames);
    const uint32_t chunk = s.ChunkFrames();
    for (uint64_t left = uint64_t(frameCount); left > 0;) {
      const uint32_t room = chunk - uint32_t(s.pending.size() / s.bytesPerFrame);
      const uint32_t take = uint32_t(std::min<uint64_t>(room, left));
      s.pending.insert(s.pending.end(), p, p + size_t(take) * s.bytesPerFrame);
      p += size_t(take) * s.bytesPerFrame;
      left -= take;
      s.frames += take;
      if (s.pending.size() == size_t(chunk) * s.bytesPerFrame && !WriteSoundChunk(w, chunk)) return w->failure;
    }
  } catch (const std::bad_alloc&) {
    w->error = "out of memory";
    return Status::outOfMemory;
  }
  return Status::ok;
}

Status Writer::Finish() {
  if (state_ == nullptr) {
    try {
      error_ = "no movie writer";
    } catch (const std::bad_alloc&) {
    }
    return Status::badArgument;
  }
  Status s;
  try {
    error_.clear();
    s = orxmovie::Finish(state_.get(), &error_);
  } catch (const std::bad_alloc&) {  // only the message strings can throw here
    s = Status::outOfMemory;
  }
  state_.reset();
  return s;
}

void Writer::Abort() { state_.reset(); }

uint32_t Writer::SampleCount() const { return state_ != nullptr ? state_->sampleCount : 0; }

uint64_t Writer::SoundFrameCount() const {
  return state_ != nullptr && state_->sound != nullptr ? state_->sound->frames : 0;
}

uint64_t Writer::FileSize() const { return state_ != nullptr ? state_->position : 0; }

const char* Writer::Error() const { return state_ != nullptr ? state_->error.c_str() : error_.c_str(); }

const char* Writer::TemporaryPath() const { return state_ != nullptr ? state_->tempPath.c_str() : ""; }

void Writer::SetReplaceExisting(bool replace) {
  if (state_ != nullptr) state_->replace = replace;
}

void Writer::SetLargeFileThreshold(int64_t bytes) {
  if (state_ != nullptr) state_->threshold = bytes > 0 ? uint64_t(bytes) : 0;
}

bool MoveFileIntoPlace(const char* temp, const char* path, bool replace) {
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

}  // namespace orxmovie
