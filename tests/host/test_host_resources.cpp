// Resource Manager and resource compiler: the built ORXCodec.rsrc read back
// field by field, the resource chain, and damaged files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ImageCodec.h"
#include "ImageCompression.h"
#include "MacMemory.h"
#include "Resources.h"

namespace {

constexpr OSType T(const char (&s)[5]) { return FOUR_CHAR_CODE(s[0], s[1], s[2], s[3]); }

uint32_t BE32(const uint8_t* p) { return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]; }
int BE16(const uint8_t* p) { return static_cast<int16_t>((p[0] << 8) | p[1]); }

std::vector<uint8_t> ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The raw bytes of a resource of the current file.
std::vector<uint8_t> Bytes(OSType type, ResID id) {
  Handle h = Get1Resource(type, id);
  if (h == nullptr) return {};
  return {reinterpret_cast<uint8_t*>(*h), reinterpret_cast<uint8_t*>(*h) + GetHandleSize(h)};
}

std::string PString(const std::vector<uint8_t>& b, size_t at) {
  if (at >= b.size() || at + 1 + b[at] > b.size()) return "<bad>";
  return std::string(b.begin() + at + 1, b.begin() + at + 1 + b[at]);
}

struct CodecResources : ::testing::Test {
  SInt16 ref = -1;
  void SetUp() override {
    const char* path = std::getenv("ORX_TEST_RESOURCES");
    ASSERT_NE(path, nullptr);
    ref = HostOpenResFile(path);
    ASSERT_GT(ref, 0) << "ResError " << ResError();
  }
  void TearDown() override {
    if (ref > 0) CloseResFile(ref);
  }
};

// A resource fork with one 'TEST' 1 resource holding "abc", built by hand;
// with secondID, a second 'TEST' resource of that ID shares the data.
std::vector<uint8_t> TinyFork(int secondID = -1) {
  const uint32_t refs = secondID >= 0 ? 2 : 1;
  std::vector<uint8_t> f(256 + 7 + 28 + 2 + 8 + 12 * refs, 0);
  auto put32 = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) f[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i)); };
  auto put16 = [&](size_t at, uint16_t v) { f[at] = static_cast<uint8_t>(v >> 8); f[at + 1] = static_cast<uint8_t>(v); };
  const uint32_t mapOff = 256 + 7, mapLen = 28 + 2 + 8 + 12 * refs;
  put32(0, 256);
  put32(4, mapOff);
  put32(8, 7);
  put32(12, mapLen);
  put32(256, 3);
  f[260] = 'a';
  f[261] = 'b';
  f[262] = 'c';
  put16(mapOff + 24, 28);       // type list
  put16(mapOff + 26, mapLen);   // name list (empty)
  put16(mapOff + 28, 0);        // one type
  put32(mapOff + 30, FOUR_CHAR_CODE('T', 'E', 'S', 'T'));
  put16(mapOff + 34, uint16_t(refs - 1));  // resources of the type, less one
  put16(mapOff + 36, 10);       // its reference list, from the type list
  put16(mapOff + 38, 1);        // ID
  put16(mapOff + 40, 0xFFFF);   // no name
  f[mapOff + 42] = 0;           // attributes; data offset 0
  if (refs == 2) {
    put16(mapOff + 50, uint16_t(secondID));
    put16(mapOff + 52, 0xFFFF);
  }
  return f;
}

}  // namespace

TEST_F(CodecResources, ComponentDescriptionsMatchTheTables) {
  struct Thng {
    ResID id;
    OSType type;
    ResID name, info, dlle;
    size_t size;
    OSType publicType;
    ResID publicID;
  };
  const Thng thngs[] = {{256, T("imdc"), 256, 257, 256, 82, 0, 0},
                        {5150, T("imdc"), 5150, 5151, 5150, 88, 0, 0},
                        {5152, T("imco"), 5150, 5152, 5152, 88, T("thnr"), 5152}};
  for (const Thng& t : thngs) {
    SCOPED_TRACE(t.id);
    const auto b = Bytes(T("thng"), t.id);
    ASSERT_EQ(b.size(), t.size);
    EXPECT_EQ(BE32(&b[0]), t.type);
    EXPECT_EQ(BE32(&b[4]), T("ORXV"));
    EXPECT_EQ(BE32(&b[8]), T("appl"));
    EXPECT_EQ(BE32(&b[12]), 0u);
    EXPECT_EQ(BE32(&b[16]), 0u);
    EXPECT_EQ(BE32(&b[20]), 0u);
    EXPECT_EQ(BE32(&b[26]), T("STR "));
    EXPECT_EQ(BE16(&b[30]), t.name);
    EXPECT_EQ(BE32(&b[32]), T("STR "));
    EXPECT_EQ(BE16(&b[36]), t.info);
    EXPECT_EQ(BE32(&b[38]), 0u);
    EXPECT_EQ(BE32(&b[44]), 0x00010001u);
    EXPECT_EQ(BE32(&b[48]), 9u);
    EXPECT_EQ(BE16(&b[52]), 0);
    EXPECT_EQ(BE32(&b[54]), 2u);
    // Win32 entry as laid down, then this host's.
    EXPECT_EQ(BE32(&b[58]), 0x20u);
    EXPECT_EQ(BE32(&b[62]), T("dlle"));
    EXPECT_EQ(BE16(&b[66]), t.dlle);
    EXPECT_EQ(BE16(&b[68]), 4);
    EXPECT_EQ(BE32(&b[70]), 0x20u);
    EXPECT_EQ(BE32(&b[74]), T("dlle"));
    EXPECT_EQ(BE16(&b[78]), t.dlle);
    EXPECT_EQ(BE16(&b[80]), 1201);
    if (t.size == 88) {
      EXPECT_EQ(BE32(&b[82]), t.publicType);
      EXPECT_EQ(BE16(&b[86]), t.publicID);
    }
  }
  EXPECT_EQ(PString(Bytes(T("STR "), 256), 0), "ORX Codec");
  EXPECT_EQ(PString(Bytes(T("STR "), 257), 0), "ORX Decoding");
  for (ResID id : {5150, 5151, 5152}) EXPECT_EQ(PString(Bytes(T("STR "), id), 0), "ORX Compressor");
  const auto d256 = Bytes(T("dlle"), 256);
  EXPECT_EQ(std::string(d256.begin(), d256.end()), std::string("ORX_DComponentDispatch") + '\0');
  for (ResID id : {5150, 5152}) {
    const auto d = Bytes(T("dlle"), id);
    EXPECT_EQ(std::string(d.begin(), d.end()), std::string("ORX_CComponentDispatch") + '\0');
  }
  const auto thnr = Bytes(T("thnr"), 5152);
  ASSERT_EQ(thnr.size(), 32u);
  EXPECT_EQ(BE32(&thnr[0]), T("cdci"));
  EXPECT_EQ(BE16(&thnr[4]), 1);
  EXPECT_EQ(BE32(&thnr[8]), T("cdci"));
  EXPECT_EQ(BE16(&thnr[12]), 5150);
  EXPECT_EQ(BE32(&thnr[16]), T("ccop"));
  EXPECT_EQ(BE16(&thnr[20]), 1);
  EXPECT_EQ(BE32(&thnr[24]), T("ccop"));
  EXPECT_EQ(BE16(&thnr[28]), 5152);
  EXPECT_EQ(Bytes(T("ccop"), 5152), (std::vector<uint8_t>{0, 0, 0, 1}));
}

TEST_F(CodecResources, CodecInfoIsHandedOutInNativeOrder) {
  for (ResID id : {256, 5150}) {
    SCOPED_TRACE(id);
    Handle h = Get1Resource(T("cdci"), id);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(GetHandleSize(h), static_cast<Size>(sizeof(CodecInfo)));
    CodecInfo ci;
    std::memcpy(&ci, *h, sizeof ci);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ci.typeName + 1), ci.typeName[0]), "ORX");
    EXPECT_EQ(ci.version, 1);
    EXPECT_EQ(ci.revisionLevel, 1);
    EXPECT_EQ(static_cast<UInt32>(ci.vendor), T("appl"));
    EXPECT_EQ(ci.decompressFlags, 0x20);
    EXPECT_EQ(ci.compressFlags, id == 256 ? 0 : 0x20);
    EXPECT_EQ(ci.formatFlags, 0x20);
    EXPECT_EQ(ci.compressionSpeed, 200);
    EXPECT_EQ(ci.decompressionSpeed, 200);
    EXPECT_EQ(ci.compressionLevel, 128);
    EXPECT_EQ(ci.minimumHeight, 1);
    EXPECT_EQ(ci.minimumWidth, 1);
  }
}

TEST_F(CodecResources, DialogResourcesMatchTheTables) {
  const auto dlog = Bytes(T("DLOG"), 16501);
  ASSERT_GE(dlog.size(), 38u);
  EXPECT_EQ(BE16(&dlog[0]), 0);
  EXPECT_EQ(BE16(&dlog[4]), 168);
  EXPECT_EQ(BE16(&dlog[6]), 420);
  EXPECT_EQ(BE16(&dlog[8]), 5);
  EXPECT_EQ(dlog[10], 1);
  EXPECT_EQ(dlog[12], 0);
  EXPECT_EQ(BE16(&dlog[18]), 16501);
  EXPECT_EQ(PString(dlog, 20), "ORX Preferences");
  const size_t pos = (20 + 1 + dlog[20] + 1) & ~size_t{1};
  EXPECT_EQ(BE16(&dlog[pos]) & 0xFFFF, 0x300A);

  struct Item {
    int type;
    int top, left, bottom, right;
    std::string text;
    int id;
  };
  auto items = [](const std::vector<uint8_t>& b) {
    std::vector<Item> out;
    size_t p = 2;
    for (int i = 0; i <= BE16(&b[0]) && p + 14 <= b.size(); ++i) {
      Item it{b[p + 12], BE16(&b[p + 4]), BE16(&b[p + 6]), BE16(&b[p + 8]), BE16(&b[p + 10]), "", 0};
      const size_t len = b[p + 13];
      if (it.type == 7) it.id = BE16(&b[p + 14]);
      else it.text.assign(b.begin() + p + 14, b.begin() + p + 14 + len);
      p += 14 + len + (len & 1);
      out.push_back(it);
    }
    return out;
  };
  const auto d = items(Bytes(T("DITL"), 16501));
  ASSERT_EQ(d.size(), 5u);
  EXPECT_EQ(d[0].type, 4);
  EXPECT_EQ(d[0].text, "Ok");
  EXPECT_EQ((std::vector<int>{d[0].top, d[0].left, d[0].bottom, d[0].right}), (std::vector<int>{128, 245, 148, 315}));
  EXPECT_EQ(d[1].text, "Cancel");
  EXPECT_EQ((std::vector<int>{d[1].top, d[1].left, d[1].bottom, d[1].right}), (std::vector<int>{128, 330, 148, 400}));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(d[2 + i].type, 7);
    EXPECT_EQ(d[2 + i].id, 129 + i);
    EXPECT_EQ((std::vector<int>{d[2 + i].top, d[2 + i].left, d[2 + i].bottom, d[2 + i].right}),
              (std::vector<int>{30 + 30 * i, 70, 46 + 30 * i, 255}));
  }
  const auto panel = items(Bytes(T("DITL"), 129));
  ASSERT_EQ(panel.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(panel[i].id, 129 + i);
    EXPECT_EQ((std::vector<int>{panel[i].top, panel[i].left, panel[i].bottom, panel[i].right}),
              (std::vector<int>{40 * i, 0, 16 + 40 * i, 225}));
  }

  const char* titles[] = {"Transparency", "Optimize For", "Threads"};
  const std::vector<std::vector<std::string>> menus = {
      {"Discard Alpha Channel", "Preserve Alpha Channel"},
      {"Quality", "Performance", "VovorEvaded"},
      {"Max", "1x", "2x", "4x", "6x", "8x", "12x", "16x", "24x"}};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(titles[i]);
    const auto c = Bytes(T("CNTL"), static_cast<ResID>(129 + i));
    ASSERT_GE(c.size(), 23u);
    EXPECT_EQ((std::vector<int>{BE16(&c[0]), BE16(&c[2]), BE16(&c[4]), BE16(&c[6])}), (std::vector<int>{0, 0, 20, 225}));
    EXPECT_EQ(BE16(&c[8]), 0);
    EXPECT_EQ(c[10], 1);
    EXPECT_EQ(BE16(&c[12]), 70);
    EXPECT_EQ(BE16(&c[14]), 129 + i);
    EXPECT_EQ(BE16(&c[16]), 1009);
    EXPECT_EQ(BE32(&c[18]), 0u);
    EXPECT_EQ(PString(c, 22), titles[i]);
    const auto m = Bytes(T("MENU"), static_cast<ResID>(129 + i));
    ASSERT_GE(m.size(), 15u);
    EXPECT_EQ(BE16(&m[0]), 129 + i);
    EXPECT_EQ(BE32(&m[10]), 0xFFFFFFFFu);
    EXPECT_EQ(PString(m, 14), "Popup");
    size_t p = 14 + 1 + m[14];
    std::vector<std::string> got;
    while (p < m.size() && m[p] != 0) {
      got.push_back(PString(m, p));
      p += 1 + m[p];
      EXPECT_EQ(BE32(&m[p]), 0u);
      p += 4;
    }
    EXPECT_EQ(got, menus[static_cast<size_t>(i)]);
    EXPECT_EQ(p + 1, m.size());
  }
}

TEST(ResourceChain, SearchesStartAtTheCurrentFile) {
  const auto tiny = TinyFork();
  const char* path = std::getenv("ORX_TEST_RESOURCES");
  ASSERT_NE(path, nullptr);
  const SInt16 codec = HostOpenResFile(path);
  const SInt16 test = HostOpenResFileFromMemory(tiny.data(), tiny.size());
  ASSERT_GT(codec, 0);
  ASSERT_GT(test, 0);
  EXPECT_EQ(CurResFile(), test);
  Handle h = Get1Resource(FOUR_CHAR_CODE('T', 'E', 'S', 'T'), 1);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(std::string(*h, 3), "abc");
  EXPECT_EQ(Get1Resource(FOUR_CHAR_CODE('T', 'E', 'S', 'T'), 1), h);  // the same handle again
  EXPECT_EQ(Get1Resource(T("STR "), 256), nullptr);   // only the current file
  EXPECT_EQ(ResError(), resNotFound);
  EXPECT_NE(GetResource(T("STR "), 256), nullptr);    // then older ones
  UseResFile(codec);
  EXPECT_EQ(GetResource(FOUR_CHAR_CODE('T', 'E', 'S', 'T'), 1), nullptr);  // newer files are not searched
  EXPECT_EQ(Count1Resources(T("thng")), 3);
  // A detached handle is the caller's.
  Handle str = Get1Resource(T("STR "), 257);
  ASSERT_NE(str, nullptr);
  DetachResource(str);
  EXPECT_NE(Get1Resource(T("STR "), 257), str);
  DisposeHandle(str);
  UseResFile(test);
  CloseResFile(test);  // the next file in the chain becomes current
  EXPECT_EQ(CurResFile(), codec);
  CloseResFile(codec);
  UseResFile(codec);
  EXPECT_EQ(ResError(), resFNotFound);
}

TEST(ResourceChain, DamagedFilesAreRefused) {
  const auto good = TinyFork();
  const SInt16 ok = HostOpenResFileFromMemory(good.data(), good.size());
  ASSERT_GT(ok, 0);
  CloseResFile(ok);
  const uint32_t mapOff = 256 + 7;
  struct Damage {
    const char* what;
    size_t at;
    std::vector<uint8_t> bytes;
    size_t truncate;  // 0: keep the size
  };
  const Damage cases[] = {
      {"truncated header", 0, {}, 10},
      {"map offset beyond the end", 4, {0, 0, 0x10, 0}, 0},
      {"data length beyond the end", 8, {0, 1, 0, 0}, 0},
      {"type count past the map", mapOff + 28, {0x00, 0x40}, 0},
      {"reference list outside the map", mapOff + 36, {0x7F, 0}, 0},
      {"data offset beyond the data", mapOff + 43, {0, 0, 0x40}, 0},
      {"resource longer than the data", 256, {0, 0, 1, 0}, 0},
      {"type list offset past the map", mapOff + 24, {0xFF, 0}, 0},
      {"map cut short", 0, {}, 256 + 7 + 20},
  };
  for (const Damage& d : cases) {
    std::vector<uint8_t> f = good;
    for (size_t i = 0; i < d.bytes.size(); ++i) f[d.at + i] = d.bytes[i];
    if (d.truncate) f.resize(d.truncate);
    EXPECT_EQ(HostOpenResFileFromMemory(f.data(), f.size()), -1) << d.what;
    EXPECT_EQ(ResError(), mapReadErr) << d.what;
  }
  // Two resources of one type and ID: which one a lookup meant is unknowable.
  const auto two = TinyFork(2), same = TinyFork(1);
  const SInt16 both = HostOpenResFileFromMemory(two.data(), two.size());
  ASSERT_GT(both, 0);
  EXPECT_NE(Get1Resource(T("TEST"), 2), nullptr);
  CloseResFile(both);
  EXPECT_EQ(HostOpenResFileFromMemory(same.data(), same.size()), -1);
  EXPECT_EQ(ResError(), mapReadErr);
  EXPECT_EQ(HostOpenResFile("/nonexistent/file.rsrc"), -1);
  EXPECT_EQ(ResError(), fnfErr);
  // A 'cdci' of the wrong size is refused when loaded.
  auto cdci = good;
  cdci[mapOff + 30] = 'c';
  cdci[mapOff + 31] = 'd';
  cdci[mapOff + 32] = 'c';
  cdci[mapOff + 33] = 'i';
  const SInt16 ref = HostOpenResFileFromMemory(cdci.data(), cdci.size());
  ASSERT_GT(ref, 0);
  EXPECT_EQ(Get1Resource(T("cdci"), 1), nullptr);
  EXPECT_EQ(ResError(), mapReadErr);
  CloseResFile(ref);
}

// Damaged component files on the search path before the installed
// component: a resource file that is not one, a resource file with no
// library beside it, and a good resource file whose library does not load.
// Each is named with its reason, and the component beside the host library
// is still found (the library is loaded only on first open, so the one that
// fails there gives way to the component it kept out). The search path is
// read once a process: no other case of this suite asks for a component.
TEST(ComponentSearch, DamagedFilesAreNamedAndTheInstalledComponentIsStillFound) {
  const char* installed = std::getenv("ORX_TEST_RESOURCES");
  ASSERT_NE(installed, nullptr);
  char pattern[] = "/tmp/orx-search-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern, a = dir + "/a", b = dir + "/b";
  std::filesystem::create_directories(a);
  std::filesystem::create_directories(b);
  auto write = [](const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  };
  const std::vector<uint8_t> junk(3000, 0x5A);
  write(a + "/ORXCodec.rsrc", junk);
  write(a + "/ORXCodec.so", junk);
  write(a + "/Lonely.rsrc", TinyFork());
  write(b + "/ORXCodec.rsrc", ReadFile(installed));
  write(b + "/ORXCodec.so", junk);
  setenv("ORX_COMPONENT_PATH", (a + ":" + b).c_str(), 1);

  char text[4096];
  ComponentDescription compressors{compressorComponentType, FOUR_CHAR_CODE('O', 'R', 'X', 'V'), 0, 0, 0};
  EXPECT_EQ(CountComponents(&compressors), 1);  // b's, which keeps the installed one out
  EXPECT_EQ(HostComponentProblems(text, sizeof text), 2) << text;
  ComponentInstance ci = nullptr;
  ASSERT_EQ(OpenADefaultComponent(compressorComponentType, FOUR_CHAR_CODE('O', 'R', 'X', 'V'), &ci), noErr);
  EXPECT_GT(CallComponentVersion(ci), 0);
  CloseComponent(ci);
  // b's decompressor left with its library; the installed one is opened.
  ASSERT_EQ(OpenADefaultComponent(decompressorComponentType, FOUR_CHAR_CODE('O', 'R', 'X', 'V'), &ci), noErr);
  CloseComponent(ci);
  EXPECT_EQ(CountComponents(&compressors), 1);

  EXPECT_EQ(HostComponentProblems(text, sizeof text), 3) << text;
  const std::string said = text;
  EXPECT_NE(said.find(a + "/ORXCodec.rsrc: not a resource file"), std::string::npos) << said;
  EXPECT_NE(said.find(a + "/Lonely.rsrc: no library " + a + "/Lonely.so beside it"), std::string::npos) << said;
  const size_t lib = said.find(b + "/ORXCodec.so: cannot be loaded: ");
  ASSERT_NE(lib, std::string::npos) << said;
  EXPECT_GT(said.size(), lib + (b + "/ORXCodec.so: cannot be loaded: ").size()) << "the loader's reason is given";
  // Cut to the buffer, always terminated.
  char small[16];
  EXPECT_EQ(HostComponentProblems(small, sizeof small), 3);
  EXPECT_EQ(std::strlen(small), sizeof small - 1);
  std::filesystem::remove_all(dir);
}

TEST(ResourceCompiler, ReportsErrorsWithFileAndLine) {
  const char* rez = std::getenv("ORX_REZ");
  ASSERT_NE(rez, nullptr);
  const std::string dir = ::testing::TempDir();
  struct Case {
    const char* text;
    const char* expect;
  };
  const Case cases[] = {
      {"resource 'STR ' 1 {\n  pstring \"ok\"\n  u8 300\n}\n", ":3: value 300 does not fit"},
      {"resource 'STR ' 1 {\n  bogus 1\n}\n", ":2: unknown field 'bogus'"},
      {"resource 'STR ' 1 {\n  pstring \"open\n}\n", ":2: unterminated string"},
      {"resource 'STR ' 1 {\n", "not closed"},
      {"resource 'AB' 1 {\n}\n", ":1:"},
      {"resource 'STR ' 1 {\n}\nresource 'STR ' 1 {\n}\n", ":3: resource 'STR ' 1 defined twice"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string in = dir + "/rez" + std::to_string(n) + ".rdesc", out = dir + "/rez" + std::to_string(n) + ".rsrc";
    const std::string log = dir + "/rez" + std::to_string(n++) + ".log";
    std::ofstream(in) << c.text;
    const int rc = std::system((std::string(rez) + " " + in + " " + out + " 2>" + log).c_str());
    EXPECT_NE(rc, 0) << c.text;
    const auto msg = ReadFile(log.c_str());
    const std::string text(msg.begin(), msg.end());
    EXPECT_NE(text.find(in), std::string::npos) << text;
    EXPECT_NE(text.find(c.expect), std::string::npos) << text;
    std::remove(in.c_str());
    std::remove(log.c_str());
  }
  // A good description round-trips through the Resource Manager, names included.
  const std::string in = dir + "/good.rdesc", out = dir + "/good.rsrc";
  std::ofstream(in) << "resource 'TEXT' 7 \"seven\" {\n  u16 0x1234 0xFFFF\n  ostype 'abcd'\n  align 4\n  hex \"ff 01\"\n}\n";
  ASSERT_EQ(std::system((std::string(rez) + " " + in + " " + out).c_str()), 0);
  const SInt16 ref = HostOpenResFile(out.c_str());
  ASSERT_GT(ref, 0);
  Handle h = Get1Resource(FOUR_CHAR_CODE('T', 'E', 'X', 'T'), 7);
  ASSERT_NE(h, nullptr);
  const std::vector<uint8_t> bytes(reinterpret_cast<uint8_t*>(*h), reinterpret_cast<uint8_t*>(*h) + GetHandleSize(h));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0x12, 0x34, 0xFF, 0xFF, 'a', 'b', 'c', 'd', 0xFF, 0x01}));
  Str255 name;
  ResID id;
  ResType type;
  GetResInfo(h, &id, &type, name);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name + 1), name[0]), "seven");
  CloseResFile(ref);
  std::remove(in.c_str());
  std::remove(out.c_str());
}
