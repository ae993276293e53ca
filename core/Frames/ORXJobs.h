// How the core hands a frame's work to threads it does not own. A frame road
// cuts a frame into independent jobs (bands of block rows, LZF chunks) and
// gives them to the runner its caller supplies: the component's pools, a
// library object's own threads, a program's job system, or none (every job
// in order on the calling thread). No code below the frame roads starts or
// calls a thread.
#pragma once

#include <cstdint>

// One of a list of independent jobs (index 0 .. count - 1) of the list
// described by context.
typedef void (*ORXJob)(void* context, int index);

// Runs job(context, i) exactly once for each i in 0 .. count - 1, on whatever
// threads it likes and in any order, and returns when all are done. threads
// is how many jobs it runs at once: the frame roads cut a frame into that
// many bands (1: not cut). A runner without run runs every job in order on
// the calling thread.
struct ORXJobRunner {
  void (*run)(void* self, int count, ORXJob job, void* context) = nullptr;
  void* self = nullptr;
  int threads = 1;
};

// Runs count jobs through runner, or in order on the calling thread when
// runner is null or has no run.
inline void ORXRunJobs(const ORXJobRunner* runner, int count, ORXJob job, void* context) {
  if (count <= 0) return;
  if (runner == nullptr || runner->run == nullptr || count == 1) {
    for (int i = 0; i < count; ++i) job(context, i);
    return;
  }
  runner->run(runner->self, count, job, context);
}

// The most threads an encode or a library object runs on.
constexpr int kORXMaxThreads = 32;

// The "Max" thread choice: one thread a processor core (cores as
// QueryProcessorCoreCount gives them, 0 when unknown), at least 1 and at most
// kORXMaxThreads.
constexpr int ORXThreadsForCores(int cores) {
  return cores < 1 ? 1 : cores > kORXMaxThreads ? kORXMaxThreads : cores;
}

// The encode band rule: rows of each of n bands (n at most kORXMaxThreads)
// for an image of height rows; rows[i] for i < n, 0 for a band past the
// image. Bands are whole blocks (multiples of 4 rows) but for the last.
// Returns the band height.
inline int ORXEncodeBandRows(int height, int n, int* rows) {
  int band = height / n;
  if (band < 4)
    band = 4;
  else
    band = (band + 3) / 4 * 4;
  if (band > height) band = height;
  for (int i = 0; i < n; ++i) {
    const long long first = static_cast<long long>(i) * band;
    long long count = (i == n - 1) ? height - first : band;
    if (first + count > height) count = height - first;
    rows[i] = count > 0 ? static_cast<int>(count) : 0;
  }
  return band;
}

// The decode band rule: block rows of a band when rows block rows are cut
// into bands for a runner of threads threads (the first band the caller's,
// the rest its workers'). The number of bands is (rows + per - 1) / per.
constexpr int ORXDecodeBandRows(int rows, int threads) {
  return threads < 1 ? rows : (rows + threads - 1) / threads;
}
