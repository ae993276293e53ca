#include "MovieInput.h"

#include "Cli.h"
#include "Codec.h"

namespace orxapp {

bool OpenMovie(const std::string& path, Movie* m, std::string* error) {
  char message[512] = {};
  const OSStatus s = HostMovieReaderOpen(path.c_str(), kORXCodecType, &m->reader, message, sizeof message);
  if (s != noErr) {
    *error = path + ": " + (message[0] ? message : StatusText(s));
    return false;
  }
  return true;
}

bool ReadSample(const std::string& path, HostMovieReaderRef r, int index, std::vector<uint8_t>* buf,
                std::string* error) {
  SInt64 offset = 0;
  SInt32 size = 0;
  TimeValue duration = 0;
  Boolean sync = 0;
  HostMovieReaderGetSampleInfo(r, index, &offset, &size, &duration, &sync);
  buf->resize(size_t(size > 0 ? size : 0));
  SInt32 got = 0;
  const OSStatus s = HostMovieReaderReadSample(r, index, buf->data(), SInt32(buf->size()), &got);
  if (s != noErr) {
    const char* m = HostMovieReaderGetErrorMessage(r);
    *error = path + ": frame " + std::to_string(index) + ": " + (m && *m ? m : StatusText(s));
    return false;
  }
  buf->resize(size_t(got));
  return true;
}

void MovieRate(HostMovieReaderRef r, int* num, int* den) {
  ReduceRate(int64_t(HostMovieReaderGetSampleCount(r)) * HostMovieReaderGetTimeScale(r), HostMovieReaderGetDuration(r),
             num, den);
}

}  // namespace orxapp
