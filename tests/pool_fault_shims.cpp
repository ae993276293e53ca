// Fault injection for the pool suite: this executable's own sem_open and
// pthread_create take precedence over the C library's, so a test can make
// chosen semaphore or thread creations fail in a child process.
//   ORX_TEST_FAIL_SEM_OPEN=a-b     calls a..b (1-based) of sem_open fail
//   ORX_TEST_FAIL_THREAD_FROM=n    the n-th and later pthread_create calls fail
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <semaphore.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<int> g_semCalls{0};
std::atomic<int> g_threadCalls{0};

bool InRange(const char* spec, int n) {
  if (spec == nullptr) return false;
  int a = 0, b = 0;
  if (std::sscanf(spec, "%d-%d", &a, &b) != 2) return false;
  return n >= a && n <= b;
}

}  // namespace

extern "C" sem_t* sem_open(const char* name, int oflag, ...) {
  using Real = sem_t* (*)(const char*, int, ...);
  static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "sem_open"));
  va_list ap;
  va_start(ap, oflag);
  const mode_t mode = (oflag & O_CREAT) ? static_cast<mode_t>(va_arg(ap, unsigned)) : 0;
  const unsigned value = (oflag & O_CREAT) ? va_arg(ap, unsigned) : 0;
  va_end(ap);
  if (InRange(std::getenv("ORX_TEST_FAIL_SEM_OPEN"), ++g_semCalls)) {
    errno = ENOSPC;
    return SEM_FAILED;
  }
  return (oflag & O_CREAT) ? real(name, oflag, mode, value) : real(name, oflag);
}

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg) {
  using Real = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "pthread_create"));
  const char* from = std::getenv("ORX_TEST_FAIL_THREAD_FROM");
  if (from != nullptr && ++g_threadCalls >= std::atoi(from)) return EAGAIN;
  return real(thread, attr, start, arg);
}
