// Run-time registration of the decompressor, for a host that loads this
// library itself rather than finding it through its component resources.
#include "Components.h"
#include "core/Format/ORXFormat.h"
#include "ImageCompression.h"
#include "quicktime/Common/Component/ORXDecompressor.h"

extern "C" __attribute__((visibility("default"))) Component RegisterDecompressorComponent() {
  ComponentDescription cd{FOUR_CHAR_CODE('i', 'm', 'd', 'c'), kORXCodecType, kORXManufacturer, codecInfoDoes32, 0};
  // Global 0: the registration is the calling process's own.
  return RegisterComponent(&cd, ORX_DComponentDispatch, 0, nullptr, nullptr, nullptr);
}
