// Signals at any moment: orx encode (a PNG sequence and footage), decode
// (PNG, YUV4MPEG2, raw ARGB and WAV), demo and settings are sent SIGTERM,
// SIGINT or SIGHUP, once or twice (back to back as timeout sends them, or a
// moment apart), to the process or to one of its other threads, at moments
// spread over each run's own measured length and a little past its end.
// Afterwards the output folder is as it was before the run, or holds the
// complete output (the signal came as the work ended); a run that ended by
// a signal it handled said so.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "OrxRun.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Snapshot = std::map<std::string, std::string>;  // name: its contents (a movie: what orx info says)

class Signals : public OrxWorkspace {
 protected:
  // In the sanitizer builds, a block GLib's library constructor made is no
  // longer reachable once GStreamer has run; it is let pass by the full
  // stack of its allocation (GLib keeps no frame pointers).
  void SetUp() override {
    OrxWorkspace::SetUp();
#if defined(__SANITIZE_ADDRESS__)
    const std::string rule = "leak:_dl_init\n";
    WriteAll(Path("glib.supp"), std::vector<uint8_t>(rule.begin(), rule.end()));
    setenv("LSAN_OPTIONS", ("suppressions=" + Path("glib.supp")).c_str(), 1);
    const char* asan = std::getenv("ASAN_OPTIONS");
    asanBefore_ = asan != nullptr ? asan : "";
    setenv("ASAN_OPTIONS", (asanBefore_ + ":fast_unwind_on_malloc=0").c_str(), 1);
#endif
  }
  void TearDown() override {
#if defined(__SANITIZE_ADDRESS__)
    unsetenv("LSAN_OPTIONS");
    setenv("ASAN_OPTIONS", asanBefore_.c_str(), 1);
#endif
    OrxWorkspace::TearDown();
  }
  std::string asanBefore_;

  struct Case {
    std::string name;
    std::vector<std::string> args;  // after "orx"
    std::string out;                // the folder whose state is judged
    std::function<void()> prepare;  // puts it as it is before the run
  };

  // The folder's names and contents; a movie counts by its frames and their
  // bytes (its header holds the time it was made). "(none)" when the folder
  // does not exist.
  Snapshot Take(const std::string& folder) {
    Snapshot s;
    DIR* d = opendir(folder.c_str());
    if (d == nullptr) return {{"(none)", ""}};
    while (const dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n == "." || n == "..") continue;
      const std::string path = folder + "/" + n;
      if (n.size() > 4 && n.substr(n.size() - 4) == ".mov") {
        const std::string json = Shell(Orx() + " info --json '" + path + "'").output;
        s[n] = "frames " + JsonField(json, "frames") + ", " + JsonField(json, "stored_bytes") + " bytes";
      } else {
        const std::vector<uint8_t> b = ReadAll(path);
        s[n] = std::string(b.begin(), b.end());
      }
    }
    closedir(d);
    return s;
  }

  static std::string Names(const Snapshot& s) {
    std::string names;
    for (const auto& [n, c] : s) names += n + " ";
    return names;
  }

  pid_t Start(const std::vector<std::string>& args, const std::string& errPath, int input = -1) {
    std::vector<std::string> all = {Orx()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (input >= 0) posix_spawn_file_actions_adddup2(&fa, input, 0);
    else posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
  }

  // The exit status, or -1 (after SIGKILL) when it does not end within 30 s.
  static int Wait(pid_t pid, int seconds = 30) {
    int status = 0;
    for (int i = 0; i < seconds * 500; ++i) {
      if (waitpid(pid, &status, WNOHANG) == pid) return status;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }

  // The signal to the process, or to one of its threads other than the
  // main one when it has any (a reader, a codec worker, GStreamer's).
  static void Send(pid_t pid, int sig, bool toThread) {
    if (toThread) {
      const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
      pid_t tid = 0;
      if (DIR* d = opendir(tasks.c_str())) {
        while (const dirent* e = readdir(d)) {
          const pid_t t = pid_t(std::atol(e->d_name));
          if (t > 0 && t != pid) tid = t;
        }
        closedir(d);
      }
      if (tid > 0 && syscall(SYS_tgkill, pid, tid, sig) == 0) return;
    }
    kill(pid, sig);
  }

  // The case run once to its end (the reference and the run's length),
  // then shots at moments from its start to a little past its end.
  void Shoot(const Case& c, int shots) {
    SCOPED_TRACE(c.name);
    c.prepare();
    const Snapshot before = Take(c.out);
    const std::string errPath = Path("err.txt");
    const Clock::time_point t0 = Clock::now();
    const pid_t ref = Start(c.args, errPath);
    ASSERT_GT(ref, 0);
    const int refStatus = Wait(ref);
    const double length = std::chrono::duration<double>(Clock::now() - t0).count();
    ASSERT_TRUE(WIFEXITED(refStatus) && WEXITSTATUS(refStatus) == 0) << refStatus << ": " << Err(errPath);
    const Snapshot after = Take(c.out);
    ASSERT_NE(after, before);

    const int kinds[3] = {SIGTERM, SIGINT, SIGHUP};
    for (int k = 0; k < shots; ++k) {
      c.prepare();
      ASSERT_EQ(Take(c.out), before);
      const bool twice = k % 2 == 1;
      const int first = kinds[k % 3], second = kinds[(k / 3 + 1) % 3];
      const double at = length * 1.2 * k / (shots - 1);
      // Back to back (as timeout sends them), a moment apart, or later, as
      // the cleanup runs.
      const double gap = k % 4 == 1 ? 0 : k % 8 == 3 ? 0.002 : length / 8;
      SCOPED_TRACE("shot " + std::to_string(k) + ": signal " + std::to_string(first) + " at " +
                   std::to_string(at) + " s" + (twice ? " then " + std::to_string(second) : std::string()));
      const Clock::time_point start = Clock::now();
      const pid_t pid = Start(c.args, errPath);
      ASSERT_GT(pid, 0);
      std::this_thread::sleep_until(start + std::chrono::duration<double>(at));
      Send(pid, first, k % 3 == 2);
      if (twice) {
        std::this_thread::sleep_for(std::chrono::duration<double>(gap));
        Send(pid, second, false);
      }
      const int status = Wait(pid);
      ASSERT_NE(status, -1) << "orx did not end after the signal";
      const std::string err = Err(errPath);
      const Snapshot now = Take(c.out);
      if (WIFSIGNALED(status)) {
        const int got = WTERMSIG(status);
        EXPECT_TRUE(got == first || (twice && got == second)) << "ended by signal " << got;
        // Ended before its handler was in place (nothing said), or says so.
        EXPECT_TRUE(err.empty() || err.find("interrupted") != std::string::npos) << err;
        EXPECT_TRUE(now == before || now == after) << "left: " << Names(now) << "\n" << err;
      } else {
        // The signal came after the run had ended: its output is complete.
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << ": " << err;
        EXPECT_TRUE(now == after) << "left: " << Names(now) << "\n" << err;
      }
    }
  }

  static std::string Err(const std::string& path) {
    const std::vector<uint8_t> b = ReadAll(path);
    return std::string(b.begin(), b.end());
  }

  // An empty folder for the output.
  std::function<void()> Empty(const std::string& folder) {
    const std::string f = Path(folder);
    return [f] { ASSERT_EQ(Shell("rm -rf '" + f + "' && mkdir '" + f + "'").status, 0); };
  }
};

TEST_F(Signals, EncodeLeavesNothingOrTheWholeMovie) {
  ASSERT_EQ(Run("encode --test-clip --size 640x360 --frames 24 -q -o src.mov").status, 0);
  ASSERT_EQ(Shell("mkdir " + Q("in")).status, 0);
  ASSERT_EQ(Run("decode -q src.mov -o in/f%03d.png").status, 0);
  Shoot({"PNG sequence", {"encode", Path("in/f%03d.png"), "-o", Path("out/e.mov")}, Path("out"), Empty("out")}, 24);

  // Footage through GStreamer, pictures and sound.
  const RunResult g = Shell(
      "gst-launch-1.0 -q videotestsrc num-buffers=90 ! video/x-raw,width=320,height=240,framerate=30/1 ! "
      "vp8enc deadline=1 ! matroskamux name=m ! filesink location=" + Q("foot.mkv") +
      " audiotestsrc num-buffers=141 ! audio/x-raw,rate=48000,channels=2 ! vorbisenc ! m.");
  ASSERT_EQ(g.status, 0) << g.output;
  Shoot({"footage", {"encode", Path("foot.mkv"), "-o", Path("out/f.mov")}, Path("out"), Empty("out")}, 24);
}

TEST_F(Signals, CutAndJoinLeaveNothingOrTheWholeMovie) {
  ASSERT_EQ(Run("encode --test-clip --size 1280x720 --frames 24 --optimize vovorevaded -q -o src.mov").status, 0);
  std::vector<std::string> join{"join"};
  for (int i = 0; i < 8; ++i) join.push_back(Path("src.mov"));
  join.insert(join.end(), {"-o", Path("out/j.mov")});
  Shoot({"join", join, Path("out"), Empty("out")}, 16);
  ASSERT_EQ(Run("join -q src.mov src.mov src.mov src.mov src.mov src.mov src.mov src.mov -o long.mov").status, 0);
  Shoot({"cut", {"cut", Path("long.mov"), "--frames", "3-180", "-o", Path("out/c.mov")}, Path("out"), Empty("out")}, 12);
}

TEST_F(Signals, DecodeLeavesNothingOrTheWholeOutput) {
  ASSERT_EQ(Run("encode --test-clip --size 320x180 --frames 24 -q -o png.mov").status, 0);
  Shoot({"PNG sequence", {"decode", Path("png.mov"), "-o", Path("out/f%03d.png")}, Path("out"), Empty("out")}, 24);
  ASSERT_EQ(Run("encode --test-clip --size 640x360 --frames 24 -q -o src.mov").status, 0);
  Shoot({"YUV4MPEG2", {"decode", Path("src.mov"), "-o", Path("out/d.y4m")}, Path("out"), Empty("out")}, 16);
  Shoot({"raw ARGB", {"decode", Path("src.mov"), "--frames", "4-20", "-o", Path("out/d.argb")}, Path("out"),
         Empty("out")},
        12);

  // A movie with 20 s of sound, played into a WAV file.
  const RunResult g = Shell(
      "gst-launch-1.0 -q videotestsrc num-buffers=40 ! video/x-raw,width=64,height=48,framerate=2/1 ! "
      "vp8enc deadline=1 ! matroskamux name=m ! filesink location=" + Q("sound.mkv") +
      " audiotestsrc num-buffers=940 ! audio/x-raw,rate=48000,channels=2 ! vorbisenc ! m.");
  ASSERT_EQ(g.status, 0) << g.output;
  ASSERT_EQ(Run("encode -q sound.mkv -o sound.mov").status, 0);
  Shoot({"WAV", {"decode", Path("sound.mov"), "-o", Path("out/s.wav")}, Path("out"), Empty("out")}, 12);
}

TEST_F(Signals, DemoAndSettingsLeaveNothingOrAllOfIt) {
  // The demo's folder: made by the run, so before it there is none.
  const std::string demo = Path("demo");
  Shoot({"demo",
         {"demo", "--size", "160x90", "--frames", "24", "--out", demo},
         demo,
         [demo] { ASSERT_EQ(Shell("rm -rf '" + demo + "'").status, 0); }},
        16);

  // The preferences: the old file or the new one, never a temporary one.
  const std::string prefs = Path("prefs");
  Shoot({"settings",
         {"settings", "--set", "threads=4", "--set", "optimize=performance"},
         prefs,
         [this, prefs] {
           ASSERT_EQ(Shell("rm -rf '" + prefs + "'").status, 0);
           ASSERT_EQ(Run("settings --set threads=2 --set optimize=quality").status, 0);
         }},
        12);
}

// A stream from a pipe whose writer stalls: the reader thread waits in its
// read, and the signal (which the main thread takes) still ends the run.
TEST_F(Signals, AStalledPipeDoesNotHoldUpTheSignal) {
  Empty("out")();
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::string y4m = "YUV4MPEG2 W64 H48 F25:1 C444\n";
  for (int f = 0; f < 3; ++f) y4m += "FRAME\n" + std::string(64 * 48 * 3, char(60 + 40 * f));
  const pid_t pid = Start({"encode", "-", "-o", Path("out/p.mov")}, Path("err.txt"), fds[0]);
  close(fds[0]);
  ASSERT_GT(pid, 0);
  ASSERT_EQ(write(fds[1], y4m.data(), y4m.size()), ssize_t(y4m.size()));
  // The movie is under way once its temporary file is there.
  bool started = false;
  for (int i = 0; i < 2000 && !started; ++i) {
    started = Names(Take(Path("out"))).find("partial") != std::string::npos;
    if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(started);
  kill(pid, SIGTERM);
  const int status = Wait(pid, 10);
  close(fds[1]);
  ASSERT_NE(status, -1) << "orx went on waiting for the pipe after the signal";
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ(Names(Take(Path("out"))), "");
  EXPECT_NE(Err(Path("err.txt")).find("p.mov: interrupted; nothing was written"), std::string::npos)
      << Err(Path("err.txt"));
}

}  // namespace
