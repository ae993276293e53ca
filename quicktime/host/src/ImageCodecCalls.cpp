// The image codec requests a host sends: each packs its arguments, one slot
// per argument in declaration order, and goes through the entry point.
#include <type_traits>

#include "ImageCodec.h"

namespace {

template <typename T>
uintptr_t Slot(T v) {
  if constexpr (std::is_pointer_v<T>)
    return reinterpret_cast<uintptr_t>(v);
  else
    return static_cast<uintptr_t>(static_cast<intptr_t>(v));
}

template <typename... A>
ComponentResult Send(ComponentInstance ci, SInt16 selector, A... args) {
  const uintptr_t slots[sizeof...(A) + 1] = {Slot(args)..., 0};
  return HostCallComponent(ci, selector, slots, static_cast<int>(sizeof...(A)));
}

}  // namespace

extern "C" {

ComponentResult ImageCodecGetCodecInfo(ComponentInstance ci, CodecInfo* info) {
  return Send(ci, kImageCodecGetCodecInfoSelect, info);
}

ComponentResult ImageCodecGetMaxCompressionSize(ComponentInstance ci, PixMapHandle src, const Rect* srcRect,
                                                SInt16 depth, CodecQ quality, SInt32* size) {
  return Send(ci, kImageCodecGetMaxCompressionSizeSelect, src, srcRect, depth, quality, size);
}

ComponentResult ImageCodecRequestSettings(ComponentInstance ci, Handle settings, Rect* rp, ModalFilterUPP filterProc) {
  return Send(ci, kImageCodecRequestSettingsSelect, settings, rp, filterProc);
}

ComponentResult ImageCodecGetSettings(ComponentInstance ci, Handle settings) {
  return Send(ci, kImageCodecGetSettingsSelect, settings);
}

ComponentResult ImageCodecSetSettings(ComponentInstance ci, Handle settings) {
  return Send(ci, kImageCodecSetSettingsSelect, settings);
}

ComponentResult ImageCodecGetDITLForSize(ComponentInstance ci, Handle* ditl, Point* requestedSize) {
  return Send(ci, kImageCodecGetDITLForSizeSelect, ditl, requestedSize);
}

ComponentResult ImageCodecDITLInstall(ComponentInstance ci, DialogRef d, SInt16 itemOffset) {
  return Send(ci, kImageCodecDITLInstallSelect, d, itemOffset);
}

ComponentResult ImageCodecDITLEvent(ComponentInstance ci, DialogRef d, SInt16 itemOffset, const EventRecord* theEvent,
                                    SInt16* itemHit, Boolean* handled) {
  return Send(ci, kImageCodecDITLEventSelect, d, itemOffset, theEvent, itemHit, handled);
}

ComponentResult ImageCodecDITLItem(ComponentInstance ci, DialogRef d, SInt16 itemOffset, SInt16 itemNum) {
  return Send(ci, kImageCodecDITLItemSelect, d, itemOffset, itemNum);
}

ComponentResult ImageCodecDITLRemove(ComponentInstance ci, DialogRef d, SInt16 itemOffset) {
  return Send(ci, kImageCodecDITLRemoveSelect, d, itemOffset);
}

ComponentResult ImageCodecDITLValidateInput(ComponentInstance ci, Boolean* ok) {
  return Send(ci, kImageCodecDITLValidateInputSelect, ok);
}

ComponentResult ImageCodecPrepareToCompressFrames(ComponentInstance ci, ICMCompressorSessionRef session,
                                                  ICMCompressionSessionOptionsRef options,
                                                  ImageDescriptionHandle imageDescription, void* reserved,
                                                  CFDictionaryRef* attributesOut) {
  return Send(ci, kImageCodecPrepareToCompressFramesSelect, session, options, imageDescription, reserved,
              attributesOut);
}

ComponentResult ImageCodecEncodeFrame(ComponentInstance ci, ICMCompressorSourceFrameRef sourceFrame, UInt32 flags) {
  return Send(ci, kImageCodecEncodeFrameSelect, sourceFrame, flags);
}

ComponentResult ImageCodecCompleteFrame(ComponentInstance ci, ICMCompressorSourceFrameRef sourceFrame, UInt32 flags) {
  return Send(ci, kImageCodecCompleteFrameSelect, sourceFrame, flags);
}

ComponentResult ImageCodecGetCompressedImageSize(ComponentInstance ci, ImageDescriptionHandle desc, Ptr data,
                                                 SInt32 bufferSize, ICMDataProcRecordPtr dataProc, SInt32* dataSize) {
  return Send(ci, kImageCodecGetCompressedImageSizeSelect, desc, data, bufferSize, dataProc, dataSize);
}

ComponentResult ImageCodecPreDecompress(ComponentInstance ci, CodecDecompressParams* params) {
  return Send(ci, kImageCodecPreDecompressSelect, params);
}

ComponentResult ImageCodecBandDecompress(ComponentInstance ci, CodecDecompressParams* params) {
  return Send(ci, kImageCodecBandDecompressSelect, params);
}

ComponentResult ImageCodecInitialize(ComponentInstance ci, ImageSubCodecDecompressCapabilities* cap) {
  return Send(ci, kImageCodecInitializeSelect, cap);
}

ComponentResult ImageCodecPreflight(ComponentInstance ci, CodecDecompressParams* params) {
  return Send(ci, kImageCodecPreflightSelect, params);
}

ComponentResult ImageCodecBeginBand(ComponentInstance ci, CodecDecompressParams* params,
                                    ImageSubCodecDecompressRecord* drp, SInt32 flags) {
  return Send(ci, kImageCodecBeginBandSelect, params, drp, flags);
}

ComponentResult ImageCodecDrawBand(ComponentInstance ci, ImageSubCodecDecompressRecord* drp) {
  return Send(ci, kImageCodecDrawBandSelect, drp);
}

ComponentResult ImageCodecEndBand(ComponentInstance ci, ImageSubCodecDecompressRecord* drp, OSErr result,
                                  SInt32 flags) {
  return Send(ci, kImageCodecEndBandSelect, drp, result, flags);
}

ComponentResult ImageCodecQueueStarting(ComponentInstance ci) { return Send(ci, kImageCodecQueueStartingSelect); }
ComponentResult ImageCodecQueueStopping(ComponentInstance ci) { return Send(ci, kImageCodecQueueStoppingSelect); }

}  // extern "C"
