// The encode worker pool: DXT24 and standard DXT1/DXT5 images compressed in
// bands of block rows, and a frame's LZF chunks packed, on up to 32 worker
// threads, one frame at a time. The compressor component hands it to the
// frame road as its job runner (ORXEncodePoolRunner).
#pragma once

#include <cstdint>

#include "core/Frames/ORXJobs.h"
#include "core/Platform/ORXSemaphore.h"

constexpr int kMaxDXT24Threads = kORXMaxThreads;

// A whole-image block routine with the image driver's arguments: the pool
// runs one on each band (_stbCompressARGB32_to24, or stbCompressARGB32 for
// standard DXT1/DXT5 blocks).
typedef void (*BandRoutine)(unsigned char* dest, const unsigned char* src, int width, int height,
                            int rowBytes, int alpha);

// One of a list of independent jobs (index 0 .. count - 1) of the job list
// described by context.
typedef ORXJob ORXPoolJob;

// One worker's record: the hand-off semaphores and its band of the image.
class ThreadInfo {
 public:
  ThreadInfo();
  ~ThreadInfo();
  ThreadInfo(const ThreadInfo&) = delete;
  ThreadInfo& operator=(const ThreadInfo&) = delete;

  // Worker loop: wait for a band, run the band's routine on it, report it done.
  void RunThread();
  // Both semaphores exist, so a worker may run on this record.
  bool IsUsable() const { return start.IsValid() && done.IsValid(); }

  ORXSemaphore start;
  ORXSemaphore done;
  bool stop = false;
  BandRoutine routine = nullptr;
  uint16_t* dest = nullptr;
  const unsigned char* src = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int32_t rowBytes = 0;
  bool alpha = false;
  // A job list instead of a band when job is set: indices jobFirst,
  // jobFirst + jobStep, ... below jobCount.
  ORXPoolJob job = nullptr;
  void* jobContext = nullptr;
  int32_t jobFirst = 0;
  int32_t jobStep = 1;
  int32_t jobCount = 0;
  // A worker thread runs on this record (it stays blocked in start.Wait()
  // until the process ends).
  bool workerStarted = false;
};

extern ThreadInfo g_threadInfos[kMaxDXT24Threads];
// Workers actually running (0 when none could be started).
extern int32_t g_numDXT24Threads;
extern bool threadsReady;

// Starts up to count (clamped to 1..32) workers. Stops at the first record
// without semaphores or the first thread that cannot be created, so the pool
// holds exactly the workers that run.
void SetupThreads(int count);

// Thread entry: runs the worker loop of the ThreadInfo it is given.
void* compressThread(void* record);

// Same as _stbCompressARGB32_to24, spread over the pool in bands of whole
// block rows. numThreads <= 1 compresses on the calling thread. The pool size
// is fixed by the first call with more than one thread. Calls from several
// threads are served one at a time.
void stbCompressARGB32_to24_threaded(int numThreads, unsigned char* dest, const unsigned char* src,
                                     int width, int height, int rowBytes, int alpha);

// Standard DXT1 (8 bytes a block) or DXT5 (16 with alpha) blocks of a whole
// image, spread over the same pool in the same bands, one frame at a time;
// the output equals one stbCompressARGB32 call. numThreads <= 1 compresses on
// the calling thread.
void stbCompressARGB32_threaded(int numThreads, unsigned char* dest, const unsigned char* src, int width,
                                int height, int rowBytes, int alpha);

// Runs job(context, i) for i in 0 .. jobs - 1 over the same pool, worker w
// taking w, w + n, w + 2n, ... of its n workers, and returns when all are
// done; numThreads <= 1 runs them in order on the calling thread. Whatever
// the thread count, each job runs exactly once.
void ORXRunEncodeJobs(int numThreads, int jobs, ORXPoolJob job, void* context);

// Rows of each worker for an image of height rows on n workers (the band
// rule of the pool, ORXEncodeBandRows); rows[i] for i < n. Returns the band
// height.
int DXT24BandRows(int height, int n, int* rows);

// The pool as a job runner for numThreads threads (clamped to 1 .. 32): its
// jobs go through ORXRunEncodeJobs(numThreads, ...), so a caller that finds
// another frame in the pool waits for it, and the first call with more than
// one thread fixes the pool's size. threads is numThreads, the number of
// bands the frame road cuts an image into.
ORXJobRunner ORXEncodePoolRunner(int numThreads);

