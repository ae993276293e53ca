// The movie reader: the input is opened as a movie and every sample of its
// chosen track is read.
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "movie/MovieReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orxfuzz::MemoryFile file(data, size);
  if (!file.ok()) return 0;
  orxmovie::Reader r;
  std::string message;
  if (r.Open(file.Path().c_str(), 0, &message) != orxmovie::Status::ok) {
    if (message.empty()) std::abort();  // a refusal names its reason
    return 0;
  }
  const orxmovie::TrackFacts& facts = r.Facts();
  if (facts.image.width <= 0 || facts.image.height <= 0 || facts.timeScale == 0) std::abort();
  std::vector<uint8_t> buf(size_t(facts.maxSampleSize) + 1);
  for (uint32_t i = 0; i < facts.sampleCount && i < 4096; ++i) {
    orxmovie::SampleSpan span;
    if (!r.Sample(i, &span)) std::abort();
    if (span.size > facts.maxSampleSize || span.offset + span.size > size) std::abort();  // the reader vouched for it
    uint32_t got = 0;
    if (r.ReadSample(i, buf.data(), int64_t(buf.size()), &got) == orxmovie::Status::ok && got != span.size) std::abort();
  }
  return 0;
}
