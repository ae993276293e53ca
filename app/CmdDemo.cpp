// orx demo: the built-in clip through every "Optimize For" choice and back,
// with sizes, speeds, PSNR and a contact sheet.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "Cli.h"
#include "Commands.h"
#include "ContactSheet.h"
#include "TestClip.h"
#include "Trial.h"

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
  // What this run writes is one output: until the contact sheet is in
  // place, an interruption or a failure removes the movies and the sheet it
  // wrote, and the folder when the run made it.
  PartialOutput folder;
  std::vector<PartialOutput> written;
  written.reserve(8);
  int made;
  {
    HoldInterruptions hold;  // no second signal between the folder and its registration
    made = mkdir(out.c_str(), 0755);
    if (made == 0) folder.Folder(out);
  }
  if (made != 0 && errno != EEXIST) return Fail(out + ": cannot create the folder: " + std::strerror(errno));
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
    written.emplace_back();
    if (!RunOne(cfgs[i], w, h, frames, gen, out + "/" + cfgs[i].file, keep, &results[i], &err, &written.back()))
      return Fail(Interrupted() ? out + ": interrupted; nothing was left behind" : err);
    names.push_back(cfgs[i].name);
  }
  PrintTable(names, results, w, h);
  ImageARGB source;
  gen(keep, &source);
  const std::string sheet = out + "/contact-sheet.png";
  written.emplace_back();
  if (Interrupted()) return Fail(out + ": interrupted; nothing was left behind");
  if (!WriteContactSheet(sheet, source, cfgs, results, &written.back(), &err))
    return Fail(Interrupted() ? out + ": interrupted; nothing was left behind" : err);
  {
    HoldInterruptions hold;  // kept all together, or a second signal finds all
    for (PartialOutput& p : written) p.Release();
    folder.Release();
  }
  std::printf("\nWrote ");
  for (const RunConfig& c : cfgs) std::printf("%s, ", c.file.c_str());
  std::printf("and contact-sheet.png (frame %d) into %s/\n", keep, out.c_str());
  return 0;
}

}  // namespace orxapp
