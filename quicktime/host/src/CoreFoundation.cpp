// CoreFoundation objects: reference-counted numbers, strings, mutable arrays
// and dictionaries. Containers call their callbacks on insert and removal.
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "quicktime/host/src/CFObject.h"

struct __CFAllocator {
  int unused;
};

namespace {

std::atomic<CFIndex> g_live{0};

struct HostString {
  HostCFObject base;
  std::string text;
};
struct HostNumber {
  HostCFObject base;
  bool isFloat;
  int64_t i;
  double d;
};
struct HostArray {
  HostCFObject base;
  CFArrayCallBacks callbacks;
  std::vector<const void*> values;
};
struct HostDictionary {
  HostCFObject base;
  CFDictionaryKeyCallBacks keyCallbacks;
  CFDictionaryValueCallBacks valueCallbacks;
  std::vector<std::pair<const void*, const void*>> pairs;
};

HostCFObject* Obj(CFTypeRef cf) {
  auto* o = static_cast<HostCFObject*>(const_cast<void*>(cf));
  return (o != nullptr && o->magic == kHostCFMagic) ? o : nullptr;
}

const void* RetainCB(CFAllocatorRef, const void* v) { return CFRetain(v); }
void ReleaseCB(CFAllocatorRef, const void* v) { CFRelease(v); }
Boolean EqualCB(const void* a, const void* b) { return CFEqual(a, b); }
unsigned long HashCB(const void* v) {
  HostCFObject* o = Obj(v);
  if (o == nullptr) return reinterpret_cast<uintptr_t>(v);
  if (o->type == kHostCFStringType) return std::hash<std::string>()(reinterpret_cast<HostString*>(o)->text);
  return 0;
}

bool KeysEqual(const CFDictionaryKeyCallBacks& cb, const void* a, const void* b) {
  return cb.equal ? cb.equal(a, b) != 0 : a == b;
}

std::mutex g_internLock;
std::map<std::string, HostString*>* g_interned = nullptr;  // never freed: constants live for the process

}  // namespace

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFArrayCallBacks kCFTypeArrayCallBacks = {0, RetainCB, ReleaseCB, nullptr, EqualCB};
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {0, RetainCB, ReleaseCB, nullptr, EqualCB, HashCB};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {0, RetainCB, ReleaseCB, nullptr, EqualCB};

void HostCFInit(HostCFObject* o, CFTypeID type, bool constant) {
  o->magic = kHostCFMagic;
  o->type = type;
  o->refs.store(1);
  o->constant = constant;
  if (!constant) ++g_live;
}

extern "C" {

CFTypeRef CFRetain(CFTypeRef cf) {
  if (HostCFObject* o = Obj(cf)) {
    if (!o->constant) ++o->refs;
  }
  return cf;
}

void CFRelease(CFTypeRef cf) {
  HostCFObject* o = Obj(cf);
  if (o == nullptr || o->constant) return;
  if (--o->refs != 0) return;
  --g_live;
  o->magic = 0;
  switch (o->type) {
    case kHostCFStringType: delete reinterpret_cast<HostString*>(o); break;
    case kHostCFNumberType: delete reinterpret_cast<HostNumber*>(o); break;
    case kHostCFArrayType: {
      auto* a = reinterpret_cast<HostArray*>(o);
      if (a->callbacks.release)
        for (const void* v : a->values) a->callbacks.release(nullptr, v);
      delete a;
      break;
    }
    case kHostCFDictionaryType: {
      auto* d = reinterpret_cast<HostDictionary*>(o);
      for (auto& [k, v] : d->pairs) {
        if (d->keyCallbacks.release) d->keyCallbacks.release(nullptr, k);
        if (d->valueCallbacks.release) d->valueCallbacks.release(nullptr, v);
      }
      delete d;
      break;
    }
    case kHostCVPixelBufferType: HostCVPixelBufferDestroy(o); break;
    default: break;
  }
}

CFIndex CFGetRetainCount(CFTypeRef cf) {
  HostCFObject* o = Obj(cf);
  return o == nullptr ? 0 : o->refs.load();
}

CFTypeID CFGetTypeID(CFTypeRef cf) {
  HostCFObject* o = Obj(cf);
  return o == nullptr ? 0 : o->type;
}
CFTypeID CFStringGetTypeID(void) { return kHostCFStringType; }
CFTypeID CFNumberGetTypeID(void) { return kHostCFNumberType; }
CFTypeID CFArrayGetTypeID(void) { return kHostCFArrayType; }
CFTypeID CFDictionaryGetTypeID(void) { return kHostCFDictionaryType; }

Boolean CFEqual(CFTypeRef a, CFTypeRef b) {
  if (a == b) return TRUE;
  HostCFObject* x = Obj(a);
  HostCFObject* y = Obj(b);
  if (x == nullptr || y == nullptr || x->type != y->type) return FALSE;
  if (x->type == kHostCFStringType)
    return reinterpret_cast<HostString*>(x)->text == reinterpret_cast<HostString*>(y)->text;
  if (x->type == kHostCFNumberType) {
    auto* m = reinterpret_cast<HostNumber*>(x);
    auto* n = reinterpret_cast<HostNumber*>(y);
    if (m->isFloat || n->isFloat) return (m->isFloat ? m->d : static_cast<double>(m->i)) == (n->isFloat ? n->d : static_cast<double>(n->i));
    return m->i == n->i;
  }
  return FALSE;
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void* valuePtr) {
  if (valuePtr == nullptr) return nullptr;
  auto* n = new (std::nothrow) HostNumber;
  if (n == nullptr) return nullptr;
  n->isFloat = false;
  n->i = 0;
  n->d = 0;
  switch (theType) {
    case kCFNumberSInt8Type: n->i = *static_cast<const int8_t*>(valuePtr); break;
    case kCFNumberSInt16Type: n->i = *static_cast<const int16_t*>(valuePtr); break;
    case kCFNumberSInt32Type:
    case kCFNumberIntType: n->i = *static_cast<const int32_t*>(valuePtr); break;
    case kCFNumberSInt64Type: n->i = *static_cast<const int64_t*>(valuePtr); break;
    case kCFNumberFloat64Type:
      n->isFloat = true;
      n->d = *static_cast<const double*>(valuePtr);
      break;
    default: delete n; return nullptr;
  }
  HostCFInit(&n->base, kHostCFNumberType, false);
  return reinterpret_cast<CFNumberRef>(n);
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr) {
  HostCFObject* o = Obj(number);
  if (o == nullptr || o->type != kHostCFNumberType || valuePtr == nullptr) return FALSE;
  auto* n = reinterpret_cast<HostNumber*>(o);
  if (theType == kCFNumberFloat64Type) {
    *static_cast<double*>(valuePtr) = n->isFloat ? n->d : static_cast<double>(n->i);
    return TRUE;
  }
  if (n->isFloat) return FALSE;
  const int64_t v = n->i;
  switch (theType) {
    case kCFNumberSInt8Type: *static_cast<int8_t*>(valuePtr) = static_cast<int8_t>(v); return v == static_cast<int8_t>(v);
    case kCFNumberSInt16Type: *static_cast<int16_t*>(valuePtr) = static_cast<int16_t>(v); return v == static_cast<int16_t>(v);
    case kCFNumberSInt32Type:
    case kCFNumberIntType: *static_cast<int32_t*>(valuePtr) = static_cast<int32_t>(v); return v == static_cast<int32_t>(v);
    case kCFNumberSInt64Type: *static_cast<int64_t*>(valuePtr) = v; return TRUE;
    default: return FALSE;
  }
}

CFStringRef __CFStringMakeConstantString(const char* cStr) {
  if (cStr == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(g_internLock);
  if (g_interned == nullptr) g_interned = new (std::nothrow) std::map<std::string, HostString*>;
  if (g_interned == nullptr) return nullptr;
  try {
    auto it = g_interned->find(cStr);
    if (it != g_interned->end()) return reinterpret_cast<CFStringRef>(it->second);
    auto* s = new HostString;
    s->text = cStr;
    HostCFInit(&s->base, kHostCFStringType, true);
    (*g_interned)[cStr] = s;
    return reinterpret_cast<CFStringRef>(s);
  } catch (...) {
    return nullptr;
  }
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* cStr, CFStringEncoding) {
  if (cStr == nullptr) return nullptr;
  auto* s = new (std::nothrow) HostString;
  if (s == nullptr) return nullptr;
  try {
    s->text = cStr;
  } catch (...) {
    delete s;
    return nullptr;
  }
  HostCFInit(&s->base, kHostCFStringType, false);
  return reinterpret_cast<CFStringRef>(s);
}

const char* CFStringGetCStringPtr(CFStringRef theString, CFStringEncoding) {
  HostCFObject* o = Obj(theString);
  if (o == nullptr || o->type != kHostCFStringType) return nullptr;
  return reinterpret_cast<HostString*>(o)->text.c_str();
}

CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef, CFIndex, const CFArrayCallBacks* callBacks) {
  auto* a = new (std::nothrow) HostArray;
  if (a == nullptr) return nullptr;
  a->callbacks = callBacks ? *callBacks : CFArrayCallBacks{0, nullptr, nullptr, nullptr, nullptr};
  HostCFInit(&a->base, kHostCFArrayType, false);
  return reinterpret_cast<CFMutableArrayRef>(a);
}

void CFArrayAppendValue(CFMutableArrayRef theArray, const void* value) {
  HostCFObject* o = Obj(theArray);
  if (o == nullptr || o->type != kHostCFArrayType) return;
  auto* a = reinterpret_cast<HostArray*>(o);
  try {
    a->values.push_back(value);
  } catch (...) {
    return;
  }
  if (a->callbacks.retain) a->callbacks.retain(nullptr, value);
}

CFIndex CFArrayGetCount(CFArrayRef theArray) {
  HostCFObject* o = Obj(theArray);
  if (o == nullptr || o->type != kHostCFArrayType) return 0;
  return static_cast<CFIndex>(reinterpret_cast<HostArray*>(o)->values.size());
}

const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) {
  HostCFObject* o = Obj(theArray);
  if (o == nullptr || o->type != kHostCFArrayType) return nullptr;
  auto* a = reinterpret_cast<HostArray*>(o);
  if (idx < 0 || static_cast<size_t>(idx) >= a->values.size()) return nullptr;
  return a->values[static_cast<size_t>(idx)];
}

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef, CFIndex, const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks) {
  auto* d = new (std::nothrow) HostDictionary;
  if (d == nullptr) return nullptr;
  d->keyCallbacks = keyCallBacks ? *keyCallBacks : CFDictionaryKeyCallBacks{0, nullptr, nullptr, nullptr, nullptr, nullptr};
  d->valueCallbacks = valueCallBacks ? *valueCallBacks : CFDictionaryValueCallBacks{0, nullptr, nullptr, nullptr, nullptr};
  HostCFInit(&d->base, kHostCFDictionaryType, false);
  return reinterpret_cast<CFMutableDictionaryRef>(d);
}

static HostDictionary* Dict(CFTypeRef cf) {
  HostCFObject* o = Obj(cf);
  return (o != nullptr && o->type == kHostCFDictionaryType) ? reinterpret_cast<HostDictionary*>(o) : nullptr;
}

static void PutValue(CFMutableDictionaryRef theDict, const void* key, const void* value, bool replace) {
  HostDictionary* d = Dict(theDict);
  if (d == nullptr) return;
  for (auto& [k, v] : d->pairs) {
    if (!KeysEqual(d->keyCallbacks, k, key)) continue;
    if (!replace) return;
    if (d->valueCallbacks.retain) d->valueCallbacks.retain(nullptr, value);
    if (d->valueCallbacks.release) d->valueCallbacks.release(nullptr, v);
    v = value;
    return;
  }
  try {
    d->pairs.emplace_back(key, value);
  } catch (...) {
    return;
  }
  if (d->keyCallbacks.retain) d->keyCallbacks.retain(nullptr, key);
  if (d->valueCallbacks.retain) d->valueCallbacks.retain(nullptr, value);
}

void CFDictionaryAddValue(CFMutableDictionaryRef theDict, const void* key, const void* value) {
  PutValue(theDict, key, value, false);
}

void CFDictionarySetValue(CFMutableDictionaryRef theDict, const void* key, const void* value) {
  PutValue(theDict, key, value, true);
}

const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key) {
  HostDictionary* d = Dict(theDict);
  if (d == nullptr) return nullptr;
  for (auto& [k, v] : d->pairs)
    if (KeysEqual(d->keyCallbacks, k, key)) return v;
  return nullptr;
}

CFIndex CFDictionaryGetCount(CFDictionaryRef theDict) {
  HostDictionary* d = Dict(theDict);
  return d == nullptr ? 0 : static_cast<CFIndex>(d->pairs.size());
}

CFIndex HostCFLiveObjectCount(void) { return g_live.load(); }

}  // extern "C"
