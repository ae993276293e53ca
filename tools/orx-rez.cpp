// orx-rez: compiles a readable resource description into a resource-fork
// file (big-endian: 256-byte header area, data, then the map).
//
//   orx-rez INPUT.rdesc OUTPUT.rsrc
//
// Description syntax, one item per line, '#' starts a comment:
//   resource 'TYPE' ID ["name"] {     starts a resource (ID is -32768..32767)
//   }                                 ends it
// Inside a resource, fields are written in order, big-endian:
//   u8 / u16 / s16 / u32 / s32 V...   one or more numbers: decimal, 0x hex,
//                                     negative, or a 'abcd' four-character code
//   ostype 'abcd'                     four-character code
//   pstring "text"                    length byte, then the text
//   pstring32 "text"                  Str31: length byte, text, zeros to 32 bytes
//   cstring "text"                    text, then a zero byte
//   rect TOP LEFT BOTTOM RIGHT        four s16
//   zeros N                           N zero bytes
//   align N                           zero bytes up to a multiple of N
//   hex "00 1f a0"                    raw bytes
// Strings take \" and \\ escapes. Errors name the file and line.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Resource {
  uint32_t type = 0;
  int16_t id = 0;
  std::string name;
  std::vector<uint8_t> data;
};

struct Error {
  std::string message;
};

[[noreturn]] void Fail(const std::string& file, int line, const std::string& what) {
  throw Error{file + ":" + std::to_string(line) + ": " + what};
}

void Put(std::vector<uint8_t>& v, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) v.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Splits a line into tokens: words, "strings" (kept with their quotes) and
// 'code' literals (kept with their quotes).
std::vector<std::string> Tokens(const std::string& line, const std::string& file, int lineNo) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      std::string s = "\"";
      ++i;
      bool closed = false;
      while (i < line.size()) {
        if (line[i] == '\\' && i + 1 < line.size()) {
          s += line[i + 1];
          i += 2;
        } else if (line[i] == '"') {
          closed = true;
          ++i;
          break;
        } else {
          s += line[i++];
        }
      }
      if (!closed) Fail(file, lineNo, "unterminated string");
      out.push_back(s);
    } else if (c == '\'') {
      if (i + 5 >= line.size() || line[i + 5] != '\'') Fail(file, lineNo, "a four-character code is 4 characters between single quotes");
      out.push_back(line.substr(i, 6));
      i += 6;
    } else {
      size_t j = i;
      while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r' && line[j] != '#') ++j;
      out.push_back(line.substr(i, j - i));
      i = j;
    }
  }
  return out;
}

uint32_t Code(const std::string& tok) {
  return (uint32_t{static_cast<uint8_t>(tok[1])} << 24) | (uint32_t{static_cast<uint8_t>(tok[2])} << 16) |
         (uint32_t{static_cast<uint8_t>(tok[3])} << 8) | static_cast<uint8_t>(tok[4]);
}

int64_t Number(const std::string& tok, int64_t lo, int64_t hi, const std::string& file, int line) {
  if (tok.size() == 6 && tok.front() == '\'') {
    const int64_t v = Code(tok);
    if (v < lo || v > hi) Fail(file, line, "value " + tok + " does not fit the field");
    return v;
  }
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(tok.c_str(), &end, 0);
  if (tok.empty() || *end != '\0' || errno != 0) Fail(file, line, "not a number: '" + tok + "'");
  if (v < lo || v > hi) Fail(file, line, "value " + tok + " does not fit the field");
  return v;
}

std::string Text(const std::string& tok, const std::string& file, int line) {
  if (tok.empty() || tok.front() != '"') Fail(file, line, "expected a \"string\"");
  return tok.substr(1);
}

std::vector<Resource> ParseDescription(const std::string& file) {
  std::ifstream in(file);
  if (!in) throw Error{file + ": cannot open the description"};
  std::vector<Resource> out;
  Resource* current = nullptr;
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    const std::vector<std::string> t = Tokens(line, file, lineNo);
    if (t.empty()) continue;
    const std::string& word = t[0];
    auto need = [&](size_t n) {
      if (t.size() != n) Fail(file, lineNo, "'" + word + "' takes " + std::to_string(n - 1) + " value(s)");
    };
    if (current == nullptr) {
      if (word != "resource") Fail(file, lineNo, "expected 'resource', found '" + word + "'");
      if (t.size() < 4 || t.back() != "{") Fail(file, lineNo, "expected: resource 'TYPE' ID [\"name\"] {");
      if (t[1].size() != 6 || t[1].front() != '\'') Fail(file, lineNo, "resource type must be a 'code'");
      Resource r;
      r.type = Code(t[1]);
      r.id = static_cast<int16_t>(Number(t[2], -32768, 32767, file, lineNo));
      if (t.size() == 5) r.name = Text(t[3], file, lineNo);
      if (t.size() > 5) Fail(file, lineNo, "too many words in resource header");
      for (const Resource& o : out)
        if (o.type == r.type && o.id == r.id) Fail(file, lineNo, "resource " + t[1] + " " + t[2] + " defined twice");
      out.push_back(r);
      current = &out.back();
      continue;
    }
    std::vector<uint8_t>& d = current->data;
    if (word == "}") {
      need(1);
      current = nullptr;
    } else if (word == "u8" || word == "u16" || word == "s16" || word == "u32" || word == "s32") {
      if (t.size() < 2) Fail(file, lineNo, "'" + word + "' needs at least one value");
      const int bytes = word == "u8" ? 1 : (word == "u32" || word == "s32") ? 4 : 2;
      const bool isSigned = word[0] == 's';
      const int64_t hi = isSigned ? (int64_t{1} << (8 * bytes - 1)) - 1 : (int64_t{1} << (8 * bytes)) - 1;
      const int64_t lo = isSigned ? -(int64_t{1} << (8 * bytes - 1)) : 0;
      for (size_t i = 1; i < t.size(); ++i) Put(d, static_cast<uint64_t>(Number(t[i], lo, hi, file, lineNo)), bytes);
    } else if (word == "ostype") {
      need(2);
      if (t[1].size() != 6 || t[1].front() != '\'') Fail(file, lineNo, "ostype takes a 'code'");
      Put(d, Code(t[1]), 4);
    } else if (word == "pstring" || word == "pstring32") {
      need(2);
      const std::string s = Text(t[1], file, lineNo);
      const size_t max = word == "pstring" ? 255 : 31;
      if (s.size() > max) Fail(file, lineNo, "string longer than " + std::to_string(max) + " characters");
      d.push_back(static_cast<uint8_t>(s.size()));
      d.insert(d.end(), s.begin(), s.end());
      if (word == "pstring32") d.insert(d.end(), 31 - s.size(), 0);
    } else if (word == "cstring") {
      need(2);
      const std::string s = Text(t[1], file, lineNo);
      d.insert(d.end(), s.begin(), s.end());
      d.push_back(0);
    } else if (word == "rect") {
      need(5);
      for (int i = 1; i <= 4; ++i) Put(d, static_cast<uint64_t>(Number(t[i], -32768, 32767, file, lineNo)), 2);
    } else if (word == "zeros") {
      need(2);
      d.insert(d.end(), static_cast<size_t>(Number(t[1], 0, 65536, file, lineNo)), 0);
    } else if (word == "align") {
      need(2);
      const int64_t n = Number(t[1], 1, 4096, file, lineNo);
      while (d.size() % static_cast<size_t>(n)) d.push_back(0);
    } else if (word == "hex") {
      need(2);
      std::istringstream hs(Text(t[1], file, lineNo));
      std::string byte;
      while (hs >> byte) d.push_back(static_cast<uint8_t>(Number("0x" + byte, 0, 255, file, lineNo)));
    } else {
      Fail(file, lineNo, "unknown field '" + word + "'");
    }
  }
  if (current != nullptr) Fail(file, lineNo, "resource not closed with '}'");
  return out;
}

std::vector<uint8_t> BuildFork(const std::vector<Resource>& resources) {
  std::vector<uint8_t> data;
  std::vector<uint32_t> offsets;
  for (const Resource& r : resources) {
    if (data.size() + 4 + r.data.size() > 0xFFFFFF) throw Error{"resource data exceeds 16 MiB"};
    offsets.push_back(static_cast<uint32_t>(data.size()));
    Put(data, r.data.size(), 4);
    data.insert(data.end(), r.data.begin(), r.data.end());
  }
  // Types in sorted order, each with its resources sorted by ID.
  std::map<uint32_t, std::vector<size_t>> byType;
  for (size_t i = 0; i < resources.size(); ++i) byType[resources[i].type].push_back(i);
  for (auto& [type, list] : byType)
    std::sort(list.begin(), list.end(), [&](size_t a, size_t b) { return resources[a].id < resources[b].id; });

  std::vector<uint8_t> typeList, refLists, names;
  Put(typeList, byType.empty() ? 0xFFFF : byType.size() - 1, 2);
  const size_t refBase = 2 + 8 * byType.size();
  for (auto& [type, list] : byType) {
    Put(typeList, type, 4);
    Put(typeList, list.size() - 1, 2);
    Put(typeList, refBase + refLists.size(), 2);
    for (size_t i : list) {
      const Resource& r = resources[i];
      Put(refLists, static_cast<uint16_t>(r.id), 2);
      if (r.name.empty()) {
        Put(refLists, 0xFFFF, 2);
      } else {
        Put(refLists, names.size(), 2);
        names.push_back(static_cast<uint8_t>(std::min<size_t>(r.name.size(), 255)));
        names.insert(names.end(), r.name.begin(), r.name.begin() + std::min<size_t>(r.name.size(), 255));
      }
      refLists.push_back(0);  // attributes
      Put(refLists, offsets[i], 3);
      Put(refLists, 0, 4);
    }
  }
  const uint32_t dataOff = 256;
  const uint32_t mapOff = dataOff + static_cast<uint32_t>(data.size());
  const size_t typeListOff = 28;
  const size_t nameListOff = typeListOff + typeList.size() + refLists.size();
  if (nameListOff > 0xFFFF) throw Error{"resource map too large"};
  const uint32_t mapLen = static_cast<uint32_t>(nameListOff + names.size());

  std::vector<uint8_t> header;
  Put(header, dataOff, 4);
  Put(header, mapOff, 4);
  Put(header, data.size(), 4);
  Put(header, mapLen, 4);

  std::vector<uint8_t> out(header);
  out.resize(dataOff, 0);
  out.insert(out.end(), data.begin(), data.end());
  out.insert(out.end(), header.begin(), header.end());  // the map starts with a copy of the header
  Put(out, 0, 4);                                       // next map
  Put(out, 0, 2);                                       // file reference
  Put(out, 0, 2);                                       // attributes
  Put(out, typeListOff, 2);
  Put(out, nameListOff, 2);
  out.insert(out.end(), typeList.begin(), typeList.end());
  out.insert(out.end(), refLists.begin(), refLists.end());
  out.insert(out.end(), names.begin(), names.end());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
    std::printf("usage: orx-rez INPUT.rdesc OUTPUT.rsrc\nCompiles a resource description into a resource-fork file.\n");
    return 0;
  }
  if (argc != 3) {
    std::fprintf(stderr, "usage: orx-rez INPUT.rdesc OUTPUT.rsrc (see --help)\n");
    return 2;
  }
  try {
    const std::vector<uint8_t> fork = BuildFork(ParseDescription(argv[1]));
    const std::string temp = std::string(argv[2]) + ".tmp";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (f == nullptr) {
      std::fprintf(stderr, "orx-rez: %s: cannot create the file\n", temp.c_str());
      return 1;
    }
    const bool ok = std::fwrite(fork.data(), 1, fork.size(), f) == fork.size();
    if (std::fclose(f) != 0 || !ok || std::rename(temp.c_str(), argv[2]) != 0) {
      std::remove(temp.c_str());
      std::fprintf(stderr, "orx-rez: %s: cannot write the file\n", argv[2]);
      return 1;
    }
  } catch (const Error& e) {
    std::fprintf(stderr, "orx-rez: %s\n", e.message.c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orx-rez: %s\n", e.what());
    return 1;
  }
  return 0;
}
