// The read-ahead source: the frames, names and errors of the source it wraps,
// in order, whether one reader reads ahead (a YUV4MPEG2 stream) or several
// decode PNG files at once; and a source dropped early lets go at once. The
// rate converter over frames of times of their own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "ImageIO.h"
#include "Sources.h"

namespace {

using orxapp::FrameSource;
using orxapp::ImageARGB;

std::string TempFolder() {
  char pattern[] = "/tmp/orx-readahead-XXXXXX";
  const char* dir = mkdtemp(pattern);
  return dir ? dir : "/tmp";
}

// Frame i: every pixel carries i, so frames out of order show.
ImageARGB Frame(int i, int w = 12, int h = 8) {
  ImageARGB f;
  f.Allocate(w, h);
  for (size_t k = 0; k < f.pixels.size(); k += 4) {
    f.pixels[k] = 255;
    f.pixels[k + 1] = uint8_t(i * 20);
    f.pixels[k + 2] = uint8_t(k / 4 % 200);
    f.pixels[k + 3] = uint8_t(255 - i * 20);
  }
  return f;
}

struct Read {
  std::vector<std::vector<uint8_t>> frames;
  std::vector<std::string> names;
  int last = 0;
  std::string error;
};

// ended: the source must give nothing more after its end or failure (the
// read-ahead source promises that; a plain PNG sequence reads on).
Read All(FrameSource* s, bool ended = true) {
  Read r;
  ImageARGB f;
  while ((r.last = s->Next(&f)) == 1) {
    r.frames.push_back(f.pixels);
    r.names.push_back(s->CurrentName());
  }
  if (r.last < 0) r.error = s->Error();
  ImageARGB after;
  if (ended) {
    EXPECT_EQ(s->Next(&after), 0) << "a source that ended gives nothing more";
  }
  return r;
}

std::unique_ptr<FrameSource> Open(const std::vector<std::string>& inputs) {
  orxapp::SourceOptions o;
  o.inputs = inputs;
  std::string error;
  auto s = orxapp::OpenFrameSource(o, &error);
  EXPECT_TRUE(s) << error;
  return s;
}

void ExpectSame(const Read& plain, const Read& ahead) {
  EXPECT_EQ(ahead.frames.size(), plain.frames.size());
  EXPECT_TRUE(ahead.frames == plain.frames) << "frames differ or come out of order";
  EXPECT_EQ(ahead.names, plain.names);
  EXPECT_EQ(ahead.last, plain.last);
  EXPECT_EQ(ahead.error, plain.error);
}

TEST(ReadAhead, PNGFilesDecodedAtOnceComeOutInOrderWithTheirErrors) {
  const std::string dir = TempFolder();
  std::string error;
  for (int i = 0; i < 11; ++i) {
    const ImageARGB f = Frame(i);
    char name[64];
    std::snprintf(name, sizeof name, "/f%04d.png", i);
    ASSERT_TRUE(orxapp::WritePNG(dir + name, f.pixels.data(), f.width, f.height, f.RowBytes(), false, &error)) << error;
  }
  const std::string pattern = dir + "/f%04d.png";
  {
    auto plain = Open({pattern});
    auto ahead = orxapp::ReadAhead(Open({pattern}));
    const Read a = All(ahead.get()), p = All(plain.get(), false);
    EXPECT_EQ(p.frames.size(), 11u);
    ExpectSame(p, a);
  }
  // A damaged file in the middle: the frames before it, then its error.
  FILE* bad = std::fopen((dir + "/f0006.png").c_str(), "r+b");
  ASSERT_NE(bad, nullptr);
  std::fseek(bad, 40, SEEK_SET);
  std::fputs("damage", bad);
  std::fclose(bad);
  {
    auto plain = Open({pattern});
    auto ahead = orxapp::ReadAhead(Open({pattern}));
    const Read a = All(ahead.get()), p = All(plain.get(), false);
    EXPECT_EQ(p.frames.size(), 6u);
    EXPECT_EQ(p.last, -1);
    ExpectSame(p, a);
  }
  // A gap before later numbers: the sequence ends in its error.
  unlink((dir + "/f0006.png").c_str());
  {
    auto plain = Open({pattern});
    auto ahead = orxapp::ReadAhead(Open({pattern}));
    const Read a = All(ahead.get()), p = All(plain.get(), false);
    EXPECT_EQ(p.last, -1);
    ExpectSame(p, a);
  }
  // Dropped after two frames: the readers stop (the test would hang else).
  {
    auto ahead = orxapp::ReadAhead(Open({pattern}));
    ImageARGB f;
    EXPECT_EQ(ahead->Next(&f), 1);
    EXPECT_EQ(ahead->Next(&f), 1);
  }
  std::system(("rm -rf " + dir).c_str());
}

TEST(ReadAhead, AStreamReadInOrderKeepsItsFramesAndItsTruncation) {
  const std::string dir = TempFolder();
  const std::string path = dir + "/s.y4m";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  orxapp::Y4MWriter w(f);
  std::string error;
  ASSERT_TRUE(w.WriteHeader(12, 8, 25, 1, &error)) << error;
  for (int i = 0; i < 7; ++i) ASSERT_TRUE(w.WriteFrame(Frame(i).pixels.data(), 48, &error)) << error;
  std::fclose(f);
  {
    auto plain = Open({path});
    auto ahead = orxapp::ReadAhead(Open({path}));
    int num = 0, den = 0;
    EXPECT_TRUE(ahead->Rate(&num, &den));
    EXPECT_EQ(num, 25);
    const Read a = All(ahead.get()), p = All(plain.get(), false);
    EXPECT_EQ(p.frames.size(), 7u);
    ExpectSame(p, a);
  }
  ASSERT_EQ(truncate(path.c_str(), 200), 0);  // a part of the second frame
  {
    auto plain = Open({path});
    auto ahead = orxapp::ReadAhead(Open({path}));
    const Read a = All(ahead.get()), p = All(plain.get(), false);
    EXPECT_EQ(p.last, -1);
    ExpectSame(p, a);
  }
  std::system(("rm -rf " + dir).c_str());
}

// Frames at the given times (ms), the last lasting lastMs, then failing
// when failAfter frames have been read (-1: ending well).
class TimedSource : public FrameSource {
 public:
  TimedSource(std::vector<int> ms, int lastMs, int failAfter = -1) : ms_(std::move(ms)), lastMs_(lastMs), fail_(failAfter) {}
  int Next(ImageARGB* out) override {
    if (fail_ >= 0 && next_ == size_t(fail_)) {
      error_ = "timed: damaged";
      return -1;
    }
    if (next_ >= ms_.size()) return 0;
    *out = Frame(int(next_));
    out->ptsNs = int64_t(ms_[next_]) * 1000000;
    out->durationNs = int64_t(next_ + 1 < ms_.size() ? ms_[next_ + 1] - ms_[next_] : lastMs_) * 1000000;
    ++next_;
    return 1;
  }
  bool VariableRate() const override { return true; }
  bool Timed() const override { return true; }
  std::string CurrentName() const override { return "timed"; }

 private:
  std::vector<int> ms_;
  int lastMs_, fail_;
  size_t next_ = 0;
};

// At 25 fps (a frame each 40 ms) each frame shows the source frame nearest
// its time: the one at 50 ms is never nearest and is dropped, the last is
// repeated until its end at 250 ms; a source that fails shows its last
// good frame for its length, then the failure.
TEST(RateConverter, EachFrameShowsTheNearestSourceFrame) {
  const std::vector<int> ms = {0, 40, 50, 100, 110, 200};
  orxapp::RateConverter c(std::make_unique<TimedSource>(ms, 50), 25, 1);
  Read r = All(&c);
  const int shown[] = {0, 1, 3, 4, 5, 5, 5};
  ASSERT_EQ(r.frames.size(), std::size(shown));
  for (size_t k = 0; k < std::size(shown); ++k) EXPECT_TRUE(r.frames[k] == Frame(shown[k]).pixels) << k;
  EXPECT_EQ(c.Repeated(), 2);
  EXPECT_EQ(c.Dropped(), 1);

  orxapp::RateConverter failing(std::make_unique<TimedSource>(ms, 50, 3), 25, 1);
  r = All(&failing, false);
  EXPECT_EQ(r.frames.size(), 3u);  // 0, 40 and 80 ms; the frame at 50 ms lasts to 100
  EXPECT_EQ(r.last, -1);
  EXPECT_EQ(r.error, "timed: damaged");
}

}  // namespace
