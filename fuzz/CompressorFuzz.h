// Encoding one small frame through a compressor instance, shared by the
// settings and preferences harnesses.
#pragma once

#include <cstdint>
#include <cstring>

#include "ImageCodec.h"

namespace orxfuzz {

inline OSStatus Discard(void*, ICMCompressionSessionRef, OSStatus, ICMEncodedFrameRef, void*) { return noErr; }

// An 8x8 frame of the given seed through a session on ci.
inline void EncodeSmallFrame(ComponentInstance ci, uint8_t seed) {
  ICMEncodedFrameOutputRecord out{Discard, nullptr, nullptr};
  ICMCompressionSessionRef session = nullptr;
  if (HostICMCompressionSessionCreateWithCompressor(ci, 8, 8, FOUR_CHAR_CODE('O', 'R', 'X', 'V'), 600, nullptr, &out,
                                                    &session) != noErr)
    return;
  CVPixelBufferRef pb = nullptr;
  if (HostCVPixelBufferCreate(8, 8, k32ARGBPixelFormat, 0, &pb) == kCVReturnSuccess) {
    CVPixelBufferLockBaseAddress(pb, 0);
    auto* p = static_cast<uint8_t*>(CVPixelBufferGetBaseAddress(pb));
    for (size_t i = 0; i < 8 * CVPixelBufferGetBytesPerRow(pb); ++i) p[i] = uint8_t(i * 37 + seed);
    CVPixelBufferUnlockBaseAddress(pb, 0);
    ICMCompressionSessionEncodeFrame(session, pb, 0, 0, 0, nullptr, nullptr, nullptr);
    CVPixelBufferRelease(pb);
  }
  ICMCompressionSessionRelease(session);
}

}  // namespace orxfuzz
