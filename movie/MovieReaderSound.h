// The movie reader's sound track: linear PCM as QuickTime stores it (a
// version 2 'lpcm' description of packed little-endian samples, or 16-bit
// little-endian 'sowt'), its chunks mapped to frame numbers.
#pragma once

#include <cstdint>
#include <vector>

#include "movie/MovieBoxes.h"
#include "movie/MovieFacts.h"

namespace orxmovie {

struct SoundTrackReader {
  SoundFormat format{};
  uint32_t bytesPerFrame = 0;
  uint64_t frames = 0;
  struct Chunk {
    uint64_t offset;      // in the file
    uint64_t firstFrame;  // of the track
  };
  std::vector<Chunk> chunks;  // in frame order, each up to the next one's first frame
};

// Reads trak, a track whose handler is 'soun', as a sound track of a file
// of fileSize bytes. False when it is not one the reader offers (why, in
// *f): a description of another format or out of the ranges it reads, or
// tables that do not hold together (the frames of 'stsz' and of the chunks
// differ, a chunk runs past the end of the file). Nothing is allocated from
// a count the atoms and the file cannot back.
bool ParseSoundTrack(const Box& trak, uint64_t fileSize, SoundTrackReader* out, Failure* f);

// What every sound track must hold whatever its format: a sample
// description within its atom that gives at least one channel, and chunk
// tables that agree with their atoms and each other (the sample-to-chunk
// table starting at chunk 1, in order). False, with why, for a track that
// fails; other readers of the file have been seen to crash on such tracks.
bool CheckSoundTrack(const Box& trak, Failure* f);

}  // namespace orxmovie
