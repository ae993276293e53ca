// The library's movie calls over the project's movie reader and writer: one
// ORX video track, read frame by frame with its times, or written from
// frames that pass the frame check.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "ImageCompression.h"
#include "MacMemory.h"
#include "MovieFile.h"
#include "ORXHeader.h"
#include "ORXLibInternal.h"

namespace {

constexpr int32_t kMessageBytes = 512;

void CopyMessage(const char* text, char* message, size_t size) {
  if (message == nullptr || size == 0) return;
  std::snprintf(message, size, "%s", text);
}

}  // namespace

orx_error ORXLibErrorFromStatus(int32_t status) {
  switch (status) {
    case noErr: return ORX_OK;
    case paramErr: return ORX_ERROR_INVALID_ARGUMENT;
    case memFullErr: return ORX_ERROR_OUT_OF_MEMORY;
    case eofErr: return ORX_ERROR_TRUNCATED;
    case dupFNErr: return ORX_ERROR_EXISTS;
    case fnfErr:
    case ioErr:
    case permErr:
    case wrPermErr:
    case dskFulErr: return ORX_ERROR_IO;
    default: return ORX_ERROR_BAD_MOVIE;  // the reader's and writer's codes for the file's contents
  }
}

struct orx_movie_reader {
  std::mutex lock;
  HostMovieReaderRef reader = nullptr;
  orx_movie_props props{};
  int64_t* times = nullptr;  // each frame's start, in the time scale
  char message[kMessageBytes] = "";
};

struct orx_movie_writer {
  std::mutex lock;
  HostMovieWriterRef writer = nullptr;
  int32_t width = 0, height = 0;
  char message[kMessageBytes] = "";
};

namespace {

// Frame index of the reader's track: its time, duration and size; the
// handle's message says when there is no such frame.
orx_error FindFrame(orx_movie_reader* reader, int32_t index, orx_movie_frame* frame) {
  SInt64 offset = 0;
  SInt32 size = 0;
  TimeValue duration = 0;
  Boolean sync = false;
  if (index < 0 || index >= reader->props.frame_count ||
      HostMovieReaderGetSampleInfo(reader->reader, index, &offset, &size, &duration, &sync) != noErr) {
    CopyMessage("no such frame", reader->message, sizeof reader->message);
    return ORX_ERROR_INVALID_ARGUMENT;
  }
  frame->time = reader->times[index];
  frame->duration = duration;
  frame->size = static_cast<size_t>(size);
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
  char words[kMessageBytes] = "";
  HostMovieReaderRef host = nullptr;
  const OSStatus s = HostMovieReaderOpen(path, kORXCodecType, &host, words, sizeof words);
  if (s != noErr) {
    CopyMessage(words, message, message_size);
    return ORXLibErrorFromStatus(s);
  }
  auto* r = new (std::nothrow) orx_movie_reader;
  const SInt32 count = HostMovieReaderGetSampleCount(host);
  auto* times = static_cast<int64_t*>(std::malloc(sizeof(int64_t) * size_t(count > 0 ? count : 1)));
  if (r == nullptr || times == nullptr) {
    delete r;
    std::free(times);
    HostMovieReaderClose(host);
    CopyMessage("out of memory", message, message_size);
    return ORX_ERROR_OUT_OF_MEMORY;
  }
  int64_t t = 0;
  for (SInt32 i = 0; i < count; ++i) {
    SInt64 offset = 0;
    SInt32 size = 0;
    TimeValue duration = 0;
    Boolean sync = false;
    HostMovieReaderGetSampleInfo(host, i, &offset, &size, &duration, &sync);
    times[i] = t;
    t += duration;
  }
  ImageDescriptionHandle desc = HostMovieReaderGetImageDescription(host);
  r->reader = host;
  r->times = times;
  r->props.width = (**desc).width;
  r->props.height = (**desc).height;
  r->props.frame_count = count;
  r->props.time_scale = HostMovieReaderGetTimeScale(host);
  r->props.duration = HostMovieReaderGetDuration(host);
  r->props.max_frame_size = static_cast<size_t>(HostMovieReaderGetMaxSampleSize(host));
  *reader = r;
  return ORX_OK;
}

void orx_movie_close(orx_movie_reader* reader) {
  if (reader == nullptr) return;
  HostMovieReaderClose(reader->reader);
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
  const SInt32 room = buffer_size > size_t{INT32_MAX} ? INT32_MAX : static_cast<SInt32>(buffer_size);
  SInt32 got = 0;
  const OSStatus s = HostMovieReaderReadSample(reader->reader, index, buffer, room, &got);
  CopyMessage(s == noErr ? "" : HostMovieReaderGetErrorMessage(reader->reader), reader->message,
              sizeof reader->message);
  if (s != noErr) return ORXLibErrorFromStatus(s);
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
  if (path == nullptr || width < 1 || height < 1 || width > 32767 || height > 32767 || time_scale < 1 ||
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
  ImageDescriptionHandle desc =
      HostNewImageDescription(kORXCodecType, static_cast<SInt16>(width), static_cast<SInt16>(height), "ORX");
  if (w == nullptr || desc == nullptr) {
    delete w;
    if (desc != nullptr) DisposeHandle(reinterpret_cast<Handle>(desc));
    CopyMessage("out of memory", message, message_size);
    return ORX_ERROR_OUT_OF_MEMORY;
  }
  char words[kMessageBytes] = "";
  const OSStatus s = HostMovieWriterCreateWithError(path, desc, time_scale, &w->writer, words, sizeof words);
  DisposeHandle(reinterpret_cast<Handle>(desc));  // the writer keeps a copy
  if (s != noErr) {
    delete w;
    CopyMessage(words, message, message_size);
    return ORXLibErrorFromStatus(s);
  }
  HostMovieWriterSetReplaceExisting(w->writer, replace);
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
                  int(HostMovieWriterGetSampleCount(writer->writer)) + 1, int(writer->width), int(writer->height),
                  ORXFrameErrorMessage(problem));
    return ORX_ERROR_BAD_FRAME;
  }
  const OSStatus s =
      HostMovieWriterAddSample(writer->writer, frame, static_cast<SInt32>(frame_size), static_cast<TimeValue>(duration));
  CopyMessage(s == noErr ? "" : HostMovieWriterGetErrorMessage(writer->writer), writer->message,
              sizeof writer->message);
  return ORXLibErrorFromStatus(s);
}

orx_error orx_movie_finish(orx_movie_writer* writer, char* message, size_t message_size) {
  CopyMessage("", message, message_size);
  if (writer == nullptr) return ORX_ERROR_INVALID_ARGUMENT;
  if (HostMovieWriterGetSampleCount(writer->writer) == 0) {
    CopyMessage("the movie has no frames", message, message_size);
    orx_movie_abort(writer);
    return ORX_ERROR_NO_FRAMES;
  }
  char words[kMessageBytes] = "";
  const OSStatus s = HostMovieWriterFinishWithError(writer->writer, words, sizeof words);
  writer->writer = nullptr;  // released by the host whatever the result
  delete writer;
  CopyMessage(words, message, message_size);
  return ORXLibErrorFromStatus(s);
}

void orx_movie_abort(orx_movie_writer* writer) {
  if (writer == nullptr) return;
  HostMovieWriterAbort(writer->writer);
  delete writer;
}

const char* orx_movie_writer_message(orx_movie_writer* writer) {
  return writer == nullptr ? "" : writer->message;
}

}  // extern "C"
