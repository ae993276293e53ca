// The decompressor component: a sub-codec of the host's base decompressor
// that answers size, format and drawing; everything else is delegated.
#pragma once

#include "ImageCodec.h"
#include "quicktime/Common/Decode/ORXDecodePipeline.h"

struct GLDecompressorResources;

struct DecompressorGlobals {
  ComponentInstance self;
  ComponentInstance delegate;  // the base decompressor; null when not open
  ComponentInstance target;
  SInt32 width, height;
  Handle wantedPixelTypes;  // { k32ARGBPixelFormat, 0 }, made at the first Preflight
  GLDecompressorResources* resources;  // GPU resources; null while there are none
  ORXDecodeScratch scratch;  // unpacked block data, kept between frames
  ORXDecodeScratch loaded;   // frames gathered through a data-loading procedure
  void* drawBandProc;  // the draw routine handed to the base codec (Windows); made on first request
};
typedef DecompressorGlobals* DecompressorGlobalsPtr;

// Per-frame record the base allocates (20 bytes), filled by BeginBand.
struct ORXDecompressRecord {
  SInt32 width;
  SInt32 height;
  SInt32 dataSize;
  UInt8 unused[8];
};
static_assert(sizeof(ORXDecompressRecord) == 20, "the per-frame record is 20 bytes");

ComponentResult ORX_DOpen(DecompressorGlobalsPtr storage, ComponentInstance self);
ComponentResult ORX_DClose(DecompressorGlobalsPtr storage, ComponentInstance self);
ComponentResult ORX_DVersion(DecompressorGlobalsPtr storage);
ComponentResult ORX_DTarget(DecompressorGlobalsPtr storage, ComponentInstance target);
ComponentResult ORX_DCanDo(DecompressorGlobalsPtr storage, SInt16 selector);
ComponentResult ORX_DGetCodecInfo(DecompressorGlobalsPtr storage, CodecInfo* info);
ComponentResult ORX_DGetCompressedImageSize(DecompressorGlobalsPtr storage, ImageDescriptionHandle desc, Ptr data,
                                            SInt32 bufferSize, ICMDataProcRecordPtr dataProc, SInt32* dataSize);
ComponentResult ORX_DInitialize(DecompressorGlobalsPtr storage, ImageSubCodecDecompressCapabilities* cap);
ComponentResult ORX_DPreflight(DecompressorGlobalsPtr storage, CodecDecompressParams* p);
ComponentResult ORX_DBeginBand(DecompressorGlobalsPtr storage, CodecDecompressParams* p,
                               ImageSubCodecDecompressRecord* drp, SInt32 flags);
ComponentResult ORX_DDrawBand(DecompressorGlobalsPtr storage, ImageSubCodecDecompressRecord* drp);
ComponentResult ORX_DEndBand(DecompressorGlobalsPtr storage, ImageSubCodecDecompressRecord* drp, OSErr result,
                             SInt32 flags);
ComponentResult ORX_DQueueStarting(DecompressorGlobalsPtr storage);
ComponentResult ORX_DQueueStopping(DecompressorGlobalsPtr storage);
ComponentResult ORX_DDecodeBand(DecompressorGlobalsPtr storage, ImageSubCodecDecompressRecord* drp, UInt32 flags);
// The codec's own request kORXGetDecodeRoadSelect (ORXDecompressorRequests.h).
ComponentResult ORX_DGetDecodeRoad(DecompressorGlobalsPtr storage, SInt32* road, char* text, SInt32 textSize);

extern "C" ComponentResult ORX_DComponentDispatch(ComponentParameters* params, Handle storage);
bool ORXDecompressorImplements(SInt16 selector);
