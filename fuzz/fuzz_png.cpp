// The PNG reader on arbitrary bytes.
#include "ImageIO.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orxapp::ImageARGB img;
  std::string error;
  if (orxapp::ReadPNGFromMemory(data, size, &img, &error) &&
      img.pixels.size() != size_t(img.width) * size_t(img.height) * 4)
    __builtin_trap();
  return 0;
}
