#include "ORXThread.h"

bool ORXStartThread(ORXThreadEntry entry, void* arg, ORXThreadId* id) {
  return pthread_create(id, nullptr, entry, arg) == 0;
}
