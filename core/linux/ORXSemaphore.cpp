// Linux: named POSIX semaphores, "orxstart_<pid>_<n>". Each name is unlinked
// as soon as the semaphore is open, so nothing is left in /dev/shm, even
// when the process is killed.
#include "core/Platform/ORXSemaphore.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace {
std::atomic<int> semaphoreCount{0};
}

ORXSemaphore::ORXSemaphore() {
  const int n = semaphoreCount.fetch_add(1) + 1;
  char name[1024];
  std::snprintf(name, sizeof name, "orxstart_%d_%d", static_cast<int>(getpid()), n);
  sem_unlink(name);  // a leftover of the same name from an earlier process
  sem_t* s = sem_open(name, O_CREAT | O_EXCL, 0777, 0);
  if (s == SEM_FAILED) return;  // IsValid() is false; the pool does without it
  sem_unlink(name);
  m_handle = s;
}

ORXSemaphore::~ORXSemaphore() {
  if (m_keepOpen) return;
  if (m_handle != nullptr) sem_close(m_handle);
  m_handle = nullptr;
}

void ORXSemaphore::Wait() {
  if (m_handle == nullptr) return;
  while (sem_wait(m_handle) != 0 && errno == EINTR) {
  }
}

bool ORXSemaphore::TryWait() {
  if (m_handle == nullptr) return false;
  int r;
  while ((r = sem_trywait(m_handle)) != 0 && errno == EINTR) {
  }
  return r == 0;
}

void ORXSemaphore::Post() {
  if (m_handle != nullptr) sem_post(m_handle);
}
