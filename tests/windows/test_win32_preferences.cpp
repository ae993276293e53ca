// The compressor's preferences in the registry under Wine.
#include <windows.h>
#include <gtest/gtest.h>

#include "quicktime/Common/Component/ORXComponent.h"

namespace {

constexpr const char* kKey = "Software\\VantorinMedia\\ORXCodec";

class Registry : public testing::Test {
 protected:
  void SetUp() override { RegDeleteKeyA(HKEY_CURRENT_USER, kKey); }
  void TearDown() override { RegDeleteKeyA(HKEY_CURRENT_USER, kKey); }
  void Set(const char* name, DWORD value, DWORD type = REG_DWORD, DWORD size = 4) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(&value), size);
    RegCloseKey(key);
  }
  DWORD Get(const char* name) {
    HKEY key = nullptr;
    DWORD v = 0xFFFFFFFF, size = 4, type = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return v;
    RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&v), &size);
    RegCloseKey(key);
    EXPECT_EQ(type, DWORD(REG_DWORD)) << name;
    return v;
  }
  static CompressorGlobals Instance() {
    CompressorGlobals g{};
    g.preserveAlpha = 1;
    g.preserveGradients = 1;
    g.skipLZF = 1;
    g.threadSetting = 7;
    return g;
  }
};

TEST_F(Registry, MissingKeyChangesNothing) {
  CompressorGlobals g = Instance();
  ReadPreferences(&g);
  EXPECT_EQ(g.preserveAlpha, 1);
  EXPECT_EQ(g.skipLZF, 1);
  EXPECT_EQ(g.threadSetting, 7);
}

TEST_F(Registry, OnlyThreadSettingGivesFlagsOffAndItsValue) {
  Set("threadSetting", 5);
  CompressorGlobals g = Instance();
  ReadPreferences(&g);
  EXPECT_EQ(g.preserveAlpha, 0);
  EXPECT_EQ(g.preserveGradients, 0);
  EXPECT_EQ(g.skipLZF, 0);
  EXPECT_EQ(g.threadSetting, 5);
}

TEST_F(Registry, FlagsAreOnOnlyForOneAndThreadsZeroMeansOneThread) {
  Set("preserveAlpha", 2);
  Set("preserveGradients", 1);
  Set("skipLZF", 1, REG_BINARY);  // the type is not checked
  Set("threadSetting", 0);
  CompressorGlobals g = Instance();
  ReadPreferences(&g);
  EXPECT_EQ(g.preserveAlpha, 0);
  EXPECT_EQ(g.preserveGradients, 1);
  EXPECT_EQ(g.skipLZF, 1);
  EXPECT_EQ(g.threadSetting, 2);
}

TEST_F(Registry, WriteCreatesTheKeyAndRoundTrips) {
  CompressorGlobals g = Instance();
  g.preserveAlpha = 2;  // a hand-made blob's byte is written as it is
  g.threadSetting = 40;
  WritePreferences(&g);
  EXPECT_EQ(Get("preserveAlpha"), 2u);
  EXPECT_EQ(Get("preserveGradients"), 1u);
  EXPECT_EQ(Get("skipLZF"), 1u);
  EXPECT_EQ(Get("threadSetting"), 40u);
  CompressorGlobals back{};
  ReadPreferences(&back);
  EXPECT_EQ(back.preserveAlpha, 0);  // 2 is not 1
  EXPECT_EQ(back.skipLZF, 1);
  EXPECT_EQ(back.threadSetting, 40);  // taken as read; the encoder treats it as 1 thread
}

}  // namespace
