// orx encode names what is really missing when GStreamer cannot decode
// footage: ORX's own plug-in and the folder that holds it, the profile an
// installed decoder lacks, a decoder its rank keeps out of use, and the
// package of a decoder that is not installed (openh264dec left out of a
// registry of the system's plug-ins). Every input is made here.
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string>

#include "ProcessRun.h"

namespace {

namespace fs = std::filesystem;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// The folder of an installed plug-in, or "" when GStreamer has none of that
// name.
std::string PluginFolder(const char* plugin) {
  GstPlugin* p = gst_registry_find_plugin(gst_registry_get(), plugin);
  if (p == nullptr) return "";
  const gchar* file = gst_plugin_get_filename(p);
  const std::string folder = file != nullptr ? fs::path(file).parent_path().string() : "";
  gst_object_unref(p);
  return folder;
}

bool HasElement(const char* name) {
  GstElementFactory* f = gst_element_factory_find(name);
  if (f == nullptr) return false;
  gst_object_unref(f);
  return true;
}

class Hints : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/orx-hints-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("ORX_PREFERENCES_DIR", (dir_ + "/prefs").c_str(), 1);
    orx_ = Env("ORX_BIN");
    ASSERT_FALSE(orx_.empty());
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string Q(const std::string& name) const { return "'" + Path(name) + "'"; }
  void Make(const std::string& pipeline) const {
    const RunResult r = Shell("gst-launch-1.0 -q " + pipeline);
    ASSERT_EQ(r.status, 0) << pipeline << "\n" << r.output;
  }
  // An H.264 file in the profile x264enc gives pictures of this format.
  void MakeH264(const std::string& format, const std::string& file) const {
    Make("videotestsrc num-buffers=4 ! video/x-raw,format=" + format +
         ",width=32,height=32,framerate=4/1 ! x264enc ! h264parse ! mp4mux ! filesink location=" + Q(file));
  }
  // orx encode of the footage with the environment given, which must fail
  // in one line naming the file, with no movie left.
  std::string Refusal(const std::string& environment, const std::string& file) const {
    const RunResult r = Shell(environment + " " + orx_ + " encode " + Q(file) + " -o " + Q("out.mov"));
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
    EXPECT_NE(r.output.find(file + ": "), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(Path("out.mov")));
    std::string lower = r.output;
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(lower.find("libav"), std::string::npos) << r.output;
    EXPECT_EQ(lower.find("ffmpeg"), std::string::npos) << r.output;
    return r.output;
  }
  std::string dir_, orx_;
};

// An ORX movie read as footage by a GStreamer without orxdec: the hint
// names ORX's plug-in and the build's folder of it, and following it works.
TEST_F(Hints, AnOrxMovieWithoutThePluginPathNamesOrxdecAndItsFolder) {
  const RunResult made = Shell(orx_ + " encode -q --test-clip --size 32x24 --frames 3 -o " + Q("clip.mov"));
  ASSERT_EQ(made.status, 0) << made.output;
  const std::string bare = "env -u GST_PLUGIN_PATH GST_REGISTRY=" + Q("bare.bin");
  const std::string said = Refusal(bare, "clip.mov");
  EXPECT_NE(said.find("ORX's own plug-in, orxdec (libgstorx.so), is not on GStreamer's plug-in path"), std::string::npos)
      << said;
  EXPECT_EQ(said.find("plugins-good, -bad or -ugly"), std::string::npos) << said;
  const std::string folder = fs::canonical(Env("ORX_GST_PLUGIN_DIR")).string();
  const std::string advice = "GST_PLUGIN_PATH=" + folder + " ";
  ASSERT_NE(said.find(advice), std::string::npos) << said;
  const RunResult followed = Shell("GST_REGISTRY=" + Q("followed.bin") + " " + advice + orx_ + " encode -q " +
                                   Q("clip.mov") + " -o " + Q("again.mov"));
  EXPECT_EQ(followed.status, 0) << followed.output;
}

// H.264 in profiles openh264dec does not decode: the hint names the profile
// the installed decoder lacks, not a package to install.
TEST_F(Hints, AProfileTheInstalledDecoderLacksIsNamed) {
  if (!HasElement("x264enc") || !HasElement("openh264dec")) GTEST_SKIP() << "needs x264enc and openh264dec";
  MakeH264("Y444", "y444.mp4");
  MakeH264("I420_10LE", "hi10.mp4");
  const struct {
    const char* file;
    const char* profile;
  } cases[] = {{"y444.mp4", "high-4:4:4"}, {"hi10.mp4", "high-10"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string said = Refusal("", c.file);
    EXPECT_NE(said.find(std::string("openh264dec (gstreamer1.0-plugins-bad, installed) lacks the ") + c.profile +
                        " profile (it decodes constrained-baseline, baseline, main, high"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("re-encode the footage in one of those profiles"), std::string::npos) << said;
    EXPECT_EQ(said.find("install "), std::string::npos) << said;
  }
}

// A decoder that would take the stream but is ranked out is named as such.
TEST_F(Hints, ADecoderRankedOutIsNamedWithItsRank) {
  if (!HasElement("x264enc") || !HasElement("openh264dec")) GTEST_SKIP() << "needs x264enc and openh264dec";
  MakeH264("I420", "high.mp4");
  const std::string said = Refusal("GST_PLUGIN_FEATURE_RANK=openh264dec:NONE", "high.mp4");
  EXPECT_NE(said.find("openh264dec (gstreamer1.0-plugins-bad, installed) decodes it but is ranked out of automatic use "
                      "(rank 0); GST_PLUGIN_FEATURE_RANK=openh264dec:primary"),
            std::string::npos)
      << said;
}

// A registry of the system's plug-ins without openh264: the package that
// holds the decoder is named, unless that decoder lacks the profile too.
TEST_F(Hints, WithoutOpenh264ThePackageIsNamed) {
  if (!HasElement("x264enc")) GTEST_SKIP() << "needs x264enc";
  MakeH264("I420", "high.mp4");
  MakeH264("Y444", "y444.mp4");
  const std::string system = PluginFolder("coreelements");
  ASSERT_FALSE(system.empty());
  const std::string without = Path("without-openh264");
  fs::create_directory(without);
  for (const auto& e : fs::directory_iterator(system))
    if (e.path().extension() == ".so" && e.path().filename() != "libgstopenh264.so")
      fs::create_symlink(e.path(), without + "/" + e.path().filename().string());
  const std::string environment =
      "env -u GST_PLUGIN_PATH GST_PLUGIN_SYSTEM_PATH='" + without + "' GST_REGISTRY=" + Q("without.bin");
  // The registry really lacks it.
  const RunResult inspect = Shell(environment + " gst-inspect-1.0 openh264dec");
  EXPECT_NE(inspect.status, 0) << inspect.output;
  const RunResult x264 = Shell(environment + " gst-inspect-1.0 x264enc");
  EXPECT_EQ(x264.status, 0) << x264.output;

  std::string said = Refusal(environment, "high.mp4");
  EXPECT_NE(said.find("GStreamer has no H.264 (High Profile) decoder; install gstreamer1.0-plugins-bad (openh264dec)"),
            std::string::npos)
      << said;
  said = Refusal(environment, "y444.mp4");
  EXPECT_NE(said.find("openh264dec (gstreamer1.0-plugins-bad), the one its plug-in packages hold, lacks the "
                      "high-4:4:4 profile"),
            std::string::npos)
      << said;
}

}  // namespace

// The suite's own registry, with the build's plug-in on GStreamer's path,
// for the suite's own queries and the movies it makes.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  char pattern[] = "/tmp/orx-hints-registry-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  setenv("GST_REGISTRY", (std::string(pattern) + "/registry.bin").c_str(), 1);
  setenv("GST_PLUGIN_PATH", Env("ORX_GST_PLUGIN_DIR").c_str(), 1);
  gst_init(nullptr, nullptr);
  const int result = RUN_ALL_TESTS();
  fs::remove_all(pattern);
  return result;
}
