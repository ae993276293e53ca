// Allocation failure at every step: open, prepare, encode, decode and close
// of each variant run with the n-th allocation failing, for every n up to the
// number of allocations the sequence makes. Each run happens in a fresh child
// process; it must end with a status (never a crash), leave no block behind,
// and, when every call reported success, deliver the same pixels as a run
// without failures. The processor road of the decoder is used: the graphics
// driver's own allocations are not ours to test.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "MacMemory.h"
#include "alloc_fault_shims.h"
#include "component_test_util.h"

namespace {

constexpr CodecType kORXV = FOUR_CHAR_CODE('O', 'R', 'X', 'V');
constexpr int kW = 20, kH = 10;

struct Variant {
  const char* name;
  char alpha, gradients, skipLZF;
  int32_t threads;
};
const Variant kVariants[] = {
    {"DXT24+LZF", 0, 1, 0, 3}, {"DXT1+LZF", 0, 0, 0, 2}, {"DXT24", 0, 1, 1, 2}, {"DXT5+LZF", 1, 1, 0, 2}};

// Buffers the sequence writes into, allocated before any failure is armed.
struct Scratch {
  uint8_t frame[8192];
  size_t frameSize = 0;
  uint8_t pixels[kW * kH * 4];
};

OSStatus Keep(void* refCon, ICMCompressionSessionRef, OSStatus error, ICMEncodedFrameRef f, void*) {
  auto* s = static_cast<Scratch*>(refCon);
  if (error != noErr) return error;
  const size_t n = size_t(ICMEncodedFrameGetDataSize(f));
  if (n > sizeof s->frame) return paramErr;
  std::memcpy(s->frame, ICMEncodedFrameGetDataPtr(f), n);
  s->frameSize = n;
  return noErr;
}

// One open-prepare-encode-decode-close sequence; returns the first status
// that was not noErr (noErr when all succeeded).
OSStatus Sequence(const Variant& v, const uint8_t* source, Scratch* s) {
  s->frameSize = 0;
  ComponentInstance ci = nullptr;
  OSStatus err = OpenADefaultComponent(compressorComponentType, kORXV, &ci);
  if (err != noErr) return err;
  if (ci == nullptr) return -1;
  Handle blob = NewHandle(12);
  if (blob == nullptr) err = memFullErr;
  if (err == noErr) {
    std::memcpy(*blob, "ORXC", 4);
    (*blob)[4] = v.alpha;
    (*blob)[5] = v.gradients;
    (*blob)[6] = v.skipLZF;
    (*blob)[7] = 0;
    std::memcpy(*blob + 8, &v.threads, 4);
    err = ImageCodecSetSettings(ci, blob);
  }
  if (blob) DisposeHandle(blob);
  ICMCompressionSessionRef session = nullptr;
  ICMEncodedFrameOutputRecord out{Keep, s, nullptr};
  if (err == noErr) err = HostICMCompressionSessionCreateWithCompressor(ci, kW, kH, kORXV, 600, nullptr, &out, &session);
  CVPixelBufferRef pb = nullptr;
  if (err == noErr) err = HostCVPixelBufferCreate(kW, kH, k32ARGBPixelFormat, 0, &pb);
  if (err == noErr) {
    CVPixelBufferLockBaseAddress(pb, 0);
    auto* base = static_cast<uint8_t*>(CVPixelBufferGetBaseAddress(pb));
    for (int y = 0; y < kH; ++y) std::memcpy(base + CVPixelBufferGetBytesPerRow(pb) * size_t(y), source + y * kW * 4, kW * 4);
    CVPixelBufferUnlockBaseAddress(pb, 0);
    err = ICMCompressionSessionEncodeFrame(session, pb, 0, 0, 0, nullptr, nullptr, nullptr);
    if (err == noErr && s->frameSize == 0) err = -2;  // success without a frame
  }
  if (pb) CVPixelBufferRelease(pb);
  ICMCompressionSessionRelease(session);
  CloseComponent(ci);
  if (err != noErr) return err;

  ImageDescriptionHandle desc = HostNewImageDescription(kORXV, kW, kH, "ORX");
  if (desc == nullptr) return memFullErr;
  HostDecompressionSessionRef ds = nullptr;
  CVPixelBufferRef dest = nullptr;
  err = HostDecompressionSessionCreate(desc, &ds);
  if (err == noErr) err = HostDecompressionSessionCreateDestination(ds, &dest);
  if (err == noErr) err = HostDecompressionSessionDecodeFrame(ds, s->frame, SInt32(s->frameSize), dest);
  if (err == noErr) {
    CVPixelBufferLockBaseAddress(dest, 0);
    const auto* base = static_cast<const uint8_t*>(CVPixelBufferGetBaseAddress(dest));
    for (int y = 0; y < kH; ++y)
      std::memcpy(s->pixels + y * kW * 4, base + CVPixelBufferGetBytesPerRow(dest) * size_t(y), kW * 4);
    CVPixelBufferUnlockBaseAddress(dest, 0);
  }
  if (dest) CVPixelBufferRelease(dest);
  HostDecompressionSessionRelease(ds);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  return err;
}

enum ChildResult { kOk = 0, kLeak = 3, kWrongPixels = 4, kSetupFailed = 5, kReported = 7 };

// In a child: a full warm-up run (it starts what lives as long as the
// process), then the run with attempt failAt failing (0: none). For
// failAt 0 the child writes the attempt count to the pipe.
int Child(const Variant& v, long failAt, int pipeOut) {
  setenv("ORX_DISABLE_GL", "1", 1);
  UsePrivatePreferencesFolder();
  static Scratch warm, run;
  const std::vector<uint8_t> source = NoiseARGB(kW, kH, 7);
  if (Sequence(v, source.data(), &warm) != noErr) return kSetupFailed;
  const long before = AllocFaultLiveBlocks();
  AllocFaultArm(failAt);
  const OSStatus err = Sequence(v, source.data(), &run);
  const long attempts = AllocFaultDisarm();
  if (failAt == 0) {
    if (write(pipeOut, &attempts, sizeof attempts) != sizeof attempts) return kSetupFailed;
    return err == noErr ? kOk : kSetupFailed;
  }
  if (AllocFaultLiveBlocks() != before) return kLeak;
  if (err == noErr && std::memcmp(run.pixels, warm.pixels, sizeof run.pixels) != 0) return kWrongPixels;
  return err == noErr ? kOk : kReported;
}

// Runs Child in a fresh process; returns its exit status (or 128 + signal).
int InChild(const Variant& v, long failAt, long* attempts) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    _exit(Child(v, failAt, fds[1]));
  }
  close(fds[1]);
  if (attempts && read(fds[0], attempts, sizeof *attempts) != sizeof *attempts) *attempts = -1;
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(AllocationFailure, EveryAllocationOfEveryVariantCanFail) {
  // The preferences folder is made here, once: a child that made its own
  // would leave it behind, as children end without running exit handlers.
  UsePrivatePreferencesFolder();
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.name);
    long attempts = 0;
    ASSERT_EQ(InChild(v, 0, &attempts), kOk);
    ASSERT_GT(attempts, 10) << "the sequence should allocate";
    int failures = 0, reported = 0;
    for (long n = 1; n <= attempts; ++n) {
      const int r = InChild(v, n, nullptr);
      if (r == kReported) ++reported;
      if (r != kOk && r != kReported && ++failures <= 10)
        ADD_FAILURE() << "allocation " << n << " of " << attempts << ": "
                      << (r == kLeak ? "blocks left behind" : r == kWrongPixels ? "success reported, wrong pixels"
                                                                                : "crashed or failed, status " + std::to_string(r));
    }
    EXPECT_EQ(failures, 0) << "of " << attempts << " allocations";
    // Most failures must come back as a status; the rest were absorbed
    // (for example a preferences file that cannot be read is no error).
    EXPECT_GT(reported, attempts / 2);
    std::printf("%s: %ld allocations, each failed in turn: %d reported as a status, %ld absorbed\n", v.name,
                attempts, reported, attempts - reported);
  }
}

}  // namespace
