// Counting semaphore with initial count 0 for the worker pools' hand-off.
// One implementation per platform.
#pragma once

#include <cstdint>

#if defined(_WIN32)
typedef void* ORXSemaphoreHandle;
#else
#include <semaphore.h>
typedef sem_t* ORXSemaphoreHandle;
#endif

class ORXSemaphore {
 public:
  ORXSemaphore();
  ~ORXSemaphore();
  ORXSemaphore(const ORXSemaphore&) = delete;
  ORXSemaphore& operator=(const ORXSemaphore&) = delete;

  // False when the system object could not be created.
  bool IsValid() const { return m_handle != nullptr; }
  void Wait();
  // Takes one count if the count is positive; never blocks.
  bool TryWait();
  void Post();
  // Leaves the system object open when this semaphore is destroyed: for a
  // semaphore that a thread still running may touch at process exit (closing
  // it would pull the memory from under that thread). The handle stays
  // usable; the system reclaims the object with the process.
  void KeepOpenAtExit() { m_keepOpen = true; }

 private:
  ORXSemaphoreHandle m_handle = nullptr;
  bool m_keepOpen = false;
};
