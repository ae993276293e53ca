// The compressor component: instance storage, handlers, settings and the
// frame encoder. Handlers take the instance storage first and return a
// QuickTime status.
#pragma once

#include <atomic>

#include "Components.h"
#include "Dialogs.h"
#include "ImageCodec.h"
#include "core/Platform/ProcessorCores.h"
#include "ImageCompression.h"
#include "core/Format/ORXFormat.h"
#include "core/Format/ORXSettingsFormat.h"

struct CompressorGlobals {
  ComponentInstance self;
  ComponentInstance target;
  ICMCompressorSessionRef session;                // not retained
  ICMCompressionSessionOptionsRef sessionOptions; // retained while held
  SInt32 maxEncodedSize;
  UInt8 preserveAlpha;
  UInt8 preserveGradients;
  UInt8 skipLZF;
  SInt32 threadSetting;
  UInt8 prefsLoaded;
  // The frame encoder's working storage, kept between frames and grown when
  // a frame needs more (freed at close): the block data, then LZF's chunk
  // scratch at the next 8-byte boundary.
  unsigned char* encodeScratch;
  size_t encodeScratchSize;
};
typedef CompressorGlobals* CompressorGlobalsPtr;

// The four settings of an instance as the format states them, and back.
inline ORXSettingsValues SettingsOf(const CompressorGlobals* g) {
  ORXSettingsValues v;
  v.preserveAlpha = g->preserveAlpha;
  v.preserveGradients = g->preserveGradients;
  v.skipLZF = g->skipLZF;
  v.threadSetting = g->threadSetting;
  return v;
}
inline void SetSettings(CompressorGlobals* g, const ORXSettingsValues& v) {
  g->preserveAlpha = v.preserveAlpha;
  g->preserveGradients = v.preserveGradients;
  g->skipLZF = v.skipLZF;
  g->threadSetting = v.threadSetting;
}


// The 72-byte codec information of 'cdci' 256, which both components report.
ComponentResult ORXCopyCodecInfo(ComponentInstance self, CodecInfo* info);

// ---- Compressor handlers ----------------------------------------------------------
ComponentResult ORX_COpen(CompressorGlobalsPtr storage, ComponentInstance self);
ComponentResult ORX_CClose(CompressorGlobalsPtr storage, ComponentInstance self);
ComponentResult ORX_CVersion(CompressorGlobalsPtr storage);
ComponentResult ORX_CTarget(CompressorGlobalsPtr storage, ComponentInstance target);
ComponentResult ORX_CCanDo(CompressorGlobalsPtr storage, SInt16 selector);
ComponentResult ORX_CGetCodecInfo(CompressorGlobalsPtr storage, CodecInfo* info);
ComponentResult ORX_CGetMaxCompressionSize(CompressorGlobalsPtr storage, PixMapHandle src, const Rect* srcRect,
                                           SInt16 depth, CodecQ quality, SInt32* size);
ComponentResult ORX_CPrepareToCompressFrames(CompressorGlobalsPtr storage, ICMCompressorSessionRef session,
                                             ICMCompressionSessionOptionsRef options,
                                             ImageDescriptionHandle imageDescription, void* reserved,
                                             CFDictionaryRef* pixelBufferAttributesOut);
ComponentResult ORX_CEncodeFrame(CompressorGlobalsPtr storage, ICMCompressorSourceFrameRef sourceFrame, UInt32 flags);
ComponentResult ORX_CCompleteFrame(CompressorGlobalsPtr storage, ICMCompressorSourceFrameRef sourceFrame,
                                   UInt32 flags);

// ---- Settings, dialog and panel --------------------------------------------------
ComponentResult ORX_CGetSettings(CompressorGlobalsPtr storage, Handle settings);
ComponentResult ORX_CSetSettings(CompressorGlobalsPtr storage, Handle settings);
ComponentResult ORX_CRequestSettings(CompressorGlobalsPtr storage, Handle settings, Rect* rp, ModalFilterUPP filter);
ComponentResult ORX_CGetDITLForSize(CompressorGlobalsPtr storage, Handle* ditl, Point* requestedSize);
ComponentResult ORX_CDITLInstall(CompressorGlobalsPtr storage, DialogRef d, SInt16 itemOffset);
ComponentResult ORX_CDITLEvent(CompressorGlobalsPtr storage, DialogRef d, SInt16 itemOffset,
                               const EventRecord* theEvent, SInt16* itemHit, Boolean* handled);
ComponentResult ORX_CDITLItem(CompressorGlobalsPtr storage, DialogRef d, SInt16 itemOffset, SInt16 itemNum);
ComponentResult ORX_CDITLRemove(CompressorGlobalsPtr storage, DialogRef d, SInt16 itemOffset);
ComponentResult ORX_CDITLValidateInput(CompressorGlobalsPtr storage, Boolean* ok);

// Defaults at open and after a refused settings blob.
void SetDefaultSettings(CompressorGlobals* g);
// Reads the persisted settings when they have not been read or supplied yet.
void LoadSettingsIfNeeded(CompressorGlobals* g);
// Persisted settings: a file on this platform. No result: a store that cannot
// be used leaves the instance's settings as they are.
void ReadPreferences(CompressorGlobals* g);
void WritePreferences(CompressorGlobals* g);
// The folder and file the preferences live in (for messages and tests).
void GetPreferencesPath(char* path, size_t pathSize);

// ---- Frame encoder ---------------------------------------------------------------
ComponentResult CompressDXTOnly(CompressorGlobals* g, ICMCompressorSourceFrameRef sourceFrame, bool useDXT24);
// Block-compression threads (DXT24 and standard DXT alike) for a "Threads" choice.
int ThreadsForSetting(SInt32 threadSetting);
// Cached "Max" thread count (ORXThreadsForCores), computed on first need.
extern std::atomic<int32_t> numCores;

// ---- Dispatch --------------------------------------------------------------------
extern "C" ComponentResult ORX_CComponentDispatch(ComponentParameters* params, Handle storage);
// True when the compressor's table has a handler for the selector.
bool ORXCompressorImplements(SInt16 selector);
