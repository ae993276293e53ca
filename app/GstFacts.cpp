#include "GstFacts.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "GstMedia.h"

namespace orxapp {

std::string Seconds(int64_t ns) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f s", double(ns) / 1e9);
  return buf;
}

// A FIFO or device would block GStreamer's reader in open() or never end. A
// URI needs a source GStreamer has, fed by something other than orx.
std::string InputProblem(const std::string& input) {
  std::string path = input;
  struct stat st {};
  if (IsURI(input)) {
    gchar* protocol = gst_uri_get_protocol(input.c_str());
    const std::string scheme = protocol != nullptr ? protocol : "";
    g_free(protocol);
    if (scheme == "appsrc") return "an appsrc:// source is fed by the program that makes it; orx has nothing to feed it";
    if (!gst_uri_protocol_is_supported(GST_URI_SRC, scheme.c_str()))
      return "GStreamer has no source for " + scheme + ":// (a plug-in may be missing)";
    if (scheme == "fd") {
      const int fd = std::atoi(input.c_str() + 5);
      if (fstat(fd, &st) != 0) return std::string("cannot read it: ") + std::strerror(errno);
      return S_ISREG(st.st_mode) ? "" : "not a regular file (only a YUV4MPEG2 stream may come through a pipe)";
    }
    if (scheme != "file") return "";
    gchar* name = g_filename_from_uri(input.c_str(), nullptr, nullptr);
    if (name == nullptr) return "not a file name GStreamer can read";
    path = name;
    g_free(name);
  }
  if (stat(path.c_str(), &st) != 0) return std::string("cannot open: ") + std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "cannot read a folder";
  if (S_ISFIFO(st.st_mode)) return "not a regular file (only a YUV4MPEG2 stream may come through a FIFO)";
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  return "";
}

// As far as these kinds of stream go.
std::string PackageFor(const std::string& detail) {
  static const struct {
    const char* caps;
    const char* package;
  } kKnown[] = {
      {"video/x-h264", "gstreamer1.0-plugins-bad (openh264dec)"},
      {"video/x-av1", "gstreamer1.0-plugins-bad (av1dec)"},
      {"video/x-vp8", "gstreamer1.0-plugins-good (vp8dec)"},
      {"video/x-vp9", "gstreamer1.0-plugins-good (vp9dec)"},
      {"image/jpeg", "gstreamer1.0-plugins-good (jpegdec)"},
      {"image/png", "gstreamer1.0-plugins-good (pngdec)"},
      {"video/x-theora", "gstreamer1.0-plugins-base (theoradec)"},
      {"audio/x-flac", "gstreamer1.0-plugins-good (flacdec)"},
      {"audio/x-vorbis", "gstreamer1.0-plugins-base (vorbisdec)"},
      {"audio/x-opus", "gstreamer1.0-plugins-base (opusdec)"},
      {"audio/mpeg", "gstreamer1.0-plugins-good (mpg123audiodec) or gstreamer1.0-plugins-bad (fdkaacdec)"},
      {"video/quicktime", "gstreamer1.0-plugins-good (qtdemux)"},
      {"video/x-matroska", "gstreamer1.0-plugins-good (matroskademux)"},
  };
  for (const auto& k : kKnown)
    if (detail.find(k.caps) != std::string::npos) return k.package;
  return "the GStreamer plug-in package that provides it (gstreamer1.0-plugins-good, -bad or -ugly)";
}

// 16-bit for 8- and 16-bit sources, 24-bit for deeper integers, 32-bit
// float for floats.
UInt32 StoredSoundFormat(const GstAudioFormatInfo* f) {
  if (f == nullptr) return kHostSoundInt16;
  if (GST_AUDIO_FORMAT_INFO_IS_FLOAT(f)) return kHostSoundFloat32;
  return GST_AUDIO_FORMAT_INFO_DEPTH(f) > 16 ? kHostSoundInt24 : kHostSoundInt16;
}

const char* GstFormatName(UInt32 stored) {
  return stored == kHostSoundFloat32 ? "F32LE" : stored == kHostSoundInt24 ? "S24LE" : "S16LE";
}

int64_t LengthSlack(int64_t declaredNs, int64_t frameNs) {
  return std::max<int64_t>(80 * int64_t(GST_MSECOND) + declaredNs / 100, 2 * frameNs);
}

}  // namespace orxapp
