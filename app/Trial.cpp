#include "Trial.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "Cli.h"
#include "MacMemory.h"
#include "MovieFile.h"
#include "Stopwatch.h"

namespace orxapp {

namespace {

void Accumulate(const ImageARGB& src, const uint8_t* dec, size_t rowBytes, RunResult* r) {
  for (int y = 0; y < src.height; ++y) {
    const uint8_t* a = src.Row(y);
    const uint8_t* b = dec + rowBytes * size_t(y);
    for (int x = 0; x < src.width * 4; x += 4) {
      const double da = double(a[x]) - b[x];
      r->sqErrA += da * da;
      for (int c = 1; c < 4; ++c) {
        const double d = double(a[x + c]) - b[x + c];
        r->sqErrRGB += d * d;
      }
    }
  }
}

double PSNR(double sqErr, double samples) {
  if (sqErr == 0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(255.0 * 255.0 * samples / sqErr);
}

std::string PSNRText(double db) {
  if (std::isinf(db)) return "exact";
  char b[16];
  std::snprintf(b, sizeof b, "%.2f", db);
  return b;
}

// Where the decode half reads the samples: the movie just written, or the
// samples kept in memory with a copy of the sample description.
class SampleStore {
 public:
  ~SampleStore() {
    HostMovieReaderClose(reader_);
    if (memDesc_) DisposeHandle(memDesc_);
  }
  bool OpenMovie(const std::string& path, std::string* error) {
    path_ = path;
    char message[256] = {};
    const OSStatus s = HostMovieReaderOpen(path.c_str(), kORXCodecType, &reader_, message, sizeof message);
    if (s != noErr) {
      *error = path + ": " + message;
      return false;
    }
    desc_ = HostMovieReaderGetImageDescription(reader_);
    return true;
  }
  bool UseMemory(const std::vector<uint8_t>& descBytes, std::vector<std::vector<uint8_t>> samples, std::string* error) {
    samples_ = std::move(samples);
    memDesc_ = NewHandle(Size(descBytes.size()));
    if (memDesc_ == nullptr) {
      *error = "out of memory";
      return false;
    }
    std::memcpy(*memDesc_, descBytes.data(), descBytes.size());
    desc_ = reinterpret_cast<ImageDescriptionHandle>(memDesc_);
    return true;
  }
  ImageDescriptionHandle Description() const { return desc_; }
  // Sample i, valid until the next call.
  bool Get(int i, const uint8_t** data, size_t* size, std::string* error) {
    if (reader_ == nullptr) {
      *data = samples_[size_t(i)].data();
      *size = samples_[size_t(i)].size();
      return true;
    }
    SInt64 off;
    SInt32 n = 0;
    TimeValue d;
    Boolean sync;
    HostMovieReaderGetSampleInfo(reader_, i, &off, &n, &d, &sync);
    buf_.resize(size_t(n));
    SInt32 got = 0;
    if (HostMovieReaderReadSample(reader_, i, buf_.data(), n, &got) != noErr) {
      *error = path_ + ": frame " + std::to_string(i) + ": " + HostMovieReaderGetErrorMessage(reader_);
      return false;
    }
    *data = buf_.data();
    *size = size_t(got);
    return true;
  }

 private:
  std::string path_;
  HostMovieReaderRef reader_ = nullptr;
  Handle memDesc_ = nullptr;
  ImageDescriptionHandle desc_ = nullptr;
  std::vector<std::vector<uint8_t>> samples_;
  std::vector<uint8_t> buf_;
};

constexpr int32_t kTimeScale = 600, kDuration = 25;  // 24 fps

// The encode half: into the movie at moviePath, or into *samples; *descBytes
// receives the sample description.
bool EncodeRun(const RunConfig& cfg, int w, int h, int frames, const FrameGen& gen, const std::string& moviePath,
               RunResult* res, std::vector<std::vector<uint8_t>>* samples, std::vector<uint8_t>* descBytes,
               PartialOutput* movie, std::string* error) {
  HostMovieWriterRef writer = nullptr;
  // However the run ends before the movie is finished (an exception too),
  // the unfinished movie goes.
  struct AbortUnfinished {
    HostMovieWriterRef& w;
    ~AbortUnfinished() {
      if (w != nullptr) HostMovieWriterAbort(w);
    }
  } abortUnfinished{writer};
  PartialOutput temp;  // the movie's temporary file, for a second signal to remove
  std::string writeError;
  auto sink = [&](const uint8_t* d, size_t n) -> OSStatus {
    res->bytes += n;
    if (!writer) {
      samples->emplace_back(d, d + n);
      return noErr;
    }
    const OSStatus s = HostMovieWriterAddSample(writer, d, SInt32(n), kDuration);
    if (s != noErr) writeError = HostMovieWriterGetErrorMessage(writer);
    return s;
  };
  Encoder enc;
  if (!enc.Open(w, h, kTimeScale, cfg.choices, sink, error)) return false;
  if (!moviePath.empty()) {
    char message[512] = {};
    const OSStatus s =
        CreateMovieWriter(moviePath, enc.Description(), kTimeScale, &writer, message, sizeof message, &temp);
    if (s != noErr) {
      *error = moviePath + ": cannot write the movie: " + (message[0] ? message : StatusText(s));
      return false;
    }
  }
  ImageDescriptionHandle encDesc = enc.Description();
  descBytes->assign(reinterpret_cast<uint8_t*>(*encDesc),
                    reinterpret_cast<uint8_t*>(*encDesc) + GetHandleSize(reinterpret_cast<Handle>(encDesc)));
  ImageARGB src;
  Progress progress(("encoding " + cfg.name).c_str(), frames);
  for (int i = 0; i < frames; ++i) {
    gen(i, &src);
    Stopwatch t;
    if (Interrupted() || !enc.Encode(src.pixels.data(), src.RowBytes(), int64_t(i) * kDuration, kDuration, error)) {
      progress.Finish();
      if (Interrupted()) *error = (moviePath.empty() ? cfg.name : moviePath) + ": interrupted";
      else if (!writeError.empty()) *error = moviePath + ": cannot write the movie: " + writeError;
      return false;
    }
    res->encodeSeconds += t.Seconds();
    progress.Update(i + 1, res->bytes);
  }
  progress.Finish();
  enc.Close();
  if (writer) {
    if (Interrupted()) {
      *error = moviePath + ": interrupted";
      return false;
    }
    // The movie counts as written from before its move into place: a
    // second signal then finds it whichever side of the move it lands.
    if (movie != nullptr) movie->File(moviePath);
    char message[512] = {};
    const OSStatus s = HostMovieWriterFinishWithError(writer, message, sizeof message);
    writer = nullptr;
    temp.Release();
    if (s != noErr) {
      if (movie != nullptr) movie->Release();  // what stands at the path is not this run's
      *error = moviePath + ": cannot finish the movie: " + (message[0] ? message : StatusText(s));
      return false;
    }
  }
  return true;
}

// The decode half: every sample through a decompressor, compared with gen.
bool DecodeRun(const RunConfig& cfg, int w, int h, int frames, const FrameGen& gen, SampleStore* store, int keepIndex,
               RunResult* res, std::string* error) {
  Decoder dec;
  if (!dec.Open(store->Description(), error)) return false;
  ImageARGB src;
  Progress progress(("decoding " + cfg.name).c_str(), frames);
  for (int i = 0; i < frames; ++i) {
    if (Interrupted()) {
      progress.Finish();
      *error = cfg.name + ": interrupted";
      return false;
    }
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (!store->Get(i, &data, &size, error)) return progress.Finish(), false;
    if (i == 0) {
      FrameSummary fs;
      if (SummarizeFrame(data, size, w, h, &fs)) res->variant = fs.variant, res->lzf = fs.lzf, res->alpha = fs.alpha;
    }
    // With decodeOnOneThread, the frame is decoded on one thread too; which
    // of the two goes first alternates, so neither always finds the frame
    // in cache. The pool's decode is the one kept.
    const auto decodeOnOne = [&] {
      UseDecodeThreads(true);
      Stopwatch one;
      const bool decoded = dec.Decode(data, size, error);
      res->decodeOneSeconds += one.Seconds();
      UseDecodeThreads(false);
      return decoded;
    };
    if (cfg.decodeOnOneThread && i % 2 == 0 && !decodeOnOne()) return progress.Finish(), false;
    Stopwatch t;
    if (!dec.Decode(data, size, error)) return progress.Finish(), false;
    res->decodeSeconds += t.Seconds();
    if (cfg.decodeOnOneThread && i % 2 == 1) {
      std::vector<uint8_t> kept(dec.Pixels(), dec.Pixels() + dec.RowBytes() * size_t(h));
      if (!decodeOnOne()) return progress.Finish(), false;
      if (std::memcmp(kept.data(), dec.Pixels(), kept.size()) != 0) {
        progress.Finish();
        *error = cfg.name + ": frame " + std::to_string(i) + " decodes differently on one thread";
        return false;
      }
    }
    gen(i, &src);
    Accumulate(src, dec.Pixels(), dec.RowBytes(), res);
    if (i == keepIndex) {
      res->kept.Allocate(w, h);
      for (int y = 0; y < h; ++y) std::memcpy(res->kept.Row(y), dec.Pixels() + dec.RowBytes() * size_t(y), size_t(w) * 4);
    }
    ++res->frames;
    progress.Update(i + 1);
  }
  progress.Finish();
  return true;
}

}  // namespace

std::vector<RunConfig> StandardConfigs(int32_t threads) {
  return {{"Quality", "quality.mov", {0, 0, threads}},
          {"Performance", "performance.mov", {0, 1, threads}},
          {"VovorEvaded", "vovorevaded.mov", {0, 2, threads}},
          {"Quality+alpha", "quality-alpha.mov", {1, 0, threads}}};
}

bool RunOne(const RunConfig& cfg, int w, int h, int frames, const FrameGen& gen, const std::string& moviePath,
            int keepIndex, RunResult* res, std::string* error, PartialOutput* movie) {
  std::vector<std::vector<uint8_t>> samples;
  std::vector<uint8_t> descBytes;
  if (!EncodeRun(cfg, w, h, frames, gen, moviePath, res, &samples, &descBytes, movie, error)) return false;
  SampleStore store;
  const bool opened = moviePath.empty() ? store.UseMemory(descBytes, std::move(samples), error)
                                        : store.OpenMovie(moviePath, error);
  return opened && DecodeRun(cfg, w, h, frames, gen, &store, keepIndex, res, error);
}

void PrintTable(const std::vector<std::string>& names, const std::vector<RunResult>& results, int w, int h) {
  const bool one = std::any_of(results.begin(), results.end(), [](const RunResult& r) { return r.decodeOneSeconds > 0; });
  std::printf("%-22s %-12s %9s %9s %10s %10s%s %9s %9s\n", "choice", "variant", "MB", "ratio", "enc fps",
              "dec fps", one ? "  dec 1 thr" : "", "PSNR dB", "alpha dB");
  for (size_t i = 0; i < results.size(); ++i) {
    const RunResult& r = results[i];
    const double raw = double(r.frames) * w * h * 4;
    const double pix = double(r.frames) * w * h;
    const std::string variant = r.variant + (r.lzf ? "+LZF" : "");
    char oneText[16] = "";
    if (one) std::snprintf(oneText, sizeof oneText, " %10.1f", r.decodeOneSeconds > 0 ? r.frames / r.decodeOneSeconds : 0.0);
    std::printf("%-22s %-12s %9.2f %8.2f:1 %10.1f %10.1f%s %9s %9s\n", names[i].c_str(), variant.c_str(),
                double(r.bytes) / 1e6, r.bytes ? raw / double(r.bytes) : 0.0,
                r.encodeSeconds > 0 ? r.frames / r.encodeSeconds : 0.0,
                r.decodeSeconds > 0 ? r.frames / r.decodeSeconds : 0.0, oneText, PSNRText(PSNR(r.sqErrRGB, 3 * pix)).c_str(),
                r.alpha ? PSNRText(PSNR(r.sqErrA, pix)).c_str() : "-");
  }
}

}  // namespace orxapp
