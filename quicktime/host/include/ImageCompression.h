// Image Compression Manager: image descriptions, codec information and the
// compression-session interface between host applications, the ICM and
// compressor components.
#pragma once

#include "Components.h"
#include "CoreFoundation.h"
#include "CoreVideo.h"
#include "MacTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef SInt32 TimeValue;
typedef SInt64 TimeValue64;
typedef SInt32 TimeScale;
typedef UInt32 CodecQ;
typedef OSType CodecType;
typedef SInt32 ICMFrameType;
typedef UInt32 MediaSampleFlags;

#pragma pack(push, 2)
// The image description that travels with the media (86 bytes when stored).
struct ImageDescription {
  SInt32 idSize;
  CodecType cType;
  SInt32 resvd1;
  SInt16 resvd2;
  SInt16 dataRefIndex;
  SInt16 version;
  SInt16 revisionLevel;
  SInt32 vendor;
  CodecQ temporalQuality;
  CodecQ spatialQuality;
  SInt16 width;
  SInt16 height;
  Fixed hRes;
  Fixed vRes;
  SInt32 dataSize;
  SInt16 frameCount;
  Str31 name;
  SInt16 depth;
  SInt16 clutID;
};

struct CodecInfo {
  Str31 typeName;
  SInt16 version;
  SInt16 revisionLevel;
  SInt32 vendor;
  SInt32 decompressFlags;
  SInt32 compressFlags;
  SInt32 formatFlags;
  UInt8 compressionAccuracy;
  UInt8 decompressionAccuracy;
  UInt16 compressionSpeed;
  UInt16 decompressionSpeed;
  UInt8 compressionLevel;
  UInt8 resvd;
  SInt16 minimumHeight;
  SInt16 minimumWidth;
  SInt16 decompressPipelineLatency;
  SInt16 compressPipelineLatency;
  SInt32 privateData;
};
#pragma pack(pop)
typedef struct ImageDescription ImageDescription;
typedef ImageDescription* ImageDescriptionPtr;
typedef ImageDescriptionPtr* ImageDescriptionHandle;
typedef struct CodecInfo CodecInfo;

enum {
  codecInfoDoes32 = 1L << 5,
  codecInfoDepth32 = 1L << 5,
};

enum {
  codecMinQuality = 0x000,
  codecLowQuality = 0x100,
  codecNormalQuality = 0x200,
  codecHighQuality = 0x300,
  codecMaxQuality = 0x3FF,
  codecLosslessQuality = 0x400,
};

enum {
  kICMFrameType_I = 'I',
  kICMFrameType_P = 'P',
  kICMFrameType_B = 'B',
  kICMFrameType_Unknown = 0,
};

enum {
  mediaSampleNotSync = 1L << 0,
  mediaSamplePartialSync = 1L << 16,
  mediaSampleHasRedundantCoding = 1L << 24,
  mediaSampleHasNoRedundantCoding = 1L << 25,
  mediaSampleIsDependedOnByOthers = 1L << 26,
  mediaSampleIsNotDependedOnByOthers = 1L << 27,
  mediaSampleDependsOnOthers = 1L << 28,
  mediaSampleDoesNotDependOnOthers = 1L << 29,
  mediaSampleEarlierDisplayTimesAllowed = 1L << 30,
};

enum {
  kQTPropertyClass_ImageDescription = FOUR_CHAR_CODE('i', 'd', 's', 'c'),
  kICMImageDescriptionPropertyID_GammaLevel = FOUR_CHAR_CODE('g', 'a', 'm', 'a'),
};

typedef struct OpaqueICMCompressionSessionOptions* ICMCompressionSessionOptionsRef;
typedef struct OpaqueICMCompressionSession* ICMCompressionSessionRef;
typedef struct OpaqueICMCompressorSession* ICMCompressorSessionRef;
typedef struct OpaqueICMCompressorSourceFrame* ICMCompressorSourceFrameRef;
typedef struct OpaqueICMEncodedFrame* ICMEncodedFrameRef;
typedef ICMEncodedFrameRef ICMMutableEncodedFrameRef;

// ---- Image descriptions ------------------------------------------------------

// A new description handle for a codec type and size (depth 32, name given as
// a C string, hRes/vRes 72 dpi, frameCount 1).
ImageDescriptionHandle HostNewImageDescription(CodecType cType, SInt16 width, SInt16 height, const char* name);
OSStatus ICMImageDescriptionSetProperty(ImageDescriptionHandle desc, OSType propClass, OSType propID,
                                        UInt32 propValueSize, const void* propValueAddress);
OSStatus ICMImageDescriptionGetProperty(ImageDescriptionHandle desc, OSType propClass, OSType propID,
                                        UInt32 propValueSize, void* propValueAddress, UInt32* sizeOut);

// ---- Compression session options --------------------------------------------

OSStatus ICMCompressionSessionOptionsCreate(CFAllocatorRef allocator, ICMCompressionSessionOptionsRef* options);
// Both accept null.
ICMCompressionSessionOptionsRef ICMCompressionSessionOptionsRetain(ICMCompressionSessionOptionsRef options);
void ICMCompressionSessionOptionsRelease(ICMCompressionSessionOptionsRef options);
SInt32 HostICMCompressionSessionOptionsGetRetainCount(ICMCompressionSessionOptionsRef options);

// ---- The application's side of a session --------------------------------------

typedef OSStatus (*ICMEncodedFrameOutputCallback)(void* encodedFrameOutputRefCon, ICMCompressionSessionRef session,
                                                  OSStatus error, ICMEncodedFrameRef frame, void* reserved);
struct ICMEncodedFrameOutputRecord {
  ICMEncodedFrameOutputCallback encodedFrameOutputCallback;
  void* encodedFrameOutputRefCon;
  void* frameDataAllocator;
};
typedef struct ICMEncodedFrameOutputRecord ICMEncodedFrameOutputRecord;

// Opens the compressor for cType ('imco' of that subtype), keeps it for the
// session and calls its PrepareToCompressFrames with a new image
// description of width x height.
OSStatus ICMCompressionSessionCreate(CFAllocatorRef allocator, SInt32 width, SInt32 height, CodecType cType,
                                     TimeScale timeScale, ICMCompressionSessionOptionsRef compressionOptions,
                                     CFDictionaryRef sourcePixelBufferAttributes,
                                     ICMEncodedFrameOutputRecord* encodedFrameOutputRecord,
                                     ICMCompressionSessionRef* compressionSessionOut);
// The same with a compressor instance the application opened (and set up, for
// example through its settings) itself; the session does not close it.
OSStatus HostICMCompressionSessionCreateWithCompressor(ComponentInstance compressor, SInt32 width, SInt32 height,
                                                       CodecType cType, TimeScale timeScale,
                                                       ICMCompressionSessionOptionsRef compressionOptions,
                                                       ICMEncodedFrameOutputRecord* encodedFrameOutputRecord,
                                                       ICMCompressionSessionRef* compressionSessionOut);
void ICMCompressionSessionRelease(ICMCompressionSessionRef session);
// The attributes the compressor asked for at prepare (retained by the
// session; do not release).
CFDictionaryRef HostICMCompressionSessionGetPixelBufferAttributes(ICMCompressionSessionRef session);
ImageDescriptionHandle HostICMCompressionSessionGetImageDescription(ICMCompressionSessionRef session);
ComponentInstance HostICMCompressionSessionGetCompressor(ICMCompressionSessionRef session);
// Compresses one frame: wraps the pixel buffer in a source frame and calls the
// compressor's EncodeFrame; emitted frames reach the output callback before
// this returns (this compressor emits within EncodeFrame).
OSStatus ICMCompressionSessionEncodeFrame(ICMCompressionSessionRef session, CVPixelBufferRef pixelBuffer,
                                          TimeValue64 displayTimeStamp, TimeValue64 displayDuration,
                                          UInt32 validTimeFlags, void* frameOptions,
                                          void* sourceTrackingCallbackRecord, void* sourceFrameRefCon);
OSStatus ICMCompressionSessionCompleteFrames(ICMCompressionSessionRef session, Boolean completeAllFrames,
                                             TimeValue64 completeUntilDisplayTimeStamp, TimeValue64 nextDisplayTimeStamp);

// ---- The compressor's side ------------------------------------------------------

CVPixelBufferRef ICMCompressorSourceFrameGetPixelBuffer(ICMCompressorSourceFrameRef sourceFrame);
OSStatus ICMEncodedFrameCreateMutable(ICMCompressorSessionRef session, ICMCompressorSourceFrameRef sourceFrame,
                                      Size bufferSize, ICMMutableEncodedFrameRef* frameOut);
void* ICMEncodedFrameGetDataPtr(ICMEncodedFrameRef frame);
Size ICMEncodedFrameGetBufferSize(ICMEncodedFrameRef frame);
Size ICMEncodedFrameGetDataSize(ICMEncodedFrameRef frame);
// paramErr when the size exceeds the buffer.
OSStatus ICMEncodedFrameSetDataSize(ICMMutableEncodedFrameRef frame, Size dataSize);
MediaSampleFlags ICMEncodedFrameGetMediaSampleFlags(ICMEncodedFrameRef frame);
OSStatus ICMEncodedFrameSetMediaSampleFlags(ICMMutableEncodedFrameRef frame, MediaSampleFlags flags);
ICMFrameType ICMEncodedFrameGetFrameType(ICMEncodedFrameRef frame);
OSStatus ICMEncodedFrameSetFrameType(ICMMutableEncodedFrameRef frame, ICMFrameType frameType);
TimeValue64 ICMEncodedFrameGetDisplayTimeStamp(ICMEncodedFrameRef frame);
ICMEncodedFrameRef ICMEncodedFrameRetain(ICMEncodedFrameRef frame);
void ICMEncodedFrameRelease(ICMEncodedFrameRef frame);
OSStatus ICMCompressorSessionEmitEncodedFrame(ICMCompressorSessionRef session, ICMMutableEncodedFrameRef frame,
                                              long numberOfSourceFrames, ICMCompressorSourceFrameRef* sourceFrames);
// Live encoded frames and source frames in this process (leak checks).
SInt32 HostICMLiveObjectCount(void);

#ifdef __cplusplus
}
#endif
