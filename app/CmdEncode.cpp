// orx encode: frames from a source, through the compressor, into a movie.
#include <sys/stat.h>

#include <cstring>

#include "Cli.h"
#include "Codec.h"
#include "Commands.h"
#include "MovieFile.h"
#include "ORXTimer.h"
#include "Sources.h"

namespace orxapp {

namespace {

const char kEncodeHelp[] =
    "usage: orx encode INPUT... -o OUT.mov [options]\n"
    "\n"
    "Compresses frames into an ORX movie through the ORX compressor component.\n"
    "\n"
    "Inputs:\n"
    "  frame%04d.png           a numbered PNG sequence (printf pattern; starts at 0 or 1,\n"
    "                          or at --start-number; runs while files exist)\n"
    "  a.png b.png ...         a list of PNG images (8/16-bit grey, grey+alpha, RGB,\n"
    "                          RGBA or palette); all must have the same size\n"
    "  clip.y4m | -            a YUV4MPEG2 stream from a file or standard input\n"
    "                          (8-bit 4:2:0, 4:2:2, 4:4:4 or mono; progressive)\n"
    "  --size WxH FILE...|-    raw 32-bit ARGB: bytes A,R,G,B per pixel, rows top to\n"
    "                          bottom without padding, frames one after another\n"
    "  --test-clip             the built-in 1280x720 test clip (--size and --frames\n"
    "                          change it)\n"
    "\n"
    "YUV4MPEG2 tags honoured: W, H, F (frame rate), I (p or ? only), A (ignored),\n"
    "C (420jpeg, 420mpeg2, 420paldv, 420, 422, 444, mono), XCOLORRANGE=FULL|LIMITED.\n"
    "Colours are converted with the BT.709 matrix, limited range unless\n"
    "XCOLORRANGE=FULL says otherwise.\n"
    "\n"
    "Options (each sets one of the compressor's own settings; without them the\n"
    "compressor uses its stored preferences, see 'orx settings'):\n"
    "  -o, --output FILE       the movie to write (required; a file, as its header is\n"
    "                          written last)\n"
    "  -y, --overwrite         replace FILE if it exists\n"
    "  -n, --no-overwrite      refuse to replace an existing FILE (the default)\n"
    "  --transparency discard|preserve\n"
    "                          Transparency: keep the alpha channel (DXT5 blocks)\n"
    "  --optimize quality|performance|vovorevaded\n"
    "                          Optimize For: Quality = DXT24 + LZF, Performance =\n"
    "                          DXT1 + LZF, VovorEvaded = DXT24 without LZF\n"
    "  --threads max|1|2|4|6|8|12|16|24\n"
    "                          Threads the compressor codes blocks and packs LZF\n"
    "                          on (every variant; the frames are the same at any\n"
    "                          setting); orx reads the next frames on threads of\n"
    "                          its own beside them; while no preferences are\n"
    "                          stored, orx uses max\n"
    "  --fps RATE              frame rate (24, 29.97, 30000/1001); default: the\n"
    "                          stream's own, else 30\n"
    "  --frames N              encode at most N frames (the test clip: its length)\n"
    "  --start-number N        first number of a pattern\n"
    "  --keep-partial          when the source ends early (a truncated stream, a\n"
    "                          damaged or missing picture), keep the frames encoded\n"
    "                          before it, with a warning saying how many\n"
    "  -q, --quiet             no summary line\n"
    "  -v, --verbose           describe the source and the settings first\n"
    "  -h, --help              this text\n"
    "  --version               the versions of the program, components and format\n"
    "\n"
    "A repeated option counts with its last value. An output that is one of the\n"
    "inputs is always refused. Ctrl-C, SIGTERM and SIGHUP remove the unfinished\n"
    "movie.\n";

}  // namespace

namespace {

// A movie under a name that says something else (out.png, out.mp4) is a
// mistake a warning can catch before a player or a person is misled.
void WarnAboutName(const std::string& output) {
  const size_t slash = output.rfind('/'), dot = output.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return;
  if (EndsWith(output, ".mov") || EndsWith(output, ".qt")) return;
  Warn(output + ": an ORX movie is a QuickTime movie, but the name ends in " + output.substr(dot) +
       " (use .mov)");
}

// What the command line asks for.
struct EncodeRequest {
  SourceOptions source;
  EncoderChoices choices;
  std::string output;
  int fpsNum = 0, fpsDen = 0;  // 0: the source's own rate, else 30
  long maxFrames = -1;
  bool quiet = false, verbose = false, keepPartial = false, overwrite = false;
};

// Reads the options into *r; "" when they are usable, else the usage error.
std::string ParseEncodeArgs(Args& args, EncodeRequest* r) {
  std::string err, v;
  SourceOptions& so = r->source;
  so.testClip = args.Flag("--test-clip");
  r->quiet = args.Flag("--quiet", "-q");
  r->verbose = args.Flag("--verbose", "-v");
  r->keepPartial = so.allowPartial = args.Flag("--keep-partial");
  r->overwrite = args.Either("--overwrite", "-y", "--no-overwrite", "-n") == 1;
  if (!args.Value("--output", "-o", &r->output, &err) && !err.empty()) return err;
  if (args.Value("--size", nullptr, &v, &err) && !ParseSize(v, &so.width, &so.height))
    return "--size: \"" + v + "\" is not WIDTHxHEIGHT (1 to 32767 each)";
  if (args.Value("--transparency", nullptr, &v, &err) && !ParseTransparency(v, &r->choices.transparency))
    return "--transparency: \"" + v + "\" is not discard or preserve";
  if (args.Value("--optimize", nullptr, &v, &err) && !ParseOptimize(v, &r->choices.optimize))
    return "--optimize: \"" + v + "\" is not quality, performance or vovorevaded";
  if (args.Value("--threads", nullptr, &v, &err) && !ParseThreads(v, &r->choices.threads))
    return "--threads: \"" + v + "\" is not one of max, 1, 2, 4, 6, 8, 12, 16, 24";
  if (args.Value("--fps", nullptr, &v, &err) && !ParseRate(v, &r->fpsNum, &r->fpsDen))
    return "--fps: \"" + v + "\" is not a frame rate such as 24, 29.97 or 30000/1001";
  if (args.Value("--frames", nullptr, &v, &err)) {
    char* end = nullptr;
    r->maxFrames = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end != '\0' || r->maxFrames < 1 || r->maxFrames > 100000000)
      return "--frames: \"" + v + "\" is not a frame count";
  }
  if (args.Value("--start-number", nullptr, &v, &err)) {
    char* end = nullptr;
    const long n = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end != '\0' || n < 0 || n > 1000000000) return "--start-number: \"" + v + "\" is not a number";
    so.startNumber = int(n);
  }
  if (!err.empty()) return err;
  if (!args.Positionals(&so.inputs, &err)) return err;
  if (r->output.empty()) return "encode: no output movie (-o OUT.mov)";
  if (r->output == "-")
    return "encode: a movie cannot go to standard output: its header is written last, so it needs a file (-o OUT.mov)";
  if (so.testClip && r->maxFrames > 0) so.testClipFrames = int(r->maxFrames);
  // The program's own default while the user has stored no preferences:
  // every core (the component alone keeps its default of one thread).
  if (r->choices.threads < 0 && !HasStoredPreferences()) r->choices.threads = 1;
  return "";
}

// The summary line: the frames' bytes, as orx info reports them, so the
// ratio is the codec's; "codec" counts the time in the compressor alone.
void PrintSummary(const std::string& output, int64_t frames, int width, int height, uint64_t bytes, double seconds,
                  double codecSeconds, const CompressorSettings& settings) {
  const double raw = double(frames) * width * height * 4;
  std::printf("%s: %s %dx%d, %s of frames, %.2f:1 to raw ARGB, %.1f fps (codec %.1f fps); %s, %s, threads %s\n",
              output.c_str(), Frames(frames).c_str(), width, height, HumanBytes(bytes).c_str(),
              bytes > 0 ? raw / double(bytes) : 0.0, seconds > 0 ? frames / seconds : 0.0,
              codecSeconds > 0 ? frames / codecSeconds : 0.0, settings.preserveAlpha ? "alpha kept" : "alpha discarded",
              OptimizeName(settings).c_str(), ThreadsName(settings.threadSetting).c_str());
}

// What -v prints before the frames: the source, the rate and the settings.
void Describe(const std::string& source, int width, int height, int64_t total, int fpsNum, int fpsDen,
              const std::string& output, const CompressorSettings& chosen, int32_t timeScale, int32_t duration) {
  std::fprintf(stderr, "orx: %s: %dx%d, %s frames at %s fps -> %s\n", source.c_str(), width, height,
               total > 0 ? std::to_string(total).c_str() : "an unknown number of",
               FormatRate(double(fpsNum) / fpsDen).c_str(), output.c_str());
  std::fprintf(stderr, "orx: settings: %s, %s, threads %s (time scale %d, %d a frame)\n", OptimizeName(chosen).c_str(),
               chosen.preserveAlpha ? "alpha kept" : "alpha discarded", ThreadsName(chosen.threadSetting).c_str(),
               timeScale, duration);
}

}  // namespace

int CmdEncode(int argc, char** argv) {
  Args args(argc, argv, 0);
  if (args.Flag("--help", "-h")) {
    std::fputs(kEncodeHelp, stdout);
    return 0;
  }
  EncodeRequest r;
  if (const std::string usage = ParseEncodeArgs(args, &r); !usage.empty()) return Usage(usage);
  std::string err;
  int fpsNum = r.fpsNum, fpsDen = r.fpsDen;
  CatchInterruptions();
  const std::string interrupted = r.output + ": interrupted; nothing was written";
  std::unique_ptr<FrameSource> source = OpenFrameSource(r.source, &err);
  if (!source) return Fail(Interrupted() ? interrupted : err);
  if (const std::string problem = OutputProblem(r.output, source->Files(), r.overwrite, true); !problem.empty())
    return Fail(problem);
  WarnAboutName(r.output);
  // The next frames are read while the codec works on this one.
  source = ReadAhead(std::move(source));
  if (fpsNum == 0 && !source->Rate(&fpsNum, &fpsDen)) {
    fpsNum = 30;
    fpsDen = 1;
  }
  int32_t timeScale = 0, duration = 0;
  RateToTimeScale(fpsNum, fpsDen, &timeScale, &duration);

  ImageARGB frame;
  int got = source->Next(&frame);
  if (got < 0) return Fail(Interrupted() ? interrupted : source->Error());
  if (got == 0) return Fail(source->CurrentName() + ": no frames to encode");

  HostMovieWriterRef writer = nullptr;
  std::string sinkError;
  uint64_t frameBytes = 0;
  Encoder encoder;
  auto sink = [&](const uint8_t* data, size_t size) -> OSStatus {
    const OSStatus s = HostMovieWriterAddSample(writer, data, static_cast<SInt32>(size), duration);
    if (s != noErr) sinkError = HostMovieWriterGetErrorMessage(writer);
    else frameBytes += size;
    return s;
  };
  if (!encoder.Open(frame.width, frame.height, timeScale, r.choices, sink, &err)) return Fail(r.output + ": " + err);
  char message[512] = {};
  OSStatus s = HostMovieWriterCreateWithError(r.output.c_str(), encoder.Description(), timeScale, &writer, message,
                                              sizeof message);
  if (s != noErr) return Fail(r.output + ": cannot write the movie: " + (message[0] ? message : StatusText(s)));
  HostMovieWriterSetReplaceExisting(writer, r.overwrite);
  // Every later failure abandons the movie so that nothing is left at OUT.
  auto abandon = [&](const std::string& message) {
    HostMovieWriterAbort(writer);
    return Fail(message);
  };

  const int width = frame.width, height = frame.height;
  const int64_t total = r.maxFrames > 0 && (source->Count() == 0 || source->Count() > r.maxFrames) ? r.maxFrames : source->Count();
  if (r.verbose) Describe(source->CurrentName(), width, height, total, fpsNum, fpsDen, r.output, encoder.Settings(),
                         timeScale, duration);
  Progress progress("encoding", total);
  ORXTimer timer;
  double codecSeconds = 0;
  int64_t frames = 0;
  while (got == 1) {
    if (Interrupted()) {
      progress.Finish();
      return abandon(interrupted);
    }
    if (frame.width != width || frame.height != height) {
      progress.Finish();
      return abandon(source->CurrentName() + ": frame " + std::to_string(frames + 1) + " is " +
                     std::to_string(frame.width) + "x" + std::to_string(frame.height) + ", the first frame is " +
                     std::to_string(width) + "x" + std::to_string(height));
    }
    ORXTimer t;
    if (!encoder.Encode(frame.pixels.data(), frame.RowBytes(), frames * duration, duration, &err)) {
      progress.Finish();
      return abandon(r.output + ": " + (sinkError.empty() ? err : "cannot write the movie: " + sinkError));
    }
    codecSeconds += t.GetElapsedTime();
    ++frames;
    progress.Update(frames, frameBytes);
    if (r.maxFrames > 0 && frames >= r.maxFrames) break;
    got = source->Next(&frame);
  }
  progress.Finish();
  if (Interrupted()) return abandon(interrupted);
  // A source that ends early: the frames before the damage are kept only
  // when asked for.
  if (got < 0 && !r.keepPartial)
    return abandon(source->Error() + "; nothing was written (--keep-partial keeps the " + Frames(frames) +
                   " before it)");
  if (got < 0) Warn(source->Error() + "; kept the " + Frames(frames) + " before it in " + r.output);
  const CompressorSettings settings = encoder.Settings();
  encoder.Close();
  s = HostMovieWriterFinishWithError(writer, message, sizeof message);
  if (s != noErr) return Fail(r.output + ": cannot finish the movie: " + (message[0] ? message : StatusText(s)));
  if (!r.quiet)
    PrintSummary(r.output, frames, width, height, frameBytes, timer.GetElapsedTime(), codecSeconds, settings);
  return 0;
}

}  // namespace orxapp
