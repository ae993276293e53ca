// Windows: an unnamed counting semaphore. A wait that does not succeed ends
// the process (the pool cannot go on without its hand-off); the messages go
// to the debugger output.
#include "core/Platform/ORXSemaphore.h"

#include <windows.h>

#include <cstdlib>

ORXSemaphore::ORXSemaphore() { m_handle = CreateSemaphoreA(nullptr, 0, 65535, nullptr); }

ORXSemaphore::~ORXSemaphore() {
  if (m_keepOpen) return;
  if (m_handle != nullptr) CloseHandle(m_handle);
  m_handle = nullptr;
}

void ORXSemaphore::Wait() {
  const DWORD r = WaitForSingleObject(m_handle, INFINITE);
  if (r == WAIT_OBJECT_0) return;
  OutputDebugStringA(r == WAIT_TIMEOUT ? "Semaphore::Wait() WaitForSingleObject timed out"
                                       : "Semaphore::Wait() - unknown WaitForSingleObject result");
  std::exit(-1);
}

bool ORXSemaphore::TryWait() {
  return m_handle != nullptr && WaitForSingleObject(m_handle, 0) == WAIT_OBJECT_0;
}

void ORXSemaphore::Post() {
  if (!ReleaseSemaphore(m_handle, 1, nullptr)) OutputDebugStringA("Semaphore couldn't be posted?");
}
