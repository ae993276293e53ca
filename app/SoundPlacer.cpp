#include "SoundPlacer.h"

#include <algorithm>

namespace orxapp {

SoundPlacer::SoundPlacer(HostMovieWriterRef writer, const HostSoundFormat& format, int64_t videoStartNs)
    : writer_(writer), format_(format), frameBytes_(HostSoundBytesPerFrame(&format)), videoStartNs_(videoStartNs) {}

int64_t SoundPlacer::FramesUntil(int64_t endNs) const {
  // endNs < 2^63 / 384000 for any movie this writes.
  return endNs <= 0 ? 0 : int64_t((__int128(endNs) * format_.sampleRate + 500000000) / 1000000000);
}

void SoundPlacer::Add(const std::vector<uint8_t>& bytes, int64_t firstNs) {
  if (!started_) {
    started_ = true;
    if (videoStartNs_ >= 0 && firstNs >= 0) {
      const int64_t lead = FramesUntil(firstNs - videoStartNs_);
      if (firstNs > videoStartNs_) pending_.assign(size_t(lead) * frameBytes_, 0);  // silence up to the sound
      if (firstNs < videoStartNs_) skip_ = FramesUntil(videoStartNs_ - firstNs);
    }
  }
  size_t from = 0;
  if (skip_ > 0) {
    const int64_t frames = int64_t(bytes.size() / frameBytes_);
    const int64_t cut = std::min(skip_, frames);
    skip_ -= cut;
    from = size_t(cut) * frameBytes_;
  }
  pending_.insert(pending_.end(), bytes.begin() + std::ptrdiff_t(from),
                  bytes.begin() + std::ptrdiff_t(bytes.size() / frameBytes_ * frameBytes_));
}

OSStatus SoundPlacer::WriteUntil(int64_t endNs) {
  const int64_t room = FramesUntil(endNs) - written_;
  const int64_t frames = std::min<int64_t>(room, int64_t(pending_.size() / frameBytes_));
  if (frames <= 0) return noErr;
  const OSStatus s = HostMovieWriterAddSound(writer_, pending_.data(), SInt32(frames));
  if (s != noErr) return s;
  pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(size_t(frames) * frameBytes_));
  written_ += frames;
  return noErr;
}

}  // namespace orxapp
