#include "ORXLibThreads.h"

#include <exception>

ORXLibThreads::~ORXLibThreads() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : workers_) t.join();
}

ORXJobRunner ORXLibThreads::Runner() {
  ORXJobRunner r;
  r.run = Run;
  r.self = this;
  r.threads = threads_;
  return r;
}

void ORXLibThreads::Run(void* self, int count, ORXJob job, void* context) {
  static_cast<ORXLibThreads*>(self)->RunJobs(count, job, context);
}

// As many workers as the system gives, up to threads - 1; with none the
// calling thread runs every job.
void ORXLibThreads::StartWorkers() {
  started_ = true;
  try {
    workers_.reserve(static_cast<size_t>(threads_ - 1));
    for (int i = 1; i < threads_; ++i) workers_.emplace_back([this] { Work(); });
  } catch (const std::exception&) {
    // Out of memory or threads: the workers started so far do the work.
  }
}

void ORXLibThreads::TakeJobs() {
  for (int k = next_.fetch_add(1); k < count_; k = next_.fetch_add(1)) job_(context_, k);
}

void ORXLibThreads::RunJobs(int count, ORXJob job, void* context) {
  std::lock_guard<std::mutex> one(runLock_);
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!started_) StartWorkers();
    if (workers_.empty()) {
      for (int k = 0; k < count; ++k) job(context, k);
      return;
    }
    job_ = job;
    context_ = context;
    count_ = count;
    next_.store(0);
    busy_ = static_cast<int>(workers_.size());
    ++generation_;
  }
  wake_.notify_all();
  TakeJobs();
  std::unique_lock<std::mutex> hold(lock_);
  finished_.wait(hold, [this] { return busy_ == 0; });
}

void ORXLibThreads::Work() {
  uint64_t seen = 0;
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    wake_.wait(hold, [&] { return stop_ || generation_ != seen; });
    if (stop_) return;
    seen = generation_;
    hold.unlock();
    TakeJobs();
    hold.lock();
    if (--busy_ == 0) finished_.notify_one();
  }
}
