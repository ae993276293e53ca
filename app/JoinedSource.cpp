// Several footage inputs as one source: their pictures in order, with times
// that run on from one input to the next, and their sound joined in step.
//
// Every input is opened (and closed again) before anything is read, so one
// that cannot be joined is refused before any work; each is opened again
// when its turn comes, one at a time. The frames are read on a reader
// thread and the sound is taken on the encoding thread: the two share the
// inputs opened so far (`Parts`) under one lock. An input stays open after
// its pictures have ended until its sound has been taken as far as they
// reach.
#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>

#include "Cli.h"
#include "GstMedia.h"
#include "SoundPlacer.h"
#include "Sources.h"

namespace orxapp {

namespace {

constexpr int64_t kSecondNs = 1000000000;
// At most this much sound (or silence) goes out in one Take.
constexpr size_t kTakeBytes = size_t(1) << 20;
// How long the sound of an input whose pictures have ended is waited for
// before it counts as ended.
constexpr int kSoundEndWaitMs = 5000;

// What an input holds, as far as joining it to others goes.
struct Facts {
  std::string name;
  int width = 0, height = 0;
  int fpsNum = 0, fpsDen = 1;  // 0: its frames carry times of their own
  int parNum = 1, parDen = 1;
  bool live = false;
  int hasAlpha = 0;
  bool hasSound = false;
  HostSoundFormat sound{};
  std::string soundProblem;
  int64_t durationNs = -1;
  int64_t frames = 0;
};

Facts FactsOf(FrameSource& s, const std::string& name) {
  Facts f;
  f.name = name;
  s.PictureSize(&f.width, &f.height);
  if (!s.Rate(&f.fpsNum, &f.fpsDen) || s.VariableRate()) f.fpsNum = 0, f.fpsDen = 1;
  s.PixelAspect(&f.parNum, &f.parDen);
  f.live = s.Endless();
  f.hasAlpha = s.HasAlpha() > 0;
  if (SoundSource* sound = s.Sound()) {
    f.hasSound = true;
    f.sound = sound->Format();
  }
  f.soundProblem = s.SoundProblem();
  f.durationNs = s.DurationNs();
  f.frames = s.Count();
  return f;
}

std::string RateWords(int num, int den) { return num > 0 ? FormatRate(double(num) / den) + " fps" : ""; }

// Why input b cannot follow a (the first input) in one movie: "" when it can.
std::string Differs(const Facts& a, const Facts& b) {
  for (const Facts* f : {&a, &b})
    if (f->live) return f->name + ": a live source never ends, so it cannot be joined to other inputs";
  if (a.width != b.width || a.height != b.height)
    return b.name + ": its pictures are " + std::to_string(b.width) + "x" + std::to_string(b.height) + ", not " +
           std::to_string(a.width) + "x" + std::to_string(a.height) + " as " + a.name +
           "'s (joined inputs must have one size)";
  if ((a.fpsNum == 0) != (b.fpsNum == 0))
    return b.name + (b.fpsNum == 0 ? ": its frames carry times of their own, while " + a.name + " has a rate of " +
                                         RateWords(a.fpsNum, a.fpsDen)
                                   : ": its rate is " + RateWords(b.fpsNum, b.fpsDen) + ", while " + a.name +
                                         "'s frames carry times of their own") +
           " (joined inputs must have one rate)";
  if (int64_t(a.fpsNum) * b.fpsDen != int64_t(b.fpsNum) * a.fpsDen)
    return b.name + ": its rate is " + RateWords(b.fpsNum, b.fpsDen) + ", not " + RateWords(a.fpsNum, a.fpsDen) +
           " as " + a.name + "'s (joined inputs must have one rate)";
  if (int64_t(a.parNum) * b.parDen != int64_t(b.parNum) * a.parDen)
    return b.name + ": its pixel aspect is " + std::to_string(b.parNum) + ":" + std::to_string(b.parDen) + ", not " +
           std::to_string(a.parNum) + ":" + std::to_string(a.parDen) + " as " + a.name +
           "'s (joined inputs must have one)";
  return "";
}

// Why sound b cannot join sound a (of the first input with sound) in one
// track: another rate or channel count, which would need resampling or
// mixing, a change to the sound that orx leaves to the user.
std::string SoundDiffers(const Facts& a, const Facts& b) {
  if (a.sound.sampleRate == b.sound.sampleRate && a.sound.channels == b.sound.channels) return "";
  auto words = [](const HostSoundFormat& f) {
    return std::to_string(f.sampleRate) + " Hz, " + std::to_string(f.channels) + " channel" + (f.channels == 1 ? "" : "s");
  };
  return b.name + ": its sound is " + words(b.sound) + ", not " + words(a.sound) + " as " + a.name +
         "'s; a movie's sound track has one rate and channel count, and orx neither resamples nor remixes "
         "(--audio none leaves the sound out)";
}

int Depth(UInt32 sampleFormat) {
  return sampleFormat == kHostSoundFloat32 ? 2 : sampleFormat == kHostSoundInt24 ? 1 : 0;
}

// Samples of one format widened to a deeper one (16-bit to 24-bit or float,
// 24-bit to float), exactly: every value of the narrower format is one of
// the wider.
void Widen(const uint8_t* in, size_t bytes, UInt32 from, UInt32 to, std::vector<uint8_t>* out) {
  const size_t inSize = from == kHostSoundInt16 ? 2 : 3;
  const size_t n = bytes / inSize;
  const size_t at = out->size();
  out->resize(at + n * (to == kHostSoundInt24 ? 3 : 4));
  uint8_t* o = out->data() + at;
  for (size_t i = 0; i < n; ++i, in += inSize) {
    // The sample as a 24-bit value.
    int32_t v = from == kHostSoundInt16 ? int32_t(int16_t(uint16_t(in[0] | in[1] << 8))) * 256
                                        : (int32_t(uint32_t(in[0] | in[1] << 8 | in[2] << 16) << 8) >> 8);
    if (to == kHostSoundInt24) {
      *o++ = uint8_t(v), *o++ = uint8_t(v >> 8), *o++ = uint8_t(v >> 16);
    } else {
      const float f = float(v) / 8388608.0f;
      uint32_t bits;
      std::memcpy(&bits, &f, 4);
      for (int b = 0; b < 4; ++b) *o++ = uint8_t(bits >> (8 * b));
    }
  }
}

// An input opened for its frames, as the frames' reader and the sound's
// taker both see it.
struct Part {
  std::string name;
  std::shared_ptr<FrameSource> source;  // held while its sound is still to be taken
  SoundSource* sound = nullptr;         // its sound (the source's), null when it has none
  HostSoundFormat format{};
  int64_t offsetNs = 0;      // where it starts in the joined time
  int64_t firstNs = -1;      // its own time of its first picture, -1 until that is read
  int64_t latestEndNs = -1;  // joined time where its pictures read so far end
  int64_t endNs = -1;        // joined time where it ends, once its pictures have ended
};

struct Parts {
  std::mutex m;
  std::deque<Part> parts;  // opened, in order, from the first whose sound is still to be taken
  bool done = false;       // no more inputs will open
};

// The inputs' sound as one stream in joined time, in the movie's format.
class JoinedSound : public SoundSource {
 public:
  JoinedSound(std::shared_ptr<Parts> parts, const HostSoundFormat& format)
      : parts_(std::move(parts)), format_(format), frameBytes_(HostSoundBytesPerFrame(&format)) {}
  HostSoundFormat Format() const override { return format_; }
  int Take(std::vector<uint8_t>* out, int64_t* firstNs, int waitMs) override;
  std::string Name() const override { return lostNs_ >= 0 ? lostName_ : name_; }
  int64_t LostNs(std::string* why) const override {
    NoteLoss();
    if (lostNs_ >= 0) *why = lostWhy_;
    return lostNs_;
  }

 private:
  int64_t FramesAt(int64_t ns) const { return int64_t((__int128(ns) * format_.sampleRate + kSecondNs / 2) / kSecondNs); }
  int64_t NsAt(int64_t frames) const { return int64_t(__int128(frames) * kSecondNs / format_.sampleRate); }
  // Hands over the carried sound up to joined frame `to`.
  void HandOver(std::vector<uint8_t>* out, int64_t* firstNs, int64_t to);
  // n frames of silence from pos_ (at most a piece's worth), which add to it.
  void Silence(std::vector<uint8_t>* out, int64_t* firstNs, int64_t n);
  int64_t PieceFrames() const { return int64_t(std::max<size_t>(kTakeBytes / frameBytes_, 1)); }
  void NoteLoss() const;
  void NextPart();

  std::shared_ptr<Parts> parts_;
  HostSoundFormat format_;
  size_t frameBytes_;
  int64_t pos_ = 0;            // the joined frame where the next frame handed over goes
  bool partStarted_ = false;   // sound of the front part has been handed over
  bool partSoundEnded_ = false;  // the front part's own sound has ended, or reached its end
  std::vector<uint8_t> carry_;   // its sound taken but not yet handed over, in the movie's format
  int64_t carryAt_ = 0;          // the joined frame carry_ starts at
  std::string name_;
  mutable int64_t lostNs_ = -1;
  mutable std::string lostWhy_, lostName_;
};

// The front part's loss, mapped to joined time; the earliest is kept.
void JoinedSound::NoteLoss() const {
  std::lock_guard<std::mutex> lock(parts_->m);
  if (parts_->parts.empty()) return;
  const Part& p = parts_->parts.front();
  if (p.sound == nullptr || p.firstNs < 0) return;
  std::string why;
  const int64_t at = p.sound->LostNs(&why);
  if (at < 0) return;
  const int64_t joined = std::max<int64_t>(p.offsetNs + at - p.firstNs, 0);
  if (lostNs_ >= 0 && lostNs_ <= joined) return;
  lostNs_ = joined;
  lostWhy_ = why;
  lostName_ = p.name;
}

void JoinedSound::NextPart() {
  NoteLoss();
  std::lock_guard<std::mutex> lock(parts_->m);
  parts_->parts.pop_front();  // its pipeline closes here unless the frames still read it
  partStarted_ = partSoundEnded_ = false;
  carry_.clear();
}

void JoinedSound::Silence(std::vector<uint8_t>* out, int64_t* firstNs, int64_t n) {
  n = std::min(n, PieceFrames());
  *firstNs = NsAt(pos_);
  out->assign(size_t(n) * frameBytes_, 0);
  pos_ += n;
}

void JoinedSound::HandOver(std::vector<uint8_t>* out, int64_t* firstNs, int64_t to) {
  int64_t at = carryAt_;
  size_t skip = 0;
  if (!partStarted_ && at < pos_) {
    // Sound before the input's first picture, over the input before it.
    skip = size_t(std::min<int64_t>(pos_ - at, int64_t(carry_.size() / frameBytes_)));
    at += int64_t(skip);
  }
  if (!partStarted_ && at > pos_) {
    // An input whose sound starts after its first picture is led in with
    // silence, a piece at a time.
    if (to > pos_) Silence(out, firstNs, std::min(at, to) - pos_);
  } else if (const int64_t n = std::min(int64_t(carry_.size() / frameBytes_) - int64_t(skip), to - at); n > 0) {
    // Within an input its own times stand: a gap there is lost sound,
    // which the placer finds.
    *firstNs = NsAt(at);
    out->assign(carry_.begin() + std::ptrdiff_t(skip * frameBytes_),
                carry_.begin() + std::ptrdiff_t((skip + size_t(n)) * frameBytes_));
    partStarted_ = true;
    pos_ = std::max(pos_, at + n);
    skip += size_t(n);
    at += n;
  }
  carry_.erase(carry_.begin(), carry_.begin() + std::ptrdiff_t(skip * frameBytes_));
  carryAt_ = at;
}

int JoinedSound::Take(std::vector<uint8_t>* out, int64_t* firstNs, int waitMs) {
  *firstNs = -1;
  for (;;) {
    Part p;
    {
      std::lock_guard<std::mutex> lock(parts_->m);
      if (parts_->parts.empty()) return parts_->done ? 0 : 1;
      const Part& front = parts_->parts.front();
      p.name = front.name, p.sound = front.sound, p.format = front.format, p.offsetNs = front.offsetNs;
      p.firstNs = front.firstNs, p.latestEndNs = front.latestEndNs, p.endNs = front.endNs;
    }
    name_ = p.name;
    if (p.firstNs < 0 && p.endNs < 0) return 1;  // its first picture has not been read
    // Sound goes no further than the pictures read so far, so that sound
    // past an input's end never reaches the placer before that end is known.
    const int64_t end = p.endNs >= 0 ? FramesAt(p.endNs) : -1;
    const int64_t reach = end >= 0 ? end : FramesAt(std::max<int64_t>(p.latestEndNs, 0));
    if (end >= 0 && pos_ >= end && carry_.empty()) partSoundEnded_ = true;  // as far as its pictures reach
    if (p.sound != nullptr && !partSoundEnded_ && carry_.empty() && p.firstNs >= 0) {
      std::vector<uint8_t> bytes;
      int64_t t = -1;
      // Once an input's pictures have ended, its sound is waited for.
      const int r = p.sound->Take(&bytes, &t, end >= 0 ? std::max(waitMs, kSoundEndWaitMs) : waitMs);
      if (r < 0) {
        error_ = p.sound->Error();
        return -1;
      }
      if (r == 0 || (bytes.empty() && end >= 0)) partSoundEnded_ = true;
      if (!bytes.empty()) {
        carryAt_ = t >= 0 ? FramesAt(p.offsetNs + t - p.firstNs) : pos_;
        if (p.format.sampleFormat == format_.sampleFormat)
          carry_ = std::move(bytes);
        else
          Widen(bytes.data(), bytes.size(), p.format.sampleFormat, format_.sampleFormat, &carry_);
      }
    }
    if (!carry_.empty()) {
      // What lies past the input's end is not its pictures' sound.
      if (end >= 0 && carryAt_ + int64_t(carry_.size() / frameBytes_) > end) {
        carry_.resize(size_t(std::max<int64_t>(end - carryAt_, 0)) * frameBytes_);
        partSoundEnded_ = true;
      }
      HandOver(out, firstNs, reach);
      if (!out->empty()) return 1;
      if (!carry_.empty()) return 1;  // it waits for the pictures it goes with
      continue;
    }
    if (p.sound != nullptr && !partSoundEnded_) return 1;  // more may come
    // The input's sound has ended (or it has none): silence as far as its
    // pictures reach.
    if (pos_ < reach) {
      Silence(out, firstNs, reach - pos_);
      partStarted_ = true;
      return 1;
    }
    if (end < 0) return 1;
    NextPart();
  }
}

class JoinedSource : public FrameSource {
 public:
  JoinedSource(const SourceOptions& options, std::vector<Facts> facts, std::unique_ptr<FrameSource> first)
      : options_(options), facts_(std::move(facts)), first_(std::move(first)), parts_(std::make_shared<Parts>()) {
    const Facts* withSound = nullptr;
    for (const Facts& f : facts_)
      if (f.hasSound && (withSound == nullptr || Depth(f.sound.sampleFormat) > Depth(withSound->sound.sampleFormat)))
        withSound = &f;
    if (withSound != nullptr) sound_ = std::make_unique<JoinedSound>(parts_, withSound->sound);
    name_ = facts_[0].name;
  }
  ~JoinedSource() override {
    // The sound's taker is gone with this source: the parts are let go.
    std::lock_guard<std::mutex> lock(parts_->m);
    parts_->parts.clear();
  }

  int Next(ImageARGB* out) override;
  int64_t Count() const override {
    int64_t n = 0;
    for (const Facts& f : facts_) {
      if (f.frames <= 0) return 0;
      n += f.frames;
    }
    return n;
  }
  bool Rate(int* num, int* den) const override {
    if (facts_[0].fpsNum <= 0) return false;
    *num = facts_[0].fpsNum, *den = facts_[0].fpsDen;
    return true;
  }
  bool VariableRate() const override { return facts_[0].fpsNum == 0; }
  bool Timed() const override { return true; }
  bool PictureSize(int* width, int* height) const override {
    *width = facts_[0].width, *height = facts_[0].height;
    return true;
  }
  bool PixelAspect(int* num, int* den) const override {
    *num = facts_[0].parNum, *den = facts_[0].parDen;
    return true;
  }
  int64_t DurationNs() const override {
    int64_t ns = 0;
    for (const Facts& f : facts_) {
      if (f.durationNs <= 0) return -1;
      ns += f.durationNs;
    }
    return ns;
  }
  int HasAlpha() const override {
    for (const Facts& f : facts_)
      if (f.hasAlpha) return 1;
    return 0;
  }
  SoundSource* Sound() override { return sound_.get(); }
  std::string SoundProblem() const override {
    for (const Facts& f : facts_)
      if (!f.soundProblem.empty()) return f.soundProblem;
    return "";
  }
  std::string CurrentName() const override { return name_; }
  std::vector<std::string> Files() const override {
    std::vector<std::string> files;
    for (const Facts& f : facts_)
      if (!IsURI(f.name)) files.push_back(f.name);
    return files;
  }
  std::vector<JoinedInput> Inputs() const {
    std::vector<JoinedInput> inputs;
    for (const Facts& f : facts_) {
      JoinedInput in;
      in.name = f.name;
      in.frames = f.frames;
      in.durationNs = f.durationNs;
      if (f.hasSound && sound_ != nullptr) {
        in.sound = SoundWords(f.sound);
        if (f.sound.sampleFormat != sound_->Format().sampleFormat)
          in.sound += " (widened to " + SampleWords(sound_->Format().sampleFormat) + ")";
      }
      in.soundProblem = f.soundProblem;
      inputs.push_back(std::move(in));
    }
    return inputs;
  }

 private:
  bool Open(size_t i);
  void EndPart();
  int64_t FramesNs(int64_t frames) const {
    return int64_t(__int128(frames) * kSecondNs * facts_[0].fpsDen / facts_[0].fpsNum);
  }

  SourceOptions options_;
  std::vector<Facts> facts_;
  std::unique_ptr<FrameSource> first_;  // the first input, opened when it was looked at
  std::shared_ptr<Parts> parts_;
  std::unique_ptr<JoinedSound> sound_;
  std::shared_ptr<FrameSource> current_;
  size_t next_ = 0;  // the input to open next
  std::string name_;
  int64_t framesBefore_ = 0;  // frames of the inputs before the current one
  int64_t offsetNs_ = 0;      // where the current input starts in joined time
  int64_t frames_ = 0;        // its frames read so far
  int64_t firstNs_ = 0;       // its own time of its first picture
  int64_t lastNs_ = -1, prevNs_ = -1, lastLengthNs_ = -1;  // its own times of the last two, the last one's length
  bool ended_ = false;
};

bool JoinedSource::Open(size_t i) {
  std::unique_ptr<FrameSource> s;
  if (i == 0) {
    s = std::move(first_);
  } else {
    SourceOptions o = options_;
    o.inputs = {facts_[i].name};
    if (!(s = OpenGstFrameSource(o, &error_))) return false;
    // The file may have changed since it was looked at.
    const Facts now = FactsOf(*s, facts_[i].name);
    std::string why = Differs(facts_[0], now);
    if (why.empty() && now.hasSound && sound_ != nullptr) {
      Facts movie = facts_[0];
      movie.sound = sound_->Format();
      why = SoundDiffers(movie, now);
    }
    if (!why.empty()) {
      error_ = why + "; it changed since it was first read";
      return false;
    }
  }
  current_ = std::move(s);
  name_ = facts_[i].name;
  frames_ = 0;
  lastNs_ = prevNs_ = lastLengthNs_ = -1;
  Part p;
  p.name = facts_[i].name;
  p.offsetNs = offsetNs_;
  if (sound_ != nullptr && current_->Sound() != nullptr) {
    p.source = current_;
    p.sound = current_->Sound();
    p.format = p.sound->Format();
  }
  std::lock_guard<std::mutex> lock(parts_->m);
  parts_->parts.push_back(std::move(p));
  return true;
}

// The current input's pictures have ended (or failed): where it ends in
// joined time, which is where the next one starts.
void JoinedSource::EndPart() {
  int64_t end = offsetNs_;
  if (frames_ > 0 && facts_[0].fpsNum > 0) {
    end = FramesNs(framesBefore_ + frames_);
  } else if (frames_ > 0) {
    int64_t length = lastLengthNs_;
    if (length <= 0 && prevNs_ >= 0 && lastNs_ > prevNs_) length = lastNs_ - prevNs_;
    if (length <= 0) length = kSecondNs / 30;
    end = offsetNs_ + (lastNs_ - firstNs_) + length;
  }
  framesBefore_ += frames_;
  offsetNs_ = end;
  std::lock_guard<std::mutex> lock(parts_->m);
  if (!parts_->parts.empty()) {
    Part& p = parts_->parts.back();
    p.endNs = p.latestEndNs = end;
    if (p.firstNs < 0) p.firstNs = 0;
  }
}

int JoinedSource::Next(ImageARGB* out) {
  while (!ended_) {
    if (current_ == nullptr) {
      if (next_ >= facts_.size() || !Open(next_)) break;
      ++next_;
    }
    const int r = current_->Next(out);
    if (r < 0) error_ = current_->Error();
    if (r != 1) {
      EndPart();
      current_.reset();
      if (r < 0) break;
      continue;
    }
    // Its own time from its first picture, placed after the inputs before it.
    if (frames_ == 0) firstNs_ = std::max<int64_t>(out->ptsNs, 0);
    const int64_t own = out->ptsNs >= 0 ? out->ptsNs - firstNs_
                                        : (facts_[0].fpsNum > 0 ? FramesNs(frames_) : std::max<int64_t>(lastNs_, 0));
    prevNs_ = lastNs_;
    lastNs_ = own + firstNs_;
    lastLengthNs_ = out->durationNs;
    out->ptsNs = offsetNs_ + own;
    ++frames_;
    {
      const int64_t length =
          out->durationNs > 0 ? out->durationNs : facts_[0].fpsNum > 0 ? FramesNs(1) : 0;
      std::lock_guard<std::mutex> lock(parts_->m);
      Part& p = parts_->parts.back();
      if (p.firstNs < 0) p.firstNs = firstNs_;
      p.latestEndNs = std::max(p.latestEndNs, out->ptsNs + length);
    }
    return 1;
  }
  ended_ = true;
  {
    std::lock_guard<std::mutex> lock(parts_->m);
    parts_->done = true;
  }
  return error_.empty() ? 0 : -1;
}

}  // namespace

std::unique_ptr<FrameSource> OpenJoinedFootage(const SourceOptions& options, std::string* error) {
  std::vector<Facts> facts;
  std::unique_ptr<FrameSource> first;
  size_t withSound = 0;  // the first input with sound, +1 (0: none yet)
  for (size_t i = 0; i < options.inputs.size(); ++i) {
    SourceOptions o = options;
    o.inputs = {options.inputs[i]};
    std::unique_ptr<FrameSource> s = OpenGstFrameSource(o, error);
    if (!s) return nullptr;
    facts.push_back(FactsOf(*s, options.inputs[i]));
    const Facts& f = facts.back();
    if (const std::string why = Differs(facts[0], f); !why.empty()) {
      *error = why;
      return nullptr;
    }
    if (f.hasSound && withSound == 0) withSound = i + 1;
    if (f.hasSound) {
      if (const std::string why = SoundDiffers(facts[withSound - 1], f); !why.empty()) {
        *error = why;
        return nullptr;
      }
    }
    // The first stays open for its frames; the others open again in turn.
    if (i == 0) first = std::move(s);
  }
  return std::make_unique<JoinedSource>(options, std::move(facts), std::move(first));
}

std::vector<JoinedInput> JoinedInputs(const FrameSource& source) {
  if (const auto* joined = dynamic_cast<const JoinedSource*>(&source)) return joined->Inputs();
  return {};
}

}  // namespace orxapp
