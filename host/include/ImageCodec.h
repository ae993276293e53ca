// Image codec component requests: selectors and the calls a host sends to a
// codec component.
#pragma once

#include "Components.h"
#include "Dialogs.h"
#include "ImageCompression.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct PixMap** PixMapHandle;
typedef void* ICMDataProcRecordPtr;

enum {
  kImageCodecGetCodecInfoSelect = 0x0000,
  kImageCodecGetCompressionTimeSelect = 0x0001,
  kImageCodecGetMaxCompressionSizeSelect = 0x0002,
  kImageCodecPreCompressSelect = 0x0003,
  kImageCodecBandCompressSelect = 0x0004,
  kImageCodecPreDecompressSelect = 0x0005,
  kImageCodecBandDecompressSelect = 0x0006,
  kImageCodecBusySelect = 0x0007,
  kImageCodecGetCompressedImageSizeSelect = 0x0008,
  kImageCodecRequestSettingsSelect = 0x000B,
  kImageCodecGetSettingsSelect = 0x000C,
  kImageCodecSetSettingsSelect = 0x000D,
  kImageCodecFlushSelect = 0x000E,
  kImageCodecGetBaseMPWorkFunctionSelect = 0x0025,
  kImageCodecGetDITLForSizeSelect = 0x002E,
  kImageCodecDITLInstallSelect = 0x002F,
  kImageCodecDITLEventSelect = 0x0030,
  kImageCodecDITLItemSelect = 0x0031,
  kImageCodecDITLRemoveSelect = 0x0032,
  kImageCodecDITLValidateInputSelect = 0x0033,
  kImageCodecPrepareToCompressFramesSelect = 0x0037,
  kImageCodecEncodeFrameSelect = 0x0038,
  kImageCodecCompleteFrameSelect = 0x0039,
  kImageCodecPreflightSelect = 0x0200,
  kImageCodecInitializeSelect = 0x0201,
  kImageCodecBeginBandSelect = 0x0202,
  kImageCodecDrawBandSelect = 0x0203,
  kImageCodecEndBandSelect = 0x0204,
  kImageCodecQueueStartingSelect = 0x0205,
  kImageCodecQueueStoppingSelect = 0x0206,
  kImageCodecDecodeBandSelect = 0x020F,
};

enum {
  compressorComponentType = FOUR_CHAR_CODE('i', 'm', 'c', 'o'),
  decompressorComponentType = FOUR_CHAR_CODE('i', 'm', 'd', 'c'),
  kBaseCodecType = FOUR_CHAR_CODE('b', 'a', 's', 'e'),
};

// The calls, as a host sends them (each packs its arguments and goes
// through the component's entry point).
ComponentResult ImageCodecGetCodecInfo(ComponentInstance ci, CodecInfo* info);
ComponentResult ImageCodecGetMaxCompressionSize(ComponentInstance ci, PixMapHandle src, const Rect* srcRect,
                                                SInt16 depth, CodecQ quality, SInt32* size);
ComponentResult ImageCodecRequestSettings(ComponentInstance ci, Handle settings, Rect* rp, ModalFilterUPP filterProc);
ComponentResult ImageCodecGetSettings(ComponentInstance ci, Handle settings);
ComponentResult ImageCodecSetSettings(ComponentInstance ci, Handle settings);
ComponentResult ImageCodecGetDITLForSize(ComponentInstance ci, Handle* ditl, Point* requestedSize);
ComponentResult ImageCodecDITLInstall(ComponentInstance ci, DialogRef d, SInt16 itemOffset);
ComponentResult ImageCodecDITLEvent(ComponentInstance ci, DialogRef d, SInt16 itemOffset, const EventRecord* theEvent,
                                    SInt16* itemHit, Boolean* handled);
ComponentResult ImageCodecDITLItem(ComponentInstance ci, DialogRef d, SInt16 itemOffset, SInt16 itemNum);
ComponentResult ImageCodecDITLRemove(ComponentInstance ci, DialogRef d, SInt16 itemOffset);
ComponentResult ImageCodecDITLValidateInput(ComponentInstance ci, Boolean* ok);
ComponentResult ImageCodecPrepareToCompressFrames(ComponentInstance ci, ICMCompressorSessionRef session,
                                                  ICMCompressionSessionOptionsRef compressionSessionOptions,
                                                  ImageDescriptionHandle imageDescription, void* reserved,
                                                  CFDictionaryRef* compressorPixelBufferAttributesOut);
ComponentResult ImageCodecEncodeFrame(ComponentInstance ci, ICMCompressorSourceFrameRef sourceFrame, UInt32 flags);
ComponentResult ImageCodecCompleteFrame(ComponentInstance ci, ICMCompressorSourceFrameRef sourceFrame, UInt32 flags);
ComponentResult ImageCodecGetCompressedImageSize(ComponentInstance ci, ImageDescriptionHandle desc, Ptr data,
                                                 SInt32 bufferSize, ICMDataProcRecordPtr dataProc, SInt32* dataSize);

// The host's standard compression dialog: its own "OK" and "Cancel" items,
// then the compressor's panel ('DITL' from GetDITLForSize at the smallest
// size) appended below, installed with DITLInstall; item hits inside the
// panel go to DITLItem; on OK the panel is validated; the panel is removed
// (DITLRemove) when the dialog closes. Returns noErr on OK, userCanceledErr
// on Cancel, or the component's error.
OSErr HostRunStandardCompressionDialog(ComponentInstance compressor);

#ifdef __cplusplus
}
#endif
