#include "GstFacts.h"

#include <gst/pbutils/missing-plugins.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

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

namespace {

constexpr const char* kBase = "gstreamer1.0-plugins-base";
constexpr const char* kGood = "gstreamer1.0-plugins-good";
constexpr const char* kBad = "gstreamer1.0-plugins-bad";
constexpr const char* kUgly = "gstreamer1.0-plugins-ugly";

// The element of GStreamer's own plug-ins that decodes (or demuxes) a kind
// of stream, and the Debian 12 package that holds it. A field and its value
// narrow an entry to one version of a media type; the first entry that
// matches counts. profiles: the only profiles the element decodes, where it
// is so limited.
struct KnownDecoder {
  const char* media;
  const char* field;
  int value;
  const char* element;
  const char* package;
  const char* profiles = nullptr;
};
const KnownDecoder kKnown[] = {
    {"video/x-h264", nullptr, 0, "openh264dec", kBad,
     "constrained-baseline, baseline, main, high, constrained-high, progressive-high"},
    {"video/x-h265", nullptr, 0, "libde265dec", kBad},
    {"video/x-av1", nullptr, 0, "av1dec", kBad},
    {"video/x-vp8", nullptr, 0, "vp8dec", kGood},
    {"video/x-vp9", nullptr, 0, "vp9dec", kGood},
    {"video/mpeg", "systemstream", 1, "mpegpsdemux", kBad},
    {"video/mpeg", "mpegversion", 1, "mpeg2dec", kUgly},
    {"video/mpeg", "mpegversion", 2, "mpeg2dec", kUgly},
    {"video/x-theora", nullptr, 0, "theoradec", kBase},
    {"image/jpeg", nullptr, 0, "jpegdec", kGood},
    {"image/png", nullptr, 0, "pngdec", kGood},
    {"audio/mpeg", "mpegversion", 1, "mpg123audiodec", kGood},
    {"audio/mpeg", "mpegversion", 2, "faad", kBad},
    {"audio/mpeg", "mpegversion", 4, "faad", kBad},
    {"audio/x-flac", nullptr, 0, "flacdec", kGood},
    {"audio/x-vorbis", nullptr, 0, "vorbisdec", kBase},
    {"audio/x-opus", nullptr, 0, "opusdec", kBase},
    {"audio/x-ac3", nullptr, 0, "a52dec", kUgly},
    {"audio/ac3", nullptr, 0, "a52dec", kUgly},
    {"audio/x-dts", nullptr, 0, "dtsdec", kBad},
    {"video/quicktime", nullptr, 0, "qtdemux", kGood},
    {"video/x-matroska", nullptr, 0, "matroskademux", kGood},
    {"video/webm", nullptr, 0, "matroskademux", kGood},
    {"video/mpegts", nullptr, 0, "tsdemux", kBad},
};

const KnownDecoder* KnownFor(const GstStructure* stream) {
  for (const auto& k : kKnown) {
    if (!gst_structure_has_name(stream, k.media)) continue;
    if (k.field == nullptr) return &k;
    gboolean flag = FALSE;
    int value = 0;
    if ((gst_structure_get_boolean(stream, k.field, &flag) && int(flag) == k.value) ||
        (gst_structure_get_int(stream, k.field, &value) && value == k.value))
      return &k;
  }
  return nullptr;
}

// Whether a list of words separated by ", " holds the word.
bool ListHolds(const std::string& list, const std::string& word) {
  for (size_t at = 0; at <= list.size();) {
    size_t end = list.find(", ", at);
    if (end == std::string::npos) end = list.size();
    if (list.compare(at, end - at, word) == 0) return true;
    at = end + 2;
  }
  return false;
}

const char* PackageOf(const std::string& element) {
  for (const auto& k : kKnown)
    if (element == k.element) return k.package;
  return nullptr;
}

bool Installed(const char* feature) {
  GstPluginFeature* f = gst_registry_lookup_feature(gst_registry_get(), feature);
  if (f == nullptr) return false;
  gst_object_unref(f);
  return true;
}

// A caps value in words: a list's items joined, a string as it is.
std::string Words(const GValue* v) {
  if (GST_VALUE_HOLDS_LIST(v)) {
    std::string out;
    for (guint i = 0; i < gst_value_list_get_size(v); ++i) out += (i ? ", " : "") + Words(gst_value_list_get_value(v, i));
    return out;
  }
  if (G_VALUE_HOLDS_STRING(v)) return g_value_get_string(v) ? g_value_get_string(v) : "";
  gchar* text = gst_value_serialize(v);
  std::string out = text ? text : "?";
  g_free(text);
  return out;
}

// An installed element whose sink takes the stream's media type: whether it
// takes this stream, and if not, the field that keeps it out (the profile
// before any other).
struct Candidate {
  std::string name;
  guint rank = 0;
  bool takes = false;
  std::string field, allowed, value;
};

void Judge(const GstStructure* stream, const GstStructure* accepted, Candidate* c) {
  if (gst_structure_can_intersect(stream, accepted)) {
    c->takes = true;
    return;
  }
  for (int i = 0; i < gst_structure_n_fields(accepted); ++i) {
    const char* field = gst_structure_nth_field_name(accepted, guint(i));
    const GValue* want = gst_structure_get_value(accepted, field);
    const GValue* have = gst_structure_get_value(stream, field);
    if (have == nullptr || gst_value_intersect(nullptr, have, want)) continue;
    if (!c->field.empty() && (c->field == "profile" || std::strcmp(field, "profile") != 0)) continue;
    c->field = field;
    c->allowed = Words(want);
    c->value = Words(have);
  }
}

// The decoders, demuxers and depayloaders GStreamer has for the stream's
// media type, whatever their rank (parsers, which take any profile, are not
// among them).
std::vector<Candidate> CandidatesFor(const GstStructure* stream) {
  std::vector<Candidate> found;
  GList* all = gst_element_factory_list_get_elements(
      GST_ELEMENT_FACTORY_TYPE_DECODER | GST_ELEMENT_FACTORY_TYPE_DEMUXER | GST_ELEMENT_FACTORY_TYPE_DEPAYLOADER,
      GST_RANK_NONE);
  for (GList* l = all; l != nullptr; l = l->next) {
    GstElementFactory* factory = GST_ELEMENT_FACTORY(l->data);
    Candidate c;
    bool handles = false;
    for (const GList* t = gst_element_factory_get_static_pad_templates(factory); t != nullptr; t = t->next) {
      auto* tmpl = static_cast<GstStaticPadTemplate*>(t->data);
      if (tmpl->direction != GST_PAD_SINK) continue;
      GstCaps* caps = gst_static_pad_template_get_caps(tmpl);
      if (caps != nullptr && !gst_caps_is_any(caps)) {
        for (guint i = 0; i < gst_caps_get_size(caps) && !c.takes; ++i) {
          const GstStructure* accepted = gst_caps_get_structure(caps, i);
          if (!gst_structure_has_name(accepted, gst_structure_get_name(stream))) continue;
          handles = true;
          Judge(stream, accepted, &c);
        }
      }
      if (caps != nullptr) gst_caps_unref(caps);
    }
    if (!handles) continue;
    c.name = GST_OBJECT_NAME(factory);
    c.rank = gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(factory));
    found.push_back(std::move(c));
  }
  gst_plugin_feature_list_free(all);
  return found;
}

std::string Named(const Candidate& c) {
  const char* package = PackageOf(c.name);
  return c.name + (package != nullptr ? std::string(" (") + package + ", installed)" : std::string(" (installed)"));
}

// Where orx's own build or installation put libgstorx.so, relative to the
// program itself (ORX_GST_PLUGIN_DIRS: folders relative to the program's,
// separated by ':'); "" when there is none.
std::string OwnPluginFolder() {
#ifdef ORX_GST_PLUGIN_DIRS
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return "";
  exe[n] = 0;
  std::string here(exe);
  here.erase(here.rfind('/') + 1);
  const std::string dirs = ORX_GST_PLUGIN_DIRS;
  for (size_t at = 0; at <= dirs.size();) {
    size_t end = dirs.find(':', at);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = here + dirs.substr(at, end - at);
    struct stat st {};
    if (stat((dir + "/libgstorx.so").c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      char* real = realpath(dir.c_str(), nullptr);
      const std::string found = real != nullptr ? real : dir;
      std::free(real);
      return found;
    }
    at = end + 1;
  }
#endif
  return "";
}

// ORX's own plug-in: a copy GStreamer found but could not load, else how to
// make it find one.
std::string OwnPluginHint() {
  const std::string lead = "GStreamer has no decoder for ORX movies: ORX's own plug-in, orxdec (libgstorx.so), ";
  std::string broken;
  GList* plugins = gst_registry_get_plugin_list(gst_registry_get());
  for (GList* l = plugins; l != nullptr; l = l->next) {
    GstPlugin* plugin = GST_PLUGIN(l->data);
    const gchar* file = gst_plugin_get_filename(plugin);
    const std::string path = file != nullptr ? file : "";
    if (GST_OBJECT_FLAG_IS_SET(plugin, GST_PLUGIN_FLAG_BLACKLISTED) && path.size() >= 13 &&
        path.compare(path.size() - 13, 13, "/libgstorx.so") == 0)
      broken = path;
  }
  gst_plugin_list_free(plugins);
  if (!broken.empty()) return lead + "is at " + broken + " but does not load (gst-inspect-1.0 " + broken + " says why)";
  const std::string folder = OwnPluginFolder();
  return lead + "is not on GStreamer's plug-in path; make install PREFIX=/usr puts it in GStreamer's own plug-in "
                "folder, or " +
         (folder.empty() ? std::string("GST_PLUGIN_PATH naming the folder that holds it (build/gst-plugins in a build)")
                         : "GST_PLUGIN_PATH=" + folder) +
         " shows GStreamer where it is";
}

// What is missing when none of the packages above is known to decode it.
std::string AnyPackage() {
  const struct {
    const char* plugin;  // one plug-in each package always holds
    const char* package;
  } kSets[] = {{"isomp4", kGood}, {"videoparsersbad", kBad}, {"asf", kUgly}};
  std::string absent;
  for (const auto& set : kSets) {
    GstPlugin* plugin = gst_registry_find_plugin(gst_registry_get(), set.plugin);
    if (plugin != nullptr) {
      gst_object_unref(plugin);
      continue;
    }
    absent += (absent.empty() ? "" : " or ") + std::string(set.package);
  }
  if (!absent.empty()) return "install " + absent + ", which may hold one";
  return "none of GStreamer's installed plug-ins (base, good, bad, ugly) decodes it: convert the footage to a kind "
         "they decode";
}

std::string DecoderHint(const std::string& what, const GstStructure* stream) {
  if (gst_structure_has_name(stream, "video/x-gst-fourcc-ORXV") || gst_structure_has_name(stream, "video/x-orx"))
    return OwnPluginHint();
  const std::vector<Candidate> found = CandidatesFor(stream);
  // One that would take the stream but was not chosen.
  for (const Candidate& c : found) {
    if (!c.takes) continue;
    if (c.rank < GST_RANK_MARGINAL)
      return "GStreamer has no " + what + " it may choose: " + Named(c) + " decodes it but is ranked out of automatic use (rank " +
             std::to_string(c.rank) + "); GST_PLUGIN_FEATURE_RANK=" + c.name + ":primary lets GStreamer choose it";
    return "GStreamer has no working " + what + ": " + Named(c) + " takes the stream but could not be used for it (GST_DEBUG=3 says why)";
  }
  const KnownDecoder* known = KnownFor(stream);
  if (known != nullptr && !Installed(known->element)) {
    const char* profile = gst_structure_get_string(stream, "profile");
    if (profile != nullptr && known->profiles != nullptr && !ListHolds(known->profiles, profile))
      return "GStreamer has no " + what + ": " + known->element + " (" + known->package +
             "), the one its plug-in packages hold, lacks the " + profile + " profile (it decodes " + known->profiles +
             "); re-encode the footage in one of those profiles";
    return "GStreamer has no " + what + "; install " + known->package + " (" + known->element + ")";
  }
  // Installed ones of this kind that cannot take it: the field that keeps
  // each out, the profile first.
  const Candidate* refusing = nullptr;
  for (const Candidate& c : found)
    if (!c.field.empty() && (refusing == nullptr || (c.field == "profile" && refusing->field != "profile"))) refusing = &c;
  if (refusing != nullptr && refusing->field == "profile")
    return "GStreamer has no " + what + ": " + Named(*refusing) + " lacks the " + refusing->value +
           " profile (it decodes " + refusing->allowed + "); re-encode the footage in one of those profiles";
  if (refusing != nullptr)
    return "GStreamer has no " + what + ": " + Named(*refusing) + " takes " + refusing->field + " " + refusing->allowed +
           ", not " + refusing->value;
  if (known != nullptr) return "GStreamer has no " + what + "; install " + known->package + " (" + known->element + ")";
  return "GStreamer has no " + what + "; " + AnyPackage();
}

}  // namespace

std::string MissingPluginHint(GstMessage* msg) {
  gchar* description = gst_missing_plugin_message_get_description(msg);
  const std::string what = description != nullptr ? description : "plug-in for it";
  g_free(description);
  const GstStructure* s = gst_message_get_structure(msg);
  const gchar* type = s != nullptr ? gst_structure_get_string(s, "type") : nullptr;
  GstCaps* caps = nullptr;
  if (type != nullptr && std::strcmp(type, "decoder") == 0) gst_structure_get(s, "detail", GST_TYPE_CAPS, &caps, nullptr);
  std::string hint;
  if (caps != nullptr && !gst_caps_is_empty(caps) && !gst_caps_is_any(caps))
    hint = DecoderHint(what, gst_caps_get_structure(caps, 0));
  else
    hint = "GStreamer has no " + what + "; " + AnyPackage();
  if (caps != nullptr) gst_caps_unref(caps);
  return hint;
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
