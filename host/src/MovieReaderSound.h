// The movie reader's sound track: linear PCM as QuickTime stores it (a
// version 2 'lpcm' description of packed little-endian samples, or 16-bit
// little-endian 'sowt'), its chunks mapped to frame numbers.
#pragma once

#include <cstdint>
#include <vector>

#include "MovieBoxes.h"
#include "MovieFile.h"

namespace host_movie {

struct SoundTrackReader {
  HostSoundFormat format{};
  uint32_t bytesPerFrame = 0;
  uint64_t frames = 0;
  struct Chunk {
    uint64_t offset;      // in the file
    uint64_t firstFrame;  // of the track
  };
  std::vector<Chunk> chunks;  // in frame order, each up to the next one's first frame
};

// Reads trak as a sound track. False when it is not one the reader offers:
// not sound, not linear PCM it knows, or tables that do not hold together
// (why, in *f). Nothing is allocated from a count the atoms cannot back.
bool ParseSoundTrack(const Box& trak, SoundTrackReader* out, Failure* f);

}  // namespace host_movie
