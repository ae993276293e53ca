// Memory Manager. A Handle points at its block's master pointer; the block
// record keeps the size and a tag that lets DisposeHandle and GetHandleSize
// refuse pointers that are not handles.
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "MacMemory.h"

namespace {

constexpr uint32_t kHandleTag = 0x48444C45;  // "HDLE"
constexpr uint32_t kPtrTag = 0x50545221;     // "PTR!"

struct HandleBlock {
  char* master;  // the Handle points here
  Size size;
  uint32_t tag;
};

struct PtrHeader {
  Size size;
  uint32_t tag;
  uint32_t pad[2];  // keeps the block 16-byte aligned
};

thread_local OSErr t_memError = noErr;

HandleBlock* BlockOf(Handle h) {
  if (h == nullptr) return nullptr;
  auto* b = reinterpret_cast<HandleBlock*>(reinterpret_cast<char*>(h) - offsetof(HandleBlock, master));
  return b->tag == kHandleTag ? b : nullptr;
}

Handle MakeHandle(Size byteCount, bool clear) {
  if (byteCount < 0) {
    t_memError = paramErr;
    return nullptr;
  }
  auto* b = static_cast<HandleBlock*>(std::malloc(sizeof(HandleBlock)));
  // A zero-size handle still gets a (1-byte) block so that *h is never null.
  char* data = static_cast<char*>(clear ? std::calloc(byteCount ? byteCount : 1, 1) : std::malloc(byteCount ? byteCount : 1));
  if (b == nullptr || data == nullptr) {
    std::free(b);
    std::free(data);
    t_memError = memFullErr;
    return nullptr;
  }
  b->master = data;
  b->size = byteCount;
  b->tag = kHandleTag;
  t_memError = noErr;
  return &b->master;
}

}  // namespace

extern "C" {

Handle NewHandle(Size byteCount) { return MakeHandle(byteCount, false); }
Handle NewHandleClear(Size byteCount) { return MakeHandle(byteCount, true); }

void DisposeHandle(Handle h) {
  HandleBlock* b = BlockOf(h);
  if (b == nullptr) {
    t_memError = h == nullptr ? noErr : nilHandleErr;
    return;
  }
  std::free(b->master);
  b->tag = 0;
  std::free(b);
  t_memError = noErr;
}

Size GetHandleSize(Handle h) {
  HandleBlock* b = BlockOf(h);
  if (b == nullptr) {
    t_memError = nilHandleErr;
    return 0;
  }
  t_memError = noErr;
  return b->size;
}

void SetHandleSize(Handle h, Size newSize) {
  HandleBlock* b = BlockOf(h);
  if (b == nullptr) {
    t_memError = nilHandleErr;
    return;
  }
  if (newSize < 0) {
    t_memError = paramErr;
    return;
  }
  char* data = static_cast<char*>(std::realloc(b->master, newSize ? newSize : 1));
  if (data == nullptr) {
    t_memError = memFullErr;  // the block keeps its old size and contents
    return;
  }
  if (newSize > b->size) std::memset(data + b->size, 0, static_cast<size_t>(newSize - b->size));
  b->master = data;
  b->size = newSize;
  t_memError = noErr;
}

void HLock(Handle h) { t_memError = BlockOf(h) ? noErr : nilHandleErr; }
void HUnlock(Handle h) { t_memError = BlockOf(h) ? noErr : nilHandleErr; }

OSErr MemError(void) { return t_memError; }

static Ptr MakePtr(Size byteCount, bool clear) {
  if (byteCount < 0) {
    t_memError = paramErr;
    return nullptr;
  }
  const size_t total = sizeof(PtrHeader) + static_cast<size_t>(byteCount);
  auto* p = static_cast<PtrHeader*>(clear ? std::calloc(total, 1) : std::malloc(total));
  if (p == nullptr) {
    t_memError = memFullErr;
    return nullptr;
  }
  p->size = byteCount;
  p->tag = kPtrTag;
  t_memError = noErr;
  return reinterpret_cast<Ptr>(p + 1);
}

Ptr NewPtr(Size byteCount) { return MakePtr(byteCount, false); }
Ptr NewPtrClear(Size byteCount) { return MakePtr(byteCount, true); }

void DisposePtr(Ptr p) {
  if (p == nullptr) return;
  PtrHeader* h = reinterpret_cast<PtrHeader*>(p) - 1;
  if (h->tag != kPtrTag) {
    t_memError = paramErr;
    return;
  }
  h->tag = 0;
  std::free(h);
  t_memError = noErr;
}

Size GetPtrSize(Ptr p) {
  if (p == nullptr) return 0;
  const PtrHeader* h = reinterpret_cast<PtrHeader*>(p) - 1;
  return h->tag == kPtrTag ? h->size : 0;
}

void BlockMoveData(const void* src, void* dest, Size n) {
  if (n > 0) std::memmove(dest, src, static_cast<size_t>(n));
}

}  // extern "C"
