// Component Manager: a registry of components found through 'thng'
// resources (or registered directly), their libraries loaded on first open,
// instances with their storage, and the call glue. A request's arguments
// travel in forward order, one pointer-sized slot each. Files and libraries
// are the platform's (ComponentFiles.h).
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Components.h"
#include "ImageCodec.h"
#include "MacMemory.h"
#include "quicktime/host/src/ComponentFiles.h"
#include "Resources.h"

namespace {

constexpr uint32_t kComponentTag = 0x434D5054;  // "CMPT"
constexpr uint32_t kInstanceTag = 0x43494E53;   // "CINS"
constexpr OSType kThng = FOUR_CHAR_CODE('t', 'h', 'n', 'g');
constexpr OSType kDlle = FOUR_CHAR_CODE('d', 'l', 'l', 'e');
constexpr OSType kStr = FOUR_CHAR_CODE('S', 'T', 'R', ' ');
constexpr int kMaxArgs = 12;

}  // namespace

struct ComponentRecord {
  uint32_t tag = kComponentTag;
  ComponentDescription desc{};
  UInt32 version = 0;
  std::string name, info;
  std::string resourcePath;  // empty for components registered directly
  std::string libraryPath;
  std::string entryName;
  ComponentRoutineUPP entry = nullptr;  // resolved on first open
  bool registered = true;
  // Kept out by auto-versioning: registered again should the component that
  // kept it out fail to load.
  bool standby = false;
};

struct ComponentInstanceRecord {
  uint32_t tag = kInstanceTag;
  ComponentRecord* component = nullptr;
  Handle storage = nullptr;
  OSErr error = noErr;
};

namespace {

std::mutex g_registryLock;
// Records are never freed: instances and callers may hold them for the life
// of the process, and libraries are never unloaded (their worker threads
// stay alive).
// Held through pointers that are never destroyed, so the records stay
// reachable until the process ends.
std::vector<ComponentRecord*>& g_components = *new std::vector<ComponentRecord*>;
std::set<std::string>& g_registeredFiles = *new std::set<std::string>;
// What kept component files from being used, one "PATH: reason" each.
std::vector<std::string>& Problems() {
  static std::vector<std::string>& problems = *new std::vector<std::string>;
  return problems;
}
std::once_flag g_searchOnce;

// Caller holds g_registryLock.
void NoteProblemLocked(const std::string& path, const std::string& reason) {
  const std::string line = path + ": " + reason;
  if (std::find(Problems().begin(), Problems().end(), line) == Problems().end()) Problems().push_back(line);
}

void NoteProblem(const std::string& path, const std::string& reason) {
  std::lock_guard<std::mutex> lock(g_registryLock);
  NoteProblemLocked(path, reason);
}

// Why a resource file could not be opened, from the Resource Manager's error.
std::string ResourceProblem(OSErr err) {
  switch (err) {
    case fnfErr: return "cannot be opened";
    case paramErr: return "not a regular file";
    case mapReadErr: return "not a resource file (damaged, or of another kind)";
    case ioErr: return "cannot be read (input/output error)";
    case memFullErr: return "cannot be read (out of memory)";
    default: return "cannot be read (error " + std::to_string(err) + ")";
  }
}

uint32_t BE32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
uint16_t BE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

ComponentRecord* AsComponent(const void* p) {
  if (p == nullptr) return nullptr;
  const auto* tag = static_cast<const uint32_t*>(p);
  if (*tag == kComponentTag) return const_cast<ComponentRecord*>(static_cast<const ComponentRecord*>(p));
  if (*tag == kInstanceTag) return static_cast<const ComponentInstanceRecord*>(p)->component;
  return nullptr;
}

ComponentInstanceRecord* AsInstance(ComponentInstance ci) {
  if (ci == nullptr || ci->tag != kInstanceTag) return nullptr;
  return ci;
}

bool SameIdentity(const ComponentRecord& a, const ComponentRecord& b) {
  return a.desc.componentType == b.desc.componentType && a.desc.componentSubType == b.desc.componentSubType &&
         a.desc.componentManufacturer == b.desc.componentManufacturer;
}

bool Matches(const ComponentRecord& c, const ComponentDescription* looking) {
  if (!c.registered) return false;
  if (looking == nullptr) return true;
  if (looking->componentType != kAnyComponentType && looking->componentType != c.desc.componentType) return false;
  if (looking->componentSubType != kAnyComponentSubType && looking->componentSubType != c.desc.componentSubType)
    return false;
  if (looking->componentManufacturer != kAnyComponentManufacturer &&
      looking->componentManufacturer != c.desc.componentManufacturer)
    return false;
  return (c.desc.componentFlags & looking->componentFlagsMask) ==
         (looking->componentFlags & looking->componentFlagsMask);
}

// Pascal string resource 'STR ' id of the current file, as a std::string.
std::string ReadString(ResID id) {
  Handle h = Get1Resource(kStr, id);
  if (h == nullptr) return {};
  const Size size = GetHandleSize(h);
  const auto* p = reinterpret_cast<const uint8_t*>(*h);
  std::string s;
  if (size > 0) s.assign(reinterpret_cast<const char*>(p + 1), std::min<Size>(p[0], size - 1));
  ReleaseResource(h);
  return s;
}

std::string ReadEntryName(ResID id) {
  Handle h = Get1Resource(kDlle, id);
  if (h == nullptr) return {};
  const Size size = GetHandleSize(h);
  std::string s(*h, strnlen(*h, static_cast<size_t>(size)));
  ReleaseResource(h);
  return s;
}

// Registers, honouring auto-versioning: a component whose type, subtype and
// manufacturer are already registered at an equal or later version is left
// out; an older one is replaced. Either waits on standby, in case the one
// kept turns out not to load.
Component AddComponent(ComponentRecord* rec, UInt32 regFlags) {
  std::lock_guard<std::mutex> lock(g_registryLock);
  if (regFlags & componentDoAutoVersion) {
    for (ComponentRecord* c : g_components) {
      if (!c->registered || !SameIdentity(*c, *rec)) continue;
      if (c->version >= rec->version) {
        rec->registered = false;
        rec->standby = true;
        g_components.push_back(rec);
        return nullptr;
      }
      c->registered = false;
      c->standby = true;
    }
  }
  g_components.push_back(rec);
  return rec;
}

// A library that does not load: every component it serves leaves the
// registry, and for each, the first component at the highest version of
// those it kept out takes its place. Caller holds g_registryLock.
void WithdrawLibraryLocked(const std::string& libraryPath, const std::string& why) {
  NoteProblemLocked(libraryPath, "cannot be loaded: " + why);
  for (ComponentRecord* failed : g_components) {
    if (failed->libraryPath != libraryPath || (!failed->registered && !failed->standby)) continue;
    const bool wasRegistered = failed->registered;
    failed->registered = false;
    failed->standby = false;
    if (!wasRegistered) continue;
    ComponentRecord* best = nullptr;
    for (ComponentRecord* c : g_components)
      if (c->standby && c->libraryPath != libraryPath && SameIdentity(*c, *failed) &&
          (best == nullptr || c->version > best->version))
        best = c;
    if (best != nullptr) {
      best->standby = false;
      best->registered = true;
    }
  }
}

// Parses one 'thng' resource (big-endian) into a record for this host.
// Returns null when it has no platform entry for this host or is malformed.
ComponentRecord* ParseThng(const uint8_t* p, Size size, UInt32* regFlags) {
  if (size < 44) return nullptr;
  auto* rec = new (std::nothrow) ComponentRecord;
  if (rec == nullptr) return nullptr;
  rec->desc.componentType = BE32(p);
  rec->desc.componentSubType = BE32(p + 4);
  rec->desc.componentManufacturer = BE32(p + 8);
  rec->desc.componentFlags = BE32(p + 12);
  rec->desc.componentFlagsMask = BE32(p + 16);
  const OSType nameType = BE32(p + 26), infoType = BE32(p + 32);
  const ResID nameID = static_cast<ResID>(BE16(p + 30)), infoID = static_cast<ResID>(BE16(p + 36));
  if (nameType == kStr) rec->name = ReadString(nameID);
  if (infoType == kStr) rec->info = ReadString(infoID);
  *regFlags = 0;
  if (size >= 58) {
    rec->version = BE32(p + 44);
    *regFlags = BE32(p + 48);
    const uint32_t count = BE32(p + 54);
    for (uint32_t i = 0; i < count && 58 + 12 * static_cast<Size>(i) + 12 <= size; ++i) {
      const uint8_t* e = p + 58 + 12 * i;
      if (static_cast<SInt16>(BE16(e + 10)) != kHostComponentPlatform || BE32(e + 4) != kDlle) continue;
      rec->desc.componentFlags = BE32(e);  // the platform entry's flags describe this build
      rec->entryName = ReadEntryName(static_cast<ResID>(BE16(e + 8)));
      break;
    }
  }
  if (rec->entryName.empty()) {
    delete rec;
    return nullptr;
  }
  return rec;
}

ComponentRoutineUPP ResolveEntry(ComponentRecord* c) {
  std::lock_guard<std::mutex> lock(g_registryLock);
  if (c->entry == nullptr && !c->libraryPath.empty()) {
    std::string why;
    c->entry = HostLoadComponentEntry(c->libraryPath, c->entryName, &why);
    if (c->entry == nullptr) WithdrawLibraryLocked(c->libraryPath, why);
  }
  return c->entry;
}

SInt32 RegisterFolder(const std::string& folder) {
  SInt32 n = 0;
  for (const auto& f : HostComponentFilesInFolder(folder)) {
    const SInt32 r = HostRegisterComponentFile(f.c_str());
    if (r > 0) n += r;
  }
  return n;
}

void EnsureSearched() {
  std::call_once(g_searchOnce, [] {
    // The host's own base image decompressor, which sub-codecs delegate to.
    ComponentDescription base{FOUR_CHAR_CODE('i', 'm', 'd', 'c'), FOUR_CHAR_CODE('b', 'a', 's', 'e'),
                              FOUR_CHAR_CODE('a', 'p', 'p', 'l'), 0, 0};
    RegisterComponent(&base, HostBaseDecompressorDispatch, 0, nullptr, nullptr, nullptr);
    HostRegisterComponentsOnSearchPath();
  });
}

ComponentResult CallEntry(ComponentRecord* c, ComponentInstance ci, SInt16 selector, const uintptr_t* args,
                          int argCount) {
  if (argCount < 0 || argCount > kMaxArgs) return paramErr;
  ComponentRoutineUPP entry = ResolveEntry(c);
  if (entry == nullptr) return invalidComponentID;
  uintptr_t block[1 + kMaxArgs] = {};  // header (and padding, where the platform has it) zero
  auto* params = reinterpret_cast<ComponentParameters*>(block);
  params->flags = 0;
  params->paramSize = static_cast<UInt8>(argCount * sizeof(uintptr_t));
  params->what = selector;
  for (int i = 0; i < argCount; ++i) params->params[i] = args[i];
  return entry(params, ci->storage);
}

using U = uintptr_t;
// Calls a handler with the storage and its slots. The handler's declared
// parameter types differ from the slot type, but on this ABI every argument
// of up to pointer size travels in one integer register or stack slot, which
// is the calling convention the components are written for; clang's
// function-type check is therefore off for this one call site.
#if defined(__clang__)
__attribute__((no_sanitize("function")))
#endif
ComponentResult CallWithSlots(ProcPtr func, Handle storage, const U* a, int n) {
  switch (n) {
    case 0: return reinterpret_cast<ComponentResult (*)(Handle)>(func)(storage);
    case 1: return reinterpret_cast<ComponentResult (*)(Handle, U)>(func)(storage, a[0]);
    case 2: return reinterpret_cast<ComponentResult (*)(Handle, U, U)>(func)(storage, a[0], a[1]);
    case 3: return reinterpret_cast<ComponentResult (*)(Handle, U, U, U)>(func)(storage, a[0], a[1], a[2]);
    case 4: return reinterpret_cast<ComponentResult (*)(Handle, U, U, U, U)>(func)(storage, a[0], a[1], a[2], a[3]);
    case 5:
      return reinterpret_cast<ComponentResult (*)(Handle, U, U, U, U, U)>(func)(storage, a[0], a[1], a[2], a[3], a[4]);
    case 6:
      return reinterpret_cast<ComponentResult (*)(Handle, U, U, U, U, U, U)>(func)(storage, a[0], a[1], a[2], a[3],
                                                                                  a[4], a[5]);
    case 7:
      return reinterpret_cast<ComponentResult (*)(Handle, U, U, U, U, U, U, U)>(func)(storage, a[0], a[1], a[2], a[3],
                                                                                     a[4], a[5], a[6]);
    case 8:
      return reinterpret_cast<ComponentResult (*)(Handle, U, U, U, U, U, U, U, U)>(func)(
          storage, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
    default: return paramErr;
  }
}

}  // namespace

extern "C" {

SInt32 HostRegisterComponentFile(const char* resourcePath) {
  if (resourcePath == nullptr) return paramErr;
  HostComponentFile file;
  std::string why;
  if (const OSErr err = HostResolveComponentFile(resourcePath, &file, &why); err != noErr) {
    if (err == fnfErr) NoteProblem(resourcePath, why);
    return err;
  }
  const std::string& path = file.resourcePath;
  const std::string& library = file.libraryPath;
  {
    std::lock_guard<std::mutex> lock(g_registryLock);
    if (!g_registeredFiles.insert(path).second) return 0;
  }

  const SInt16 saved = CurResFile();
  const SInt16 ref = HostOpenComponentResources(path);
  if (ref < 0) {
    const OSErr err = ResError() ? ResError() : static_cast<OSErr>(mapReadErr);
    NoteProblem(path, ResourceProblem(err));
    return err;
  }
  // Resource IDs in ascending order, so that auto-versioning keeps the first
  // of equal versions.
  std::vector<std::pair<ResID, Handle>> thngs;
  const SInt16 count = Count1Resources(kThng);
  for (SInt16 i = 1; i <= count; ++i) {
    Handle h = Get1IndResource(kThng, i);
    if (h == nullptr) continue;
    ResID id;
    ResType type;
    Str255 name;
    GetResInfo(h, &id, &type, name);
    thngs.emplace_back(id, h);
  }
  std::sort(thngs.begin(), thngs.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  SInt32 registered = 0;
  for (auto& [id, h] : thngs) {
    UInt32 regFlags = 0;
    ComponentRecord* rec = ParseThng(reinterpret_cast<const uint8_t*>(*h), GetHandleSize(h), &regFlags);
    ReleaseResource(h);
    if (rec == nullptr) continue;
    rec->resourcePath = path;
    rec->libraryPath = library;
    if (AddComponent(rec, regFlags) != nullptr) ++registered;
  }
  CloseResFile(ref);
  if (saved > 0) UseResFile(saved);
  return registered;
}

SInt32 HostRegisterComponentsOnSearchPath(void) {
  SInt32 n = 0;
  if (const char* env = std::getenv("ORX_COMPONENT_PATH")) {
    std::string list = env;
    size_t start = 0;
    while (start <= list.size()) {
      const size_t end = list.find(kComponentPathSeparator, start);
      const std::string folder = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
      if (!folder.empty()) n += RegisterFolder(folder);
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  const std::string own = HostLibraryFolder();
  if (!own.empty()) n += RegisterFolder(own);
  return n;
}

Component FindNextComponent(Component after, ComponentDescription* looking) {
  EnsureSearched();
  std::lock_guard<std::mutex> lock(g_registryLock);
  size_t i = 0;
  if (after != nullptr) {
    while (i < g_components.size() && g_components[i] != after) ++i;
    ++i;
  }
  for (; i < g_components.size(); ++i)
    if (Matches(*g_components[i], looking)) return g_components[i];
  return nullptr;
}

SInt32 CountComponents(ComponentDescription* looking) {
  EnsureSearched();
  std::lock_guard<std::mutex> lock(g_registryLock);
  SInt32 n = 0;
  for (ComponentRecord* c : g_components) n += Matches(*c, looking) ? 1 : 0;
  return n;
}

OSErr GetComponentInfo(Component c, ComponentDescription* cd, Handle name, Handle info, Handle /*icon*/) {
  ComponentRecord* rec = AsComponent(c);
  if (rec == nullptr) return invalidComponentID;
  if (cd != nullptr) *cd = rec->desc;
  auto put = [](Handle h, const std::string& s) {
    if (h == nullptr) return;
    const size_t n = std::min<size_t>(s.size(), 255);
    SetHandleSize(h, static_cast<Size>(n + 1));
    if (MemError() != noErr) return;
    (*h)[0] = static_cast<char>(n);
    std::memcpy(*h + 1, s.data(), n);
  };
  put(name, rec->name);
  put(info, rec->info);
  return noErr;
}

Component RegisterComponent(ComponentDescription* cd, ComponentRoutineUPP entry, SInt16 /*global*/, Handle name,
                            Handle info, Handle /*icon*/) {
  if (cd == nullptr || entry == nullptr) return nullptr;
  auto* rec = new (std::nothrow) ComponentRecord;
  if (rec == nullptr) return nullptr;
  rec->desc = *cd;
  rec->entry = entry;
  auto text = [](Handle h) {
    if (h == nullptr || GetHandleSize(h) < 1) return std::string();
    const auto* p = reinterpret_cast<const uint8_t*>(*h);
    return std::string(reinterpret_cast<const char*>(p + 1), std::min<Size>(p[0], GetHandleSize(h) - 1));
  };
  rec->name = text(name);
  rec->info = text(info);
  return AddComponent(rec, 0);
}

OSErr UnregisterComponent(Component c) {
  ComponentRecord* rec = AsComponent(c);
  if (rec == nullptr) return invalidComponentID;
  std::lock_guard<std::mutex> lock(g_registryLock);
  rec->registered = false;
  return noErr;
}

OSErr OpenAComponent(Component c, ComponentInstance* ci) {
  if (ci == nullptr) return paramErr;
  *ci = nullptr;
  ComponentRecord* rec = AsComponent(c);
  if (rec == nullptr) return invalidComponentID;
  if (ResolveEntry(rec) == nullptr) return invalidComponentID;
  auto* inst = new (std::nothrow) ComponentInstanceRecord;
  if (inst == nullptr) return memFullErr;
  inst->component = rec;
  const uintptr_t self = reinterpret_cast<uintptr_t>(inst);
  const ComponentResult r = CallEntry(rec, inst, kComponentOpenSelect, &self, 1);
  if (r != noErr) {
    // A failed open is followed by close, so the component can free what it made.
    CallEntry(rec, inst, kComponentCloseSelect, &self, 1);
    inst->tag = 0;
    delete inst;
    return static_cast<OSErr>(r);
  }
  *ci = inst;
  return noErr;
}

ComponentInstance OpenComponent(Component c) {
  ComponentInstance ci = nullptr;
  return OpenAComponent(c, &ci) == noErr ? ci : nullptr;
}

OSErr OpenADefaultComponent(OSType componentType, OSType componentSubType, ComponentInstance* ci) {
  if (ci == nullptr) return paramErr;
  *ci = nullptr;
  ComponentDescription looking{componentType, componentSubType, kAnyComponentManufacturer, 0, 0};
  // A component whose library does not load leaves the registry as it fails,
  // and one it kept out may take its place: the search starts again then.
  for (;;) {
    Component c = FindNextComponent(nullptr, &looking);
    if (c == nullptr) return invalidComponentID;
    const OSErr err = OpenAComponent(c, ci);
    if (err != invalidComponentID) return err;
    std::lock_guard<std::mutex> lock(g_registryLock);
    if (AsComponent(c)->registered) return err;
  }
}

OSErr CloseComponent(ComponentInstance ci) {
  ComponentInstanceRecord* inst = AsInstance(ci);
  if (inst == nullptr) return invalidComponentID;
  const uintptr_t self = reinterpret_cast<uintptr_t>(inst);
  const ComponentResult r = CallEntry(inst->component, inst, kComponentCloseSelect, &self, 1);
  inst->tag = 0;
  delete inst;
  return static_cast<OSErr>(r);
}

SInt32 HostComponentProblems(char* text, size_t size) {
  EnsureSearched();
  std::lock_guard<std::mutex> lock(g_registryLock);
  std::string all;
  for (const std::string& p : Problems()) all += (all.empty() ? "" : "\n") + p;
  if (text != nullptr && size > 0) {
    const size_t n = std::min(all.size(), size - 1);
    std::memcpy(text, all.data(), n);
    text[n] = 0;
  }
  return static_cast<SInt32>(Problems().size());
}

OSErr GetComponentInstanceError(ComponentInstance ci) {
  ComponentInstanceRecord* inst = AsInstance(ci);
  return inst == nullptr ? static_cast<OSErr>(invalidComponentID) : inst->error;
}

Handle GetComponentInstanceStorage(ComponentInstance ci) {
  ComponentInstanceRecord* inst = AsInstance(ci);
  return inst == nullptr ? nullptr : inst->storage;
}

void SetComponentInstanceStorage(ComponentInstance ci, Handle storage) {
  if (ComponentInstanceRecord* inst = AsInstance(ci)) inst->storage = storage;
}

ComponentResult HostCallComponent(ComponentInstance ci, SInt16 selector, const uintptr_t* args, int argCount) {
  ComponentInstanceRecord* inst = AsInstance(ci);
  if (inst == nullptr) return badComponentInstance;
  return CallEntry(inst->component, inst, selector, args, argCount);
}

ComponentResult CallComponentVersion(ComponentInstance ci) {
  return HostCallComponent(ci, kComponentVersionSelect, nullptr, 0);
}

ComponentResult CallComponentCanDo(ComponentInstance ci, SInt16 ftnNumber) {
  const uintptr_t a = static_cast<uintptr_t>(static_cast<intptr_t>(ftnNumber));
  return HostCallComponent(ci, kComponentCanDoSelect, &a, 1);
}

ComponentResult CallComponentTarget(ComponentInstance ci, ComponentInstance target) {
  const uintptr_t a = reinterpret_cast<uintptr_t>(target);
  return HostCallComponent(ci, kComponentTargetSelect, &a, 1);
}

ComponentResult ComponentSetTarget(ComponentInstance ci, ComponentInstance target) {
  return CallComponentTarget(ci, target);
}

ComponentResult DelegateComponentCall(ComponentParameters* originalParams, ComponentInstance ci) {
  ComponentInstanceRecord* inst = AsInstance(ci);
  if (inst == nullptr || originalParams == nullptr) return badComponentInstance;
  ComponentRoutineUPP entry = ResolveEntry(inst->component);
  if (entry == nullptr) return invalidComponentID;
  return entry(originalParams, inst->storage);
}

ComponentResult CallComponentFunctionWithStorageProcInfo(Handle storage, ComponentParameters* params, ProcPtr func,
                                                         ProcInfoType procInfo) {
  if (params == nullptr || func == nullptr) return paramErr;
  // Argument sizes after the storage (bits 6-7), 2 bits each.
  uintptr_t args[kMaxArgs];
  int n = 0;
  for (int shift = 8; shift < 32; shift += 2) {
    const unsigned code = (procInfo >> shift) & 3u;
    if (code == 0) break;
    if (n == kMaxArgs) return paramErr;
    if (static_cast<size_t>(n + 1) * sizeof(uintptr_t) > params->paramSize) return paramErr;
    const uintptr_t slot = params->params[n];
    switch (code) {
      case 1: args[n] = static_cast<uint8_t>(slot); break;                                       // 1 byte
      case 2: args[n] = static_cast<uintptr_t>(static_cast<intptr_t>(static_cast<int16_t>(slot))); break;  // short
      default: args[n] = slot; break;                                                            // long or pointer
    }
    ++n;
  }
  if (static_cast<size_t>(n) * sizeof(uintptr_t) != params->paramSize) return paramErr;
  const ComponentResult r = CallWithSlots(func, storage, args, n);
  return ((procInfo >> 4) & 3u) == 0 ? noErr : r;
}

ComponentResult CallComponentFunctionWithStorage(Handle storage, ComponentParameters* params,
                                                 ComponentRoutineUPP func) {
  if (params == nullptr || func == nullptr) return paramErr;
  const int n = params->paramSize / static_cast<int>(sizeof(uintptr_t));
  return CallWithSlots(reinterpret_cast<ProcPtr>(func), storage, params->params, n);
}

OSErr GetComponentResource(Component c, OSType resType, SInt16 resID, Handle* theResource) {
  if (theResource == nullptr) return paramErr;
  *theResource = nullptr;
  ComponentRecord* rec = AsComponent(c);
  if (rec == nullptr) return invalidComponentID;
  if (rec->resourcePath.empty()) return resFNotFound;
  const SInt16 saved = CurResFile();
  const SInt16 ref = HostOpenComponentResources(rec->resourcePath);
  if (ref < 0) return ResError() ? ResError() : static_cast<OSErr>(resFNotFound);
  OSErr err = noErr;
  Handle h = Get1Resource(resType, resID);
  if (h == nullptr) {
    err = ResError() ? ResError() : static_cast<OSErr>(resNotFound);
  } else {
    const Size size = GetHandleSize(h);
    Handle copy = NewHandle(size);
    if (copy == nullptr) {
      err = memFullErr;
    } else {
      std::memcpy(*copy, *h, static_cast<size_t>(size));
      *theResource = copy;
    }
  }
  CloseResFile(ref);
  if (saved > 0) UseResFile(saved);
  return err;
}

SInt16 OpenComponentResFile(Component c) {
  ComponentRecord* rec = AsComponent(c);
  if (rec == nullptr || rec->resourcePath.empty()) return -1;
  return HostOpenComponentResources(rec->resourcePath);
}

OSErr CloseComponentResFile(SInt16 refNum) {
  if (refNum <= 0) return paramErr;
  CloseResFile(refNum);
  return ResError();
}

}  // extern "C"
