// A frame through the decompressor component, as a host hands it a sample:
// bytes 0-1 give the width and 2-3 the height (1 to 64 each), byte 4 bit 0
// picks the graphics road (else the processor road), the rest is the sample.
#include <cstdlib>

#include "FuzzSupport.h"
#include "ImageCodec.h"
#include "MacMemory.h"

namespace {

// One decompressor session at a time, for the size of the latest input
// (sessions are released when the size changes and at exit).
struct Session {
  int width = 0, height = 0;
  HostDecompressionSessionRef session = nullptr;
  CVPixelBufferRef destination = nullptr;
  void Release() {
    if (destination) CVPixelBufferRelease(destination);
    HostDecompressionSessionRelease(session);
    destination = nullptr;
    session = nullptr;
  }
  ~Session() { Release(); }
};

Session* SessionFor(int w, int h) {
  static Session s;
  if (s.session != nullptr && s.width == w && s.height == h) return &s;
  s.Release();
  ImageDescriptionHandle d = HostNewImageDescription(FOUR_CHAR_CODE('O', 'R', 'X', 'V'), SInt16(w), SInt16(h), "ORX");
  if (d == nullptr) return nullptr;
  const OSStatus err = HostDecompressionSessionCreate(d, &s.session);
  DisposeHandle(reinterpret_cast<Handle>(d));
  if (err != noErr || HostDecompressionSessionCreateDestination(s.session, &s.destination) != noErr) std::abort();
  s.width = w;
  s.height = h;
  return &s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const int w = 1 + (data[0] | data[1] << 8) % 64;
  const int h = 1 + (data[2] | data[3] << 8) % 64;
  setenv("ORX_DISABLE_GL", (data[4] & 1) ? "0" : "1", 1);
  Session* s = SessionFor(w, h);
  if (s == nullptr) return 0;
  // A copy of exactly the sample's size, so a read past it is caught.
  const size_t n = size - 5;
  auto* sample = static_cast<uint8_t*>(std::malloc(n ? n : 1));
  if (sample == nullptr) return 0;
  for (size_t i = 0; i < n; ++i) sample[i] = data[5 + i];
  HostDecompressionSessionDecodeFrame(s->session, sample, SInt32(n), s->destination);
  std::free(sample);
  return 0;
}
