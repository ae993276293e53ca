// Footage converted to another frame rate by its frames' times: frame n of
// the new rate shows the source frame whose time is nearest n / rate after
// the first, so the movie keeps the source's length and its sound stays in
// step.
#include <algorithm>
#include <utility>

#include "Sources.h"

namespace orxapp {

namespace {
constexpr int64_t kSecondNs = 1000000000;
}

RateConverter::RateConverter(std::unique_ptr<FrameSource> source, int num, int den)
    : source_(std::move(source)), num_(num), den_(den) {
  if (!source_->VariableRate() && source_->Rate(&sourceNum_, &sourceDen_) && sourceNum_ > 0 && sourceDen_ > 0)
    sourceFrameNs_ = kSecondNs * sourceDen_ / sourceNum_;
}

int64_t RateConverter::SlotNs(int64_t n) const {
  // Rounded to the nanosecond from n itself, so the slots never drift.
  return t0_ + int64_t((__int128(n) * kSecondNs * den_ + num_ / 2) / num_);
}

int64_t RateConverter::TimeOf(const ImageARGB& f, int64_t index) const {
  // Frames of a fixed rate are where that rate puts them: their stored times
  // are rounded by the container (to the millisecond in Matroska), and a
  // picture missing from them has already failed the source.
  if (sourceFrameNs_ > 0)
    return t0_ + int64_t((__int128(index) * kSecondNs * sourceDen_ + sourceNum_ / 2) / sourceNum_);
  if (f.ptsNs >= 0) return f.ptsNs;
  return t0_ + index * (kSecondNs * den_ / num_);  // no time at all: one frame of the new rate
}

bool RateConverter::Rate(int* num, int* den) const {
  *num = num_;
  *den = den_;
  return true;
}

int64_t RateConverter::Count() const {
  int64_t ns = source_->DurationNs();
  if (ns <= 0 && source_->Count() > 0 && sourceFrameNs_ > 0) ns = source_->Count() * sourceFrameNs_;
  if (ns <= 0) return 0;
  return int64_t((__int128(ns) * num_ + __int128(den_) * kSecondNs / 2) / (__int128(den_) * kSecondNs));
}

void RateConverter::ReadNext() {
  nextResult_ = source_->Next(&next_);
  if (nextResult_ == 1) {
    nextName_ = source_->CurrentName();
    nextNs_ = TimeOf(next_, curIndex_ + 1);
  } else if (nextResult_ < 0) {
    nextError_ = source_->Error();
  }
}

int64_t RateConverter::CurEndNs() const {
  // The last frame lasts as long as it says, else as long as the source's
  // frames do, else as long as the gap before it.
  if (sourceFrameNs_ > 0) return TimeOf(cur_, curIndex_ + 1);
  int64_t length = curLengthNs_;
  if (length <= 0 && prevNs_ >= 0 && curNs_ > prevNs_) length = curNs_ - prevNs_;
  if (length <= 0) length = kSecondNs * den_ / num_;
  return curNs_ + length;
}

bool RateConverter::Passed(int64_t slot) const {
  if (sourceFrameNs_ > 0) {
    // Exactly, in fractions of a second: slot / rate against the source
    // frames' own places (the midpoint to the next, or the end of the last).
    const __int128 at = __int128(slot) * den_ * sourceNum_;
    const __int128 frame = __int128(sourceDen_) * num_;
    return nextResult_ == 1 ? 2 * at > (2 * __int128(curIndex_) + 1) * frame : at >= (__int128(curIndex_) + 1) * frame;
  }
  const int64_t t = SlotNs(slot);
  return nextResult_ == 1 ? t - curNs_ > nextNs_ - t : t >= CurEndNs();
}

void RateConverter::StartCounting() {
  repeated_ = dropped_ = 0;
  curInMovie_ = false;
}

int RateConverter::Next(ImageARGB* out) {
  if (ended_ != 1) return ended_;
  if (!started_) {
    const int r = source_->Next(&cur_);
    if (r != 1) {
      if (r < 0) error_ = source_->Error();
      ended_ = r;
      return r;
    }
    started_ = true;
    name_ = source_->CurrentName();
    t0_ = std::max<int64_t>(cur_.ptsNs, 0);
    curNs_ = TimeOf(cur_, 0);
    curLengthNs_ = cur_.durationNs;
    ReadNext();
  }
  for (;;) {
    if (Passed(slot_)) {
      if (!curShown_) ++dropped_;
      if (nextResult_ != 1) {
        // The source ended (or failed) after the current frame, which has lasted its length.
        ended_ = nextResult_;
        if (ended_ < 0) error_ = nextError_;
        return ended_;
      }
      prevNs_ = curNs_;
      std::swap(cur_, next_);
      name_ = std::move(nextName_);
      curNs_ = nextNs_;
      curLengthNs_ = cur_.durationNs;
      ++curIndex_;
      curShown_ = curInMovie_ = false;
      ReadNext();
      continue;
    }
    if (curInMovie_) ++repeated_;
    curShown_ = curInMovie_ = true;
    // The frame is handed over whole when the next slot will not show it again.
    const int64_t t = SlotNs(slot_), after = SlotNs(slot_ + 1);
    if (!Passed(slot_ + 1)) {
      *out = cur_;
    } else {
      std::swap(*out, cur_);
    }
    out->ptsNs = t;
    out->durationNs = after - t;
    ++slot_;
    return 1;
  }
}

}  // namespace orxapp
