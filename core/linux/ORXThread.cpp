#include "core/Platform/ORXThread.h"

#include <sched.h>
#include <unistd.h>

bool ORXStartThread(ORXThreadEntry entry, void* arg, ORXThreadId* id) {
  return pthread_create(id, nullptr, entry, arg) == 0;
}

int ORXProcessorCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}
