// End-to-end suite of the orx program: it runs the built program on files
// written here, reads the movies back with the host's reader and the codec's
// own block decoders, and checks the movies with independent readers.
#include <gtest/gtest.h>
#include <lzf.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/Blocks/DXT24Decoder.h"
#include "core/Blocks/DXTDecoder.h"
#include "ImageIO.h"
#include "MovieFile.h"
#include "OrxRun.h"
#include "ProcessRun.h"
#include "core/Format/ORXHeader.h"

using orxapp::ImageARGB;

namespace {


RunResult RunOrx(const std::string& args) { return Shell(Orx() + " " + args); }


// Files in a folder other than . and .., for "nothing left behind" checks.
std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  const RunResult r = Shell("ls -A '" + dir + "'");
  std::istringstream in(r.output);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) names.push_back(line);
  return names;
}

// A picture with smooth areas, hard edges, detail and an alpha gradient.
ImageARGB Picture(int w, int h, int seed, bool alpha) {
  ImageARGB img;
  img.Allocate(w, h);
  img.hasAlpha = alpha;
  std::mt19937 rng(static_cast<uint32_t>(seed));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* p = img.Row(y) + size_t(x) * 4;
      p[0] = alpha ? uint8_t(x * 255 / (w - 1)) : 255;
      p[1] = uint8_t((x * 3 + seed * 7) & 0xFF);
      p[2] = uint8_t(((x / 8 + y / 8) & 1) ? 220 : 30);
      p[3] = uint8_t(y * 255 / (h - 1) ^ (rng() & 7));
    }
  }
  return img;
}

class Workspace : public OrxWorkspace {
 protected:
  void WritePNGFrames(const std::string& pattern, int count, int w, int h, bool alpha) {
    for (int i = 0; i < count; ++i) {
      const ImageARGB img = Picture(w, h, i, alpha);
      char name[256];
      std::snprintf(name, sizeof name, pattern.c_str(), i);
      std::string err;
      ASSERT_TRUE(orxapp::WritePNG(Path(name), img.pixels.data(), w, h, img.RowBytes(), alpha, &err)) << err;
    }
  }
};

// What the codec's own block decoders make of every sample of a movie,
// cropped to the image size.
struct Reference {
  int width = 0, height = 0;
  std::vector<std::string> variants;
  std::vector<std::vector<uint8_t>> frames;
};

bool DecodeWithCore(const std::string& movie, Reference* ref, std::string* why) {
  HostMovieReaderRef r = nullptr;
  char msg[256] = {};
  if (HostMovieReaderOpen(movie.c_str(), FOUR_CHAR_CODE('O', 'R', 'X', 'V'), &r, msg, sizeof msg) != noErr) {
    *why = msg;
    return false;
  }
  ImageDescriptionHandle d = HostMovieReaderGetImageDescription(r);
  const int w = (*d)->width, h = (*d)->height, w4 = (w + 3) / 4 * 4, h4 = (h + 3) / 4 * 4;
  ref->width = w;
  ref->height = h;
  InitThirdsTable();
  bool ok = true;
  for (SInt32 i = 0; ok && i < HostMovieReaderGetSampleCount(r); ++i) {
    std::vector<uint8_t> s(size_t(HostMovieReaderGetMaxSampleSize(r)));
    SInt32 n = 0;
    ok = HostMovieReaderReadSample(r, i, s.data(), SInt32(s.size()), &n) == noErr && n >= kORXHeaderSize;
    if (!ok) break;
    const ORXHeader hd = ReadORXHeader(s.data());
    const bool dxt24 = hd.isDXT24 == 1, alpha = hd.hasAlpha != 0;
    std::vector<uint8_t> blocks(size_t(CalculateORXBlockDataSize(w, h, alpha, dxt24)));
    if (hd.isLZF) {
      ok = lzf_decompress(s.data() + hd.headerSize, unsigned(hd.dataSize), blocks.data(), unsigned(blocks.size())) ==
           blocks.size();
    } else {
      ok = size_t(hd.dataSize) == blocks.size();
      if (ok) std::memcpy(blocks.data(), s.data() + hd.headerSize, blocks.size());
    }
    std::vector<uint8_t> px(size_t(w4) * h4 * 4);
    if (dxt24 && alpha) DecodeDXT24WithAlpha(blocks.data(), px.data(), w, h, w4 * 4);
    else if (dxt24) DecodeDXT24(blocks.data(), px.data(), w, h, w4 * 4);
    else if (alpha) DecodeDXT5ToARGB(blocks.data(), px.data(), w, h, w4 * 4);
    else DecodeDXT1ToARGB(blocks.data(), px.data(), w, h, w4 * 4);
    std::vector<uint8_t> cropped(size_t(w) * h * 4);
    for (int y = 0; y < h; ++y) std::memcpy(&cropped[size_t(y) * w * 4], &px[size_t(y) * w4 * 4], size_t(w) * 4);
    ref->frames.push_back(std::move(cropped));
    ref->variants.push_back(dxt24 ? (alpha ? "DXT24+alpha" : "DXT24") : (alpha ? "DXT5" : "DXT1"));
  }
  HostMovieReaderClose(r);
  if (!ok) *why = "a sample could not be unpacked";
  return ok;
}

int MaxDifference(const uint8_t* a, const uint8_t* b, size_t n) {
  int m = 0;
  for (size_t i = 0; i < n; ++i) m = std::max(m, std::abs(int(a[i]) - int(b[i])));
  return m;
}

// The value of "key": in orx info --json output.

// ---- Encoding choices, PNG input, decode against the core decoders ---------------

struct Choice {
  const char* options;
  const char* variant;
  bool lzf;
};

TEST_F(Workspace, EveryChoiceDecodesToWhatTheBlockDecodersMake) {
  // 37x21: neither side a multiple of 4, so the destination is extended and
  // the output cropped.
  WritePNGFrames("in%03d.png", 3, 37, 21, true);
  const Choice choices[] = {
      {"--optimize quality --transparency discard", "DXT24", true},
      {"--optimize performance --transparency discard", "DXT1", true},
      {"--optimize vovorevaded --transparency discard", "DXT24", false},
      {"--optimize quality --transparency preserve --threads 2", "DXT5", true},
      // Frames made smaller through liborx, decoded by the components' roads.
      {"--optimize performance --transparency discard --smaller strong", "DXT1", true},
      {"--optimize quality --transparency discard --smaller medium", "DXT24", true},
      {"--optimize quality --transparency preserve --smaller light", "DXT5", true},
  };
  EXPECT_EQ(RunOrx("encode " + Q("in%03d.png") + " -y -o " + Q("m.mov") + " --smaller huge").status, 2);
  for (const Choice& c : choices) {
    SCOPED_TRACE(c.options);
    const RunResult enc = RunOrx("encode " + Q("in%03d.png") + " -y -o " + Q("m.mov") + " " + c.options);
    ASSERT_EQ(enc.status, 0) << enc.output;
    EXPECT_NE(enc.output.find("3 frames 37x21"), std::string::npos) << enc.output;
    const std::string options = c.options;
    const size_t smaller = options.find("--smaller ");
    if (smaller != std::string::npos) {
      EXPECT_NE(enc.output.find("; smaller " + options.substr(smaller + 10)), std::string::npos) << enc.output;
    }

    const RunResult info = RunOrx("info --json --frames " + Q("m.mov"));
    ASSERT_EQ(info.status, 0) << info.output;
    EXPECT_EQ(JsonField(info.output, "codec"), "ORXV");
    EXPECT_EQ(JsonField(info.output, "frames"), "3");
    EXPECT_EQ(JsonField(info.output, "variant"), c.variant);
    EXPECT_EQ(JsonField(info.output, "lzf"), c.lzf ? "true" : "false");

    Reference ref;
    std::string why;
    ASSERT_TRUE(DecodeWithCore(Path("m.mov"), &ref, &why)) << why;
    ASSERT_EQ(ref.frames.size(), 3u);
    EXPECT_EQ(ref.variants[0], c.variant);

    const RunResult dec = RunOrx("decode " + Q("m.mov") + " -y -o " + Q("out.argb"));
    ASSERT_EQ(dec.status, 0) << dec.output;
    const std::vector<uint8_t> raw = ReadAll(Path("out.argb"));
    ASSERT_EQ(raw.size(), 3u * 37 * 21 * 4);
    // DXT24 decodes on the processor in both; DXT1/DXT5 may take the
    // graphics road, which agrees with the processor within 1.
    const int tolerance = std::string(c.variant) == "DXT24" ? 0 : 1;
    for (size_t f = 0; f < 3; ++f)
      EXPECT_LE(MaxDifference(raw.data() + f * 37 * 21 * 4, ref.frames[f].data(), ref.frames[f].size()), tolerance)
          << "frame " << f;

    // PNG output: RGBA when the movie keeps alpha, and the same pixels.
    const RunResult png = RunOrx("decode " + Q("m.mov") + " --frames 1-2 -o " + Q("out%02d.png"));
    ASSERT_EQ(png.status, 0) << png.output;
    EXPECT_FALSE(Exists(Path("out00.png")));
    ImageARGB back;
    std::string err;
    ASSERT_TRUE(orxapp::ReadPNG(Path("out02.png"), &back, &err)) << err;
    EXPECT_EQ(back.hasAlpha, std::string(c.variant) == "DXT5");
    ASSERT_EQ(back.pixels.size(), ref.frames[2].size());
    for (size_t i = 0; i < back.pixels.size(); i += 4) {
      if (!back.hasAlpha) ASSERT_EQ(back.pixels[i], 255);
      else ASSERT_EQ(back.pixels[i], raw[2 * 37 * 21 * 4 + i]);
      ASSERT_EQ(std::memcmp(&back.pixels[i + 1], &raw[2 * 37 * 21 * 4 + i + 1], 3), 0) << "pixel " << i / 4;
    }
    Shell("rm -f " + Q("out") + "*.png");
  }
}

TEST_F(Workspace, ChoicesStartFromTheStoredPreferences) {
  WritePNGFrames("p%d.png", 1, 16, 16, false);
  // Stored: Performance. Without options the movie follows them; an option
  // changes only its own setting.
  ASSERT_EQ(RunOrx("settings --set optimize=performance --set threads=2").status, 0);
  const RunResult show = RunOrx("settings --show");
  EXPECT_NE(show.output.find("Optimize For:  Performance"), std::string::npos) << show.output;
  EXPECT_NE(show.output.find("Threads:       2x"), std::string::npos) << show.output;
  EXPECT_NE(show.output.find(Path("prefs") + "/ORXPreferences.dat"), std::string::npos) << show.output;

  ASSERT_EQ(RunOrx("encode " + Q("p%d.png") + " -o " + Q("a.mov")).status, 0);
  EXPECT_EQ(JsonField(RunOrx("info --json --frames " + Q("a.mov")).output, "variant"), "DXT1");
  ASSERT_EQ(RunOrx("encode " + Q("p%d.png") + " -o " + Q("b.mov") + " --transparency preserve").status, 0);
  EXPECT_EQ(JsonField(RunOrx("info --json --frames " + Q("b.mov")).output, "variant"), "DXT5");
  // Encoding with options does not change what is stored.
  EXPECT_NE(RunOrx("settings --show").output.find("Discard Alpha Channel"), std::string::npos);
}

// ---- YUV4MPEG2 and raw input -------------------------------------------------------

TEST_F(Workspace, Y4MFromStandardInputKeepsItsRateAndConvertsColours) {
  // 8x4, 4:2:0: 32 luma + 2 x 8 chroma bytes a frame; 30000/1001 fps.
  std::string y4m = "YUV4MPEG2 W8 H4 F30000:1001 Ip A1:1 C420jpeg\n";
  for (int f = 0; f < 4; ++f) {
    y4m += "FRAME\n";
    y4m += std::string(32, char(180));  // luma
    y4m += std::string(8, char(128));   // neutral chroma: grey pixels
    y4m += std::string(8, char(128));
  }
  WriteAll(Path("in.y4m"), std::vector<uint8_t>(y4m.begin(), y4m.end()));
  const RunResult enc = RunOrx("encode - -o " + Q("y.mov") + " --optimize quality < " + Q("in.y4m"));
  ASSERT_EQ(enc.status, 0) << enc.output;
  const std::string info = RunOrx("info --json " + Q("y.mov")).output;
  EXPECT_EQ(JsonField(info, "frames"), "4");
  EXPECT_NEAR(std::atof(JsonField(info, "fps").c_str()), 29.97, 0.01) << info;

  ASSERT_EQ(RunOrx("decode " + Q("y.mov") + " -o " + Q("y.argb")).status, 0);
  const std::vector<uint8_t> raw = ReadAll(Path("y.argb"));
  ASSERT_EQ(raw.size(), 4u * 8 * 4 * 4);
  // Limited-range luma 180 is (180-16)*255/219 = 191 grey; DXT24 keeps a
  // flat colour exactly.
  uint8_t rgb[3];
  orxapp::YCbCrToRGB709(180, 128, 128, false, rgb);
  EXPECT_EQ(rgb[0], 191);
  for (size_t i = 0; i < raw.size(); i += 4) ASSERT_EQ(raw[i + 1], rgb[0]) << i;

  // The decoded movie written as YUV4MPEG2 encodes again to the same frames.
  ASSERT_EQ(RunOrx("decode " + Q("y.mov") + " -o - > " + Q("again.y4m")).status, 0);
  const RunResult re = RunOrx("encode " + Q("again.y4m") + " -o " + Q("z.mov"));
  ASSERT_EQ(re.status, 0) << re.output;
  EXPECT_EQ(JsonField(RunOrx("info --json " + Q("z.mov")).output, "frames"), "4");
}

TEST_F(Workspace, RawInputNeedsWholeFrames) {
  const ImageARGB a = Picture(12, 8, 1, true), b = Picture(12, 8, 2, true);
  std::vector<uint8_t> raw = a.pixels;
  raw.insert(raw.end(), b.pixels.begin(), b.pixels.end());
  WriteAll(Path("in.argb"), raw);
  const RunResult enc = RunOrx("encode --size 12x8 " + Q("in.argb") + " -o " + Q("r.mov") + " --transparency preserve");
  ASSERT_EQ(enc.status, 0) << enc.output;
  ASSERT_EQ(RunOrx("decode " + Q("r.mov") + " -o " + Q("r.argb")).status, 0);
  const std::vector<uint8_t> back = ReadAll(Path("r.argb"));
  ASSERT_EQ(back.size(), raw.size());
  EXPECT_LE(MaxDifference(back.data(), raw.data(), raw.size()), 64);  // lossy, but the same picture

  // A part frame at the end is refused before anything is encoded, unless
  // the whole frames before it are to be kept.
  raw.resize(raw.size() - 10);
  WriteAll(Path("short.argb"), raw);
  const RunResult bad = RunOrx("encode --size 12x8 " + Q("short.argb") + " -o " + Q("s.mov"));
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.output.find("short.argb: 758 bytes are not a whole number of 12x8 ARGB frames"), std::string::npos)
      << bad.output;
  EXPECT_FALSE(Exists(Path("s.mov")));
  const RunResult kept = RunOrx("encode --size 12x8 " + Q("short.argb") + " -o " + Q("s.mov") + " --keep-partial");
  EXPECT_EQ(kept.status, 0) << kept.output;
  EXPECT_NE(kept.output.find("short.argb: truncated frame 2: 374 of 384 bytes (is --size right?); kept the 1 frame "
                             "before it"),
            std::string::npos)
      << kept.output;
  EXPECT_EQ(JsonField(RunOrx("info --json " + Q("s.mov")).output, "frames"), "1");
}

// ---- Input and output errors ----------------------------------------------------------

TEST_F(Workspace, BadInputsAreNamedAndLeaveNoMovie) {
  WritePNGFrames("f%d.png", 2, 16, 16, false);
  WritePNGFrames("g%d.png", 1, 20, 16, false);
  WriteAll(Path("junk.txt"), {'h', 'e', 'l', 'l', 'o'});
  struct Case {
    std::string args, message;
  } cases[] = {
      {Q("missing.png"), "missing.png: cannot open"},
      {Q("f%d%d.png"), "bad pattern"},
      {Q("none%04d.png"), "no file matches"},
      {Q("f0.png") + " " + Q("g0.png"), "g0.png: frame 2 is 20x16, the first frame is 16x16"},
      {Q("junk.txt"), "junk.txt: GStreamer cannot tell what kind of file it is (nor is it a PNG image"},
      {Q("f0.png") + " --optimize fastest", "--optimize"},
      {Q("f0.png") + " --threads 3", "--threads"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const RunResult r = RunOrx("encode " + c.args + " -o " + Q("out.mov"));
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    EXPECT_FALSE(Exists(Path("out.mov")));
  }
  const RunResult unwritable = RunOrx("encode " + Q("f%d.png") + " -o " + Q("no/such/folder/out.mov"));
  EXPECT_NE(unwritable.status, 0);
  EXPECT_NE(unwritable.output.find("no/such/folder/out.mov"), std::string::npos) << unwritable.output;
  for (const std::string& name : Listing(dir_)) EXPECT_EQ(name.find("partial"), std::string::npos) << name;
}

TEST_F(Workspace, EveryCommandHasHelpAndUnknownOptionsFail) {
  for (const char* cmd : {"encode", "decode", "cut", "join", "info", "settings", "demo", "bench"}) {
    const RunResult h = RunOrx(std::string(cmd) + " --help");
    EXPECT_EQ(h.status, 0) << cmd;
    EXPECT_NE(h.output.find(std::string("usage: orx ") + cmd), std::string::npos) << h.output;
    EXPECT_NE(RunOrx(std::string(cmd) + " --no-such-option").status, 0) << cmd;
  }
  EXPECT_EQ(RunOrx("--help").status, 0);
  EXPECT_NE(RunOrx("transcode").status, 0);
}

// ---- Hostile movies -------------------------------------------------------------------

// The offset of the first atom of a type in a file (searching the bytes).
size_t FindAtom(const std::vector<uint8_t>& f, const char* type) {
  for (size_t i = 4; i + 4 <= f.size(); ++i)
    if (std::memcmp(&f[i], type, 4) == 0) return i - 4;
  return std::string::npos;
}

void PutBE32(std::vector<uint8_t>* f, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*f)[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
}

TEST_F(Workspace, DamagedMoviesAreRejectedWithTheFileAndTheProblem) {
  WritePNGFrames("f%d.png", 3, 64, 64, false);
  ASSERT_EQ(RunOrx("encode " + Q("f%d.png") + " -o " + Q("good.mov") + " --optimize performance").status, 0);
  const std::vector<uint8_t> good = ReadAll(Path("good.mov"));
  const size_t moov = FindAtom(good, "moov"), stsz = FindAtom(good, "stsz"), stts = FindAtom(good, "stts");
  ASSERT_NE(moov, std::string::npos);
  ASSERT_NE(stsz, std::string::npos);

  std::vector<std::pair<std::string, std::vector<uint8_t>>> movies;
  movies.emplace_back("truncated-moov.mov", std::vector<uint8_t>(good.begin(), good.begin() + long(moov + 40)));
  std::vector<uint8_t> past = good;
  PutBE32(&past, stsz + 20, 0x00FFFFFF);  // first sample 16 MB, past the end of the file
  movies.emplace_back("past-end.mov", past);
  std::vector<uint8_t> huge = good;
  PutBE32(&huge, stsz + 16, 0xFFFFFFFF);  // sample count
  movies.emplace_back("huge-count.mov", huge);
  std::vector<uint8_t> zero = good;
  PutBE32(&zero, stsz + 16, 0);
  PutBE32(&zero, stts + 12, 0);
  movies.emplace_back("zero-samples.mov", zero);
  movies.emplace_back("empty.mov", std::vector<uint8_t>());

  for (const auto& [name, bytes] : movies) {
    SCOPED_TRACE(name);
    WriteAll(Path(name), bytes);
    for (const std::string& cmd : {"info " + Q(name), "decode " + Q(name) + " -o " + Q("out.argb")}) {
      const RunResult r = RunOrx(cmd);
      EXPECT_NE(r.status, 0) << r.output;
      EXPECT_NE(r.output.find(Path(name) + ": "), std::string::npos) << r.output;
      EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << "one line: " << r.output;
    }
    EXPECT_FALSE(Exists(Path("out.argb")));
  }

  // A frame whose header claims more block data than the sample holds: the
  // decompressor refuses it and nothing is left at the output.
  std::vector<uint8_t> bad = good;
  const size_t mdat = FindAtom(good, "mdat");
  ASSERT_NE(mdat, std::string::npos);
  PutBE32(&bad, mdat + 8 + 16, 0x00FFFFFF);
  WriteAll(Path("bad-frame.mov"), bad);
  const RunResult r = RunOrx("decode " + Q("bad-frame.mov") + " -o " + Q("frame%d.png"));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("frame 0"), std::string::npos) << r.output;
  EXPECT_FALSE(Exists(Path("frame0.png")));
}

// A batch: each input into FOLDER/NAME.mov; a bad input is named and the
// others go on; the exit status says one failed; names that would collide
// are refused before any work.
TEST_F(Workspace, ABatchEncodesEachInputAndGoesOnPastABadOne) {
  WritePNGFrames("a%d.png", 1, 16, 8, false);
  WritePNGFrames("b%d.png", 1, 16, 8, false);
  // A PNG cut short after its signature: the PNG reader refuses it.
  WriteAll(Path("bad.png"), std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0});
  const auto r = RunOrx("encode " + Q("a0.png") + " " + Q("bad.png") + " " + Q("b0.png") + " -o " + Q("out/"));
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("1 of 3 inputs failed: " + Path("bad.png")), std::string::npos) << r.output;
  EXPECT_TRUE(Exists(Path("out/a0.mov")));
  EXPECT_TRUE(Exists(Path("out/b0.mov")));
  EXPECT_FALSE(Exists(Path("out/bad.mov")));
  ASSERT_EQ(RunOrx("decode " + Q("out/b0.mov") + " -o " + Q("b.argb")).status, 0);
  EXPECT_EQ(ReadAll(Path("b.argb")).size(), 16u * 8 * 4);
  const auto clash = RunOrx("encode " + Q("a0.png") + " " + Q("a0.jpg") + " -o " + Q("out"));
  EXPECT_EQ(clash.status, 2) << clash.output;
}

TEST_F(Workspace, DecodeRangesAndOutputNames) {
  WritePNGFrames("f%d.png", 3, 8, 8, false);
  ASSERT_EQ(RunOrx("encode " + Q("f%d.png") + " -o " + Q("m.mov")).status, 0);
  EXPECT_NE(RunOrx("decode " + Q("m.mov") + " --frames 2-5 -o " + Q("x.argb")).status, 0);
  EXPECT_NE(RunOrx("decode " + Q("m.mov") + " -o " + Q("x.bmp")).status, 0);
  EXPECT_NE(RunOrx("decode " + Q("m.mov") + " -o " + Q("one.png")).status, 0);  // several frames, no number
  ASSERT_EQ(RunOrx("decode " + Q("m.mov") + " --frames 1 -o " + Q("one.png")).status, 0);
  ASSERT_EQ(RunOrx("decode " + Q("m.mov") + " --frames 1- -o " + Q("tail.argb")).status, 0);
  EXPECT_EQ(ReadAll(Path("tail.argb")).size(), 2u * 8 * 8 * 4);
  EXPECT_TRUE(Exists(Path("one.png")));
  // A frame of two LZF chunks and bands decodes alike on one thread and on
  // one a core; the summary says which.
  ASSERT_EQ(RunOrx("encode --test-clip --size 1280x800 --frames 2 --audio none -o " + Q("big.mov")).status, 0);
  const auto one = RunOrx("decode " + Q("big.mov") + " --threads 1 -o " + Q("one.argb"));
  ASSERT_EQ(one.status, 0);
  EXPECT_NE(one.output.find("on 1 thread"), std::string::npos) << one.output;
  ASSERT_EQ(RunOrx("decode " + Q("big.mov") + " --threads max -o " + Q("max.argb")).status, 0);
  EXPECT_EQ(ReadAll(Path("one.argb")).size(), 2u * 1280 * 800 * 4);
  EXPECT_TRUE(ReadAll(Path("one.argb")) == ReadAll(Path("max.argb")));
  EXPECT_EQ(RunOrx("decode " + Q("big.mov") + " --threads 3 -o " + Q("three.argb")).status, 2);
}

// ---- What the environment and the file system hand the program --------------------------

// Times text occurs in s.
size_t Occurrences(const std::string& s, const std::string& text) {
  size_t n = 0;
  for (size_t at = s.find(text); at != std::string::npos; at = s.find(text, at + 1)) ++n;
  return n;
}

// The switches take 1/yes/true and 0/no/false in any case; another value is
// refused once, naming the variable and the words, and keeps the default;
// the road report names the value a switch has.
TEST_F(Workspace, EnvironmentSwitchesTakeTheirWordsAndRefuseTheRestOnce) {
  ASSERT_EQ(RunOrx("encode --test-clip --size 16x16 --frames 2 --optimize performance -o " + Q("m.mov")).status, 0);
  RunResult r = Shell("ORX_DISABLE_GL=no " + Orx() + " info " + Q("m.mov"));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output.find("ORX_DISABLE_GL"), std::string::npos) << r.output;
  r = Shell("ORX_DISABLE_GL=Yes " + Orx() + " info " + Q("m.mov"));
  EXPECT_NE(r.output.find("DXT1: processor (ORX_DISABLE_GL=Yes)"), std::string::npos) << r.output;
  r = Shell("ORX_DISABLE_GL=2 " + Orx() + " info " + Q("m.mov"));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(Occurrences(r.output, "ORX_DISABLE_GL=\"2\" is refused"), 1u) << r.output;
  EXPECT_NE(r.output.find("1, yes or true (on), or 0, no or false (off)"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("processor (ORX_DISABLE_GL"), std::string::npos) << r.output;
  // The program and the component each carry the core; the person reads
  // each refusal once.
  r = Shell("ORX_DISABLE_GL=maybe ORX_FORCE_GL=2 " + Orx() + " decode -v " + Q("m.mov") + " -o " + Q("m.y4m"));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(Occurrences(r.output, "ORX_DISABLE_GL=\"maybe\" is refused"), 1u) << r.output;
  EXPECT_EQ(Occurrences(r.output, "ORX_FORCE_GL=\"2\" is refused"), 1u) << r.output;
}

// Storing one popup while nothing is stored keeps orx's default of Max
// threads (stored with it and said so); a thread choice stored once stays
// when another popup is stored; --show and encode -v say where the setting
// comes from.
TEST_F(Workspace, StoringAnotherPopupKeepsTheThreadSetting) {
  EXPECT_NE(RunOrx("settings --show").output.find("Threads:       Max (orx's default while none are stored"),
            std::string::npos);
  RunResult r = RunOrx("settings --set optimize=performance");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Threads:       Max (orx's default, stored with them"), std::string::npos) << r.output;
  EXPECT_EQ(ReadAll(Path("prefs/ORXPreferences.dat")).at(12), 1);  // Max
  EXPECT_NE(RunOrx("settings --show").output.find("Threads:       Max (stored)"), std::string::npos);
  r = RunOrx("encode -v --test-clip --size 16x16 --frames 2 -o " + Q("a.mov"));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Performance, threads Max\n"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("threads Max from the stored preferences"), std::string::npos) << r.output;
  r = RunOrx("encode -v --threads 2 --test-clip --size 16x16 --frames 2 -y -o " + Q("a.mov"));
  EXPECT_NE(r.output.find("threads 2x from --threads"), std::string::npos) << r.output;
  // A thread choice, once stored, is the user's: storing another popup keeps it.
  ASSERT_EQ(RunOrx("settings --set threads=4").status, 0);
  r = RunOrx("settings --set optimize=quality");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Threads:       4x\n"), std::string::npos) << r.output;
  EXPECT_EQ(ReadAll(Path("prefs/ORXPreferences.dat")).at(12), 4);
  // Nothing stored: encode -v names orx's own default.
  ASSERT_EQ(Shell("rm " + Q("prefs/ORXPreferences.dat")).status, 0);
  r = RunOrx("encode -v --test-clip --size 16x16 --frames 2 -y -o " + Q("a.mov"));
  EXPECT_NE(r.output.find("threads Max from orx's default while no preferences are stored"), std::string::npos)
      << r.output;
  // The dialog answered by a person starts at Max too.
  r = Shell("printf 'ok\\n' | " + Orx() + " settings");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(ReadAll(Path("prefs/ORXPreferences.dat")).at(12), 1) << r.output;
}

// orx decode -v names the road the decoding instance took, and orx info
// the road of the instance it asks: forced, switched off, or as the
// renderer has it, the same road in both and the pixels the same.
TEST_F(Workspace, TheRoadReportedIsTheDecompressorsOwn) {
  ASSERT_EQ(RunOrx("encode --test-clip --size 40x24 --frames 2 --optimize performance -o " + Q("m.mov")).status, 0);
  const std::string decode = " decode -v -y " + Q("m.mov") + " -o " + Q("out.argb");
  RunResult r = Shell("ORX_DISABLE_GL=1 " + Orx() + decode);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("DXT1 frames decoded on the processor (ORX_DISABLE_GL=1)"), std::string::npos) << r.output;
  const std::vector<uint8_t> processor = ReadAll(Path("out.argb"));
  r = Shell("ORX_FORCE_GL=1 " + Orx() + decode);
  ASSERT_EQ(r.status, 0) << r.output;
  if (r.output.find("no usable OpenGL context") != std::string::npos) GTEST_SKIP() << "no OpenGL context here";
  EXPECT_NE(r.output.find("DXT1 frames decoded on the graphics ("), std::string::npos) << r.output;
  EXPECT_EQ(Occurrences(r.output, "frames decoded on the"), 1u) << r.output;
  const std::vector<uint8_t> graphics = ReadAll(Path("out.argb"));
  ASSERT_EQ(graphics.size(), processor.size());
  for (size_t i = 0; i < graphics.size(); ++i) ASSERT_LE(std::abs(graphics[i] - processor[i]), 1) << "byte " << i;
  EXPECT_NE(Shell("ORX_FORCE_GL=1 " + Orx() + " info " + Q("m.mov")).output.find("decode    DXT1: graphics ("),
            std::string::npos);
  // Unforced, info and decode name the same road.
  r = RunOrx(decode);
  ASSERT_EQ(r.status, 0) << r.output;
  const size_t at = r.output.find("DXT1 frames decoded on the ");
  ASSERT_NE(at, std::string::npos) << r.output;
  const std::string road = r.output.substr(at + 27, r.output.find('\n', at) - at - 27);
  EXPECT_NE(RunOrx("info " + Q("m.mov")).output.find("decode    DXT1: " + road + "\n"), std::string::npos) << road;
}

// A damaged component folder first on ORX_COMPONENT_PATH: its files are
// named with the loader's reason and the installed component is used; with
// no installed component, the failure names them.
TEST_F(Workspace, DamagedComponentFilesAreNamedAndPassedOver) {
  const char* installed = std::getenv("ORX_TEST_COMPONENT_DIR");
  ASSERT_NE(installed, nullptr);
  ASSERT_EQ(Shell("mkdir " + Q("bad") + " " + Q("host") + " && cp '" + std::string(installed) + "/ORXCodec.rsrc' " +
                  Q("bad") + " && echo 'not a library' > " + Q("bad/ORXCodec.so") + " && cp '" + installed +
                  "/libqthost.so' " + Q("host"))
                .status,
            0);
  const std::string named = Path("bad/ORXCodec.so") + ": cannot be loaded: ";
  RunResult r = Shell("ORX_COMPONENT_PATH=" + Q("bad") + " " + Orx() + " encode --test-clip --size 8x8 --frames 1 -q -o " +
                      Q("m.mov"));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("orx: warning: component files skipped: " + named), std::string::npos) << r.output;
  // The host library alone in a folder of its own: no installed component.
  const std::string alone = "LD_LIBRARY_PATH=" + Q("host") + " ORX_COMPONENT_PATH=" + Q("bad") + " " + Orx();
  r = Shell(alone + " encode --test-clip --size 8x8 --frames 1 -q -o " + Q("n.mov"));
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("not installed (-3000)"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(named), std::string::npos) << r.output;
  EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
  EXPECT_NE(Shell(alone + " --version").output.find("ORX components not found (skipped: " + named), std::string::npos);
}

// orx info --json is valid JSON in UTF-8 whatever bytes the file name holds:
// control characters and quotes escaped, each byte outside well-formed UTF-8
// as U+FFFD. Checked by parsing the output with Python's json module.
TEST_F(Workspace, InfoJsonIsValidForAnyFileName) {
  if (Shell("python3 -c 'import json'").status != 0) GTEST_SKIP() << "no python3 here";
  ASSERT_EQ(RunOrx("encode --test-clip --size 8x8 --frames 2 -o " + Q("m.mov")).status, 0);
  // Lone continuation and lead bytes, an overlong '/', a surrogate, a code
  // point past U+10FFFF, a control character, quotes, and a valid e-acute.
  const std::string name = "n\xff\xfe-\xc3-\xc0\xaf-\xed\xa0\x80-\xf4\x90\x80\x80-\x01-\"q\"-\xc3\xa9.mov";
  const std::string fffd = "\xef\xbf\xbd";
  const std::string expected = "n" + fffd + fffd + "-" + fffd + "-" + fffd + fffd + "-" + fffd + fffd + fffd + "-" +
                               fffd + fffd + fffd + fffd + "-\x01-\"q\"-\xc3\xa9.mov";
  ASSERT_EQ(std::rename(Path("m.mov").c_str(), Path(name).c_str()), 0);
  // The name travels to orx through a file, as no quoting is needed then.
  WriteAll(Path("name"), std::vector<uint8_t>(name.begin(), name.end()));
  const RunResult r = Shell("cd '" + dir_ + "' && (" + Orx() + " info --json --frames \"$(cat name)\" 2>/dev/null) > out.json");
  ASSERT_EQ(r.status, 0) << r.output;
  const RunResult parsed = Shell("python3 -c 'import json,sys; d=json.load(open(sys.argv[1], \"rb\")); "
                                 "print(d[\"file\"].encode(\"utf-8\").hex(), d[\"frames\"])' " + Q("out.json"));
  ASSERT_EQ(parsed.status, 0) << parsed.output;
  std::string hex;
  for (const unsigned char c : expected) {
    char b[3];
    std::snprintf(b, sizeof b, "%02x", c);
    hex += b;
  }
  EXPECT_EQ(parsed.output, hex + " 2\n");
}

// ---- Independent readers -------------------------------------------------------------

TEST_F(Workspace, IndependentReadersAgreeOnTheMovie) {
  const RunResult enc = RunOrx("encode --test-clip --size 64x48 --frames 5 --fps 25 -o " + Q("clip.mov"));
  ASSERT_EQ(enc.status, 0) << enc.output;
  const char* mediainfo = std::getenv("ORX_MEDIAINFO");
  ASSERT_TRUE(mediainfo && *mediainfo) << "mediainfo is not installed (scripts/install-deps.sh installs it)";
  const RunResult mi = Shell(std::string(mediainfo) +
                           " --Inform='Video;%CodecID%|%Width%|%Height%|%FrameCount%|%FrameRate%' " + Q("clip.mov"));
  ASSERT_EQ(mi.status, 0) << mi.output;
  EXPECT_EQ(mi.output.substr(0, mi.output.find('\n')), "ORXV|64|48|5|25.000");

  const char* gst = std::getenv("ORX_GST_LAUNCH");
  ASSERT_TRUE(gst && *gst) << "gst-launch-1.0 is not installed (scripts/install-deps.sh installs it)";
  ASSERT_EQ(mkdir(Path("samples").c_str(), 0755), 0);
  const RunResult g = Shell(std::string(gst) + " -q filesrc location=" + Q("clip.mov") +
                          " ! qtdemux name=d d.video_0 ! multifilesink location=" + Q("samples/s%02d"));
  ASSERT_EQ(g.status, 0) << g.output;
  // Each demuxed sample is byte for byte the frame the host reader returns.
  HostMovieReaderRef r = nullptr;
  ASSERT_EQ(HostMovieReaderOpen(Path("clip.mov").c_str(), 0, &r, nullptr, 0), noErr);
  ASSERT_EQ(HostMovieReaderGetSampleCount(r), 5);
  for (int i = 0; i < 5; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "samples/s%02d", i);
    const std::vector<uint8_t> demuxed = ReadAll(Path(name));
    std::vector<uint8_t> mine(size_t(HostMovieReaderGetMaxSampleSize(r)));
    SInt32 n = 0;
    ASSERT_EQ(HostMovieReaderReadSample(r, i, mine.data(), SInt32(mine.size()), &n), noErr);
    mine.resize(size_t(n));
    EXPECT_EQ(demuxed, mine) << "sample " << i;
  }
  HostMovieReaderClose(r);
}

// ---- The settings dialog ----------------------------------------------------------------

TEST_F(Workspace, SettingsDialogAnsweredOnItsTerminal) {
  // The terminal driver reads the person's answers; here they come on
  // standard input: Transparency 2, Optimize For 3, Threads 4, then Ok.
  const RunResult r = Shell("printf '3 2\\n4 3\\n5 4\\nok\\n' | " + Orx() + " settings");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("== ORX Preferences =="), std::string::npos) << r.output;
  const std::vector<uint8_t> prefs = ReadAll(Path("prefs/ORXPreferences.dat"));
  const std::vector<uint8_t> expected = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 4, 0, 0, 0};
  EXPECT_EQ(prefs, expected);

  // Cancel keeps them.
  const RunResult c = Shell("printf '4 2\\ncancel\\n' | " + Orx() + " settings");
  ASSERT_EQ(c.status, 0) << c.output;
  EXPECT_NE(c.output.find("Cancelled"), std::string::npos);
  EXPECT_EQ(ReadAll(Path("prefs/ORXPreferences.dat")), expected);
  EXPECT_NE(RunOrx("settings --set optimize=fast").status, 0);
}

TEST_F(Workspace, SettingsDialogTypedIntoATerminal) {
  if (Shell("command -v tmux").status != 0) GTEST_FAIL() << "tmux is not installed (scripts/install-deps.sh installs it)";
  const std::string session = "orx-test-" + std::to_string(getpid());
  const std::string env = "ORX_PREFERENCES_DIR=" + Path("prefs");
  ASSERT_EQ(Shell("tmux new-session -d -s " + session + " -x 100 -y 40 \"env " + env + " " + Orx() + " settings; sleep 30\"")
                .status,
            0);
  // Waits until the screen shows text, as a person waits for the prompt.
  auto waitFor = [&](const std::string& text) {
    for (int i = 0; i < 100; ++i) {
      if (Shell("tmux capture-pane -p -t " + session).output.find(text) != std::string::npos) return true;
      usleep(100000);
    }
    return false;
  };
  EXPECT_TRUE(waitFor("again.\n>"));  // the prompt (the pane drops trailing blanks)
  Shell("tmux send-keys -t " + session + " '4 2' Enter");
  EXPECT_TRUE(waitFor("[Performance]"));
  Shell("tmux send-keys -t " + session + " 'ok' Enter");
  EXPECT_TRUE(waitFor("Preferences stored"));
  Shell("tmux kill-session -t " + session);
  const std::vector<uint8_t> prefs = ReadAll(Path("prefs/ORXPreferences.dat"));
  ASSERT_EQ(prefs.size(), 16u);
  EXPECT_EQ(prefs[4], 0);  // preserveGradients off: Performance
  EXPECT_EQ(prefs[8], 0);  // skipLZF off
}

// ---- The demo ---------------------------------------------------------------------------

TEST_F(Workspace, DemoWritesItsMoviesAndContactSheet) {
  const RunResult r = RunOrx("demo --frames 3 --size 160x96 --out " + Q("demo"));
  ASSERT_EQ(r.status, 0) << r.output;
  for (const char* row : {"Quality ", "Performance ", "VovorEvaded ", "Quality+alpha "})
    EXPECT_NE(r.output.find(row), std::string::npos) << row << "\n" << r.output;
  EXPECT_NE(r.output.find("DXT24+LZF"), std::string::npos);
  EXPECT_NE(r.output.find("DXT1+LZF"), std::string::npos);
  EXPECT_NE(r.output.find("DXT5+LZF"), std::string::npos);
  for (const char* f : {"quality.mov", "performance.mov", "vovorevaded.mov", "quality-alpha.mov"})
    EXPECT_EQ(JsonField(RunOrx("info --json " + Q(std::string("demo/") + f)).output, "frames"), "3") << f;
  ImageARGB sheet;
  std::string err;
  ASSERT_TRUE(orxapp::ReadPNG(Path("demo/contact-sheet.png"), &sheet, &err)) << err;
  EXPECT_GT(sheet.width, 5 * 160);
}

}  // namespace
