// The movie module (movie/) against the host's calls over it: a movie the
// module writes in plain types reads the same through both, the host's
// writer stores what the module's does, and every status has its QuickTime
// code.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "MacMemory.h"
#include "movie/MovieReader.h"
#include "movie/MovieWriter.h"
#include "MovieFile.h"
#include "quicktime/host/src/MovieFileAdapters.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes Pattern(uint32_t seed, size_t size) {
  Bytes b(size);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& c : b) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = uint8_t(x);
  }
  return b;
}

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The bytes of the first atom of the type (its header included).
Bytes FirstAtom(const Bytes& file, const char (&type)[5]) {
  for (size_t i = 4; i + 4 <= file.size(); ++i) {
    if (std::memcmp(&file[i], type, 4) != 0) continue;
    const size_t size = (size_t(file[i - 4]) << 24) | (file[i - 3] << 16) | (file[i - 2] << 8) | file[i - 1];
    if (size >= 8 && i - 4 + size <= file.size()) return Bytes(file.begin() + long(i - 4), file.begin() + long(i - 4 + size));
  }
  return {};
}

class MovieModule : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("orx-movie-module-" + std::to_string(getpid()));
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }
  fs::path folder_;
};

struct Input {
  orxmovie::ImageFacts image;
  std::vector<Bytes> samples;
  std::vector<int32_t> durations{20, 20, 40, 20, 10};
  orxmovie::SoundFormat sound{48000, 2, orxmovie::kSoundInt16};
  Bytes frames = Pattern(99, 30000 * 4);
};

Input MakeInput() {
  Input in;
  in.image.codecType = orxmovie::FourCC("ORXV");
  in.image.version = 1;
  in.image.revisionLevel = 2;
  in.image.vendor = int32_t(orxmovie::FourCC("test"));
  in.image.temporalQuality = 0x200;
  in.image.spatialQuality = 0x300;
  in.image.width = 320;
  in.image.height = 176;
  in.image.hRes = in.image.vRes = 72 << 16;
  in.image.frameCount = 1;
  std::memcpy(in.image.name, "\x09ORX Codec", 10);
  in.image.depth = 32;
  in.image.clutID = -1;
  in.image.extensions = Pattern(7, 12);
  for (size_t size : {100, 250, 250, 7, 3000}) in.samples.push_back(Pattern(uint32_t(size), size));
  return in;
}

TEST_F(MovieModule, ModuleWrittenMovieReadsTheSameThroughTheHost) {
  const Input in = MakeInput();
  const std::string path = (folder_ / "module.mov").string();
  {
    orxmovie::Writer w;
    ASSERT_EQ(w.Create(path.c_str(), in.image, 600), orxmovie::Status::ok) << w.Error();
    ASSERT_EQ(w.AddSoundTrack(in.sound), orxmovie::Status::ok) << w.Error();
    for (size_t i = 0; i < in.samples.size(); ++i) {
      ASSERT_EQ(w.AddSample(in.samples[i].data(), int64_t(in.samples[i].size()), in.durations[i]), orxmovie::Status::ok);
      ASSERT_EQ(w.AddSound(in.frames.data() + i * 6000 * 4, 6000), orxmovie::Status::ok) << w.Error();
    }
    ASSERT_EQ(w.Finish(), orxmovie::Status::ok) << w.Error();
  }
  const Bytes file = ReadFile(path);

  orxmovie::Reader module;
  std::string message;
  ASSERT_EQ(module.Open(path.c_str(), orxmovie::FourCC("ORXV"), &message), orxmovie::Status::ok) << message;
  HostMovieReaderRef host = nullptr;
  char words[256];
  ASSERT_EQ(HostMovieReaderOpen(path.c_str(), orxmovie::FourCC("ORXV"), &host, words, sizeof words), noErr) << words;
  std::unique_ptr<OpaqueHostMovieReader, void (*)(HostMovieReaderRef)> hold(host, HostMovieReaderClose);

  // The facts, plain and through the host.
  const orxmovie::TrackFacts& t = module.Facts();
  EXPECT_EQ(t.trackCount, 2);
  EXPECT_EQ(t.sampleCount, in.samples.size());
  EXPECT_EQ(t.timeScale, 600u);
  EXPECT_EQ(t.duration, 110u);
  EXPECT_EQ(t.maxSampleSize, 3000u);
  EXPECT_EQ(HostMovieReaderGetTrackCount(host), t.trackCount);
  EXPECT_EQ(HostMovieReaderGetTrackID(host), t.trackID);
  EXPECT_EQ(HostMovieReaderGetTimeScale(host), TimeScale(t.timeScale));
  EXPECT_EQ(HostMovieReaderGetDuration(host), TimeValue64(t.duration));
  EXPECT_EQ(HostMovieReaderGetSampleCount(host), SInt32(t.sampleCount));
  EXPECT_EQ(HostMovieReaderGetMaxSampleSize(host), SInt32(t.maxSampleSize));

  // The image description: the fields written, the data reference this file.
  const orxmovie::ImageFacts& f = t.image;
  ImageDescriptionHandle desc = HostMovieReaderGetImageDescription(host);
  ASSERT_NE(desc, nullptr);
  const ImageDescription& d = **desc;
  EXPECT_EQ(f.codecType, in.image.codecType);
  EXPECT_EQ(d.cType, f.codecType);
  EXPECT_EQ(f.dataRefIndex, 1);
  EXPECT_EQ(d.dataRefIndex, f.dataRefIndex);
  EXPECT_EQ(d.idSize, SInt32(86 + in.image.extensions.size()));
  EXPECT_EQ(GetHandleSize(reinterpret_cast<Handle>(desc)), d.idSize);
  EXPECT_EQ(f.extensions, in.image.extensions);
  EXPECT_EQ(0, std::memcmp(reinterpret_cast<const uint8_t*>(*desc) + 86, f.extensions.data(), f.extensions.size()));
  EXPECT_EQ(std::make_tuple(f.version, f.revisionLevel, f.vendor, f.temporalQuality, f.spatialQuality, f.width, f.height),
            std::make_tuple(in.image.version, in.image.revisionLevel, in.image.vendor, in.image.temporalQuality,
                            in.image.spatialQuality, in.image.width, in.image.height));
  EXPECT_EQ(std::make_tuple(d.version, d.revisionLevel, d.vendor, d.temporalQuality, d.spatialQuality, d.width, d.height),
            std::make_tuple(f.version, f.revisionLevel, f.vendor, f.temporalQuality, f.spatialQuality, f.width, f.height));
  EXPECT_EQ(std::make_tuple(d.hRes, d.vRes, d.dataSize, d.frameCount, d.depth, d.clutID),
            std::make_tuple(f.hRes, f.vRes, f.dataSize, f.frameCount, f.depth, f.clutID));
  EXPECT_EQ(f.hRes, in.image.hRes);
  EXPECT_EQ(f.clutID, -1);
  EXPECT_EQ(0, std::memcmp(d.name, in.image.name, 32));
  EXPECT_EQ(0, std::memcmp(f.name, in.image.name, 32));

  // Each sample's span: its bytes in the file at its offset, and the same
  // span and bytes through the host.
  for (uint32_t i = 0; i < t.sampleCount; ++i) {
    SCOPED_TRACE("sample " + std::to_string(i));
    orxmovie::SampleSpan s;
    ASSERT_TRUE(module.Sample(i, &s));
    EXPECT_EQ(s.size, in.samples[i].size());
    EXPECT_EQ(s.duration, uint32_t(in.durations[i]));
    EXPECT_TRUE(s.sync);
    ASSERT_LE(s.offset + s.size, file.size());
    EXPECT_TRUE(std::equal(in.samples[i].begin(), in.samples[i].end(), file.begin() + long(s.offset)));
    SInt64 offset = -1;
    SInt32 size = -1;
    TimeValue duration = -1;
    Boolean sync = false;
    ASSERT_EQ(HostMovieReaderGetSampleInfo(host, SInt32(i), &offset, &size, &duration, &sync), noErr);
    EXPECT_EQ(std::make_tuple(uint64_t(offset), uint32_t(size), uint32_t(duration), bool(sync)),
              std::make_tuple(s.offset, s.size, s.duration, s.sync));
    Bytes plain(s.size), viaHost(s.size);
    uint32_t got = 0;
    SInt32 hostGot = 0;
    ASSERT_EQ(module.ReadSample(i, plain.data(), int64_t(plain.size()), &got), orxmovie::Status::ok);
    ASSERT_EQ(HostMovieReaderReadSample(host, SInt32(i), viaHost.data(), SInt32(viaHost.size()), &hostGot), noErr);
    EXPECT_EQ(plain, in.samples[i]);
    EXPECT_EQ(viaHost, plain);
  }
  orxmovie::SampleSpan none;
  EXPECT_FALSE(module.Sample(t.sampleCount, &none));
  EXPECT_FALSE(module.Sample(-1, &none));

  // The sound, plain and through the host.
  orxmovie::SoundFormat format;
  uint64_t frames = 0;
  ASSERT_TRUE(module.Sound(&format, &frames)) << module.SoundProblem();
  EXPECT_EQ(std::make_tuple(format.sampleRate, format.channels, format.sampleFormat, frames),
            std::make_tuple(in.sound.sampleRate, in.sound.channels, in.sound.sampleFormat, uint64_t(30000)));
  HostSoundFormat hostFormat{};
  SInt64 hostFrames = 0;
  ASSERT_TRUE(HostMovieReaderGetSound(host, &hostFormat, &hostFrames));
  EXPECT_EQ(std::make_tuple(hostFormat.sampleRate, hostFormat.channels, hostFormat.sampleFormat, uint64_t(hostFrames)),
            std::make_tuple(format.sampleRate, format.channels, format.sampleFormat, frames));
  Bytes plain(in.frames.size()), viaHost(in.frames.size());
  ASSERT_EQ(module.ReadSound(0, int64_t(frames), plain.data()), orxmovie::Status::ok) << module.Error();
  ASSERT_EQ(HostMovieReaderReadSound(host, 0, SInt32(frames), viaHost.data()), noErr);
  EXPECT_EQ(plain, in.frames);
  EXPECT_EQ(viaHost, plain);
  EXPECT_EQ(module.ReadSound(int64_t(frames), 1, plain.data()), orxmovie::Status::endOfFile);
  EXPECT_STREQ(module.Error(), "the sound track has 30000 frames");
}

// The host's writer, given the same movie as an image description handle,
// stores the module's bytes: the samples and sound as they lie before the
// movie atom, and the sample description.
TEST_F(MovieModule, HostWriterStoresWhatTheModuleDoes) {
  const Input in = MakeInput();
  const std::string plainPath = (folder_ / "plain.mov").string(), hostPath = (folder_ / "host.mov").string();
  orxmovie::Writer w;
  ASSERT_EQ(w.Create(plainPath.c_str(), in.image, 600), orxmovie::Status::ok) << w.Error();
  ImageDescriptionHandle desc = HostMovieNewImageDescription(in.image);
  ASSERT_NE(desc, nullptr);
  HostMovieWriterRef host = nullptr;
  const OSStatus created = HostMovieWriterCreate(hostPath.c_str(), desc, 600, &host);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  ASSERT_EQ(created, noErr);
  ASSERT_EQ(w.AddSoundTrack(in.sound), orxmovie::Status::ok);
  const HostSoundFormat hostSound{in.sound.sampleRate, in.sound.channels, in.sound.sampleFormat};
  ASSERT_EQ(HostMovieWriterAddSoundTrack(host, &hostSound), noErr);
  for (size_t i = 0; i < in.samples.size(); ++i) {
    ASSERT_EQ(w.AddSample(in.samples[i].data(), int64_t(in.samples[i].size()), in.durations[i]), orxmovie::Status::ok);
    ASSERT_EQ(HostMovieWriterAddSample(host, in.samples[i].data(), SInt32(in.samples[i].size()), in.durations[i]), noErr);
    ASSERT_EQ(w.AddSound(in.frames.data() + i * 6000 * 4, 6000), orxmovie::Status::ok);
    ASSERT_EQ(HostMovieWriterAddSound(host, in.frames.data() + i * 6000 * 4, 6000), noErr);
    EXPECT_EQ(uint64_t(HostMovieWriterGetFileSize(host)), w.FileSize());
  }
  ASSERT_EQ(w.Finish(), orxmovie::Status::ok) << w.Error();
  ASSERT_EQ(HostMovieWriterFinish(host), noErr);
  const Bytes plain = ReadFile(plainPath), viaHost = ReadFile(hostPath);
  ASSERT_EQ(viaHost.size(), plain.size());
  const Bytes stsd = FirstAtom(plain, "stsd");
  ASSERT_EQ(stsd.size(), 16 + 86 + in.image.extensions.size());
  EXPECT_EQ(FirstAtom(viaHost, "stsd"), stsd);
  const Bytes moov = FirstAtom(plain, "moov");
  ASSERT_FALSE(moov.empty());
  const size_t moovAt = plain.size() - moov.size();  // the movie atom comes last
  EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + long(moovAt), viaHost.begin()));
}

// Every module status has its QuickTime code, and words of its own.
TEST(MovieModuleStatus, EachStatusMapsToItsQuickTimeCode) {
  using orxmovie::Status;
  const struct {
    Status status;
    OSStatus code;
  } kTable[] = {
      {Status::ok, noErr},
      {Status::badArgument, paramErr},
      {Status::outOfMemory, memFullErr},
      {Status::ioError, ioErr},
      {Status::endOfFile, eofErr},
      {Status::fileNotFound, fnfErr},
      {Status::noPermission, permErr},
      {Status::readOnly, wrPermErr},
      {Status::diskFull, dskFulErr},
      {Status::fileExists, dupFNErr},
      {Status::badDescription, badImageDescription},
      {Status::invalidTrack, invalidTrack},
      {Status::invalidMovie, invalidMovie},
      {Status::invalidSampleTable, invalidSampleTable},
      {Status::noMovie, noMovieFound},
  };
  std::set<OSStatus> codes;
  std::set<std::string> texts;
  for (const auto& row : kTable) {
    SCOPED_TRACE(orxmovie::StatusText(row.status));
    EXPECT_EQ(HostMovieStatus(row.status), row.code);
    codes.insert(row.code);
    texts.insert(orxmovie::StatusText(row.status));
  }
  EXPECT_EQ(codes.size(), std::size(kTable));  // no two statuses share a code
  EXPECT_EQ(texts.size(), std::size(kTable));
  EXPECT_EQ(texts.count("unknown status"), 0u);  // the table names every status
}

}  // namespace
