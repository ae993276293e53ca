#include "SoundPlacer.h"

#include <algorithm>

namespace orxapp {

namespace {
// Sound whose times are this close to following on does follow on: the
// times a container stores are rounded.
constexpr int64_t kJitterNs = 20000000;
// Silence goes to the writer in pieces of about this many bytes.
constexpr size_t kSilenceBytes = 65536;
}  // namespace

std::string SampleWords(UInt32 sampleFormat) {
  return sampleFormat == kHostSoundFloat32 ? "32-bit float" : sampleFormat == kHostSoundInt24 ? "24-bit" : "16-bit";
}

std::string SoundWords(const HostSoundFormat& f) {
  return "PCM " + SampleWords(f.sampleFormat) + ", " + std::to_string(f.sampleRate) + " Hz, " +
         std::to_string(f.channels) + " channel" + (f.channels == 1 ? "" : "s");
}

SoundPlacer::SoundPlacer(HostMovieWriterRef writer, const HostSoundFormat& format, int64_t videoStartNs, int64_t leadNs)
    : writer_(writer),
      format_(format),
      frameBytes_(HostSoundBytesPerFrame(&format)),
      originNs_(videoStartNs),
      leadNs_(leadNs) {}

int64_t SoundPlacer::FramesAt(int64_t ns) const {
  // |ns| < 2^63 and the rate < 2^19: the product fits in 128 bits.
  const __int128 v = __int128(ns) * format_.sampleRate;
  return int64_t(v >= 0 ? (v + 500000000) / 1000000000 : -((-v + 500000000) / 1000000000));
}

int64_t SoundPlacer::FramesUntil(int64_t endNs) const { return endNs <= 0 ? 0 : FramesAt(endNs); }

void SoundPlacer::Add(const std::vector<uint8_t>& bytes, int64_t firstNs) {
  const int64_t frames = int64_t(bytes.size() / frameBytes_);
  int64_t skip = 0;  // leading frames of these that are left out
  if (!started_) {
    started_ = true;
    if (originNs_ < 0) {
      originNs_ = std::max<int64_t>(firstNs, 0) + leadNs_;
      next_ = FramesAt(std::max<int64_t>(firstNs, 0) - originNs_);
    } else {
      next_ = firstNs >= 0 ? FramesAt(firstNs - originNs_) : 0;
    }
  } else if (firstNs >= 0) {
    const int64_t at = FramesAt(firstNs - originNs_), jitter = FramesAt(kJitterNs);
    if (at > next_ + jitter) {
      // A stretch is missing: silence keeps what follows in step.
      const int64_t from = std::max<int64_t>(next_, 0);
      if (at > from && missingFrames_ == 0) {
        missingFrames_ = at - from;
        missingAt_ = from;
      }
      next_ = at;
    } else if (at < next_ - jitter) {
      skip = std::min(frames, next_ - at);  // sound over sound already placed
    }
  }
  if (next_ < 0) {
    const int64_t cut = std::min(frames - skip, -next_);
    skip += cut;
    next_ += cut;
  }
  const int64_t kept = frames - skip;
  if (kept <= 0) return;
  const int64_t silence = next_ - Have();
  pending_.push_back(Run{silence, std::vector<uint8_t>(bytes.begin() + std::ptrdiff_t(size_t(skip) * frameBytes_),
                                                       bytes.begin() + std::ptrdiff_t(size_t(frames) * frameBytes_))});
  held_ += silence + kept;
  next_ += kept;
}

OSStatus SoundPlacer::WriteUntil(int64_t endNs) {
  int64_t room = FramesUntil(endNs) - written_;
  std::vector<uint8_t> zeros;
  while (room > 0 && !pending_.empty()) {
    Run& run = pending_.front();
    if (run.silence > 0) {
      if (zeros.empty()) zeros.assign(std::max(kSilenceBytes / frameBytes_, size_t(1)) * frameBytes_, 0);
      const int64_t n = std::min({room, run.silence, int64_t(zeros.size() / frameBytes_)});
      if (const OSStatus s = HostMovieWriterAddSound(writer_, zeros.data(), SInt32(n)); s != noErr) return s;
      run.silence -= n;
      held_ -= n;
      written_ += n;
      room -= n;
      continue;
    }
    const int64_t n = std::min(room, int64_t(run.bytes.size() / frameBytes_));
    if (const OSStatus s = HostMovieWriterAddSound(writer_, run.bytes.data(), SInt32(n)); s != noErr) return s;
    run.bytes.erase(run.bytes.begin(), run.bytes.begin() + std::ptrdiff_t(size_t(n) * frameBytes_));
    held_ -= n;
    written_ += n;
    room -= n;
    if (run.bytes.empty()) pending_.pop_front();
  }
  return noErr;
}

void SoundPlacer::DropPending() {
  pending_.clear();
  held_ = 0;
}

}  // namespace orxapp
