#include "Sources.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include <cerrno>
#include <cstring>

#include "Cli.h"
#include "GstMedia.h"
#include "TestClip.h"

namespace orxapp {

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// One picture file, by what its first bytes say: PNG and TIFF through
// their readers here, anything else GStreamer decodes through it.
bool ReadPicture(const std::string& path, ImageARGB* out, std::string* error);

// A sequence of picture files, read in order or several at once.
class PictureSequence : public FrameSource {
 public:
  // missing: the file after the last one, when later numbers exist (the
  // sequence then ends in an error rather than quietly short).
  explicit PictureSequence(std::vector<std::string> files, std::string missing = "")
      : files_(std::move(files)), missing_(std::move(missing)) {}
  int Next(ImageARGB* out) override {
    if (next_ >= files_.size() && missing_.empty()) return 0;
    return ReadAt(int64_t(next_++), out, &current_, &error_);
  }
  int64_t IndependentReads() const override { return int64_t(files_.size()) + (missing_.empty() ? 0 : 1); }
  int ReadAt(int64_t i, ImageARGB* out, std::string* name, std::string* error) const override {
    if (size_t(i) >= files_.size()) {
      *error = missing_;
      return -1;
    }
    *name = files_[size_t(i)];
    std::string e;
    if (!ReadPicture(*name, out, &e)) {
      *error = *name + ": " + e;
      return -1;
    }
    return 1;
  }
  int64_t Count() const override { return int64_t(files_.size()); }
  std::string CurrentName() const override { return current_; }
  std::vector<std::string> Files() const override { return files_; }

 private:
  std::vector<std::string> files_;
  std::string missing_;
  size_t next_ = 0;
  std::string current_;
};

// The highest number of the files in the pattern's folder that the pattern
// names (frame%04d.png: frame0001.png ... frame0120.png), or -1.
long LastNumberOf(const std::string& pattern) {
  // The pattern has one conversion; split it there ("%%" is a literal %).
  size_t at = std::string::npos;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') continue;
    if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
      ++i;
      continue;
    }
    at = i;
    break;
  }
  if (at == std::string::npos) return -1;
  size_t end = at + 1;
  while (end < pattern.size() && pattern[end] >= '0' && pattern[end] <= '9') ++end;
  const std::string before = pattern.substr(0, at), after = pattern.substr(end + 1);
  if (after.find('/') != std::string::npos || after.find('%') != std::string::npos) return -1;
  const size_t slash = before.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : before.substr(0, slash + 1);
  const std::string prefix = slash == std::string::npos ? before : before.substr(slash + 1);
  if (prefix.find('%') != std::string::npos) return -1;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return -1;
  long last = -1;
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() <= prefix.size() + after.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - after.size(), after.size(), after) != 0)
      continue;
    const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - after.size());
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    last = std::max(last, std::stol(digits));
  }
  closedir(dir);
  return last;
}

class Y4MSource : public FrameSource {
 public:
  Y4MSource(FILE* f, std::string name, bool owned) : file_(f), name_(std::move(name)), owned_(owned), reader_(f) {}
  ~Y4MSource() override {
    if (owned_) std::fclose(file_);
  }
  bool Start(std::string* error) {
    std::string e;
    if (!reader_.ReadHeader(&e)) {
      *error = name_ + ": " + e;
      return false;
    }
    return true;
  }
  int Next(ImageARGB* out) override {
    std::string e;
    const int r = reader_.ReadFrame(out, &e);
    if (r < 0) error_ = name_ + ": " + e;
    return r;
  }
  bool Rate(int* num, int* den) const override {
    *num = reader_.Format().fpsNum;
    *den = reader_.Format().fpsDen;
    return true;
  }
  std::string CurrentName() const override { return name_; }
  std::vector<std::string> Files() const override {
    if (owned_) return {name_};
    return {};
  }

 private:
  FILE* file_;
  std::string name_;
  bool owned_;
  Y4MReader reader_;
};

// What a file's first bytes say it is: a picture of a kind read here (PNG,
// TIFF) or by GStreamer (JPEG, WebP, BMP, GIF), a YUV4MPEG2 stream, or
// something else (footage, raw ARGB).
enum class Kind { kPNG, kTIFF, kPicture, kY4M, kUnknown, kUnreadable };
Kind Signature(const unsigned char* b, size_t n) {
  static const unsigned char kPNGSig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (n >= 8 && std::memcmp(b, kPNGSig, 8) == 0) return Kind::kPNG;
  if (n >= 9 && std::memcmp(b, "YUV4MPEG2", 9) == 0) return Kind::kY4M;
  if (n >= 4 && (std::memcmp(b, "II*\0", 4) == 0 || std::memcmp(b, "MM\0*", 4) == 0)) return Kind::kTIFF;
  if (n >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return Kind::kPicture;  // JPEG
  if (n >= 12 && std::memcmp(b, "RIFF", 4) == 0 && std::memcmp(b + 8, "WEBP", 4) == 0) return Kind::kPicture;
  if (n >= 6 && (std::memcmp(b, "GIF87a", 6) == 0 || std::memcmp(b, "GIF89a", 6) == 0)) return Kind::kPicture;
  if (n >= 2 && b[0] == 'B' && b[1] == 'M') return Kind::kPicture;
  return Kind::kUnknown;
}
bool IsPicture(Kind k) { return k == Kind::kPNG || k == Kind::kTIFF || k == Kind::kPicture; }
std::string KindWords(Kind k) {
  return k == Kind::kPNG ? "a PNG image" : k == Kind::kTIFF ? "a TIFF image" : k == Kind::kPicture ? "a picture file" : "a YUV4MPEG2 stream";
}
// A picture file where raw ARGB was promised (--size): an error naming it.
std::string NotRaw(const std::string& name, Kind k) {
  return name + ": is " + KindWords(k) + ", not raw ARGB (leave out --size)";
}

class RawSource : public FrameSource {
 public:
  RawSource(std::vector<std::string> inputs, int w, int h, int64_t count)
      : inputs_(std::move(inputs)), width_(w), height_(h), count_(count) {}
  ~RawSource() override { CloseCurrent(); }
  int Next(ImageARGB* out) override {
    const size_t frameBytes = size_t(width_) * size_t(height_) * 4;
    while (true) {
      if (file_ == nullptr) {
        if (next_ >= inputs_.size()) return 0;
        current_ = inputs_[next_++];
        frameInFile_ = 0;
        if (current_ == "-") {
          file_ = stdin;
          current_ = "standard input";
        } else if ((file_ = std::fopen(current_.c_str(), "rb")) == nullptr) {
          error_ = current_ + ": cannot open: " + std::strerror(errno);
          return -1;
        }
      }
      // The frame buffer grows only as bytes arrive: --size alone never
      // costs a frame-sized allocation.
      const size_t got = ReadGrowing(file_, &out->pixels, frameBytes);
      out->width = width_;
      out->height = height_;
      out->hasAlpha = true;
      // A stream read with --size that is really a picture file (standard
      // input gets no check up front).
      if (frameInFile_ == 0) {
        if (const Kind k = Signature(out->pixels.data(), got); k != Kind::kUnknown) {
          error_ = NotRaw(current_, k);
          return -1;
        }
      }
      if (got == frameBytes) {
        ++frameInFile_;
        return 1;
      }
      if (std::ferror(file_)) {
        error_ = current_ + ": read failed: " + std::strerror(errno);
        return -1;
      }
      if (got != 0) {
        error_ = current_ + ": truncated frame " + std::to_string(frameInFile_ + 1) + ": " + std::to_string(got) +
                 " of " + std::to_string(frameBytes) + " bytes (is --size right?)";
        return -1;
      }
      CloseCurrent();
    }
  }
  std::string CurrentName() const override { return current_; }
  int64_t Count() const override { return count_; }
  std::vector<std::string> Files() const override {
    std::vector<std::string> files;
    for (const std::string& f : inputs_)
      if (f != "-") files.push_back(f);
    return files;
  }

 private:
  void CloseCurrent() {
    if (file_ && file_ != stdin) std::fclose(file_);
    file_ = nullptr;
  }
  std::vector<std::string> inputs_;
  int width_, height_;
  int64_t count_;
  size_t next_ = 0;
  FILE* file_ = nullptr;
  std::string current_;
  int frameInFile_ = 0;
};

class ClipSource : public FrameSource {
 public:
  ClipSource(int w, int h, int frames) : width_(w), height_(h), frames_(frames) {}
  int Next(ImageARGB* out) override {
    if (index_ >= frames_) return 0;
    MakeTestClipFrame(out, width_, height_, index_++);
    return 1;
  }
  int64_t Count() const override { return frames_; }
  bool Rate(int* num, int* den) const override {
    *num = 24;
    *den = 1;
    return true;
  }
  std::string CurrentName() const override { return "test clip"; }

 private:
  int width_, height_, frames_, index_ = 0;
};

// What a file's first bytes say; *error only when it cannot be read.
Kind ReadKind(const std::string& path, std::string* error) {
  std::string e;
  FILE* f = OpenRegularFile(path, &e);
  if (f == nullptr) {
    *error = path + ": " + e;
    return Kind::kUnreadable;
  }
  unsigned char b[16] = {};
  const size_t n = std::fread(b, 1, sizeof b, f);
  std::fclose(f);
  return Signature(b, n);
}

// Raw ARGB inputs checked before anything is encoded: each regular file
// must hold whole frames and must not be a picture file. Sets *frames to
// the frames they hold in all (0 when a stream makes it unknown).
bool CheckRawInputs(const SourceOptions& o, int64_t* frames, std::string* error) {
  const uint64_t frameBytes = uint64_t(o.width) * uint64_t(o.height) * 4;
  const std::string size = std::to_string(o.width) + "x" + std::to_string(o.height);
  int64_t total = 0;
  bool known = true;
  for (const std::string& path : o.inputs) {
    struct stat st {};
    if (path == "-" || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      known = false;  // standard input, a stream, or a file the reader reports on
      continue;
    }
    const Kind k = ReadKind(path, error);
    if (k == Kind::kUnreadable) return false;
    if (k != Kind::kUnknown) {
      *error = NotRaw(path, k);
      return false;
    }
    const uint64_t bytes = uint64_t(st.st_size);
    if (bytes % frameBytes != 0 && !(o.allowPartial && bytes > frameBytes)) {
      *error = path + ": " + std::to_string(bytes) + " bytes are not a whole number of " + size + " ARGB frames (" +
               std::to_string(frameBytes) + " bytes each; is --size right?)";
      return false;
    }
    total += int64_t(bytes / frameBytes);
  }
  *frames = known ? total : 0;
  return true;
}

bool ReadPicture(const std::string& path, ImageARGB* out, std::string* error) {
  const Kind k = ReadKind(path, error);
  if (k == Kind::kUnreadable) {
    *error = error->substr(path.size() + 2);  // the words without the name
    return false;
  }
  if (k == Kind::kTIFF) return ReadTIFF(path, out, error);
  if (k == Kind::kPNG || !IsPicture(k)) {
    if (ReadPNG(path, out, error)) return true;
    if (k != Kind::kPNG) *error = "not a picture file orx reads (PNG, TIFF, JPEG, WebP, BMP, GIF)";
    return false;
  }
  return ReadStillPicture(path, out, error);
}

// A YUV4MPEG2 stream from a named file, FIFO or device, read once.
std::unique_ptr<FrameSource> OpenY4MFile(const std::string& path, std::string* error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    *error = path + ": cannot open: " + std::strerror(errno);
    return nullptr;
  }
  auto s = std::make_unique<Y4MSource>(f, path, true);
  if (!s->Start(error)) return nullptr;
  return s;
}

}  // namespace

std::unique_ptr<FrameSource> OpenFrameSource(const SourceOptions& o, std::string* error) {
  if (o.testClip) {
    if (!o.inputs.empty()) {
      *error = "--test-clip takes no input files";
      return nullptr;
    }
    const int w = o.width > 0 ? o.width : kTestClipWidth;
    const int h = o.height > 0 ? o.height : kTestClipHeight;
    return std::make_unique<ClipSource>(w, h, o.testClipFrames > 0 ? o.testClipFrames : kTestClipFrames);
  }
  if (o.inputs.empty()) {
    *error = "no input (give PNG files, a pattern such as frame%04d.png, a .y4m stream, - for standard input, or --test-clip)";
    return nullptr;
  }
  if (o.width > 0) {
    int64_t frames = 0;
    if (!CheckRawInputs(o, &frames, error)) return nullptr;
    return std::make_unique<RawSource>(o.inputs, o.width, o.height, frames);
  }

  if (o.inputs.size() == 1 && IsURI(o.inputs[0])) return OpenGstFrameSource(o, error);
  // Standard input and a pattern stand for a whole stream or sequence: with
  // other inputs beside them they are refused rather than read in part.
  if (o.inputs.size() > 1) {
    for (const std::string& in : o.inputs) {
      if (in == "-") {
        *error = "-: standard input cannot be joined to other inputs (only raw ARGB read with --size can)";
        return nullptr;
      }
      if (in.find('%') != std::string::npos && !IsURI(in) && !Exists(in) && ValidNumberPattern(in)) {
        *error = in + ": a numbered pattern must be the only input";
        return nullptr;
      }
    }
  }
  if (o.inputs.size() == 1 && o.inputs[0] == "-") {
    auto s = std::make_unique<Y4MSource>(stdin, "standard input", false);
    if (!s->Start(error)) return nullptr;
    return s;
  }
  if (o.inputs.size() == 1 && o.inputs[0].find('%') != std::string::npos) {
    const std::string& pattern = o.inputs[0];
    if (!ValidNumberPattern(pattern)) {
      *error = pattern + ": bad pattern: it needs exactly one number conversion such as %d or %04d";
      return nullptr;
    }
    int start = o.startNumber;
    if (start < 0) start = Exists(ExpandPattern(pattern, 0)) ? 0 : 1;
    std::vector<std::string> files;
    int n = start;
    for (; Exists(ExpandPattern(pattern, n)); ++n) files.push_back(ExpandPattern(pattern, n));
    if (files.empty()) {
      *error = pattern + ": no file matches the pattern (first looked for " + ExpandPattern(pattern, start) + ")";
      return nullptr;
    }
    // A gap is a missing frame when later numbers exist.
    std::string missing;
    if (const long last = LastNumberOf(pattern); last > n)
      missing = ExpandPattern(pattern, n) + ": missing from the sequence (it runs to " +
                ExpandPattern(pattern, int(last)) + ")";
    return std::make_unique<PictureSequence>(std::move(files), std::move(missing));
  }
  // A FIFO or character device is a stream, read once from its start: a
  // YUV4MPEG2 stream as from standard input.
  struct stat st {};
  if (o.inputs.size() == 1 && stat(o.inputs[0].c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
    return OpenY4MFile(o.inputs[0], error);
  }
  // Named files: one YUV4MPEG2 stream, PNG images, or footage that
  // GStreamer decodes (several files and URIs of it are joined).
  const Kind first = IsURI(o.inputs[0]) ? Kind::kUnknown : ReadKind(o.inputs[0], error);
  if (first == Kind::kUnknown) {
    if (o.inputs.size() == 1) return OpenGstFrameSource(o, error);
    for (size_t i = 1; i < o.inputs.size(); ++i) {
      const Kind k = IsURI(o.inputs[i]) ? Kind::kUnknown : ReadKind(o.inputs[i], error);
      if (k == Kind::kUnreadable) return nullptr;
      if (k != Kind::kUnknown) {
        *error = o.inputs[i] + ": " + KindWords(k) + " cannot be joined to footage (" + o.inputs[0] +
                 "); only footage follows footage";
        return nullptr;
      }
    }
    return OpenJoinedFootage(o, error);
  }
  if (first == Kind::kY4M) {
    if (o.inputs.size() != 1) {
      *error = o.inputs[0] + ": a YUV4MPEG2 stream must be the only input";
      return nullptr;
    }
    return OpenY4MFile(o.inputs[0], error);
  }
  if (!IsPicture(first)) return nullptr;
  for (size_t i = 1; i < o.inputs.size(); ++i) {
    const Kind k = IsURI(o.inputs[i]) ? Kind::kUnknown : ReadKind(o.inputs[i], error);
    if (k == Kind::kY4M) *error = o.inputs[i] + ": a YUV4MPEG2 stream cannot follow pictures";
    if (k == Kind::kUnknown)
      *error = o.inputs[i] + ": not a picture file, so it cannot follow pictures (footage is joined only to footage)";
    if (!IsPicture(k)) return nullptr;
  }
  return std::make_unique<PictureSequence>(o.inputs);
}

}  // namespace orxapp
