// Plain facts of a movie's tracks, as the reader finds them and the writer
// stores them: the video track's sample description field by field, the
// track's times and counts, one sample's place in the file, and the sound
// track's format.
#pragma once

#include <cstdint>
#include <vector>

namespace orxmovie {

constexpr uint32_t FourCC(const char (&s)[5]) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) | (uint32_t(uint8_t(s[2])) << 8) |
         uint32_t(uint8_t(s[3]));
}

// A video sample description: the 86 bytes of fixed fields, then any
// extensions (stored after them as they are).
struct ImageFacts {
  uint32_t codecType = 0;
  int16_t dataRefIndex = 0;  // the reader's; the writer stores 1 (this file)
  int16_t version = 0, revisionLevel = 0;
  int32_t vendor = 0;
  uint32_t temporalQuality = 0, spatialQuality = 0;
  int16_t width = 0, height = 0;
  int32_t hRes = 0, vRes = 0;  // 16.16 fixed point, dots an inch
  int32_t dataSize = 0;
  int16_t frameCount = 0;    // frames a sample
  uint8_t name[32] = {};     // length byte, then up to 31 characters
  int16_t depth = 0, clutID = 0;
  std::vector<uint8_t> extensions;
};

// The chosen video track and the movie around it.
struct TrackFacts {
  int32_t trackCount = 0;    // all tracks of the movie
  int32_t trackID = 0;       // the chosen track's
  uint32_t timeScale = 0;    // the media's units a second
  uint64_t duration = 0;     // in the media's time scale
  uint32_t sampleCount = 0;
  uint32_t maxSampleSize = 0;
  ImageFacts image;
};

// One sample: where it lies in the file, its bytes, how long it lasts in
// the media's time scale and whether it is a sync sample.
struct SampleSpan {
  uint64_t offset = 0;
  uint32_t size = 0;
  uint32_t duration = 0;
  bool sync = false;
};

// A sound track's samples: interleaved little-endian linear PCM, one
// sample for every channel a frame.
enum : uint32_t {
  kSoundInt16 = 16,    // signed 16-bit integers
  kSoundInt24 = 24,    // signed 24-bit integers, 3 bytes each
  kSoundFloat32 = 32,  // 32-bit IEEE floats
};
struct SoundFormat {
  uint32_t sampleRate = 0;    // frames a second, 1 to 384000
  uint32_t channels = 0;      // 1 to 64
  uint32_t sampleFormat = 0;  // kSoundInt16, kSoundInt24 or kSoundFloat32
};

// Bytes of one frame of the format; 0 for a format outside the ranges above.
uint32_t SoundBytesPerFrame(const SoundFormat& format);

}  // namespace orxmovie
