// orx demo and orx bench: the built-in clip (or a realistic picture) through
// every "Optimize For" choice and back, with sizes, speeds and PSNR.
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include "Cli.h"
#include "Codec.h"
#include "Commands.h"
#include "ImageIO.h"
#include "MacMemory.h"
#include "MovieFile.h"
#include "ORXTestImage.h"
#include "TestClip.h"

namespace orxapp {

namespace {

const char kDemoHelp[] =
    "usage: orx demo [--out DIR] [--frames N] [--size WxH]\n"
    "\n"
    "Generates the built-in test clip (1280x720, 72 frames: moving gradients, hard\n"
    "edges, small text and an alpha ramp), encodes it with each \"Optimize For\"\n"
    "choice and once with the alpha channel kept, plays each movie back through\n"
    "the decompressor, and prints sizes, speeds and PSNR against the source.\n"
    "The movies and contact-sheet.png (crops of source and decoded frames side by\n"
    "side) go into DIR (default orx-demo).\n"
    "\n"
    "  --out DIR      output folder (created when missing)\n"
    "  --frames N     clip length (default 72)\n"
    "  --size WxH     clip size (default 1280x720)\n"
    "  -h, --help     this text\n";

const char kBenchHelp[] =
    "usage: orx bench [--size WxH] [--frames N] [--threads LIST]\n"
    "\n"
    "Encodes and decodes a realistic picture (test picture with camera-like\n"
    "grain) in memory through the components, for every variant and every\n"
    "\"Threads\" setting, and prints a table: stored size, ratio to raw ARGB,\n"
    "encode and decode frames per second, PSNR.\n"
    "\n"
    "  --size WxH       frame size (default 1920x1080)\n"
    "  --frames N       frames per measurement (default 5)\n"
    "  --threads LIST   thread settings to measure, e.g. max,1,2 (default all)\n"
    "  -h, --help       this text\n";

struct RunConfig {
  std::string name;
  std::string file;  // movie file name in the demo folder
  EncoderChoices choices;
};

struct RunResult {
  std::string variant;
  bool lzf = false;
  bool alpha = false;
  uint64_t bytes = 0;
  int frames = 0;
  double encodeSeconds = 0, decodeSeconds = 0;
  double sqErrRGB = 0, sqErrA = 0;
  ImageARGB kept;  // the decoded frame chosen for the contact sheet
};

using FrameGen = std::function<void(int index, ImageARGB* out)>;

void Accumulate(const ImageARGB& src, const uint8_t* dec, size_t rowBytes, RunResult* r) {
  for (int y = 0; y < src.height; ++y) {
    const uint8_t* a = src.Row(y);
    const uint8_t* b = dec + rowBytes * size_t(y);
    for (int x = 0; x < src.width * 4; x += 4) {
      const double da = double(a[x]) - b[x];
      r->sqErrA += da * da;
      for (int c = 1; c < 4; ++c) {
        const double d = double(a[x + c]) - b[x + c];
        r->sqErrRGB += d * d;
      }
    }
  }
}

double PSNR(double sqErr, double samples) {
  if (sqErr == 0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(255.0 * 255.0 * samples / sqErr);
}

std::string PSNRText(double db) {
  if (std::isinf(db)) return "exact";
  char b[16];
  std::snprintf(b, sizeof b, "%.2f", db);
  return b;
}

// Encodes frames through a compressor instance into a movie at moviePath (or
// into memory when it is empty), then decodes every frame through a
// decompressor and compares it with the source.
bool RunOne(const RunConfig& cfg, int w, int h, int frames, const FrameGen& gen, const std::string& moviePath,
            int keepIndex, RunResult* res, std::string* error) {
  const int32_t timeScale = 600, duration = 25;  // 24 fps
  std::vector<std::vector<uint8_t>> samples;
  HostMovieWriterRef writer = nullptr;
  std::string writeError;
  auto sink = [&](const uint8_t* d, size_t n) -> OSStatus {
    res->bytes += n;
    if (!writer) {
      samples.emplace_back(d, d + n);
      return noErr;
    }
    const OSStatus s = HostMovieWriterAddSample(writer, d, SInt32(n), duration);
    if (s != noErr) writeError = HostMovieWriterGetErrorMessage(writer);
    return s;
  };
  Encoder enc;
  if (!enc.Open(w, h, timeScale, cfg.choices, sink, error)) return false;
  if (!moviePath.empty()) {
    char message[512] = {};
    const OSStatus s =
        HostMovieWriterCreateWithError(moviePath.c_str(), enc.Description(), timeScale, &writer, message, sizeof message);
    if (s != noErr) {
      *error = moviePath + ": cannot write the movie: " + (message[0] ? message : StatusText(s));
      return false;
    }
  }
  // Keep a copy of the description for decoding from memory.
  ImageDescriptionHandle encDesc = enc.Description();
  std::vector<uint8_t> descBytes(reinterpret_cast<uint8_t*>(*encDesc),
                                 reinterpret_cast<uint8_t*>(*encDesc) + GetHandleSize(reinterpret_cast<Handle>(encDesc)));
  ImageARGB src;
  Progress progress(("encoding " + cfg.name).c_str(), frames);
  for (int i = 0; i < frames; ++i) {
    gen(i, &src);
    ORXTimer t;
    if (Interrupted() || !enc.Encode(src.pixels.data(), src.RowBytes(), int64_t(i) * duration, duration, error)) {
      progress.Finish();
      if (Interrupted()) *error = (moviePath.empty() ? cfg.name : moviePath) + ": interrupted";
      else if (!writeError.empty()) *error = moviePath + ": cannot write the movie: " + writeError;
      HostMovieWriterAbort(writer);
      return false;
    }
    res->encodeSeconds += t.GetElapsedTime();
    progress.Update(i + 1);
  }
  progress.Finish();
  enc.Close();
  if (writer) {
    char message[512] = {};
    const OSStatus s = HostMovieWriterFinishWithError(writer, message, sizeof message);
    if (s != noErr) {
      *error = moviePath + ": cannot finish the movie: " + (message[0] ? message : StatusText(s));
      return false;
    }
  }

  HostMovieReaderRef reader = nullptr;
  Handle memDesc = nullptr;
  ImageDescriptionHandle desc = nullptr;
  if (!moviePath.empty()) {
    char message[256] = {};
    const OSStatus s = HostMovieReaderOpen(moviePath.c_str(), kORXCodecType, &reader, message, sizeof message);
    if (s != noErr) {
      *error = moviePath + ": " + message;
      return false;
    }
    desc = HostMovieReaderGetImageDescription(reader);
  } else {
    memDesc = NewHandle(Size(descBytes.size()));
    if (memDesc == nullptr) {
      *error = "out of memory";
      return false;
    }
    std::memcpy(*memDesc, descBytes.data(), descBytes.size());
    desc = reinterpret_cast<ImageDescriptionHandle>(memDesc);
  }
  Decoder dec;
  bool ok = dec.Open(desc, error);
  std::vector<uint8_t> buf;
  Progress dprogress(("decoding " + cfg.name).c_str(), frames);
  for (int i = 0; ok && i < frames; ++i) {
    if (Interrupted()) {
      *error = cfg.name + ": interrupted";
      ok = false;
      break;
    }
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (reader) {
      SInt64 off;
      SInt32 n = 0;
      TimeValue d;
      Boolean sync;
      HostMovieReaderGetSampleInfo(reader, i, &off, &n, &d, &sync);
      buf.resize(size_t(n));
      SInt32 got = 0;
      if (HostMovieReaderReadSample(reader, i, buf.data(), n, &got) != noErr) {
        *error = moviePath + ": frame " + std::to_string(i) + ": " + HostMovieReaderGetErrorMessage(reader);
        ok = false;
        break;
      }
      data = buf.data();
      size = size_t(got);
    } else {
      data = samples[size_t(i)].data();
      size = samples[size_t(i)].size();
    }
    if (i == 0) {
      FrameSummary fs;
      if (SummarizeFrame(data, size, w, h, &fs)) res->variant = fs.variant, res->lzf = fs.lzf, res->alpha = fs.alpha;
    }
    ORXTimer t;
    if (!dec.Decode(data, size, error)) {
      ok = false;
      break;
    }
    res->decodeSeconds += t.GetElapsedTime();
    gen(i, &src);
    Accumulate(src, dec.Pixels(), dec.RowBytes(), res);
    if (i == keepIndex) {
      res->kept.Allocate(w, h);
      for (int y = 0; y < h; ++y) std::memcpy(res->kept.Row(y), dec.Pixels() + dec.RowBytes() * size_t(y), size_t(w) * 4);
    }
    ++res->frames;
    dprogress.Update(i + 1);
  }
  dprogress.Finish();
  dec.Close();
  HostMovieReaderClose(reader);
  if (memDesc) DisposeHandle(memDesc);
  return ok;
}

// A crop of an ARGB image composited over a grey checkerboard (so the alpha
// channel shows), placed into the sheet at (dx, dy).
void PasteCrop(ImageARGB* sheet, const ImageARGB& img, int sx, int sy, int cw, int ch, int dx, int dy) {
  for (int y = 0; y < ch; ++y) {
    if (sy + y >= img.height || dy + y >= sheet->height) break;
    const uint8_t* s = img.Row(sy + y);
    uint8_t* d = sheet->Row(dy + y);
    for (int x = 0; x < cw; ++x) {
      if (sx + x >= img.width || dx + x >= sheet->width) break;
      const uint8_t* p = s + size_t(sx + x) * 4;
      uint8_t* q = d + size_t(dx + x) * 4;
      const int bg = ((x / 8 + y / 8) & 1) ? 200 : 120;
      q[0] = 255;
      for (int c = 1; c < 4; ++c) q[c] = uint8_t((p[c] * p[0] + bg * (255 - p[0]) + 127) / 255);
    }
  }
}

bool WriteContactSheet(const std::string& path, const ImageARGB& source, const std::vector<RunConfig>& cfgs,
                       const std::vector<RunResult>& results, std::string* error) {
  const int w = source.width, h = source.height;
  // Three regions: small text, a gradient area and the alpha ramp.
  const int cw = std::min(320, w), ch = std::min(120, h);
  const int regions[3][2] = {{std::max(0, w / 32), std::max(0, h / 20)},
                             {std::max(0, w / 2 - cw / 2), std::max(0, h * 2 / 5)},
                             {std::max(0, w / 2 - cw / 2), std::max(0, h - h / 4 + 20)}};
  const int gap = 8, labelH = LabelHeight(2) + 6;
  const int columns = int(cfgs.size()) + 1;
  ImageARGB sheet;
  sheet.Allocate(gap + columns * (cw + gap), labelH + gap + 3 * (ch + gap));
  for (size_t i = 0; i < sheet.pixels.size(); i += 4) {
    sheet.pixels[i] = 255;
    sheet.pixels[i + 1] = sheet.pixels[i + 2] = sheet.pixels[i + 3] = 32;
  }
  for (int c = 0; c < columns; ++c) {
    const ImageARGB& img = c == 0 ? source : results[size_t(c - 1)].kept;
    const std::string label = c == 0 ? "Source" : cfgs[size_t(c - 1)].name + " " + results[size_t(c - 1)].variant;
    const int x = gap + c * (cw + gap);
    DrawLabel(&sheet, x, 4, label, label.size() * 12 > size_t(cw) ? 1 : 2, 0xFFFFFFFFu);
    for (int r = 0; r < 3; ++r) PasteCrop(&sheet, img, regions[r][0], regions[r][1], cw, ch, x, labelH + gap + r * (ch + gap));
  }
  std::string e;
  if (!WritePNG(path, sheet.pixels.data(), sheet.width, sheet.height, sheet.RowBytes(), false, &e)) {
    *error = path + ": " + e;
    return false;
  }
  return true;
}

void PrintTable(const std::vector<std::string>& names, const std::vector<RunResult>& results, int w, int h) {
  std::printf("%-22s %-12s %9s %9s %10s %10s %9s %9s\n", "choice", "variant", "MB", "ratio", "enc fps", "dec fps",
              "PSNR dB", "alpha dB");
  for (size_t i = 0; i < results.size(); ++i) {
    const RunResult& r = results[i];
    const double raw = double(r.frames) * w * h * 4;
    const double pix = double(r.frames) * w * h;
    const std::string variant = r.variant + (r.lzf ? "+LZF" : "");
    std::printf("%-22s %-12s %9.2f %8.2f:1 %10.1f %10.1f %9s %9s\n", names[i].c_str(), variant.c_str(),
                double(r.bytes) / 1e6, r.bytes ? raw / double(r.bytes) : 0.0,
                r.encodeSeconds > 0 ? r.frames / r.encodeSeconds : 0.0,
                r.decodeSeconds > 0 ? r.frames / r.decodeSeconds : 0.0, PSNRText(PSNR(r.sqErrRGB, 3 * pix)).c_str(),
                r.alpha ? PSNRText(PSNR(r.sqErrA, pix)).c_str() : "-");
  }
}

std::vector<RunConfig> StandardConfigs(int32_t threads) {
  return {{"Quality", "quality.mov", {0, 0, threads}},
          {"Performance", "performance.mov", {0, 1, threads}},
          {"VovorEvaded", "vovorevaded.mov", {0, 2, threads}},
          {"Quality+alpha", "quality-alpha.mov", {1, 0, threads}}};
}

}  // namespace

int CmdDemo(int argc, char** argv) {
  Args args(argc, argv, 0);
  if (args.Flag("--help", "-h")) {
    std::fputs(kDemoHelp, stdout);
    return 0;
  }
  std::string err, v, out = "orx-demo";
  int w = kTestClipWidth, h = kTestClipHeight, frames = kTestClipFrames;
  args.Value("--out", "-o", &out, &err);
  if (args.Value("--size", nullptr, &v, &err) && !ParseSize(v, &w, &h)) return Usage("--size: \"" + v + "\" is not WxH");
  if (args.Value("--frames", nullptr, &v, &err)) {
    char* end = nullptr;
    const long n = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end || n < 1 || n > 100000) return Usage("--frames: \"" + v + "\" is not a frame count");
    frames = int(n);
  }
  if (!err.empty()) return Usage(err);
  std::vector<std::string> rest;
  if (!args.Positionals(&rest, &err)) return Usage(err);
  if (!rest.empty()) return Usage("demo: unexpected argument \"" + rest[0] + "\"");
  CatchInterruptions();
  if (mkdir(out.c_str(), 0755) != 0 && errno != EEXIST) return Fail(out + ": cannot create the folder: " + std::strerror(errno));
  struct stat st;
  if (stat(out.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return Fail(out + ": not a folder");

  const FrameGen gen = [w, h](int i, ImageARGB* img) { MakeTestClipFrame(img, w, h, i); };
  const std::vector<RunConfig> cfgs = StandardConfigs(1);
  std::vector<RunResult> results(cfgs.size());
  std::vector<std::string> names;
  const int keep = frames / 2;
  std::printf("Test clip: %dx%d, %d frames at 24 fps, raw ARGB %s\n", w, h, frames,
              HumanBytes(uint64_t(frames) * uint64_t(w) * uint64_t(h) * 4).c_str());
  for (size_t i = 0; i < cfgs.size(); ++i) {
    if (!RunOne(cfgs[i], w, h, frames, gen, out + "/" + cfgs[i].file, keep, &results[i], &err)) return Fail(err);
    names.push_back(cfgs[i].name);
  }
  PrintTable(names, results, w, h);
  ImageARGB source;
  gen(keep, &source);
  const std::string sheet = out + "/contact-sheet.png";
  if (!WriteContactSheet(sheet, source, cfgs, results, &err)) return Fail(err);
  std::printf("\nWrote ");
  for (const RunConfig& c : cfgs) std::printf("%s, ", c.file.c_str());
  std::printf("and contact-sheet.png (frame %d) into %s/\n", keep, out.c_str());
  return 0;
}

int CmdBench(int argc, char** argv) {
  Args args(argc, argv, 0);
  if (args.Flag("--help", "-h")) {
    std::fputs(kBenchHelp, stdout);
    return 0;
  }
  std::string err, v;
  int w = 1920, h = 1080, frames = 5;
  std::vector<int32_t> threads = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  if (args.Value("--size", nullptr, &v, &err) && !ParseSize(v, &w, &h)) return Usage("--size: \"" + v + "\" is not WxH");
  if (args.Value("--frames", nullptr, &v, &err)) {
    char* end = nullptr;
    const long n = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end || n < 1 || n > 10000) return Usage("--frames: \"" + v + "\" is not a frame count");
    frames = int(n);
  }
  if (args.Value("--threads", nullptr, &v, &err)) {
    threads.clear();
    size_t start = 0;
    while (start <= v.size()) {
      const size_t comma = v.find(',', start);
      const std::string item = v.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      int32_t t = 0;
      if (!ParseThreads(item, &t)) return Usage("--threads: \"" + item + "\" is not one of max, 1, 2, 4, 6, 8, 12, 16, 24");
      threads.push_back(t);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  if (!err.empty()) return Usage(err);
  std::vector<std::string> rest;
  if (!args.Positionals(&rest, &err)) return Usage(err);
  if (!rest.empty()) return Usage("bench: unexpected argument \"" + rest[0] + "\"");

  // A few distinct realistic frames, cycled: generating them is not timed.
  const int distinct = std::min(frames, 4);
  std::vector<ImageARGB> pictures(static_cast<size_t>(distinct));
  for (int i = 0; i < distinct; ++i) {
    pictures[size_t(i)].Allocate(w, h);
    ORXMakeTestImageARGB(pictures[size_t(i)].pixels.data(), w, h, 0, i * 3);
    ORXAddGrainARGB(pictures[size_t(i)].pixels.data(), w, h, 0, 3, uint32_t(i + 1));
  }
  const FrameGen gen = [&](int i, ImageARGB* img) { *img = pictures[size_t(i % distinct)]; };
  std::printf("Benchmark: %dx%d, %d frames per row, through the components (in memory)\n", w, h, frames);
  std::vector<std::string> names;
  std::vector<RunResult> results;
  for (const RunConfig& base : StandardConfigs(1)) {
    for (int32_t t : threads) {
      RunConfig cfg = base;
      cfg.choices.threads = t;
      RunResult r;
      if (!RunOne(cfg, w, h, frames, gen, "", -1, &r, &err)) return Fail(err);
      names.push_back(base.name + " " + ThreadsName(t));
      results.push_back(std::move(r));
    }
  }
  PrintTable(names, results, w, h);
  return 0;
}

}  // namespace orxapp
