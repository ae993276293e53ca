// Windows: physical processor cores from GetLogicalProcessorInformation,
// looked up at run time in kernel32 (it is missing on the oldest systems,
// which then count 0 cores).
#include <windows.h>

#include <cstdlib>

#include "core/Platform/ProcessorCores.h"

int QueryProcessorCoreCount() {
  typedef BOOL(WINAPI * InfoProc)(PSYSTEM_LOGICAL_PROCESSOR_INFORMATION, PDWORD);
  HMODULE kernel = GetModuleHandleA("kernel32");
  if (kernel == nullptr) return 0;
  auto info = reinterpret_cast<InfoProc>(reinterpret_cast<void*>(GetProcAddress(kernel, "GetLogicalProcessorInformation")));
  if (info == nullptr) return 0;
  DWORD length = 0;
  SYSTEM_LOGICAL_PROCESSOR_INFORMATION* buffer = nullptr;
  while (!info(buffer, &length)) {
    std::free(buffer);
    buffer = nullptr;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return 0;
    buffer = static_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION*>(std::malloc(length));
    if (buffer == nullptr) return 0;
  }
  int cores = 0;
  const DWORD count = length / sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION);
  for (DWORD i = 0; i < count; ++i)
    if (buffer[i].Relationship == RelationProcessorCore) ++cores;
  std::free(buffer);
  return cores;
}
