#include "Sources.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "Cli.h"
#include "TestClip.h"

namespace orxapp {

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

class PNGSequence : public FrameSource {
 public:
  explicit PNGSequence(std::vector<std::string> files) : files_(std::move(files)) {}
  int Next(ImageARGB* out) override {
    if (next_ >= files_.size()) return 0;
    current_ = files_[next_++];
    std::string e;
    if (!ReadPNG(current_, out, &e)) {
      error_ = current_ + ": " + e;
      return -1;
    }
    return 1;
  }
  int64_t Count() const override { return int64_t(files_.size()); }
  std::string CurrentName() const override { return current_; }

 private:
  std::vector<std::string> files_;
  size_t next_ = 0;
  std::string current_;
};

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

 private:
  FILE* file_;
  std::string name_;
  bool owned_;
  Y4MReader reader_;
};

class RawSource : public FrameSource {
 public:
  RawSource(std::vector<std::string> inputs, int w, int h) : inputs_(std::move(inputs)), width_(w), height_(h) {}
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
        struct stat st {};
        if (fstat(fileno(file_), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
            uint64_t(st.st_size) < frameBytes) {
          error_ = current_ + ": " + std::to_string(st.st_size) + " bytes, less than one " + std::to_string(width_) +
                   "x" + std::to_string(height_) + " ARGB frame (" + std::to_string(frameBytes) +
                   " bytes; is --size right?)";
          return -1;
        }
      }
      // The frame buffer grows only as bytes arrive: --size alone never
      // costs a frame-sized allocation.
      const size_t got = ReadGrowing(file_, &out->pixels, frameBytes);
      out->width = width_;
      out->height = height_;
      out->hasAlpha = true;
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

 private:
  void CloseCurrent() {
    if (file_ && file_ != stdin) std::fclose(file_);
    file_ = nullptr;
  }
  std::vector<std::string> inputs_;
  int width_, height_;
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

// The first bytes of a file, to tell PNG from YUV4MPEG2.
enum class Kind { kPNG, kY4M, kUnknown, kUnreadable };
Kind Sniff(const std::string& path, std::string* error) {
  std::string e;
  FILE* f = OpenRegularFile(path, &e);
  if (f == nullptr) {
    *error = path + ": " + e;
    return Kind::kUnreadable;
  }
  unsigned char b[10] = {};
  const size_t n = std::fread(b, 1, sizeof b, f);
  std::fclose(f);
  static const unsigned char kPNGSig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (n >= 8 && std::memcmp(b, kPNGSig, 8) == 0) return Kind::kPNG;
  if (n >= 9 && std::memcmp(b, "YUV4MPEG2", 9) == 0) return Kind::kY4M;
  *error = path + ": neither a PNG image nor a YUV4MPEG2 stream (raw ARGB input needs --size WxH)";
  return Kind::kUnknown;
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
  if (o.width > 0) return std::make_unique<RawSource>(o.inputs, o.width, o.height);

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
    for (int n = start; Exists(ExpandPattern(pattern, n)); ++n) files.push_back(ExpandPattern(pattern, n));
    if (files.empty()) {
      *error = pattern + ": no file matches the pattern (first looked for " + ExpandPattern(pattern, start) + ")";
      return nullptr;
    }
    return std::make_unique<PNGSequence>(std::move(files));
  }
  // A FIFO or character device is a stream, read once from its start: a
  // YUV4MPEG2 stream as from standard input.
  struct stat st {};
  if (o.inputs.size() == 1 && stat(o.inputs[0].c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
    return OpenY4MFile(o.inputs[0], error);
  }
  // Named files: one YUV4MPEG2 stream, or PNG images.
  const Kind first = Sniff(o.inputs[0], error);
  if (first == Kind::kY4M) {
    if (o.inputs.size() != 1) {
      *error = o.inputs[0] + ": a YUV4MPEG2 stream must be the only input";
      return nullptr;
    }
    return OpenY4MFile(o.inputs[0], error);
  }
  if (first != Kind::kPNG) return nullptr;
  for (size_t i = 1; i < o.inputs.size(); ++i) {
    const Kind k = Sniff(o.inputs[i], error);
    if (k == Kind::kY4M) *error = o.inputs[i] + ": a YUV4MPEG2 stream cannot follow PNG images";
    if (k != Kind::kPNG) return nullptr;
  }
  return std::make_unique<PNGSequence>(o.inputs);
}

}  // namespace orxapp
