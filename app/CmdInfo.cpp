// orx info: what a movie's track and frames hold.
#include <iconv.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "Cli.h"
#include "Codec.h"
#include "Commands.h"
#include "MovieInput.h"

namespace orxapp {

namespace {

const char kInfoHelp[] =
    "usage: orx info IN.mov [--frames] [--json]\n"
    "\n"
    "Describes a movie: its track, codec, size, frame count and rate; with\n"
    "--frames also each frame's block variant (DXT1, DXT5, DXT24, DXT24+alpha),\n"
    "whether it is packed with LZF or stored raw, and its stored and raw sizes.\n"
    "\n"
    "  --frames     one line (or JSON object) per frame\n"
    "  --json       machine-readable output (UTF-8; bytes of the file name that\n"
    "               are not UTF-8 are written as U+FFFD)\n"
    "  -h, --help   this text\n"
    "  --version    the versions of the program, components and format\n";

// The compressor name of a sample description: a Pascal string of at most 31
// bytes in Mac OS Roman, given as UTF-8 (a length byte past the 32-byte field
// is clamped to it).
std::string CompressorName(const unsigned char (&field)[32]) {
  const size_t n = std::min<size_t>(field[0], sizeof field - 1);
  std::string in(reinterpret_cast<const char*>(field + 1), n), out;
  in.resize(std::min(in.size(), in.find('\0')));  // the padding is no part of the name
  bool converted = false;
  if (iconv_t cd = iconv_open("UTF-8", "MACINTOSH"); cd != iconv_t(-1)) {
    char buf[4 * sizeof field];
    char* src = in.data();
    char* dst = buf;
    size_t inLeft = in.size(), outLeft = sizeof buf;
    if (iconv(cd, &src, &inLeft, &dst, &outLeft) != size_t(-1) && inLeft == 0) {
      out.assign(buf, size_t(dst - buf));
      converted = true;
    }
    iconv_close(cd);
  }
  if (!converted) {  // no converter: bytes above 0x7F read as Latin-1
    out.clear();
    for (const unsigned char c : in) {
      if (c < 0x80) {
        out += char(c);
      } else {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
      }
    }
  }
  return out;
}

// The length of the well-formed UTF-8 sequence of 2 to 4 bytes at p (n
// bytes left), 0 when there is none: no overlong forms, surrogates or code
// points past U+10FFFF.
size_t UTF8Sequence(const unsigned char* p, size_t n) {
  const unsigned char c = p[0];
  const size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (len == 0 || n < len) return 0;
  // The second byte's range: narrower after E0 (overlong), ED (surrogates),
  // F0 (overlong) and F4 (past U+10FFFF).
  const unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
  const unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
  if (p[1] < low || p[1] > high) return 0;
  for (size_t i = 2; i < len; ++i)
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  return len;
}

// s as a JSON string: quotes, backslashes and control characters escaped,
// and each byte that is not part of well-formed UTF-8 (a file name may hold
// any bytes) written as U+FFFD, so the output is valid JSON in UTF-8.
std::string JsonString(const std::string& s) {
  std::string out = "\"";
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = p[i];
    if (c >= 0x80) {
      const size_t len = UTF8Sequence(p + i, s.size() - i);
      if (len == 0) out += "\xEF\xBF\xBD";
      else out.append(s, i, len);
      i += len == 0 ? 1 : len;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char b[8];
      std::snprintf(b, sizeof b, "\\u%04x", c);
      out += b;
    } else {
      out += char(c);
    }
    ++i;
  }
  return out + "\"";
}

std::string FourCC(uint32_t t) {
  std::string s;
  for (int i = 3; i >= 0; --i) {
    const char c = char((t >> (8 * i)) & 0xFF);
    s += (c >= 32 && c < 127) ? c : '?';
  }
  return s;
}

}  // namespace

namespace {

// What one frame's header says.
struct Row {
  FrameSummary s;
  SInt32 stored = 0;
  bool ok = false;
};

// Reads frames' rows. Samples too short to hold a header are not read at
// all, so a table claiming billions of tiny samples costs time, not memory.
class RowReader {
 public:
  RowReader(const std::string& path, HostMovieReaderRef r, int width, int height)
      : path_(path), r_(r), width_(width), height_(height) {}
  bool Read(SInt32 i, Row* row, std::string* error) {
    SInt32 size = 0;
    HostMovieReaderGetSampleInfo(r_, i, nullptr, &size, nullptr, nullptr);
    row->stored = size;
    row->ok = false;
    if (size < FrameHeaderSize()) return true;
    if (!ReadSample(path_, r_, i, &sample_, error)) return false;
    row->ok = SummarizeFrame(sample_.data(), sample_.size(), width_, height_, &row->s);
    return true;
  }

 private:
  const std::string& path_;
  HostMovieReaderRef r_;
  int width_, height_;
  std::vector<uint8_t> sample_;
};

// The totals over every frame; the per-frame lines read the frames again
// rather than keeping a row for every frame the table claims.
struct Totals {
  uint64_t stored = 0;
  std::vector<std::pair<std::string, int64_t>> variants;  // in order of appearance
  int64_t lzfFrames = 0;
};

bool Tally(RowReader& rows, SInt32 count, Totals* t, std::string* error) {
  Progress progress("reading", count);
  Row row;
  for (SInt32 i = 0; i < count; ++i) {
    if (!rows.Read(i, &row, error)) return progress.Finish(), false;
    t->stored += uint64_t(row.stored);
    const std::string name = row.ok ? row.s.variant : "not an ORX frame";
    bool found = false;
    for (auto& [n, c] : t->variants)
      if (n == name) ++c, found = true;
    if (!found) t->variants.emplace_back(name, 1);
    t->lzfFrames += row.ok && row.s.lzf;
    if ((i & 0xFFF) == 0) progress.Update(i);
  }
  progress.Finish();
  return true;
}

// What the report says of the movie as a whole.
struct Facts {
  std::string path;
  HostMovieReaderRef r = nullptr;
  ImageDescriptionHandle desc = nullptr;
  int width = 0, height = 0;
  SInt32 count = 0;
  int rateNum = 0, rateDen = 1;
  double fps = 0;
  uint64_t fileBytes = 0;
  std::string codecName;
  double rawARGB = 0;
  std::string Rate() const { return std::to_string(rateNum) + "/" + std::to_string(rateDen); }
};

// The sound track in words: "PCM 24-bit, 48000 Hz, 2 channels, 2.000 s".
std::string SoundText(const HostSoundFormat& f, SInt64 frames) {
  char text[128];
  std::snprintf(text, sizeof text, "PCM %s, %u Hz, %u channel%s, %.3f s",
                f.sampleFormat == kHostSoundFloat32 ? "32-bit float" : f.sampleFormat == kHostSoundInt24 ? "24-bit" : "16-bit",
                f.sampleRate, f.channels, f.channels == 1 ? "" : "s", double(frames) / f.sampleRate);
  return text;
}

bool PrintJSON(const Facts& m, const Totals& t, bool perFrame, RowReader& rows, std::string* error) {
  std::printf("{\n  \"file\": %s,\n  \"tracks\": %d,\n  \"track_id\": %d,\n  \"codec\": %s,\n  \"compressor_name\": %s,\n",
              JsonString(m.path).c_str(), HostMovieReaderGetTrackCount(m.r), HostMovieReaderGetTrackID(m.r),
              JsonString(FourCC((*m.desc)->cType)).c_str(), JsonString(m.codecName).c_str());
  std::printf("  \"width\": %d,\n  \"height\": %d,\n  \"depth\": %d,\n  \"frames\": %d,\n  \"time_scale\": %d,\n"
              "  \"duration\": %lld,\n  \"fps\": %.6g,\n  \"frame_rate\": \"%s\",\n  \"stored_bytes\": %llu,\n"
              "  \"file_bytes\": %llu,\n  \"raw_argb_bytes\": %.0f",
              m.width, m.height, (*m.desc)->depth, m.count, HostMovieReaderGetTimeScale(m.r),
              (long long)HostMovieReaderGetDuration(m.r), m.fps, m.Rate().c_str(), (unsigned long long)t.stored,
              (unsigned long long)m.fileBytes, m.rawARGB);
  HostSoundFormat sound{};
  SInt64 soundFrames = 0;
  if (HostMovieReaderGetSound(m.r, &sound, &soundFrames))
    std::printf(",\n  \"sound\": {\"format\": \"%s\", \"bits\": %u, \"rate\": %u, \"channels\": %u, \"frames\": %lld}",
                sound.sampleFormat == kHostSoundFloat32 ? "float" : "integer", sound.sampleFormat, sound.sampleRate,
                sound.channels, (long long)soundFrames);
  else if (const char* problem = HostMovieReaderGetSoundProblem(m.r); *problem != '\0')
    std::printf(",\n  \"sound_problem\": %s", JsonString(problem).c_str());
  if (perFrame) {
    std::printf(",\n  \"frame_list\": [\n");
    Row row;
    for (SInt32 i = 0; i < m.count; ++i) {
      if (!rows.Read(i, &row, error)) return false;
      std::printf("    {\"index\": %d, \"variant\": %s, \"lzf\": %s, \"stored_bytes\": %d, \"raw_bytes\": %llu}%s\n", i,
                  JsonString(row.ok ? row.s.variant : "unknown").c_str(), row.ok && row.s.lzf ? "true" : "false",
                  row.stored, (unsigned long long)(row.ok ? row.s.rawSize : 0), i + 1 < m.count ? "," : "");
    }
    std::printf("  ]");
  }
  std::printf("\n}\n");
  return true;
}

bool PrintText(const Facts& m, const Totals& t, bool perFrame, RowReader& rows, std::string* error) {
  const ImageDescription& d = **m.desc;
  std::printf("%s\n", m.path.c_str());
  std::printf("  track     %d (first %s video track of %d)\n", HostMovieReaderGetTrackID(m.r), FourCC(d.cType).c_str(),
              HostMovieReaderGetTrackCount(m.r));
  std::printf("  codec     %s \"%s\", depth %d\n", FourCC(d.cType).c_str(), m.codecName.c_str(), d.depth);
  std::printf("  size      %dx%d\n", m.width, m.height);
  std::printf("  frames    %d at %s fps%s (time scale %d, %.3f s)\n", m.count, FormatRate(m.fps).c_str(),
              m.rateDen == 1 || m.rateNum <= 0 ? "" : (" = " + m.Rate()).c_str(), HostMovieReaderGetTimeScale(m.r),
              double(HostMovieReaderGetDuration(m.r)) / HostMovieReaderGetTimeScale(m.r));
  std::printf("  variants ");
  for (const auto& [n, c] : t.variants) std::printf(" %s x%lld", n.c_str(), (long long)c);
  std::printf("; LZF in %lld of %d\n", (long long)t.lzfFrames, m.count);
  for (const auto& [n, c] : t.variants) std::printf("  decode    %s: %s\n", n.c_str(), DecodeRoadText(n).c_str());
  std::printf("  stored    %s of frames (%.2f:1 to raw ARGB %s); file %s\n", HumanBytes(t.stored).c_str(),
              t.stored ? m.rawARGB / double(t.stored) : 0.0, HumanBytes(uint64_t(m.rawARGB)).c_str(),
              HumanBytes(m.fileBytes).c_str());
  HostSoundFormat sound{};
  SInt64 soundFrames = 0;
  if (HostMovieReaderGetSound(m.r, &sound, &soundFrames))
    std::printf("  sound     %s\n", SoundText(sound, soundFrames).c_str());
  else if (const char* problem = HostMovieReaderGetSoundProblem(m.r); *problem != '\0')
    std::printf("  sound     cannot be read: %s\n", problem);
  if (!perFrame) return true;
  std::printf("  %7s  %-12s %-4s %12s %12s\n", "frame", "variant", "LZF", "stored", "raw");
  Row row;
  for (SInt32 i = 0; i < m.count; ++i) {
    if (!rows.Read(i, &row, error)) return false;
    std::printf("  %7d  %-12s %-4s %12d %12llu\n", i, row.ok ? row.s.variant.c_str() : "unknown",
                row.ok ? (row.s.lzf ? "LZF" : "raw") : "-", row.stored, (unsigned long long)(row.ok ? row.s.rawSize : 0));
  }
  return true;
}

}  // namespace

int CmdInfo(int argc, char** argv) {
  Args args(argc, argv, 0);
  if (args.Flag("--help", "-h")) {
    std::fputs(kInfoHelp, stdout);
    return 0;
  }
  const bool perFrame = args.Flag("--frames");
  const bool json = args.Flag("--json");
  std::string err;
  std::vector<std::string> inputs;
  if (!args.Positionals(&inputs, &err)) return Usage(err);
  if (inputs.size() != 1) return Usage("info: give exactly one movie (see orx info --help)");
  Movie movie;
  if (!OpenMovie(inputs[0], &movie, &err)) return Fail(err);
  Facts m;
  m.path = inputs[0];
  m.r = movie.reader;
  m.desc = HostMovieReaderGetImageDescription(m.r);
  m.width = (*m.desc)->width;
  m.height = (*m.desc)->height;
  m.count = HostMovieReaderGetSampleCount(m.r);
  MovieRate(m.r, &m.rateNum, &m.rateDen);
  m.fps = m.rateNum > 0 ? double(m.rateNum) / m.rateDen : 0.0;
  RowReader rows(m.path, m.r, m.width, m.height);
  Totals totals;
  if (!Tally(rows, m.count, &totals, &err)) return Fail(err);
  struct stat st {};
  m.fileBytes = stat(m.path.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
  m.codecName = CompressorName((*m.desc)->name);
  m.rawARGB = double(m.count) * m.width * m.height * 4;
  const bool printed = json ? PrintJSON(m, totals, perFrame, rows, &err) : PrintText(m, totals, perFrame, rows, &err);
  return printed ? 0 : Fail(err);
}

}  // namespace orxapp
