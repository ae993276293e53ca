// orx cut and orx join: stretches of ORX movies copied into one movie,
// every sample byte for byte with its duration, nothing decoded. Every
// frame is a key frame, so any frame starts a stretch. The sound of each
// stretch goes with it, cut at the sound frame nearest each picture's time.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Batch.h"
#include "Cli.h"
#include "Codec.h"
#include "Commands.h"
#include "MovieInput.h"
#include "SoundPlacer.h"
#include "Stopwatch.h"

namespace orxapp {

namespace {

const char kCutHelp[] =
    "usage: orx cut IN.mov --frames FIRST-LAST -o OUT.mov [options]\n"
    "       orx cut IN.mov... --frames FIRST-LAST -o FOLDER/\n"
    "\n"
    "Copies frames FIRST to LAST of an ORX movie, counted from 0 (10-20, 10-),\n"
    "into a new movie, with the sound that goes with them. Every frame is a key\n"
    "frame: the frames are copied byte for byte with their durations, nothing is\n"
    "decoded, and the sound is cut at the sound frame nearest each cut.\n"
    "With several inputs, or a folder as the output (a trailing slash, or one\n"
    "that exists), each input is cut into FOLDER/NAME.mov; a failed input is\n"
    "reported and the others go on.\n"
    "\n"
    "Options:\n"
    "  -o, --output OUT        the movie (never one of the inputs), or a folder\n"
    "  --frames FIRST-LAST     the frames to keep (5, 10-20, 10-)\n";

const char kJoinHelp[] =
    "usage: orx join A.mov B.mov... -o OUT.mov [options]\n"
    "\n"
    "Puts ORX movies one after another into a new movie. The frames are copied\n"
    "byte for byte with their durations, nothing is decoded; each movie's sound\n"
    "starts with its first picture (a movie whose sound ends early is followed\n"
    "by silence, sound past a movie's last picture is left out, but for the\n"
    "last movie's). The movies must agree in picture size, frame variant (DXT1,\n"
    "DXT5, DXT24, DXT24+alpha), time scale and sound format (or all have no\n"
    "sound); join names the first difference.\n"
    "\n"
    "Options:\n"
    "  -o, --output OUT.mov    the movie (never one of the inputs)\n";

// The options both commands share, after each one's own.
const char kCopyHelp[] =
    "  -y, --overwrite         replace an existing output (-n, --no-overwrite:\n"
    "                          refuse, the default)\n"
    "  -q, --quiet             no summary line\n"
    "  -h, --help              this text\n"
    "\n"
    "Exit status: 0 done, 1 a file was at fault (nothing is left at OUT),\n"
    "2 the command line was wrong.\n";

// One input's frames first to last (inclusive) and what goes with them.
struct Stretch {
  std::string path;
  int first = 0;
  int last = -1;  // -1: to the end
  std::unique_ptr<Movie> movie;
  std::vector<int64_t> times;  // every sample's start, then the track's end
  bool sound = false;
  HostSoundFormat soundFormat{};
  int64_t soundFrames = 0;
  std::string variant;
};

// Sound frames in t units of a time scale, to the nearest.
int64_t SoundFramesAt(int64_t t, uint32_t rate, int64_t timeScale) {
  const __int128 v = __int128(t) * rate;
  return int64_t((v + timeScale / 2) / timeScale);
}

std::string SizeText(ImageDescriptionHandle d) {
  return std::to_string((*d)->width) + "x" + std::to_string((*d)->height);
}

// The fixed fields of a sample description end here; extensions follow.
constexpr size_t kDescriptionFixed = offsetof(ImageDescription, clutID) + sizeof(SInt16);

// Opens s.path and checks its range; "" or the problem.
std::string OpenStretch(Stretch* s) {
  s->movie = std::make_unique<Movie>();
  std::string err;
  if (!OpenMovie(s->path, s->movie.get(), &err)) return err;
  HostMovieReaderRef r = s->movie->reader;
  const SInt32 count = HostMovieReaderGetSampleCount(r);
  if (count <= 0) return s->path + ": the movie has no frames";
  if (s->first >= count || s->last >= count)
    return s->path + ": frames " + std::to_string(s->first) + "-" + (s->last < 0 ? "" : std::to_string(s->last)) +
           " asked for, the movie has " + std::to_string(count) + " (0-" + std::to_string(count - 1) + ")";
  if (s->last < 0) s->last = count - 1;
  s->times.assign(size_t(count) + 1, 0);
  for (SInt32 i = 0; i < count; ++i) {
    SInt64 offset = 0;
    SInt32 size = 0;
    TimeValue duration = 0;
    Boolean sync = 0;
    if (HostMovieReaderGetSampleInfo(r, i, &offset, &size, &duration, &sync) != noErr)
      return s->path + ": frame " + std::to_string(i) + ": no such sample";
    s->times[size_t(i) + 1] = s->times[size_t(i)] + duration;
  }
  SInt64 frames = 0;
  s->sound = HostMovieReaderGetSound(r, &s->soundFormat, &frames);
  s->soundFrames = frames;
  if (!s->sound && *HostMovieReaderGetSoundProblem(r) != '\0')
    return s->path + ": " + HostMovieReaderGetSoundProblem(r) + "; the sound cannot be copied";
  std::vector<uint8_t> frame;
  if (!ReadSample(s->path, r, s->first, &frame, &err)) return err;
  ImageDescriptionHandle d = HostMovieReaderGetImageDescription(r);
  FrameSummary summary;
  if (!SummarizeFrame(frame.data(), frame.size(), (*d)->width, (*d)->height, &summary))
    return s->path + ": frame " + std::to_string(s->first) + " is not an ORX frame";
  s->variant = summary.variant;
  return "";
}

// How b differs from a in what one movie must share; "" when it does not.
std::string Difference(const Stretch& a, const Stretch& b) {
  ImageDescriptionHandle da = HostMovieReaderGetImageDescription(a.movie->reader);
  ImageDescriptionHandle db = HostMovieReaderGetImageDescription(b.movie->reader);
  auto differ = [&](const std::string& what, const std::string& va, const std::string& vb) {
    return b.path + " is " + vb + ", " + a.path + " " + va + ": the movies differ in " + what;
  };
  if ((*da)->width != (*db)->width || (*da)->height != (*db)->height)
    return differ("picture size", SizeText(da), SizeText(db));
  // The frames' variant says whether they carry alpha (the descriptions'
  // depth differs between writers for the same frames).
  if (a.variant != b.variant) return differ("frame variant", a.variant, b.variant);
  const TimeScale ta = HostMovieReaderGetTimeScale(a.movie->reader), tb = HostMovieReaderGetTimeScale(b.movie->reader);
  if (ta != tb)
    return differ("time scale", std::to_string(ta) + " units a second", std::to_string(tb) + " units a second");
  if (a.sound != b.sound)
    return differ("sound", a.sound ? SoundWords(a.soundFormat) : "without sound", b.sound ? SoundWords(b.soundFormat) : "without sound");
  if (a.sound && std::memcmp(&a.soundFormat, &b.soundFormat, sizeof a.soundFormat) != 0)
    return differ("sound format", SoundWords(a.soundFormat), SoundWords(b.soundFormat));
  const size_t ea = size_t(std::max<SInt32>((*da)->idSize, SInt32(kDescriptionFixed))) - kDescriptionFixed;
  const size_t eb = size_t(std::max<SInt32>((*db)->idSize, SInt32(kDescriptionFixed))) - kDescriptionFixed;
  if (ea != eb || std::memcmp(reinterpret_cast<const uint8_t*>(*da) + kDescriptionFixed,
                              reinterpret_cast<const uint8_t*>(*db) + kDescriptionFixed, ea) != 0)
    return b.path + " and " + a.path + " differ in their sample descriptions' extensions (pixel aspect, colour)";
  return "";
}

// Writes the stretches one after another into output; the exit status.
int CopyStretches(std::vector<Stretch>& stretches, const std::string& output, bool overwrite, bool quiet,
                  const char* doing) {
  CatchInterruptions();
  std::vector<std::string> inputs;
  for (Stretch& s : stretches) {
    if (const std::string e = OpenStretch(&s); !e.empty()) return Fail(e);
    inputs.push_back(s.path);
  }
  for (size_t i = 1; i < stretches.size(); ++i)
    if (const std::string e = Difference(stretches[0], stretches[i]); !e.empty()) return Fail(e);
  if (const std::string problem = OutputProblem(output, inputs, overwrite, true); !problem.empty()) return Fail(problem);

  const Stretch& head = stretches[0];
  const TimeScale timeScale = HostMovieReaderGetTimeScale(head.movie->reader);
  HostMovieWriterRef writer = nullptr;
  PartialOutput temp;
  char message[512] = {};
  const OSStatus cs = CreateMovieWriter(output, HostMovieReaderGetImageDescription(head.movie->reader), timeScale,
                                        &writer, message, sizeof message, &temp);
  if (cs != noErr) return Fail(output + ": cannot write the movie: " + (message[0] ? message : StatusText(cs)));
  // However this ends before Finish, the unfinished movie is removed.
  struct AbortUnfinished {
    HostMovieWriterRef& w;
    PartialOutput& temp;
    ~AbortUnfinished() {
      if (w == nullptr) return;
      HostMovieWriterAbort(w);
      temp.Release();
    }
  } abortUnfinished{writer, temp};
  HostMovieWriterSetReplaceExisting(writer, overwrite);
  auto writeFailed = [&](const std::string& what) {
    return Fail(output + ": " + what + ": " + HostMovieWriterGetErrorMessage(writer) + "; nothing was written");
  };
  const bool sound = head.sound;
  const HostSoundFormat format = head.soundFormat;
  const uint32_t frameBytes = sound ? HostSoundBytesPerFrame(&format) : 0;
  if (sound && HostMovieWriterAddSoundTrack(writer, &format) != noErr) return writeFailed("cannot store the sound");

  int64_t total = 0;
  for (const Stretch& s : stretches) total += s.last - s.first + 1;
  Progress progress(doing, total);
  Stopwatch timer;
  std::vector<uint8_t> sample, pcm;
  int64_t outTime = 0, done = 0, soundOut = 0;
  uint64_t bytes = 0;
  std::string err;
  for (size_t k = 0; k < stretches.size(); ++k) {
    const Stretch& s = stretches[k];
    HostMovieReaderRef r = s.movie->reader;
    const bool lastStretch = k + 1 == stretches.size();
    // The stretch's sound in its own movie: from its first picture's time to
    // its last picture's end, or to the sound's end when the stretch ends
    // the movie.
    int64_t soundAt = 0, soundEnd = 0;
    if (sound) {
      soundAt = std::min(SoundFramesAt(s.times[size_t(s.first)], format.sampleRate, timeScale), s.soundFrames);
      soundEnd = size_t(s.last) + 2 == s.times.size() ? s.soundFrames
                                                      : SoundFramesAt(s.times[size_t(s.last) + 1], format.sampleRate, timeScale);
      soundEnd = std::max(soundAt, std::min(soundEnd, s.soundFrames));
    }
    // Sound up to output frame `until`: the stretch's own while it lasts,
    // silence after it.
    auto feed = [&](int64_t until) -> bool {
      while (soundOut < until) {
        const int64_t n = std::min<int64_t>(until - soundOut, 65536);
        const int64_t own = std::min(n, soundEnd - soundAt);
        pcm.assign(size_t(n) * frameBytes, 0);
        if (own > 0 && HostMovieReaderReadSound(r, soundAt, SInt32(own), pcm.data()) != noErr) {
          err = s.path + ": sound frames " + std::to_string(soundAt) + "-" + std::to_string(soundAt + own - 1) + ": " +
                HostMovieReaderGetErrorMessage(r);
          return false;
        }
        if (HostMovieWriterAddSound(writer, pcm.data(), SInt32(n)) != noErr) {
          err = output + ": " + HostMovieWriterGetErrorMessage(writer);
          return false;
        }
        soundAt += std::max<int64_t>(own, 0);
        soundOut += n;
      }
      return true;
    };
    for (int i = s.first; i <= s.last; ++i) {
      if (Interrupted()) return Fail(output + ": interrupted; nothing was written");
      if (!ReadSample(s.path, r, i, &sample, &err)) return Fail(err + "; nothing was written");
      const TimeValue duration = TimeValue(s.times[size_t(i) + 1] - s.times[size_t(i)]);
      if (HostMovieWriterAddSample(writer, sample.data(), SInt32(sample.size()), duration) != noErr)
        return writeFailed("frame " + std::to_string(done));
      bytes += sample.size();
      outTime += duration;
      ++done;
      const bool end = i == s.last;
      // The last stretch keeps all of its sound; the others end at their
      // last picture's end, where the next one's sound starts.
      if (sound && !feed(end && lastStretch ? soundOut + (soundEnd - soundAt)
                                            : SoundFramesAt(outTime, format.sampleRate, timeScale)))
        return Fail(err + "; nothing was written");
      progress.Update(done, bytes);
    }
    // Sound a stretch has past its last picture: the next stretch's sound
    // starts there (a frame either way is the rounding of the two times).
    if (sound && !lastStretch && soundEnd - soundAt > 1 && !quiet)
      Warn(s.path + ": its sound runs " + std::to_string(soundEnd - soundAt) + " frames past its last picture; the " +
           "movie leaves them out to keep the next one in step");
  }
  progress.Finish();
  if (Interrupted()) return Fail(output + ": interrupted; nothing was written");
  const OSStatus fs = HostMovieWriterFinishWithError(writer, message, sizeof message);
  writer = nullptr;  // finished or not, the writer is gone
  temp.Release();    // moved into place, removed, or kept under the name the message gives
  if (fs != noErr) return Fail(output + ": cannot finish the movie: " + (message[0] ? message : StatusText(fs)));
  const double seconds = timer.Seconds();
  if (!quiet) {
    std::string more;
    if (sound) more = "; sound " + SoundWords(format) + ", " + std::to_string(soundOut) + " frames";
    std::printf("%s: %s %s from %s, %s copied at %.0f MB/s%s\n", output.c_str(), Frames(done).c_str(),
                SizeText(HostMovieReaderGetImageDescription(head.movie->reader)).c_str(),
                stretches.size() == 1 ? head.path.c_str() : (std::to_string(stretches.size()) + " movies").c_str(),
                HumanBytes(bytes).c_str(), seconds > 0 ? double(bytes) / seconds / 1e6 : 0.0, more.c_str());
  }
  return 0;
}

// The options cut and join share; a usage problem or "".
struct CopyOptions {
  std::string output;
  bool overwrite = false, quiet = false;
  std::vector<std::string> inputs;
};
std::string ParseCopyArgs(Args& args, CopyOptions* o) {
  std::string err;
  o->quiet = args.Flag("--quiet", "-q");
  o->overwrite = args.Either("--overwrite", "-y", "--no-overwrite", "-n") == 1;
  if (!args.Value("--output", "-o", &o->output, &err) && !err.empty()) return err;
  return "";
}

int PrintHelp(const char* text) {
  if (std::fputs(text, stdout) == EOF || std::fputs(kCopyHelp, stdout) == EOF || std::fflush(stdout) != 0)
    return Fail(std::string("standard output: write failed: ") + std::strerror(errno));
  return 0;
}

}  // namespace

int CmdCut(int argc, char** argv) {
  Args args(argc, argv, 0);
  if (args.Flag("--help", "-h")) return PrintHelp(kCutHelp);
  CopyOptions o;
  std::string err, range;
  if (std::string e = ParseCopyArgs(args, &o); !e.empty()) return Usage(e);
  int first = 0, last = -1;
  const bool hasRange = args.Value("--frames", nullptr, &range, &err);
  if (!err.empty()) return Usage(err);
  if (hasRange && !ParseFrameRange(range, &first, &last))
    return Usage("--frames: \"" + range + "\" is not a range such as 5, 10-20 or 10-");
  if (!args.Positionals(&o.inputs, &err)) return Usage(err);
  if (o.inputs.empty()) return Usage("cut: no input movie (see orx cut --help)");
  if (!hasRange) return Usage("cut: no frames to keep (--frames FIRST-LAST)");
  if (o.output.empty()) return Usage("cut: no output movie (-o OUT.mov)");
  auto cutOne = [&](const std::string& in, const std::string& out) {
    std::vector<Stretch> one(1);
    one[0].path = in;
    one[0].first = first;
    one[0].last = last;
    return CopyStretches(one, out, o.overwrite, o.quiet, "cutting");
  };
  if (o.inputs.size() > 1 || IsFolderOutput(o.output)) return RunBatch(o.output, o.inputs, o.quiet, cutOne);
  return cutOne(o.inputs[0], o.output);
}

int CmdJoin(int argc, char** argv) {
  Args args(argc, argv, 0);
  if (args.Flag("--help", "-h")) return PrintHelp(kJoinHelp);
  CopyOptions o;
  std::string err;
  if (std::string e = ParseCopyArgs(args, &o); !e.empty()) return Usage(e);
  if (!args.Positionals(&o.inputs, &err)) return Usage(err);
  if (o.inputs.empty()) return Usage("join: no input movies (see orx join --help)");
  if (o.output.empty()) return Usage("join: no output movie (-o OUT.mov)");
  if (IsFolderOutput(o.output)) return Usage(o.output + ": join writes one movie, not a folder");
  std::vector<Stretch> stretches(o.inputs.size());
  for (size_t i = 0; i < o.inputs.size(); ++i) stretches[i].path = o.inputs[i];
  return CopyStretches(stretches, o.output, o.overwrite, o.quiet, "joining");
}

}  // namespace orxapp
