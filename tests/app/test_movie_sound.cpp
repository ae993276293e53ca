// The sound track of a movie as the orx program meets it damaged: orx info
// and orx decode name the reason they cannot read it and keep the pictures,
// wherever the track lies; tables that disagree are refused rather than
// cut short; footage whose sound track would crash GStreamer's demuxer is
// refused before GStreamer sees it. Every movie is made here: the test
// clip's frames written with a sound track through the host's writer, then
// damaged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "ImageCompression.h"
#include "MovieFile.h"
#include "OrxRun.h"
#include "ProcessRun.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Span {
  size_t start = 0, end = 0;  // the atom's first byte (its size field) and its end
};

uint32_t BE32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}
void PutBE(Bytes* b, size_t at, uint64_t v, int bytes = 4) {
  for (int i = 0; i < bytes; ++i) (*b)[at + size_t(i)] = uint8_t(v >> (8 * (bytes - 1 - i)));
}

// The children of the atom `in` (the whole file when in.end is 0) of a type.
std::vector<Span> Kids(const Bytes& b, Span in, const char* type) {
  std::vector<Span> out;
  const size_t end = in.end ? in.end : b.size();
  for (size_t at = in.end ? in.start + 8 : 0; at + 8 <= end;) {
    const size_t size = BE32(b, at);
    if (size < 8 || at + size > end) break;
    if (std::memcmp(&b[at + 4], type, 4) == 0) out.push_back({at, at + size});
    at += size;
  }
  return out;
}

// The movie atom's tracks, and the one of them that is the sound track.
std::vector<Span> Tracks(const Bytes& b) { return Kids(b, Kids(b, {}, "moov").at(0), "trak"); }
Span SoundTrack(const Bytes& b) {
  for (const Span& t : Tracks(b))
    if (std::search(b.begin() + long(t.start), b.begin() + long(t.end), "smhd", "smhd" + 4) != b.begin() + long(t.end))
      return t;
  return {};
}
// An atom of the sound track by its path under 'trak'.
Span SoundAtom(const Bytes& b, const std::vector<const char*>& path) {
  Span at = SoundTrack(b);
  for (const char* type : path) at = Kids(b, at, type).at(0);
  return at;
}
// Where the sound description starts (its size field).
size_t SoundDescription(const Bytes& b) { return SoundAtom(b, {"mdia", "minf", "stbl", "stsd"}).start + 16; }
size_t SoundTable(const Bytes& b, const char* type) { return SoundAtom(b, {"mdia", "minf", "stbl", type}).start; }

// The movie with its sound track moved before the video track (the chunk
// offsets are absolute, the movie atom last: nothing else moves).
Bytes SoundFirst(const Bytes& b) {
  const std::vector<Span> t = Tracks(b);
  EXPECT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].end, t[1].start);
  Bytes out(b.begin(), b.begin() + long(t[0].start));
  out.insert(out.end(), b.begin() + long(t[1].start), b.begin() + long(t[1].end));
  out.insert(out.end(), b.begin() + long(t[0].start), b.begin() + long(t[0].end));
  out.insert(out.end(), b.begin() + long(t[1].end), b.end());
  return out;
}

class MovieSound : public OrxWorkspace {
 protected:
  // The test clip's 8 frames at 64x48 with 6000 frames of 16-bit stereo
  // sound at 8000 Hz (two chunks: 4000 and 2000 frames), fed between them.
  Bytes MovieWithSound() {
    const RunResult r = Run("encode --test-clip --frames 8 --size 64x48 -q -o " + Q("pictures.mov"));
    EXPECT_EQ(r.status, 0) << r.output;
    HostMovieReaderRef in = nullptr;
    EXPECT_EQ(HostMovieReaderOpen(Path("pictures.mov").c_str(), 0, &in, nullptr, 0), noErr);
    if (in == nullptr) return {};
    HostMovieWriterRef w = nullptr;
    const std::string path = Path("sound.mov");
    EXPECT_EQ(HostMovieWriterCreate(path.c_str(), HostMovieReaderGetImageDescription(in), HostMovieReaderGetTimeScale(in), &w),
              noErr);
    const HostSoundFormat format{8000, 2, kHostSoundInt16};
    EXPECT_EQ(HostMovieWriterAddSoundTrack(w, &format), noErr);
    sound_.resize(6000 * 4);
    for (size_t i = 0; i < sound_.size(); ++i) sound_[i] = uint8_t(i * 7 + i / 251);
    for (SInt32 i = 0; i < 8; ++i) {
      SInt32 size = 0;
      TimeValue duration = 0;
      HostMovieReaderGetSampleInfo(in, i, nullptr, &size, &duration, nullptr);
      Bytes sample(size_t(size > 0 ? size : 0));
      EXPECT_EQ(HostMovieReaderReadSample(in, i, sample.data(), size, &size), noErr);
      EXPECT_EQ(HostMovieWriterAddSample(w, sample.data(), size, duration), noErr);
      EXPECT_EQ(HostMovieWriterAddSound(w, sound_.data() + i * 750 * 4, 750), noErr);
    }
    EXPECT_EQ(HostMovieWriterFinish(w), noErr);
    HostMovieReaderClose(in);
    return ReadAll(path);
  }
  // orx info shows the pictures and the sound line says why it cannot be read.
  void ExpectInfoNamesTheSoundProblem(const std::string& movie, const std::string& why) {
    const RunResult info = Run("info " + Q(movie));
    ASSERT_EQ(info.status, 0) << info.output;
    EXPECT_NE(info.output.find("size      64x48\n"), std::string::npos) << info.output;
    EXPECT_NE(info.output.find("frames    8 at "), std::string::npos) << info.output;
    EXPECT_NE(info.output.find("  sound     cannot be read: " + why + "\n"), std::string::npos) << info.output;
    const RunResult json = Run("info --json " + Q(movie));
    ASSERT_EQ(json.status, 0) << json.output;
    EXPECT_EQ(JsonField(json.output, "sound_problem"), why);
    EXPECT_EQ(json.output.find("\"sound\":"), std::string::npos) << json.output;
  }
  // orx decode -o x.wav fails with the reason and leaves nothing.
  void ExpectWaveRefused(const std::string& movie, const std::string& why) {
    const RunResult wav = Run("decode " + Q(movie) + " -o " + Q("x.wav"));
    EXPECT_EQ(wav.status, 1) << wav.output;
    EXPECT_EQ(wav.output, "orx: " + Path(movie) + ": its sound track cannot be read: " + why + "\n");
    EXPECT_FALSE(Exists(Path("x.wav")));
  }
  Bytes sound_;
};

// ---- Damaged descriptions ---------------------------------------------------------------

TEST_F(MovieSound, DamagedDescriptionsAreNamedAndThePicturesKept) {
  const Bytes good = MovieWithSound();
  ASSERT_FALSE(good.empty());
  const size_t e = SoundDescription(good);
  const double nan = std::nan("");
  uint64_t nanBits;
  std::memcpy(&nanBits, &nan, 8);
  const struct {
    size_t at;
    uint64_t value;
    int bytes;
    const char* why;
  } cases[] = {
      {e + 48, 0, 4, "the sound track has 0 channels (1 to 64)"},
      {e + 48, 65535, 4, "the sound track has 65535 channels (1 to 64)"},
      {e + 56, 7, 4, "the sound track's samples are 7-bit integers (16 or 24 bits)"},
      {e + 40, nanBits, 8, "the sound track's rate is nan Hz (1 to 384000)"},
      {e, 40, 4, "the sound track's version 2 description holds 40 bytes, fewer than 72"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    Bytes m = good;
    PutBE(&m, c.at, c.value, c.bytes);
    WriteAll(Path("d.mov"), m);
    ExpectInfoNamesTheSoundProblem("d.mov", c.why);
    ExpectWaveRefused("d.mov", c.why);
    const RunResult y4m = Run("decode -q -y " + Q("d.mov") + " -o " + Q("d.y4m"));
    EXPECT_EQ(y4m.status, 0) << y4m.output;
  }
}

// ---- Sound tables -----------------------------------------------------------------------

TEST_F(MovieSound, SoundTablesThatDisagreeAreRefusedNotCutShort) {
  const Bytes good = MovieWithSound();
  ASSERT_FALSE(good.empty());
  const RunResult whole = Run("decode -q " + Q("sound.mov") + " -o " + Q("whole.wav"));
  ASSERT_EQ(whole.status, 0) << whole.output;
  const Bytes wav = ReadAll(Path("whole.wav"));
  ASSERT_EQ(wav.size(), 44 + sound_.size());
  EXPECT_TRUE(Bytes(wav.begin() + 44, wav.end()) == sound_);
  EXPECT_NE(Run("info " + Q("sound.mov")).output.find("sound     PCM 16-bit, 8000 Hz, 2 channels, 0.750 s\n"),
            std::string::npos);

  const size_t stco = SoundTable(good, "stco"), stsc = SoundTable(good, "stsc"), stsz = SoundTable(good, "stsz");
  const struct {
    const char* what;
    size_t at;  // stco: count at 12, offsets from 16; stsc: entries from 16; stsz: count at 16
    uint64_t value;
    std::string why;
  } cases[] = {
      {"no chunk offsets", stco + 12, 0, "the sound track's sample-to-chunk table's entry 1 names chunk 1, the track has 0"},
      {"one frame a chunk", stsc + 20, 1, "the sound track's chunks (2) hold 2001 frames, its 'stsz' counts 6000"},
      {"frames the file cannot hold", stsz + 16, 0xFFFFFFFF,
       "the sound track claims 4294967295 frames of 4 bytes, more than the file holds (" + std::to_string(good.size()) +
           " bytes)"},
      {"a chunk past the file", stco + 16, 0xFFFFFF00,
       "sound chunk 1 (16000 bytes from byte 4294967040) runs past the end of the file (" + std::to_string(good.size()) +
           " bytes)"},
      {"chunks from chunk 0", stsc + 16, 0,
       "the sound track's sample-to-chunk table does not start at chunk 1 (it starts at chunk 0)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes m = good;
    PutBE(&m, c.at, c.value);
    WriteAll(Path("t.mov"), m);
    ExpectInfoNamesTheSoundProblem("t.mov", c.why);
    ExpectWaveRefused("t.mov", c.why);
  }
}

// ---- Track order ------------------------------------------------------------------------

TEST_F(MovieSound, ADamagedSoundTrackCostsOnlyTheSoundWhereverItLies) {
  const Bytes written = MovieWithSound();
  ASSERT_FALSE(written.empty());
  const RunResult ref = Run("decode -q " + Q("sound.mov") + " -o " + Q("ref.y4m"));
  ASSERT_EQ(ref.status, 0) << ref.output;
  const Bytes pictures = ReadAll(Path("ref.y4m"));
  for (bool first : {true, false}) {
    const Bytes good = first ? SoundFirst(written) : written;
    const struct {
      const char* atom;  // under the sound track's 'trak'
      std::vector<const char*> path;
      uint32_t size;
      std::string why;
    } cases[] = {
        {"mdia", {"mdia"}, 0,
         std::string("track ") + (first ? "1" : "2") +
             ", damaged before its kind shows: the 'mdia' atom inside 'trak' has size 0"},
        {"stbl", {"mdia", "minf", "stbl"}, 5000, "the 'stbl' atom runs past the end of its parent 'minf'"},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.atom) + (first ? ", sound first" : ", sound last"));
      Bytes m = good;
      PutBE(&m, SoundAtom(good, c.path).start, c.size);
      WriteAll(Path("o.mov"), m);
      ExpectInfoNamesTheSoundProblem("o.mov", c.why);
      ExpectWaveRefused("o.mov", c.why);
      const RunResult y4m = Run("decode -q -y " + Q("o.mov") + " -o " + Q("o.y4m"));
      ASSERT_EQ(y4m.status, 0) << y4m.output;
      EXPECT_TRUE(ReadAll(Path("o.y4m")) == pictures);
    }
  }
}

// ---- Footage for GStreamer --------------------------------------------------------------

// GStreamer's demuxer dies on these (a division by zero for no channels, an
// assertion for the chunk table): orx refuses the file first, as footage
// and as --audio.
TEST_F(MovieSound, FootageWhoseSoundTrackWouldCrashTheDemuxerIsRefusedFirst) {
  const Bytes good = MovieWithSound();
  ASSERT_FALSE(good.empty());
  const struct {
    size_t at;
    const char* why;
  } cases[] = {
      {SoundDescription(good) + 48, "track 2: the sound track has 0 channels"},
      {SoundTable(good, "stsc") + 16,
       "track 2: the sound track's sample-to-chunk table does not start at chunk 1 (it starts at chunk 0)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    Bytes m = good;
    PutBE(&m, c.at, 0);
    WriteAll(Path("f.mov"), m);
    const std::string refusal = "orx: " + Path("f.mov") + ": its sound track is damaged: " + c.why + "\n";
    const RunResult footage = Run("encode " + Q("f.mov") + " -o " + Q("out.mov"));
    EXPECT_EQ(footage.status, 1) << footage.output;
    EXPECT_EQ(footage.output, refusal);
    const RunResult audio = Run("encode --test-clip --frames 2 --size 16x16 --audio " + Q("f.mov") + " -o " + Q("out.mov"));
    EXPECT_EQ(audio.status, 1) << audio.output;
    EXPECT_EQ(audio.output, refusal);
    EXPECT_FALSE(Exists(Path("out.mov")));
  }
}

}  // namespace
