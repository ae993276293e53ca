// The Linux side of the cross-platform frame checks.
//   crossplatform_frames write FOLDER  the Linux build's frame of the picture
//                                      for every variant, its decode, and the
//                                      core's frame with blocks made smaller
//   crossplatform_frames check FOLDER  the Windows build's frames decode here
//                                      to the pixels the Windows build got,
//                                      and equal the Linux frames apart from
//                                      the gradients-discarded byte
// Exit status 1 with one line per disagreement.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "CrossPlatformFrames.h"

using namespace crossplatform;

namespace {

int Write(const std::string& folder) {
  if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "%s: %s\n", folder.c_str(), std::strerror(errno));
    return 1;
  }
  int failures = 0;
  for (const Variant& v : kVariants) {
    const auto frame = Encode(v, v.width, v.height, Picture(v), 3);
    OSStatus status = noErr;
    const auto pixels = frame.empty() ? std::vector<uint8_t>() : Decode(frame, v.width, v.height, &status);
    const auto reduced = EncodeReduced(v);
    if (frame.empty() || pixels.empty() || reduced.empty() || !WriteFile(FileName(folder, v, "linux", "orx"), frame) ||
        !WriteFile(FileName(folder, v, "linux", "argb"), pixels) ||
        !WriteFile(FileName(folder, v, "linux", "reduced"), reduced)) {
      std::fprintf(stderr, "%s: could not encode, decode or write the Linux frame (status %d)\n", v.name,
                   static_cast<int>(status));
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}

int Check(const std::string& folder) {
  int failures = 0;
  for (const Variant& v : kVariants) {
    std::vector<uint8_t> windowsFrame, windowsPixels, linuxFrame;
    if (!ReadFile(FileName(folder, v, "windows", "orx"), &windowsFrame) ||
        !ReadFile(FileName(folder, v, "windows", "argb"), &windowsPixels) ||
        !ReadFile(FileName(folder, v, "linux", "orx"), &linuxFrame)) {
      std::fprintf(stderr, "%s: frames missing in %s\n", v.name, folder.c_str());
      ++failures;
      continue;
    }
    OSStatus status = noErr;
    const auto pixels = Decode(windowsFrame, v.width, v.height, &status);
    if (pixels != windowsPixels) {
      std::fprintf(stderr, "%s: the Windows frame decodes differently here (status %d)\n", v.name,
                   static_cast<int>(status));
      ++failures;
    }
    if (!SameFrameApartFromGradientsByte(windowsFrame, linuxFrame)) {
      std::fprintf(stderr, "%s: the Windows and Linux frames differ beyond the gradients-discarded byte\n", v.name);
      ++failures;
    }
    if (windowsFrame.size() > kGradientsDiscardedOffset && windowsFrame[kGradientsDiscardedOffset] != 0) {
      std::fprintf(stderr, "%s: the Windows frame marks gradients discarded\n", v.name);
      ++failures;
    }
  }
  if (failures == 0) std::printf("%zu variants agree across the two builds\n", std::size(kVariants));
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[1], "write") != 0 && std::strcmp(argv[1], "check") != 0)) {
    std::fprintf(stderr, "usage: crossplatform_frames write|check FOLDER\n");
    return 2;
  }
  return std::strcmp(argv[1], "write") == 0 ? Write(argv[2]) : Check(argv[2]);
}
