// orx cut and orx join: samples and durations copied exactly, the sound cut
// and joined at the sound frame nearest each picture's time, and the
// refusals that name the file and the difference, leaving nothing behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ImageCompression.h"
#include "MovieFile.h"
#include "OrxRun.h"
#include "ProcessRun.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Track {
  std::vector<Bytes> samples;
  std::vector<TimeValue> durations;
  TimeScale timeScale = 0;
  HostSoundFormat format{};
  std::vector<int32_t> sound;  // each sound frame's number, read from its two channels
  int width = 0, height = 0;
};

Track ReadTrack(const std::string& path) {
  Track t;
  HostMovieReaderRef r = nullptr;
  char message[256] = {};
  EXPECT_EQ(HostMovieReaderOpen(path.c_str(), 0, &r, message, sizeof message), noErr) << path << ": " << message;
  if (r == nullptr) return t;
  t.timeScale = HostMovieReaderGetTimeScale(r);
  t.width = (*HostMovieReaderGetImageDescription(r))->width;
  t.height = (*HostMovieReaderGetImageDescription(r))->height;
  for (SInt32 i = 0; i < HostMovieReaderGetSampleCount(r); ++i) {
    SInt32 size = 0;
    TimeValue duration = 0;
    HostMovieReaderGetSampleInfo(r, i, nullptr, &size, &duration, nullptr);
    Bytes b(static_cast<size_t>(size));
    EXPECT_EQ(HostMovieReaderReadSample(r, i, b.data(), size, &size), noErr);
    t.samples.push_back(b);
    t.durations.push_back(duration);
  }
  SInt64 frames = 0;
  if (HostMovieReaderGetSound(r, &t.format, &frames)) {
    std::vector<uint16_t> pcm(size_t(frames) * 2);
    EXPECT_EQ(HostMovieReaderReadSound(r, 0, SInt32(frames), pcm.data()), noErr);
    for (SInt64 i = 0; i < frames; ++i) t.sound.push_back(int32_t(pcm[size_t(i) * 2] | uint32_t(pcm[size_t(i) * 2 + 1]) << 16));
  }
  HostMovieReaderClose(r);
  return t;
}

class CutJoin : public OrxWorkspace {
 protected:
  // The test clip's frames at w x h under durations of 1001 and 2002 units
  // of 30000 a second, with 44100 Hz stereo sound whose frame n holds n
  // (its low half on the left, its high half on the right) and runs
  // extraFrames past the pictures (fewer when negative).
  void MakeMovie(const std::string& name, int frames, int w, int h, int extraFrames = 0, bool sound = true,
                 UInt32 rate = 44100) {
    const RunResult r = Run("encode --test-clip -y -q --optimize performance --frames " + std::to_string(frames) +
                            " --size " + std::to_string(w) + "x" + std::to_string(h) + " -o " + Q("clip.mov"));
    ASSERT_EQ(r.status, 0) << r.output;
    HostMovieReaderRef in = nullptr;
    ASSERT_EQ(HostMovieReaderOpen(Path("clip.mov").c_str(), 0, &in, nullptr, 0), noErr);
    HostMovieWriterRef wr = nullptr;
    ASSERT_EQ(HostMovieWriterCreate(Path(name).c_str(), HostMovieReaderGetImageDescription(in), 30000, &wr), noErr);
    const HostSoundFormat format{rate, 2, kHostSoundInt16};
    if (sound) {
      ASSERT_EQ(HostMovieWriterAddSoundTrack(wr, &format), noErr);
    }
    int64_t time = 0, soundAt = 0;
    for (SInt32 i = 0; i < frames; ++i) {
      SInt32 size = 0;
      HostMovieReaderGetSampleInfo(in, i, nullptr, &size, nullptr, nullptr);
      Bytes b(static_cast<size_t>(size));
      ASSERT_EQ(HostMovieReaderReadSample(in, i, b.data(), size, &size), noErr);
      const TimeValue d = i % 3 == 2 ? 2002 : 1001;
      ASSERT_EQ(HostMovieWriterAddSample(wr, b.data(), size, d), noErr);
      time += d;
      int64_t until = time * rate / 30000 + (i + 1 == frames ? extraFrames : 0);
      std::vector<uint16_t> pcm;
      for (; soundAt < until; ++soundAt) pcm.insert(pcm.end(), {uint16_t(soundAt), uint16_t(soundAt >> 16)});
      if (sound && !pcm.empty()) {
        ASSERT_EQ(HostMovieWriterAddSound(wr, pcm.data(), SInt32(pcm.size() / 2)), noErr);
      }
    }
    ASSERT_EQ(HostMovieWriterFinish(wr), noErr);
    HostMovieReaderClose(in);
  }
};

// Sound frames at time t of 30000 a second, to the nearest.
int64_t At(int64_t t, int64_t rate = 44100) { return (t * rate + 15000) / 30000; }

TEST_F(CutJoin, CutsTileTheMovieAndJoinBackToItExactly) {
  MakeMovie("src.mov", 40, 64, 48, 300);
  const Track src = ReadTrack(Path("src.mov"));
  ASSERT_EQ(src.samples.size(), 40u);
  std::vector<int64_t> times{0};
  for (TimeValue d : src.durations) times.push_back(times.back() + d);
  // Cut points on frames of either duration, the first and the last frame.
  const std::vector<std::pair<int, int>> cuts{{0, 0}, {1, 13}, {14, 16}, {17, 38}, {39, 39}};
  std::string parts;
  for (size_t k = 0; k < cuts.size(); ++k) {
    const auto [a, b] = cuts[k];
    const std::string name = "part" + std::to_string(k) + ".mov";
    const RunResult r = Run("cut -q src.mov --frames " + std::to_string(a) + "-" + std::to_string(b) + " -o " + name);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "");
    const Track part = ReadTrack(Path(name));
    ASSERT_EQ(part.samples.size(), size_t(b - a + 1)) << name;
    for (int i = a; i <= b; ++i) {
      EXPECT_EQ(part.samples[size_t(i - a)], src.samples[size_t(i)]) << name << " frame " << i;
      EXPECT_EQ(part.durations[size_t(i - a)], src.durations[size_t(i)]) << name << " frame " << i;
    }
    // The sound from the first picture's time to the last one's end; the
    // last part keeps what runs past the pictures.
    const int64_t from = At(times[size_t(a)]), to = b == 39 ? int64_t(src.sound.size()) : At(times[size_t(b) + 1]);
    ASSERT_EQ(part.sound.size(), size_t(to - from)) << name;
    for (int64_t i = 0; i < to - from; ++i) ASSERT_EQ(part.sound[size_t(i)], from + i) << name << " sound frame " << i;
    parts += " " + name;
  }
  const RunResult j = Run("join" + parts + " -o joined.mov");
  ASSERT_EQ(j.status, 0) << j.output;
  EXPECT_NE(j.output.find("joined.mov: 40 frames 64x48 from 5 movies"), std::string::npos) << j.output;
  const Track joined = ReadTrack(Path("joined.mov"));
  EXPECT_EQ(joined.samples, src.samples);
  EXPECT_EQ(joined.durations, src.durations);
  EXPECT_EQ(joined.sound, src.sound);
  EXPECT_EQ(joined.timeScale, 30000);
  // A cut's batch: each input into the folder under its own name.
  ASSERT_EQ(Run("cut -q part1.mov part3.mov --frames 2-4 -o cuts/").status, 0);
  EXPECT_EQ(ReadTrack(Path("cuts/part3.mov")).samples,
            std::vector<Bytes>(src.samples.begin() + 19, src.samples.begin() + 22));
  EXPECT_EQ(ReadTrack(Path("cuts/part1.mov")).samples.size(), 3u);
}

TEST_F(CutJoin, JoinKeepsEachMoviesSoundWithItsPictures) {
  // One movie's sound ends early, the next runs past its pictures: silence
  // fills the first, the second is cut at its last picture's end.
  MakeMovie("short.mov", 6, 64, 48, -500);
  MakeMovie("long.mov", 6, 64, 48, 700);
  const RunResult j = Run("join short.mov long.mov short.mov -o j.mov");
  ASSERT_EQ(j.status, 0) << j.output;
  const Track t = ReadTrack(Path("j.mov"));
  const int64_t b1 = At(8008), b2 = At(2 * 8008);  // where the second and third movies start
  const size_t shortSound = ReadTrack(Path("short.mov")).sound.size(), longSound = ReadTrack(Path("long.mov")).sound.size();
  EXPECT_NE(j.output.find("long.mov: its sound runs " + std::to_string(longSound - size_t(b2 - b1)) + " frames past"),
            std::string::npos) << j.output;
  ASSERT_EQ(t.sound.size(), size_t(b2) + shortSound);
  for (int64_t i = 0; i < int64_t(t.sound.size()); ++i) {
    const int64_t expected = i < b1 ? (i < int64_t(shortSound) ? i : 0) : i < b2 ? i - b1 : i - b2;
    ASSERT_EQ(t.sound[size_t(i)], expected) << "sound frame " << i;
  }
}

TEST_F(CutJoin, RefusalsNameTheFileAndTheDifferenceAndLeaveNothing) {
  MakeMovie("a.mov", 4, 64, 48);
  MakeMovie("wide.mov", 4, 96, 48);
  MakeMovie("quiet.mov", 4, 64, 48, 0, false);
  MakeMovie("rate.mov", 4, 64, 48, 0, true, 48000);
  ASSERT_EQ(Run("encode --test-clip -q --frames 4 --size 64x48 --optimize quality -o q.mov").status, 0);
  struct Case {
    std::string args, words;
    int status;
  } const cases[] = {
      {"join a.mov wide.mov -o out.mov", "wide.mov is 96x48, a.mov 64x48: the movies differ in picture size", 1},
      {"join a.mov quiet.mov -o out.mov", "quiet.mov is without sound, a.mov PCM 16-bit, 44100 Hz, 2 channels", 1},
      {"join a.mov q.mov -o out.mov", "q.mov is DXT24, a.mov DXT1: the movies differ in frame variant", 1},
      {"join a.mov rate.mov -o out.mov", "rate.mov is PCM 16-bit, 48000 Hz, 2 channels, a.mov PCM 16-bit, 44100 Hz", 1},
      {"cut a.mov --frames 2-9 -o out.mov", "a.mov: frames 2-9 asked for, the movie has 4 (0-3)", 1},
      {"cut a.mov --frames 1-2 -o a.mov", "a.mov", 1},
      {"cut a.mov -o out.mov", "no frames to keep", 2},
      {"cut a.mov --frames 3-1 -o out.mov", "--frames: \"3-1\"", 2},
      {"join a.mov -o", "", 2},
      {"join a.mov missing.mov -o out.mov", "missing.mov", 1},
  };
  for (const Case& c : cases) {
    const RunResult r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.output;
    EXPECT_NE(r.output.find(c.words), std::string::npos) << c.args << "\n" << r.output;
    EXPECT_EQ(r.output.find('\n'), r.output.size() - 1) << "one line: " << c.args << "\n" << r.output;
    EXPECT_FALSE(Exists(Path("out.mov"))) << c.args;
  }
  // An existing output is kept without -y and replaced with it.
  ASSERT_EQ(Run("cut -q a.mov --frames 1 -o out.mov").status, 0);
  EXPECT_EQ(Run("cut -q a.mov --frames 2 -o out.mov").status, 1);
  EXPECT_EQ(ReadTrack(Path("out.mov")).samples, std::vector<Bytes>{ReadTrack(Path("a.mov")).samples[1]});
  ASSERT_EQ(Run("cut -q -y a.mov --frames 2 -o out.mov").status, 0);
  EXPECT_EQ(ReadTrack(Path("out.mov")).samples, std::vector<Bytes>{ReadTrack(Path("a.mov")).samples[2]});
  // A movie cut short: refused, and nothing is left of the join.
  Bytes b = ReadAll(Path("a.mov"));
  b.resize(b.size() - 40);
  WriteAll(Path("cut.mov"), b);
  const RunResult r = Run("join a.mov cut.mov -o broken.mov");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("cut.mov"), std::string::npos) << r.output;
  EXPECT_EQ(Shell("ls " + Q("") + " | grep -c broken").output, "0\n");
}

// The README's recipe: frame ranges of one source encoded by two GNU
// parallel workers and joined equal the source encoded at once, sample for
// sample and sound frame for sound frame, at a rate whose frames do not
// fall on whole sound frames.
TEST_F(CutJoin, FrameRangesEncodedApartJoinToASingleEncode) {
#if defined(__SANITIZE_ADDRESS__)
  // The WAV file is read through GStreamer: in the sanitizer builds a block
  // GLib's library constructor made is no longer reachable at exit; it is
  // let pass by the full stack of its allocation.
  const std::string rule = "leak:_dl_init\n";
  WriteAll(Path("glib.supp"), std::vector<uint8_t>(rule.begin(), rule.end()));
  setenv("LSAN_OPTIONS", ("suppressions=" + Path("glib.supp")).c_str(), 1);
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string asanBefore = asan != nullptr ? asan : "";
  setenv("ASAN_OPTIONS", (asanBefore + ":fast_unwind_on_malloc=0").c_str(), 1);
  struct Restore {
    std::string asan;
    ~Restore() {
      unsetenv("LSAN_OPTIONS");
      setenv("ASAN_OPTIONS", asan.c_str(), 1);
    }
  } restore{asanBefore};
#endif
  ASSERT_EQ(Shell("mkdir " + Q("png")).status, 0);
  ASSERT_EQ(Run("encode --test-clip --size 96x64 --frames 40 -q -o clip.mov").status, 0);
  ASSERT_EQ(Run("decode -q clip.mov -o png/f%03d.png").status, 0);
  const RunResult wav = Shell("gst-launch-1.0 -q audiotestsrc wave=white-noise num-buffers=20 samplesperbuffer=4410 ! "
                              "audio/x-raw,format=S16LE,rate=44100,channels=2 ! wavenc ! filesink location=" + Q("noise.wav"));
  ASSERT_EQ(wav.status, 0) << wav.output;
  const std::string encode = "encode -q png/f%03d.png --fps 30000/1001 --audio noise.wav";
  ASSERT_EQ(Run(encode + " -o single.mov").status, 0);
  const RunResult p = Shell("cd '" + dir_ + "' && parallel -j2 --halt now,fail=1 " + Orx() + " " + encode +
                            " --frames {} -o part-{#}.mov ::: 0-16 17-39 && " + Orx() + " join -q part-1.mov part-2.mov -o joined.mov");
  ASSERT_EQ(p.status, 0) << p.output;
  const Track single = ReadTrack(Path("single.mov")), joined = ReadTrack(Path("joined.mov"));
  ASSERT_EQ(single.samples.size(), 40u);
  EXPECT_EQ(joined.samples, single.samples);
  EXPECT_EQ(joined.durations, single.durations);
  ASSERT_GT(single.sound.size(), 40000u);
  EXPECT_EQ(joined.sound, single.sound);
}

}  // namespace
