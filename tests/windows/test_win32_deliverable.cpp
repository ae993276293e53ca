// ORXWin32.qtx under Wine: its exports, the component resources it carries,
// and its dispatchers before and after QuickTime is found (the stand-in
// library of the binding suite answers for QuickTime here).
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Here() {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string s = self;
  return s.substr(0, s.find_last_of("\\/") + 1);
}

typedef int32_t(__cdecl* Dispatch)(void* params, void* storage);

// QuickTime for Windows' parameter block: a 4-byte header, then 4-byte
// slots; the x86-64 test build's has pointer-sized slots after a header slot.
struct Block {
  uint8_t flags;
  uint8_t paramSize;
  int16_t what;
#if UINTPTR_MAX > 0xFFFFFFFFu
  uint32_t padding;
#endif
  uintptr_t params[4];
};

int32_t Call(Dispatch d, int16_t selector, std::initializer_list<uintptr_t> args, void* storage = nullptr) {
  Block b{};
  b.paramSize = uint8_t(args.size() * sizeof(uintptr_t));
  b.what = selector;
  size_t i = 0;
  for (uintptr_t a : args) b.params[i++] = a;
  return d(&b, storage);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> out;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    std::fclose(f);
  }
  return out;
}

TEST(Win32Deliverable, ExportsAndCarriesItsComponentResources) {
  HMODULE m = LoadLibraryA((Here() + "ORXWin32.qtx").c_str());
  ASSERT_NE(m, nullptr);
  EXPECT_NE(GetProcAddress(m, "ORX_CComponentDispatch"), nullptr);
  EXPECT_NE(GetProcAddress(m, "ORX_DComponentDispatch"), nullptr);
  EXPECT_NE(GetProcAddress(m, "DllMain"), nullptr);
  HRSRC r = FindResourceA(m, "RESOURCEFORK", MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  ASSERT_NE(r, nullptr);
  const auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(m, r)));
  const std::vector<uint8_t> file = ReadFile(Here() + "ORXCodec.rsrc");
  ASSERT_FALSE(file.empty());
  ASSERT_EQ(SizeofResource(m, r), DWORD(file.size()));
  EXPECT_EQ(std::memcmp(bytes, file.data(), file.size()), 0);
  // A resource fork: big-endian data offset 256, and 'thng' in its map.
  EXPECT_EQ(bytes[2], 1);
  EXPECT_NE(std::search(file.begin(), file.end(), "thng", "thng" + 4), file.end());
}

TEST(Win32Deliverable, WithoutQuickTimeEveryRequestAnswersNotBound) {
  // No QuickTime registry values here: the binding cannot find the library.
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Apple Computer, Inc.\\QuickTime", 0, KEY_ALL_ACCESS, &key) ==
      ERROR_SUCCESS) {
    RegDeleteValueA(key, "QTSysDir");
    RegCloseKey(key);
  }
  HMODULE m = LoadLibraryA((Here() + "ORXWin32.qtx").c_str());
  ASSERT_NE(m, nullptr);
  auto c = reinterpret_cast<Dispatch>(reinterpret_cast<void*>(GetProcAddress(m, "ORX_CComponentDispatch")));
  auto d = reinterpret_cast<Dispatch>(reinterpret_cast<void*>(GetProcAddress(m, "ORX_DComponentDispatch")));
  ASSERT_TRUE(c && d);
  EXPECT_EQ(Call(c, -4, {}), -2095);        // version, through QuickTime's call-with-storage
  EXPECT_EQ(Call(c, -1, {0x1234}), -2095);  // open
  EXPECT_EQ(Call(d, -1, {0x1234}), -2095);
  EXPECT_EQ(Call(c, 0x7FFF, {}), int32_t(0x80008002));  // not implemented: answered without QuickTime
}

TEST(Win32Deliverable, FoundQuickTimeCallsTheHandlers) {
  // A fresh process binds against the stand-in through the registry.
  const std::string dir = Here();
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Apple Computer, Inc.\\QuickTime", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const std::string qtDir = dir + "qt\\";
  CreateDirectoryA(qtDir.c_str(), nullptr);
  CopyFileA((dir + "fake_qt_702.qts").c_str(), (qtDir + "QuickTime.qts").c_str(), FALSE);
  RegSetValueExA(key, "QTSysDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(qtDir.c_str()), DWORD(qtDir.size() + 1));
  RegCloseKey(key);
  std::string cmd = "\"" + dir + "test_win32_deliverable.exe\" --bound-child";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 99;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Apple Computer, Inc.\\QuickTime", 0, KEY_ALL_ACCESS, &key);
  RegDeleteValueA(key, "QTSysDir");
  RegCloseKey(key);
  DeleteFileA((qtDir + "QuickTime.qts").c_str());
  RemoveDirectoryA(qtDir.c_str());
  EXPECT_EQ(code, 0u);
}

// Requests reach their handlers through the stand-in's call-with-storage:
// the dispatcher, the binding and the handler all run.
int BoundChild() {
  HMODULE m = LoadLibraryA((Here() + "ORXWin32.qtx").c_str());
  if (m == nullptr) return 2;
  auto c = reinterpret_cast<Dispatch>(reinterpret_cast<void*>(GetProcAddress(m, "ORX_CComponentDispatch")));
  auto d = reinterpret_cast<Dispatch>(reinterpret_cast<void*>(GetProcAddress(m, "ORX_DComponentDispatch")));
  int failures = 0;
  auto expect = [&](const char* what, int32_t got, int32_t want) {
    if (got != want) {
      std::printf("%s: got %d, want %d\n", what, int(got), int(want));
      ++failures;
    }
  };
  expect("compressor version", Call(c, -4, {}), 0x00010001);
  expect("decompressor version", Call(d, -4, {}), 0x00010001);
  // The Windows decompressor table: -8 reaches its handler (which refuses a
  // missing storage), decode band and the selectors past its ranges go to
  // the base codec (none open here).
  expect("-8 without storage", Call(d, -8, {0, 0}), -50);
  expect("0x20F delegated", Call(d, 0x20F, {0, 0}), int32_t(0x80008002));
  expect("0x34 delegated", Call(d, 0x34, {}), int32_t(0x80008002));
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--bound-child") == 0) return BoundChild();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
