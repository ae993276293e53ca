// The preferences file: arbitrary contents are read by a new compressor
// instance, which then reports its settings and encodes a frame.
#include <cstdio>
#include <string>

#include "CompressorFuzz.h"
#include "FuzzSupport.h"
#include "MacMemory.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orxfuzz::PrivatePreferencesFolder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 256) return 0;
  const std::string file = orxfuzz::PrivatePreferencesFolder() + "/ORXPreferences.dat";
  FILE* f = std::fopen(file.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  ComponentInstance ci = nullptr;
  if (OpenADefaultComponent(compressorComponentType, FOUR_CHAR_CODE('O', 'R', 'X', 'V'), &ci) != noErr) return 0;
  const Rect r{0, 0, 8, 8};
  SInt32 max = 0;
  ImageCodecGetMaxCompressionSize(ci, nullptr, &r, 32, codecNormalQuality, &max);
  Handle blob = NewHandle(0);
  if (blob) {
    ImageCodecGetSettings(ci, blob);
    DisposeHandle(blob);
  }
  orxfuzz::EncodeSmallFrame(ci, size ? data[size - 1] : 0);
  CloseComponent(ci);
  return 0;
}
