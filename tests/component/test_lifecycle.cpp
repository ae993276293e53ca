// Instances side by side and one after another: two compressors and two
// decompressors on two threads give the same bytes and pixels as one at a
// time (run under ThreadSanitizer too), and a hundred open-encode-decode-
// close cycles of every variant leave no object, semaphore or file behind.
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "MacMemory.h"
#include "component_test_util.h"

namespace {

constexpr CodecType kORXV = FOUR_CHAR_CODE('O', 'R', 'X', 'V');

struct Variant {
  const char* name;
  int alpha, gradients, skipLZF;
  int32_t threads;  // the Threads setting: 3 = two workers
};
const Variant kVariants[] = {
    {"DXT24+LZF", 0, 1, 0, 3}, {"DXT1+LZF", 0, 0, 0, 3}, {"DXT24", 0, 1, 1, 1}, {"DXT5+LZF", 1, 1, 0, 1}};

constexpr int kW = 70, kH = 45;  // not whole blocks
constexpr int kFrames = 3;

std::vector<std::vector<uint8_t>> Sources() {
  std::vector<std::vector<uint8_t>> s;
  for (int i = 0; i < kFrames; ++i) {
    std::vector<uint8_t> p = PictureARGB(kW, kH);
    std::vector<uint8_t> n = NoiseARGB(kW, kH, uint32_t(i + 1));
    for (size_t k = 0; k < p.size(); k += 7) p[k] = n[k];  // grain, and alpha that varies
    s.push_back(std::move(p));
  }
  return s;
}

// Opens a compressor, encodes the frames, closes it. Empty on failure.
std::vector<std::vector<uint8_t>> Encode(const Variant& v, const std::vector<std::vector<uint8_t>>& sources) {
  std::vector<std::vector<uint8_t>> out;
  ComponentInstance ci = OpenCompressor();
  if (ci == nullptr || SetSettings(ci, v.alpha, v.gradients, v.skipLZF, v.threads) != noErr) return out;
  {
    CollectingSession s;
    if (s.Create(ci, kW, kH) == noErr) {
      for (const auto& src : sources) {
        CVPixelBufferRef pb = MakePixelBuffer(kW, kH, src);
        if (s.Encode(pb) != noErr) s.frames.clear();
        CVPixelBufferRelease(pb);
      }
      for (auto& f : s.frames) out.push_back(std::move(f.bytes));
    }
  }
  CloseComponent(ci);
  return out;
}

// Opens a decompressor, decodes the frames, closes it; pixels cropped to the
// image. Empty on failure.
std::vector<std::vector<uint8_t>> Decode(const std::vector<std::vector<uint8_t>>& frames) {
  std::vector<std::vector<uint8_t>> out;
  ImageDescriptionHandle desc = HostNewImageDescription(kORXV, kW, kH, "ORX");
  HostDecompressionSessionRef session = nullptr;
  CVPixelBufferRef dest = nullptr;
  if (HostDecompressionSessionCreate(desc, &session) == noErr &&
      HostDecompressionSessionCreateDestination(session, &dest) == noErr) {
    for (const auto& f : frames) {
      if (HostDecompressionSessionDecodeFrame(session, f.data(), SInt32(f.size()), dest) != noErr) {
        out.clear();
        break;
      }
      CVPixelBufferLockBaseAddress(dest, 0);
      const auto* base = static_cast<const uint8_t*>(CVPixelBufferGetBaseAddress(dest));
      const size_t stride = CVPixelBufferGetBytesPerRow(dest);
      std::vector<uint8_t> px(size_t(kW) * kH * 4);
      for (int y = 0; y < kH; ++y) std::memcpy(&px[size_t(y) * kW * 4], base + stride * size_t(y), size_t(kW) * 4);
      CVPixelBufferUnlockBaseAddress(dest, 0);
      out.push_back(std::move(px));
    }
  }
  if (dest) CVPixelBufferRelease(dest);
  HostDecompressionSessionRelease(session);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  return out;
}

TEST(Concurrency, TwoCompressorsOnTwoThreadsMatchOneAtATime) {
  const auto sources = Sources();
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.name);
    const auto reference = Encode(v, sources);
    ASSERT_EQ(reference.size(), size_t(kFrames));
    std::vector<std::vector<uint8_t>> a, b;
    std::thread t1([&] { a = Encode(v, sources); });
    std::thread t2([&] { b = Encode(v, sources); });
    t1.join();
    t2.join();
    EXPECT_EQ(a, reference);
    EXPECT_EQ(b, reference);
  }
}

TEST(Concurrency, TwoDecompressorsOnTwoThreadsMatchOneAtATime) {
  const auto sources = Sources();
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.name);
    const auto frames = Encode(v, sources);
    ASSERT_EQ(frames.size(), size_t(kFrames));
    const auto reference = Decode(frames);
    ASSERT_EQ(reference.size(), size_t(kFrames));
    std::vector<std::vector<uint8_t>> a, b;
    std::thread t1([&] { a = Decode(frames); });
    std::thread t2([&] { b = Decode(frames); });
    t1.join();
    t2.join();
    EXPECT_EQ(a, reference);
    EXPECT_EQ(b, reference);
  }
}

// Entries of a folder (semaphores show in /dev/shm as sem.NAME).
std::vector<std::string> Entries(const char* dir, const std::string& prefix) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir)) {
    while (dirent* e = readdir(d))
      if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

// This process's semaphores: each is mapped from /dev/shm until it is
// closed, under its name with " (deleted)" once unlinked.
int SemaphoreMappings() {
  std::ifstream maps("/proc/self/maps");
  int n = 0;
  for (std::string line; std::getline(maps, line);) n += line.find("/dev/shm/sem.") != std::string::npos;
  return n;
}

TEST(Lifecycle, HundredCyclesOfEveryVariantLeaveNothingBehind) {
#if defined(__SANITIZE_THREAD__)
  // Under ThreadSanitizer the uninstrumented software rasterizer's locking
  // piles up in its deadlock detector over a hundred contexts; the cycles
  // take the processor road there (the concurrency cases keep the graphics
  // road).
  setenv("ORX_DISABLE_GL", "1", 1);
#endif
  const auto sources = Sources();
  std::vector<std::vector<uint8_t>> one = {sources[0]};
  // A first cycle starts what lives as long as the process (the pool's
  // workers, the loaded library, the display connection).
  for (const Variant& v : kVariants) ASSERT_EQ(Decode(Encode(v, one)).size(), 1u);
  const SInt32 objects = HostICMLiveObjectCount();
  const CFIndex cfObjects = HostCFLiveObjectCount();
  // Only this process's names: suites running beside this one make and
  // unlink semaphores of their own in /dev/shm at any moment.
  const std::string ownNames = "sem.orxstart_" + std::to_string(getpid()) + "_";
  const auto shm = Entries("/dev/shm", ownNames);
  const int semaphores = SemaphoreMappings();
  EXPECT_GT(semaphores, 0) << "the encode pool's semaphores, open since the first cycle, are not seen";
  // Temporary files go to a folder of this test's own: other suites running
  // beside it create and remove theirs in /tmp.
  char tmpPattern[] = "/tmp/orx-lifecycle-XXXXXX";
  ASSERT_NE(mkdtemp(tmpPattern), nullptr);
  const std::string tmpDir = tmpPattern;
  setenv("TMPDIR", tmpDir.c_str(), 1);
  const auto tmp = Entries(tmpDir.c_str(), "");
  const auto fds = Entries("/proc/self/fd", "");  // contexts and files hold descriptors
  const int cycles = std::getenv("ORX_LIFECYCLE_CYCLES") ? std::atoi(std::getenv("ORX_LIFECYCLE_CYCLES")) : 100;
  for (int i = 0; i < cycles; ++i) {
    for (const Variant& v : kVariants) {
      const auto frames = Encode(v, one);
      ASSERT_EQ(frames.size(), 1u) << v.name << " cycle " << i;
      ASSERT_EQ(Decode(frames).size(), 1u) << v.name << " cycle " << i;
    }
  }
  // Heap leaks are LeakSanitizer's to find (the ASan build); these are the
  // objects it cannot see as leaks because the host still reaches them.
  EXPECT_EQ(HostICMLiveObjectCount(), objects);
  EXPECT_EQ(HostCFLiveObjectCount(), cfObjects);
  EXPECT_EQ(Entries("/dev/shm", ownNames), shm);
  EXPECT_EQ(SemaphoreMappings(), semaphores);
  EXPECT_EQ(Entries(tmpDir.c_str(), ""), tmp);
  rmdir(tmpDir.c_str());
  EXPECT_EQ(Entries("/proc/self/fd", "").size(), fds.size());
}

}  // namespace
