// The compressor's entry point and selector table. An entry is a handler and
// its parameter-layout word; handler 0 marks a selector absent from the
// table, kUnimplemented one the component does not implement.
#include <cstdint>

#include "quicktime/Common/Component/ORXComponent.h"
#include "quicktime/Common/Component/ORXQuickTimePlatform.h"
#include "quicktime/Common/Component/ORXDecompressor.h"
#include "core/Format/ORXDecompressorRequests.h"

namespace {

struct DispatchEntry {
  ProcPtr handler;
  ProcInfoType layout;
};

#define ORX_HANDLER(f) reinterpret_cast<ProcPtr>(&f)
const ProcPtr kUnimplemented = reinterpret_cast<ProcPtr>(static_cast<uintptr_t>(0xFFFFFFFFu));
constexpr DispatchEntry kNone = {nullptr, 0};

// Standard selectors -8 .. -1, indexed by selector + 8.
const DispatchEntry kCompressorStandard[8] = {
    {kUnimplemented, 0},                         // -8 get multiprocessor work function
    {kUnimplemented, 0},                         // -7 unregister
    {ORX_HANDLER(ORX_CTarget), 0x3F0},           // -6 target
    {kUnimplemented, 0},                         // -5 register
    {ORX_HANDLER(ORX_CVersion), 0x0F0},          // -4 version
    {ORX_HANDLER(ORX_CCanDo), 0x2F0},            // -3 can do
    {ORX_HANDLER(ORX_CClose), 0x3F0},            // -2 close
    {ORX_HANDLER(ORX_COpen), 0x3F0},             // -1 open
};

// Range 0: 0x00 .. 0x3C.
constexpr int kCompressorRange0Count = 0x3D;
struct Range0Table {
  DispatchEntry entries[kCompressorRange0Count];
  Range0Table() {
    for (auto& e : entries) e = {kUnimplemented, 0};
    entries[0x00] = {ORX_HANDLER(ORX_CGetCodecInfo), 0x3F0};
    entries[0x02] = {ORX_HANDLER(ORX_CGetMaxCompressionSize), 0x3EFF0};
    entries[0x0B] = {ORX_HANDLER(ORX_CRequestSettings), 0x3FF0};
    entries[0x0C] = {ORX_HANDLER(ORX_CGetSettings), 0x3F0};
    entries[0x0D] = {ORX_HANDLER(ORX_CSetSettings), 0x3F0};
    entries[0x2E] = {ORX_HANDLER(ORX_CGetDITLForSize), 0xFF0};
    entries[0x2F] = {ORX_HANDLER(ORX_CDITLInstall), 0xBF0};
    entries[0x30] = {ORX_HANDLER(ORX_CDITLEvent), 0x3FBF0};
    entries[0x31] = {ORX_HANDLER(ORX_CDITLItem), 0x2BF0};
    entries[0x32] = {ORX_HANDLER(ORX_CDITLRemove), 0xBF0};
    entries[0x33] = {ORX_HANDLER(ORX_CDITLValidateInput), 0x3F0};
    entries[0x37] = {ORX_HANDLER(ORX_CPrepareToCompressFrames), 0x3FFF0};
    entries[0x38] = {ORX_HANDLER(ORX_CEncodeFrame), 0xFF0};
    entries[0x39] = {ORX_HANDLER(ORX_CCompleteFrame), 0xFF0};
  }
};
const Range0Table kCompressorRange0;

// Steps 1-2 of dispatch: the table entry for a selector, or kNone.
DispatchEntry CompressorEntry(SInt16 selector) {
  if (selector < 0) return selector >= -8 ? kCompressorStandard[selector + 8] : kNone;
  const int range = (static_cast<uint16_t>(selector) >> 8) & 0xFF;
  const int index = selector & 0xFF;
  if (range == 0 && index < kCompressorRange0Count) return kCompressorRange0.entries[index];
  return kNone;
}

// ---- Decompressor -----------------------------------------------------------------

const ORXDecompressorTableShape kDecompressorShape = ORXGetDecompressorTableShape();

const DispatchEntry kDecompressorStandard[8] = {
    kDecompressorShape.mpWorkFunction != nullptr     // -8 get multiprocessor work function
        ? DispatchEntry{kDecompressorShape.mpWorkFunction, kDecompressorShape.mpWorkFunctionLayout}
        : DispatchEntry{kUnimplemented, 0},
    {kUnimplemented, 0},                         // -7 unregister
    {ORX_HANDLER(ORX_DTarget), 0x3F0},           // -6 target
    {kUnimplemented, 0},                         // -5 register
    {ORX_HANDLER(ORX_DVersion), 0x0F0},          // -4 version
    {ORX_HANDLER(ORX_DCanDo), 0x2F0},            // -3 can do
    {ORX_HANDLER(ORX_DClose), 0x3F0},            // -2 close
    {ORX_HANDLER(ORX_DOpen), 0x3F0},             // -1 open
};

// The largest ranges of any platform; the shape says where they end here.
constexpr int kDecompressorRange0Max = 0x3D;
constexpr int kDecompressorRange2Max = 0x10;
struct DecompressorTables {
  DispatchEntry range0[kDecompressorRange0Max];
  DispatchEntry range2[kDecompressorRange2Max];
  int range0Count = kDecompressorShape.range0Count;
  int range2Count = kDecompressorShape.range2Count;
  DecompressorTables() {
    for (auto& e : range0) e = kNone;
    for (auto& e : range2) e = kNone;
    range0[0x00] = {ORX_HANDLER(ORX_DGetCodecInfo), 0x3F0};
    range0[0x08] = {ORX_HANDLER(ORX_DGetCompressedImageSize), 0x3FFF0};
    range2[0x00] = {ORX_HANDLER(ORX_DPreflight), 0x3F0};
    range2[0x01] = {ORX_HANDLER(ORX_DInitialize), 0x3F0};
    range2[0x02] = {ORX_HANDLER(ORX_DBeginBand), 0x3FF0};
    range2[0x03] = {ORX_HANDLER(ORX_DDrawBand), 0x3F0};
    range2[0x04] = {ORX_HANDLER(ORX_DEndBand), 0x3BF0};
    range2[0x05] = {ORX_HANDLER(ORX_DQueueStarting), 0x0F0};
    range2[0x06] = {ORX_HANDLER(ORX_DQueueStopping), 0x0F0};
    if (kDecompressorShape.ownsDecodeBand) range2[0x0F] = {ORX_HANDLER(ORX_DDecodeBand), 0xFF0};
  }
};
const DecompressorTables kDecompressor;

// The codec's own requests, in the selectors an image codec's subtype owns.
const DispatchEntry kDecompressorGetDecodeRoad = {ORX_HANDLER(ORX_DGetDecodeRoad), 0x3FF0};

DispatchEntry DecompressorEntry(SInt16 selector) {
  if (selector < 0) return selector >= -8 ? kDecompressorStandard[selector + 8] : kNone;
  if (selector == kORXGetDecodeRoadSelect) return kDecompressorGetDecodeRoad;
  const int range = (static_cast<uint16_t>(selector) >> 8) & 0xFF;
  const int index = selector & 0xFF;
  if (range == 0 && index < kDecompressor.range0Count) return kDecompressor.range0[index];
  if (range == 2 && index < kDecompressor.range2Count) return kDecompressor.range2[index];
  return kNone;
}

}  // namespace

bool ORXDecompressorImplements(SInt16 selector) {
  const DispatchEntry e = DecompressorEntry(selector);
  return e.handler != nullptr && e.handler != kUnimplemented;
}

extern "C" __attribute__((visibility("default"))) ComponentResult ORX_DComponentDispatch(ComponentParameters* params,
                                                                                         Handle storage) {
  if (params == nullptr) return paramErr;
  const DispatchEntry e = DecompressorEntry(params->what);
  if (e.handler == nullptr) {
    auto* g = reinterpret_cast<DecompressorGlobals*>(storage);
    if (g == nullptr || g->delegate == nullptr) return badComponentSelector;
    return DelegateComponentCall(params, g->delegate);
  }
  if (e.handler == kUnimplemented || e.layout == 0) return badComponentSelector;
  return ORXCallHandler(storage, params, e.handler, e.layout);
}

bool ORXCompressorImplements(SInt16 selector) {
  const DispatchEntry e = CompressorEntry(selector);
  return e.handler != nullptr && e.handler != kUnimplemented;
}

extern "C" __attribute__((visibility("default"))) ComponentResult ORX_CComponentDispatch(ComponentParameters* params,
                                                                                         Handle storage) {
  if (params == nullptr) return paramErr;
  const DispatchEntry e = CompressorEntry(params->what);
  if (e.handler == nullptr || e.handler == kUnimplemented || e.layout == 0) return badComponentSelector;
  return ORXCallHandler(storage, params, e.handler, e.layout);
}
