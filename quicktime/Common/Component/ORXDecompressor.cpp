// Decompressor component handlers.
#include "quicktime/Common/Component/ORXDecompressor.h"

#include <cstdlib>
#include <cstring>

#include <new>

#include "core/Format/ORXHeader.h"
#include "MacMemory.h"
#include "quicktime/Common/Component/ORXComponent.h"
#include "quicktime/Common/Component/ORXDataLoading.h"
#include "quicktime/Common/Component/ORXQuickTimePlatform.h"
#include "quicktime/Common/Decode/ORXDecodePipeline.h"
#include "quicktime/Common/OpenGL/GLDecompressorResources.h"

ComponentResult ORX_DOpen(DecompressorGlobalsPtr, ComponentInstance self) {
  // The storage is a zero-filled pointer block from QuickTime's Memory Manager.
  auto* g = reinterpret_cast<DecompressorGlobals*>(NewPtrClear(static_cast<Size>(sizeof(DecompressorGlobals))));
  if (g == nullptr) return memFullErr;
  SetComponentInstanceStorage(self, reinterpret_cast<Handle>(g));
  g->self = self;
  g->target = self;
  // No resources at all when the graphics road is switched off: every frame
  // then takes the processor road.
  if (!ORXGLRoadDisabled()) {
    g->resources = new (std::nothrow) GLDecompressorResources;  // empty: no context until the first GPU frame
    if (g->resources == nullptr) return memFullErr;
    g->resources->forceGraphics = ORXGLRoadForced();
  }
  const OSErr err = OpenADefaultComponent(decompressorComponentType, kBaseCodecType, &g->delegate);
  if (err != noErr) {
    g->delegate = nullptr;
    return err;
  }
  ComponentSetTarget(g->delegate, self);
  return noErr;
}

ComponentResult ORX_DClose(DecompressorGlobalsPtr g, ComponentInstance self) {
  if (g == nullptr) return noErr;
  if (g->resources != nullptr) {
    g->resources->FreeResources();
    delete g->resources;
    g->resources = nullptr;
  }
  if (g->delegate != nullptr) CloseComponent(g->delegate);
  g->delegate = nullptr;
  ORXFreeDecodeScratch(&g->scratch);
  ORXFreeDecodeScratch(&g->loaded);
  DisposeHandle(g->wantedPixelTypes);
  g->drawBandProc = nullptr;  // a plain routine where made: nothing to dispose
  DisposePtr(reinterpret_cast<Ptr>(g));
  SetComponentInstanceStorage(self, nullptr);
  return noErr;
}


ComponentResult ORX_DVersion(DecompressorGlobalsPtr) { return static_cast<ComponentResult>(kORXCodecVersion); }

ComponentResult ORX_DTarget(DecompressorGlobalsPtr g, ComponentInstance target) {
  if (g != nullptr) g->target = target;
  return noErr;
}

ComponentResult ORX_DCanDo(DecompressorGlobalsPtr g, SInt16 selector) {
  if (ORXDecompressorImplements(selector)) return 1;
  return (g != nullptr && g->delegate != nullptr) ? CallComponentCanDo(g->delegate, selector) : 0;
}

ComponentResult ORX_DGetCodecInfo(DecompressorGlobalsPtr g, CodecInfo* info) {
  if (info == nullptr || g == nullptr) return paramErr;
  return ORXCopyCodecInfo(g->self, info);
}

// The stored size of a frame: header, first and second sections, as its
// header gives them, the same on every platform whether or not its decoder
// reads the second section. The header may come through the data-loading
// procedure and the rest of the frame need not be loaded; a frame that is
// whole in the buffer is checked as the decoder checks it.
ComponentResult ORX_DGetCompressedImageSize(DecompressorGlobalsPtr, ImageDescriptionHandle desc, Ptr data,
                                            SInt32 bufferSize, ICMDataProcRecordPtr dataProc, SInt32* dataSize) {
  if (dataSize == nullptr) return paramErr;
  const bool hasProc = dataProc != nullptr && dataProc->dataProc != nullptr;
  if (desc == nullptr || *desc == nullptr || (data == nullptr && !hasProc)) return paramErr;
  Ptr at = data;
  int64_t loaded = bufferSize > 0 ? bufferSize : 0;
  ORXHeader h;
  int64_t size = 0;
  if (const ComponentResult err = ORXReadFrameHeader(dataProc, &at, &loaded, &h, &size);
      err != noErr)
    return err;
  if (size > INT32_MAX) return codecBadDataErr;
  if (size <= loaded && CheckORXFrame(reinterpret_cast<const uint8_t*>(at), size, (*desc)->width, (*desc)->height,
                                      nullptr) != ORXFrameError::none)
    return codecBadDataErr;
  *dataSize = static_cast<SInt32>(size);
  return noErr;
}

ComponentResult ORX_DInitialize(DecompressorGlobalsPtr, ImageSubCodecDecompressCapabilities* cap) {
  if (cap == nullptr) return paramErr;
  cap->decompressRecordSize = sizeof(ORXDecompressRecord);
  cap->canAsync = TRUE;
  if (ORXGetDecompressorTableShape().multiBufferAware) cap->subCodecIsMultiBufferAware = TRUE;
  return noErr;
}

ComponentResult ORX_DPreflight(DecompressorGlobalsPtr g, CodecDecompressParams* p) {
  if (g == nullptr || p == nullptr || p->imageDescription == nullptr || *p->imageDescription == nullptr ||
      p->capabilities == nullptr)
    return paramErr;
  const SInt32 width = (*p->imageDescription)->width;
  const SInt32 height = (*p->imageDescription)->height;
  CodecCapabilities* caps = p->capabilities;
  caps->bandMin = static_cast<SInt16>(height);
  caps->bandInc = static_cast<SInt16>(height);
  caps->wantedPixelSize = 0;
  if (g->wantedPixelTypes == nullptr) {
    g->wantedPixelTypes = NewHandleClear(8);
    if (g->wantedPixelTypes == nullptr) return memFullErr;
  }
  p->wantedDestinationPixelTypes = reinterpret_cast<OSType**>(g->wantedPixelTypes);
  const OSType types[2] = {k32ARGBPixelFormat, 0};
  std::memcpy(*g->wantedPixelTypes, types, sizeof types);
  g->width = width;
  g->height = height;
  caps->extendWidth = static_cast<SInt16>((width + 3) / 4 * 4 - width);
  caps->extendHeight = static_cast<SInt16>((height + 3) / 4 * 4 - height);
  return noErr;
}

ComponentResult ORX_DBeginBand(DecompressorGlobalsPtr, CodecDecompressParams* p, ImageSubCodecDecompressRecord* drp,
                               SInt32) {
  if (p == nullptr || drp == nullptr || drp->userDecompressRecord == nullptr || p->imageDescription == nullptr ||
      *p->imageDescription == nullptr)
    return paramErr;
  drp->baseAddr = p->dstPixMap.baseAddr;
  drp->frameType = kCodecFrameTypeKey;
  auto* rec = static_cast<ORXDecompressRecord*>(drp->userDecompressRecord);
  rec->width = (*p->imageDescription)->width;
  rec->height = (*p->imageDescription)->height;
  // The bytes at codecData. With a data-loading procedure they may be only the
  // first part of the sample; DrawBand loads the rest, sized by the header.
  rec->dataSize = p->bufferSize;
  return noErr;
}

// Draws the frame; a frame that cannot be decoded is reported, not drawn.
ComponentResult ORX_DDrawBand(DecompressorGlobalsPtr g, ImageSubCodecDecompressRecord* drp) {
  if (g == nullptr || drp == nullptr || drp->userDecompressRecord == nullptr) return paramErr;
  const auto* rec = static_cast<const ORXDecompressRecord*>(drp->userDecompressRecord);
  const unsigned char* frame = reinterpret_cast<const unsigned char*>(drp->codecData);
  int64_t frameSize = rec->dataSize;
  if (drp->dataProcRecord.dataProc != nullptr) {
    const ComponentResult err =
        ORXLoadFrameThroughDataProc(drp->dataProcRecord, frame, rec->dataSize, &g->loaded, &frame, &frameSize);
    if (err != noErr) return err;
  }
  return ORX_DecompressImageData(g->resources, rec->width, rec->height, frame, frameSize,
                                 reinterpret_cast<unsigned char*>(drp->baseAddr), drp->rowBytes, &g->scratch);
}

ComponentResult ORX_DEndBand(DecompressorGlobalsPtr, ImageSubCodecDecompressRecord*, OSErr, SInt32) { return noErr; }
ComponentResult ORX_DQueueStarting(DecompressorGlobalsPtr) { return noErr; }
ComponentResult ORX_DQueueStopping(DecompressorGlobalsPtr) { return noErr; }
ComponentResult ORX_DDecodeBand(DecompressorGlobalsPtr, ImageSubCodecDecompressRecord*, UInt32) { return noErr; }

// The road this instance's DXT1/DXT5 frames take, so that a host need not
// make a context of its own to say it: decided now if no frame has decided
// it yet, from the renderer the process has learned, making no context.
ComponentResult ORX_DGetDecodeRoad(DecompressorGlobalsPtr g, SInt32* road, char* text, SInt32 textSize) {
  if (g == nullptr) return paramErr;
  const ORXDecodeRoad chosen = ORXChooseDXTRoad(g->resources);
  if (road != nullptr) *road = static_cast<SInt32>(chosen);
  if (text != nullptr && textSize > 0) ORXDescribeDecodeRoad(chosen, ORXRoadRenderer(g->resources), text, textSize);
  return noErr;
}
