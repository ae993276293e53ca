// The library's movie calls over the movie module (movie/): one ORX video
// track, read frame by frame with its times, or written from frames that
// pass the frame check.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "core/Format/ORXHeader.h"
#include "ORXLibInternal.h"
#include "movie/MovieReader.h"
#include "movie/MovieWriter.h"

namespace {

constexpr int32_t kMessageBytes = 512;

void CopyMessage(const char* text, char* message, size_t size) {
  if (message == nullptr || size == 0) return;
  std::snprintf(message, size, "%s", text);
}

orx_error ErrorOf(orxmovie::Status status) {
  using orxmovie::Status;
  switch (status) {
    case Status::ok: return ORX_OK;
    case Status::badArgument: return ORX_ERROR_INVALID_ARGUMENT;
    case Status::outOfMemory: return ORX_ERROR_OUT_OF_MEMORY;
    case Status::endOfFile: return ORX_ERROR_TRUNCATED;
    case Status::fileExists: return ORX_ERROR_EXISTS;
    case Status::fileNotFound:
    case Status::ioError:
    case Status::noPermission:
    case Status::readOnly:
    case Status::diskFull: return ORX_ERROR_IO;
    case Status::badDescription:
    case Status::invalidTrack:
    case Status::invalidMovie:
    case Status::invalidSampleTable:
    case Status::noMovie: break;
  }
  return ORX_ERROR_BAD_MOVIE;  // the reader's and writer's statuses for the file's contents
}

// The sample description of an ORX movie: 72 dpi, one frame a sample, 32-bit
// depth, no colour table, named "ORX".
orxmovie::ImageFacts OrxImage(int width, int height) {
  orxmovie::ImageFacts image;
  image.codecType = kORXCodecType;
  image.dataRefIndex = 1;
  image.width = static_cast<int16_t>(width);
  image.height = static_cast<int16_t>(height);
  image.hRes = image.vRes = 72 << 16;
  image.frameCount = 1;
  image.depth = 32;
  image.clutID = -1;
  static constexpr char kName[] = "ORX";
  image.name[0] = sizeof kName - 1;
  std::memcpy(image.name + 1, kName, sizeof kName - 1);
  return image;
}

// The library's sound format as the module's; false when out of range.
bool ModuleFormat(const orx_sound_format& in, orxmovie::SoundFormat* out) {
  out->sampleRate = in.sample_rate > 0 ? uint32_t(in.sample_rate) : 0;
  out->channels = in.channels > 0 ? uint32_t(in.channels) : 0;
  out->sampleFormat = uint32_t(in.sample_format);
  return orxmovie::SoundBytesPerFrame(*out) != 0;
}

}  // namespace

struct orx_movie_reader {
  std::mutex lock;
  orxmovie::Reader reader;
  orx_movie_props props{};
  int64_t* times = nullptr;  // each frame's start, in the time scale
  char message[kMessageBytes] = "";
};

struct orx_movie_writer {
  std::mutex lock;
  orxmovie::Writer writer;
  int32_t width = 0, height = 0;
  char message[kMessageBytes] = "";
};

namespace {

// Frame index of the reader's track: its time, duration and size; the
// handle's message says when there is no such frame.
orx_error FindFrame(orx_movie_reader* reader, int32_t index, orx_movie_frame* frame) {
  orxmovie::SampleSpan span;
  if (index < 0 || index >= reader->props.frame_count || !reader->reader.Sample(index, &span)) {
    CopyMessage("no such frame", reader->message, sizeof reader->message);
    return ORX_ERROR_INVALID_ARGUMENT;
  }
  frame->time = reader->times[index];
  frame->duration = span.duration;
  frame->size = static_cast<size_t>(span.size);
  return ORX_OK;
}

}  // namespace

extern "C" {

orx_error orx_movie_open(const char* path, orx_movie_reader** reader, char* message, size_t message_size) {
  CopyMessage("", message, message_size);
  if (reader == nullptr || path == nullptr) {
    CopyMessage("missing path or reader", message, message_size);
    return ORX_ERROR_INVALID_ARGUMENT;
  }
  *reader = nullptr;
  auto* r = new (std::nothrow) orx_movie_reader;
  if (r == nullptr) {
    CopyMessage("out of memory", message, message_size);
    return ORX_ERROR_OUT_OF_MEMORY;
  }
  std::string words;
  const orxmovie::Status s = r->reader.Open(path, kORXCodecType, &words);
  if (s != orxmovie::Status::ok) {
    delete r;
    CopyMessage(s == orxmovie::Status::outOfMemory && words.empty() ? "out of memory" : words.c_str(), message,
                message_size);
    return ErrorOf(s);
  }
  const orxmovie::TrackFacts& facts = r->reader.Facts();
  const uint32_t count = facts.sampleCount;  // at most INT32_MAX: the reader refuses more
  r->times = static_cast<int64_t*>(std::malloc(sizeof(int64_t) * size_t(count > 0 ? count : 1)));
  if (r->times == nullptr) {
    delete r;
    CopyMessage("out of memory", message, message_size);
    return ORX_ERROR_OUT_OF_MEMORY;
  }
  int64_t t = 0;
  for (uint32_t i = 0; i < count; ++i) {
    orxmovie::SampleSpan span;
    r->reader.Sample(i, &span);
    r->times[i] = t;
    t += span.duration;
  }
  r->props.width = facts.image.width;
  r->props.height = facts.image.height;
  r->props.frame_count = int32_t(count);
  r->props.time_scale = int32_t(facts.timeScale);
  r->props.duration = int64_t(facts.duration);
  r->props.max_frame_size = facts.maxSampleSize;
  *reader = r;
  return ORX_OK;
}

void orx_movie_close(orx_movie_reader* reader) {
  if (reader == nullptr) return;
  std::free(reader->times);
  delete reader;
}

orx_error orx_movie_get_props(orx_movie_reader* reader, orx_movie_props* props) {
  if (reader == nullptr || props == nullptr) return ORX_ERROR_INVALID_ARGUMENT;
  *props = reader->props;  // fixed at open
  return ORX_OK;
}

orx_error orx_movie_get_frame(orx_movie_reader* reader, int32_t index, orx_movie_frame* frame) {
  if (reader == nullptr || frame == nullptr) return ORX_ERROR_INVALID_ARGUMENT;
  std::lock_guard<std::mutex> hold(reader->lock);
  return FindFrame(reader, index, frame);
}

orx_error orx_movie_read_frame(orx_movie_reader* reader, int32_t index, void* buffer, size_t buffer_size,
                               size_t* size) {
  if (reader == nullptr || buffer == nullptr || size == nullptr) return ORX_ERROR_INVALID_ARGUMENT;
  std::lock_guard<std::mutex> hold(reader->lock);
  *size = 0;
  orx_movie_frame frame;
  const orx_error found = FindFrame(reader, index, &frame);
  if (found != ORX_OK) return found;
  if (buffer_size < frame.size) {
    CopyMessage("the buffer is smaller than the frame", reader->message, sizeof reader->message);
    return ORX_ERROR_BUFFER_TOO_SMALL;
  }
  const int64_t room = buffer_size > size_t{INT32_MAX} ? INT32_MAX : static_cast<int64_t>(buffer_size);
  uint32_t got = 0;
  const orxmovie::Status s = reader->reader.ReadSample(index, buffer, room, &got);
  CopyMessage(s == orxmovie::Status::ok ? "" : reader->reader.Error(), reader->message, sizeof reader->message);
  if (s != orxmovie::Status::ok) return ErrorOf(s);
  *size = static_cast<size_t>(got);
  return ORX_OK;
}

const char* orx_movie_reader_message(orx_movie_reader* reader) {
  return reader == nullptr ? "" : reader->message;
}

orx_error orx_movie_create(const char* path, int width, int height, int32_t time_scale, int flags,
                           orx_movie_writer** writer, char* message, size_t message_size) {
  CopyMessage("", message, message_size);
  if (writer == nullptr) return ORX_ERROR_INVALID_ARGUMENT;
  *writer = nullptr;
  if (path == nullptr || width < 1 || height < 1 || width > kORXMaxSide || height > kORXMaxSide || time_scale < 1 ||
      (flags & ~ORX_MOVIE_REPLACE) != 0) {
    CopyMessage("missing path, or a size, time scale or flag out of range", message, message_size);
    return ORX_ERROR_INVALID_ARGUMENT;
  }
  const bool replace = (flags & ORX_MOVIE_REPLACE) != 0;
  // Refused now rather than after every frame has been written. Only a
  // regular file is ever replaced: a FIFO or device at the path (or behind
  // a link there) would be lost to a movie that was never its to replace.
  struct stat st;
  if (stat(path, &st) == 0 && S_ISDIR(st.st_mode)) {
    CopyMessage("is a folder", message, message_size);
    return ORX_ERROR_IO;
  }
  if (stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
    CopyMessage("is not a regular file; only a regular file is replaced by a movie", message, message_size);
    return ORX_ERROR_IO;
  }
  if (!replace && lstat(path, &st) == 0) {
    CopyMessage("exists; replacing it was not asked for", message, message_size);
    return ORX_ERROR_EXISTS;
  }
  auto* w = new (std::nothrow) orx_movie_writer;
  if (w == nullptr) {
    CopyMessage("out of memory", message, message_size);
    return ORX_ERROR_OUT_OF_MEMORY;
  }
  const orxmovie::Status s = w->writer.Create(path, OrxImage(width, height), time_scale);
  if (s != orxmovie::Status::ok) {
    CopyMessage(w->writer.Error(), message, message_size);
    delete w;
    return ErrorOf(s);
  }
  w->writer.SetReplaceExisting(replace);
  w->width = width;
  w->height = height;
  *writer = w;
  return ORX_OK;
}

orx_error orx_movie_add_frame(orx_movie_writer* writer, const void* frame, size_t frame_size, int32_t duration) {
  if (writer == nullptr || frame == nullptr || duration < 1 || frame_size > size_t{INT32_MAX})
    return ORX_ERROR_INVALID_ARGUMENT;
  std::lock_guard<std::mutex> hold(writer->lock);
  // As a decoder checks it, packed sections proven to unpack to the
  // movie's size: a frame of another size is refused here, not at playback.
  const ORXFrameError problem = CheckORXFrameData(static_cast<const uint8_t*>(frame),
                                                  static_cast<int64_t>(frame_size), writer->width, writer->height,
                                                  nullptr);
  if (problem != ORXFrameError::none) {
    std::snprintf(writer->message, sizeof writer->message, "frame %d: not an ORX frame of %dx%d: %s",
                  int(writer->writer.SampleCount()) + 1, int(writer->width), int(writer->height),
                  ORXFrameErrorMessage(problem));
    return ORX_ERROR_BAD_FRAME;
  }
  const orxmovie::Status s = writer->writer.AddSample(frame, static_cast<int64_t>(frame_size), duration);
  CopyMessage(s == orxmovie::Status::ok ? "" : writer->writer.Error(), writer->message, sizeof writer->message);
  return ErrorOf(s);
}

orx_error orx_movie_finish(orx_movie_writer* writer, char* message, size_t message_size) {
  CopyMessage("", message, message_size);
  if (writer == nullptr) return ORX_ERROR_INVALID_ARGUMENT;
  if (writer->writer.SampleCount() == 0) {
    CopyMessage("the movie has no frames", message, message_size);
    orx_movie_abort(writer);
    return ORX_ERROR_NO_FRAMES;
  }
  const orxmovie::Status s = writer->writer.Finish();  // spends the movie whatever the result
  CopyMessage(writer->writer.Error(), message, message_size);
  delete writer;
  return ErrorOf(s);
}

void orx_movie_abort(orx_movie_writer* writer) {
  delete writer;  // the module removes the unfinished movie
}

const char* orx_movie_writer_message(orx_movie_writer* writer) {
  return writer == nullptr ? "" : writer->message;
}

size_t orx_sound_frame_size(const orx_sound_format* format) {
  orxmovie::SoundFormat f;
  return format == nullptr || !ModuleFormat(*format, &f) ? 0 : orxmovie::SoundBytesPerFrame(f);
}

orx_error orx_movie_get_sound(orx_movie_reader* reader, orx_sound_format* format, int64_t* frame_count) {
  if (reader == nullptr || format == nullptr || frame_count == nullptr) return ORX_ERROR_INVALID_ARGUMENT;
  std::lock_guard<std::mutex> hold(reader->lock);
  orxmovie::SoundFormat f;
  uint64_t frames = 0;
  if (!reader->reader.Sound(&f, &frames)) {
    CopyMessage(reader->reader.SoundProblem(), reader->message, sizeof reader->message);
    return ORX_ERROR_NO_SOUND;
  }
  format->sample_rate = int32_t(f.sampleRate);
  format->channels = int32_t(f.channels);
  format->sample_format = static_cast<orx_sample_format>(f.sampleFormat);
  *frame_count = int64_t(frames);
  return ORX_OK;
}

orx_error orx_movie_read_sound(orx_movie_reader* reader, int64_t first_frame, int64_t frame_count, void* buffer,
                               size_t buffer_size) {
  if (reader == nullptr || buffer == nullptr) return ORX_ERROR_INVALID_ARGUMENT;
  std::lock_guard<std::mutex> hold(reader->lock);
  orxmovie::SoundFormat f;
  uint64_t frames = 0;
  if (!reader->reader.Sound(&f, &frames)) {
    CopyMessage("the movie has no sound track the library reads", reader->message, sizeof reader->message);
    return ORX_ERROR_NO_SOUND;
  }
  if (first_frame < 0 || frame_count < 0 || uint64_t(first_frame) > frames || uint64_t(frame_count) > frames - uint64_t(first_frame)) {
    std::snprintf(reader->message, sizeof reader->message, "sound frames %lld to %lld asked for, the track has %llu",
                  (long long)first_frame, (long long)first_frame + frame_count - 1, (unsigned long long)frames);
    return ORX_ERROR_INVALID_ARGUMENT;
  }
  if (uint64_t(frame_count) > buffer_size / orxmovie::SoundBytesPerFrame(f)) {
    CopyMessage("the buffer is smaller than the sound asked for", reader->message, sizeof reader->message);
    return ORX_ERROR_BUFFER_TOO_SMALL;
  }
  const orxmovie::Status s = reader->reader.ReadSound(first_frame, frame_count, buffer);
  CopyMessage(s == orxmovie::Status::ok ? "" : reader->reader.Error(), reader->message, sizeof reader->message);
  return ErrorOf(s);
}

orx_error orx_movie_add_sound_track(orx_movie_writer* writer, const orx_sound_format* format) {
  if (writer == nullptr || format == nullptr) return ORX_ERROR_INVALID_ARGUMENT;
  std::lock_guard<std::mutex> hold(writer->lock);
  orxmovie::SoundFormat f;
  if (!ModuleFormat(*format, &f)) {
    std::snprintf(writer->message, sizeof writer->message,
                  "sound of %d Hz, %d channels, %d-bit samples: the rate must be 1 to 384000, the channels 1 to 64, "
                  "the samples ORX_SAMPLE_S16, S24 or F32",
                  int(format->sample_rate), int(format->channels), int(format->sample_format));
    return ORX_ERROR_INVALID_ARGUMENT;
  }
  const orxmovie::Status s = writer->writer.AddSoundTrack(f);
  CopyMessage(s == orxmovie::Status::ok ? "" : writer->writer.Error(), writer->message, sizeof writer->message);
  return ErrorOf(s);
}

orx_error orx_movie_add_sound(orx_movie_writer* writer, const void* frames, int64_t frame_count) {
  if (writer == nullptr || (frames == nullptr && frame_count > 0) || frame_count < 0) return ORX_ERROR_INVALID_ARGUMENT;
  std::lock_guard<std::mutex> hold(writer->lock);
  const orxmovie::Status s = writer->writer.AddSound(frames, frame_count);
  CopyMessage(s == orxmovie::Status::ok ? "" : writer->writer.Error(), writer->message, sizeof writer->message);
  return ErrorOf(s);
}

}  // extern "C"
