// Hostile input and interruption: the orx program (and its readers) given
// lengths that overrun their fields, sizes no input could back, footage
// whose sound lies far from its pictures, frame rates at the edges of 32
// bits, FIFOs where files belong, preferences that cannot be stored, and
// signals in the middle of the work or while a source keeps silent.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ImageIO.h"
#include "ImageCompression.h"
#include "MacMemory.h"
#include "MovieFile.h"
#include "OrxRun.h"
#include "ProcessRun.h"

extern char** environ;

namespace {



// The sanitizer builds reserve far more address space than any limit here.
bool Sanitized() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;
#else
  return false;
#endif
}

// Offset of the first atom of the given type (of its size field), or npos.
size_t FindAtom(const std::vector<uint8_t>& b, const char* type) {
  for (size_t i = 4; i + 4 <= b.size(); ++i)
    if (std::memcmp(&b[i], type, 4) == 0) return i - 4;
  return std::string::npos;
}

void PutBE32(std::vector<uint8_t>* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
}


bool ValidUTF8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = uint8_t(s[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((uint8_t(s[i + k]) >> 6) != 2) return false;
    i += n;
  }
  return true;
}

class Hostile : public OrxWorkspace {
 protected:
  // orx with the arguments; limitKB > 0 caps its address space (normal
  // build only), so a frame-sized allocation fails instead of passing.
  RunResult Run(const std::string& args, long limitKB = 0) const {
    const std::string limit = limitKB > 0 && !Sanitized() ? "ulimit -v " + std::to_string(limitKB) + "; " : "";
    return Shell("sh -c \"" + limit + "timeout -k 10 60 " + Orx() + " " + args + "\"");
  }
  // The movie of the trial: 8 frames of the test clip at 64x48.
  std::vector<uint8_t> SmallMovie(const std::string& name) {
    const RunResult r = Run("encode --test-clip --frames 8 --size 64x48 -q -o " + Q(name));
    EXPECT_EQ(r.status, 0) << r.output;
    return ReadAll(Path(name));
  }
  // Offset of the sample description's data-format field ('ORXV').
  static size_t DescriptionAt(const std::vector<uint8_t>& movie) {
    const std::string s(movie.begin(), movie.end());
    return s.rfind("ORXV");
  }
  // A YUV4MPEG2 stream of three grey 8x8 4:4:4 frames at the given rate.
  void GreyStream(const std::string& name, const std::string& rate) {
    std::string s = "YUV4MPEG2 W8 H8 F" + rate + " C444\n";
    for (int f = 0; f < 3; ++f) s += "FRAME\n" + std::string(8 * 8 * 3, char(128));
    WriteAll(Path(name), std::vector<uint8_t>(s.begin(), s.end()));
  }
};

// ---- Lengths read from files ----------------------------------------------------------

TEST_F(Hostile, CompressorNameIsClampedToItsFieldAndGivenAsUTF8) {
  std::vector<uint8_t> m = SmallMovie("q.mov");
  const size_t i = DescriptionAt(m);
  ASSERT_NE(i, std::string::npos);
  // A length byte of 255 over a 32-byte field, and Mac OS Roman letters.
  m[i + 46] = 255;
  const uint8_t name[] = {0xA5, 0x8E, 'O', 'R', 'X'};  // bullet, e acute
  std::memcpy(&m[i + 47], name, sizeof name);
  WriteAll(Path("n.mov"), m);
  const RunResult r = Run("info " + Q("n.mov") + " --json");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(ValidUTF8(r.output));
  EXPECT_EQ(JsonField(r.output, "compressor_name"), "\u2022\u00e9ORX");
  // The text form names it the same way and prints nothing of the heap.
  const RunResult t = Run("info " + Q("n.mov"));
  EXPECT_NE(t.output.find("\"\u2022\u00e9ORX\""), std::string::npos) << t.output;
  EXPECT_EQ(t.output.find('\0'), std::string::npos);
}

TEST_F(Hostile, TestClipAndDemoDrawAtEverySmallSize) {
  for (const char* size : {"1x1", "2x2", "3x3", "1x720", "720x1", "5x3"}) {
    const RunResult r = Run(std::string("encode --test-clip --frames 2 -q -y --size ") + size + " -o " + Q("c.mov"));
    EXPECT_EQ(r.status, 0) << size << ": " << r.output;
  }
  const RunResult d = Run("demo --size 3x3 --frames 2 --out " + Q("demo"));
  EXPECT_EQ(d.status, 0) << d.output;
  for (const char* f : {"quality.mov", "performance.mov", "vovorevaded.mov", "quality-alpha.mov"})
    EXPECT_TRUE(Exists(Path(std::string("demo/") + f))) << f;
  EXPECT_EQ(Shell("ls " + Q("demo") + " | grep -c partial").output, "0\n");
}

// ---- Allocations sized from untrusted input --------------------------------------------

constexpr long kLimitKB = 1500000;  // far below the 4 GiB a 32767x32767 frame needs

TEST_F(Hostile, AFrameSizeTheFramesCannotBackCostsNoFrameSizedMemory) {
  std::vector<uint8_t> m = SmallMovie("q.mov");
  const size_t i = DescriptionAt(m);
  ASSERT_NE(i, std::string::npos);
  for (int k = 28; k < 32; ++k) m[i + size_t(k)] = k % 2 ? 0xFF : 0x7F;  // 32767x32767
  WriteAll(Path("big.mov"), m);
  for (const std::string out : {"x.y4m", "x.argb", "f%03d.png"}) {
    const RunResult r = Run("decode " + Q("big.mov") + " -o " + Q(out), kLimitKB);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("frame 0 is not an ORX frame of 32767x32767: block data is shorter"), std::string::npos)
        << r.output;
  }
  EXPECT_EQ(Run("info " + Q("big.mov"), kLimitKB).status, 0);

  // Raw ARGB claimed by --size: a file, and the same bytes on standard input.
  WriteAll(Path("h.raw"), std::vector<uint8_t>(100, 0));
  RunResult r = Run("encode --size 32767x32767 " + Q("h.raw") + " -o " + Q("h.mov"), kLimitKB);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("100 bytes are not a whole number of 32767x32767 ARGB frames"), std::string::npos) << r.output;
  r = Shell("cat " + Q("h.raw") + " | sh -c \"" + std::string(Sanitized() ? "" : "ulimit -v 1500000; ") + Orx() +
            " encode --size 32767x32767 - -o " + Q("h.mov") + "\"");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("truncated frame 1: 100 of 4294705156 bytes"), std::string::npos) << r.output;
  // A YUV4MPEG2 header claiming 16384x16384 over three bytes of frame.
  const std::string y4m = "YUV4MPEG2 W16384 H16384 F25:1\nFRAME\nabc";
  WriteAll(Path("big.y4m"), std::vector<uint8_t>(y4m.begin(), y4m.end()));
  r = Run("encode - -o " + Q("y.mov") + " < " + Q("big.y4m"), kLimitKB);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("standard input: truncated frame 1"), std::string::npos) << r.output;
  EXPECT_FALSE(Exists(Path("h.mov")) || Exists(Path("y.mov")));
}

// A DXT1 frame of zeros marked LZF for a side x side picture, as long as the
// 88:1 bound asks (6.1 MB at 32767): its header passes the frame check, but
// zeros are one-byte literal runs and unpack to half their length.
std::vector<uint8_t> ZerosMarkedLZF(int side) {
  const int64_t blocks = int64_t{(side + 3) / 4} * ((side + 3) / 4) * 8;
  const auto dataSize = uint32_t((blocks + 87) / 88);
  std::vector<uint8_t> frame(28 + dataSize, 0);
  frame[0] = 28;  // headerSize
  frame[4] = 1;   // version
  frame[6] = 1;   // isLZF
  for (int i = 0; i < 4; ++i) frame[16 + size_t(i)] = uint8_t(dataSize >> (8 * i));
  return frame;
}

// A movie of side x side whose one frame is that frame; the movie writer
// takes any bytes as a sample.
void WriteZerosMovie(const std::string& path, int side) {
  ImageDescriptionHandle d =
      HostNewImageDescription(FOUR_CHAR_CODE('O', 'R', 'X', 'V'), SInt16(side), SInt16(side), "ORX");
  ASSERT_NE(d, nullptr);
  HostMovieWriterRef w = nullptr;
  ASSERT_EQ(HostMovieWriterCreate(path.c_str(), d, 600, &w), noErr);
  DisposeHandle(reinterpret_cast<Handle>(d));
  const std::vector<uint8_t> frame = ZerosMarkedLZF(side);
  ASSERT_EQ(HostMovieWriterAddSample(w, frame.data(), SInt32(frame.size()), 20), noErr);
  ASSERT_EQ(HostMovieWriterFinish(w), noErr);
}

// A frame of the largest picture whose packed data cannot fill it is refused
// for that before anything is sized for the picture: every output, under an
// address-space limit far below the 4 GiB its destination would take.
TEST_F(Hostile, ADamagedPackedFrameOfAHugePictureCostsNoFrameSizedMemory) {
  WriteZerosMovie(Path("z.mov"), 32767);
  for (const std::string out : {"x.argb", "x.y4m", "f%03d.png", "/dev/null"}) {
    const RunResult r = Run("decode " + Q("z.mov") + " -o " + (out[0] == '/' ? out : Q(out)), kLimitKB);
    EXPECT_EQ(r.status, 1) << out << ": " << r.output;
    EXPECT_NE(r.output.find("z.mov: frame 0 is not an ORX frame of 32767x32767: packed block data does not unpack "
                            "to the image's blocks"),
              std::string::npos)
        << out << ": " << r.output;
  }
}

// ---- Write errors ------------------------------------------------------------------------

// Every output form on a full device fails with the write error, and leaves
// the device as it was: a YUV4MPEG2 stream on standard output small enough
// to stay in its buffer until the final flush, and PNG, YUV4MPEG2, raw and
// WAV outputs named through links to /dev/full.
TEST_F(Hostile, OutputsOnAFullDeviceFailWithTheWriteError) {
  struct stat full {};
  if (stat("/dev/full", &full) != 0 || !S_ISCHR(full.st_mode)) GTEST_SKIP() << "no /dev/full here";
  ASSERT_EQ(Run("encode --test-clip --frames 1 --size 4x4 -q -o " + Q("v.mov")).status, 0);
  // The same frame in a movie with a tenth of a second of 16-bit stereo sound.
  HostMovieReaderRef reader = nullptr;
  ASSERT_EQ(HostMovieReaderOpen(Path("v.mov").c_str(), 0, &reader, nullptr, 0), noErr);
  std::vector<uint8_t> frame(size_t(HostMovieReaderGetMaxSampleSize(reader)));
  SInt32 got = 0;
  ASSERT_EQ(HostMovieReaderReadSample(reader, 0, frame.data(), SInt32(frame.size()), &got), noErr);
  HostMovieReaderClose(reader);
  ImageDescriptionHandle d = HostNewImageDescription(FOUR_CHAR_CODE('O', 'R', 'X', 'V'), 4, 4, "ORX");
  HostMovieWriterRef w = nullptr;
  ASSERT_EQ(HostMovieWriterCreate(Path("s.mov").c_str(), d, 600, &w), noErr);
  DisposeHandle(reinterpret_cast<Handle>(d));
  const HostSoundFormat format{48000, 2, kHostSoundInt16};
  ASSERT_EQ(HostMovieWriterAddSoundTrack(w, &format), noErr);
  ASSERT_EQ(HostMovieWriterAddSample(w, frame.data(), got, 600), noErr);
  const std::vector<uint8_t> sound(4800 * 4, 0x11);
  ASSERT_EQ(HostMovieWriterAddSound(w, sound.data(), 4800), noErr);
  ASSERT_EQ(HostMovieWriterFinish(w), noErr);

  const RunResult piped = Run("decode " + Q("v.mov") + " -o - > /dev/full");
  EXPECT_EQ(piped.status, 1) << piped.output;
  EXPECT_NE(piped.output.find("write failed: No space left on device"), std::string::npos) << piped.output;
  for (const std::string out : {"f.png", "x.y4m", "x.argb", "s.wav"}) {
    ASSERT_EQ(symlink("/dev/full", Path(out).c_str()), 0);
    const RunResult r = Run("decode " + Q(out == "s.wav" ? "s.mov" : "v.mov") + " -o " + Q(out));
    EXPECT_EQ(r.status, 1) << out << ": " << r.output;
    EXPECT_NE(r.output.find(out + ": write failed: No space left on device"), std::string::npos)
        << out << ": " << r.output;
    struct stat st {};
    EXPECT_TRUE(stat(Path(out).c_str(), &st) == 0 && S_ISCHR(st.st_mode)) << out;
  }
  // Reports, summaries and help on a full standard output fail the run too.
  const std::vector<std::string> reporting = {"info " + Q("v.mov"), "info --json " + Q("v.mov"), "--version",
                                              "encode --help", "encode --test-clip --frames 1 --size 4x4 -y -o " + Q("w.mov")};
  for (const std::string& args : reporting) {
    const RunResult r = Run(args + " > /dev/full");
    EXPECT_EQ(r.status, 1) << args << ": " << r.output;
    EXPECT_NE(r.output.find("standard output: write failed: No space left on device"), std::string::npos)
        << args << ": " << r.output;
  }
}

// Footage whose sound lies far from its pictures costs no memory for the
// distance: sound 10^6 s after them (its lead-in silence is counted, not
// stored), and 40 s of 384 kHz 8-channel sound before the first of them
// (dropped as it comes, never queued). Neither leaves anything but the
// movie behind.
TEST_F(Hostile, FootageSoundFarFromItsPicturesCostsNoMemoryForTheDistance) {
  constexpr long kFootageLimitKB = 800000;  // GStreamer's threads included; 40 s of that sound decode to 1.4 GB
  // Once GStreamer has started, a block GLib's library constructor made is
  // no longer reachable at exit; the sanitizer builds let that one pass,
  // found by the full stack of its allocation (GLib keeps no frame pointers).
  if (Sanitized()) {
    const std::string rule = "leak:_dl_init\n";
    WriteAll(Path("glib.supp"), std::vector<uint8_t>(rule.begin(), rule.end()));
    setenv("LSAN_OPTIONS", ("suppressions=" + Path("glib.supp")).c_str(), 1);
  }
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string asanBefore = asan != nullptr ? asan : "";
  if (Sanitized()) setenv("ASAN_OPTIONS", (asanBefore + ":fast_unwind_on_malloc=0").c_str(), 1);
  const std::string video = " ! video/x-raw,format=I420,width=32,height=32,framerate=30/1 ! vp8enc ! matroskamux name=m";
  ASSERT_EQ(Shell("gst-launch-1.0 -q videotestsrc num-buffers=3" + video + " ! filesink location=" + Q("late.mkv") +
                  " audiotestsrc num-buffers=10 timestamp-offset=1000000000000000 ! "
                  "audio/x-raw,rate=44100,channels=2 ! vorbisenc ! m.")
                .status,
            0);
  ASSERT_EQ(Shell("gst-launch-1.0 -q videotestsrc num-buffers=3 timestamp-offset=40000000000" + video +
                  " ! filesink location=" + Q("early.mkv") +
                  " audiotestsrc wave=silence num-buffers=41 samplesperbuffer=384000 ! "
                  "audio/x-raw,format=S24LE,rate=384000,channels=8 ! flacenc quality=0 ! m.")
                .status,
            0);
  const RunResult late = Run("encode -q " + Q("late.mkv") + " -o " + Q("late.mov"), kFootageLimitKB);
  EXPECT_EQ(late.status, 0) << late.output;
  const RunResult early = Run("encode -q " + Q("early.mkv") + " -o " + Q("early.mov"), kFootageLimitKB);
  EXPECT_EQ(early.status, 0) << early.output;
  EXPECT_NE(Run("info " + Q("early.mov")).output.find("sound     PCM 24-bit, 384000 Hz, 8 channels"), std::string::npos);
  EXPECT_EQ(Shell("ls -A " + Q("") + " | grep -c partial").output, "0\n");
  if (Sanitized()) {
    unsetenv("LSAN_OPTIONS");
    asan != nullptr ? setenv("ASAN_OPTIONS", asanBefore.c_str(), 1) : unsetenv("ASAN_OPTIONS");
  }
}

TEST_F(Hostile, InfoOnATableOfMillionsOfTinySamplesKeepsNoRowPerSample) {
  // Two one-byte samples, then the tables rewritten to claim N samples of
  // one byte in one chunk, and the file extended so that they fit in it.
  ImageDescriptionHandle d = HostNewImageDescription(FOUR_CHAR_CODE('O', 'R', 'X', 'V'), 16, 16, "ORX");
  ASSERT_NE(d, nullptr);
  HostMovieWriterRef w = nullptr;
  ASSERT_EQ(HostMovieWriterCreate(Path("t.mov").c_str(), d, 600, &w), noErr);
  DisposeHandle(reinterpret_cast<Handle>(d));
  const uint8_t byte = 0;
  ASSERT_EQ(HostMovieWriterAddSample(w, &byte, 1, 25), noErr);
  ASSERT_EQ(HostMovieWriterAddSample(w, &byte, 1, 25), noErr);
  ASSERT_EQ(HostMovieWriterFinish(w), noErr);
  std::vector<uint8_t> m = ReadAll(Path("t.mov"));
  const uint32_t n = 20000000;
  const size_t stsz = FindAtom(m, "stsz"), stts = FindAtom(m, "stts"), stsc = FindAtom(m, "stsc"),
               stco = FindAtom(m, "stco");
  ASSERT_TRUE(stsz != std::string::npos && stts != std::string::npos && stsc != std::string::npos &&
              stco != std::string::npos);
  ASSERT_EQ(m[stsz + 15], 1);  // uniform size 1
  PutBE32(&m, stsz + 16, n);
  PutBE32(&m, stts + 16, n);
  PutBE32(&m, stsc + 20, n);
  PutBE32(&m, stco + 12, 1);
  WriteAll(Path("t.mov"), m);
  ASSERT_EQ(truncate(Path("t.mov").c_str(), off_t(n) + 4096), 0);
  const RunResult r = Run("info " + Q("t.mov") + " --json", 400000);  // 56 bytes a claimed row would need 1.1 GB
  ASSERT_EQ(r.status, 0) << r.output.substr(0, 400);
  EXPECT_EQ(JsonField(r.output, "frames"), std::to_string(n));
  EXPECT_EQ(JsonField(r.output, "stored_bytes"), std::to_string(n));
  // Decoding stops at the first sample, which cannot be a frame.
  const RunResult dec = Run("decode " + Q("t.mov") + " -o " + Q("t.argb"));
  EXPECT_NE(dec.output.find("frame 0 is not an ORX frame of 16x16"), std::string::npos) << dec.output;
}

TEST_F(Hostile, APNGHeaderClaimingMoreThanItsBytesIsRefused) {
  // A real 2x2 PNG whose header is changed to 16384x16384 (the CRC made
  // right again, so only the size is wrong).
  std::vector<uint8_t> png;
  const uint8_t argb[16] = {255, 1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255, 10, 11, 12};
  std::string e;
  ASSERT_TRUE(orxapp::EncodePNG(&png, argb, 2, 2, 8, false, &e)) << e;
  const uint32_t side = 16384;
  for (size_t at : {size_t(16), size_t(20)}) PutBE32(&png, at, side);
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t k = 12; k < 29; ++k) {
    crc ^= png[k];
    for (int b = 0; b < 8; ++b) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  PutBE32(&png, 29, ~crc);
  orxapp::ImageARGB img;
  EXPECT_FALSE(orxapp::ReadPNGFromMemory(png.data(), png.size(), &img, &e));
  EXPECT_NE(e.find("cannot hold a 16384x16384 image"), std::string::npos) << e;
  EXPECT_TRUE(img.pixels.empty());
}

// ---- Frame rates as fractions -----------------------------------------------------------

TEST_F(Hostile, FrameRatesSurviveEncodeInfoAndDecodeExactly) {
  struct Case {
    const char* y4m;
    const char* kept;
  };
  const Case cases[] = {{"1001:1", "1001/1"}, {"2000:1", "2000/1"},           {"1:3", "1/3"},
                        {"30000:1001", "30000/1001"}, {"1:3579140", "1/3579140"}, {"7:1000000000", "7/1000000000"},
                        {"50:2", "25/1"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.y4m);
    GreyStream("r.y4m", c.y4m);
    const RunResult enc = Run("encode " + Q("r.y4m") + " -q -y -o " + Q("r.mov"));
    ASSERT_EQ(enc.status, 0) << enc.output;
    const RunResult info = Run("info " + Q("r.mov") + " --json");
    EXPECT_EQ(JsonField(info.output, "frame_rate"), c.kept) << info.output;
    EXPECT_GT(std::atoll(JsonField(info.output, "duration").c_str()), 0);
    const RunResult dec = Run("decode " + Q("r.mov") + " -q -y -o " + Q("back.y4m"));
    ASSERT_EQ(dec.status, 0) << dec.output;
    std::string rate = c.kept;
    rate[rate.find('/')] = ':';
    const std::vector<uint8_t> back = ReadAll(Path("back.y4m"));
    EXPECT_NE(std::string(back.begin(), back.end()).find(" F" + rate + " "), std::string::npos);
  }
  // --fps as a decimal is read exactly; a rate that is no rate is refused.
  for (const auto& [fps, kept] : {std::pair{"0.0004", "1/2500"}, {"29.97", "30000/1001"}, {"12.5", "25/2"}}) {
    const RunResult enc = Run(std::string("encode --test-clip --size 8x8 --frames 2 -q -y --fps ") + fps + " -o " + Q("f.mov"));
    ASSERT_EQ(enc.status, 0) << enc.output;
    EXPECT_EQ(JsonField(Run("info " + Q("f.mov") + " --json").output, "frame_rate"), kept) << fps;
  }
  for (const char* bad : {"0", "0.0", "0.0000000001", "-3", "1001", "3/0", "x"}) {
    const RunResult r = Run(std::string("encode --test-clip --size 8x8 --frames 2 -q --fps ") + bad + " -o " + Q("g.mov"));
    EXPECT_NE(r.status, 0) << bad;
    EXPECT_NE(r.output.find("--fps"), std::string::npos) << r.output;
  }
}

// ---- File types ---------------------------------------------------------------------------

TEST_F(Hostile, FIFOsAreRefusedOrStreamedNeverWaitedOn) {
  ASSERT_EQ(mkfifo(Path("f.mov").c_str(), 0600), 0);
  for (const std::string& cmd : {"info " + Q("f.mov"), "decode " + Q("f.mov") + " -o " + Q("o.y4m")}) {
    const RunResult r = Run(cmd);
    EXPECT_EQ(r.status, 1) << cmd << ": " << r.output;  // timeout would exit 124
    EXPECT_NE(r.output.find("not a regular file"), std::string::npos) << r.output;
  }
  // A FIFO where the preferences live is not read: the defaults stand.
  ASSERT_EQ(Shell("mkdir -p " + Q("prefs")).status, 0);
  ASSERT_EQ(mkfifo(Path("prefs/ORXPreferences.dat").c_str(), 0600), 0);
  EXPECT_EQ(Run("settings --show").status, 0);
  EXPECT_EQ(Run("encode --test-clip --size 8x8 --frames 1 -q -o " + Q("p.mov")).status, 0);
  // A FIFO in a PNG sequence is named, not opened for reading.
  const uint8_t px[4] = {255, 1, 2, 3};
  std::string e;
  ASSERT_TRUE(orxapp::WritePNG(Path("s0000.png"), px, 1, 1, 4, false, &e)) << e;
  ASSERT_EQ(mkfifo(Path("s0001.png").c_str(), 0600), 0);
  const RunResult seq = Run("encode " + Q("s%04d.png") + " -o " + Q("s.mov"));
  EXPECT_EQ(seq.status, 1);
  EXPECT_NE(seq.output.find("s0001.png: not a regular file"), std::string::npos) << seq.output;
  // A FIFO named for the sound, or as footage through a file:// URI, is
  // refused before anything opens it.
  ASSERT_EQ(mkfifo(Path("sound.wav").c_str(), 0600), 0);
  for (const std::string& cmd : {"encode --test-clip --size 8x8 --frames 1 --audio " + Q("sound.wav") + " -o " + Q("a.mov"),
                                 "encode file://" + Q("sound.wav") + " -o " + Q("a.mov")}) {
    const RunResult r = Run(cmd);
    EXPECT_EQ(r.status, 1) << cmd << ": " << r.output;
    EXPECT_NE(r.output.find("sound.wav: not a regular file (only a YUV4MPEG2 stream may come through a FIFO)"),
              std::string::npos)
        << r.output;
  }
  // A YUV4MPEG2 stream through a FIFO is read once, as from standard input;
  // a stream written to a FIFO goes into it, and the FIFO stays one.
  GreyStream("grey.y4m", "25:1");
  ASSERT_EQ(mkfifo(Path("in.y4m").c_str(), 0600), 0);
  const RunResult in = Run("encode " + Q("in.y4m") + " -q -o " + Q("in.mov") + " & timeout 60 sh -c 'cat " +
                           Path("grey.y4m") + " > " + Path("in.y4m") + "'; wait");
  EXPECT_EQ(in.status, 0) << in.output;
  EXPECT_NE(Run("info " + Q("in.mov")).output.find("frames    3"), std::string::npos);
  ASSERT_EQ(mkfifo(Path("out.y4m").c_str(), 0600), 0);
  const RunResult out = Shell("sh -c \"timeout 60 cat " + Q("out.y4m") + " > " + Q("copy.y4m") + " & timeout 60 " + Orx() +
                              " decode -q " + Q("in.mov") + " -o " + Q("out.y4m") + "; wait\"");
  EXPECT_EQ(out.status, 0) << out.output;
  struct stat st {};
  ASSERT_EQ(stat(Path("out.y4m").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(ReadAll(Path("copy.y4m")).size(), std::string("YUV4MPEG2 W8 H8 F25:1 Ip A1:1 C444 XCOLORRANGE=LIMITED\n").size() +
                                                   3 * (6 + 8 * 8 * 3));
}

// ---- Preferences that cannot be stored ------------------------------------------------------

TEST_F(Hostile, PreferencesAreReportedFromWhatIsReadBack) {
  // A folder path of well over 1024 characters stores and reads back.
  std::string deep = Path("prefs");
  while (deep.size() < 1400) deep += "/" + std::string(120, 'd');
  setenv("ORX_PREFERENCES_DIR", deep.c_str(), 1);
  RunResult r = Run("settings --set threads=4");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(Run("settings --show").output.find("Threads:       4x"), std::string::npos);
  EXPECT_NE(Run("encode --test-clip --size 8x8 --frames 1 -o " + Q("d.mov")).output.find("threads 4x"),
            std::string::npos);

  // Where the file cannot be replaced (a folder stands at its name), Ok
  // is not reported as stored, and what is still in force is named.
  const std::string blocked = Path("blocked");
  ASSERT_EQ(Shell("mkdir -p '" + blocked + "/ORXPreferences.dat/x'").status, 0);
  setenv("ORX_PREFERENCES_DIR", blocked.c_str(), 1);
  r = Run("settings --set threads=8");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("the preferences could not be stored"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("threads 1x"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("Preferences stored"), std::string::npos) << r.output;
  setenv("ORX_PREFERENCES_DIR", Path("prefs").c_str(), 1);
}

// ---- Interruption -----------------------------------------------------------------------------

// Starts orx with the arguments, its standard error into errPath; its
// process ID.
pid_t Start(const std::vector<std::string>& args, const std::string& errPath = "/dev/null") {
  std::vector<std::string> all = {Orx()};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

// Waits (at most 20 s) until the path exists.
bool AppearsWithin20s(const std::string& path) {
  for (int i = 0; i < 2000; ++i) {
    if (Exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// A live source that sends nothing: orx says what it waits for, and the
// first SIGTERM or SIGINT ends the wait, by that signal, leaving nothing.
TEST_F(Hostile, ASilentLiveSourceIsWaitedForUntilInterrupted) {
  for (const int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    // A UDP port nobody sends to.
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&a), &length), 0);
    close(s);
    const std::string uri = "udp://127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    const pid_t pid = Start({"encode", uri, "-o", Path("live.mov")}, Path("live.err"));
    ASSERT_GT(pid, 0);
    bool waiting = false;
    for (int i = 0; i < 2000 && !waiting; ++i) {
      const std::vector<uint8_t> err = ReadAll(Path("live.err"));
      waiting = std::string(err.begin(), err.end()).find(uri + ": a live source; waiting for its first picture") !=
                std::string::npos;
      if (!waiting) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(waiting);
    kill(pid, sig);
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 2000 && ended == 0; ++i) {
      ended = waitpid(pid, &status, WNOHANG);
      if (ended == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (ended == 0) {  // the signal was not noticed
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << "orx went on waiting after the signal";
    }
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_EQ(Shell("ls -A " + Q("") + " | grep -c live.mov").output, "0\n");
  }
}

TEST_F(Hostile, SignalsLeaveNoPartialOutput) {
  ASSERT_EQ(Run("encode --test-clip --frames 400 --size 320x180 -q -o " + Q("s.mov")).status, 0);
  ASSERT_EQ(Shell("mkdir " + Q("seq")).status, 0);

  // A PNG sequence interrupted after its first frames: none of it is left.
  pid_t pid = Start({"decode", Path("s.mov"), "-o", Path("seq/p%03d.png")});
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(AppearsWithin20s(Path("seq/p002.png")));
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  EXPECT_EQ(Shell("ls -A " + Q("seq")).output, "");

  // A movie and a stream being written: no movie, no temporary file.
  for (const auto& [args, sig] : {std::pair{std::vector<std::string>{"encode", "--test-clip", "--frames", "2000",
                                                                       "--size", "320x180", "-o", Path("seq/e.mov")},
                                            SIGTERM},
                                  {std::vector<std::string>{"decode", Path("s.mov"), "-o", Path("seq/d.y4m")}, SIGHUP}}) {
    pid = Start(args);
    ASSERT_GT(pid, 0);
    bool started = false;
    for (int i = 0; i < 2000 && !started; ++i) {
      started = Shell("ls -A " + Q("seq") + " | grep -q partial").status == 0;
      if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(started);
    kill(pid, sig);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_EQ(Shell("ls -A " + Q("seq")).output, "") << args[0];
  }
}

}  // namespace
