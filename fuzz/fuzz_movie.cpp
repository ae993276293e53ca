// The movie reader: the input is opened as a movie and every sample of its
// chosen track is read.
#include <cstdlib>
#include <vector>

#include "FuzzSupport.h"
#include "MovieFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orxfuzz::MemoryFile file(data, size);
  if (!file.ok()) return 0;
  HostMovieReaderRef r = nullptr;
  char message[256];
  if (HostMovieReaderOpen(file.Path().c_str(), 0, &r, message, sizeof message) != noErr) return 0;
  HostMovieReaderGetImageDescription(r);
  const SInt32 count = HostMovieReaderGetSampleCount(r);
  std::vector<uint8_t> buf(size_t(HostMovieReaderGetMaxSampleSize(r)) + 1);
  for (SInt32 i = 0; i < count && i < 4096; ++i) {
    SInt64 offset;
    SInt32 n = 0;
    TimeValue d;
    Boolean sync;
    if (HostMovieReaderGetSampleInfo(r, i, &offset, &n, &d, &sync) != noErr) std::abort();
    if (n < 0 || offset < 0 || uint64_t(offset) + uint64_t(n) > size) std::abort();  // the reader vouched for it
    SInt32 got = 0;
    HostMovieReaderReadSample(r, i, buf.data(), SInt32(buf.size()), &got);
  }
  HostMovieReaderClose(r);
  return 0;
}
