// The movie writer's sound track: linear PCM gathered into chunks of about
// half a second, which the writer puts into the file between the video
// samples, and the track's atoms.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "movie/AtomBuilder.h"
#include "movie/MovieFacts.h"

namespace orxmovie {

struct SoundChunk {
  uint64_t offset;  // in the file
  uint32_t frames;
};

struct SoundTrackWriter {
  SoundFormat format{};
  uint32_t bytesPerFrame = 0;
  std::vector<uint8_t> pending;  // whole frames not yet in the file
  std::vector<SoundChunk> chunks;
  uint64_t frames = 0;  // in chunks and pending

  // Frames a chunk holds: half a second.
  uint32_t ChunkFrames() const { return format.sampleRate / 2 > 0 ? format.sampleRate / 2 : 1; }
  // The track's length in units of timeScale, rounded up.
  uint64_t Duration(uint32_t timeScale) const;
};

// "" when the format can be stored, else what is wrong with it.
std::string SoundFormatProblem(const SoundFormat& format);

// The track (trak: tkhd, mdia with mdhd, hdlr, minf, the sample tables) as
// track trackID of a movie whose time scale is movieTimeScale. large: chunk
// offsets in 64 bits.
void WriteSoundTrack(AtomBuilder& b, const SoundTrackWriter& s, uint32_t trackID, uint32_t movieTimeScale,
                     uint64_t now, bool large);

}  // namespace orxmovie
