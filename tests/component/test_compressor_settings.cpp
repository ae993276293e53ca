// Compressor settings through the component: the settings blob, persisted
// preferences, the modal dialog and the panel in the host's dialog.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "MacMemory.h"
#include "component_test_util.h"

namespace {

void WritePrefs(const std::vector<int32_t>& values) {
  std::ofstream out(PreferencesFile(), std::ios::binary | std::ios::trunc);
  for (int32_t v : values)
    for (int i = 0; i < 4; ++i) out.put(static_cast<char>(static_cast<uint32_t>(v) >> (8 * i)));
}

std::vector<int32_t> ReadPrefs() {
  std::ifstream in(PreferencesFile(), std::ios::binary);
  std::vector<int32_t> v;
  unsigned char b[4];
  while (in.read(reinterpret_cast<char*>(b), 4)) v.push_back(static_cast<int32_t>(b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24));
  return v;
}

struct Settings {
  int alpha, gradients, skipLZF;
  int32_t threads;
  bool operator==(const Settings&) const = default;
};

Settings Read(ComponentInstance ci) {
  const auto b = GetSettings(ci);
  if (b.size() != 12) return {-1, -1, -1, -1};
  return {b[4], b[5], b[6], static_cast<int32_t>(b[8] | b[9] << 8 | b[10] << 16 | static_cast<uint32_t>(b[11]) << 24)};
}

std::ostream& operator<<(std::ostream& os, const Settings& s) {
  return os << "{" << s.alpha << "," << s.gradients << "," << s.skipLZF << "," << s.threads << "}";
}

// Each test starts without a preferences file and with the scripted driver.
struct Settings_ : ::testing::Test {
  ComponentInstance ci = nullptr;
  void SetUp() override {
    std::remove(PreferencesFile().c_str());
    ci = OpenCompressor();
    ASSERT_NE(ci, nullptr);
  }
  void TearDown() override {
    HostSetModalDialogDriver(nullptr, nullptr);
    if (ci) CloseComponent(ci);
  }
  SInt32 MaxSize1x1() {
    Rect one{0, 0, 1, 1};
    SInt32 size = 0;
    ImageCodecGetMaxCompressionSize(ci, nullptr, &one, 32, 0, &size);
    return size;
  }
};

}  // namespace

TEST_F(Settings_, BlobRoundTripsAndRefusesWrongSizesAndMagic) {
  ASSERT_EQ(SetSettings(ci, 1, 0, 1, 7), noErr);
  const auto blob = GetSettings(ci);
  ASSERT_EQ(blob.size(), 12u);
  EXPECT_EQ(std::memcmp(blob.data(), "ORXC", 4), 0);
  EXPECT_EQ(Read(ci), (Settings{1, 0, 1, 7}));
  EXPECT_EQ(ImageCodecGetSettings(ci, nullptr), paramErr);

  // 13 bytes: refused with the defaults.
  Handle h = NewHandleClear(13);
  std::memcpy(*h, "ORXC", 4);
  EXPECT_EQ(ImageCodecSetSettings(ci, h), paramErr);
  EXPECT_EQ(Read(ci), (Settings{0, 1, 0, 2}));
  // Wrong magic: the defaults, but no error.
  ASSERT_EQ(SetSettings(ci, 1, 1, 1, 9), noErr);
  SetHandleSize(h, 12);
  std::memcpy(*h, "XXXX", 4);
  EXPECT_EQ(ImageCodecSetSettings(ci, h), noErr);
  EXPECT_EQ(Read(ci), (Settings{0, 1, 0, 2}));
  DisposeHandle(h);
  EXPECT_EQ(ImageCodecSetSettings(ci, nullptr), paramErr);
  // Values are taken as they are: 40 threads means one thread to the encoder.
  ASSERT_EQ(SetSettings(ci, 0, 1, 0, 40), noErr);
  EXPECT_EQ(Read(ci).threads, 40);
}

TEST_F(Settings_, PreferencesAreReadOnceAndOnlyWhenNeeded) {
  struct Case {
    std::vector<int32_t> file;
    SInt32 maxSize;  // 1x1 frame: DXT24 38, DXT24+alpha 46, DXT5 44, DXT1 36
    Settings expected;
  };
  const Case cases[] = {
      {{1, 1, 1, 7}, 46, {1, 1, 1, 7}},
      {{2, 0, 5, 12}, 36, {0, 0, 0, 2}},
      {{}, 38, {0, 1, 0, 2}},           // empty file: the defaults
      {{1}, 38 + 8, {1, 1, 0, 2}},      // short file: what was read, defaults for the rest
      // The Threads bounds: 1 and 9 are choices, 0 and 10 are not.
      {{0, 1, 0, 0}, 38, {0, 1, 0, 2}},
      {{0, 1, 0, 1}, 38, {0, 1, 0, 1}},
      {{0, 1, 0, 9}, 38, {0, 1, 0, 9}},
      {{0, 1, 0, 10}, 38, {0, 1, 0, 2}},
      {{0, 1, 0, -1}, 38, {0, 1, 0, 2}},
  };
  for (const Case& c : cases) {
    CloseComponent(ci);
    WritePrefs(c.file);
    ci = OpenCompressor();
    EXPECT_EQ(MaxSize1x1(), c.maxSize);  // the size request reads the file
    EXPECT_EQ(Read(ci), c.expected);
  }
  // A blob with the wrong magic gives the defaults but counts as no
  // settings: the file is still read at the next request that needs them.
  CloseComponent(ci);
  WritePrefs({1, 1, 1, 7});
  ci = OpenCompressor();
  {
    Handle wrong = NewHandleClear(12);
    std::memcpy(*wrong, "XXXX", 4);
    EXPECT_EQ(ImageCodecSetSettings(ci, wrong), noErr);
    DisposeHandle(wrong);
  }
  EXPECT_EQ(MaxSize1x1(), 46);
  EXPECT_EQ(Read(ci), (Settings{1, 1, 1, 7}));
  // Settings supplied by the host first: the file is not read.
  CloseComponent(ci);
  WritePrefs({1, 0, 0, 4});
  ci = OpenCompressor();
  ASSERT_EQ(SetSettings(ci, 0, 1, 0, 2), noErr);
  EXPECT_EQ(MaxSize1x1(), 38);
}

TEST_F(Settings_, DialogOkAppliesAndPersistsCancelChangesNothing) {
  ASSERT_EQ(SetSettings(ci, 0, 1, 1, 2), noErr);  // VovorEvaded, 1x
  // Ok after choosing Preserve Alpha, Performance, 8x.
  HostDialogScriptStep ok{};
  ok.setCount = 3;
  ok.sets[0] = {3, 2};
  ok.sets[1] = {4, 2};
  ok.sets[2] = {5, 6};
  ok.hit = 1;
  HostDialogScript script{&ok, 1, 0};
  HostSetModalDialogDriver(HostScriptedDialogDriver, &script);
  Handle blob = NewHandle(0);
  ASSERT_EQ(ImageCodecRequestSettings(ci, blob, nullptr, nullptr), noErr);
  EXPECT_EQ(script.next, 1);
  EXPECT_EQ(Read(ci), (Settings{1, 0, 0, 6}));  // Performance clears skipLZF too
  ASSERT_EQ(GetHandleSize(blob), 12);
  EXPECT_EQ((*blob)[4], 1);
  EXPECT_EQ(ReadPrefs(), (std::vector<int32_t>{1, 0, 0, 6}));

  // Cancel after changing everything: nothing changes, nothing is written.
  std::remove(PreferencesFile().c_str());
  HostDialogScriptStep cancel = ok;
  cancel.sets[0] = {3, 1};
  cancel.sets[1] = {4, 3};
  cancel.hit = 2;
  HostDialogScript script2{&cancel, 1, 0};
  HostSetModalDialogDriver(HostScriptedDialogDriver, &script2);
  ASSERT_EQ(ImageCodecRequestSettings(ci, blob, nullptr, nullptr), noErr);
  EXPECT_EQ(Read(ci), (Settings{1, 0, 0, 6}));
  EXPECT_NE(access(PreferencesFile().c_str(), F_OK), 0);
  DisposeHandle(blob);
}

TEST_F(Settings_, PanelInstallsItemsAndWritesEachChange) {
  ASSERT_EQ(SetSettings(ci, 1, 1, 1, 4), noErr);
  // The panel shows the settings; choosing Quality then Ok.
  HostDialogScriptStep steps[2]{};
  steps[0].setCount = 1;
  steps[0].sets[0] = {4, 1};  // offset 2 + item 2: Optimize For
  steps[0].hit = 4;
  steps[1].hit = 1;  // OK
  HostDialogScript script{steps, 2, 0};
  HostSetModalDialogDriver(HostScriptedDialogDriver, &script);
  EXPECT_EQ(HostRunStandardCompressionDialog(ci), noErr);
  EXPECT_EQ(Read(ci), (Settings{1, 1, 0, 4}));
  EXPECT_EQ(ReadPrefs(), (std::vector<int32_t>{1, 1, 0, 4}));

  // Only the smallest size has a panel.
  Handle ditl = nullptr;
  Point big{100, 100};
  EXPECT_EQ(ImageCodecGetDITLForSize(ci, &ditl, &big), badComponentSelector);
  Point smallest{-1, -1};
  ASSERT_EQ(ImageCodecGetDITLForSize(ci, &ditl, &smallest), noErr);
  ASSERT_NE(ditl, nullptr);
  EXPECT_EQ(GetHandleSize(ditl) > 2 ? ((*ditl)[0] << 8 | (*ditl)[1]) : -1, 2);  // three items
  DisposeHandle(ditl);
  Boolean ok = FALSE;
  EXPECT_EQ(ImageCodecDITLValidateInput(ci, &ok), noErr);
  EXPECT_TRUE(ok);
  Boolean handled = TRUE;
  SInt16 hit = 0;
  EXPECT_EQ(ImageCodecDITLEvent(ci, nullptr, 0, nullptr, &hit, &handled), noErr);
  EXPECT_FALSE(handled);
}

// Runs in a process of its own (see CMakeLists.txt): a copy of the
// deliverable comes first on the search path, and its resource file is gone
// by the time the dialog is asked for.
TEST(SettingsErrors, MissingResourceFileIsReportedAndTheDialogFails) {
  UsePrivatePreferencesFolder();
  char pattern[] = "/tmp/orx-comp-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string folder = pattern;
  const char* lib = std::getenv("ORX_TEST_COMPONENT_DIR");
  ASSERT_NE(lib, nullptr);
  for (const char* name : {"/ORXCodec.so", "/ORXCodec.rsrc"}) {
    std::ifstream in(std::string(lib) + name, std::ios::binary);
    std::ofstream out(folder + name, std::ios::binary);
    out << in.rdbuf();
  }
  setenv("ORX_COMPONENT_PATH", folder.c_str(), 1);
  ComponentInstance ci = OpenCompressor();
  ASSERT_NE(ci, nullptr);
  std::remove((folder + "/ORXCodec.rsrc").c_str());

  std::fflush(stdout);
  char capture[] = "/tmp/orx-stdout-XXXXXX";
  const int fd = mkstemp(capture);
  const int saved = dup(1);
  dup2(fd, 1);
  const ComponentResult r = ImageCodecRequestSettings(ci, nullptr, nullptr, nullptr);
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  close(fd);
  std::ifstream printed(capture);
  std::string text((std::istreambuf_iterator<char>(printed)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "Error: res file not opened\n");
  EXPECT_EQ(r, resNotFound);
  CloseComponent(ci);
  std::remove(capture);
  std::remove((folder + "/ORXCodec.so").c_str());
  rmdir(folder.c_str());
}
