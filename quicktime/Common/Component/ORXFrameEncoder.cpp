// The frame encoder: one source pixel buffer becomes one compressed frame
// (ORXEncodeFrame, the core's), emitted to the session as a key frame.
#include "quicktime/Common/Pools/DXT24Pool.h"
#include "quicktime/Common/Component/ORXComponent.h"
#include "core/Frames/ORXFrameEncode.h"
#include "quicktime/Common/Component/ORXQuickTimePlatform.h"
#include "core/Format/ORXHeader.h"

std::atomic<int32_t> numCores{0};

int ThreadsForSetting(SInt32 threadSetting) {
  const int fixed = ORXThreadsForChoice(threadSetting);  // 1 for values outside the popup
  if (fixed != 0) return fixed;
  int n = numCores.load();  // Max: one thread per processor core, at most 32
  if (n == 0) {
    n = ORXThreadsForCores(QueryProcessorCoreCount());
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
  if (widthZ > kORXMaxSide || heightZ > kORXMaxSide || rowBytes < 4 * widthZ || rowBytes > INT32_MAX) return paramErr;
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
  if (base == nullptr || data == nullptr) {
    CVPixelBufferUnlockBaseAddress(pixels, 0);
    ICMEncodedFrameRelease(frame);
    return paramErr;
  }
  ORXFrameChoices choices;
  choices.alpha = alpha;
  choices.dxt24 = useDXT24;
  choices.lzf = g->skipLZF == 0;
  choices.gradientsByte = ORXGradientsDiscardedByte(g->preserveGradients != 0);
  choices.threads = ThreadsForSetting(g->threadSetting);
  // The bands and chunks go to the encode pool, one frame at a time.
  choices.runner = ORXEncodePoolRunner(choices.threads);
  ORXEncodeScratch scratch{g->encodeScratch, g->encodeScratchSize};
  const int64_t frameSize = ORXEncodeFrame(base, width, height, static_cast<int64_t>(rowBytes), choices, data,
                                           bufferSize, &scratch);
  g->encodeScratch = scratch.data;
  g->encodeScratchSize = scratch.size;
  CVPixelBufferUnlockBaseAddress(pixels, 0);
  if (frameSize <= 0) {
    ICMEncodedFrameRelease(frame);
    return frameSize < 0 ? memFullErr : paramErr;
  }

  err = ICMEncodedFrameSetDataSize(frame, static_cast<Size>(frameSize));
  if (err == noErr) err = ICMEncodedFrameSetMediaSampleFlags(frame, mediaSampleDoesNotDependOnOthers);
  if (err == noErr) err = ICMEncodedFrameSetFrameType(frame, kICMFrameType_I);
  if (err == noErr) err = ICMCompressorSessionEmitEncodedFrame(g->session, frame, 1, &sourceFrame);
  ICMEncodedFrameRelease(frame);
  return err;
}
