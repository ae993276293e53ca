// The orx program's conventions as a user meets them: outputs that exist or
// are inputs, exit statuses, --version, repeated options, the thread choice
// "max", sources that end early, and the progress line on a terminal.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ImageIO.h"
#include "OrxRun.h"

namespace {

class Conventions : public OrxWorkspace {
 protected:
  void Picture(const std::string& name, int w, int h, uint8_t shade) {
    orxapp::ImageARGB img;
    img.Allocate(w, h);
    for (size_t i = 0; i < img.pixels.size(); ++i) img.pixels[i] = uint8_t(i % 4 == 0 ? 255 : shade + i % 13);
    std::string err;
    ASSERT_TRUE(orxapp::WritePNG(Path(name), img.pixels.data(), w, h, img.RowBytes(), false, &err)) << err;
  }
  // A 4:4:4 stream of `frames` grey 16x8 frames, cut short by `cut` bytes.
  void Stream(const std::string& name, int frames, size_t cut) {
    std::string s = "YUV4MPEG2 W16 H8 F25:1 C444\n";
    for (int f = 0; f < frames; ++f) s += "FRAME\n" + std::string(16 * 8 * 3, char(100 + f));
    s.resize(s.size() - cut);
    WriteAll(Path(name), std::vector<uint8_t>(s.begin(), s.end()));
  }
  std::string Frames(const std::string& movie) { return JsonField(Run("info --json " + Q(movie)).output, "frames"); }
};

TEST_F(Conventions, OutputsNeverReplaceInputsOrExistingFiles) {
  Picture("a.png", 16, 8, 10);
  const std::vector<uint8_t> png = ReadAll(Path("a.png"));
  ASSERT_EQ(symlink(Path("a.png").c_str(), Path("link.mov").c_str()), 0);
  ASSERT_EQ(link(Path("a.png").c_str(), Path("hard.mov").c_str()), 0);
  // The input itself, through a symbolic link and through a hard link: refused even with -y.
  for (const char* out : {"a.png", "link.mov", "hard.mov"}) {
    const RunResult r = Run("encode a.png -y -o " + std::string(out));
    EXPECT_EQ(r.status, 1) << out << ": " << r.output;
    EXPECT_NE(r.output.find("is also an input"), std::string::npos) << r.output;
  }
  EXPECT_EQ(ReadAll(Path("a.png")), png);

  // An existing movie is kept unless -y; of -y and -n the last one counts.
  ASSERT_EQ(Run("encode a.png -q -o m.mov").status, 0);
  const std::vector<uint8_t> movie = ReadAll(Path("m.mov"));
  Picture("b.png", 16, 8, 200);
  for (const char* flags : {"", "-n", "-y -n", "--overwrite --no-overwrite"}) {
    const RunResult r = Run("encode b.png -q " + std::string(flags) + " -o m.mov");
    EXPECT_EQ(r.status, 1) << flags;
    EXPECT_NE(r.output.find("m.mov: already exists (-y or --overwrite replaces it)"), std::string::npos) << r.output;
  }
  EXPECT_EQ(ReadAll(Path("m.mov")), movie);
  EXPECT_EQ(Run("encode b.png -q -n -y -o m.mov").status, 0);
  EXPECT_NE(ReadAll(Path("m.mov")), movie);

  // decode checks every frame file before it writes the first; the movie
  // itself is never an output.
  ASSERT_EQ(Run("encode --test-clip --size 16x8 --frames 3 -q -y -o m.mov").status, 0);
  WriteAll(Path("f02.png"), {1, 2, 3});
  RunResult r = Run("decode m.mov -q -o f%02d.png");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("f02.png: already exists"), std::string::npos) << r.output;
  EXPECT_FALSE(Exists(Path("f00.png")));
  EXPECT_EQ(Run("decode m.mov -q -y -o f%02d.png").status, 0);
  EXPECT_TRUE(Exists(Path("f00.png")));
  EXPECT_EQ(Run("decode m.mov --frames 1-1 -q -o one.png").status, 0);  // a range of one frame
  EXPECT_TRUE(Exists(Path("one.png")));
  ASSERT_EQ(symlink(Path("m.mov").c_str(), Path("m.y4m").c_str()), 0);
  EXPECT_NE(Run("decode m.mov -y -o m.y4m").output.find("is also an input"), std::string::npos);
  EXPECT_EQ(Frames("m.mov"), "3");

  // A movie needs a file; a misleading name is written but warned about.
  r = Run("encode a.png -o -");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find("needs a file"), std::string::npos) << r.output;
  r = Run("encode a.png -q -o movie.mp4");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("warning: movie.mp4: an ORX movie is a QuickTime movie, but the name ends in .mp4"),
            std::string::npos)
      << r.output;
}

TEST_F(Conventions, ExitStatusesVersionsAndRepeatedOptions) {
  Picture("a.png", 16, 8, 10);
  struct Case {
    const char* args;
    int status;
  };
  const Case cases[] = {
      {"", 2},
      {"frobnicate", 2},
      {"--frobnicate", 2},
      {"encode a.png", 2},                          // no output
      {"encode a.png -o x.mov --fps", 2},           // a value missing
      {"encode a.png -o x.mov --threads 3", 2},     // not a choice
      {"encode a.png -o x.mov --bogus", 2},
      {"decode", 2},
      {"decode missing.mov --frames 5-2 -o x.y4m", 2},  // a reversed range
      {"decode missing.mov -o x.y4m", 1},           // the file is at fault
      {"info missing.mov", 1},
      {"info a.png", 1},
      {"settings --set optimize=fast", 2},
      {"settings extra", 2},
      {"bench --threads 5", 2},
  };
  for (const Case& c : cases) EXPECT_EQ(Run(c.args).status, c.status) << "orx " << c.args;
  EXPECT_FALSE(Exists(Path("x.mov")));

  for (const char* cmd : {"--version", "encode --version", "decode a.png --version", "settings --version"}) {
    const RunResult r = Run(cmd);
    EXPECT_EQ(r.status, 0) << cmd;
    EXPECT_EQ(r.output.rfind("orx (ORX) 1.", 0), 0u) << r.output;
    EXPECT_NE(r.output.find("\nORX components 1.1\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\nORX frame format version 1\n"), std::string::npos) << r.output;
  }

  // A repeated option counts with its last value.
  ASSERT_EQ(Run("encode --test-clip --size 16x8 --frames 2 --fps 24 --fps 25 --optimize quality "
                "--optimize performance -q -o r.mov")
                .status,
            0);
  const std::string info = Run("info --json --frames r.mov").output;
  EXPECT_EQ(JsonField(info, "frame_rate"), "25/1") << info;
  EXPECT_EQ(JsonField(info, "variant"), "DXT1") << info;
}

TEST_F(Conventions, MaxThreadsAndTheProgramsDefault) {
  Picture("a.png", 16, 8, 10);
  // With no preferences stored, orx encodes with every core.
  RunResult r = Run("encode a.png -o d.mov");
  EXPECT_NE(r.output.find("threads Max"), std::string::npos) << r.output;
  EXPECT_NE(Run("settings --show").output.find("none stored yet"), std::string::npos);
  for (const char* max : {"max", "Max", "MAX"}) {
    r = Run(std::string("encode a.png -y --threads ") + max + " -o d.mov");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("threads Max"), std::string::npos) << r.output;
  }
  EXPECT_EQ(Run("encode a.png -y --threads 4x -q -o d.mov").status, 0);

  // --set and --show together: stored, then shown; the last --set of a popup counts.
  r = Run("settings --set threads=max --set threads=4 --set optimize=performance --show");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Threads:       4x"), std::string::npos) << r.output;
  const std::vector<uint8_t> prefs = ReadAll(Path("prefs/ORXPreferences.dat"));
  ASSERT_EQ(prefs.size(), 16u);
  EXPECT_EQ(prefs[12], 4);  // threadSetting 4: "4x"
  EXPECT_EQ(prefs[4], 0);   // Performance: no gradients
  // Once preferences are stored, they are the default.
  EXPECT_NE(Run("encode a.png -y -o d.mov").output.find("Performance, threads 4x"), std::string::npos);
  ASSERT_EQ(Run("settings --set threads=max").status, 0);
  EXPECT_EQ(ReadAll(Path("prefs/ORXPreferences.dat"))[12], 1);
}

// The preferences live under $XDG_CONFIG_HOME when it is absolute, else
// under the home's .config ($HOME when absolute, else the password
// database's home), where earlier versions kept them; no folder is made
// under a home that does not exist, and the refusal names the path and why.
TEST_F(Conventions, PreferencesFollowTheHomeAndNeverMakeOneUp) {
  // orx settings with ORX_PREFERENCES_DIR and XDG_CONFIG_HOME unset and the
  // variables given.
  auto settings = [&](const std::string& vars, const std::string& args) {
    return Shell("cd '" + dir_ + "' && env -u ORX_PREFERENCES_DIR -u XDG_CONFIG_HOME " + vars + " timeout 120 " + Orx() +
                 " settings " + args);
  };
  ASSERT_EQ(mkdir(Path("home").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(Path("xdg").c_str(), 0755), 0);
  const std::string home = "HOME=" + Q("home");
  RunResult r = settings(home, "--set threads=4");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(ReadAll(Path("home/.config/VantorinMedia/ORXPreferences.dat")).size(), 16u);
  r = settings(home + " XDG_CONFIG_HOME=" + Q("xdg"), "--set threads=2");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(ReadAll(Path("xdg/VantorinMedia/ORXPreferences.dat")).size(), 16u);
  r = settings(home + " XDG_CONFIG_HOME=xdg", "--show");  // not absolute: not used
  EXPECT_NE(r.output.find("Stored in:     " + Path("home/.config/VantorinMedia/ORXPreferences.dat")), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("Threads:       4x"), std::string::npos) << r.output;

  r = settings("HOME=" + Q("gone"), "--set threads=8");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find(Path("gone/.config/VantorinMedia/ORXPreferences.dat") + ": the preferences could not be stored"),
            std::string::npos) << r.output;
  EXPECT_NE(r.output.find("the home folder " + Path("gone") + " (from HOME) does not exist"), std::string::npos)
      << r.output;
  EXPECT_FALSE(Exists(Path("gone")));

  // No usable HOME: the password database's home (only shown: nothing is
  // written to this user's real home).
  const passwd* pw = getpwuid(getuid());
  std::string dbHome = pw && pw->pw_dir && pw->pw_dir[0] == '/' ? pw->pw_dir : "";
  while (dbHome.size() > 1 && dbHome.back() == '/') dbHome.pop_back();
  for (const std::string vars : {"-u HOME", "HOME=relative/home"}) {
    r = settings(vars, "--show");
    EXPECT_EQ(r.status, 0) << r.output;
    if (dbHome.empty()) {
      EXPECT_NE(r.output.find("Stored in:     nowhere (no home folder is known"), std::string::npos) << r.output;
    } else {
      EXPECT_NE(r.output.find("Stored in:     " + (dbHome == "/" ? "" : dbHome) + "/.config/VantorinMedia/ORXPreferences.dat"),
                std::string::npos) << vars << ": " << r.output;
    }
  }
}

TEST_F(Conventions, SourcesThatEndEarlyKeepTheirFramesOnlyWhenAsked) {
  // A stream cut inside its third frame.
  Stream("cut.y4m", 3, 100);
  RunResult r = Run("encode cut.y4m -o c.mov");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("cut.y4m: truncated frame 3"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("nothing was written (--keep-partial keeps the 2 frames before it)"), std::string::npos)
      << r.output;
  EXPECT_FALSE(Exists(Path("c.mov")));
  r = Shell("cat " + Q("cut.y4m") + " | " + Orx() + " encode - --keep-partial -o " + Q("c.mov"));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("warning: standard input: truncated frame 3"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("kept the 2 frames before it"), std::string::npos) << r.output;
  EXPECT_EQ(Frames("c.mov"), "2");

  // A numbered sequence with a number missing, and later numbers present.
  for (const char* f : {"p00.png", "p01.png", "p03.png"}) Picture(f, 16, 8, 50);
  r = Run("encode p%02d.png -o p.mov");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("p02.png: missing from the sequence (it runs to p03.png)"), std::string::npos) << r.output;
  EXPECT_FALSE(Exists(Path("p.mov")));
  EXPECT_EQ(Run("encode p%02d.png --keep-partial -q -o p.mov").status, 0);
  EXPECT_EQ(Frames("p.mov"), "2");
  EXPECT_EQ(Run("encode p%02d.png --frames 2 -q -o q.mov").status, 0);  // the gap lies past what was asked for

  // Raw files report their frame count up front.
  WriteAll(Path("two.argb"), std::vector<uint8_t>(2 * 16 * 8 * 4, 0x80));
  r = Run("encode --size 16x8 two.argb -v -q -o raw.mov");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("two.argb: 16x8, 2 frames at 30 fps"), std::string::npos) << r.output;

  // --size over a picture file or a stream is refused before anything is encoded.
  Stream("whole.y4m", 2, 0);
  for (const char* cmd : {"encode --size 16x8 whole.y4m -o s.mov", "encode --size 16x8 p00.png -o s.mov",
                                 "encode --size 16x8 - -o s.mov < whole.y4m"}) {
    r = Run(cmd);
    EXPECT_EQ(r.status, 1) << cmd;
    EXPECT_NE(r.output.find(", not raw ARGB (leave out --size)"), std::string::npos) << r.output;
  }
  EXPECT_FALSE(Exists(Path("s.mov")));
}

TEST_F(Conventions, ProgressOnATerminalShowsRateBytesAndTimeLeft) {
  if (Shell("command -v script").status != 0) GTEST_FAIL() << "script (util-linux) is not installed";
  // script gives the program a terminal for standard error and keeps what it drew.
  const RunResult r = Shell("cd '" + dir_ + "' && script -qec '" + Orx() +
                            " encode --test-clip --size 640x360 --frames 240 --optimize performance --threads 1 -q -o "
                            "p.mov' /dev/null");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("encoding ["), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("/240, "), std::string::npos);
  EXPECT_NE(r.output.find(" fps, "), std::string::npos);
  EXPECT_NE(r.output.find(" kB, 0:0"), std::string::npos);
  EXPECT_NE(r.output.find(" left"), std::string::npos);
}

}  // namespace
