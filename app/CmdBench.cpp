// orx bench: a realistic picture through every variant and thread setting,
// in memory, with sizes, speeds and PSNR.
#include <algorithm>
#include <cstdlib>

#include "Cli.h"
#include "Codec.h"
#include "Commands.h"
#include "testimage/ORXTestImage.h"
#include "Trial.h"

namespace orxapp {

namespace {

const char kBenchHelp[] =
    "usage: orx bench [--size WxH] [--frames N] [--threads LIST]\n"
    "\n"
    "Encodes and decodes a realistic picture (test picture with camera-like\n"
    "grain) in memory through the components, for every variant and every\n"
    "\"Threads\" setting, and prints a table: stored size, ratio to raw ARGB,\n"
    "encode frames per second, decode frames per second on one thread a\n"
    "processor core and on one thread, PSNR.\n"
    "\n"
    "  --size WxH       frame size (default 1920x1080)\n"
    "  --frames N       frames per measurement (default 5)\n"
    "  --threads LIST   thread settings to measure, e.g. max,1,2 (default all)\n"
    "  -h, --help       this text\n";

}  // namespace

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
      cfg.decodeOnOneThread = true;
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
