// The base image decompressor ('imdc', 'base'): the band bookkeeping that a
// sub-codec delegates. It asks its target (the sub-codec) for its
// capabilities, lets it preflight each sequence, and for each frame fills a
// decompress record and calls BeginBand, DrawBand and EndBand. A sub-codec
// that answers the multiprocessor work-function request hands the base
// codec a draw routine (through the get-base-work-function request), which
// then draws the bands in place of DrawBand.
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include "ImageCodec.h"

namespace {

// The sub-codec's draw routine and the work function handed back for it.
typedef ComponentResult (*DrawBandRoutine)(void* refcon, ImageSubCodecDecompressRecord* drp);
typedef ComponentResult (*WorkFunction)(void* refcon, ImageSubCodecDecompressRecord* drp);

struct BaseGlobals {
  ComponentInstance self = nullptr;
  ComponentInstance target = nullptr;
  bool initialized = false;
  ImageSubCodecDecompressCapabilities caps{};
  DrawBandRoutine drawRoutine = nullptr;
  void* drawRefcon = nullptr;
};

ComponentResult RunDrawRoutine(void* refcon, ImageSubCodecDecompressRecord* drp) {
  auto* g = static_cast<BaseGlobals*>(refcon);
  return g->drawRoutine ? g->drawRoutine(g->drawRefcon, drp) : paramErr;
}

template <typename T>
T Arg(ComponentParameters* p, int i) {
  if constexpr (std::is_pointer_v<T>)
    return reinterpret_cast<T>(p->params[i]);
  else
    return static_cast<T>(p->params[i]);
}

bool HasArgs(ComponentParameters* p, int n) { return p->paramSize >= n * sizeof(uintptr_t); }

ComponentResult PreDecompress(BaseGlobals* g, CodecDecompressParams* params) {
  if (params == nullptr) return paramErr;
  if (!g->initialized) {
    std::memset(&g->caps, 0, sizeof g->caps);
    g->caps.recordSize = sizeof g->caps;
    const ComponentResult r = ImageCodecInitialize(g->target, &g->caps);
    if (r != noErr) return r;
    if (g->caps.decompressRecordSize < 0 || g->caps.decompressRecordSize > (1 << 20)) return paramErr;
    // Optional: a sub-codec without it draws through DrawBand.
    WorkFunction work = nullptr;
    void* workRefcon = nullptr;
    const uintptr_t outs[2] = {reinterpret_cast<uintptr_t>(&work), reinterpret_cast<uintptr_t>(&workRefcon)};
    if (HostCallComponent(g->target, kComponentGetMPWorkFunctionSelect, outs, 2) != noErr || work != RunDrawRoutine ||
        workRefcon != g) {
      g->drawRoutine = nullptr;
      g->drawRefcon = nullptr;
    }
    g->initialized = true;
  }
  return ImageCodecPreflight(g->target, params);
}

ComponentResult BandDecompress(BaseGlobals* g, CodecDecompressParams* params) {
  if (params == nullptr || !g->initialized) return paramErr;
  void* user = std::calloc(1, g->caps.decompressRecordSize > 0 ? static_cast<size_t>(g->caps.decompressRecordSize) : 1);
  if (user == nullptr) return memFullErr;
  ImageSubCodecDecompressRecord drp{};
  drp.baseAddr = params->dstPixMap.baseAddr;
  drp.rowBytes = HostPixMapRowBytes(&params->dstPixMap);
  drp.codecData = params->data;
  drp.progressProcRecord = params->progressProcRecord;
  drp.dataProcRecord = params->dataProcRecord;
  drp.userDecompressRecord = user;
  ComponentResult r = ImageCodecBeginBand(g->target, params, &drp, 0);
  if (r == noErr) r = g->drawRoutine ? RunDrawRoutine(g, &drp) : ImageCodecDrawBand(g->target, &drp);
  const ComponentResult end = ImageCodecEndBand(g->target, &drp, static_cast<OSErr>(r), 0);
  std::free(user);
  // EndBand is optional for a sub-codec: one without it does not fail the frame.
  if (r == noErr && end != noErr && end != badComponentSelector) r = end;
  return r;
}

}  // namespace

extern "C" ComponentResult HostBaseDecompressorDispatch(ComponentParameters* p, Handle storage) {
  if (p == nullptr) return paramErr;
  auto* g = reinterpret_cast<BaseGlobals*>(storage);
  switch (p->what) {
    case kComponentOpenSelect: {
      if (!HasArgs(p, 1)) return paramErr;
      auto* ng = new (std::nothrow) BaseGlobals;
      if (ng == nullptr) return memFullErr;
      ng->self = Arg<ComponentInstance>(p, 0);
      ng->target = ng->self;
      SetComponentInstanceStorage(ng->self, reinterpret_cast<Handle>(ng));
      return noErr;
    }
    case kComponentCloseSelect:
      delete g;
      return noErr;
    case kComponentVersionSelect: return 0x00020001;
    case kComponentCanDoSelect: {
      if (!HasArgs(p, 1)) return paramErr;
      const SInt16 s = static_cast<SInt16>(p->params[0]);
      return (s == kComponentOpenSelect || s == kComponentCloseSelect || s == kComponentVersionSelect ||
              s == kComponentCanDoSelect || s == kComponentTargetSelect || s == kImageCodecPreDecompressSelect ||
              s == kImageCodecBandDecompressSelect || s == kImageCodecGetBaseMPWorkFunctionSelect)
                 ? 1
                 : 0;
    }
    case kComponentTargetSelect:
      if (g == nullptr || !HasArgs(p, 1)) return paramErr;
      g->target = Arg<ComponentInstance>(p, 0);
      return noErr;
    case kImageCodecPreDecompressSelect:
      if (g == nullptr || !HasArgs(p, 1)) return paramErr;
      return PreDecompress(g, Arg<CodecDecompressParams*>(p, 0));
    case kImageCodecBandDecompressSelect:
      if (g == nullptr || !HasArgs(p, 1)) return paramErr;
      return BandDecompress(g, Arg<CodecDecompressParams*>(p, 0));
    case kImageCodecGetBaseMPWorkFunctionSelect: {
      // Work function out, its refcon out, the sub-codec's draw routine and refcon.
      if (g == nullptr || !HasArgs(p, 4)) return paramErr;
      auto* workOut = Arg<WorkFunction*>(p, 0);
      auto* refconOut = Arg<void**>(p, 1);
      if (workOut == nullptr || refconOut == nullptr || p->params[2] == 0) return paramErr;
      g->drawRoutine = reinterpret_cast<DrawBandRoutine>(p->params[2]);
      g->drawRefcon = Arg<void*>(p, 3);
      *workOut = RunDrawRoutine;
      *refconOut = g;
      return noErr;
    }
    default: return badComponentSelector;
  }
}
