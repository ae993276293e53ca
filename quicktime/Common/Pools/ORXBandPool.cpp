#include "quicktime/Common/Pools/ORXBandPool.h"

#include <mutex>
#include <new>

#include "core/Platform/ORXSemaphore.h"
#include "core/Platform/ORXThread.h"
#include "core/Utilities/ORXSwitches.h"

namespace {

constexpr int kMaxBands = 8;

struct Band {
  ORXSemaphore start;
  ORXSemaphore done;
  // Job indices first, first + step, ... below count.
  int first = 0;
  int count = 0;
  ORXJob each = nullptr;
  void* eachContext = nullptr;
  int step = 1;
};

struct BandPool {
  Band bands[kMaxBands - 1];
  ORXSemaphore gate;
  int workers = 0;
};

// Built once and never freed: its workers block in it until the process ends.
BandPool* g_decodePool = nullptr;
std::once_flag g_decodePoolOnce;

void* BandWorker(void* arg) {
  Band* band = static_cast<Band*>(arg);
  for (;;) {
    band->start.Wait();
    for (int k = band->first; k < band->count; k += band->step) band->each(band->eachContext, k);
    band->done.Post();
  }
  return nullptr;
}

// Starts up to one worker per processor beyond the first (at most 7). Without
// memory, semaphores or threads the pool is smaller or absent.
void StartPool() {
  const int processors = ORXProcessorCount();
  if (processors < 2) return;
  const int wanted = (processors < kMaxBands ? processors : kMaxBands) - 1;
  BandPool* pool = new (std::nothrow) BandPool;
  if (pool == nullptr) return;
  if (!pool->gate.IsValid()) {
    delete pool;
    return;
  }
  ORXThreadId id;
  while (pool->workers < wanted) {
    Band& b = pool->bands[pool->workers];
    if (!b.start.IsValid() || !b.done.IsValid() || !ORXStartThread(BandWorker, &b, &id)) break;
    ++pool->workers;
  }
  if (pool->workers == 0) {
    delete pool;
    return;
  }
  pool->gate.Post();
  g_decodePool = pool;
}

// ORX_DECODE_POOL=0 keeps every frame on its caller's thread: a host running
// one stream per processor gains nothing from bands and loses the hand-off.
bool PoolTurnedOff() { return !ORXSwitchOn(ORXSwitch::decodePool); }

void RunOnDecodePool(void* self, int count, ORXJob job, void* context) {
  BandPool* pool = static_cast<BandPool*>(self);
  if (!pool->gate.TryWait()) {
    for (int k = 0; k < count; ++k) job(context, k);
    return;
  }
  const int bands = pool->workers + 1 < count ? pool->workers + 1 : count;
  for (int i = 1; i < bands; ++i) {
    Band& b = pool->bands[i - 1];
    b.each = job;
    b.eachContext = context;
    b.first = i;
    b.step = bands;
    b.count = count;
    b.start.Post();
  }
  for (int k = 0; k < count; k += bands) job(context, k);
  for (int i = 1; i < bands; ++i) pool->bands[i - 1].done.Wait();
  pool->gate.Post();
}

}  // namespace

ORXJobRunner ORXDecodePoolRunner() {
  ORXJobRunner r;
  if (PoolTurnedOff()) return r;
  std::call_once(g_decodePoolOnce, StartPool);
  if (g_decodePool == nullptr) return r;
  r.run = RunOnDecodePool;
  r.self = g_decodePool;
  r.threads = g_decodePool->workers + 1;
  return r;
}
