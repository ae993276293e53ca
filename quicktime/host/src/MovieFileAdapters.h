// What the host's movie calls (MovieFile.h) share over the movie module:
// its statuses as QuickTime's, its plain image facts as image descriptions
// and back, and messages copied into the caller's buffer.
#pragma once

#include <string>

#include "ImageCompression.h"
#include "MacTypes.h"
#include "movie/MovieFacts.h"
#include "movie/MovieStatus.h"

// The QuickTime status of a movie module status (MovieFile.h's codes and
// MacTypes.h's).
OSStatus HostMovieStatus(orxmovie::Status status);

// A new image description holding the facts (idSize counts the
// extensions, which follow the fixed fields); null when out of memory.
ImageDescriptionHandle HostMovieNewImageDescription(const orxmovie::ImageFacts& image);

// The facts of an image description handle: its fixed fields and the
// extensions its idSize counts. False, with why in *message, for a handle
// that holds fewer bytes than the fixed fields or than idSize claims.
bool HostMovieImageFacts(ImageDescriptionHandle desc, orxmovie::ImageFacts* image, std::string* message);

// Copies message into out (outSize bytes, cut with a terminating zero);
// nothing when out is null or outSize is not positive.
void HostMovieCopyMessage(const char* message, char* out, SInt32 outSize);
