// The Win32 platform code under Wine: semaphores and threads of the DXT24
// pool, the performance-counter timer, the physical-core count and the
// bitmap writers.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/Platform/ORXSemaphore.h"
#include "core/Platform/ORXThread.h"
#include "core/Platform/ORXTimer.h"
#include "core/Utilities/BITMAP.h"
#include "core/Utilities/PixelUtilities.h"

#include "core/Platform/ProcessorCores.h"

namespace {

std::string g_self;  // this program, for child runs

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  uint8_t buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  std::fclose(f);
  return out;
}

int32_t I32(const std::vector<uint8_t>& b, size_t at) {
  return int32_t(uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24);
}

std::string TempFolder() {
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  const std::string dir = std::string(base) + "orx-win32-" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

// Runs this program with one argument; returns its exit code.
DWORD RunChild(const char* arg) {
  std::string cmd = "\"" + g_self + "\" " + arg;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 0xDEAD;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return code;
}

struct Relay {
  ORXSemaphore* in;
  ORXSemaphore* out;
  std::atomic<int> rounds{0};
};

void* RelayWorker(void* p) {
  auto* r = static_cast<Relay*>(p);
  for (int i = 0; i < 100; ++i) {
    r->in->Wait();
    ++r->rounds;
    r->out->Post();
  }
  return nullptr;
}

TEST(Win32Pool, SemaphoresHandOffToAWorkerThread) {
  ORXSemaphore start, done;
  ASSERT_TRUE(start.IsValid());
  ASSERT_TRUE(done.IsValid());
  Relay relay{&start, &done};
  ORXThreadId id{};
  ASSERT_TRUE(ORXStartThread(RelayWorker, &relay, &id));
  EXPECT_NE(id, nullptr);
  for (int i = 0; i < 100; ++i) {
    start.Post();
    done.Wait();
    ASSERT_EQ(relay.rounds.load(), i + 1);
  }
  // Counting: three posts satisfy three waits.
  for (int i = 0; i < 3; ++i) start.Post();
  Relay none{&start, &done};
  (void)none;
  for (int i = 0; i < 3; ++i) start.Wait();
}

TEST(Win32Pool, AFailedWaitEndsTheProcess) {
  // A child whose semaphore could not be created waits on it: the wait fails
  // and the process ends with -1 instead of running on unsynchronised.
  EXPECT_EQ(RunChild("--child-failed-wait"), DWORD(-1));
}

DWORD WINAPI TimerReading(LPVOID p) {
  ORXTimer local;
  *static_cast<double*>(p) = local.GetElapsedTime();
  return 0;
}

TEST(Win32Timer, PerformanceCounterConversion) {
  ORXTimer t;
  LARGE_INTEGER f;
  ASSERT_TRUE(QueryPerformanceFrequency(&f));
  EXPECT_EQ(ORXTimer::g_conversion, f.QuadPart);
  EXPECT_GE(ORXTimer::g_firstTime.load(), 1);
  const double a = t.GetElapsedTime();
  Sleep(20);
  const double b = t.GetElapsedTime();
  EXPECT_GE(a, 0.0);
  EXPECT_GT(b, a);
  EXPECT_GT(b, 0.010);
  t.ResetTimer();
  EXPECT_LT(t.GetElapsedTime(), b);
  // Constructions racing the first one all see the frequency.
  std::vector<double> readings(8, -1);
  std::vector<HANDLE> threads;
  for (int i = 0; i < 8; ++i) threads.push_back(CreateThread(nullptr, 0, TimerReading, &readings[size_t(i)], 0, nullptr));
  WaitForMultipleObjects(DWORD(threads.size()), threads.data(), TRUE, INFINITE);
  for (HANDLE h : threads) CloseHandle(h);
  for (double r : readings) EXPECT_TRUE(r >= 0.0 && r < 1.0) << r;
}

TEST(Win32Cores, PhysicalCoresAreAtMostTheLogicalProcessors) {
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  const int cores = QueryProcessorCoreCount();
  EXPECT_GE(cores, 1);
  EXPECT_LE(cores, int(si.dwNumberOfProcessors));
}

TEST(Win32Bitmaps, ThirtyTwoBitFilesAreTopDownAndWrittenAsGiven) {
  const std::string dir = TempFolder();
  const std::string name = dir + "\\bgra.bmp";
  const uint8_t px[3 * 2 * 4] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
  ASSERT_EQ(WriteUInt8Bitmap32BGRA(px, 3, 2, name.c_str()), 0);
  const std::vector<uint8_t> f = ReadFile(name);
  ASSERT_EQ(f.size(), 14u + 40u + sizeof px);
  EXPECT_EQ(f[0], 'B');
  EXPECT_EQ(f[1], 'M');
  EXPECT_EQ(I32(f, 14 + 4), 3);   // width
  EXPECT_EQ(I32(f, 14 + 8), -2);  // negative height: top row first
  EXPECT_EQ(f[14 + 14], 32);      // bits per pixel
  EXPECT_EQ(I32(f, 14 + 24), 2834);
  EXPECT_EQ(std::memcmp(f.data() + 54, px, sizeof px), 0);
  // The same name again is written again (the 32-bit writer uses names as given).
  ASSERT_EQ(WriteUInt8Bitmap32BGRA(px, 3, 2, name.c_str()), 0);
  EXPECT_EQ(GetFileAttributesA((dir + "\\bgra_1.bmp").c_str()), INVALID_FILE_ATTRIBUTES);

  // The 24-bit writer numbers taken names, also behind backslash folders
  // with dots in them.
  const std::string sub = dir + "\\a.b";
  CreateDirectoryA(sub.c_str(), nullptr);
  const uint8_t rgb[2 * 2 * 3] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9};
  char used[1024];
  ASSERT_EQ(WriteUInt8Bitmap24(rgb, 2, 2, (sub + "\\pic.bmp").c_str(), used), 0);
  ASSERT_EQ(WriteUInt8Bitmap24(rgb, 2, 2, (sub + "\\pic.bmp").c_str(), used), 0);
  EXPECT_EQ(std::string(used), sub + "\\pic_1.bmp");
  for (const char* n : {"\\pic.bmp", "\\pic_1.bmp"}) DeleteFileA((sub + n).c_str());
  RemoveDirectoryA(sub.c_str());
  DeleteFileA(name.c_str());
  RemoveDirectoryA(dir.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  g_self = self;
  if (argc == 2 && std::strcmp(argv[1], "--child-failed-wait") == 0) {
    // A semaphore whose system object is gone: the wait cannot succeed.
    ORXSemaphore s;
    HANDLE copy = nullptr;
    std::memcpy(&copy, &s, sizeof copy);  // the handle is the object's first member
    CloseHandle(copy);
    s.KeepOpenAtExit();
    s.Wait();
    return 0;  // not reached
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
