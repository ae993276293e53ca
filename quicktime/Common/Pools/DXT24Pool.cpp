// The encode worker pool: up to 32 records, each with a start and a done
// semaphore. The calling thread fills a record and posts start; the worker
// compresses its band of block rows (DXT24 or standard DXT blocks, as the
// record says) or runs its share of a job list, and posts done.
#include "quicktime/Common/Pools/DXT24Pool.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <thread>

#include "core/Blocks/DXT24.h"
#include "core/Blocks/DXTStandard.h"
#include "core/Format/ORXFormat.h"
#include "core/Frames/LZFChunks.h"
#include "core/Platform/ORXThread.h"

ThreadInfo g_threadInfos[kMaxDXT24Threads];
int32_t g_numDXT24Threads = 0;
ORXThreadId g_threadIds[kMaxDXT24Threads];
bool threadsReady = false;

namespace {

// Admits one frame at a time into the pool: the records are process-wide.
// A binary semaphore, posted once at load; created after the records.
struct PoolGate {
  PoolGate() { sem.Post(); }
  ORXSemaphore sem;
};
PoolGate g_poolGate;

// A worker waits for its next hand-off by polling a little (yielding the
// processor) before it blocks: a frame's stages (bands, then LZF chunks)
// follow each other within microseconds, and a processor that went idle in
// a blocking wait can take far longer than that to be woken (notably in
// virtual machines). Bounded, so a worker between frames soon blocks and
// costs nothing. The calling thread blocks at once: it has nothing to do
// while the workers, one per thread asked for, need every processor.
constexpr auto kPollBeforeBlocking = std::chrono::microseconds(300);

void AwaitHandOff(ORXSemaphore& sem) {
  const auto until = std::chrono::steady_clock::now() + kPollBeforeBlocking;
  do {
    if (sem.TryWait()) return;
    std::this_thread::yield();
  } while (std::chrono::steady_clock::now() < until);
  sem.Wait();
}

}  // namespace

ThreadInfo::ThreadInfo() = default;
// Members are destroyed in reverse order: done is closed before start. A
// record whose worker is alive keeps its semaphores open: at process exit the
// worker may still be returning from its last post or entering its next wait.
ThreadInfo::~ThreadInfo() {
  if (workerStarted) {
    done.KeepOpenAtExit();
    start.KeepOpenAtExit();
  }
}

void ThreadInfo::RunThread() {
  while (!stop) {
    AwaitHandOff(start);
    if (job != nullptr) {
      for (int32_t k = jobFirst; k < jobCount; k += jobStep) job(jobContext, k);
    } else {
      routine(reinterpret_cast<unsigned char*>(dest), src, width, height, rowBytes, alpha ? 1 : 0);
    }
    done.Post();
  }
}

void* compressThread(void* record) {
  static_cast<ThreadInfo*>(record)->RunThread();
  return nullptr;
}

void SetupThreads(int count) {
  count = std::clamp(count, 1, kMaxDXT24Threads);
  int started = 0;
  while (started < count && g_threadInfos[started].IsUsable() &&
         ORXStartThread(compressThread, &g_threadInfos[started], &g_threadIds[started])) {
    g_threadInfos[started].workerStarted = true;
    ++started;
  }
  g_numDXT24Threads = started;
}

int DXT24BandRows(int height, int n, int* rows) { return ORXEncodeBandRows(height, n, rows); }

namespace {

// Takes the pool for one frame, starting it on first use. Returns its worker
// count, or 0 (gate not taken) when the caller must work alone.
int EnterPool(int numThreads) {
  if (numThreads <= 1 || !g_poolGate.sem.IsValid()) return 0;
  g_poolGate.sem.Wait();
  if (!threadsReady) {
    threadsReady = true;
    SetupThreads(numThreads);
  }
  if (g_numDXT24Threads < 1) {
    // No worker could be started: the caller works alone rather than wait forever.
    g_poolGate.sem.Post();
    return 0;
  }
  return g_numDXT24Threads;
}

void RunPosted(int n) {
  for (int i = 0; i < n; ++i) g_threadInfos[i].start.Post();
  for (int i = 0; i < n; ++i) g_threadInfos[i].done.Wait();
  g_poolGate.sem.Post();
}

// Runs routine over the image in bands of whole block rows, blockBytes a
// block of output.
void CompressInBands(int numThreads, BandRoutine routine, int blockBytes, unsigned char* dest,
                     const unsigned char* src, int width, int height, int rowBytes, int alpha) {
  const int n = EnterPool(numThreads);
  if (n == 0) {
    routine(dest, src, width, height, rowBytes, alpha);
    return;
  }

  if (rowBytes == 0) rowBytes = 4 * width;
  const int across = (width + 3) / 4;
  int rows[kMaxDXT24Threads];
  const int band = DXT24BandRows(height, n, rows);

  for (int i = 0; i < n; ++i) {
    ThreadInfo& t = g_threadInfos[i];
    const ptrdiff_t destOffset = static_cast<ptrdiff_t>(i) * (band / 4) * across * blockBytes;
    const ptrdiff_t srcOffset = static_cast<ptrdiff_t>(i) * band * rowBytes;
    t.job = nullptr;
    t.routine = routine;
    t.dest = reinterpret_cast<uint16_t*>(dest + (rows[i] > 0 ? destOffset : 0));
    t.src = src + (rows[i] > 0 ? srcOffset : 0);
    t.width = width;
    t.height = rows[i];
    t.rowBytes = rowBytes;
    t.alpha = alpha != 0;
  }
  RunPosted(n);
}

}  // namespace

void stbCompressARGB32_to24_threaded(int numThreads, unsigned char* dest, const unsigned char* src,
                                     int width, int height, int rowBytes, int alpha) {
  CompressInBands(numThreads, _stbCompressARGB32_to24, ORXBytesPerBlock(alpha != 0, true), dest, src, width, height, rowBytes,
                  alpha);
}

void stbCompressARGB32_threaded(int numThreads, unsigned char* dest, const unsigned char* src, int width,
                                int height, int rowBytes, int alpha) {
  CompressInBands(numThreads, stbCompressARGB32, ORXBytesPerBlock(alpha != 0, false), dest, src, width, height, rowBytes, alpha);
}

void ORXRunEncodeJobs(int numThreads, int jobs, ORXPoolJob job, void* context) {
  if (jobs <= 0) return;
  const int workers = jobs > 1 ? EnterPool(numThreads) : 0;
  const int n = workers < jobs ? workers : jobs;  // workers past the last job stay asleep
  if (n == 0) {
    for (int k = 0; k < jobs; ++k) job(context, k);
    return;
  }
  for (int i = 0; i < n; ++i) {
    ThreadInfo& t = g_threadInfos[i];
    t.job = job;
    t.jobContext = context;
    t.jobFirst = i;
    t.jobStep = n;
    t.jobCount = jobs;
  }
  RunPosted(n);
}

namespace {

void RunOnEncodePool(void* self, int count, ORXJob job, void* context) {
  ORXRunEncodeJobs(static_cast<int>(reinterpret_cast<intptr_t>(self)), count, job, context);
}

}  // namespace

ORXJobRunner ORXEncodePoolRunner(int numThreads) {
  ORXJobRunner r;
  r.threads = std::clamp(numThreads, 1, kMaxDXT24Threads);
  r.run = r.threads > 1 ? RunOnEncodePool : nullptr;
  // The thread count rides in self: the runner refers to nothing that could end.
  r.self = reinterpret_cast<void*>(static_cast<intptr_t>(r.threads));
  return r;
}

