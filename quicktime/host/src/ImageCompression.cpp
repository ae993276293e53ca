// Image Compression Manager, compression side: image descriptions with their
// extension properties, session options, the application's compression
// session, and the source and encoded frames a compressor works with.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "ImageCodec.h"
#include "ImageCompression.h"
#include "MacMemory.h"

namespace {

constexpr uint32_t kOptionsTag = 0x4F505453;  // "OPTS"
constexpr uint32_t kSourceTag = 0x53524346;   // "SRCF"
constexpr uint32_t kFrameTag = 0x454E4346;    // "ENCF"
// A Rect's coordinates are signed 16-bit numbers, so no session is wider
// or taller than this.
constexpr int kMaxImageSide = 32767;

std::atomic<SInt32> g_liveObjects{0};

void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
uint32_t GetBE32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

}  // namespace

struct OpaqueICMCompressionSessionOptions {
  uint32_t tag = kOptionsTag;
  std::atomic<SInt32> refs{1};
};

struct OpaqueICMCompressorSession {
  ICMCompressionSessionRef owner;
};

struct OpaqueICMCompressorSourceFrame {
  uint32_t tag = kSourceTag;
  CVPixelBufferRef pixelBuffer = nullptr;
  TimeValue64 displayTimeStamp = 0;
  TimeValue64 displayDuration = 0;
  bool emitted = false;
};

struct OpaqueICMEncodedFrame {
  uint32_t tag = kFrameTag;
  std::atomic<SInt32> refs{1};
  ICMCompressorSessionRef session = nullptr;
  uint8_t* data = nullptr;  // exactly bufferSize bytes
  Size bufferSize = 0;
  Size dataSize = 0;
  MediaSampleFlags sampleFlags = 0;
  ICMFrameType frameType = kICMFrameType_Unknown;
  TimeValue64 displayTimeStamp = 0;
  TimeValue64 displayDuration = 0;
};

struct OpaqueICMCompressionSession {
  ComponentInstance compressor = nullptr;
  bool ownsCompressor = false;
  ImageDescriptionHandle description = nullptr;
  ICMCompressionSessionOptionsRef options = nullptr;
  CFDictionaryRef attributes = nullptr;
  ICMEncodedFrameOutputRecord output{};
  TimeScale timeScale = 0;
  OpaqueICMCompressorSession compressorSide{};
  std::vector<ICMCompressorSourceFrameRef> pending;  // encoded but not yet emitted
};

namespace {

void ReleaseSourceFrame(ICMCompressorSourceFrameRef f) {
  if (f == nullptr) return;
  CVPixelBufferRelease(f->pixelBuffer);
  f->tag = 0;
  delete f;
  --g_liveObjects;
}

}  // namespace

extern "C" {

// ---- Image descriptions --------------------------------------------------------

// Properties are stored as extension atoms after the description, as they
// travel in a movie's sample description: size (4, big-endian), type (4),
// value (big-endian for 4-byte values).
OSStatus ICMImageDescriptionSetProperty(ImageDescriptionHandle desc, OSType propClass, OSType propID,
                                        UInt32 propValueSize, const void* propValueAddress) {
  if (desc == nullptr || *desc == nullptr || propValueAddress == nullptr) return paramErr;
  if (propClass != kQTPropertyClass_ImageDescription || propID != kICMImageDescriptionPropertyID_GammaLevel ||
      propValueSize != sizeof(Fixed))
    return paramErr;
  Handle h = reinterpret_cast<Handle>(desc);
  const Size size = GetHandleSize(h);
  if (size < static_cast<Size>(sizeof(ImageDescription))) return paramErr;
  Fixed value;
  std::memcpy(&value, propValueAddress, sizeof value);

  // Replace an existing atom of the same type.
  Size off = sizeof(ImageDescription);
  while (off + 8 <= size) {
    auto* p = reinterpret_cast<uint8_t*>(*h) + off;
    const uint32_t atomSize = GetBE32(p);
    if (atomSize < 8 || off + static_cast<Size>(atomSize) > size) break;
    if (GetBE32(p + 4) == propID && atomSize == 12) {
      PutBE32(p + 8, static_cast<uint32_t>(value));
      return noErr;
    }
    off += static_cast<Size>(atomSize);
  }
  SetHandleSize(h, size + 12);
  if (MemError() != noErr) return memFullErr;
  auto* p = reinterpret_cast<uint8_t*>(*h) + size;
  PutBE32(p, 12);
  PutBE32(p + 4, propID);
  PutBE32(p + 8, static_cast<uint32_t>(value));
  (*desc)->idSize = size + 12;
  return noErr;
}

OSStatus ICMImageDescriptionGetProperty(ImageDescriptionHandle desc, OSType propClass, OSType propID,
                                        UInt32 propValueSize, void* propValueAddress, UInt32* sizeOut) {
  if (desc == nullptr || *desc == nullptr || propValueAddress == nullptr) return paramErr;
  if (propClass != kQTPropertyClass_ImageDescription || propValueSize < sizeof(Fixed)) return paramErr;
  Handle h = reinterpret_cast<Handle>(desc);
  const Size size = GetHandleSize(h);
  Size off = sizeof(ImageDescription);
  while (off + 8 <= size) {
    const auto* p = reinterpret_cast<const uint8_t*>(*h) + off;
    const uint32_t atomSize = GetBE32(p);
    if (atomSize < 8 || off + static_cast<Size>(atomSize) > size) break;
    if (GetBE32(p + 4) == propID && atomSize == 12) {
      const Fixed v = static_cast<Fixed>(GetBE32(p + 8));
      std::memcpy(propValueAddress, &v, sizeof v);
      if (sizeOut != nullptr) *sizeOut = sizeof v;
      return noErr;
    }
    off += static_cast<Size>(atomSize);
  }
  return paramErr;
}

// ---- Options -------------------------------------------------------------------

OSStatus ICMCompressionSessionOptionsCreate(CFAllocatorRef, ICMCompressionSessionOptionsRef* options) {
  if (options == nullptr) return paramErr;
  *options = new (std::nothrow) OpaqueICMCompressionSessionOptions;
  if (*options == nullptr) return memFullErr;
  ++g_liveObjects;
  return noErr;
}

ICMCompressionSessionOptionsRef ICMCompressionSessionOptionsRetain(ICMCompressionSessionOptionsRef options) {
  if (options != nullptr) ++options->refs;
  return options;
}

void ICMCompressionSessionOptionsRelease(ICMCompressionSessionOptionsRef options) {
  if (options == nullptr) return;
  if (--options->refs == 0) {
    options->tag = 0;
    delete options;
    --g_liveObjects;
  }
}

SInt32 HostICMCompressionSessionOptionsGetRetainCount(ICMCompressionSessionOptionsRef options) {
  return options == nullptr ? 0 : options->refs.load();
}

// ---- Sessions ------------------------------------------------------------------

OSStatus HostICMCompressionSessionCreateWithCompressor(ComponentInstance compressor, SInt32 width, SInt32 height,
                                                       CodecType cType, TimeScale timeScale,
                                                       ICMCompressionSessionOptionsRef options,
                                                       ICMEncodedFrameOutputRecord* outputRecord,
                                                       ICMCompressionSessionRef* sessionOut) {
  if (sessionOut == nullptr) return paramErr;
  *sessionOut = nullptr;
  if (compressor == nullptr || outputRecord == nullptr || outputRecord->encodedFrameOutputCallback == nullptr)
    return paramErr;
  if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide) return paramErr;
  auto* s = new (std::nothrow) OpaqueICMCompressionSession;
  if (s == nullptr) return memFullErr;
  s->compressor = compressor;
  s->output = *outputRecord;
  s->timeScale = timeScale;
  s->compressorSide.owner = s;
  s->description = HostNewImageDescription(cType, static_cast<SInt16>(width), static_cast<SInt16>(height), "ORX");
  if (s->description == nullptr) {
    delete s;
    return memFullErr;
  }
  s->options = ICMCompressionSessionOptionsRetain(options);
  CFDictionaryRef attributes = nullptr;
  const ComponentResult r = ImageCodecPrepareToCompressFrames(compressor, &s->compressorSide, options,
                                                              s->description, nullptr, &attributes);
  s->attributes = attributes;
  ++g_liveObjects;
  if (r != noErr) {
    ICMCompressionSessionRelease(s);
    return r;
  }
  *sessionOut = s;
  return noErr;
}

OSStatus ICMCompressionSessionCreate(CFAllocatorRef, SInt32 width, SInt32 height, CodecType cType,
                                     TimeScale timeScale, ICMCompressionSessionOptionsRef options,
                                     CFDictionaryRef /*sourcePixelBufferAttributes*/,
                                     ICMEncodedFrameOutputRecord* outputRecord, ICMCompressionSessionRef* sessionOut) {
  if (sessionOut == nullptr) return paramErr;
  *sessionOut = nullptr;
  ComponentInstance ci = nullptr;
  const OSErr err = OpenADefaultComponent(compressorComponentType, cType, &ci);
  if (err != noErr) return err;
  const OSStatus r =
      HostICMCompressionSessionCreateWithCompressor(ci, width, height, cType, timeScale, options, outputRecord, sessionOut);
  if (r != noErr) {
    CloseComponent(ci);
    return r;
  }
  (*sessionOut)->ownsCompressor = true;
  return noErr;
}

void ICMCompressionSessionRelease(ICMCompressionSessionRef session) {
  if (session == nullptr) return;
  for (ICMCompressorSourceFrameRef f : session->pending) ReleaseSourceFrame(f);
  if (session->attributes != nullptr) CFRelease(session->attributes);
  ICMCompressionSessionOptionsRelease(session->options);
  DisposeHandle(reinterpret_cast<Handle>(session->description));
  if (session->ownsCompressor) CloseComponent(session->compressor);
  delete session;
  --g_liveObjects;
}

CFDictionaryRef HostICMCompressionSessionGetPixelBufferAttributes(ICMCompressionSessionRef session) {
  return session == nullptr ? nullptr : session->attributes;
}

ImageDescriptionHandle HostICMCompressionSessionGetImageDescription(ICMCompressionSessionRef session) {
  return session == nullptr ? nullptr : session->description;
}

ComponentInstance HostICMCompressionSessionGetCompressor(ICMCompressionSessionRef session) {
  return session == nullptr ? nullptr : session->compressor;
}

OSStatus ICMCompressionSessionEncodeFrame(ICMCompressionSessionRef session, CVPixelBufferRef pixelBuffer,
                                          TimeValue64 displayTimeStamp, TimeValue64 displayDuration,
                                          UInt32 /*validTimeFlags*/, void* /*frameOptions*/,
                                          void* /*sourceTrackingCallbackRecord*/, void* /*sourceFrameRefCon*/) {
  if (session == nullptr || pixelBuffer == nullptr) return paramErr;
  // No pixel transfer here: the compressor gets what it asked for or nothing.
  if (CVPixelBufferGetPixelFormatType(pixelBuffer) != k32ARGBPixelFormat) return paramErr;
  auto* f = new (std::nothrow) OpaqueICMCompressorSourceFrame;
  if (f == nullptr) return memFullErr;
  ++g_liveObjects;
  f->pixelBuffer = CVPixelBufferRetain(pixelBuffer);
  f->displayTimeStamp = displayTimeStamp;
  f->displayDuration = displayDuration;
  const ComponentResult r = ImageCodecEncodeFrame(session->compressor, f, 0);
  if (f->emitted || r != noErr) {
    ReleaseSourceFrame(f);
  } else {
    session->pending.push_back(f);
  }
  return r;
}

OSStatus ICMCompressionSessionCompleteFrames(ICMCompressionSessionRef session, Boolean, TimeValue64, TimeValue64) {
  if (session == nullptr) return paramErr;
  OSStatus first = noErr;
  std::vector<ICMCompressorSourceFrameRef> pending;
  pending.swap(session->pending);
  for (ICMCompressorSourceFrameRef f : pending) {
    const ComponentResult r = ImageCodecCompleteFrame(session->compressor, f, 0);
    if (first == noErr) first = r;
    ReleaseSourceFrame(f);
  }
  return first;
}

// ---- The compressor's side -------------------------------------------------------

CVPixelBufferRef ICMCompressorSourceFrameGetPixelBuffer(ICMCompressorSourceFrameRef sourceFrame) {
  if (sourceFrame == nullptr || sourceFrame->tag != kSourceTag) return nullptr;
  return sourceFrame->pixelBuffer;
}

OSStatus ICMEncodedFrameCreateMutable(ICMCompressorSessionRef session, ICMCompressorSourceFrameRef sourceFrame,
                                      Size bufferSize, ICMMutableEncodedFrameRef* frameOut) {
  if (frameOut == nullptr) return paramErr;
  *frameOut = nullptr;
  if (session == nullptr || bufferSize < 0) return paramErr;
  auto* f = new (std::nothrow) OpaqueICMEncodedFrame;
  if (f == nullptr) return memFullErr;
  // Exactly the size asked for, so that a write past it is a detectable fault.
  f->data = static_cast<uint8_t*>(std::malloc(bufferSize > 0 ? static_cast<size_t>(bufferSize) : 1));
  if (f->data == nullptr) {
    delete f;
    return memFullErr;
  }
  f->session = session;
  f->bufferSize = bufferSize;
  if (sourceFrame != nullptr && sourceFrame->tag == kSourceTag) {
    f->displayTimeStamp = sourceFrame->displayTimeStamp;
    f->displayDuration = sourceFrame->displayDuration;
  }
  ++g_liveObjects;
  *frameOut = f;
  return noErr;
}

void* ICMEncodedFrameGetDataPtr(ICMEncodedFrameRef frame) { return frame == nullptr ? nullptr : frame->data; }
Size ICMEncodedFrameGetBufferSize(ICMEncodedFrameRef frame) { return frame == nullptr ? 0 : frame->bufferSize; }
Size ICMEncodedFrameGetDataSize(ICMEncodedFrameRef frame) { return frame == nullptr ? 0 : frame->dataSize; }

OSStatus ICMEncodedFrameSetDataSize(ICMMutableEncodedFrameRef frame, Size dataSize) {
  if (frame == nullptr || dataSize < 0 || dataSize > frame->bufferSize) return paramErr;
  frame->dataSize = dataSize;
  return noErr;
}

MediaSampleFlags ICMEncodedFrameGetMediaSampleFlags(ICMEncodedFrameRef frame) {
  return frame == nullptr ? 0 : frame->sampleFlags;
}

OSStatus ICMEncodedFrameSetMediaSampleFlags(ICMMutableEncodedFrameRef frame, MediaSampleFlags flags) {
  if (frame == nullptr) return paramErr;
  frame->sampleFlags = flags;
  return noErr;
}

ICMFrameType ICMEncodedFrameGetFrameType(ICMEncodedFrameRef frame) {
  return frame == nullptr ? kICMFrameType_Unknown : frame->frameType;
}

OSStatus ICMEncodedFrameSetFrameType(ICMMutableEncodedFrameRef frame, ICMFrameType frameType) {
  if (frame == nullptr) return paramErr;
  frame->frameType = frameType;
  return noErr;
}

TimeValue64 ICMEncodedFrameGetDisplayTimeStamp(ICMEncodedFrameRef frame) {
  return frame == nullptr ? 0 : frame->displayTimeStamp;
}

ICMEncodedFrameRef ICMEncodedFrameRetain(ICMEncodedFrameRef frame) {
  if (frame != nullptr) ++frame->refs;
  return frame;
}

void ICMEncodedFrameRelease(ICMEncodedFrameRef frame) {
  if (frame == nullptr) return;
  if (--frame->refs == 0) {
    std::free(frame->data);
    frame->tag = 0;
    delete frame;
    --g_liveObjects;
  }
}

OSStatus ICMCompressorSessionEmitEncodedFrame(ICMCompressorSessionRef session, ICMMutableEncodedFrameRef frame,
                                              long numberOfSourceFrames, ICMCompressorSourceFrameRef* sourceFrames) {
  if (session == nullptr || frame == nullptr || frame->session != session) return paramErr;
  if (numberOfSourceFrames < 0 || (numberOfSourceFrames > 0 && sourceFrames == nullptr)) return paramErr;
  for (long i = 0; i < numberOfSourceFrames; ++i)
    if (sourceFrames[i] != nullptr && sourceFrames[i]->tag == kSourceTag) sourceFrames[i]->emitted = true;
  ICMCompressionSessionRef owner = session->owner;
  return owner->output.encodedFrameOutputCallback(owner->output.encodedFrameOutputRefCon, owner, noErr, frame,
                                                  nullptr);
}

SInt32 HostICMLiveObjectCount(void) { return g_liveObjects.load(); }

}  // extern "C"
