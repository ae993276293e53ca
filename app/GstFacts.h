// What footage through GStreamer is judged by apart from any pipeline:
// whether an input may be opened at all, what a missing decoder means, the
// sample format decoded sound is stored in, and how far a stream may fall
// short of the length its file declares.
#pragma once

#include <gst/audio/audio.h>
#include <gst/gst.h>

#include <cstdint>
#include <string>

#include "MovieFile.h"

namespace orxapp {

// The longest any one wait lasts before it looks again for an interruption
// or an error.
constexpr GstClockTime kPoll = 100 * GST_MSECOND;

// ns as seconds in words ("1.250 s").
std::string Seconds(int64_t ns);

// What keeps a file from being read, checked before anything opens it: ""
// when nothing does.
std::string InputProblem(const std::string& input);

// What a missing-plugin message means for the user, in words that name
// what is really missing: ORX's own plug-in and how GStreamer finds it; an
// installed decoder that lacks the stream's profile, or that its rank keeps
// out of use; else the Debian package that holds a decoder for it. Asks
// GStreamer's registry, so it is called outside the pipeline's lock.
std::string MissingPluginHint(GstMessage* msg);

// The sample format a decoded audio stream is stored in, and GStreamer's
// name for it.
UInt32 StoredSoundFormat(const GstAudioFormatInfo* f);
const char* GstFormatName(UInt32 stored);

// The length a stream may fall short of the one its file declares: the
// file's rounding, and decoders that trim their first and last frames.
int64_t LengthSlack(int64_t declaredNs, int64_t frameNs);

}  // namespace orxapp
