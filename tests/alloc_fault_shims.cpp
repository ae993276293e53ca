// The test program's own allocator entry points: they forward to the C
// library's and, once armed, make the n-th allocation attempt fail. The host
// library and the loaded component resolve malloc to these too, so every
// allocation of a component sequence can be made to fail in turn. Live
// blocks are counted for leak checks.
#include "alloc_fault_shims.h"

#include <atomic>
#include <cerrno>
#include <cstddef>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* __libc_memalign(size_t, size_t);
}

namespace {
std::atomic<long> g_attempts{0};
std::atomic<long> g_failAt{0};  // 0: never fail
std::atomic<long> g_live{0};
std::atomic<bool> g_counting{false};

bool ShouldFail() {
  if (!g_counting.load(std::memory_order_relaxed)) return false;
  const long n = g_attempts.fetch_add(1, std::memory_order_relaxed) + 1;
  return n == g_failAt.load(std::memory_order_relaxed);
}
}  // namespace

void AllocFaultArm(long failAt) {
  g_attempts = 0;
  g_failAt = failAt;
  g_counting = true;
}

long AllocFaultDisarm() {
  g_counting = false;
  g_failAt = 0;
  return g_attempts;
}

long AllocFaultLiveBlocks() { return g_live; }

extern "C" {

void* malloc(size_t n) {
  if (ShouldFail()) return nullptr;
  void* p = __libc_malloc(n);
  if (p) ++g_live;
  return p;
}

void* calloc(size_t count, size_t n) {
  if (ShouldFail()) return nullptr;
  void* p = __libc_calloc(count, n);
  if (p) ++g_live;
  return p;
}

void* realloc(void* old, size_t n) {
  if (old == nullptr) return malloc(n);
  if (n == 0) {
    free(old);
    return nullptr;
  }
  if (ShouldFail()) return nullptr;  // the old block stays valid
  return __libc_realloc(old, n);
}

void free(void* p) {
  if (p) --g_live;
  __libc_free(p);
}

void* memalign(size_t alignment, size_t n) {
  if (ShouldFail()) return nullptr;
  void* p = __libc_memalign(alignment, n);
  if (p) ++g_live;
  return p;
}

void* aligned_alloc(size_t alignment, size_t n) { return memalign(alignment, n); }

int posix_memalign(void** out, size_t alignment, size_t n) {
  void* p = memalign(alignment, n);
  if (p == nullptr) return ENOMEM;
  *out = p;
  return 0;
}

}  // extern "C"
