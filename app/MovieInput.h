// Movies as the commands read them: opened through the host's reader for the
// ORX track, samples read whole, and the track's rate as a fraction.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MovieFile.h"

namespace orxapp {

struct Movie {
  HostMovieReaderRef reader = nullptr;
  Movie() = default;
  Movie(const Movie&) = delete;
  Movie& operator=(const Movie&) = delete;
  ~Movie() { HostMovieReaderClose(reader); }
};

// Opens the first ORX video track of the movie at path; *error names the file.
bool OpenMovie(const std::string& path, Movie* m, std::string* error);
// Sample index into *buf (resized to it); *error names the file and frame.
bool ReadSample(const std::string& path, HostMovieReaderRef r, int index, std::vector<uint8_t>* buf,
                std::string* error);
// The track's frame rate as a fraction: frames times the time scale over the
// duration, so uniform samples give the time scale over their duration
// exactly (1001:1 stays 1001:1, 1:3 stays 1:3). 0/1 when unknown.
void MovieRate(HostMovieReaderRef r, int* num, int* den);

}  // namespace orxapp
