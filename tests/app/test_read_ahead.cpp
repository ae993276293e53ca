// The read-ahead source: the frames, names and errors of the source it wraps,
// in order, whether one reader reads ahead (a YUV4MPEG2 stream) or several
// decode PNG files at once; and a source dropped early lets go at once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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

}  // namespace
