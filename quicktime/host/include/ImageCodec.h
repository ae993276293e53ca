// Image codec component requests: selectors and the calls a host sends to a
// codec component.
#pragma once

#include "Components.h"
#include "Dialogs.h"
#include "ImageCompression.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef SInt32 ImageSequence;
typedef UInt16 CodecFlags;
typedef OSErr (*ICMDataProcPtr)(Ptr* dataP, SInt32 bytesNeeded, SInt32 refcon);
typedef OSErr (*ICMProgressProcPtr)(SInt16 message, Fixed completeness, SInt32 refcon);
typedef void (*ICMCompletionProcPtr)(OSErr result, SInt16 flags, SInt32 refcon);
typedef void (*ImageCodecDrawBandCompleteProcPtr)(void* refcon, ComponentResult drawBandResult,
                                                  UInt32 drawBandCompleteFlags);

// Records the decompressor never reads; only their pointers travel.
typedef struct OpaqueGrafPort* CGrafPtr;
typedef struct OpaqueBitMap* BitMapPtr;
typedef struct OpaqueRegion** RgnHandle;
typedef struct OpaqueColorTable** CTabHandle;
typedef struct OpaqueMatrixRecord MatrixRecord;
typedef struct OpaqueICMFrameTime* ICMFrameTimePtr;
typedef struct OpaqueICMFrameTimeInfo* ICMFrameTimeInfoPtr;
typedef struct OpaqueCDSequenceDataSource* CDSequenceDataSourcePtr;

QT_PACK_BEGIN

struct ICMDataProcRecord {
  ICMDataProcPtr dataProc;
  SInt32 dataRefCon;
};
typedef struct ICMDataProcRecord ICMDataProcRecord;
typedef ICMDataProcRecord* ICMDataProcRecordPtr;

struct ICMProgressProcRecord {
  ICMProgressProcPtr progressProc;
  SInt32 progressRefCon;
};
typedef struct ICMProgressProcRecord ICMProgressProcRecord;

struct ICMCompletionProcRecord {
  ICMCompletionProcPtr completionProc;
  SInt32 completionRefCon;
};
typedef struct ICMCompletionProcRecord ICMCompletionProcRecord;

struct QTUUID {
  UInt32 data1;
  UInt16 data2;
  UInt16 data3;
  UInt8 data4[8];
};
typedef struct QTUUID QTUUID;
typedef QTUUID QTMediaContextID;

// A destination's pixels. rowBytes is 16 bits: its top two bits are flags
// (0x8000 marks a PixMap) and the count is the low 14; wider rows than that
// travel in the host's extension (pmExt) and reach DrawBand through the
// decompress record, whose rowBytes is 32 bits.
struct PixMap {
  Ptr baseAddr;
  SInt16 rowBytes;
  Rect bounds;
  SInt16 pmVersion;
  SInt16 packType;
  SInt32 packSize;
  Fixed hRes;
  Fixed vRes;
  SInt16 pixelType;
  SInt16 pixelSize;
  SInt16 cmpCount;
  SInt16 cmpSize;
  OSType pixelFormat;
  CTabHandle pmTable;
  void* pmExt;
};
typedef struct PixMap PixMap;
typedef PixMap* PixMapPtr;
typedef PixMapPtr* PixMapHandle;

struct CodecCapabilities {
  SInt32 flags;
  SInt16 wantedPixelSize;
  SInt16 extendWidth;
  SInt16 extendHeight;
  SInt16 bandMin;
  SInt16 bandInc;
  SInt16 pad;
  UInt32 time;
  SInt32 flags2;
};
typedef struct CodecCapabilities CodecCapabilities;

// One decompression request, as the ICM hands it to a decompressor. Every
// field QuickTime 7 defines is here, so that the offsets of the ones the
// codec uses are QuickTime's.
struct CodecDecompressParams {
  ImageSequence sequenceID;
  ImageDescriptionHandle imageDescription;
  Ptr data;
  SInt32 bufferSize;
  SInt32 frameNumber;
  SInt32 startLine;
  SInt32 stopLine;
  SInt32 conditionFlags;
  CodecFlags callerFlags;
  CodecCapabilities* capabilities;
  ICMProgressProcRecord progressProcRecord;
  ICMCompletionProcRecord completionProcRecord;
  ICMDataProcRecord dataProcRecord;
  CGrafPtr port;
  PixMap dstPixMap;
  BitMapPtr maskBits;
  PixMapPtr mattePixMap;
  Rect srcRect;
  MatrixRecord* matrix;
  CodecQ accuracy;
  SInt16 transferMode;
  ICMFrameTimePtr frameTime;
  SInt32 reserved[1];
  SInt8 matrixFlags;
  SInt8 matrixType;
  Rect dstRect;
  UInt16 majorSourceChangeSeed;
  UInt16 minorSourceChangeSeed;
  CDSequenceDataSourcePtr sourceData;
  RgnHandle maskRegion;
  OSType** wantedDestinationPixelTypes;  // a handle to a 0-terminated list
  SInt32 screenFloodMethod;
  SInt32 screenFloodValue;
  SInt16 preferredOffscreenPixelSize;
  ICMFrameTimeInfoPtr syncFrameTime;
  Boolean needUpdateOnTimeChange;
  Boolean enableBlackLining;
  Boolean needUpdateOnSourceChange;
  Boolean pad;
  SInt32 unused;
  CGrafPtr finalDestinationPort;
  SInt32 requestedBufferWidth;
  SInt32 requestedBufferHeight;
  Rect displayableAreaOfRequestedBuffer;
  Boolean requestedSingleField;
  Boolean needUpdateOnNextIdle;
  Boolean pad2[2];
  Fixed bufferGammaLevel;
  UInt32 taskWeight;
  OSType taskName;
  Boolean pad3;
  UInt8 destinationBufferMemoryPreference;
  UInt8 codecBufferMemoryPreference;
  Boolean onlyUseCodecIfItIsInUserPreferredCodecList;
  QTMediaContextID mediaContextID;
  UInt8 deinterlaceRequest;
  UInt8 deinterlaceAnswer;
  UInt8 pad4[2];
  SInt32 reserved2;
  UInt32 reserved3;
  SInt32 reserved4;
  void* reserved5;
  void* reserved6;
  void* reserved7;
  void* reserved8;
};
typedef struct CodecDecompressParams CodecDecompressParams;

struct ImageSubCodecDecompressCapabilities {
  SInt32 recordSize;
  SInt32 decompressRecordSize;
  Boolean canAsync;
  UInt8 pad0;
  UInt16 suggestedQueueSize;
  Boolean canProvideTrigger;
  Boolean subCodecFlushesScreen;
  Boolean subCodecCallsDrawBandComplete;
  UInt8 pad2[1];
  Boolean isChildCodec;
  UInt8 reserved1;
  UInt8 pad4[1];
  Boolean subCodecIsMultiBufferAware;
  Boolean subCodecSupportsOutOfOrderDisplayTimes;
  Boolean subCodecSupportsScheduledBackwardsPlaybackWithDifferenceFrames;
  Boolean subCodecNeedsHelpReportingNonDisplayableFrames;
  Boolean baseCodecShouldCallDecodeBandForAllFrames;
  UInt8 pad5[2];
  Boolean subCodecSupportsDrawInDecodeOrder;
  Boolean subCodecSupportsDecodeSmoothing;
  UInt8 pad6[4];
};
typedef struct ImageSubCodecDecompressCapabilities ImageSubCodecDecompressCapabilities;

struct ImageSubCodecDecompressRecord {
  Ptr baseAddr;
  SInt32 rowBytes;
  Ptr codecData;
  ICMProgressProcRecord progressProcRecord;
  ICMDataProcRecord dataProcRecord;
  void* userDecompressRecord;
  UInt8 frameType;
  Boolean inhibitMP;
  UInt8 pad[2];
  SInt32 priv[2];
  ImageCodecDrawBandCompleteProcPtr drawBandCompleteUPP;
  void* drawBandCompleteRefCon;
  void* reserved1;
  SInt32 reserved2;
  SInt32 reserved3;
};
typedef struct ImageSubCodecDecompressRecord ImageSubCodecDecompressRecord;

QT_PACK_END

enum { codecCanAsync = 1L << 13 };
enum { codecConditionFirstBand = 1L << 0, codecConditionLastBand = 1L << 1, codecConditionFirstFrame = 1L << 2 };
enum {
  kCodecFrameTypeUnknown = 0,
  kCodecFrameTypeKey = 1,
  kCodecFrameTypeDifference = 2,
  kCodecFrameTypeDroppableDifference = 3,
};
// The buffer a data-loading procedure hands out holds at least this many
// bytes, so a codec may ask it for up to this much at a time.
enum { codecMinimumDataSize = 32768 };

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

// Decompression requests: PreDecompress and BandDecompress go to a
// decompressor (which hands them to the base decompressor); the base then
// calls its target's Initialize, Preflight, BeginBand, DrawBand, EndBand.
ComponentResult ImageCodecPreDecompress(ComponentInstance ci, CodecDecompressParams* params);
ComponentResult ImageCodecBandDecompress(ComponentInstance ci, CodecDecompressParams* params);
ComponentResult ImageCodecInitialize(ComponentInstance ci, ImageSubCodecDecompressCapabilities* cap);
ComponentResult ImageCodecPreflight(ComponentInstance ci, CodecDecompressParams* params);
ComponentResult ImageCodecBeginBand(ComponentInstance ci, CodecDecompressParams* params,
                                    ImageSubCodecDecompressRecord* drp, SInt32 flags);
ComponentResult ImageCodecDrawBand(ComponentInstance ci, ImageSubCodecDecompressRecord* drp);
ComponentResult ImageCodecEndBand(ComponentInstance ci, ImageSubCodecDecompressRecord* drp, OSErr result,
                                  SInt32 flags);
ComponentResult ImageCodecQueueStarting(ComponentInstance ci);
ComponentResult ImageCodecQueueStopping(ComponentInstance ci);

// ---- The application's side of decompression ----------------------------------

typedef struct OpaqueHostDecompressionSession* HostDecompressionSessionRef;
// Opens the decompressor for the description's codec type and prepares it
// (PreDecompress): it chooses the destination format and how far the
// destination must extend beyond the image.
OSStatus HostDecompressionSessionCreate(ImageDescriptionHandle desc, HostDecompressionSessionRef* sessionOut);
void HostDecompressionSessionRelease(HostDecompressionSessionRef session);
// Destination size the decompressor asked for: the image plus its extension.
void HostDecompressionSessionGetDestinationSize(HostDecompressionSessionRef session, SInt32* width, SInt32* height);
ComponentInstance HostDecompressionSessionGetDecompressor(HostDecompressionSessionRef session);
// A destination pixel buffer of that size in the decompressor's format.
OSStatus HostDecompressionSessionCreateDestination(HostDecompressionSessionRef session, CVPixelBufferRef* out);
// Decodes one sample into the destination (at least the destination size).
OSStatus HostDecompressionSessionDecodeFrame(HostDecompressionSessionRef session, const void* data, SInt32 dataSize,
                                             CVPixelBufferRef destination);
// The same for a sample the decompressor reads through a data-loading
// procedure, as QuickTime hands over samples larger than its buffer: data
// holds the first loadedBytes of it and the procedure supplies the rest.
// The image description's dataSize plays no part.
OSStatus HostDecompressionSessionDecodeFrameWithDataProc(HostDecompressionSessionRef session, const void* data,
                                                         SInt32 loadedBytes, const ICMDataProcRecord* dataProc,
                                                         CVPixelBufferRef destination);

// The host's pixel-map extension (PixMap.pmExt): the destination's full row
// bytes, which PixMap.rowBytes cannot hold past 0x3FFE.
struct HostPixMapExtension {
  SInt32 rowBytes;
};
typedef struct HostPixMapExtension HostPixMapExtension;
// A destination's row bytes: from the extension when there is one, else the
// low 14 bits of rowBytes.
SInt32 HostPixMapRowBytes(const PixMap* pixMap);

// The host's base decompressor component ('imdc', 'base').
ComponentResult HostBaseDecompressorDispatch(ComponentParameters* params, Handle storage);

// The host's standard compression dialog: its own "OK" and "Cancel" items,
// then the compressor's panel ('DITL' from GetDITLForSize at the smallest
// size) appended below, installed with DITLInstall; item hits inside the
// panel go to DITLItem; on OK the panel is validated; the panel is removed
// (DITLRemove) when the dialog closes. Returns noErr on OK, userCanceledErr
// on Cancel, or the component's error.
ComponentResult HostRunStandardCompressionDialog(ComponentInstance compressor);

#ifdef __cplusplus
}
#endif

#include "QuickTimeLayout.h"
