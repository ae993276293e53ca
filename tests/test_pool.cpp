// The block-compression worker pool, for DXT24 and for standard DXT1/DXT5
// blocks. The pool's size is fixed by a process's first threaded call, so
// each case runs in a fresh copy of this executable ("--child ...") and
// reports what it saw; the parent compares the output with one plain call of
// the block routine over the whole image.
#include <gtest/gtest.h>
#include <dirent.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/Blocks/DXT24.h"
#include "core/Blocks/DXTStandard.h"
#include "core/Format/ORXHeader.h"
#include "quicktime/Common/Pools/DXT24Pool.h"
#include "testimage/ORXTestImage.h"

extern char** environ;

namespace {

struct Size {
  int w, h;
};
const Size kSizes[] = {{1, 1}, {5, 3}, {6, 6}, {1918, 1078}, {1920, 1082}};

// Test picture with per-pixel noise, so every band boundary matters.
std::vector<unsigned char> MakeInput(int w, int h, int rowBytes, int seed) {
  std::vector<unsigned char> img(static_cast<size_t>(rowBytes) * h, 0);
  ORXMakeTestImageARGB(img.data(), w, h, rowBytes, seed);
  uint32_t x = 2463534242u + seed;
  for (int y = 0; y < h; ++y)
    for (int i = 0; i < w * 4; ++i) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      img[static_cast<size_t>(y) * rowBytes + i] ^= static_cast<unsigned char>(x & 7);
    }
  return img;
}

int RowBytesFor(const Size& s) { return s.w * 4 + (s.w % 2) * 12; }  // odd widths get a padded stride

uint64_t Hash(const std::vector<unsigned char>& v) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : v) h = (h ^ c) * 1099511628211ull;
  return h;
}

// The block kinds the pool compresses.
enum Kind { kDXT24, kDXT1, kDXT5 };
const Kind kKinds[] = {kDXT24, kDXT1, kDXT5};

std::vector<unsigned char> Compress(int threads, const Size& s, int seed, bool pooled, Kind kind = kDXT24) {
  const int rowBytes = RowBytesFor(s);
  const auto img = MakeInput(s.w, s.h, rowBytes, seed);
  const int alpha = kind == kDXT5 ? 1 : 0;
  std::vector<unsigned char> out(CalculateORXBlockDataSize(s.w, s.h, alpha, kind == kDXT24), 0xCD);
  if (kind == kDXT24) {
    if (pooled)
      stbCompressARGB32_to24_threaded(threads, out.data(), img.data(), s.w, s.h, rowBytes, 0);
    else
      _stbCompressARGB32_to24(out.data(), img.data(), s.w, s.h, rowBytes, 0);
  } else {
    if (pooled)
      stbCompressARGB32_threaded(threads, out.data(), img.data(), s.w, s.h, rowBytes, alpha);
    else
      stbCompressARGB32(out.data(), img.data(), s.w, s.h, rowBytes, alpha);
  }
  return out;
}

int ShmEntriesOf(pid_t pid) {
  const std::string prefix = "sem.orxstart_" + std::to_string(pid) + "_";
  int n = 0;
  if (DIR* d = opendir("/dev/shm")) {
    while (dirent* e = readdir(d))
      if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) ++n;
    closedir(d);
  }
  return n;
}

// Child: compress every size with each thread count in turn.
int RunChild(int argc, char** argv) {
  bool concurrent = false;
  std::vector<int> counts;
  for (int i = 2; i < argc; ++i) {
    if (!std::strcmp(argv[i], "concurrent"))
      concurrent = true;
    else
      counts.push_back(std::atoi(argv[i]));
  }
  for (int t : counts)
    for (Kind k : kKinds)
      for (const Size& s : kSizes)
        std::printf("hash %d %d %d %d %llu\n", k, s.w, s.h, t, (unsigned long long)Hash(Compress(t, s, 0, true, k)));

  if (concurrent) {
    // Two threads, different pictures and block kinds, through the pool at
    // the same time.
    const Size s{1920, 1082};
    const uint64_t want[2] = {Hash(Compress(1, s, 1, false)), Hash(Compress(1, s, 2, false, kDXT5))};
    int bad[2] = {0, 0};
    std::thread a([&] {
      for (int i = 0; i < 4; ++i) bad[0] += Hash(Compress(2, s, 1, true)) != want[0];
    });
    std::thread b([&] {
      for (int i = 0; i < 4; ++i) bad[1] += Hash(Compress(3, s, 2, true, kDXT5)) != want[1];
    });
    a.join();
    b.join();
    std::printf("concurrent-bad %d\n", bad[0] + bad[1]);
  }
  std::printf("workers %d\nready %d\nshm %d\n", g_numDXT24Threads, threadsReady ? 1 : 0, ShmEntriesOf(getpid()));
  return 0;
}

struct ChildResult {
  int exitCode = -1;
  pid_t pid = 0;
  std::map<std::string, std::string> values;  // "hash W H T" -> value, "workers" -> n, ...
};

ChildResult RunSelf(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {}) {
  ChildResult r;
  int fds[2];
  if (pipe(fds) != 0) return r;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
  posix_spawn_file_actions_addclose(&fa, fds[0]);
  std::vector<std::string> argStore = {"test_pool", "--child"};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argvv;
  for (auto& a : argStore) argvv.push_back(a.data());
  argvv.push_back(nullptr);
  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e) envStore.emplace_back(*e);
  envStore.insert(envStore.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> envv;
  for (auto& e : envStore) envv.push_back(e.data());
  envv.push_back(nullptr);
  const int rc = posix_spawn(&r.pid, "/proc/self/exe", &fa, nullptr, argvv.data(), envv.data());
  posix_spawn_file_actions_destroy(&fa);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    return r;
  }
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(r.pid, &status, 0);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const auto cut = line.rfind(' ');
    if (cut != std::string::npos) r.values[line.substr(0, cut)] = line.substr(cut + 1);
  }
  return r;
}

// "K W H" -> hash of one plain call of the kind's block routine.
const std::map<std::string, uint64_t>& ReferenceHashes() {
  static const std::map<std::string, uint64_t> ref = [] {
    std::map<std::string, uint64_t> m;
    for (Kind k : kKinds)
      for (const Size& s : kSizes)
        m[std::to_string(k) + " " + std::to_string(s.w) + " " + std::to_string(s.h)] = Hash(Compress(1, s, 0, false, k));
    return m;
  }();
  return ref;
}

void ExpectMatchesReference(const ChildResult& r, int threads, const std::string& what) {
  const char* names[] = {"DXT24", "DXT1", "DXT5"};
  for (Kind k : kKinds)
    for (const Size& s : kSizes) {
      const std::string key = std::to_string(k) + " " + std::to_string(s.w) + " " + std::to_string(s.h);
      const auto it = r.values.find("hash " + key + " " + std::to_string(threads));
      ASSERT_NE(it, r.values.end()) << what << ": no " << names[k] << " output for " << s.w << "x" << s.h;
      EXPECT_EQ(std::stoull(it->second), ReferenceHashes().at(key))
          << what << ": " << names[k] << " " << s.w << "x" << s.h << " on " << threads << " threads";
    }
}

int Value(const ChildResult& r, const std::string& key) {
  const auto it = r.values.find(key);
  return it == r.values.end() ? -1 : std::stoi(it->second);
}

std::vector<int> ThreadCounts() {
#if defined(__SANITIZE_THREAD__)
  return {1, 2, 3, 5, 8, 13, 24, 32, 40};  // the race detector is slow; a spread of counts
#else
  std::vector<int> v;
  for (int t = 1; t <= 40; ++t) v.push_back(t);
  return v;
#endif
}

}  // namespace

TEST(PoolBands, RowsPerWorker) {
  struct Case {
    int height, n, band;
    std::vector<int> rows;
  };
  const Case cases[] = {
      {1080, 8, 136, {136, 136, 136, 136, 136, 136, 136, 128}},
      {1082, 8, 136, {136, 136, 136, 136, 136, 136, 136, 130}},
      {8, 4, 4, {4, 4, 0, 0}},
      {2, 3, 2, {2, 0, 0}},
      {1, 1, 1, {1}},
      {0, 4, 0, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    int rows[kMaxDXT24Threads];
    EXPECT_EQ(DXT24BandRows(c.height, c.n, rows), c.band) << c.height << " on " << c.n;
    EXPECT_EQ(std::vector<int>(rows, rows + c.n), c.rows) << c.height << " on " << c.n;
  }
  // 1080 rows on 24 workers: band 48, worker 22 takes rows 1056..1079, worker 23 none.
  int rows[kMaxDXT24Threads];
  EXPECT_EQ(DXT24BandRows(1080, 24, rows), 48);
  for (int i = 0; i < 22; ++i) EXPECT_EQ(rows[i], 48);
  EXPECT_EQ(rows[22], 24);
  EXPECT_EQ(rows[23], 0);
  // Every row is covered exactly once for any height and worker count.
  for (int h = 0; h < 300; ++h)
    for (int n = 1; n <= kMaxDXT24Threads; ++n) {
      int total = 0;
      DXT24BandRows(h, n, rows);
      for (int i = 0; i < n; ++i) total += rows[i];
      ASSERT_EQ(total, h) << h << " rows on " << n;
    }
}

TEST(Pool, OutputEqualsOneCallForEveryThreadCount) {
  for (int t : ThreadCounts()) {
    const ChildResult r = RunSelf({std::to_string(t)});
    ASSERT_EQ(r.exitCode, 0) << t << " threads";
    ExpectMatchesReference(r, t, "first call with " + std::to_string(t));
    EXPECT_EQ(Value(r, "workers"), t <= 1 ? 0 : std::min(t, 32)) << t;
    EXPECT_EQ(Value(r, "ready"), t <= 1 ? 0 : 1) << t;
  }
}

TEST(Pool, SizeIsFixedByTheFirstThreadedCall) {
  // 4 first, then 8 and 2: still 4 workers, still the same output.
  ChildResult r = RunSelf({"1", "4", "8", "2"});
  ASSERT_EQ(r.exitCode, 0);
  for (int t : {1, 4, 8, 2}) ExpectMatchesReference(r, t, "4 then 8");
  EXPECT_EQ(Value(r, "workers"), 4);
  r = RunSelf({"40", "3"});
  ASSERT_EQ(r.exitCode, 0);
  ExpectMatchesReference(r, 3, "40 then 3");
  EXPECT_EQ(Value(r, "workers"), 32);
}

TEST(Pool, TwoCallersAtOnceBothGetTheirOwnOutput) {
  const ChildResult r = RunSelf({"concurrent"});
  ASSERT_EQ(r.exitCode, 0);
  ASSERT_TRUE(r.values.count("concurrent-bad"));
  EXPECT_EQ(r.values.at("concurrent-bad"), "0");
  // Whichever caller came first sized the pool.
  EXPECT_TRUE(Value(r, "workers") == 2 || Value(r, "workers") == 3) << Value(r, "workers");
}

TEST(Pool, LeavesNoSemaphoreNamesBehind) {
  const ChildResult r = RunSelf({"8"});
  ASSERT_EQ(r.exitCode, 0);
  EXPECT_EQ(Value(r, "shm"), 0) << "names are unlinked once open";
  EXPECT_EQ(ShmEntriesOf(r.pid), 0) << "after exit";
}

TEST(PoolFaults, MissingSemaphoresFallBackWithoutHanging) {
  // No semaphore at all: compression runs on the calling thread.
  ChildResult r = RunSelf({"8"}, {"ORX_TEST_FAIL_SEM_OPEN=1-1000"});
  ASSERT_EQ(r.exitCode, 0);
  ExpectMatchesReference(r, 8, "no semaphores");
  // Record 3 has none (calls 7 and 8): the pool runs records 0..2.
  r = RunSelf({"8"}, {"ORX_TEST_FAIL_SEM_OPEN=7-8"});
  ASSERT_EQ(r.exitCode, 0);
  ExpectMatchesReference(r, 8, "record 3 without semaphores");
  EXPECT_EQ(Value(r, "workers"), 3);
  // Only the second semaphore of record 0 is missing: no worker can run.
  r = RunSelf({"8"}, {"ORX_TEST_FAIL_SEM_OPEN=2-2"});
  ASSERT_EQ(r.exitCode, 0);
  ExpectMatchesReference(r, 8, "record 0 without done");
  EXPECT_EQ(Value(r, "workers"), 0);
}

TEST(PoolFaults, ThreadsThatCannotStartShrinkThePool) {
  ChildResult r = RunSelf({"8"}, {"ORX_TEST_FAIL_THREAD_FROM=3"});
  ASSERT_EQ(r.exitCode, 0);
  ExpectMatchesReference(r, 8, "third thread fails");
  EXPECT_EQ(Value(r, "workers"), 2);
  r = RunSelf({"8"}, {"ORX_TEST_FAIL_THREAD_FROM=1"});
  ASSERT_EQ(r.exitCode, 0);
  ExpectMatchesReference(r, 8, "no thread starts");
  EXPECT_EQ(Value(r, "workers"), 0);
}

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--child") == 0) return RunChild(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
