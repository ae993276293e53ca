// The frame encoder: one source pixel buffer becomes one compressed frame
// (header, block data, optional LZF), emitted to the session as a key frame.
#include <cstdlib>
#include <cstring>

#include "DXT24.h"
#include "DXT24Pool.h"
#include "DXTStandard.h"
#include "LZFChunks.h"
#include "ORXComponent.h"
#include "ORXQuickTimePlatform.h"
#include "ORXHeader.h"

std::atomic<int32_t> numCores{0};

namespace {

// The instance's working storage with room for at least bytes, or null when
// it cannot be had (the old storage is kept then).
unsigned char* EncodeScratch(CompressorGlobals* g, size_t bytes) {
  if (bytes == 0) bytes = 1;
  if (g->encodeScratch != nullptr && g->encodeScratchSize >= bytes) return g->encodeScratch;
  auto* grown = static_cast<unsigned char*>(std::malloc(bytes));
  if (grown == nullptr) return nullptr;
  std::free(g->encodeScratch);
  g->encodeScratch = grown;
  g->encodeScratchSize = bytes;
  return grown;
}

}  // namespace

int ThreadsForSetting(SInt32 threadSetting) {
  const int fixed = ORXThreadsForChoice(threadSetting);  // 1 for values outside the popup
  if (fixed != 0) return fixed;
  int n = numCores.load();  // Max: one thread per processor core
  if (n == 0) {
    n = QueryProcessorCoreCount();
    if (n <= 0) n = 1;
    numCores.store(n);
  }
  return n;
}

ComponentResult CompressDXTOnly(CompressorGlobals* g, ICMCompressorSourceFrameRef sourceFrame, bool useDXT24) {
  CVPixelBufferRef pixels = ICMCompressorSourceFrameGetPixelBuffer(sourceFrame);
  if (pixels == nullptr || !ORXSourceIsARGB32(pixels)) return paramErr;
  const bool alpha = g->preserveAlpha != 0;
  const size_t widthZ = CVPixelBufferGetWidth(pixels);
  const size_t heightZ = CVPixelBufferGetHeight(pixels);
  const size_t rowBytes = CVPixelBufferGetBytesPerRow(pixels);
  if (widthZ > 32767 || heightZ > 32767 || rowBytes < 4 * widthZ || rowBytes > INT32_MAX) return paramErr;
  const int width = static_cast<int>(widthZ), height = static_cast<int>(heightZ);

  // The frame holds what is encoded now: the pixel buffer's own size and the
  // settings of this frame, which may differ from those the session was
  // prepared with. LZF output never exceeds the raw size.
  const int64_t rawSize = CalculateORXBlockDataSize(width, height, alpha, useDXT24);
  const int64_t needed = kORXHeaderSize + rawSize;
  const Size bufferSize = static_cast<Size>(needed > g->maxEncodedSize ? needed : g->maxEncodedSize);

  ICMMutableEncodedFrameRef frame = nullptr;
  OSStatus err = ICMEncodedFrameCreateMutable(g->session, sourceFrame, bufferSize, &frame);
  if (err != noErr) return err;
  if (frame == nullptr) return memFullErr;

  CVPixelBufferLockBaseAddress(pixels, 0);
  const auto* base = static_cast<const unsigned char*>(CVPixelBufferGetBaseAddress(pixels));
  auto* data = static_cast<unsigned char*>(ICMEncodedFrameGetDataPtr(frame));
  // Without LZF the blocks go straight into the frame. With it, the block
  // data and then the chunk scratch (8-byte aligned) are the instance's.
  const int64_t lzfAt = (rawSize + 7) / 8 * 8;
  const int64_t chunkBytes = ORXLZFChunkBytes(alpha, useDXT24);
  unsigned char* blocks = nullptr;
  if (g->skipLZF)
    blocks = data != nullptr ? data + kORXHeaderSize : nullptr;
  else
    blocks = EncodeScratch(g, static_cast<size_t>(lzfAt + ORXLZFScratchBytes(rawSize, chunkBytes)));
  if (blocks == nullptr || base == nullptr || data == nullptr) {
    CVPixelBufferUnlockBaseAddress(pixels, 0);
    ICMEncodedFrameRelease(frame);
    return blocks == nullptr ? memFullErr : paramErr;
  }

  const int threads = ThreadsForSetting(g->threadSetting);
  if (useDXT24) {
    stbCompressARGB32_to24_threaded(threads, blocks, base, width, height, static_cast<int>(rowBytes), alpha ? 1 : 0);
  } else {
    stbCompressARGB32_threaded(threads, blocks, base, width, height, static_cast<int>(rowBytes), alpha ? 1 : 0);
  }
  CVPixelBufferUnlockBaseAddress(pixels, 0);

  ORXHeader h;
  h.headerSize = kORXHeaderSize;
  h.version = kORXVersion;
  h.hasAlpha = alpha ? 1 : 0;
  h.isDXT24 = useDXT24 ? 1 : 0;
  h.gradientsDiscarded = ORXGradientsDiscardedByte(g->preserveGradients != 0);
  // LZF in fixed chunks over the pool; within the raw size or not at all.
  int64_t packed = 0;
  if (!g->skipLZF && rawSize > 0)
    packed = ORXPackLZF(threads, blocks, rawSize, chunkBytes, data + kORXHeaderSize, rawSize, blocks + lzfAt);
  if (packed != 0) {
    h.isLZF = 1;
    h.dataSize = static_cast<int32_t>(packed);
  } else {
    if (rawSize > 0 && blocks != data + kORXHeaderSize)
      std::memcpy(data + kORXHeaderSize, blocks, static_cast<size_t>(rawSize));
    h.isLZF = 0;
    h.dataSize = static_cast<int32_t>(rawSize);
  }
  WriteORXHeader(h, data);

  err = ICMEncodedFrameSetDataSize(frame, kORXHeaderSize + h.dataSize);
  if (err == noErr) err = ICMEncodedFrameSetMediaSampleFlags(frame, mediaSampleDoesNotDependOnOthers);
  if (err == noErr) err = ICMEncodedFrameSetFrameType(frame, kICMFrameType_I);
  if (err == noErr) err = ICMCompressorSessionEmitEncodedFrame(g->session, frame, 1, &sourceFrame);
  ICMEncodedFrameRelease(frame);
  return err;
}
