// orx decode and orx info: movies read back through the decompressor, and
// what their frames hold.
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "Cli.h"
#include "Codec.h"
#include "Commands.h"
#include "ImageIO.h"
#include "MovieFile.h"

namespace orxapp {

namespace {

const char kDecodeHelp[] =
    "usage: orx decode IN.mov -o OUTPUT [--frames FIRST-LAST] [options]\n"
    "\n"
    "Plays a movie back through the ORX decompressor component and writes the\n"
    "frames. The output's name says its form:\n"
    "  frame%04d.png    one PNG per frame, numbered by frame (RGBA when the movie\n"
    "                   keeps alpha, else RGB); frame.png for a single frame\n"
    "  out.y4m          a YUV4MPEG2 stream (4:4:4, BT.709, limited range);\n"
    "                   - writes it to standard output\n"
    "  out.argb         raw 32-bit ARGB as the decompressor delivered it, cropped to\n"
    "                   the image size (bytes A,R,G,B, rows without padding)\n"
    "  /dev/null        decodes every frame and writes nothing (for timing)\n"
    "\n"
    "Options:\n"
    "  -o, --output OUTPUT    where to write (required)\n"
    "  -y, --overwrite        replace files that exist\n"
    "  -n, --no-overwrite     refuse to replace an existing file (the default)\n"
    "  --frames FIRST-LAST    frames to decode, counted from 0 (5, 10-20, 10-)\n"
    "  -q, --quiet            no summary line\n"
    "  -v, --verbose          describe the movie first\n"
    "  -h, --help             this text\n"
    "  --version              the versions of the program, components and format\n"
    "\n"
    "A repeated option counts with its last value. An output that is the movie\n"
    "itself is always refused. An interrupted or failed run removes what it wrote.\n";

const char kInfoHelp[] =
    "usage: orx info IN.mov [--frames] [--json]\n"
    "\n"
    "Describes a movie: its track, codec, size, frame count and rate; with\n"
    "--frames also each frame's block variant (DXT1, DXT5, DXT24, DXT24+alpha),\n"
    "whether it is packed with LZF or stored raw, and its stored and raw sizes.\n"
    "\n"
    "  --frames     one line (or JSON object) per frame\n"
    "  --json       machine-readable output\n"
    "  -h, --help   this text\n"
    "  --version    the versions of the program, components and format\n";

struct Movie {
  HostMovieReaderRef reader = nullptr;
  ~Movie() { HostMovieReaderClose(reader); }
};

bool OpenMovie(const std::string& path, Movie* m, std::string* error) {
  char message[512] = {};
  const OSStatus s = HostMovieReaderOpen(path.c_str(), kORXCodecType, &m->reader, message, sizeof message);
  if (s != noErr) {
    *error = path + ": " + (message[0] ? message : StatusText(s));
    return false;
  }
  return true;
}

bool ReadSample(const std::string& path, HostMovieReaderRef r, int index, std::vector<uint8_t>* buf,
                std::string* error) {
  SInt64 offset = 0;
  SInt32 size = 0;
  TimeValue duration = 0;
  Boolean sync = 0;
  HostMovieReaderGetSampleInfo(r, index, &offset, &size, &duration, &sync);
  buf->resize(size_t(size > 0 ? size : 0));
  SInt32 got = 0;
  const OSStatus s = HostMovieReaderReadSample(r, index, buf->data(), SInt32(buf->size()), &got);
  if (s != noErr) {
    const char* m = HostMovieReaderGetErrorMessage(r);
    *error = path + ": frame " + std::to_string(index) + ": " + (m && *m ? m : StatusText(s));
    return false;
  }
  buf->resize(size_t(got));
  return true;
}

// The track's frame rate as a fraction: frames times the time scale over the
// duration, so uniform samples give the time scale over their duration
// exactly (1001:1 stays 1001:1, 1:3 stays 1:3). 0/1 when unknown.
void MovieRate(HostMovieReaderRef r, int* num, int* den) {
  ReduceRate(int64_t(HostMovieReaderGetSampleCount(r)) * HostMovieReaderGetTimeScale(r), HostMovieReaderGetDuration(r),
             num, den);
}

// The compressor name of a sample description: a Pascal string of at most 31
// bytes in Mac OS Roman, given as UTF-8 (a length byte past the 32-byte field
// is clamped to it).
std::string CompressorName(const unsigned char (&field)[32]) {
  const size_t n = std::min<size_t>(field[0], sizeof field - 1);
  std::string in(reinterpret_cast<const char*>(field + 1), n), out;
  in.resize(std::min(in.size(), in.find('\0')));  // the padding is no part of the name
  bool converted = false;
  if (iconv_t cd = iconv_open("UTF-8", "MACINTOSH"); cd != iconv_t(-1)) {
    char buf[4 * sizeof field];
    char* src = in.data();
    char* dst = buf;
    size_t inLeft = in.size(), outLeft = sizeof buf;
    if (iconv(cd, &src, &inLeft, &dst, &outLeft) != size_t(-1) && inLeft == 0) {
      out.assign(buf, size_t(dst - buf));
      converted = true;
    }
    iconv_close(cd);
  }
  if (!converted) {  // no converter: bytes above 0x7F read as Latin-1
    out.clear();
    for (const unsigned char c : in) {
      if (c < 0x80) {
        out += char(c);
      } else {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
      }
    }
  }
  return out;
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char b[8];
      std::snprintf(b, sizeof b, "\\u%04x", c);
      out += b;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

std::string FourCC(uint32_t t) {
  std::string s;
  for (int i = 3; i >= 0; --i) {
    const char c = char((t >> (8 * i)) & 0xFF);
    s += (c >= 32 && c < 127) ? c : '?';
  }
  return s;
}

// Where decoded frames go.
class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual bool Write(int index, const uint8_t* argb, size_t rowBytes, std::string* error) = 0;
  virtual bool Finish(std::string* error) = 0;
  uint64_t BytesWritten() const { return bytes_; }

 protected:
  uint64_t bytes_ = 0;
};

// Decodes without writing: the decoder's own speed, for timing.
class NullSink : public FrameSink {
 public:
  bool Write(int, const uint8_t*, size_t, std::string*) override { return true; }
  bool Finish(std::string*) override { return true; }
};

class PNGSink : public FrameSink {
 public:
  PNGSink(std::string pattern, int w, int h, bool alpha) : pattern_(std::move(pattern)), w_(w), h_(h), alpha_(alpha) {}
  ~PNGSink() override {
    // An unfinished run removes what it wrote: a partial sequence is not left
    // looking like a complete one.
    if (!finished_)
      for (const std::string& f : written_) unlink(f.c_str());
  }
  bool Write(int index, const uint8_t* argb, size_t rowBytes, std::string* error) override {
    const std::string name = pattern_.find('%') != std::string::npos ? ExpandPattern(pattern_, index) : pattern_;
    std::string e;
    if (!WritePNG(name, argb, w_, h_, rowBytes, alpha_, &e)) {
      *error = name + ": " + e;
      return false;
    }
    written_.push_back(name);
    struct stat st {};
    if (stat(name.c_str(), &st) == 0) bytes_ += uint64_t(st.st_size);
    return true;
  }
  bool Finish(std::string*) override {
    finished_ = true;
    return true;
  }

 private:
  std::string pattern_;
  int w_, h_;
  bool alpha_;
  std::vector<std::string> written_;
  bool finished_ = false;
};

class StreamSink : public FrameSink {
 public:
  StreamSink(std::string path, int w, int h, bool y4m, bool replace)
      : path_(std::move(path)), w_(w), h_(h), y4m_(y4m), replace_(replace) {}
  bool Open(int fpsNum, int fpsDen, std::string* error) {
    std::string e;
    if (!out_.Open(path_, &e, replace_)) {
      *error = path_ + ": " + e;
      return false;
    }
    if (y4m_) {
      writer_ = std::make_unique<Y4MWriter>(out_.Stream());
      if (!writer_->WriteHeader(w_, h_, fpsNum, fpsDen, &e)) {
        *error = path_ + ": " + e;
        return false;
      }
    }
    return true;
  }
  bool Write(int, const uint8_t* argb, size_t rowBytes, std::string* error) override {
    std::string e;
    if (y4m_) {
      if (!writer_->WriteFrame(argb, rowBytes, &e)) {
        *error = path_ + ": " + e;
        return false;
      }
      bytes_ += uint64_t(w_) * uint64_t(h_) * 3 + 6;  // "FRAME\n" and three full planes
      return true;
    }
    for (int y = 0; y < h_; ++y) {
      if (std::fwrite(argb + rowBytes * size_t(y), 1, size_t(w_) * 4, out_.Stream()) != size_t(w_) * 4) {
        *error = path_ + ": write failed: " + std::strerror(errno);
        return false;
      }
    }
    bytes_ += uint64_t(w_) * uint64_t(h_) * 4;
    return true;
  }
  bool Finish(std::string* error) override {
    std::string e;
    if (!out_.Commit(&e)) {
      *error = path_ + ": " + e;
      return false;
    }
    return true;
  }

 private:
  std::string path_;
  int w_, h_;
  bool y4m_, replace_;
  OutputFile out_;
  std::unique_ptr<Y4MWriter> writer_;
};

}  // namespace

int CmdDecode(int argc, char** argv) {
  Args args(argc, argv, 0);
  if (args.Flag("--help", "-h")) {
    std::fputs(kDecodeHelp, stdout);
    return 0;
  }
  std::string err, v, output;
  int first = 0, last = -1;
  const bool quiet = args.Flag("--quiet", "-q");
  const bool verbose = args.Flag("--verbose", "-v");
  const bool overwrite = args.Either("--overwrite", "-y", "--no-overwrite", "-n") == 1;
  if (!args.Value("--output", "-o", &output, &err) && !err.empty()) return Usage(err);
  if (args.Value("--frames", nullptr, &v, &err) && !ParseFrameRange(v, &first, &last))
    return Usage("--frames: \"" + v + "\" is not a range such as 5, 10-20 or 10-");
  if (!err.empty()) return Usage(err);
  std::vector<std::string> inputs;
  if (!args.Positionals(&inputs, &err)) return Usage(err);
  if (inputs.size() != 1) return Usage("decode: give exactly one movie (see orx decode --help)");
  if (output.empty()) return Usage("decode: no output (-o frame%04d.png, -o out.y4m, -o out.argb or -o /dev/null)");
  const std::string& path = inputs[0];

  const bool y4m = EndsWith(output, ".y4m") || output == "-";
  const bool raw = EndsWith(output, ".argb");
  const bool png = EndsWith(output, ".png");
  const bool discard = output == "/dev/null";
  if (!y4m && !raw && !png && !discard)
    return Usage(output + ": the output must end in .png, .y4m or .argb (or be - for YUV4MPEG2)");
  if (png && output.find('%') != std::string::npos && !ValidNumberPattern(output))
    return Usage(output + ": bad pattern: it needs exactly one number conversion such as %04d");
  if (output == "-" && isatty(1))
    return Usage("decode: standard output is a terminal; send the YUV4MPEG2 stream to a file or a pipe");

  CatchInterruptions();
  Movie movie;
  if (!OpenMovie(path, &movie, &err)) return Fail(err);
  const SInt32 count = HostMovieReaderGetSampleCount(movie.reader);
  if (last < 0 || last >= count) {
    if (last >= count || first >= count)
      return Fail(path + ": frames " + std::to_string(first) + "-" + std::to_string(last) + " asked for, the movie has " +
                  std::to_string(count) + " (0-" + std::to_string(count - 1) + ")");
    last = count - 1;
  }
  if (png && output.find('%') == std::string::npos && last != first)
    return Usage(output + ": several frames need a numbered name such as frame%04d.png");
  // Every file the run would write, checked before any is written.
  if (png) {
    const bool numbered = output.find('%') != std::string::npos;
    for (int i = first; i <= last; ++i) {
      const std::string name = numbered ? ExpandPattern(output, i) : output;
      if (const std::string problem = OutputProblem(name, {path}, overwrite, false); !problem.empty()) return Fail(problem);
      if (!numbered) break;
    }
  } else if (output != "-") {
    if (const std::string problem = OutputProblem(output, {path}, overwrite, false); !problem.empty()) return Fail(problem);
  }

  ImageDescriptionHandle desc = HostMovieReaderGetImageDescription(movie.reader);
  const int width = (*desc)->width, height = (*desc)->height;
  std::vector<uint8_t> sample;
  if (!ReadSample(path, movie.reader, first, &sample, &err)) return Fail(err);
  // The first frame must fit the description before anything is sized for
  // the image: a damaged size would otherwise cost a frame-sized destination.
  if (const std::string problem = FrameProblem(sample.data(), sample.size(), width, height); !problem.empty())
    return Fail(path + ": frame " + std::to_string(first) + " is not an ORX frame of " + std::to_string(width) + "x" +
                std::to_string(height) + ": " + problem);
  FrameSummary summary;
  const bool alpha = SummarizeFrame(sample.data(), sample.size(), width, height, &summary) && summary.alpha;

  if (verbose) {
    int num = 0, den = 1;
    MovieRate(movie.reader, &num, &den);
    std::fprintf(stderr, "orx: %s: %dx%d %s, %d frames at %s fps; decoding frames %d-%d -> %s\n", path.c_str(), width,
                 height, summary.variant.empty() ? "ORX" : (summary.variant + (summary.lzf ? "+LZF" : "")).c_str(),
                 int(count), num > 0 ? FormatRate(double(num) / den).c_str() : "an unknown rate", first, last,
                 output.c_str());
  }
  Decoder decoder;
  if (!decoder.Open(desc, &err)) return Fail(path + ": " + err);
  std::unique_ptr<FrameSink> sink;
  if (discard) {
    sink = std::make_unique<NullSink>();
  } else if (png) {
    sink = std::make_unique<PNGSink>(output, width, height, alpha);
  } else {
    auto s = std::make_unique<StreamSink>(output, width, height, y4m, overwrite);
    int num = 0, den = 1;
    MovieRate(movie.reader, &num, &den);
    if (num <= 0) num = 30, den = 1;
    if (!s->Open(num, den, &err)) return Fail(err);
    sink = std::move(s);
  }

  Progress progress("decoding", last - first + 1);
  ORXTimer timer;
  for (int i = first; i <= last; ++i) {
    if (Interrupted()) return progress.Finish(), Fail(output + ": interrupted; nothing was left behind");
    if (i != first && !ReadSample(path, movie.reader, i, &sample, &err)) return progress.Finish(), Fail(err);
    if (!decoder.Decode(sample.data(), sample.size(), &err))
      return progress.Finish(), Fail(path + ": frame " + std::to_string(i) + ": " + err);
    if (!sink->Write(i, decoder.Pixels(), decoder.RowBytes(), &err)) return progress.Finish(), Fail(err);
    progress.Update(i - first + 1, sink->BytesWritten());
  }
  progress.Finish();
  if (!sink->Finish(&err)) return Fail(err);
  const double seconds = timer.GetElapsedTime();
  if (!quiet && output != "-") {
    const int n = last - first + 1;
    std::printf("%s: %d frames %dx%d decoded at %.1f fps -> %s\n", path.c_str(), n, width, height,
                seconds > 0 ? n / seconds : 0.0, output.c_str());
  }
  return 0;
}

int CmdInfo(int argc, char** argv) {
  Args args(argc, argv, 0);
  if (args.Flag("--help", "-h")) {
    std::fputs(kInfoHelp, stdout);
    return 0;
  }
  const bool perFrame = args.Flag("--frames");
  const bool json = args.Flag("--json");
  std::string err;
  std::vector<std::string> inputs;
  if (!args.Positionals(&inputs, &err)) return Usage(err);
  if (inputs.size() != 1) return Usage("info: give exactly one movie (see orx info --help)");
  const std::string& path = inputs[0];
  Movie movie;
  if (!OpenMovie(path, &movie, &err)) return Fail(err);
  HostMovieReaderRef r = movie.reader;
  ImageDescriptionHandle desc = HostMovieReaderGetImageDescription(r);
  const int width = (*desc)->width, height = (*desc)->height;
  const SInt32 count = HostMovieReaderGetSampleCount(r);
  int rateNum = 0, rateDen = 1;
  MovieRate(r, &rateNum, &rateDen);
  const double fps = rateNum > 0 ? double(rateNum) / rateDen : 0.0;

  // What one frame's header says. Samples too short to hold a header are not
  // read at all, so a table claiming billions of tiny samples costs time, not
  // memory.
  struct Row {
    FrameSummary s;
    SInt32 stored = 0;
    bool ok = false;
  };
  std::vector<uint8_t> sample;
  const auto readRow = [&](SInt32 i, Row* row) {
    SInt32 size = 0;
    HostMovieReaderGetSampleInfo(r, i, nullptr, &size, nullptr, nullptr);
    row->stored = size;
    row->ok = false;
    if (size < FrameHeaderSize()) return true;
    if (!ReadSample(path, r, i, &sample, &err)) return false;
    row->ok = SummarizeFrame(sample.data(), sample.size(), width, height, &row->s);
    return true;
  };
  // The totals first; the per-frame lines read the frames again rather than
  // keeping a row for every frame the table claims.
  uint64_t stored = 0;
  std::vector<std::pair<std::string, int64_t>> variants;
  int64_t lzfFrames = 0;
  Progress progress("reading", count);
  Row row;
  for (SInt32 i = 0; i < count; ++i) {
    if (!readRow(i, &row)) return progress.Finish(), Fail(err);
    stored += uint64_t(row.stored);
    const std::string name = row.ok ? row.s.variant : "not an ORX frame";
    bool found = false;
    for (auto& [n, c] : variants)
      if (n == name) ++c, found = true;
    if (!found) variants.emplace_back(name, 1);
    lzfFrames += row.ok && row.s.lzf;
    if ((i & 0xFFF) == 0) progress.Update(i);
  }
  progress.Finish();
  struct stat st {};
  const uint64_t fileBytes = stat(path.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
  const std::string codecName = CompressorName((*desc)->name);
  const double rawARGB = double(count) * width * height * 4;
  const std::string rate = std::to_string(rateNum) + "/" + std::to_string(rateDen);
  const auto forEachRow = [&](auto&& print) {
    for (SInt32 i = 0; i < count; ++i) {
      if (!readRow(i, &row)) return false;
      print(i, row);
    }
    return true;
  };
  if (json) {
    std::printf("{\n  \"file\": %s,\n  \"tracks\": %d,\n  \"track_id\": %d,\n  \"codec\": %s,\n  \"compressor_name\": %s,\n",
                JsonString(path).c_str(), HostMovieReaderGetTrackCount(r), HostMovieReaderGetTrackID(r),
                JsonString(FourCC((*desc)->cType)).c_str(), JsonString(codecName).c_str());
    std::printf("  \"width\": %d,\n  \"height\": %d,\n  \"depth\": %d,\n  \"frames\": %d,\n  \"time_scale\": %d,\n"
                "  \"duration\": %lld,\n  \"fps\": %.6g,\n  \"frame_rate\": \"%s\",\n  \"stored_bytes\": %llu,\n"
                "  \"file_bytes\": %llu,\n  \"raw_argb_bytes\": %.0f",
                width, height, (*desc)->depth, count, HostMovieReaderGetTimeScale(r),
                (long long)HostMovieReaderGetDuration(r), fps, rate.c_str(), (unsigned long long)stored,
                (unsigned long long)fileBytes, rawARGB);
    if (perFrame) {
      std::printf(",\n  \"frame_list\": [\n");
      const bool read = forEachRow([&](SInt32 i, const Row& row) {
        std::printf("    {\"index\": %d, \"variant\": %s, \"lzf\": %s, \"stored_bytes\": %d, \"raw_bytes\": %llu}%s\n", i,
                    JsonString(row.ok ? row.s.variant : "unknown").c_str(), row.ok && row.s.lzf ? "true" : "false",
                    row.stored, (unsigned long long)(row.ok ? row.s.rawSize : 0), i + 1 < count ? "," : "");
      });
      if (!read) return Fail(err);
      std::printf("  ]");
    }
    std::printf("\n}\n");
    return 0;
  }
  std::printf("%s\n", path.c_str());
  std::printf("  track     %d (first %s video track of %d)\n", HostMovieReaderGetTrackID(r),
              FourCC((*desc)->cType).c_str(), HostMovieReaderGetTrackCount(r));
  std::printf("  codec     %s \"%s\", depth %d\n", FourCC((*desc)->cType).c_str(), codecName.c_str(), (*desc)->depth);
  std::printf("  size      %dx%d\n", width, height);
  std::printf("  frames    %d at %s fps%s (time scale %d, %.3f s)\n", count, FormatRate(fps).c_str(),
              rateDen == 1 || rateNum <= 0 ? "" : (" = " + rate).c_str(), HostMovieReaderGetTimeScale(r),
              double(HostMovieReaderGetDuration(r)) / HostMovieReaderGetTimeScale(r));
  std::printf("  variants ");
  for (const auto& [n, c] : variants) std::printf(" %s x%lld", n.c_str(), (long long)c);
  std::printf("; LZF in %lld of %d\n", (long long)lzfFrames, count);
  std::printf("  stored    %s of frames (%.2f:1 to raw ARGB %s); file %s\n", HumanBytes(stored).c_str(),
              stored ? rawARGB / double(stored) : 0.0, HumanBytes(uint64_t(rawARGB)).c_str(),
              HumanBytes(fileBytes).c_str());
  if (perFrame) {
    std::printf("  %7s  %-12s %-4s %12s %12s\n", "frame", "variant", "LZF", "stored", "raw");
    const bool read = forEachRow([&](SInt32 i, const Row& row) {
      std::printf("  %7d  %-12s %-4s %12d %12llu\n", i, row.ok ? row.s.variant.c_str() : "unknown",
                  row.ok ? (row.s.lzf ? "LZF" : "raw") : "-", row.stored,
                  (unsigned long long)(row.ok ? row.s.rawSize : 0));
    });
    if (!read) return Fail(err);
  }
  return 0;
}

}  // namespace orxapp
