// Windows: worker threads from CreateThread; the handle is closed at once
// (the workers are never joined).
#include "core/Platform/ORXThread.h"

#include <windows.h>

namespace {

struct Start {
  ORXThreadEntry entry;
  void* arg;
};

DWORD WINAPI Trampoline(LPVOID p) {
  const Start s = *static_cast<Start*>(p);
  HeapFree(GetProcessHeap(), 0, p);
  s.entry(s.arg);
  return 0;
}

}  // namespace

bool ORXStartThread(ORXThreadEntry entry, void* arg, ORXThreadId* id) {
  auto* s = static_cast<Start*>(HeapAlloc(GetProcessHeap(), 0, sizeof(Start)));
  if (s == nullptr) return false;
  s->entry = entry;
  s->arg = arg;
  DWORD threadId = 0;
  HANDLE h = CreateThread(nullptr, 0, Trampoline, s, 0, &threadId);
  if (h == nullptr) {
    HeapFree(GetProcessHeap(), 0, s);
    return false;
  }
  if (id) *id = reinterpret_cast<ORXThreadId>(static_cast<uintptr_t>(threadId));
  CloseHandle(h);
  return true;
}

int ORXProcessorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}
