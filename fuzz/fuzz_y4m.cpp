// The YUV4MPEG2 reader on an arbitrary stream: its header, then frames until
// the end or an error.
#include <cstdio>

#include "ImageIO.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (f == nullptr) return 0;
  orxapp::Y4MReader reader(f);
  std::string error;
  if (reader.ReadHeader(&error)) {
    orxapp::ImageARGB img;
    const auto& fmt = reader.Format();
    // Frames bigger than the input cannot be complete: the reader must say
    // so without needing the memory first.
    for (int i = 0; i < 64 && reader.ReadFrame(&img, &error) == 1; ++i)
      if (img.width != fmt.width || img.height != fmt.height) __builtin_trap();
  }
  std::fclose(f);
  return 0;
}
