#include "Wave.h"

namespace orxapp {

namespace {

void LE(std::vector<uint8_t>* b, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b->push_back(uint8_t(v >> (8 * i)));
}
void Tag(std::vector<uint8_t>* b, const char (&t)[5]) { b->insert(b->end(), t, t + 4); }

}  // namespace

std::vector<uint8_t> WaveHeader(const HostSoundFormat& f, uint64_t frames) {
  const uint32_t frameBytes = HostSoundBytesPerFrame(&f);
  const bool isFloat = f.sampleFormat == kHostSoundFloat32;
  const uint64_t data = frames * frameBytes;
  const uint64_t riff = 4 + (8 + 16) + (isFloat ? 12 : 0) + 8 + data;
  if (frameBytes == 0 || riff > 0xFFFFFFFFu) return {};
  std::vector<uint8_t> b;
  Tag(&b, "RIFF");
  LE(&b, riff, 4);
  Tag(&b, "WAVE");
  Tag(&b, "fmt ");
  LE(&b, 16, 4);
  LE(&b, isFloat ? 3 : 1, 2);  // IEEE float or integer PCM
  LE(&b, f.channels, 2);
  LE(&b, f.sampleRate, 4);
  LE(&b, uint64_t(f.sampleRate) * frameBytes, 4);
  LE(&b, frameBytes, 2);
  LE(&b, f.sampleFormat, 2);  // bits a sample
  if (isFloat) {
    Tag(&b, "fact");
    LE(&b, 4, 4);
    LE(&b, frames, 4);
  }
  Tag(&b, "data");
  LE(&b, data, 4);
  return b;
}

}  // namespace orxapp
