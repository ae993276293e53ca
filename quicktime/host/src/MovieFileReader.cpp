// The host's movie reader calls (MovieFile.h) over the movie module's
// reader: its statuses as QuickTime's, its image facts as the image
// description the reader owns.
#include <new>
#include <string>

#include "MacMemory.h"
#include "movie/MovieReader.h"
#include "MovieFile.h"
#include "quicktime/host/src/MovieFileAdapters.h"

struct OpaqueHostMovieReader {
  orxmovie::Reader movie;
  ImageDescriptionHandle desc = nullptr;

  ~OpaqueHostMovieReader() { DisposeHandle(reinterpret_cast<Handle>(desc)); }
};

extern "C" {

OSStatus HostMovieReaderOpen(const char* path, CodecType cType, HostMovieReaderRef* readerOut, char* errorMessage,
                             SInt32 errorSize) {
  if (readerOut == nullptr || path == nullptr) {
    HostMovieCopyMessage("missing path or reader", errorMessage, errorSize);
    return paramErr;
  }
  *readerOut = nullptr;
  auto* r = new (std::nothrow) OpaqueHostMovieReader;
  if (r == nullptr) {
    HostMovieCopyMessage("out of memory", errorMessage, errorSize);
    return memFullErr;
  }
  std::string message;
  orxmovie::Status s = r->movie.Open(path, cType, &message);
  if (s == orxmovie::Status::ok) {
    r->desc = HostMovieNewImageDescription(r->movie.Facts().image);
    if (r->desc != nullptr) {
      *readerOut = r;
      HostMovieCopyMessage("", errorMessage, errorSize);
      return noErr;
    }
    s = orxmovie::Status::outOfMemory;
  }
  delete r;
  HostMovieCopyMessage(s == orxmovie::Status::outOfMemory && message.empty() ? "out of memory" : message.c_str(),
                       errorMessage, errorSize);
  return HostMovieStatus(s);
}

void HostMovieReaderClose(HostMovieReaderRef r) { delete r; }

ImageDescriptionHandle HostMovieReaderGetImageDescription(HostMovieReaderRef r) { return r ? r->desc : nullptr; }
SInt32 HostMovieReaderGetTrackCount(HostMovieReaderRef r) { return r ? r->movie.Facts().trackCount : 0; }
SInt32 HostMovieReaderGetTrackID(HostMovieReaderRef r) { return r ? r->movie.Facts().trackID : 0; }
TimeScale HostMovieReaderGetTimeScale(HostMovieReaderRef r) { return r ? TimeScale(r->movie.Facts().timeScale) : 0; }
TimeValue64 HostMovieReaderGetDuration(HostMovieReaderRef r) { return r ? TimeValue64(r->movie.Facts().duration) : 0; }
SInt32 HostMovieReaderGetSampleCount(HostMovieReaderRef r) { return r ? SInt32(r->movie.Facts().sampleCount) : 0; }
SInt32 HostMovieReaderGetMaxSampleSize(HostMovieReaderRef r) { return r ? SInt32(r->movie.Facts().maxSampleSize) : 0; }

OSStatus HostMovieReaderGetSampleInfo(HostMovieReaderRef r, SInt32 index, SInt64* offset, SInt32* size,
                                      TimeValue* duration, Boolean* isSync) {
  orxmovie::SampleSpan span;
  if (r == nullptr || !r->movie.Sample(index, &span)) return paramErr;
  if (offset != nullptr) *offset = SInt64(span.offset);
  if (size != nullptr) *size = SInt32(span.size);
  if (duration != nullptr) *duration = TimeValue(span.duration);
  if (isSync != nullptr) *isSync = span.sync;
  return noErr;
}

OSStatus HostMovieReaderReadSample(HostMovieReaderRef r, SInt32 index, void* buffer, SInt32 bufferSize,
                                   SInt32* sizeOut) {
  if (r == nullptr) return paramErr;
  uint32_t size = 0;
  const orxmovie::Status s = r->movie.ReadSample(index, buffer, bufferSize, &size);
  if (s == orxmovie::Status::ok && sizeOut != nullptr) *sizeOut = SInt32(size);
  return HostMovieStatus(s);
}

const char* HostMovieReaderGetErrorMessage(HostMovieReaderRef r) { return r ? r->movie.Error() : ""; }

Boolean HostMovieReaderGetSound(HostMovieReaderRef r, HostSoundFormat* format, SInt64* frameCount) {
  orxmovie::SoundFormat f;
  uint64_t frames = 0;
  if (r == nullptr || !r->movie.Sound(&f, &frames)) return false;
  if (format != nullptr) *format = HostSoundFormat{f.sampleRate, f.channels, f.sampleFormat};
  if (frameCount != nullptr) *frameCount = SInt64(frames);
  return true;
}

const char* HostMovieReaderGetSoundProblem(HostMovieReaderRef r) { return r != nullptr ? r->movie.SoundProblem() : ""; }

OSStatus HostMovieReaderReadSound(HostMovieReaderRef r, SInt64 firstFrame, SInt32 frameCount, void* buffer) {
  if (r == nullptr) return paramErr;
  return HostMovieStatus(r->movie.ReadSound(firstFrame, frameCount, buffer));
}

OSStatus HostMovieCheckSoundTracks(const char* path, char* errorMessage, SInt32 errorSize) {
  HostMovieCopyMessage("", errorMessage, errorSize);
  std::string message;
  const orxmovie::Status s = orxmovie::CheckSoundTracks(path, &message);
  if (s != orxmovie::Status::ok) HostMovieCopyMessage(message.c_str(), errorMessage, errorSize);
  return HostMovieStatus(s);
}

}  // extern "C"
