// Resource Manager: parses resource-fork files (big-endian), validating every
// offset and count against the file, and keeps the chain of open files. The
// newest file is searched first; UseResFile picks where searches start.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "MacMemory.h"
#include "quicktime/host/src/ComponentFiles.h"
#include "Resources.h"
#include "quicktime/host/src/ResourcesInternal.h"

namespace {

struct ResourceEntry {
  ResType type;
  ResID id;
  uint8_t attributes;
  std::string name;
  uint32_t dataOffset;  // of the resource's bytes (after its length word) in the file
  uint32_t length;
  Handle loaded = nullptr;  // owned by the Resource Manager once loaded
};

struct ResourceFile {
  SInt16 refNum;
  std::vector<uint8_t> bytes;
  std::vector<ResType> types;  // in file order
  std::vector<ResourceEntry> entries;
};

std::mutex g_lock;
std::vector<ResourceFile*> g_chain;  // newest first
SInt16 g_current = 0;                // 0: none
SInt16 g_nextRef = 1;
thread_local OSErr t_resError = noErr;

uint32_t BE32(const uint8_t* p) { return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]; }
uint16_t BE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint32_t BE24(const uint8_t* p) { return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2]; }

// True when [off, off + len) lies inside a buffer of size n.
bool Within(uint64_t off, uint64_t len, uint64_t n) { return off <= n && len <= n - off; }

bool Parse(ResourceFile* f) {
  const std::vector<uint8_t>& b = f->bytes;
  const uint64_t n = b.size();
  if (n < 16) return false;
  const uint32_t dataOff = BE32(&b[0]), mapOff = BE32(&b[4]), dataLen = BE32(&b[8]), mapLen = BE32(&b[12]);
  if (!Within(dataOff, dataLen, n) || !Within(mapOff, mapLen, n) || mapLen < 30) return false;
  const uint8_t* map = &b[mapOff];
  const uint16_t typeListOff = BE16(map + 24), nameListOff = BE16(map + 26);
  if (!Within(typeListOff, 2, mapLen)) return false;
  const uint8_t* typeList = map + typeListOff;
  const uint64_t typeListRoom = mapLen - typeListOff;
  const uint16_t typeCountRaw = BE16(typeList);
  const int typeCount = typeCountRaw == 0xFFFF ? 0 : typeCountRaw + 1;
  if (!Within(2, static_cast<uint64_t>(typeCount) * 8, typeListRoom)) return false;

  for (int t = 0; t < typeCount; ++t) {
    const uint8_t* te = typeList + 2 + 8 * t;
    const ResType type = BE32(te);
    const int count = BE16(te + 4) + 1;
    const uint16_t refOff = BE16(te + 6);
    if (!Within(refOff, static_cast<uint64_t>(count) * 12, typeListRoom)) return false;
    if (std::find(f->types.begin(), f->types.end(), type) != f->types.end()) return false;
    f->types.push_back(type);
    for (int i = 0; i < count; ++i) {
      const uint8_t* re = typeList + refOff + 12 * i;
      ResourceEntry e;
      e.type = type;
      e.id = static_cast<ResID>(BE16(re));
      const uint16_t nameOff = BE16(re + 2);
      e.attributes = re[4];
      const uint32_t off = BE24(re + 5);
      if (!Within(off, 4, dataLen)) return false;
      e.length = BE32(&b[dataOff + off]);
      if (!Within(static_cast<uint64_t>(off) + 4, e.length, dataLen)) return false;
      e.dataOffset = dataOff + off + 4;
      if (nameOff != 0xFFFF) {
        const uint64_t nameAt = static_cast<uint64_t>(nameListOff) + nameOff;
        if (!Within(nameAt, 1, mapLen) || !Within(nameAt + 1, map[nameAt], mapLen)) return false;
        e.name.assign(reinterpret_cast<const char*>(map + nameAt + 1), map[nameAt]);
      }
      for (const ResourceEntry& other : f->entries)
        if (other.type == e.type && other.id == e.id) return false;  // duplicate ID
      f->entries.push_back(std::move(e));
    }
  }
  return true;
}

ResourceFile* FindFile(SInt16 refNum) {
  for (ResourceFile* f : g_chain)
    if (f->refNum == refNum) return f;
  return nullptr;
}

SInt16 Open(std::vector<uint8_t>&& bytes) {
  auto* f = new (std::nothrow) ResourceFile;
  if (f == nullptr) {
    t_resError = memFullErr;
    return -1;
  }
  f->bytes = std::move(bytes);
  bool ok = false;
  try {
    ok = Parse(f);
  } catch (...) {
    ok = false;
  }
  if (!ok) {
    delete f;
    t_resError = mapReadErr;
    return -1;
  }
  std::lock_guard<std::mutex> lock(g_lock);
  f->refNum = g_nextRef++;
  if (g_nextRef <= 0) g_nextRef = 1;
  g_chain.insert(g_chain.begin(), f);
  g_current = f->refNum;
  t_resError = noErr;
  return f->refNum;
}

// Loads (or returns the loaded) handle of an entry; caller holds g_lock.
Handle Load(ResourceFile* f, ResourceEntry& e) {
  if (e.loaded != nullptr) {
    t_resError = noErr;
    return e.loaded;
  }
  Handle h = NewHandle(static_cast<Size>(e.length));
  if (h == nullptr) {
    t_resError = memFullErr;
    return nullptr;
  }
  if (e.length) std::memcpy(*h, f->bytes.data() + e.dataOffset, e.length);
  if (!HostFlipResourceToNative(e.type, reinterpret_cast<uint8_t*>(*h), e.length)) {
    DisposeHandle(h);
    t_resError = mapReadErr;
    return nullptr;
  }
  e.loaded = h;
  t_resError = noErr;
  return h;
}

ResourceEntry* FindEntry(ResourceFile* f, ResType type, ResID id) {
  for (ResourceEntry& e : f->entries)
    if (e.type == type && e.id == id) return &e;
  return nullptr;
}

// The file and entry that own a loaded handle; caller holds g_lock.
ResourceEntry* EntryOfHandle(Handle h, ResourceFile** owner) {
  if (h == nullptr) return nullptr;
  for (ResourceFile* f : g_chain)
    for (ResourceEntry& e : f->entries)
      if (e.loaded == h) {
        if (owner) *owner = f;
        return &e;
      }
  return nullptr;
}

std::vector<ResourceFile*>::iterator CurrentPosition() {
  return std::find_if(g_chain.begin(), g_chain.end(), [](ResourceFile* f) { return f->refNum == g_current; });
}

}  // namespace

extern "C" {

SInt16 HostOpenResFile(const char* path) {
  if (path == nullptr) {
    t_resError = paramErr;
    return -1;
  }
  OSErr status = noErr;
  FILE* fp = HostOpenRegularFile(path, &status);
  if (fp == nullptr) {
    t_resError = status;
    return -1;
  }
  std::vector<uint8_t> bytes;
  uint8_t buf[65536];
  size_t got;
  bool ok = true;
  try {
    while ((got = std::fread(buf, 1, sizeof buf, fp)) > 0) {
      bytes.insert(bytes.end(), buf, buf + got);
      if (bytes.size() > (size_t{1} << 28)) {  // far beyond what 24-bit offsets can address
        ok = false;
        break;
      }
    }
  } catch (...) {
    ok = false;
  }
  const bool readError = std::ferror(fp) != 0;
  std::fclose(fp);
  if (!ok || readError) {
    t_resError = ok ? ioErr : mapReadErr;
    return -1;
  }
  return Open(std::move(bytes));
}

SInt16 HostOpenResFileFromMemory(const void* bytes, size_t length) {
  if (bytes == nullptr && length != 0) {
    t_resError = paramErr;
    return -1;
  }
  std::vector<uint8_t> copy;
  try {
    copy.assign(static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + length);
  } catch (...) {
    t_resError = memFullErr;
    return -1;
  }
  return Open(std::move(copy));
}

void CloseResFile(SInt16 refNum) {
  std::lock_guard<std::mutex> lock(g_lock);
  auto it = std::find_if(g_chain.begin(), g_chain.end(), [&](ResourceFile* f) { return f->refNum == refNum; });
  if (it == g_chain.end()) {
    t_resError = resFNotFound;
    return;
  }
  ResourceFile* f = *it;
  const bool wasCurrent = f->refNum == g_current;
  auto next = g_chain.erase(it);
  if (wasCurrent) g_current = next != g_chain.end() ? (*next)->refNum : (g_chain.empty() ? 0 : g_chain.front()->refNum);
  for (ResourceEntry& e : f->entries) DisposeHandle(e.loaded);
  delete f;
  t_resError = noErr;
}

SInt16 CurResFile(void) {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_current;
}

void UseResFile(SInt16 refNum) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (FindFile(refNum) == nullptr) {
    t_resError = resFNotFound;
    return;
  }
  g_current = refNum;
  t_resError = noErr;
}

OSErr ResError(void) { return t_resError; }

Handle Get1Resource(ResType type, ResID id) {
  std::lock_guard<std::mutex> lock(g_lock);
  ResourceFile* f = FindFile(g_current);
  ResourceEntry* e = f ? FindEntry(f, type, id) : nullptr;
  if (e == nullptr) {
    t_resError = resNotFound;
    return nullptr;
  }
  return Load(f, *e);
}

Handle GetResource(ResType type, ResID id) {
  std::lock_guard<std::mutex> lock(g_lock);
  for (auto it = CurrentPosition(); it != g_chain.end(); ++it)
    if (ResourceEntry* e = FindEntry(*it, type, id)) return Load(*it, *e);
  t_resError = resNotFound;
  return nullptr;
}

void ReleaseResource(Handle resource) {
  std::lock_guard<std::mutex> lock(g_lock);
  ResourceEntry* e = EntryOfHandle(resource, nullptr);
  if (e == nullptr) {
    t_resError = resNotFound;
    return;
  }
  DisposeHandle(e->loaded);
  e->loaded = nullptr;
  t_resError = noErr;
}

void DetachResource(Handle resource) {
  std::lock_guard<std::mutex> lock(g_lock);
  ResourceEntry* e = EntryOfHandle(resource, nullptr);
  if (e == nullptr) {
    t_resError = resNotFound;
    return;
  }
  e->loaded = nullptr;
  t_resError = noErr;
}

SInt16 Count1Resources(ResType type) {
  std::lock_guard<std::mutex> lock(g_lock);
  ResourceFile* f = FindFile(g_current);
  if (f == nullptr) return 0;
  return static_cast<SInt16>(std::count_if(f->entries.begin(), f->entries.end(),
                                           [&](const ResourceEntry& e) { return e.type == type; }));
}

SInt16 Count1Types(void) {
  std::lock_guard<std::mutex> lock(g_lock);
  ResourceFile* f = FindFile(g_current);
  return f ? static_cast<SInt16>(f->types.size()) : 0;
}

void Get1IndType(ResType* type, SInt16 index) {
  if (type == nullptr) return;
  *type = 0;
  std::lock_guard<std::mutex> lock(g_lock);
  ResourceFile* f = FindFile(g_current);
  if (f == nullptr || index < 1 || index > static_cast<SInt16>(f->types.size())) {
    t_resError = resNotFound;
    return;
  }
  *type = f->types[static_cast<size_t>(index - 1)];
  t_resError = noErr;
}

Handle Get1IndResource(ResType type, SInt16 index) {
  std::lock_guard<std::mutex> lock(g_lock);
  ResourceFile* f = FindFile(g_current);
  if (f != nullptr && index >= 1) {
    SInt16 n = 0;
    for (ResourceEntry& e : f->entries)
      if (e.type == type && ++n == index) return Load(f, e);
  }
  t_resError = resNotFound;
  return nullptr;
}

void GetResInfo(Handle resource, ResID* id, ResType* type, Str255 name) {
  std::lock_guard<std::mutex> lock(g_lock);
  ResourceEntry* e = EntryOfHandle(resource, nullptr);
  if (e == nullptr) {
    t_resError = resNotFound;
    return;
  }
  if (id) *id = e->id;
  if (type) *type = e->type;
  if (name) {
    const size_t n = std::min<size_t>(e->name.size(), 255);
    name[0] = static_cast<unsigned char>(n);
    std::memcpy(name + 1, e->name.data(), n);
  }
  t_resError = noErr;
}

SInt16 GetResAttrs(Handle resource) {
  std::lock_guard<std::mutex> lock(g_lock);
  ResourceEntry* e = EntryOfHandle(resource, nullptr);
  if (e == nullptr) {
    t_resError = resNotFound;
    return 0;
  }
  t_resError = noErr;
  return e->attributes;
}

}  // extern "C"

void HostSetResError(OSErr err) { t_resError = err; }
