// orx encode's sources for footage GStreamer decodes: its pictures as a
// FrameSource, its sound (or another file's) as a SoundSource.
#include <memory>

#include "GstMedia.h"
#include "Sources.h"

namespace orxapp {

namespace {

// A movie whose sound track is damaged as GStreamer's demuxer has been seen
// to crash on (no channels, a sample-to-chunk table out of order) is
// refused before GStreamer reads it: "" when the file may go on.
std::string SoundTrackDamage(const std::string& input) {
  char why[512] = "";
  if (IsURI(input) || HostMovieCheckSoundTracks(input.c_str(), why, sizeof why) == noErr) return "";
  return input + ": its sound track is damaged: " + why;
}

// Sound pulled from a GStreamer pipeline: the pictures' own (shared with the
// frame source) or a file of its own.
class GstSound : public SoundSource {
 public:
  GstSound(std::shared_ptr<GstMedia> media, std::string name) : media_(std::move(media)), name_(std::move(name)) {}
  HostSoundFormat Format() const override { return media_->Info().sound; }
  int Take(std::vector<uint8_t>* out, int64_t* firstNs, int waitMs) override {
    std::string err;
    const int r = media_->TakeSound(out, firstNs, waitMs, &err);
    if (r < 0) error_ = name_ + ": " + err;
    return r;
  }
  std::string Name() const override { return name_; }
  std::string ConvertedFrom() const override { return media_->Info().soundFrom; }
  int64_t LostNs(std::string* why) const override { return media_->SoundLost(why); }

 private:
  std::shared_ptr<GstMedia> media_;
  std::string name_;
};

class GstFrameSource : public FrameSource {
 public:
  GstFrameSource(std::shared_ptr<GstMedia> media, std::string name, bool isFile)
      : media_(std::move(media)), name_(std::move(name)), isFile_(isFile) {
    if (media_->Info().hasSound) sound_ = std::make_unique<GstSound>(media_, name_);
  }
  int Next(ImageARGB* out) override {
    int64_t pts = -1;
    std::string err;
    const int r = media_->NextFrame(out, &pts, &err);
    if (r < 0) error_ = name_ + ": " + err + (read_ > 0 ? " (after frame " + std::to_string(read_) + ")" : "");
    if (r == 1) {
      out->ptsNs = pts;
      ++read_;
    }
    return r;
  }
  // Estimated from the duration and the rate, for the progress display.
  int64_t Count() const override {
    const GstMediaInfo& i = media_->Info();
    if (i.durationNs <= 0 || i.fpsNum <= 0) return 0;
    return (i.durationNs * i.fpsNum / i.fpsDen + 500000000) / 1000000000;
  }
  bool Rate(int* num, int* den) const override {
    const GstMediaInfo& i = media_->Info();
    if (i.fpsNum <= 0) return false;
    *num = i.fpsNum;
    *den = i.fpsDen;
    return true;
  }
  bool VariableRate() const override { return media_->Info().fpsNum == 0; }
  bool Timed() const override { return true; }
  bool PictureSize(int* width, int* height) const override {
    *width = media_->Info().width;
    *height = media_->Info().height;
    return *width > 0 && *height > 0;
  }
  bool Endless() const override { return media_->Info().live; }
  bool PixelAspect(int* num, int* den) const override {
    *num = media_->Info().parNum;
    *den = media_->Info().parDen;
    return true;
  }
  int64_t DurationNs() const override { return media_->Info().durationNs; }
  int HasAlpha() const override { return media_->Info().hasAlpha ? 1 : 0; }
  SoundSource* Sound() override { return sound_.get(); }
  std::string SoundProblem() const override { return media_->Info().soundProblem; }
  std::string CurrentName() const override { return name_; }
  std::vector<std::string> Files() const override {
    if (isFile_) return {name_};
    return {};
  }

 private:
  std::shared_ptr<GstMedia> media_;
  std::string name_;
  bool isFile_;
  std::unique_ptr<GstSound> sound_;
  int64_t read_ = 0;
};

}  // namespace

std::unique_ptr<FrameSource> OpenGstFrameSource(const SourceOptions& o, std::string* error) {
  const std::string& input = o.inputs[0];
  auto media = std::make_shared<GstMedia>();
  GstMediaRequest request;
  request.input = input;
  request.videoStream = o.videoStream;
  request.sound = o.sound;
  if (*error = SoundTrackDamage(input); !error->empty()) return nullptr;
  if (!media->Open(request, error)) {
    const bool unknown = error->find("what kind of file") != std::string::npos;
    *error = input + ": " + *error +
             (unknown && !IsURI(input) ? " (nor is it a PNG image or a YUV4MPEG2 stream; raw ARGB input needs --size WxH)" : "");
    return nullptr;
  }
  return std::make_unique<GstFrameSource>(std::move(media), input, !IsURI(input));
}

bool ReadStillPicture(const std::string& path, ImageARGB* out, std::string* error) {
  GstMedia media;
  GstMediaRequest request;
  request.input = path;
  if (!media.Open(request, error)) return false;
  int64_t pts = -1;
  const int r = media.NextFrame(out, &pts, error);
  if (r == 0) *error = "holds no picture";
  out->ptsNs = -1;
  out->durationNs = -1;
  return r == 1;
}

std::unique_ptr<SoundSource> OpenSoundFile(const std::string& path, std::string* error) {
  auto media = std::make_shared<GstMedia>();
  GstMediaRequest request;
  request.input = path;
  request.videoStream = 0;
  request.sound = true;
  request.soundOnly = true;
  if (*error = SoundTrackDamage(path); !error->empty()) return nullptr;
  if (!media->Open(request, error)) {
    *error = path + ": " + *error;
    return nullptr;
  }
  return std::make_unique<GstSound>(std::move(media), path);
}

}  // namespace orxapp
