// WAV files of linear PCM, for the sound orx decode takes out of a movie.
#pragma once

#include <cstdint>
#include <vector>

#include "MovieFile.h"

namespace orxapp {

// The 44-byte header (58 with a float's fact chunk) of a WAV file of
// `frames` frames of format; empty when the data would not fit a RIFF file
// (4 GiB).
std::vector<uint8_t> WaveHeader(const HostSoundFormat& format, uint64_t frames);

}  // namespace orxapp
