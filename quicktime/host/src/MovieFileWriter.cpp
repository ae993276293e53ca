// The host's movie writer calls (MovieFile.h) over the movie module's
// writer: the image description handed in as its plain facts, its statuses
// as QuickTime's.
#include <cstdio>
#include <new>
#include <string>

#include "MacMemory.h"
#include "movie/MovieWriter.h"
#include "MovieFile.h"
#include "quicktime/host/src/MovieFileAdapters.h"

struct OpaqueHostMovieWriter {
  orxmovie::Writer movie;
};

namespace {

orxmovie::SoundFormat Plain(const HostSoundFormat& f) { return {f.sampleRate, f.channels, f.sampleFormat}; }

// The image description's facts, with why it cannot be stored in *error.
OSStatus Describe(const char* path, ImageDescriptionHandle desc, TimeScale timeScale, HostMovieWriterRef* writerOut,
                  orxmovie::ImageFacts* image, std::string* error) {
  if (writerOut == nullptr || path == nullptr || *path == '\0' || desc == nullptr || *desc == nullptr) {
    *error = "missing path, image description or writer";
    return paramErr;
  }
  if (timeScale <= 0) {
    char words[64];
    std::snprintf(words, sizeof words, "the time scale is %d", int(timeScale));
    *error = words;
    return paramErr;
  }
  return HostMovieImageFacts(desc, image, error) ? noErr : paramErr;
}

}  // namespace

extern "C" {

OSStatus HostMovieWriterCreateWithError(const char* path, ImageDescriptionHandle desc, TimeScale timeScale,
                                        HostMovieWriterRef* writerOut, char* errorMessage, SInt32 errorSize) {
  if (writerOut != nullptr) *writerOut = nullptr;
  std::string error;
  OSStatus s;
  try {
    orxmovie::ImageFacts image;
    s = Describe(path, desc, timeScale, writerOut, &image, &error);
    if (s == noErr) {
      auto* w = new OpaqueHostMovieWriter;
      s = HostMovieStatus(w->movie.Create(path, image, timeScale));
      if (s == noErr) {
        *writerOut = w;
      } else {
        error = w->movie.Error();
        delete w;
      }
    }
  } catch (const std::bad_alloc&) {
    s = memFullErr;
  }
  if (s == memFullErr && error.empty()) error = "out of memory";
  HostMovieCopyMessage(s == noErr ? "" : error.c_str(), errorMessage, errorSize);
  return s;
}

OSStatus HostMovieWriterCreate(const char* path, ImageDescriptionHandle desc, TimeScale timeScale,
                               HostMovieWriterRef* writerOut) {
  return HostMovieWriterCreateWithError(path, desc, timeScale, writerOut, nullptr, 0);
}

OSStatus HostMovieWriterAddSample(HostMovieWriterRef w, const void* data, SInt32 dataSize, TimeValue duration) {
  if (w == nullptr) return paramErr;
  return HostMovieStatus(w->movie.AddSample(data, dataSize, duration));
}

UInt32 HostSoundBytesPerFrame(const HostSoundFormat* f) { return f != nullptr ? orxmovie::SoundBytesPerFrame(Plain(*f)) : 0; }

OSStatus HostMovieWriterAddSoundTrack(HostMovieWriterRef w, const HostSoundFormat* format) {
  if (w == nullptr || format == nullptr) return paramErr;
  return HostMovieStatus(w->movie.AddSoundTrack(Plain(*format)));
}

OSStatus HostMovieWriterAddSound(HostMovieWriterRef w, const void* frames, SInt32 frameCount) {
  if (w == nullptr) return paramErr;
  return HostMovieStatus(w->movie.AddSound(frames, frameCount));
}

SInt64 HostMovieWriterGetSoundFrameCount(HostMovieWriterRef w) { return w ? SInt64(w->movie.SoundFrameCount()) : 0; }

SInt32 HostMovieWriterGetSampleCount(HostMovieWriterRef w) { return w ? SInt32(w->movie.SampleCount()) : 0; }

SInt64 HostMovieWriterGetFileSize(HostMovieWriterRef w) { return w ? SInt64(w->movie.FileSize()) : 0; }

OSStatus HostMovieWriterFinishWithError(HostMovieWriterRef w, char* errorMessage, SInt32 errorSize) {
  if (w == nullptr) {
    HostMovieCopyMessage("no movie writer", errorMessage, errorSize);
    return paramErr;
  }
  const OSStatus s = HostMovieStatus(w->movie.Finish());
  HostMovieCopyMessage(w->movie.Error(), errorMessage, errorSize);
  delete w;
  return s;
}

OSStatus HostMovieWriterFinish(HostMovieWriterRef w) { return HostMovieWriterFinishWithError(w, nullptr, 0); }

void HostMovieWriterAbort(HostMovieWriterRef w) { delete w; }  // the module removes the temporary file

const char* HostMovieWriterGetErrorMessage(HostMovieWriterRef w) { return w ? w->movie.Error() : ""; }

const char* HostMovieWriterGetTemporaryPath(HostMovieWriterRef w) { return w ? w->movie.TemporaryPath() : ""; }

Boolean HostMoveFileIntoPlace(const char* temp, const char* path, Boolean replace) {
  return orxmovie::MoveFileIntoPlace(temp, path, replace != 0);
}

void HostMovieWriterSetReplaceExisting(HostMovieWriterRef w, Boolean replace) {
  if (w != nullptr) w->movie.SetReplaceExisting(replace != 0);
}

void HostMovieWriterSetLargeFileThreshold(HostMovieWriterRef w, SInt64 bytes) {
  if (w != nullptr) w->movie.SetLargeFileThreshold(bytes);
}

}  // extern "C"
