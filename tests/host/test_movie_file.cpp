// Movie files: the writer's output read back byte for byte and by independent
// readers, hand-built movies of shapes the writer never makes, and hostile
// files (truncated, inconsistent tables, impossible counts).
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MacMemory.h"
#include "MovieFile.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr CodecType kORXV = FOUR_CHAR_CODE('O', 'R', 'X', 'V');

Bytes SampleBytes(uint32_t seed, size_t size) {
  Bytes b(size);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& c : b) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = uint8_t(x);
  }
  return b;
}

using DescPtr = std::unique_ptr<ImageDescriptionPtr, void (*)(ImageDescriptionHandle)>;
DescPtr MakeDescription(SInt16 width, SInt16 height, const Bytes& extension = {}) {
  auto h = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(Size(86 + extension.size())));
  ImageDescription& d = **h;
  d.idSize = SInt32(86 + extension.size());
  d.cType = kORXV;
  d.dataRefIndex = 1;
  d.version = 1;
  d.revisionLevel = 2;
  d.vendor = FOUR_CHAR_CODE('t', 'e', 's', 't');
  d.temporalQuality = 0x200;
  d.spatialQuality = 0x300;
  d.width = width;
  d.height = height;
  d.hRes = d.vRes = 0x00480000;
  d.frameCount = 1;
  std::memcpy(d.name, "\x09ORX Codec", 10);
  d.depth = 32;
  d.clutID = -1;
  std::copy(extension.begin(), extension.end(), reinterpret_cast<uint8_t*>(*h) + 86);
  return DescPtr(h, [](ImageDescriptionHandle p) { DisposeHandle(reinterpret_cast<Handle>(p)); });
}

using ReaderPtr = std::unique_ptr<OpaqueHostMovieReader, void (*)(HostMovieReaderRef)>;
struct Opened {
  OSStatus status;
  ReaderPtr reader;
  std::string message;
};
Opened Open(const std::string& path, CodecType cType = kORXV) {
  HostMovieReaderRef r = nullptr;
  char message[256];
  const OSStatus s = HostMovieReaderOpen(path.c_str(), cType, &r, message, sizeof message);
  return Opened{s, ReaderPtr(r, HostMovieReaderClose), message};
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}
void WriteFile(const std::string& path, const Bytes& b, size_t n = SIZE_MAX) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(std::min(n, b.size())));
}

// ---- An atom builder for movies the writer does not make --------------------------------------

void Put(Bytes& b, uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}
void PutType(Bytes& b, const char* t) { b.insert(b.end(), t, t + 4); }
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes Atom(const char* type, const Bytes& payload) {
  Bytes b;
  Put(b, payload.size() + 8, 4);
  PutType(b, type);
  return Cat({b, payload});
}
Bytes Full(const char* type, const Bytes& payload) { return Atom(type, Cat({Bytes(4, 0), payload})); }
Bytes Words(std::initializer_list<uint64_t> words, int bytes = 4) {
  Bytes b;
  for (uint64_t w : words) Put(b, w, bytes);
  return b;
}

struct Track {
  const char* handler = "vide";
  const char* format = "ORXV";
  std::vector<uint32_t> sizes, durations;  // per sample
  std::vector<uint32_t> chunkSamples;      // samples in each chunk
  std::vector<uint32_t> sync;              // 1-based; empty: no stss
  bool co64 = false;
  bool uniformSizes = false;
  Bytes description;  // the sample description entry; empty: one made from handler and format
};
struct Layout {
  bool moovFirst = false;
  bool unknownAtoms = false;
  int mdatHeader = 8;  // 16: 64-bit size; 0: size 0, to the end of the file
};

uint32_t Seed(size_t track, size_t sample) { return uint32_t(track * 1000 + sample); }

Bytes TrakAtom(const Track& t, uint32_t id, const std::vector<uint64_t>& chunkOffsets, bool unknown) {
  Bytes entry;
  Put(entry, std::strcmp(t.handler, "vide") == 0 ? 86 : 36, 4);
  PutType(entry, t.format);
  entry.resize(14, 0);
  Put(entry, 1, 2);
  if (std::strcmp(t.handler, "vide") == 0) {
    entry = Cat({entry, Words({0, 0}, 2), Words({0, 0x200, 0x300}), Words({64, 32}, 2), Words({0x480000, 0x480000, 0}), Words({1}, 2)});
    entry.push_back(4);
    PutType(entry, "test");
    entry.resize(82, 0);
    entry = Cat({entry, Words({24, 0xFFFF}, 2)});
  }
  entry.resize(std::strcmp(t.handler, "vide") == 0 ? 86 : 36, 0);
  if (!t.description.empty()) entry = t.description;
  Bytes stts, stsc, stsz, stco, stss;
  uint32_t runs = 0, entries = 0;
  for (size_t i = 0; i < t.durations.size(); ++i) {
    if (i > 0 && t.durations[i] == t.durations[i - 1]) continue;
    size_t n = 1;
    while (i + n < t.durations.size() && t.durations[i + n] == t.durations[i]) ++n;
    stts = Cat({stts, Words({n, t.durations[i]})}), ++runs;
  }
  for (size_t c = 0; c < t.chunkSamples.size(); ++c) {
    if (c == 0 || t.chunkSamples[c] != t.chunkSamples[c - 1]) stsc = Cat({stsc, Words({c + 1, t.chunkSamples[c], 1})}), ++entries;
  }
  if (t.uniformSizes) {
    stsz = Words({t.sizes.at(0), t.sizes.size()});
  } else {
    stsz = Words({0, t.sizes.size()});
    for (uint32_t s : t.sizes) stsz = Cat({stsz, Words({s})});
  }
  for (uint64_t o : chunkOffsets) stco = Cat({stco, Words({o}, t.co64 ? 8 : 4)});
  for (uint32_t s : t.sync) stss = Cat({stss, Words({s})});
  const Bytes extra = unknown ? Atom("xtra", Bytes(5, 7)) : Bytes{};
  const Bytes stbl = Atom("stbl", Cat({Full("stsd", Cat({Words({1}), entry})), Full("stts", Cat({Words({runs}), stts})), extra,
                                       t.sync.empty() ? Bytes{} : Full("stss", Cat({Words({t.sync.size()}), stss})),
                                       Full("stsc", Cat({Words({entries}), stsc})), Full("stsz", stsz),
                                       Full(t.co64 ? "co64" : "stco", Cat({Words({chunkOffsets.size()}), stco}))}));
  Bytes hdlr = Words({FOUR_CHAR_CODE('m', 'h', 'l', 'r'), 0, 0, 0, 0});
  std::memcpy(&hdlr[4], t.handler, 4);
  hdlr.push_back(0);
  const Bytes mdia = Atom("mdia", Cat({Full("mdhd", Words({0, 0, 600, 0, 0})), Full("hdlr", hdlr), extra,
                                       Atom("minf", Cat({extra, stbl}))}));
  return Atom("trak", Cat({Full("tkhd", Words({0, 0, id, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})), extra, mdia}));
}

// The movie and, per track, each sample's offset in it.
Bytes BuildMovie(const std::vector<Track>& tracks, const Layout& l, std::vector<std::vector<uint64_t>>* offsets = nullptr) {
  Bytes data;
  std::vector<std::vector<uint64_t>> chunkRel(tracks.size()), sampleRel(tracks.size());
  for (size_t t = 0; t < tracks.size(); ++t) {
    size_t j = 0;
    for (uint32_t n : tracks[t].chunkSamples) {
      chunkRel[t].push_back(data.size());
      for (uint32_t k = 0; k < n; ++k, ++j) {
        sampleRel[t].push_back(data.size());
        const Bytes s = SampleBytes(Seed(t, j), tracks[t].sizes[j]);
        data.insert(data.end(), s.begin(), s.end());
      }
    }
  }
  const auto moov = [&](uint64_t base) {
    Bytes m = Full("mvhd", Bytes(96, 0));
    for (size_t t = 0; t < tracks.size(); ++t) {
      std::vector<uint64_t> abs;
      for (uint64_t o : chunkRel[t]) abs.push_back(base + o);
      m = Cat({m, TrakAtom(tracks[t], uint32_t(t + 1), abs, l.unknownAtoms)});
    }
    if (l.unknownAtoms) m = Cat({m, Atom("udta", Atom("xyz ", Bytes(3, 1)))});
    return Atom("moov", m);
  };
  const Bytes head = Cat({Atom("ftyp", Words({FOUR_CHAR_CODE('q', 't', ' ', ' '), 0})),
                          l.unknownAtoms ? Atom("free", Bytes(10, 0)) : Bytes{}});
  Bytes mdatHeader;
  if (l.mdatHeader == 16) {
    mdatHeader = Cat({Words({1}), Bytes{'m', 'd', 'a', 't'}, Words({data.size() + 16}, 8)});
  } else {
    mdatHeader = Cat({Words({l.mdatHeader == 0 ? 0 : data.size() + 8}), Bytes{'m', 'd', 'a', 't'}});
  }
  const uint64_t base = head.size() + (l.moovFirst ? moov(0).size() : 0) + mdatHeader.size();
  if (offsets != nullptr) {
    offsets->assign(tracks.size(), {});
    for (size_t t = 0; t < tracks.size(); ++t)
      for (uint64_t o : sampleRel[t]) (*offsets)[t].push_back(base + o);
  }
  return l.moovFirst ? Cat({head, moov(base), mdatHeader, data}) : Cat({head, mdatHeader, data, moov(base)});
}

// Overwrites a big-endian field `at` bytes past the type of the first atom
// of that type (or of its nth after the first).
void Patch(Bytes& m, const char* type, long at, uint64_t value, int bytes = 4, int nth = 0) {
  auto it = std::search(m.begin(), m.end(), type, type + 4);
  for (int i = 0; i < nth && it != m.end(); ++i) it = std::search(it + 4, m.end(), type, type + 4);
  ASSERT_NE(it, m.end()) << type;
  const size_t pos = size_t((it - m.begin()) + 4 + at);
  for (int i = 0; i < bytes; ++i) m[pos + i] = uint8_t(value >> (8 * (bytes - 1 - i)));
}

Track VideoTrack(size_t samples) {
  Track t;
  for (size_t i = 0; i < samples; ++i) {
    t.sizes.push_back(uint32_t(50 + 37 * i % 90));
    t.durations.push_back(i < samples / 2 ? 100 : 200);
    t.chunkSamples.push_back(1);
  }
  return t;
}

class MovieFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "orx-movie-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    return names;
  }
  // Writes sizes.size() samples of SampleBytes(i) content.
  OSStatus Write(const std::string& path, const std::vector<uint32_t>& sizes, const std::vector<TimeValue>& durations,
                 TimeScale scale, const Bytes& extension = {}, SInt64 threshold = 0) {
    DescPtr desc = MakeDescription(320, 240, extension);
    HostMovieWriterRef w = nullptr;
    OSStatus s = HostMovieWriterCreate(path.c_str(), desc.get(), scale, &w);
    if (s != noErr) return s;
    if (threshold > 0) HostMovieWriterSetLargeFileThreshold(w, threshold);
    for (size_t i = 0; i < sizes.size() && s == noErr; ++i) {
      const Bytes b = SampleBytes(uint32_t(i), sizes[i]);
      s = HostMovieWriterAddSample(w, b.data(), SInt32(b.size()), durations[i % durations.size()]);
    }
    if (s != noErr) return HostMovieWriterAbort(w), s;
    last_file_size_ = HostMovieWriterGetFileSize(w);
    return HostMovieWriterFinish(w);
  }
  // Every sample of the reader against the expected sizes, durations, offsets and content seeds.
  void ExpectSamples(HostMovieReaderRef r, const std::vector<uint32_t>& sizes, const std::vector<uint32_t>& durations,
                     const std::function<uint32_t(size_t)>& seed, const std::vector<uint64_t>& offsets = {},
                     const std::vector<uint32_t>& sync = {}) {
    ASSERT_EQ(HostMovieReaderGetSampleCount(r), SInt32(sizes.size()));
    Bytes buf(size_t(HostMovieReaderGetMaxSampleSize(r)));
    for (size_t i = 0; i < sizes.size(); ++i) {
      SCOPED_TRACE("sample " + std::to_string(i));
      SInt64 offset;
      SInt32 size, got;
      TimeValue duration;
      Boolean isSync;
      ASSERT_EQ(HostMovieReaderGetSampleInfo(r, SInt32(i), &offset, &size, &duration, &isSync), noErr);
      EXPECT_EQ(size, SInt32(sizes[i]));
      EXPECT_EQ(duration, TimeValue(durations[i % durations.size()]));
      if (!offsets.empty()) {
        EXPECT_EQ(uint64_t(offset), offsets[i]);
      }
      EXPECT_EQ(bool(isSync), sync.empty() || std::find(sync.begin(), sync.end(), i + 1) != sync.end());
      ASSERT_EQ(HostMovieReaderReadSample(r, SInt32(i), buf.data(), SInt32(buf.size()), &got), noErr);
      ASSERT_EQ(got, size);
      EXPECT_EQ(Bytes(buf.begin(), buf.begin() + got), SampleBytes(seed(i), sizes[i]));
    }
  }
  // 30 video samples at 30 a second and `frames` frames of sound (content
  // SampleBytes(7, ...)), fed a tenth of a second at a time.
  OSStatus WriteWithSound(const std::string& path, const HostSoundFormat& format, size_t frames) {
    DescPtr desc = MakeDescription(320, 240);
    HostMovieWriterRef w = nullptr;
    OSStatus s = HostMovieWriterCreate(path.c_str(), desc.get(), 30, &w);
    if (s != noErr) return s;
    const UInt32 bytes = HostSoundBytesPerFrame(&format);
    const Bytes sound = SampleBytes(7, frames * bytes);
    s = HostMovieWriterAddSoundTrack(w, &format);
    for (size_t i = 0, fed = 0; s == noErr && (i < 30 || fed < frames); ++i) {
      if (i < 30) s = HostMovieWriterAddSample(w, sound.data(), 100, 1);
      const size_t n = std::min<size_t>(frames - fed, format.sampleRate / 10);
      if (s == noErr) s = HostMovieWriterAddSound(w, sound.data() + fed * bytes, SInt32(n));
      fed += n;
    }
    if (s != noErr) return HostMovieWriterAbort(w), s;
    return HostMovieWriterFinish(w);
  }
  std::string dir_;
  SInt64 last_file_size_ = 0;
};

std::vector<uint32_t> VaryingSizes(size_t n) {
  std::vector<uint32_t> s;
  for (size_t i = 0; i < n; ++i) s.push_back(uint32_t(SampleBytes(uint32_t(i) + 77, 2)[0] * 23 + (i % 7 == 3 ? 0 : 1)));
  return s;
}

uint32_t SameSeed(size_t i) { return uint32_t(i); }

// ---- Writer ---------------------------------------------------------------------------------------

TEST_F(MovieFileTest, WrittenMovieReadsBackExactly) {
  const std::vector<uint32_t> sizes = VaryingSizes(300);
  const std::vector<TimeValue> durations = {1001, 1001, 2002, 1001};
  const Bytes extension = {0, 0, 0, 12, 'x', 't', 'r', 'a', 1, 2, 3, 4};
  ASSERT_EQ(Write(Path("a.mov"), sizes, durations, 30000, extension), noErr);
  EXPECT_EQ(Listing(), std::vector<std::string>{"a.mov"});  // no temporary file left

  Opened o = Open(Path("a.mov"));
  ASSERT_EQ(o.status, noErr) << o.message;
  HostMovieReaderRef r = o.reader.get();
  EXPECT_EQ(HostMovieReaderGetTrackCount(r), 1);
  EXPECT_EQ(HostMovieReaderGetTrackID(r), 1);
  EXPECT_EQ(HostMovieReaderGetTimeScale(r), 30000);
  EXPECT_EQ(HostMovieReaderGetDuration(r), 75 * (3 * 1001 + 2002));
  const DescPtr expected = MakeDescription(320, 240, extension);
  ImageDescriptionHandle got = HostMovieReaderGetImageDescription(r);
  ASSERT_EQ(GetHandleSize(reinterpret_cast<Handle>(got)), Size(86 + extension.size()));
  EXPECT_EQ(std::memcmp(*got, *expected, 86 + extension.size()), 0);
  ExpectSamples(r, sizes, {1001, 1001, 2002, 1001}, SameSeed);

  // ftyp, wide, mdat with its 32-bit size, then the movie atom.
  const Bytes file = ReadFile(Path("a.mov"));
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 20),
            Cat({Words({20}), Bytes{'f', 't', 'y', 'p', 'q', 't', ' ', ' '}, Words({0x20050300}), Bytes{'q', 't', ' ', ' '}}));
  EXPECT_EQ(Bytes(file.begin() + 20, file.begin() + 36), Cat({Words({8}), Bytes{'w', 'i', 'd', 'e'},
                                                             Words({uint64_t(last_file_size_) - 28}), Bytes{'m', 'd', 'a', 't'}}));
  EXPECT_EQ(Bytes(file.begin() + last_file_size_ + 4, file.begin() + last_file_size_ + 8), (Bytes{'m', 'o', 'o', 'v'}));
}

// A sound track of each sample format, fed in pieces of odd sizes between
// the video samples: read back frame for frame across its chunks, which lie
// between the video samples in the file (half a second each), with the
// movie as long as its longer track. A movie without sound offers none.
TEST_F(MovieFileTest, SoundTrackRoundTripsInterleavedWithTheVideo) {
  for (UInt32 sampleFormat : {UInt32{kHostSoundInt16}, UInt32{kHostSoundInt24}, UInt32{kHostSoundFloat32}}) {
    SCOPED_TRACE(sampleFormat);
    const HostSoundFormat format{44100, 2, sampleFormat};
    const UInt32 frameBytes = HostSoundBytesPerFrame(&format);
    ASSERT_EQ(frameBytes, 2 * sampleFormat / 8);
    const size_t totalFrames = 44100 * 3 + 1234;  // 3.03 s against 3 s of video
    const Bytes sound = SampleBytes(sampleFormat, totalFrames * frameBytes);
    DescPtr desc = MakeDescription(320, 240);
    HostMovieWriterRef w = nullptr;
    ASSERT_EQ(HostMovieWriterCreate(Path("s.mov").c_str(), desc.get(), 30, &w), noErr);
    ASSERT_EQ(HostMovieWriterAddSoundTrack(w, &format), noErr);
    EXPECT_EQ(HostMovieWriterAddSoundTrack(w, &format), paramErr);  // one track
    size_t fed = 0;
    for (uint32_t i = 0; i < 90; ++i) {
      const Bytes b = SampleBytes(i, 1000 + i);
      ASSERT_EQ(HostMovieWriterAddSample(w, b.data(), SInt32(b.size()), 1), noErr);
      const size_t n = std::min(totalFrames - fed, size_t(1470 + (i % 5) * 311));
      ASSERT_EQ(HostMovieWriterAddSound(w, sound.data() + fed * frameBytes, SInt32(n)), noErr);
      fed += n;
    }
    ASSERT_EQ(HostMovieWriterAddSound(w, sound.data() + fed * frameBytes, SInt32(totalFrames - fed)), noErr);
    EXPECT_EQ(HostMovieWriterGetSoundFrameCount(w), SInt64(totalFrames));
    ASSERT_EQ(HostMovieWriterFinish(w), noErr);

    Opened o = Open(Path("s.mov"));
    ASSERT_EQ(o.status, noErr) << o.message;
    HostMovieReaderRef r = o.reader.get();
    EXPECT_EQ(HostMovieReaderGetTrackCount(r), 2);
    EXPECT_EQ(HostMovieReaderGetSampleCount(r), 90);
    HostSoundFormat got{};
    SInt64 frames = 0;
    ASSERT_TRUE(HostMovieReaderGetSound(r, &got, &frames));
    EXPECT_EQ(got.sampleRate, 44100u);
    EXPECT_EQ(got.channels, 2u);
    EXPECT_EQ(got.sampleFormat, sampleFormat);
    ASSERT_EQ(frames, SInt64(totalFrames));
    Bytes back(sound.size());
    ASSERT_EQ(HostMovieReaderReadSound(r, 0, SInt32(totalFrames), back.data()), noErr);
    EXPECT_TRUE(back == sound);
    // A stretch across a chunk boundary, and past the end.
    Bytes part(3000 * frameBytes);
    ASSERT_EQ(HostMovieReaderReadSound(r, 21000, 3000, part.data()), noErr);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), sound.begin() + 21000 * frameBytes));
    EXPECT_EQ(HostMovieReaderReadSound(r, SInt64(totalFrames) - 10, 11, part.data()), eofErr);
    // Interleaved: a video sample sits after the first sound chunk, and a
    // sound chunk is among the first few video samples.
    SInt64 tenth = 0, last = 0;
    ASSERT_EQ(HostMovieReaderGetSampleInfo(r, 10, &tenth, nullptr, nullptr, nullptr), noErr);
    ASSERT_EQ(HostMovieReaderGetSampleInfo(r, 89, &last, nullptr, nullptr, nullptr), noErr);
    const Bytes file = ReadFile(Path("s.mov"));
    EXPECT_GT(uint64_t(last - tenth), 80u * 1000 + 22050u * frameBytes);  // sound lies between them
    // The movie lasts as long as its sound (3.03 s at 30 units a second).
    const auto moov = std::search(file.begin(), file.end(), std::begin("mvhd"), std::end("mvhd") - 1);
    ASSERT_NE(moov, file.end());
    const size_t at = size_t(moov - file.begin()) + 4 + 4 + 8;
    EXPECT_EQ((uint32_t(file[at + 4]) << 24 | uint32_t(file[at + 5]) << 16 | uint32_t(file[at + 6]) << 8 | file[at + 7]),
              91u);
  }
  ASSERT_EQ(Write(Path("v.mov"), {10, 20}, {1}, 30), noErr);
  Opened o = Open(Path("v.mov"));
  ASSERT_EQ(o.status, noErr);
  EXPECT_FALSE(HostMovieReaderGetSound(o.reader.get(), nullptr, nullptr));
  const HostSoundFormat bad[] = {{0, 2, kHostSoundInt16}, {48000, 0, kHostSoundInt16}, {48000, 2, 8}};
  for (const HostSoundFormat& f : bad) EXPECT_EQ(HostSoundBytesPerFrame(&f), 0u);
}

TEST_F(MovieFileTest, UniformSizesAndLargeFileLayout) {
  // Equal sizes give one stsz size; the lowered threshold gives co64 and a 64-bit mdat header over 'wide'.
  const std::vector<uint32_t> sizes(40, 100);
  ASSERT_EQ(Write(Path("big.mov"), sizes, {512}, 12800, {}, 1000), noErr);
  const Bytes file = ReadFile(Path("big.mov"));
  EXPECT_EQ(Bytes(file.begin() + 20, file.begin() + 36),
            Cat({Words({1}), Bytes{'m', 'd', 'a', 't'}, Words({uint64_t(last_file_size_) - 20}, 8)}));
  const Bytes moov(file.begin() + last_file_size_, file.end());
  const auto has = [&](const char* t) { return std::search(moov.begin(), moov.end(), t, t + 4) != moov.end(); };
  EXPECT_TRUE(has("co64"));
  EXPECT_FALSE(has("stco"));
  Opened o = Open(Path("big.mov"));
  ASSERT_EQ(o.status, noErr) << o.message;
  ExpectSamples(o.reader.get(), sizes, {512}, SameSeed);
}

TEST_F(MovieFileTest, DurationsPast32BitsUseVersion1Headers) {
  ASSERT_EQ(Write(Path("long.mov"), {10, 20, 30}, {0x7FFFFFFF}, 1), noErr);
  Opened o = Open(Path("long.mov"));
  ASSERT_EQ(o.status, noErr) << o.message;
  EXPECT_EQ(HostMovieReaderGetDuration(o.reader.get()), 3 * TimeValue64(0x7FFFFFFF));
  const Bytes file = ReadFile(Path("long.mov"));
  const char* mvhd = "mvhd";
  const auto it = std::search(file.begin() + 36 + 60, file.end(), mvhd, mvhd + 4);
  ASSERT_NE(it, file.end());
  EXPECT_EQ(it[4], 1);  // version
}

TEST_F(MovieFileTest, WriterRejectsBadArgumentsWithoutLosingTheMovie) {
  HostMovieWriterRef w = nullptr;
  DescPtr desc = MakeDescription(16, 16), flat = MakeDescription(16, 0);
  EXPECT_EQ(HostMovieWriterCreate(nullptr, desc.get(), 600, &w), paramErr);
  EXPECT_EQ(HostMovieWriterCreate(Path("x.mov").c_str(), flat.get(), 600, &w), paramErr);
  EXPECT_EQ(HostMovieWriterCreate(Path("x.mov").c_str(), desc.get(), 0, &w), paramErr);
  EXPECT_EQ(w, nullptr);
  char message[200];
  EXPECT_EQ(HostMovieWriterCreateWithError((dir_ + "/missing/x.mov").c_str(), desc.get(), 600, &w, message, sizeof message),
            fnfErr);
  EXPECT_NE(std::strstr(message, "No such file or directory"), nullptr) << message;

  ASSERT_EQ(HostMovieWriterCreate(Path("x.mov").c_str(), desc.get(), 600, &w), noErr);
  const uint8_t data[4] = {1, 2, 3, 4};
  EXPECT_EQ(HostMovieWriterAddSample(w, data, -1, 20), paramErr);
  EXPECT_STRNE(HostMovieWriterGetErrorMessage(w), "");
  EXPECT_EQ(HostMovieWriterAddSample(w, data, 4, 0), paramErr);
  EXPECT_EQ(HostMovieWriterAddSample(w, nullptr, 4, 20), paramErr);
  EXPECT_EQ(HostMovieWriterAddSample(w, data, 4, 20), noErr);
  EXPECT_EQ(HostMovieWriterGetSampleCount(w), 1);
  EXPECT_EQ(Listing().size(), 1u);
  EXPECT_EQ(Listing()[0].rfind("x.mov.partial-", 0), 0u);
  // The name a signal handler would remove is the file being written.
  EXPECT_EQ(HostMovieWriterGetTemporaryPath(w), Path(Listing()[0]));
  HostMovieWriterAbort(w);
  EXPECT_TRUE(Listing().empty());

  // No samples: Finish fails and leaves nothing behind. A path that is a
  // folder is never replaced: the finished movie is kept under the name the
  // message gives.
  ASSERT_EQ(HostMovieWriterCreate(Path("x.mov").c_str(), desc.get(), 600, &w), noErr);
  EXPECT_EQ(HostMovieWriterFinishWithError(w, message, sizeof message), paramErr);
  EXPECT_STREQ(message, "the movie holds no samples");
  fs::create_directory(Path("folder"));
  ASSERT_EQ(HostMovieWriterCreate(Path("folder").c_str(), desc.get(), 600, &w), noErr);
  ASSERT_EQ(HostMovieWriterAddSample(w, data, 4, 20), noErr);
  EXPECT_EQ(HostMovieWriterFinishWithError(w, message, sizeof message), dupFNErr);
  EXPECT_NE(std::strstr(message, "a folder has that name"), nullptr) << message;
  EXPECT_TRUE(fs::is_directory(Path("folder")));
  const char* keptFromFolder = std::strstr(message, "kept as ");
  ASSERT_NE(keptFromFolder, nullptr) << message;
  EXPECT_EQ(HostMovieReaderGetSampleCount(Open(keptFromFolder + 8).reader.get()), 1);
  fs::remove(keptFromFolder + 8);

  // Told not to replace: a file that appeared while the movie was written
  // stays as it was, and the finished movie is kept under the name the
  // message gives. Where nothing appeared, the movie moves into place.
  fs::remove(Path("folder"));
  ASSERT_EQ(HostMovieWriterCreate(Path("y.mov").c_str(), desc.get(), 600, &w), noErr);
  HostMovieWriterSetReplaceExisting(w, false);
  ASSERT_EQ(HostMovieWriterAddSample(w, data, 4, 20), noErr);
  WriteFile(Path("y.mov"), Bytes{7, 7, 7});
  EXPECT_EQ(HostMovieWriterFinishWithError(w, message, sizeof message), dupFNErr);
  EXPECT_EQ(ReadFile(Path("y.mov")), (Bytes{7, 7, 7}));
  const char* kept = std::strstr(message, "kept as ");
  ASSERT_NE(kept, nullptr) << message;
  Opened o = Open(kept + 8);
  ASSERT_EQ(o.status, noErr) << o.message;
  EXPECT_EQ(HostMovieReaderGetSampleCount(o.reader.get()), 1);
  ASSERT_EQ(HostMovieWriterCreate(Path("z.mov").c_str(), desc.get(), 600, &w), noErr);
  HostMovieWriterSetReplaceExisting(w, false);
  ASSERT_EQ(HostMovieWriterAddSample(w, data, 4, 20), noErr);
  EXPECT_EQ(HostMovieWriterFinish(w), noErr);
  EXPECT_EQ(Open(Path("z.mov")).status, noErr);
  EXPECT_EQ(Listing().size(), 3u);  // y.mov, its kept movie, z.mov
}

TEST_F(MovieFileTest, FileSizeLimitFailsTheMovieCleanly) {
  // A child process under a 64 KiB file-size limit: writes fail with EFBIG.
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{64 * 1024, 64 * 1024};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(10);
    DescPtr desc = MakeDescription(16, 16);
    HostMovieWriterRef w = nullptr;
    if (HostMovieWriterCreate(Path("f.mov").c_str(), desc.get(), 600, &w) != noErr) _exit(11);
    const Bytes b = SampleBytes(1, 10240);
    OSStatus s = noErr;
    for (int i = 0; i < 20 && s == noErr; ++i) s = HostMovieWriterAddSample(w, b.data(), SInt32(b.size()), 20);
    if (s != ioErr) _exit(12);
    const std::string m = HostMovieWriterGetErrorMessage(w);
    if (m.find("cannot write sample ") != 0 || m.find(std::strerror(EFBIG)) == std::string::npos) _exit(13);
    if (HostMovieWriterAddSample(w, b.data(), 10, 20) != ioErr) _exit(14);
    if (HostMovieWriterFinish(w) != ioErr) _exit(15);
    _exit(Listing().empty() ? 0 : 16);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "failed check " << WEXITSTATUS(status);
}

// ---- Reader on hand-built movies -------------------------------------------------------------------

TEST_F(MovieFileTest, ReadsMultipleTracksChunksSyncTablesAndLayouts) {
  Track sound;
  sound.handler = "soun";
  sound.format = "twos";
  sound.sizes.assign(10, 44);
  sound.durations.assign(10, 1);
  sound.chunkSamples = {5, 5};
  sound.uniformSizes = true;
  Track video;
  video.sizes = {120, 0, 77, 300, 12, 5, 64, 90, 91, 33, 1, 250};
  video.durations = {100, 100, 100, 200, 200, 50, 50, 50, 50, 100, 100, 100};
  video.chunkSamples = {3, 3, 2, 2, 1, 1};
  video.sync = {1, 4, 7};
  const Layout layouts[] = {{false, true, 8}, {true, true, 8}, {true, false, 16}, {false, false, 16}, {true, true, 0}};
  for (bool co64 : {false, true}) {
    for (const Layout& l : layouts) {
      SCOPED_TRACE(testing::Message() << "co64 " << co64 << " moov first " << l.moovFirst << " mdat header " << l.mdatHeader);
      sound.co64 = video.co64 = co64;
      std::vector<std::vector<uint64_t>> offsets;
      WriteFile(Path("h.mov"), BuildMovie({sound, video}, l, &offsets));
      Opened o = Open(Path("h.mov"));
      ASSERT_EQ(o.status, noErr) << o.message;
      HostMovieReaderRef r = o.reader.get();
      EXPECT_EQ(HostMovieReaderGetTrackCount(r), 2);
      EXPECT_EQ(HostMovieReaderGetTrackID(r), 2);
      EXPECT_EQ(HostMovieReaderGetTimeScale(r), 600);
      EXPECT_EQ(HostMovieReaderGetDuration(r), 1200);
      EXPECT_EQ(HostMovieReaderGetMaxSampleSize(r), 300);
      const ImageDescription& d = **HostMovieReaderGetImageDescription(r);
      EXPECT_EQ(d.cType, kORXV);
      EXPECT_EQ(d.width, 64);
      EXPECT_EQ(d.height, 32);
      EXPECT_EQ(d.depth, 24);
      EXPECT_EQ(std::memcmp(d.name, "\x04test", 5), 0);
      ExpectSamples(r, video.sizes, video.durations, [](size_t i) { return Seed(1, i); }, offsets[1], video.sync);
    }
  }
}

TEST_F(MovieFileTest, ChoosesTheVideoTrackByCodecType) {
  Track other = VideoTrack(3), orx = VideoTrack(4);
  other.format = "avc1";
  WriteFile(Path("two.mov"), BuildMovie({other, orx}, {}));
  Opened o = Open(Path("two.mov"));
  ASSERT_EQ(o.status, noErr) << o.message;
  EXPECT_EQ(HostMovieReaderGetTrackID(o.reader.get()), 2);
  EXPECT_EQ(HostMovieReaderGetSampleCount(o.reader.get()), 4);
  o = Open(Path("two.mov"), 0);
  ASSERT_EQ(o.status, noErr) << o.message;
  EXPECT_EQ(HostMovieReaderGetTrackID(o.reader.get()), 1);
  EXPECT_EQ((*HostMovieReaderGetImageDescription(o.reader.get()))->cType, FOUR_CHAR_CODE('a', 'v', 'c', '1'));
  o = Open(Path("two.mov"), FOUR_CHAR_CODE('A', 'B', 'C', 'D'));
  EXPECT_EQ(o.status, invalidTrack);
  EXPECT_EQ(o.reader, nullptr);
  EXPECT_EQ(o.message, "no 'ABCD' video track");
}

// ---- Hostile files ---------------------------------------------------------------------------------

TEST_F(MovieFileTest, RejectsMalformedTables) {
  struct Case {
    const char* what;
    std::function<void(Bytes&)> patch;
    OSStatus status;
    const char* message;
  };
  const Case cases[] = {
      {"huge sample count", [](Bytes& m) { Patch(m, "stsz", 8, 0xFFFFFFFF); }, invalidSampleTable, "4294967295 entries"},
      {"time table short", [](Bytes& m) { Patch(m, "stts", 8, 4); }, invalidSampleTable, "covers 9 samples, the track has 10"},
      {"time table count", [](Bytes& m) { Patch(m, "stts", 4, 1000); }, invalidSampleTable, "has room for 2"},
      {"chunks short", [](Bytes& m) { Patch(m, "stco", 4, 11); }, invalidSampleTable, "'stco' atom lists 11"},
      {"chunk table", [](Bytes& m) { Patch(m, "stsc", 12, 2); }, invalidSampleTable, "sample-to-chunk"},
      {"chunk order", [](Bytes& m) { Patch(m, "stsc", 8, 2); }, invalidSampleTable, "start at chunk 1"},
      {"offset", [](Bytes& m) { Patch(m, "stco", 8, 0xFFFFFF00); }, invalidSampleTable, "sample 0 ends at byte"},
      {"sync", [](Bytes& m) { Patch(m, "stss", 8, 11); }, invalidSampleTable, "names sample 11 of 10"},
      {"sync sample 0", [](Bytes& m) { Patch(m, "stss", 8, 0); }, invalidSampleTable, "names sample 0 of 10"},
      {"short description", [](Bytes& m) { Patch(m, "stsd", 8, 40); }, badImageDescription, "40 bytes, fewer than 86"},
      {"no width", [](Bytes& m) { Patch(m, "stsd", 8 + 32, 0, 2); }, badImageDescription, "the image is 0x32"},
      {"child past parent", [](Bytes& m) { Patch(m, "stbl", -8, 5000); }, invalidMovie, "past the end of its parent 'minf'"},
      {"no stbl", [](Bytes& m) { Patch(m, "stbl", -4, FOUR_CHAR_CODE('x', 'x', 'x', 'x')); }, invalidTrack, "no 'stbl'"},
      {"no moov", [](Bytes& m) { Patch(m, "moov", -4, FOUR_CHAR_CODE('f', 'r', 'e', 'e')); }, noMovieFound, "no movie atom"},
      {"not a movie", [](Bytes& m) { m.assign(100, 'A'); }, noMovieFound, "not a QuickTime movie"},
      {"empty", [](Bytes& m) { m.clear(); }, noMovieFound, "not a QuickTime movie"},
      {"moov cut", [](Bytes& m) { m.pop_back(); }, invalidMovie, "the 'moov' atom runs past the end of the file"},
  };
  Track t = VideoTrack(10);
  t.sync = {1, 5};
  const Bytes good = BuildMovie({t}, {});  // moov last: only the cut case reaches into the samples
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes m = good;
    c.patch(m);
    WriteFile(Path("bad.mov"), m);
    Opened o = Open(Path("bad.mov"));
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.reader, nullptr);
    EXPECT_NE(o.message.find(c.message), std::string::npos) << o.message;
  }

  // A uniform size whose count claims more bytes than the file holds; no samples at all.
  Track uniform = VideoTrack(4);
  uniform.sizes.assign(4, 10);
  uniform.uniformSizes = true;
  Bytes m = BuildMovie({uniform}, {});
  Patch(m, "stsz", 8, 0xFFFFFFFF);
  WriteFile(Path("bad.mov"), m);
  Opened o = Open(Path("bad.mov"));
  EXPECT_EQ(o.status, invalidSampleTable);
  EXPECT_NE(o.message.find("more than the file can hold"), std::string::npos) << o.message;
  WriteFile(Path("bad.mov"), BuildMovie({VideoTrack(0)}, {}));
  o = Open(Path("bad.mov"));
  EXPECT_EQ(o.status, invalidSampleTable);
  EXPECT_EQ(o.message, "the track holds no samples");

  o = Open(Path("missing.mov"));
  EXPECT_EQ(o.status, fnfErr);
  EXPECT_EQ(o.message, "cannot open: No such file or directory");
}

TEST_F(MovieFileTest, SamplesPastTheEndOfTheFileAreNamed) {
  std::vector<std::vector<uint64_t>> offsets;
  const Bytes m = BuildMovie({VideoTrack(10)}, {true, false, 0}, &offsets);
  const size_t cut = size_t(offsets[0][7]) + 20;
  WriteFile(Path("cut.mov"), m, cut);
  Opened o = Open(Path("cut.mov"));
  EXPECT_EQ(o.status, invalidSampleTable);
  EXPECT_EQ(o.message, "sample 7 ends at byte " + std::to_string(offsets[0][8]) + ", past the end of the file (" +
                           std::to_string(cut) + " bytes)");
}

TEST_F(MovieFileTest, EveryTruncationIsRejectedOrReadConsistently) {
  Track t = VideoTrack(12);
  ASSERT_EQ(Write(Path("w.mov"), t.sizes, {10}, 600), noErr);
  const Bytes written = ReadFile(Path("w.mov"));
  t.chunkSamples = {4, 4, 2, 2};
  for (const Bytes& full : {written, BuildMovie({t}, {true, true, 0})}) {
    int accepted = 0;
    for (size_t cut = 0; cut <= full.size(); ++cut) {
      WriteFile(Path("t.mov"), full, cut);
      Opened o = Open(Path("t.mov"));
      if (o.status != noErr) {
        EXPECT_FALSE(o.message.empty()) << "cut at " << cut;
        continue;
      }
      ++accepted;
      HostMovieReaderRef r = o.reader.get();
      Bytes buf(size_t(HostMovieReaderGetMaxSampleSize(r)));
      for (SInt32 i = 0; i < HostMovieReaderGetSampleCount(r); ++i) {
        SInt64 offset;
        SInt32 size, got;
        ASSERT_EQ(HostMovieReaderGetSampleInfo(r, i, &offset, &size, nullptr, nullptr), noErr);
        ASSERT_LE(uint64_t(offset + size), cut);
        ASSERT_EQ(HostMovieReaderReadSample(r, i, buf.data(), SInt32(buf.size()), &got), noErr);
        ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + got, full.begin() + offset));
      }
    }
    EXPECT_EQ(accepted, 1);  // only the whole file: every shorter one loses a sample or the movie atom
  }
}

TEST_F(MovieFileTest, ReadSampleReportsSmallBuffersAndShortFiles) {
  ASSERT_EQ(Write(Path("r.mov"), {100, 200, 300}, {10}, 600), noErr);
  Opened o = Open(Path("r.mov"));
  ASSERT_EQ(o.status, noErr) << o.message;
  HostMovieReaderRef r = o.reader.get();
  Bytes buf(300);
  SInt32 got = 0;
  EXPECT_EQ(HostMovieReaderReadSample(r, 2, buf.data(), 299, &got), paramErr);
  EXPECT_STREQ(HostMovieReaderGetErrorMessage(r), "sample 2 needs 300 bytes, the buffer holds 299");
  EXPECT_EQ(HostMovieReaderReadSample(r, 3, buf.data(), 300, &got), paramErr);
  SInt64 offset;
  ASSERT_EQ(HostMovieReaderGetSampleInfo(r, 2, &offset, nullptr, nullptr, nullptr), noErr);
  ASSERT_EQ(truncate(Path("r.mov").c_str(), offset + 120), 0);
  EXPECT_EQ(HostMovieReaderReadSample(r, 2, buf.data(), 300, &got), eofErr);
  EXPECT_STREQ(HostMovieReaderGetErrorMessage(r), "the file ends inside sample 2 (120 of its 300 bytes)");
  EXPECT_EQ(HostMovieReaderReadSample(r, 1, buf.data(), 300, &got), noErr);
  EXPECT_STREQ(HostMovieReaderGetErrorMessage(r), "");
  EXPECT_EQ(got, 200);
}

// ---- Sound tracks: tables, descriptions, track order -----------------------------------------------

constexpr uint32_t kLPCMFloat = 1, kLPCMBigEndian = 2, kLPCMSigned = 4, kLPCMPacked = 8;

// A version 2 linear PCM description, as the writer makes it.
Bytes LPCMDescription(double rate, uint32_t channels, uint32_t bits, uint32_t flags) {
  uint64_t rateBits;
  std::memcpy(&rateBits, &rate, 8);
  return Cat({Words({72}), Bytes{'l', 'p', 'c', 'm'}, Bytes(6, 0), Words({1, 2, 0}, 2), Words({0}),
              Words({3, 16, 0xFFFE, 0}, 2), Words({0x00010000, 72}), Words({rateBits}, 8),
              Words({channels, 0x7F000000, bits, flags, channels * bits / 8, 1})});
}
// A version 0 sound description (16-bit 'sowt' unless told), its rate in 16.16 fixed point.
Bytes SoundDescription(uint32_t rateFixed, uint32_t channels, uint32_t bits = 16, const char* format = "sowt") {
  Bytes b = Words({36});
  PutType(b, format);
  return Cat({b, Bytes(6, 0), Words({1, 0, 0}, 2), Words({0}), Words({channels, bits, 0, 0}, 2), Words({rateFixed})});
}

// frames sound frames of frameBytes bytes in chunks of at most perChunk.
Track SoundTrack(const Bytes& description, uint32_t frameBytes, uint32_t frames, uint32_t perChunk) {
  Track t;
  t.handler = "soun";
  t.description = description;
  t.sizes.assign(frames, frameBytes);
  t.durations.assign(frames, 1);
  for (uint32_t left = frames; left > 0; left -= std::min(left, perChunk)) t.chunkSamples.push_back(std::min(left, perChunk));
  t.uniformSizes = true;
  return t;
}
// 6000 frames of 16-bit stereo at 8000 Hz in chunks of 2500, 2500 and 1000
// (two sample-to-chunk entries).
Track PCMTrack() { return SoundTrack(LPCMDescription(8000, 2, 16, kLPCMPacked | kLPCMSigned), 4, 6000, 2500); }

// What BuildMovie put in track t's samples, in order.
Bytes TrackBytes(size_t t, const Track& track) {
  Bytes out;
  for (size_t j = 0; j < track.sizes.size(); ++j) {
    const Bytes s = SampleBytes(Seed(t, j), track.sizes[j]);
    out.insert(out.end(), s.begin(), s.end());
  }
  return out;
}

// The movie at path opens with its four video samples whole and offers no
// sound; the reason names why.
void ExpectPicturesWithoutSound(const std::string& path, const std::string& why, size_t videoTrack = 1) {
  Opened o = Open(path);
  ASSERT_EQ(o.status, noErr) << o.message;
  HostMovieReaderRef r = o.reader.get();
  const Track video = VideoTrack(4);
  Bytes buf(size_t(HostMovieReaderGetMaxSampleSize(r)));
  ASSERT_EQ(HostMovieReaderGetSampleCount(r), 4);
  for (SInt32 i = 0; i < 4; ++i) {
    SInt32 got = 0;
    ASSERT_EQ(HostMovieReaderReadSample(r, i, buf.data(), SInt32(buf.size()), &got), noErr);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + got), SampleBytes(Seed(videoTrack, size_t(i)), video.sizes[size_t(i)]));
  }
  EXPECT_FALSE(HostMovieReaderGetSound(r, nullptr, nullptr));
  const std::string problem = HostMovieReaderGetSoundProblem(r);
  EXPECT_NE(problem.find(why), std::string::npos) << problem;
  Bytes one(8);
  EXPECT_EQ(HostMovieReaderReadSound(r, 0, 1, one.data()), paramErr);
}

// The trial's tables and their neighbours: chunk offsets, frame counts and
// sample-to-chunk entries that disagree with each other, their atoms or the
// file. Each leaves the pictures and names what is wrong with the sound.
TEST_F(MovieFileTest, SoundTablesAreCheckedAgainstEachOtherAndTheFile) {
  const Track video = VideoTrack(4);
  for (bool co64 : {false, true}) {
    Track sound = PCMTrack();
    sound.co64 = co64;
    WriteFile(Path("s.mov"), BuildMovie({sound, video}, {}));
    Opened o = Open(Path("s.mov"));
    ASSERT_EQ(o.status, noErr) << o.message;
    HostSoundFormat f{};
    SInt64 frames = 0;
    ASSERT_TRUE(HostMovieReaderGetSound(o.reader.get(), &f, &frames));
    EXPECT_EQ(f.sampleRate, 8000u);
    EXPECT_EQ(f.channels, 2u);
    EXPECT_EQ(f.sampleFormat, UInt32{kHostSoundInt16});
    ASSERT_EQ(frames, 6000);
    EXPECT_STREQ(HostMovieReaderGetSoundProblem(o.reader.get()), "");
    Bytes back(6000 * 4);
    ASSERT_EQ(HostMovieReaderReadSound(o.reader.get(), 0, 6000, back.data()), noErr);
    EXPECT_TRUE(back == TrackBytes(0, sound));
  }

  struct Case {
    const char* what;
    std::function<void(Bytes&)> patch;
    const char* why;
  };
  // The sound track comes first, so the first atom of each type is its own.
  // stsc: count at 4, then entries (first chunk, frames a chunk, description) from 8.
  const Case cases[] = {
      {"no chunk offsets", [](Bytes& m) { Patch(m, "stco", 4, 0); }, "entry 1 names chunk 1, the track has 0"},
      {"one frame a chunk", [](Bytes& m) { Patch(m, "stsc", 12, 1); }, "chunks (3) hold 1002 frames, its 'stsz' counts 6000"},
      {"stsz against the chunks", [](Bytes& m) { Patch(m, "stsz", 8, 5999); }, "hold 6000 frames, its 'stsz' counts 5999"},
      {"stsz past the file", [](Bytes& m) { Patch(m, "stsz", 8, 0xFFFFFFFF); },
       "claims 4294967295 frames of 4 bytes, more than the file holds"},
      {"tables agreeing past the file",
       [](Bytes& m) { Patch(m, "stsc", 12, 1000000000), Patch(m, "stsz", 8, 2000001000); },
       "claims 2000001000 frames of 4 bytes, more than the file holds"},
      {"no frames", [](Bytes& m) { Patch(m, "stsz", 8, 0); }, "the sound track holds no frames"},
      {"sizes of their own", [](Bytes& m) { Patch(m, "stsz", 4, 0); }, "gives each sample a size of its own"},
      {"samples of another size", [](Bytes& m) { Patch(m, "stsz", 4, 3); }, "samples are 3 bytes, its frames 4"},
      {"first chunk past the file", [](Bytes& m) { Patch(m, "stco", 8, 0xFFFFFF00); },
       "sound chunk 1 (10000 bytes from byte 4294967040) runs past the end of the file"},
      {"last chunk past the file", [](Bytes& m) { Patch(m, "stco", 16, m.size() - 100); },
       "sound chunk 3 (4000 bytes from byte"},
      {"stco past its atom", [](Bytes& m) { Patch(m, "stco", 4, 4); }, "'stco' atom lists 4 entries but has room for 3"},
      {"stsc past its atom", [](Bytes& m) { Patch(m, "stsc", 4, 3); }, "'stsc' atom lists 3 entries but has room for 2"},
      {"no stco", [](Bytes& m) { Patch(m, "stco", -4, FOUR_CHAR_CODE('x', 'x', 'x', 'x')); }, "has no 'stco' atom"},
      {"stsc from chunk 0", [](Bytes& m) { Patch(m, "stsc", 8, 0); }, "does not start at chunk 1 (it starts at chunk 0)"},
      {"stsc from chunk 2", [](Bytes& m) { Patch(m, "stsc", 8, 2); }, "does not start at chunk 1 (it starts at chunk 2)"},
      {"stsc empty", [](Bytes& m) { Patch(m, "stsc", 4, 0); }, "does not start at chunk 1 (it is empty)"},
      {"stsc out of order", [](Bytes& m) { Patch(m, "stsc", 20, 1); }, "entry 1 is out of order (chunk 1, then chunk 1)"},
      {"stsc past the chunks", [](Bytes& m) { Patch(m, "stsc", 20, 9); }, "entry 2 names chunk 9, the track has 3"},
      {"stsc chunks of nothing", [](Bytes& m) { Patch(m, "stsc", 24, 0); }, "entry 2 puts no samples in a chunk"},
      {"stsc description", [](Bytes& m) { Patch(m, "stsc", 16, 2); }, "names sample description 2 of 1"},
  };
  const Bytes good = BuildMovie({PCMTrack(), video}, {});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes m = good;
    c.patch(m);
    WriteFile(Path("bad.mov"), m);
    ExpectPicturesWithoutSound(Path("bad.mov"), c.why);
  }
  // 64-bit offsets, and a file cut inside its last sound chunk.
  Track wide = PCMTrack();
  wide.co64 = true;
  Bytes m = BuildMovie({wide, video}, {});
  Patch(m, "co64", 8, uint64_t(1) << 40, 8);
  WriteFile(Path("bad.mov"), m);
  ExpectPicturesWithoutSound(Path("bad.mov"), "sound chunk 1 (10000 bytes from byte 1099511627776)");
  std::vector<std::vector<uint64_t>> offsets;
  m = BuildMovie({video, PCMTrack()}, {true, false, 0}, &offsets);
  WriteFile(Path("cut.mov"), m, size_t(offsets[1].back()));
  ExpectPicturesWithoutSound(Path("cut.mov"), "sound chunk 3 (4000 bytes from byte", 0);
}

// The trial's descriptions: each field out of its range names itself, and no
// damaged description is ever dropped in silence.
TEST_F(MovieFileTest, DamagedSoundDescriptionsNameTheirReason) {
  const Track video = VideoTrack(4);
  const auto rate = [](double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    return bits;
  };
  struct Case {
    const char* what;
    long at;  // in the description; -4: the stsd entry count
    uint64_t value;
    int bytes;
    const char* why;
  };
  const Case cases[] = {
      {"no channels", 48, 0, 4, "the sound track has 0 channels (1 to 64)"},
      {"65 channels", 48, 65, 4, "the sound track has 65 channels (1 to 64)"},
      {"65535 channels", 48, 65535, 4, "the sound track has 65535 channels (1 to 64)"},
      {"0 bits", 56, 0, 4, "samples are 0-bit integers (16 or 24 bits)"},
      {"7 bits", 56, 7, 4, "samples are 7-bit integers (16 or 24 bits)"},
      {"33 bits", 56, 33, 4, "samples are 33-bit integers (16 or 24 bits)"},
      {"rate 0", 40, rate(0), 8, "rate is 0 Hz (1 to 384000)"},
      {"rate NaN", 40, rate(std::nan("")), 8, "rate is nan Hz"},
      {"rate +inf", 40, rate(HUGE_VAL), 8, "rate is inf Hz"},
      {"rate -inf", 40, rate(-HUGE_VAL), 8, "rate is -inf Hz"},
      {"rate past the range", 40, rate(384001), 8, "rate is 384001 Hz (1 to 384000)"},
      {"fractional rate", 40, rate(8000.5), 8, "rate of 8000.5 Hz is not a whole number"},
      {"big-endian", 60, kLPCMPacked | kLPCMSigned | kLPCMBigEndian, 4, "samples are big-endian"},
      {"not packed", 60, kLPCMSigned, 4, "samples are not packed"},
      {"unsigned", 60, kLPCMPacked, 4, "samples are unsigned 16-bit integers"},
      {"16-bit floats", 60, kLPCMPacked | kLPCMFloat, 4, "samples are 16-bit floats (32 bits)"},
      {"frames a packet", 68, 0, 4, "packets hold 0 frames"},
      {"bytes a frame", 64, 0, 4, "gives 0 bytes a frame, its format makes 4"},
      {"structure", 36, 0, 4, "gives its structure as 0 bytes (72 to 72)"},
      {"version 0", 16, 0, 2, "'lpcm' description is version 0"},
      {"version 1", 16, 1, 2, "'lpcm' description is version 1"},
      {"another format", 4, FOUR_CHAR_CODE('t', 'w', 'o', 's'), 4, "not linear PCM of a kind this reader reads ('twos'"},
      {"size under the common fields", 0, 20, 4, "sample description holds 20 bytes, fewer than 36"},
      {"size under version 2's", 0, 40, 4, "version 2 description holds 40 bytes, fewer than 72"},
      {"size past the atom", 0, 5000, 4, "sample description claims 5000 bytes, its 'stsd' atom holds 72"},
      {"no description", -4, 0, 4, "the sound track has no sample description"},
      {"descriptions it does not hold", -4, 2, 4, "'stsd' atom lists 2 sample descriptions but holds 1"},
  };
  const Bytes good = BuildMovie({PCMTrack(), video}, {});  // sound first: its stsd is the first
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes m = good;
    Patch(m, "stsd", 8 + c.at, c.value, c.bytes);
    WriteFile(Path("bad.mov"), m);
    ExpectPicturesWithoutSound(Path("bad.mov"), c.why);
  }
  // A description cut short with its atom.
  Bytes cut = LPCMDescription(8000, 2, 16, kLPCMPacked | kLPCMSigned);
  cut.resize(60);
  cut[3] = 60;
  WriteFile(Path("bad.mov"), BuildMovie({SoundTrack(cut, 4, 100, 100), video}, {}));
  ExpectPicturesWithoutSound(Path("bad.mov"), "version 2 description holds 60 bytes, fewer than 72");

  // Version 0 'sowt': read when whole, each field named when not.
  WriteFile(Path("sowt.mov"), BuildMovie({SoundTrack(SoundDescription(22050u << 16, 1), 2, 3000, 1000), video}, {}));
  Opened o = Open(Path("sowt.mov"));
  ASSERT_EQ(o.status, noErr) << o.message;
  HostSoundFormat f{};
  SInt64 frames = 0;
  ASSERT_TRUE(HostMovieReaderGetSound(o.reader.get(), &f, &frames));
  EXPECT_EQ(f.sampleRate, 22050u);
  EXPECT_EQ(f.channels, 1u);
  EXPECT_EQ(frames, 3000);
  const struct {
    Bytes description;
    const char* why;
  } sowt[] = {
      {SoundDescription(22050u << 16, 0), "the sound track has 0 channels"},
      {SoundDescription(22050u << 16, 65), "the sound track has 65 channels"},
      {SoundDescription(22050u << 16, 1, 8), "'sowt' samples are 8-bit (16 bits)"},
      {SoundDescription(0, 1), "rate is 0 Hz"},
      {SoundDescription(0x56EE8BA3, 1), "rate is 22254.5455 Hz (1 to 384000, a whole number)"},
  };
  for (const auto& c : sowt) {
    SCOPED_TRACE(c.why);
    WriteFile(Path("bad.mov"), BuildMovie({SoundTrack(c.description, 2, 3000, 1000), video}, {}));
    ExpectPicturesWithoutSound(Path("bad.mov"), c.why);
  }

  // Every word of the description at values from the trial: sound read
  // back exactly as written, or a reason given. Never silence.
  const Bytes written = TrackBytes(0, PCMTrack());
  for (long at = 0; at < 72; at += 4) {
    for (uint64_t value : {0ull, 1ull, 2ull, 7ull, 33ull, 65ull, 0xFFFFull, 0x7F800000ull, 0xFFFFFFFFull}) {
      SCOPED_TRACE(testing::Message() << "byte " << at << " = " << value);
      Bytes m = good;
      Patch(m, "stsd", 8 + at, value);
      WriteFile(Path("sweep.mov"), m);
      Opened s = Open(Path("sweep.mov"));
      ASSERT_EQ(s.status, noErr) << s.message;
      HostSoundFormat sf{};
      SInt64 n = 0;
      if (!HostMovieReaderGetSound(s.reader.get(), &sf, &n)) {
        EXPECT_STRNE(HostMovieReaderGetSoundProblem(s.reader.get()), "");
        continue;
      }
      ASSERT_EQ(HostSoundBytesPerFrame(&sf), 4u);
      ASSERT_EQ(n, 6000);
      Bytes back(written.size());
      ASSERT_EQ(HostMovieReaderReadSound(s.reader.get(), 0, 6000, back.data()), noErr);
      EXPECT_TRUE(back == written);
    }
  }
}

// A damaged track that is not the chosen video track is skipped, before the
// video as after it; a movie whose top level is broken is still refused.
TEST_F(MovieFileTest, ADamagedTrackIsSkippedWhereverItLies) {
  struct Case {
    const char* what;
    const char* type;  // the atom whose size is damaged
    uint64_t size;
    const char* why;
  };
  const Case cases[] = {
      {"a child past its parent", "stbl", 5000, "the 'stbl' atom runs past the end of its parent 'minf'"},
      {"an mdia of size 0", "mdia", 0, "damaged before its kind shows: the 'mdia' atom inside 'trak' has size 0"},
      {"a handler past its parent", "hdlr", 5000, "damaged before its kind shows: the 'hdlr' atom runs past"},
      {"a description table past its parent", "stsd", 5000, "the 'stsd' atom runs past the end of its parent 'stbl'"},
  };
  for (bool soundFirst : {true, false}) {
    const std::vector<Track> tracks = soundFirst ? std::vector<Track>{PCMTrack(), VideoTrack(4)}
                                                 : std::vector<Track>{VideoTrack(4), PCMTrack()};
    const Bytes good = BuildMovie(tracks, {});
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.what << (soundFirst ? ", sound first" : ", sound last"));
      Bytes m = good;
      Patch(m, c.type, -8, c.size, 4, soundFirst ? 0 : 1);
      WriteFile(Path("bad.mov"), m);
      ExpectPicturesWithoutSound(Path("bad.mov"), c.why, soundFirst ? 1 : 0);
      Opened o = Open(Path("bad.mov"));
      ASSERT_EQ(o.status, noErr);
      EXPECT_EQ(HostMovieReaderGetTrackCount(o.reader.get()), 2);
      EXPECT_EQ(HostMovieReaderGetTrackID(o.reader.get()), soundFirst ? 2 : 1);
      if (std::strcmp(c.type, "mdia") == 0) {
        EXPECT_EQ(std::string(HostMovieReaderGetSoundProblem(o.reader.get())).rfind(soundFirst ? "track 1," : "track 2,", 0), 0u);
      }
    }
  }
  // A damaged video track of another kind before the chosen one, read
  // through; the only video track damaged, refused with its reason.
  Track other = VideoTrack(3);
  other.format = "avc1";
  Bytes m = BuildMovie({other, VideoTrack(4)}, {});
  Patch(m, "stsd", 4, 7);
  WriteFile(Path("two.mov"), m);
  Opened o = Open(Path("two.mov"));
  ASSERT_EQ(o.status, noErr) << o.message;
  EXPECT_EQ(HostMovieReaderGetTrackID(o.reader.get()), 2);
  EXPECT_STREQ(HostMovieReaderGetSoundProblem(o.reader.get()), "");  // no track that could hold sound
  o = Open(Path("two.mov"), 0);
  EXPECT_EQ(o.status, noErr) << o.message;  // any codec: the first whole video track
  m = BuildMovie({PCMTrack(), VideoTrack(4)}, {});
  Patch(m, "stbl", -8, 5000, 4, 1);
  WriteFile(Path("bad.mov"), m);
  o = Open(Path("bad.mov"));
  EXPECT_EQ(o.status, invalidMovie);
  EXPECT_EQ(o.message, "the 'stbl' atom runs past the end of its parent 'minf'");
  // The top level: a track running past the movie atom.
  m = BuildMovie({PCMTrack(), VideoTrack(4)}, {});
  Patch(m, "trak", -8, 0xFFFFFF);
  WriteFile(Path("bad.mov"), m);
  o = Open(Path("bad.mov"));
  EXPECT_EQ(o.status, invalidMovie);
  EXPECT_EQ(o.reader, nullptr);
  EXPECT_EQ(o.message, "the 'trak' atom runs past the end of its parent 'moov'");
}

// The check made before the file goes to another reader: damage of any
// sound track whatever its format, and nothing else.
TEST_F(MovieFileTest, SoundTracksAreCheckedBeforeOtherReadersSeeThem) {
  const auto check = [&](const Bytes& m) {
    WriteFile(Path("c.mov"), m);
    char message[256] = "unset";
    const OSStatus s = HostMovieCheckSoundTracks(Path("c.mov").c_str(), message, sizeof message);
    return std::to_string(s) + " " + message;
  };
  const Track video = VideoTrack(4);
  Track mp4a = SoundTrack(SoundDescription(44100u << 16, 2, 16, "mp4a"), 7, 10, 4);
  mp4a.uniformSizes = false;
  EXPECT_EQ(check(BuildMovie({PCMTrack(), video}, {})), "0 ");
  EXPECT_EQ(check(BuildMovie({mp4a, video}, {})), "0 ");  // another format, tables in order
  Track empty = SoundTrack(LPCMDescription(8000, 2, 16, kLPCMPacked | kLPCMSigned), 4, 0, 1);
  empty.uniformSizes = false;
  EXPECT_EQ(check(BuildMovie({empty, video}, {})), "0 ");  // no chunks: a fragmented movie's track
  EXPECT_EQ(check(Bytes(100, 'A')), "0 ");  // not a movie: not this check's to refuse
  Bytes m = BuildMovie({video, PCMTrack()}, {});
  Patch(m, "stsc", 8, 0);  // the video's: not a sound track
  EXPECT_EQ(check(m), "0 ");

  m = BuildMovie({video, PCMTrack()}, {});
  Patch(m, "stsd", 8 + 48, 0, 4, 1);
  EXPECT_EQ(check(m), std::to_string(badImageDescription) + " track 2: the sound track has 0 channels");
  EXPECT_EQ(check(BuildMovie({SoundTrack(SoundDescription(44100u << 16, 0, 16, "mp4a"), 7, 10, 4), video}, {})),
            std::to_string(badImageDescription) + " track 1: the sound track has 0 channels");
  for (uint32_t first : {0u, 2u}) {
    m = BuildMovie({PCMTrack(), video}, {});
    Patch(m, "stsc", 8, first);
    EXPECT_EQ(check(m), std::to_string(invalidSampleTable) +
                            " track 1: the sound track's sample-to-chunk table does not start at chunk 1 (it starts at chunk " +
                            std::to_string(first) + ")");
  }
  m = BuildMovie({PCMTrack(), video}, {});
  Patch(m, "stsd", 8, 40);
  EXPECT_EQ(check(m), std::to_string(badImageDescription) +
                          " track 1: the sound track's version 2 description holds 40 bytes, fewer than 72");
}

// ---- Independent readers ---------------------------------------------------------------------------

std::string Tool(const char* variable) {
  const char* v = std::getenv(variable);
  return v != nullptr ? v : "";
}

std::string Capture(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  pclose(p);
  return out;
}

TEST_F(MovieFileTest, MediaInfoReadsCodecSizeFramesAndRate) {
  const std::string mediainfo = Tool("ORX_MEDIAINFO");
  ASSERT_FALSE(mediainfo.empty()) << "mediainfo is not installed (ORX_MEDIAINFO is empty)";
  struct Rate {
    TimeScale scale;
    TimeValue duration;
    const char* fps;
  };
  for (const Rate& rate : {Rate{24, 1, "24.000"}, Rate{30000, 1001, "29.970"}}) {
    SCOPED_TRACE(rate.fps);
    ASSERT_EQ(Write(Path("m.mov"), VaryingSizes(48), {rate.duration}, rate.scale), noErr);
    const std::string out = Capture("'" + mediainfo + "' '--Inform=Video;%CodecID%|%Width%|%Height%|%FrameCount%|%FrameRate%' '" +
                                Path("m.mov") + "'");
    EXPECT_EQ(out, std::string("ORXV|320|240|48|") + rate.fps + "\n");
  }
  // The sound track beside the video: linear PCM of its depth, rate and channels.
  ASSERT_EQ(WriteWithSound(Path("a.mov"), {48000, 6, kHostSoundInt24}, 48000 * 2), noErr);
  EXPECT_EQ(Capture("'" + mediainfo + "' '--Inform=Audio;%Format%|%BitDepth%|%SamplingRate%|%Channels%|%Duration%' '" +
                    Path("a.mov") + "'"),
            "PCM|24|48000|6|2000\n");
}

TEST_F(MovieFileTest, GStreamerDemuxesEverySample) {
  const std::string gst = Tool("ORX_GST_LAUNCH");
  ASSERT_FALSE(gst.empty()) << "gst-launch-1.0 is not installed (ORX_GST_LAUNCH is empty)";
  const std::vector<uint32_t> sizes = VaryingSizes(30);
  ASSERT_EQ(Write(Path("g.mov"), sizes, {1001}, 30000), noErr);
  fs::create_directory(Path("out"));
  const std::string out = Capture("'" + gst + "' -q filesrc location='" + Path("g.mov") +
                              "' ! qtdemux name=d d.video_0 ! multifilesink location='" + Path("out") + "/s%05d' 2>&1");
  std::vector<uint32_t> got;
  for (int i = 0;; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "/s%05d", i);
    if (!fs::exists(Path("out") + name)) break;
    got.push_back(uint32_t(fs::file_size(Path("out") + name)));
  }
  EXPECT_EQ(got, sizes) << out;

  // The sound track, as qtdemux hands it on: the same frames, in its format.
  const HostSoundFormat format{32000, 1, kHostSoundInt16};
  ASSERT_EQ(WriteWithSound(Path("a.mov"), format, 32000 + 77), noErr);
  const std::string caps = Capture("'" + gst + "' -v filesrc location='" + Path("a.mov") +
                                   "' ! qtdemux name=d d.audio_0 ! filesink location='" + Path("a.raw") + "' 2>&1");
  EXPECT_NE(caps.find("audio/x-raw, format=(string)S16LE"), std::string::npos) << caps;
  EXPECT_NE(caps.find("rate=(int)32000"), std::string::npos) << caps;
  EXPECT_TRUE(ReadFile(Path("a.raw")) == SampleBytes(7, (32000 + 77) * 2));
}

}  // namespace
