// Frames read ahead of the encoder: reader threads fill a ring of slots in
// frame order while the caller takes them one by one, so reading (and PNG
// decoding) overlaps the codec's work.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "Cli.h"
#include "Sources.h"

namespace orxapp {

namespace {

struct Slot {
  enum State { kFree, kFilling, kReady } state = kFree;
  ImageARGB image;
  int result = 0;
  std::string name, error;
};

// What the readers and the caller share. The readers hold it too: a reader
// blocked in a read that never returns (a pipe whose writer stalls) is left
// behind when the source is dropped, and the state lives until it returns.
struct Shared {
  std::unique_ptr<FrameSource> inner;
  int64_t reads = -1;  // independent reads, or -1 for a source read in order
  std::vector<Slot> slots;
  std::vector<bool> reading;  // per reader: inside a read of the source
  std::mutex mutex;
  std::condition_variable ready, free;
  int64_t taken = 0;
  bool stop = false;

  // Reader r of n takes reads r, r + n, ...; read i goes to slot i mod the
  // ring's size once the caller has taken the frame before it there.
  void Reader(int r, int n) {
    for (int64_t i = r;; i += n) {
      if (reads >= 0 && i > reads) return;
      Slot* slot;
      {
        std::unique_lock<std::mutex> lock(mutex);
        slot = &slots[size_t(i % int64_t(slots.size()))];
        free.wait(lock, [&] { return stop || (slot->state == Slot::kFree && taken + int64_t(slots.size()) > i); });
        if (stop) return;
        slot->state = Slot::kFilling;
        reading[size_t(r)] = true;
      }
      int result;
      std::string name, error;
      try {
        if (reads >= 0) {
          result = i < reads ? inner->ReadAt(i, &slot->image, &name, &error) : 0;
        } else {
          result = inner->Next(&slot->image);
          name = inner->CurrentName();
          if (result < 0) error = inner->Error();
        }
      } catch (const std::bad_alloc&) {
        result = -1;
        error = (name.empty() ? inner->CurrentName() : name) + ": out of memory for the frame";
      }
      std::lock_guard<std::mutex> lock(mutex);
      reading[size_t(r)] = false;
      slot->result = result;
      slot->name = std::move(name);
      slot->error = std::move(error);
      slot->state = Slot::kReady;
      ready.notify_all();
      // A source read in order ends at its first end or failure.
      if (result != 1 && reads < 0) return;
    }
  }
};

class ReadAheadSource : public FrameSource {
 public:
  explicit ReadAheadSource(std::unique_ptr<FrameSource> inner) : shared_(std::make_shared<Shared>()) {
    shared_->inner = std::move(inner);
    shared_->reads = shared_->inner->IndependentReads();
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const int readers = shared_->reads >= 0 ? int(std::min(cores, 4u)) : 1;
    shared_->slots.resize(size_t(readers) + 1);
    shared_->reading.assign(size_t(readers), false);
    for (int r = 0; r < readers; ++r) {
      try {
        std::shared_ptr<Shared> s = shared_;
        threads_.emplace_back([s, r, readers] { s->Reader(r, readers); });
      } catch (const std::system_error&) {
        break;
      }
    }
    // Readers that could not start would leave gaps: the frames are then
    // read here, in order, as without read-ahead.
    if (int(threads_.size()) != readers) {
      StopReaders();
      direct_ = true;
    }
  }
  ~ReadAheadSource() override { StopReaders(); }

  int Next(ImageARGB* out) override {
    FrameSource& inner = *shared_->inner;
    if (direct_) {
      const int r = inner.Next(out);
      current_ = inner.CurrentName();
      if (r < 0) error_ = inner.Error();
      return r;
    }
    if (ended_) return 0;
    Shared& s = *shared_;
    std::unique_lock<std::mutex> lock(s.mutex);
    Slot& slot = s.slots[size_t(s.taken % int64_t(s.slots.size()))];
    // A reader held in a read that does not return (a stalled pipe) does
    // not hold up an interruption: it is left behind as the source goes.
    while (!s.ready.wait_for(lock, std::chrono::milliseconds(50), [&] { return slot.state == Slot::kReady; })) {
      if (Interrupted()) {
        error_ = "interrupted";
        ended_ = true;
        return -1;
      }
    }
    std::swap(*out, slot.image);  // the caller's old buffer is refilled later
    current_ = slot.name;
    const int result = slot.result;
    if (result < 0) error_ = slot.error;
    if (result != 1) ended_ = true;
    slot.state = Slot::kFree;
    ++s.taken;
    s.free.notify_all();
    return result;
  }
  int64_t Count() const override { return shared_->inner->Count(); }
  bool Rate(int* num, int* den) const override { return shared_->inner->Rate(num, den); }
  bool VariableRate() const override { return shared_->inner->VariableRate(); }
  bool Timed() const override { return shared_->inner->Timed(); }
  bool Endless() const override { return shared_->inner->Endless(); }
  bool PixelAspect(int* num, int* den) const override { return shared_->inner->PixelAspect(num, den); }
  int64_t DurationNs() const override { return shared_->inner->DurationNs(); }
  int HasAlpha() const override { return shared_->inner->HasAlpha(); }
  // Taken on the caller's thread while the readers decode pictures: the
  // sound source is safe to use beside them.
  SoundSource* Sound() override { return shared_->inner->Sound(); }
  std::string SoundProblem() const override { return shared_->inner->SoundProblem(); }
  std::string CurrentName() const override { return current_; }
  std::vector<std::string> Files() const override { return shared_->inner->Files(); }

 private:
  // Waiting readers are woken and joined; one inside a read is left to
  // finish it on its own (it holds the shared state).
  void StopReaders() {
    std::vector<bool> reading;
    {
      std::lock_guard<std::mutex> lock(shared_->mutex);
      shared_->stop = true;
      reading = shared_->reading;
    }
    shared_->free.notify_all();
    for (size_t r = 0; r < threads_.size(); ++r) {
      if (reading[r])
        threads_[r].detach();
      else
        threads_[r].join();
    }
    threads_.clear();
  }

  std::shared_ptr<Shared> shared_;
  std::vector<std::thread> threads_;
  bool ended_ = false;
  bool direct_ = false;
  std::string current_;
};

}  // namespace

std::unique_ptr<FrameSource> ReadAhead(std::unique_ptr<FrameSource> source) {
  return std::make_unique<ReadAheadSource>(std::move(source));
}

}  // namespace orxapp
