// orx decode: a movie played back through the decompressor into PNG files,
// a YUV4MPEG2 stream or raw ARGB.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

#include "Cli.h"
#include "Codec.h"
#include "Commands.h"
#include "ImageIO.h"
#include "MovieInput.h"
#include "Wave.h"

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
    "  out.wav          the movie's sound track as a WAV file (its samples as\n"
    "                   stored: 16- or 24-bit integers or 32-bit floats)\n"
    "\n"
    "Options:\n"
    "  -o, --output OUTPUT    where to write (required)\n"
    "  -y, --overwrite        replace files that exist\n"
    "  -n, --no-overwrite     refuse to replace an existing file (the default)\n"
    "  --frames FIRST-LAST    frames to decode, counted from 0 (5, 10-20, 10-)\n"
    "  --threads 1|max        decode each frame on one thread, or on one thread a\n"
    "                         processor core (max, the default)\n"
    "  -q, --quiet            no summary line\n"
    "  -v, --verbose          describe the movie first\n"
    "  -h, --help             this text\n"
    "  --version              the versions of the program, components and format\n"
    "\n"
    "A repeated option counts with its last value. An output that is the movie\n"
    "itself is always refused. An interrupted or failed run removes what it wrote.\n";

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

// One PNG a frame, each written under a temporary name and moved onto its
// own when complete. Until Finish, the frames written so far are a
// PartialOutput: an unfinished run removes them (the destructor), and so
// does a second signal, so a partial sequence is not left looking like a
// complete one.
class PNGSink : public FrameSink {
 public:
  PNGSink(std::string pattern, int first, int w, int h, bool alpha, bool replace)
      : pattern_(std::move(pattern)), w_(w), h_(h), alpha_(alpha), replace_(replace) {
    written_.Sequence(pattern_, first);
  }
  bool Write(int index, const uint8_t* argb, size_t rowBytes, std::string* error) override {
    const std::string name = pattern_.find('%') != std::string::npos ? ExpandPattern(pattern_, index) : pattern_;
    std::string e;
    OutputFile out;
    if (!EncodePNG(&png_, argb, w_, h_, rowBytes, alpha_, &e) || !out.Open(name, &e, replace_, false)) {
      *error = name + ": " + e;
      return false;
    }
    if (std::fwrite(png_.data(), 1, png_.size(), out.Stream()) != png_.size()) {
      *error = name + ": write failed: " + std::strerror(errno);
      return false;
    }
    written_.Written(index);  // before the move: a signal then finds this name too
    if (!out.Commit(&e)) {
      written_.Written(index - 1);  // what stands at the name is not this run's
      *error = name + ": " + e;
      return false;
    }
    bytes_ += png_.size();
    return true;
  }
  bool Finish(std::string*) override {
    written_.Release();
    return true;
  }

 private:
  std::string pattern_;
  int w_, h_;
  bool alpha_, replace_;
  std::vector<uint8_t> png_;
  PartialOutput written_;
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

// The sound track into a WAV file, a second of frames at a time.
int ExtractSound(const std::string& path, HostMovieReaderRef reader, const std::string& output, bool overwrite,
                 bool quiet) {
  HostSoundFormat format{};
  SInt64 frames = 0;
  if (!HostMovieReaderGetSound(reader, &format, &frames)) {
    if (const char* problem = HostMovieReaderGetSoundProblem(reader); *problem != '\0')
      return Fail(path + ": its sound track cannot be read: " + problem);
    return Fail(path + ": the movie has no sound track (of linear PCM) to write to " + output);
  }
  const std::vector<uint8_t> header = WaveHeader(format, uint64_t(frames));
  if (header.empty()) return Fail(output + ": the sound track is too long for a WAV file (4 GiB)");
  OutputFile out;
  std::string e;
  if (!out.Open(output, &e, overwrite)) return Fail(output + ": " + e);
  if (std::fwrite(header.data(), 1, header.size(), out.Stream()) != header.size())
    return Fail(output + ": write failed: " + std::strerror(errno));
  const UInt32 frameBytes = HostSoundBytesPerFrame(&format);
  std::vector<uint8_t> buffer(size_t(format.sampleRate) * frameBytes);
  Progress progress("writing sound", frames);
  const std::string interrupted = output + ": interrupted; nothing was left behind";
  for (SInt64 at = 0; at < frames;) {
    if (Interrupted()) return progress.Finish(), Fail(interrupted);
    const SInt32 n = SInt32(std::min<SInt64>(frames - at, format.sampleRate));
    if (const OSStatus s = HostMovieReaderReadSound(reader, at, n, buffer.data()); s != noErr)
      return progress.Finish(), Fail(path + ": " + HostMovieReaderGetErrorMessage(reader));
    if (std::fwrite(buffer.data(), frameBytes, size_t(n), out.Stream()) != size_t(n))
      return progress.Finish(), Fail(Interrupted() ? interrupted : output + ": write failed: " + std::strerror(errno));
    at += n;
    progress.Update(at, uint64_t(at) * frameBytes);
  }
  progress.Finish();
  if (Interrupted()) return Fail(interrupted);  // nothing is kept that was not finished before the signal
  if (!out.Commit(&e)) return Fail(output + ": " + e);
  if (!quiet)
    std::printf("%s: %lld sound frames, %u Hz, %u channel%s, %s\n", output.c_str(), (long long)frames,
                format.sampleRate, format.channels, format.channels == 1 ? "" : "s",
                format.sampleFormat == kHostSoundFloat32 ? "32-bit float" : format.sampleFormat == kHostSoundInt24 ? "24-bit" : "16-bit");
  return 0;
}

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
  std::optional<bool> oneThread;  // without --threads, as the environment has it
  if (args.Value("--threads", nullptr, &v, &err)) {
    if (v != "1" && v != "max") return Usage("--threads: \"" + v + "\" is not 1 or max");
    oneThread = v == "1";
  }
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
  const bool wav = EndsWith(output, ".wav");
  if (!y4m && !raw && !png && !discard && !wav)
    return Usage(output + ": the output must end in .png, .y4m, .argb or .wav (or be - for YUV4MPEG2)");
  if (wav && (first != 0 || last != -1)) return Usage("--frames: a .wav output takes the whole sound track");
  if (png && output.find('%') != std::string::npos && !ValidNumberPattern(output))
    return Usage(output + ": bad pattern: it needs exactly one number conversion such as %04d");
  if (output == "-" && isatty(1))
    return Usage("decode: standard output is a terminal; send the YUV4MPEG2 stream to a file or a pipe");

  CatchInterruptions();
  Movie movie;
  if (!OpenMovie(path, &movie, &err)) return Fail(err);
  if (wav) {
    if (const std::string problem = OutputProblem(output, {path}, overwrite, false); !problem.empty()) return Fail(problem);
    return ExtractSound(path, movie.reader, output, overwrite, quiet);
  }
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
  const int decodeThreads = oneThread ? UseDecodeThreads(*oneThread) : 0;
  Decoder decoder;
  if (!decoder.Open(desc, &err)) return Fail(path + ": " + err);
  std::unique_ptr<FrameSink> sink;
  if (discard) {
    sink = std::make_unique<NullSink>();
  } else if (png) {
    sink = std::make_unique<PNGSink>(output, first, width, height, alpha, overwrite);
  } else {
    auto s = std::make_unique<StreamSink>(output, width, height, y4m, overwrite);
    int num = 0, den = 1;
    MovieRate(movie.reader, &num, &den);
    if (num <= 0) num = 30, den = 1;
    if (!s->Open(num, den, &err)) return Fail(err);
    sink = std::move(s);
  }

  Progress progress("decoding", last - first + 1);
  Stopwatch timer;
  const std::string interrupted = output + ": interrupted; nothing was left behind";
  for (int i = first; i <= last; ++i) {
    if (Interrupted()) return progress.Finish(), Fail(interrupted);
    if (i != first && !ReadSample(path, movie.reader, i, &sample, &err)) return progress.Finish(), Fail(err);
    if (!decoder.Decode(sample.data(), sample.size(), &err))
      return progress.Finish(), Fail(path + ": frame " + std::to_string(i) + ": " + err);
    if (!sink->Write(i, decoder.Pixels(), decoder.RowBytes(), &err))
      return progress.Finish(), Fail(Interrupted() ? interrupted : err);  // a write the signal cut short
    progress.Update(i - first + 1, sink->BytesWritten());
  }
  progress.Finish();
  if (Interrupted()) return Fail(interrupted);
  if (verbose)  // as the instance that decoded answers: the program asks no graphics context itself
    std::fprintf(stderr, "orx: %s frames decoded on the %s\n", summary.variant.empty() ? "ORX" : summary.variant.c_str(),
                 DecodeRoadText(summary.variant, &decoder).c_str());
  if (!sink->Finish(&err)) return Fail(err);
  const double seconds = timer.Seconds();
  if (!quiet && output != "-") {
    const int n = last - first + 1;
    const std::string on = decodeThreads == 0 ? ""
                           : decodeThreads == 1 ? " on 1 thread"
                                                : " on " + std::to_string(decodeThreads) + " threads";
    std::printf("%s: %d frames %dx%d decoded at %.1f fps%s -> %s\n", path.c_str(), n, width, height,
                seconds > 0 ? n / seconds : 0.0, on.c_str(), output.c_str());
  }
  return 0;
}

}  // namespace orxapp
