// The worker threads of one liborx encoder or decoder, as the core's job
// runner: owned by that object (no process-wide pool), started on the first
// frame that is cut into jobs, stopped and joined when the object goes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "core/Frames/ORXJobs.h"

class ORXLibThreads {
 public:
  // threads: the calling thread and threads - 1 workers (2 to 32).
  explicit ORXLibThreads(int threads) : threads_(threads) {}
  ~ORXLibThreads();
  ORXLibThreads(const ORXLibThreads&) = delete;
  ORXLibThreads& operator=(const ORXLibThreads&) = delete;

  // The runner over these threads; valid while the object lives.
  ORXJobRunner Runner();

 private:
  static void Run(void* self, int count, ORXJob job, void* context);
  void RunJobs(int count, ORXJob job, void* context);
  void StartWorkers();
  void Work();
  void TakeJobs();

  const int threads_;
  std::mutex runLock_;  // one job list at a time
  std::mutex lock_;
  std::condition_variable wake_, finished_;
  std::vector<std::thread> workers_;
  bool started_ = false;
  bool stop_ = false;
  uint64_t generation_ = 0;
  ORXJob job_ = nullptr;
  void* context_ = nullptr;
  int count_ = 0;
  std::atomic<int> next_{0};
  int busy_ = 0;  // workers still in the current job list
};
