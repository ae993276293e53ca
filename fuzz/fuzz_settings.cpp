// The settings blob a host restores: SetSettings with arbitrary bytes, then
// GetSettings, then a frame encoded with whatever the compressor took.
#include <cstring>

#include "CompressorFuzz.h"
#include "FuzzSupport.h"
#include "MacMemory.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orxfuzz::PrivatePreferencesFolder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64) return 0;
  ComponentInstance ci = nullptr;
  if (OpenADefaultComponent(compressorComponentType, FOUR_CHAR_CODE('O', 'R', 'X', 'V'), &ci) != noErr) return 0;
  Handle blob = NewHandle(Size(size));
  if (blob != nullptr) {
    if (size) std::memcpy(*blob, data, size);
    ImageCodecSetSettings(ci, blob);
    ImageCodecGetSettings(ci, blob);
    DisposeHandle(blob);
  }
  orxfuzz::EncodeSmallFrame(ci, size ? data[0] : 0);
  CloseComponent(ci);
  return 0;
}
