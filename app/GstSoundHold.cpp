#include "GstSoundHold.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "GstFacts.h"

namespace orxapp {

namespace {

// Sound held for pictures still to come: at most this stretch and these
// bytes; sound from a file that runs further ahead of its pictures is lost.
constexpr int64_t kSoundAheadNs = 60 * int64_t(GST_SECOND);
constexpr size_t kSoundAheadBytes = size_t(64) << 20;
// A sound file of its own is decoded only this far ahead of its reader.
constexpr size_t kSoundFileBytes = size_t(4) << 20;
constexpr size_t kTakeBytes = size_t(1) << 20;  // the most one Take hands over
constexpr int64_t kSoundJitterNs = 20 * int64_t(GST_MSECOND);  // times closer than this are one stretch

}  // namespace

GstSoundHold::~GstSoundHold() {
  for (const Chunk& c : chunks_) gst_buffer_unref(c.buffer);
}

void GstSoundHold::Begin(const HostSoundFormat& format, bool soundFile) {
  std::lock_guard<std::mutex> lock(m_);
  soundFile_ = soundFile;
  sampleRate_ = format.sampleRate;
  frameBytes_ = HostSoundBytesPerFrame(&format);
}

std::string GstSoundHold::Holds() {
  return std::to_string(kSoundAheadNs / int64_t(GST_SECOND)) + " s or " + std::to_string(kSoundAheadBytes >> 20) + " MB";
}
int64_t GstSoundHold::FramesNs(int64_t frames) const { return int64_t(__int128(frames) * GST_SECOND / sampleRate_); }

// Keeps the earliest loss of sound (under m_).
void GstSoundHold::NoteSoundLoss(int64_t atNs, const std::string& why) {
  if (lostNs_ >= 0 && lostNs_ <= atNs) return;
  lostNs_ = std::max<int64_t>(atNs, 0);
  lostWhy_ = why;
}

void GstSoundHold::PopFront() {
  gst_buffer_unref(chunks_.front().buffer);
  chunkBytes_ -= chunks_.front().bytes;
  chunks_.pop_front();
}
void GstSoundHold::DropBefore(int64_t ns) {
  while (!chunks_.empty() && chunks_.front().endNs <= ns) PopFront();
}

void GstSoundHold::Arrived(GstBuffer* b) {
  std::unique_lock<std::mutex> lock(m_);
  const size_t bytes = frameBytes_ > 0 ? gst_buffer_get_size(b) / frameBytes_ * frameBytes_ : 0;
  const int64_t startNs = GST_BUFFER_PTS_IS_VALID(b) ? int64_t(GST_BUFFER_PTS(b)) : std::max<int64_t>(soundEndNs_, 0);
  const int64_t endNs = startNs + FramesNs(int64_t(bytes / std::max<size_t>(frameBytes_, 1)));
  if (bytes == 0) return;
  soundEndNs_ = endNs;
  if (soundFile_) {
    // Nothing else waits on a sound file's stream: its thread waits for room.
    room_.wait(lock, [&] { return closing_ || chunkBytes_ < kSoundFileBytes; });
    if (closing_) return;
    Hold(b, startNs, endNs, bytes);
    return;
  }
  // What is not needed is dropped as it comes, and what runs too far ahead
  // of the pictures is lost.
  if (overflowed_ || endNs <= keepFromNs_ || (picturesEndNs_ >= 0 && startNs >= picturesEndNs_)) return;
  if (firstPictureNs_ < 0) {
    // Before the first picture: the latest stretch waits for it.
    Hold(b, startNs, endNs, bytes);
    while (chunks_.size() > 1 &&
           (chunks_.back().endNs - chunks_.front().startNs > kSoundAheadNs || chunkBytes_ > kSoundAheadBytes)) {
      droppedUntilNs_ = std::max(droppedUntilNs_, chunks_.front().endNs);
      PopFront();
    }
    return;
  }
  if (!chunks_.empty() &&
      (endNs - chunks_.front().startNs > kSoundAheadNs || chunkBytes_ + bytes > kSoundAheadBytes)) {
    overflowed_ = true;
    NoteSoundLoss(startNs, "its sound from " + Seconds(startNs) + " on runs further ahead of its pictures in the file " +
                               "than orx holds (" + Holds() + ")");
    return;
  }
  Hold(b, startNs, endNs, bytes);
}

void GstSoundHold::Hold(GstBuffer* b, int64_t startNs, int64_t endNs, size_t bytes) {
  chunks_.push_back({b, startNs, endNs, bytes});
  gst_buffer_ref(b);
  chunkBytes_ += bytes;
  ready_.notify_all();
}

void GstSoundHold::Ended() {
  std::lock_guard<std::mutex> lock(m_);
  soundEnded_ = true;
  ready_.notify_all();
}

void GstSoundHold::PictureArrived(GstBuffer* b) {
  if (!GST_BUFFER_PTS_IS_VALID(b)) return;
  const int64_t pts = int64_t(GST_BUFFER_PTS(b));
  const int64_t end = pts + (GST_BUFFER_DURATION_IS_VALID(b) ? int64_t(GST_BUFFER_DURATION(b)) : 0);
  std::lock_guard<std::mutex> lock(m_);
  latestPictureEndNs_ = std::max(latestPictureEndNs_, end);
  if (firstPictureNs_ >= 0) return;
  firstPictureNs_ = pts;
  keepFromNs_ = std::max(keepFromNs_, pts);
  DropBefore(pts);
  if (droppedUntilNs_ > pts)
    NoteSoundLoss(pts, "the first " + Seconds(droppedUntilNs_ - pts) + " of its sound came further ahead of its " +
                           "pictures in the file than orx holds (" + Holds() + ")");
}

void GstSoundHold::PicturesEnded() {
  std::lock_guard<std::mutex> lock(m_);
  picturesEndNs_ = std::max<int64_t>(latestPictureEndNs_, 0);
  while (!chunks_.empty() && chunks_.back().startNs >= picturesEndNs_) {
    gst_buffer_unref(chunks_.back().buffer);
    chunkBytes_ -= chunks_.back().bytes;
    chunks_.pop_back();
  }
}

// Only what is lost once the stream has begun counts: decoders drop their
// header packets, and the frames before the first they can decode, as they
// start.
void GstSoundHold::Lost(bool ofSound, const std::string& what) {
  std::lock_guard<std::mutex> lock(m_);
  if (ofSound) {
    if (soundEndNs_ >= 0) NoteSoundLoss(soundEndNs_, what);
  } else if (firstPictureNs_ >= 0 && pictureLoss_.empty()) {
    pictureLoss_ = what;
  }
}

void GstSoundHold::Close() {
  {
    std::lock_guard<std::mutex> lock(m_);
    closing_ = true;
  }
  room_.notify_all();
}

void GstSoundHold::KeepFrom(int64_t ns) {
  std::lock_guard<std::mutex> lock(m_);
  if (soundTaken_) return;
  keepFromNs_ = std::max(keepFromNs_, ns);
  DropBefore(keepFromNs_);
}

// Appends the first held chunk and those that follow it without a break,
// up to kTakeBytes, to *out (under m_).
void GstSoundHold::TakeRun(std::vector<uint8_t>* out, int64_t* firstNs) {
  size_t taken = 0;
  int64_t next = -1;
  while (!chunks_.empty() && (taken == 0 || (taken + chunks_.front().bytes <= kTakeBytes &&
                                             std::abs(chunks_.front().startNs - next) <= kSoundJitterNs))) {
    const Chunk& c = chunks_.front();
    GstMapInfo map;
    if (gst_buffer_map(c.buffer, &map, GST_MAP_READ)) {
      out->insert(out->end(), map.data, map.data + std::min(c.bytes, size_t(map.size)));
      gst_buffer_unmap(c.buffer, &map);
    }
    if (taken == 0) *firstNs = c.startNs;
    taken += c.bytes;
    next = c.endNs;
    PopFront();
  }
  room_.notify_all();
}

GstSoundHold::Turn GstSoundHold::Take(std::vector<uint8_t>* out, int64_t* firstNs, gint64 until, int64_t declaredNs) {
  std::unique_lock<std::mutex> lock(m_);
  soundTaken_ = true;
  if (!chunks_.empty()) {
    TakeRun(out, firstNs);
    return Turn::kTaken;
  }
  if (soundEnded_) {
    // A sound file that ends well short of the length it declares lost its
    // end, or a stretch a decoder skipped.
    if (soundFile_ && !soundLengthChecked_ && declaredNs > 0 && soundEndNs_ < declaredNs - LengthSlack(declaredNs, 0))
      NoteSoundLoss(soundEndNs_, "its sound ends at " + Seconds(std::max<int64_t>(soundEndNs_, 0)) + ", short of the " +
                                     Seconds(declaredNs) + " its file declares: cut short or damaged");
    soundLengthChecked_ = true;
    return Turn::kEnded;
  }
  const gint64 now = g_get_monotonic_time();
  if (now >= until) return Turn::kTimeUp;
  ready_.wait_for(lock, std::chrono::microseconds(std::min<gint64>(until - now, kPoll / GST_USECOND)));
  return Turn::kWaited;
}

int64_t GstSoundHold::SoundLost(std::string* why) const {
  std::lock_guard<std::mutex> lock(m_);
  if (lostNs_ >= 0) *why = lostWhy_;
  return lostNs_;
}

bool GstSoundHold::PicturesLost(std::string* why) const {
  std::lock_guard<std::mutex> lock(m_);
  if (pictureLoss_.empty()) return false;
  *why = pictureLoss_;
  return true;
}

}  // namespace orxapp
