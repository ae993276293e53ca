// orx encode: frames from a source, through the compressor, into a movie.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "Batch.h"
#include "Cli.h"
#include "Codec.h"
#include "Commands.h"
#include "MacMemory.h"
#include "MovieFile.h"
#include "core/Format/ORXFormat.h"
#include "Stopwatch.h"
#include "SoundPlacer.h"
#include "Sources.h"

namespace orxapp {

namespace {

const char kEncodeHelp[] =
    "usage: orx encode INPUT... -o OUT.mov [options]\n"
    "\n"
    "Compresses frames into an ORX movie through the ORX compressor component.\n"
    "\n"
    "Inputs:\n"
    "  frame%04d.png           a numbered picture sequence (printf pattern; starts at 0\n"
    "                          or 1, or at --start-number; runs while files exist)\n"
    "  a.png b.jpg ...         a list of pictures: PNG, TIFF (8/16-bit grey or colour,\n"
    "                          with or without alpha), JPEG, WebP, BMP, GIF; 16-bit\n"
    "                          samples rounded; all must have the same size\n"
    "  clip.y4m | -            a YUV4MPEG2 stream from a file or standard input\n"
    "                          (8-bit 4:2:0, 4:2:2, 4:4:4 or mono; progressive)\n"
    "  --size WxH FILE...|-    raw 32-bit ARGB: bytes A,R,G,B per pixel, rows top to\n"
    "                          bottom without padding, frames one after another\n"
    "  --test-clip             the built-in 1280x720 test clip (--size and --frames\n"
    "                          change it)\n"
    "  FILE | URI              any other footage that GStreamer's own plug-ins decode\n"
    "                          (MOV, MP4, MKV, WebM, ...: H.264, VP8, VP9, AV1,\n"
    "                          PNG, JPEG, ...), with its sound; its frame rate,\n"
    "                          pixel aspect and, without a rate, each frame's time\n"
    "  FILE|URI FILE|URI ...   several pieces of footage joined in order into one\n"
    "                          movie, each one's sound in step with its pictures\n"
    "                          (silent where it has none); all must have one size,\n"
    "                          rate and pixel aspect, and their sound one rate and\n"
    "                          channel count (16-bit, 24-bit and float sound is\n"
    "                          widened to the deepest); none may be live\n"
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
    "  -o, --output FOLDER/    a batch: each input into FOLDER/NAME.mov (a trailing\n"
    "                          slash, or a folder that exists); a failed input is\n"
    "                          reported and the others go on; exit status 1 when\n"
    "                          any failed\n"
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
    "  --smaller off|light|medium|strong\n"
    "                          smaller movies for a little error: each block may be\n"
    "                          re-encoded to repeat bytes just before it, which LZF\n"
    "                          packs, within an error budget that grows with the\n"
    "                          level (medium: about a fifth smaller within 0.5 dB\n"
    "                          on photographs); every player plays them as before.\n"
    "                          The frames are then made by liborx with the\n"
    "                          compressor's settings. Default off\n"
    "  --fps RATE              frame rate (24, 29.97, 30000/1001); default: the\n"
    "                          stream's own, else 30. Footage is converted to it by\n"
    "                          its frames' times: frames are repeated or dropped,\n"
    "                          and its length and sound stay as they were; PNG,\n"
    "                          YUV4MPEG2 and raw frames are given this rate\n"
    "  --retime RATE           give footage's own frames this rate, one movie frame\n"
    "                          each, so it plays faster or slower; refused for\n"
    "                          footage whose sound it would put out of step\n"
    "                          (--audio none leaves the sound out)\n"
    "  --frames N              encode at most N frames (the test clip: its length)\n"
    "  --frames FIRST-LAST     encode frames FIRST to LAST of the movie, counted\n"
    "                          from 0 (10-20, 10-) across joined inputs and at the\n"
    "                          rate --fps converts to, with the sound that goes\n"
    "                          with them\n"
    "  --video-stream N        footage with several video streams: the Nth (from 1)\n"
    "  --audio copy|none|FILE  the movie's sound: the source's own (copy, the default\n"
    "                          when it has sound), none, or another file's (a WAV,\n"
    "                          FLAC or any footage), stored as 16- or 24-bit or\n"
    "                          32-bit float PCM as the source's depth needs\n"
    "  --start-number N        first number of a pattern\n"
    "  --keep-partial          when the source ends early (a truncated stream, a\n"
    "                          damaged or missing picture, footage that lost\n"
    "                          pictures or sound), keep the frames encoded before\n"
    "                          it (lost sound as silence), with a warning saying\n"
    "                          what was lost\n"
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
  std::string threadsFrom;     // where the thread setting comes from, for -v
  bool retime = false;         // --retime: fpsNum/fpsDen is given to the source's own frames
  long maxFrames = -1;
  int firstFrame = 0;  // --frames FIRST-LAST
  int lastFrame = -1;
  std::string audio;   // "" copy by default, "copy", "none" or a file
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
    return "--size: \"" + v + "\" is not WIDTHxHEIGHT (1 to " + std::to_string(kORXMaxSide) + " each)";
  if (args.Value("--transparency", nullptr, &v, &err) && !ParseTransparency(v, &r->choices.transparency))
    return "--transparency: \"" + v + "\" is not discard or preserve";
  if (args.Value("--optimize", nullptr, &v, &err) && !ParseOptimize(v, &r->choices.optimize))
    return "--optimize: \"" + v + "\" is not quality, performance or vovorevaded";
  if (args.Value("--smaller", nullptr, &v, &err) && !ParseSmaller(v, &r->choices.smaller))
    return "--smaller: \"" + v + "\" is not off, light, medium or strong";
  if (args.Value("--threads", nullptr, &v, &err) && !ParseThreads(v, &r->choices.threads))
    return "--threads: \"" + v + "\" is not one of max, 1, 2, 4, 6, 8, 12, 16, 24";
  if (args.Value("--fps", nullptr, &v, &err) && !ParseRate(v, &r->fpsNum, &r->fpsDen))
    return "--fps: \"" + v + "\" is not a frame rate such as 24, 29.97 or 30000/1001";
  if (args.Value("--retime", nullptr, &v, &err)) {
    if (r->fpsNum > 0) return "--fps and --retime: give one (--fps converts footage's rate, --retime retimes its frames)";
    if (!ParseRate(v, &r->fpsNum, &r->fpsDen))
      return "--retime: \"" + v + "\" is not a frame rate such as 24, 29.97 or 30000/1001";
    r->retime = true;
  }
  if (args.Value("--frames", nullptr, &v, &err)) {
    if (v.find('-') != std::string::npos) {
      if (!ParseFrameRange(v, &r->firstFrame, &r->lastFrame))
        return "--frames: \"" + v + "\" is not a frame count or a range such as 10-20 or 10-";
      if (r->lastFrame >= 0) r->maxFrames = long(r->lastFrame) - r->firstFrame + 1;
    } else {
      char* end = nullptr;
      r->maxFrames = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || r->maxFrames < 1 || r->maxFrames > 100000000)
        return "--frames: \"" + v + "\" is not a frame count or a range such as 10-20 or 10-";
    }
  }
  if (args.Value("--video-stream", nullptr, &v, &err)) {
    char* end = nullptr;
    const long n = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end != '\0' || n < 1 || n > 1000) return "--video-stream: \"" + v + "\" is not a stream number (1 is the first)";
    so.videoStream = int(n);
  }
  if (args.Value("--audio", nullptr, &v, &err)) {
    if (v.empty()) return "--audio: give copy, none or a file";
    r->audio = v;
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
  if (so.testClip && r->maxFrames > 0) so.testClipFrames = int(r->maxFrames + r->firstFrame);
  so.sound = r->audio.empty() || r->audio == "copy";
  // The program's own default while the user has stored no preferences:
  // every core (the component alone keeps its default of one thread).
  r->threadsFrom = ThreadSettingSource(r->choices.threads >= 0);
  if (r->choices.threads < 0 && !HasStoredPreferences()) r->choices.threads = kProgramDefaultThreads;
  return "";
}

// The summary line: the frames' bytes, as orx info reports them, so the
// ratio is the codec's; "codec" counts the time in the compressor alone.
// alpha: what the frames store of it; more: the sound track and the rate's
// conversion, each after "; ".
void PrintSummary(const std::string& output, int64_t frames, int width, int height, uint64_t bytes, double seconds,
                  double codecSeconds, const CompressorSettings& settings, const char* alpha, const std::string& more) {
  const double raw = double(frames) * width * height * 4;
  std::printf("%s: %s %dx%d, %s of frames, %.2f:1 to raw ARGB, %.1f fps (codec %.1f fps); %s, %s, threads %s%s\n",
              output.c_str(), Frames(frames).c_str(), width, height, HumanBytes(bytes).c_str(),
              bytes > 0 ? raw / double(bytes) : 0.0, seconds > 0 ? frames / seconds : 0.0,
              codecSeconds > 0 ? frames / codecSeconds : 0.0, alpha, OptimizeName(settings).c_str(),
              ThreadsName(settings.threadSetting).c_str(), more.c_str());
}

// "30 fps", or "frames of their own times" for a variable rate.
std::string RateOf(const FrameSource& source) {
  int num = 0, den = 1;
  if (!source.Rate(&num, &den) || source.VariableRate()) return "frames of their own times";
  return FormatRate(double(num) / den) + " fps";
}

// What -v prints before the frames: the source, the rate and the settings.
void Describe(const std::string& source, int width, int height, int64_t total, int fpsNum, int fpsDen,
              const std::string& output, const CompressorSettings& chosen, const std::string& threadsFrom,
              int32_t timeScale, int32_t duration) {
  std::fprintf(stderr, "orx: %s: %dx%d, %s frames at %s fps -> %s\n", source.c_str(), width, height,
               total > 0 ? std::to_string(total).c_str() : "an unknown number of",
               FormatRate(double(fpsNum) / fpsDen).c_str(), output.c_str());
  std::fprintf(stderr, "orx: settings: %s, %s, threads %s from %s (time scale %d, %d a frame)\n",
               OptimizeName(chosen).c_str(), chosen.preserveAlpha ? "alpha kept" : "alpha discarded",
               ThreadsName(chosen.threadSetting).c_str(), threadsFrom.c_str(), timeScale, duration);
}

// The movie's description with the source's pixel aspect as a 'pasp'
// extension; null when the aspect is square (the encoder's own is used).
ImageDescriptionHandle WithPixelAspect(ImageDescriptionHandle desc, int num, int den) {
  if (num <= 0 || den <= 0 || num == den) return nullptr;
  const Size base = (*desc)->idSize;
  Handle h = NewHandle(base + 16);
  if (h == nullptr) return nullptr;
  std::memcpy(*h, *desc, size_t(base));
  auto* ext = reinterpret_cast<uint8_t*>(*h) + base;
  const uint32_t words[4] = {16, FOUR_CHAR_CODE('p', 'a', 's', 'p'), uint32_t(num), uint32_t(den)};
  for (int i = 0; i < 4; ++i)
    for (int b = 0; b < 4; ++b) ext[i * 4 + b] = uint8_t(words[i] >> (24 - 8 * b));
  auto d = reinterpret_cast<ImageDescriptionHandle>(h);
  (*d)->idSize = SInt32(base + 16);
  return d;
}

// One movie from the request's inputs; the exit status.
int EncodeOne(const EncodeRequest& r) {
  std::string err;
  int fpsNum = r.fpsNum, fpsDen = r.fpsDen;
  CatchInterruptions();
  const std::string interrupted = r.output + ": interrupted; nothing was written";
  std::unique_ptr<FrameSource> source = OpenFrameSource(r.source, &err);
  if (!source) return Fail(Interrupted() ? interrupted : err);
  // The sound: the source's own, another file's, or none.
  std::unique_ptr<SoundSource> soundFile;
  SoundSource* sound = nullptr;
  std::vector<std::string> inputs = source->Files();
  const std::vector<JoinedInput> joined = JoinedInputs(*source);
  if (!r.audio.empty() && r.audio != "copy" && r.audio != "none") {
    soundFile = OpenSoundFile(r.audio, &err);
    if (!soundFile) return Fail(Interrupted() ? interrupted : err);
    sound = soundFile.get();
    inputs.push_back(r.audio);
  } else if (r.audio != "none") {
    sound = source->Sound();
    if (!joined.empty()) {
      // Joined footage: an input whose sound cannot be taken is silent for its length.
      for (const JoinedInput& in : joined)
        if (!in.soundProblem.empty())
          Warn(in.name + ": " + in.soundProblem + (sound ? "; the movie is silent for its length" : "; the movie has none"));
      if (sound == nullptr && r.audio == "copy") Warn("none of the " + std::to_string(joined.size()) + " inputs has sound; the movie has none");
    } else if (sound == nullptr && !source->SoundProblem().empty()) {
      Warn(source->CurrentName() + ": " + source->SoundProblem() + "; the movie has none");
    } else if (sound == nullptr && r.audio == "copy") {
      Warn(source->CurrentName() + ": has no sound; the movie has none");
    }
  }
  // --fps converts footage's rate by its frames' times; --retime, and --fps
  // for frames without times of their own, give the frames the new rate,
  // which would put footage's own sound out of step.
  int ownNum = 0, ownDen = 1;
  const bool sameRate = source->Rate(&ownNum, &ownDen) && !source->VariableRate() &&
                        int64_t(ownNum) * r.fpsDen == int64_t(r.fpsNum) * ownDen;
  const bool convert = !r.retime && r.fpsNum > 0 && source->Timed() && !sameRate;
  if (r.retime && sound != nullptr && !soundFile && source->Timed() && !sameRate)
    return Fail(source->CurrentName() + ": --retime " + FormatRate(double(r.fpsNum) / r.fpsDen) + " would put its sound out " +
                "of step with its pictures (" + RateOf(*source) + "); --fps converts the rate and keeps the sound in " +
                "step, --audio none leaves the sound out");
  if (const std::string problem = OutputProblem(r.output, inputs, r.overwrite, true); !problem.empty())
    return Fail(problem);
  WarnAboutName(r.output);
  // The next frames are read while the codec works on this one.
  source = ReadAhead(std::move(source));
  RateConverter* converter = nullptr;
  std::string convertedFrom;
  if (convert) {
    convertedFrom = RateOf(*source);
    auto c = std::make_unique<RateConverter>(std::move(source), r.fpsNum, r.fpsDen);
    converter = c.get();
    source = std::move(c);
  }
  // Frames of a variable-rate source keep their own times, on a 90 kHz
  // clock, unless a rate is forced.
  const bool variable = fpsNum == 0 && source->VariableRate();
  if (fpsNum == 0 && !source->Rate(&fpsNum, &fpsDen)) {
    fpsNum = 30;
    fpsDen = 1;
  }
  int32_t timeScale = 0, duration = 0;
  RateToTimeScale(fpsNum, fpsDen, &timeScale, &duration);
  if (variable) {
    timeScale = 90000;
    duration = 3000;
  }
  // A source with a rate of its own keeps it exactly (containers round their
  // times, to the millisecond in Matroska); one without keeps each time.
  const bool useTimes = variable;

  ImageARGB frame, next;
  int got = 1;
  int64_t firstPtsNs = -1;  // the source's first picture's time, when frames are skipped
  for (int i = 0; got == 1 && i < r.firstFrame; ++i) {
    got = source->Next(&frame);
    if (i == 0 && got == 1) firstPtsNs = frame.ptsNs;
  }
  if (converter != nullptr) converter->StartCounting();  // the movie starts with the next frame
  if (got == 1) got = source->Next(&frame);
  if (got < 0) return Fail(Interrupted() ? interrupted : source->Error());
  if (got == 0)
    return Fail(source->CurrentName() +
                (r.firstFrame > 0 ? ": no frame " + std::to_string(r.firstFrame) + " to start from" : ": no frames to encode"));
  std::string frameName = source->CurrentName();
  // Pictures without alpha in a movie that keeps it: the frames store an
  // alpha channel all the same, every pixel opaque.
  const bool sourceAlpha = source->HasAlpha() >= 0 ? source->HasAlpha() > 0 : frame.hasAlpha;
  if (r.choices.transparency == 1 && !sourceAlpha)
    Warn(source->CurrentName() + ": the pictures have no alpha channel; the movie stores one all the same, every " +
         "pixel opaque, which takes room for nothing (--transparency discard leaves it out)");

  HostMovieWriterRef writer = nullptr;
  // However this command ends before the movie is finished (a failure, an
  // exception, an allocation that fails), the unfinished movie is removed.
  struct AbortUnfinished {
    HostMovieWriterRef& w;
    ~AbortUnfinished() {
      if (w != nullptr) HostMovieWriterAbort(w);
    }
  } abortUnfinished{writer};
  std::string sinkError;
  uint64_t frameBytes = 0;
  int32_t sampleDuration = duration;
  Encoder encoder;
  auto sink = [&](const uint8_t* data, size_t size) -> OSStatus {
    const OSStatus s = HostMovieWriterAddSample(writer, data, static_cast<SInt32>(size), sampleDuration);
    if (s != noErr) sinkError = HostMovieWriterGetErrorMessage(writer);
    else frameBytes += size;
    return s;
  };
  if (!encoder.Open(frame.width, frame.height, timeScale, r.choices, sink, &err)) return Fail(r.output + ": " + err);
  int parNum = 1, parDen = 1;
  source->PixelAspect(&parNum, &parDen);
  ImageDescriptionHandle aspect = WithPixelAspect(encoder.Description(), parNum, parDen);
  char message[512] = {};
  PartialOutput movieTemp;  // the temporary file, for a second signal to remove
  OSStatus s = CreateMovieWriter(r.output, aspect ? aspect : encoder.Description(), timeScale, &writer, message,
                                 sizeof message, &movieTemp);
  DisposeHandle(reinterpret_cast<Handle>(aspect));
  if (s != noErr) return Fail(r.output + ": cannot write the movie: " + (message[0] ? message : StatusText(s)));
  HostMovieWriterSetReplaceExisting(writer, r.overwrite);
  // Every later failure abandons the movie so that nothing is left at OUT.
  auto abandon = [&](const std::string& message) {
    HostMovieWriterAbort(writer);
    writer = nullptr;
    return Fail(message);
  };
  std::unique_ptr<SoundPlacer> placer;
  bool soundEnded = true;
  if (sound != nullptr) {
    const HostSoundFormat format = sound->Format();
    if (HostMovieWriterAddSoundTrack(writer, &format) != noErr)
      return abandon(sound->Name() + ": cannot store its sound: " + HostMovieWriterGetErrorMessage(writer) +
                     " (--audio none leaves the sound out)");
    // A sound file starts with the source's first picture: a movie of later
    // frames starts that far into it, by the pictures' times or their rate.
    int64_t leadNs = 0;
    if (soundFile && r.firstFrame > 0)
      leadNs = firstPtsNs >= 0 && frame.ptsNs >= firstPtsNs
                   ? frame.ptsNs - firstPtsNs
                   : int64_t(__int128(r.firstFrame) * duration * 1000000000 / timeScale);
    placer = std::make_unique<SoundPlacer>(writer, format, soundFile ? -1 : frame.ptsNs, leadNs);
    soundEnded = false;
  }
  // Sound up to movie time endNs, from what the source has ready (a sound
  // file of its own waits up to waitMs for each piece), written as it comes
  // so that little is held here.
  auto feedSound = [&](int64_t endNs, int waitMs) -> std::string {
    for (bool more = true; more;) {
      std::vector<uint8_t> bytes;
      int64_t firstNs = -1;
      const int t = soundEnded ? 0 : sound->Take(&bytes, &firstNs, waitMs);
      if (t < 0) return sound->Error();
      if (!bytes.empty()) placer->Add(bytes, firstNs);
      soundEnded = t == 0;
      if (placer->WriteUntil(endNs) != noErr)
        return r.output + ": cannot write the movie: " + HostMovieWriterGetErrorMessage(writer);
      more = !soundEnded && !bytes.empty() && placer->Have() < placer->FramesUntil(endNs);
    }
    return "";
  };
  auto seconds = [](double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f s", s);
    return std::string(buf);
  };
  // Sound lost inside the movie's first endNs: a stretch missing between
  // two others, or sound the source could not hand over. "" when none.
  std::string soundLoss;
  auto lostSound = [&](int64_t endNs) -> std::string {
    if (!placer) return "";
    const double rate = sound->Format().sampleRate;
    const int64_t end = placer->FramesUntil(endNs);
    if (placer->MissingFrames() > 0 && placer->MissingAt() < end)
      return sound->Name() + ": " + seconds(double(placer->MissingFrames()) / rate) + " of its sound " +
             (placer->MissingFrames() == 1 ? "is" : "are") + " missing at " +
             seconds(double(placer->MissingAt()) / rate) + " of the movie (silent there)";
    std::string why;
    const int64_t lostNs = sound->LostNs(&why);
    if (lostNs >= 0 && lostNs - std::max<int64_t>(placer->OriginNs(), 0) < endNs) return sound->Name() + ": " + why;
    return "";
  };
  // Lost sound counts as a source that ends early: the movie is abandoned
  // unless --keep-partial keeps it, with a warning saying what was lost.
  auto checkSound = [&](int64_t endNs) -> std::string {
    if (!soundLoss.empty()) return "";
    soundLoss = lostSound(endNs);
    if (soundLoss.empty() || r.keepPartial) return "";
    return soundLoss + "; nothing was written (--keep-partial keeps the movie without the lost sound)";
  };
  auto nanos = [&](int64_t units) { return int64_t(__int128(units) * 1000000000 / timeScale); };

  const int width = frame.width, height = frame.height;
  const int64_t count = source->Count() > r.firstFrame ? source->Count() - r.firstFrame : 0;
  const int64_t total = r.maxFrames > 0 && (count == 0 || count > r.maxFrames) ? r.maxFrames : count;
  if (r.verbose) {
    Describe(joined.empty() ? source->CurrentName() : std::to_string(joined.size()) + " inputs joined", width, height,
             total, fpsNum, fpsDen, r.output, encoder.Settings(), r.threadsFrom, timeScale, duration);
    if (variable) std::fprintf(stderr, "orx: the source's frames keep their own times\n");
    if (converter != nullptr)
      std::fprintf(stderr, "orx: %s converted to %s fps by the frames' times\n", convertedFrom.c_str(),
                   FormatRate(double(fpsNum) / fpsDen).c_str());
    if (parNum != parDen) std::fprintf(stderr, "orx: pixel aspect %d:%d\n", parNum, parDen);
    for (size_t i = 0; i < joined.size(); ++i) {
      const JoinedInput& in = joined[i];
      std::fprintf(stderr, "orx: input %zu of %zu: %s: %s, %s\n", i + 1, joined.size(), in.name.c_str(),
                   in.frames > 0 ? ("about " + Frames(in.frames)).c_str() : "frames unknown",
                   !in.sound.empty() ? ("sound " + in.sound).c_str() : sound != nullptr ? "silent" : "no sound");
    }
    if (sound != nullptr && joined.empty())
      std::fprintf(stderr, "orx: sound from %s: %s%s\n", sound->Name().c_str(), SoundWords(sound->Format()).c_str(),
                   sound->ConvertedFrom().empty() ? "" : (" (decoded as " + sound->ConvertedFrom() + ")").c_str());
    else if (sound != nullptr)
      std::fprintf(stderr, "orx: sound from the inputs: %s\n", SoundWords(sound->Format()).c_str());
  }
  Progress progress("encoding", total);
  // Joined inputs: the progress line names the one being read, and -v says
  // when the next one begins.
  std::string shownName;
  Stopwatch timer;
  double codecSeconds = 0;
  int64_t frames = 0;
  int64_t movieTime = 0;  // in units of the time scale
  const int64_t startNs = frame.ptsNs;
  while (got == 1) {
    if (Interrupted()) {
      progress.Finish();
      return abandon(interrupted);
    }
    if (!joined.empty() && frameName != shownName) {
      shownName = frameName;
      progress.SetWhat("encoding " + shownName);
      if (r.verbose) {
        progress.Finish();
        std::fprintf(stderr, "orx: reading %s\n", shownName.c_str());
      }
    }
    if (frame.width != width || frame.height != height) {
      progress.Finish();
      return abandon(source->CurrentName() + ": frame " + std::to_string(frames + 1) + " is " +
                     std::to_string(frame.width) + "x" + std::to_string(frame.height) + ", the first frame is " +
                     std::to_string(width) + "x" + std::to_string(height));
    }
    // The next picture gives this one its length when frames keep their times.
    const bool last = r.maxFrames > 0 && frames + 1 >= r.maxFrames;
    const int gotNext = last ? 0 : source->Next(&next);
    std::string nextName = gotNext == 1 ? source->CurrentName() : "";
    sampleDuration = duration;
    if (useTimes && startNs >= 0 && frame.ptsNs >= 0 && gotNext == 1 && next.ptsNs > frame.ptsNs) {
      const int64_t nextTime = int64_t((__int128(next.ptsNs - startNs) * timeScale + 500000000) / 1000000000);
      sampleDuration = int32_t(std::clamp<int64_t>(nextTime - movieTime, 1, INT32_MAX));
    }
    Stopwatch t;
    if (!encoder.Encode(frame.pixels.data(), frame.RowBytes(), movieTime, sampleDuration, &err)) {
      progress.Finish();
      return abandon(r.output + ": " + (sinkError.empty() ? err : "cannot write the movie: " + sinkError));
    }
    codecSeconds += t.Seconds();
    ++frames;
    movieTime += sampleDuration;
    if (placer) {
      std::string e = feedSound(nanos(movieTime), soundFile ? 30000 : 0);
      if (e.empty()) e = checkSound(nanos(movieTime));
      if (!e.empty()) {
        progress.Finish();
        return abandon(Interrupted() ? interrupted : e);
      }
    }
    progress.Update(frames, frameBytes);
    std::swap(frame, next);
    frameName = std::move(nextName);
    got = gotNext;
  }
  progress.Finish();
  if (Interrupted()) return abandon(interrupted);
  // A source that ends early: the frames before the damage are kept only
  // when asked for.
  if (got < 0 && !r.keepPartial)
    return abandon(source->Error() + "; nothing was written (--keep-partial keeps the " + Frames(frames) +
                   " before it)");
  if (got < 0) Warn(source->Error() + "; kept the " + Frames(frames) + " before it in " + r.output);
  // The rest of the sound that goes with the pictures; what lies past the
  // last picture's end is left out.
  if (placer) {
    std::string e = feedSound(nanos(movieTime), 5000);
    if (e.empty()) e = checkSound(nanos(movieTime));
    if (!e.empty()) return abandon(Interrupted() ? interrupted : e);
    placer->DropPending();
    if (!soundLoss.empty()) Warn(soundLoss + "; the movie keeps the sound there is");
    else if (placer->Written() == 0) Warn(sound->Name() + ": no sound within the movie's time; the movie has none");
  }
  const CompressorSettings settings = encoder.Settings();
  encoder.Close();
  if (Interrupted()) return abandon(interrupted);
  s = HostMovieWriterFinishWithError(writer, message, sizeof message);
  writer = nullptr;  // finished or not, the writer is gone
  movieTemp.Release();  // moved into place, removed, or kept under the name the message gives
  if (s != noErr) return Fail(r.output + ": cannot finish the movie: " + (message[0] ? message : StatusText(s)));
  if (!r.quiet) {
    std::string more;
    if (r.choices.smaller > 0)
      more += std::string("; smaller ") + SmallerName(r.choices.smaller) + (settings.skipLZF ? " (no effect without LZF)" : "");
    if (placer && placer->Written() > 0)
      more += "; sound " + SoundWords(sound->Format()) + ", " + seconds(double(placer->Written()) / sound->Format().sampleRate);
    if (converter != nullptr)
      more += "; " + convertedFrom + " converted to " + FormatRate(double(fpsNum) / fpsDen) + " fps: " +
              Frames(converter->Repeated()) + " repeated, " + std::to_string(converter->Dropped()) + " dropped";
    const char* alpha = !settings.preserveAlpha ? "alpha discarded"
                        : sourceAlpha           ? "alpha kept"
                                                : "alpha stored, every pixel opaque";
    PrintSummary(r.output, frames, width, height, frameBytes, timer.Seconds(), codecSeconds, settings, alpha,
                 more);
  }
  return 0;
}

// A batch: each input into FOLDER/NAME.mov, one after another.
int EncodeBatch(const EncodeRequest& r) {
  if (r.source.testClip || r.source.inputs.empty()) return Usage("encode: a folder output takes input files, one movie each");
  return RunBatch(r.output, r.source.inputs, r.quiet, [&r](const std::string& in, const std::string& out) {
    EncodeRequest one = r;
    one.source.inputs = {in};
    one.output = out;
    return EncodeOne(one);
  });
}

}  // namespace

int CmdEncode(int argc, char** argv) {
  Args args(argc, argv, 0);
  if (args.Flag("--help", "-h")) {
    // Longer than stdio's buffer: a failed write is caught here, with its reason.
    if (std::fputs(kEncodeHelp, stdout) == EOF || std::fflush(stdout) != 0)
      return Fail(std::string("standard output: write failed: ") + std::strerror(errno));
    return 0;
  }
  EncodeRequest r;
  if (const std::string usage = ParseEncodeArgs(args, &r); !usage.empty()) return Usage(usage);
  // A folder (a trailing slash, or one that exists) takes a movie an input.
  return IsFolderOutput(r.output) ? EncodeBatch(r) : EncodeOne(r);
}

}  // namespace orxapp
