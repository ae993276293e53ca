// The run-time binding to QuickTime under Wine. Binding happens once per
// process, so each case runs in a fresh copy of this program that sets up
// the registry and a stand-in QuickTime.qts, makes its stub calls, and
// reports through its exit code and output.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

extern "C" {
// The binding's state and functions.
extern HMODULE g_quickTimeLibrary;
extern void (*g_bindingHook)(void);
extern void* g_dispatcherEntry;
extern void* g_callWithStorageEntry;
extern uint8_t g_emptyConstantBlock[64];
int32_t QuickTimeNotBound(void);
uint32_t PackQuickTimeVersion(uint32_t mostSignificant, uint32_t leastSignificant);
void GetQuickTimeSystemDirectory(char* out, size_t size);
void ReadQuickTimeRegistryDirectory(const char* value, char* out, size_t size);
int HasQuickTime702(void);
// Stubs, declared with plain types (the QuickTime headers clash with windows.h).
int32_t CloseComponent(void* instance);
int32_t GetComponentResource(void* instance, uint32_t type, int16_t id, void** out);
void* NewHandleClear(int32_t size);
int32_t CVPixelBufferLockBaseAddress(void* buffer, uint64_t flags);
const void* __CFStringMakeConstantString(const char* text);
const void* QTGetCFConstantByName(const char* name);
int32_t ComponentSetTarget(void* instance, void* target);
int32_t CallComponentCanDo(void* instance, int16_t selector);
int32_t CallComponentFunctionWithStorage(void* storage, void* params, void* handler);
}

namespace {

constexpr const char* kKey = "Software\\Apple Computer, Inc.\\QuickTime";
std::string g_self, g_fakeDir;

void SetValue(const char* name, const std::string& value) {
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), DWORD(value.size() + 1));
  RegCloseKey(key);
}

void ClearValues() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  for (const char* v : {"QTSysDir", "QuickTime.qts folder", "QTExtDir"}) RegDeleteValueA(key, v);
  RegCloseKey(key);
}

std::string SystemDir() {
  char s[MAX_PATH];
  GetSystemDirectoryA(s, MAX_PATH);
  return std::string(s) + "\\";
}

// A fresh folder holding the chosen stand-in as QuickTime.qts.
std::string InstallFake(const char* variant, const std::string& folder) {
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string target = folder + "QuickTime.qts";
  CopyFileA((g_fakeDir + variant).c_str(), target.c_str(), FALSE);
  return target;
}

// Folders of the cases live under one folder the parent makes and removes.
std::string TempFolder(const char* name) {
  char base[MAX_PATH] = {};
  GetEnvironmentVariableA("ORX_QT_TEST_DIR", base, MAX_PATH);
  return std::string(base) + name + "\\";
}

void RemoveTree(const std::string& dir) {
  WIN32_FIND_DATAA f;
  HANDLE h = FindFirstFileA((dir + "*").c_str(), &f);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      const std::string n = f.cFileName;
      if (n == "." || n == "..") continue;
      if (f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(dir + n + "\\");
      else DeleteFileA((dir + n).c_str());
    } while (FindNextFileA(h, &f));
    FindClose(h);
  }
  RemoveDirectoryA(dir.c_str());
}

int g_failures = 0;
#define CHECK(cond)                                                   \
  do {                                                                \
    if (!(cond)) {                                                    \
      std::printf("%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++g_failures;                                                   \
    }                                                                 \
  } while (0)

void* P(uintptr_t v) { return reinterpret_cast<void*>(v); }

int32_t TwoSlotHandler(void* storage, uintptr_t a, uintptr_t b) {
  return int32_t(uint32_t(reinterpret_cast<uintptr_t>(storage)) ^ uint32_t(a) ^ (uint32_t(b) << 1));
}


// ---- The cases, each run in a child -------------------------------------------------

void UnboundThenRetried() {
  ClearValues();
  CHECK(CloseComponent(P(0x1234)) == -2095);
  CHECK(static_cast<uint16_t>(CloseComponent(P(0x1234))) == 0xF7D1);
  CHECK(NewHandleClear(16) == nullptr);                    // references are null while unbound
  CHECK(CVPixelBufferLockBaseAddress(P(8), 0) == -2095);  // not a success
  CHECK(g_bindingHook != nullptr);
  // QuickTime installed meanwhile: the next call binds.
  const std::string dir = TempFolder("late");
  InstallFake("fake_qt_702.qts", dir);
  SetValue("QTSysDir", dir);
  CHECK(CloseComponent(P(0x1234)) == int32_t(0x00010008 ^ 0x1234));
  CHECK(g_bindingHook == nullptr);
}

void RegistryOrder() {
  ClearValues();
  const std::string dir = TempFolder("folder");
  InstallFake("fake_qt_702.qts", dir);
  SetValue("QTSysDir", TempFolder("does-not-exist"));  // skipped: not on disk
  SetValue("QuickTime.qts folder", dir);
  CHECK(CloseComponent(P(1)) == int32_t(0x00010008 ^ 1));
  char sys[MAX_PATH];
  GetQuickTimeSystemDirectory(sys, sizeof sys);  // now from the loaded library's path
  CHECK(_stricmp(sys, dir.c_str()) == 0);
  // A value longer than the buffer is refused, not written past.
  SetValue("QTExtDir", std::string(400, 'x'));
  char small[32];
  std::memset(small, 0x7F, sizeof small);
  ReadQuickTimeRegistryDirectory("QTExtDir", small, sizeof small);
  CHECK(small[0] == '\0');
}

void ExtensionFolderUnderSystemFolder() {
  ClearValues();
  const std::string sub = SystemDir() + "QuickTime\\";
  const std::string installed = InstallFake("fake_qt_702.qts", sub);
  CHECK(CloseComponent(P(2)) == int32_t(0x00010008 ^ 2));
  char path[MAX_PATH] = {};
  GetModuleFileNameA(g_quickTimeLibrary ? g_quickTimeLibrary : GetModuleHandleA("QuickTime.qts"), path, MAX_PATH);
  CHECK(_stricmp(path, installed.c_str()) == 0);
}

void VersionGuards(bool recent) {
  ClearValues();
  const std::string dir = TempFolder("version");
  InstallFake(recent ? "fake_qt_702.qts" : "fake_qt_701.qts", dir);
  SetValue("QTSysDir", dir);
  CHECK(HasQuickTime702() == (recent ? 1 : 0));
  const void* s = __CFStringMakeConstantString("Width");
  const void* c = QTGetCFConstantByName("kCFTypeArrayCallBacks");
  if (recent) {
    CHECK(s != nullptr && std::strcmp(static_cast<const char*>(s), "constant string") == 0);
    CHECK(c != g_emptyConstantBlock);
  } else {
    CHECK(s == nullptr);
    CHECK(c == g_emptyConstantBlock);
  }
}

void MissingDispatcher() {
  ClearValues();
  const std::string dir = TempFolder("nodispatch");
  InstallFake("fake_qt_nodispatch.qts", dir);
  SetValue("QTSysDir", dir);
  CHECK(CloseComponent(P(3)) == -2095);
  CHECK(g_callWithStorageEntry != reinterpret_cast<void*>(QuickTimeNotBound));  // found before the gap
  CHECK(g_dispatcherEntry == reinterpret_cast<void*>(QuickTimeNotBound));
  CHECK(g_bindingHook != nullptr);
}

void ArgumentsAndSelectorsPassThrough() {
  ClearValues();
  const std::string dir = TempFolder("dispatch");
  InstallFake("fake_qt_702.qts", dir);
  SetValue("QTSysDir", dir);
  void* out = nullptr;
  const int32_t r = GetComponentResource(P(0x11110000), 0x53545220, -7, &out);
  const uint32_t expect = 0x00010035u ^ 0x11110000u ^ (0x53545220u << 1) ^ (uint32_t(int32_t(-7)) << 2) ^
                          (uint32_t(reinterpret_cast<uintptr_t>(&out)) << 3);
  CHECK(uint32_t(r) == expect);
  // The 64-bit flags travel by reference, the result comes back in its slot.
  uint32_t buffer = 0xCAFE0000;
  const uint64_t flags = 0x0000000100000002ull;
  CHECK(uint32_t(CVPixelBufferLockBaseAddress(P(uintptr_t(&buffer)), flags)) ==
        (uint32_t(uintptr_t(&buffer)) ^ 1u ^ 2u ^ 0x00340011u));
  // Component-call helpers build Windows parameter blocks: one slot each,
  // the selector sign-extended.
  const uint32_t oneSlot = uint32_t(sizeof(uintptr_t)) << 8;
  CHECK(uint32_t(ComponentSetTarget(P(0x40), P(0x9000))) == ((uint32_t(uint16_t(-6)) << 16 | oneSlot) ^ 0x9000u ^ 0x40u));
  CHECK(uint32_t(CallComponentCanDo(P(0x40), -1)) == ((uint32_t(uint16_t(-3)) << 16 | oneSlot) ^ 0xFFFFFFFFu ^ 0x40u));
  // Handlers are called with the storage and the block's slots.
  // The block: a header slot (flags, size, selector, then padding on
  // x86-64), then pointer-sized slots.
  uintptr_t block[3] = {0, 0x11223344, 7};
  reinterpret_cast<uint8_t*>(block)[1] = uint8_t(2 * sizeof(uintptr_t));
  reinterpret_cast<uint8_t*>(block)[2] = 0x12;
  CHECK(uint32_t(CallComponentFunctionWithStorage(P(0x1000), block, reinterpret_cast<void*>(TwoSlotHandler))) ==
        (0x1000u ^ 0x11223344u ^ (7u << 1)));
}

void ReleaseAfterBinding(bool preloaded) {
  ClearValues();
  const std::string dir = TempFolder(preloaded ? "pre" : "own");
  const std::string lib = InstallFake("fake_qt_702.qts", dir);
  SetValue("QTSysDir", dir);
  SetEnvironmentVariableA("FAKE_QT_RELEASE", "1");
  _putenv("FAKE_QT_RELEASE=1");
  HMODULE app = preloaded ? LoadLibraryA(lib.c_str()) : nullptr;
  CHECK(!preloaded || app != nullptr);
  CHECK(CloseComponent(P(5)) == int32_t(0x00010008 ^ 5));
  // Released only where the application's reference keeps it mapped.
  CHECK((g_quickTimeLibrary == nullptr) == preloaded);
  CHECK(GetModuleHandleA("QuickTime.qts") != nullptr);
  CHECK(CloseComponent(P(6)) == int32_t(0x00010008 ^ 6));
}

int RunCase(const std::string& name) {
  if (name == "unbound") UnboundThenRetried();
  else if (name == "registry") RegistryOrder();
  else if (name == "extdir") ExtensionFolderUnderSystemFolder();
  else if (name == "old") VersionGuards(false);
  else if (name == "recent") VersionGuards(true);
  else if (name == "nodispatch") MissingDispatcher();
  else if (name == "dispatch") ArgumentsAndSelectorsPassThrough();
  else if (name == "release-pre") ReleaseAfterBinding(true);
  else if (name == "release-own") ReleaseAfterBinding(false);
  else return 2;
  return g_failures == 0 ? 0 : 1;
}

// Runs one case in a child; returns its exit code and what it printed.
DWORD Child(const char* name, std::string* output) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  CreatePipe(&readEnd, &writeEnd, &sa, 0);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  std::string cmd = "\"" + g_self + "\" --case " + name;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return 0xDEAD;
  CloseHandle(writeEnd);
  char buf[512];
  DWORD n = 0;
  while (ReadFile(readEnd, buf, sizeof buf, &n, nullptr) && n > 0) output->append(buf, n);
  CloseHandle(readEnd);
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return code;
}

void ExpectCase(const char* name) {
  std::string out;
  EXPECT_EQ(Child(name, &out), 0u) << out;
}

TEST(QuickTimeBinding, UnboundStubsAnswerNotBoundAndTheNextCallBinds) { ExpectCase("unbound"); }
TEST(QuickTimeBinding, RegistryFoldersThatDoNotExistAreSkipped) { ExpectCase("registry"); }
TEST(QuickTimeBinding, ExtensionsFolderIsQuickTimeUnderTheSystemFolder) {
  ExpectCase("extdir");
  RemoveTree(SystemDir() + "QuickTime\\");
}
TEST(QuickTimeBinding, OlderThan702GetsNullStringsAndTheEmptyBlock) {
  ExpectCase("old");
  ExpectCase("recent");
}
TEST(QuickTimeBinding, MissingDispatcherLeavesEveryStubNotBound) { ExpectCase("nodispatch"); }
TEST(QuickTimeBinding, SelectorInEAXAndArgumentsPassUntouched) { ExpectCase("dispatch"); }
TEST(QuickTimeBinding, ReleaseAfterBindingOnlyWhileAnotherReferenceHoldsIt) {
  ExpectCase("release-pre");
  ExpectCase("release-own");
}

TEST(QuickTimeBinding, VersionPacking) {
  EXPECT_EQ(PackQuickTimeVersion(0x00070000, 0x000103E7), 0x070001E7u);  // 7.0.1.999: low bytes only
  EXPECT_LT(PackQuickTimeVersion(0x00070000, 0x000103E7), 0x07000200u);
  EXPECT_EQ(PackQuickTimeVersion(0x00070000, 0x00020000), 0x07000200u);  // 7.0.2.0
  EXPECT_EQ(PackQuickTimeVersion(0x00070001, 0x00000000), 0x07010000u);
}

}  // namespace

int main(int argc, char** argv) {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  g_self = self;
  g_fakeDir = g_self.substr(0, g_self.find_last_of("\\/") + 1);
  if (argc == 3 && std::strcmp(argv[1], "--case") == 0) {
    const int r = RunCase(argv[2]);
    ClearValues();
    std::fflush(stdout);
    return r;
  }
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  const std::string work = std::string(base) + "orx-qt-" + std::to_string(GetCurrentProcessId()) + "\\";
  CreateDirectoryA(work.c_str(), nullptr);
  SetEnvironmentVariableA("ORX_QT_TEST_DIR", work.c_str());
  testing::InitGoogleTest(&argc, argv);
  const int r = RUN_ALL_TESTS();
  RemoveTree(work);
  return r;
}
