// Threads belong to the caller: the frame roads hand their bands and LZF
// chunks to whatever runner they are given, and liborx's encoders and
// decoders take a thread count or the caller's own job system. Whoever runs
// the jobs, in whatever order, the frames and the pixels are the same.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/Frames/ORXFrameDecode.h"
#include "core/Frames/ORXFrameEncode.h"
#include "core/Format/ORXHeader.h"
#include "component_test_util.h"
#include "orx/orx.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Large enough to be cut into bands; the second is not a whole number of
// bands (nor of blocks) high.
struct Dim {
  int w, h;
};
const Dim kSplitSizes[] = {{1024, 1024}, {1283, 1029}};

Bytes Picture(Dim d) {
  Bytes p = PictureARGB(d.w, d.h);
  const Bytes n = NoiseARGB(d.w, d.h, 7);
  for (size_t i = 0; i < p.size(); i += 5) p[i] = n[i];  // alpha that varies
  return p;
}

struct Variant {
  const char* name;
  bool alpha, dxt24, lzf;
};
const Variant kVariants[] = {{"DXT24", false, true, true},   {"DXT24 raw", false, true, false},
                             {"DXT1", false, false, true},   {"DXT1 raw", false, false, false},
                             {"DXT5", true, false, true},    {"DXT5 raw", true, false, false},
                             {"DXT24 alpha", true, true, true}};

// A runner that runs the jobs on the calling thread, last first.
struct Reverse {
  int calls = 0;
  static void Run(void* self, int count, ORXJob job, void* context) {
    auto* r = static_cast<Reverse*>(self);
    ++r->calls;
    for (int i = count - 1; i >= 0; --i) job(context, i);
  }
};

// A runner that runs every job on one thread of its own, in order.
struct OneThread {
  std::atomic<int> calls{0};
  static void Run(void* self, int count, ORXJob job, void* context) {
    ++static_cast<OneThread*>(self)->calls;
    std::thread t([&] {
      for (int i = 0; i < count; ++i) job(context, i);
    });
    t.join();
  }
};

Bytes EncodeWith(const Bytes& argb, Dim d, const Variant& v, int threads, const ORXJobRunner& runner) {
  ORXFrameChoices c;
  c.alpha = v.alpha;
  c.dxt24 = v.dxt24;
  c.lzf = v.lzf;
  c.threads = threads;
  c.runner = runner;
  Bytes f(size_t(ORXFrameCapacity(d.w, d.h, c)));
  ORXEncodeScratch scratch;
  const int64_t n = ORXEncodeFrame(argb.data(), d.w, d.h, d.w * 4, c, f.data(), int64_t(f.size()), &scratch);
  ORXFreeEncodeScratch(&scratch);
  EXPECT_GT(n, 0);
  f.resize(n > 0 ? size_t(n) : 0);
  return f;
}

Bytes DecodeWith(const Bytes& frame, Dim d, const ORXJobRunner* runner) {
  const int w4 = (d.w + 3) / 4 * 4, h4 = (d.h + 3) / 4 * 4;
  Bytes out(size_t(w4) * h4 * 4, 0x5A);
  ORXDecodeScratch scratch{nullptr, 0};
  ORXFrameLayout layout;
  const unsigned char* blocks = nullptr;
  EXPECT_EQ(ORXPrepareFrame(frame.data(), int64_t(frame.size()), d.w, d.h, w4 * 4, &scratch, &layout, &blocks),
            ORXStatus::ok);
  if (blocks != nullptr) ORXDecodeBlocksOnProcessor(layout, blocks, d.w, d.h, out.data(), w4 * 4, runner);
  ORXFreeDecodeScratch(&scratch);
  return out;
}

// The frame road with a runner that runs its jobs backwards and one that
// runs them on a thread of its own: the plain road's bytes and pixels for
// every variant, packed and raw, and the runner was used.
TEST(FrameRoadRunners, AnyRunnerGivesThePlainRoadsFramesAndPixels) {
  for (Dim d : kSplitSizes) {
    const Bytes argb = Picture(d);
    for (const Variant& v : kVariants) {
      SCOPED_TRACE(std::string(v.name) + " " + std::to_string(d.w) + "x" + std::to_string(d.h));
      const Bytes plain = EncodeWith(argb, d, v, 1, ORXJobRunner{});
      ASSERT_GT(plain.size(), size_t(kORXHeaderSize));
      const Bytes plainPixels = DecodeWith(plain, d, nullptr);
      for (int threads : {3, 4, 32}) {
        Reverse reverse;
        const ORXJobRunner backwards{Reverse::Run, &reverse, threads};
        EXPECT_TRUE(EncodeWith(argb, d, v, threads, backwards) == plain) << "reverse, " << threads;
        EXPECT_GE(reverse.calls, 1) << "the bands went through the runner";
        reverse.calls = 0;
        EXPECT_TRUE(DecodeWith(plain, d, &backwards) == plainPixels) << "reverse, " << threads;
        EXPECT_EQ(reverse.calls, 1) << "a frame of a megapixel or more is cut into bands";

        OneThread one;
        const ORXJobRunner elsewhere{OneThread::Run, &one, threads};
        EXPECT_TRUE(EncodeWith(argb, d, v, threads, elsewhere) == plain) << "one thread, " << threads;
        EXPECT_TRUE(DecodeWith(plain, d, &elsewhere) == plainPixels) << "one thread, " << threads;
        EXPECT_GE(one.calls.load(), 2);
      }
    }
  }
}

// Below a megapixel a decode is one job on the calling thread: the runner is
// not asked.
TEST(FrameRoadRunners, SmallFramesAreNotCut) {
  const Dim d{1020, 1020};
  const Variant& v = kVariants[0];
  const Bytes frame = EncodeWith(Picture(d), d, v, 1, ORXJobRunner{});
  Reverse reverse;
  const ORXJobRunner backwards{Reverse::Run, &reverse, 8};
  EXPECT_TRUE(DecodeWith(frame, d, &backwards) == DecodeWith(frame, d, nullptr));
  EXPECT_EQ(reverse.calls, 0);
}

// ---- liborx's thread options ------------------------------------------------

// A caller's job system: counts the lists and jobs it is handed, and runs
// them on two threads of its own, odd and even indices.
struct CountingRunner {
  std::atomic<int> lists{0}, jobs{0};
  static void Run(void* user, int count, orx_job_fn job, void* context) {
    auto* r = static_cast<CountingRunner*>(user);
    ++r->lists;
    r->jobs += count;
    auto half = [&](int first) {
      for (int i = first; i < count; i += 2) job(context, i);
    };
    std::thread odd(half, 1);
    half(0);
    odd.join();
  }
};

orx_encode_settings Settings(const Variant& v) {
  orx_encode_settings s{};
  s.keep_alpha = v.alpha ? 1 : 0;
  s.preserve_gradients = v.dxt24 ? 1 : 0;
  s.skip_lzf = v.lzf ? 0 : 1;
  return s;
}

Bytes Encode(orx_encoder* e, const Bytes& argb, Dim d, const orx_encode_settings& s) {
  Bytes f(orx_max_encoded_size(d.w, d.h, &s));
  size_t n = 0;
  EXPECT_EQ(orx_encode(e, argb.data(), d.w, d.h, d.w * 4u, ORX_PIXEL_RGBA, f.data(), f.size(), &n), ORX_OK);
  f.resize(n);
  return f;
}

Bytes Decode(orx_decoder* dec, const Bytes& frame, Dim d) {
  Bytes out(size_t(d.w) * d.h * 4);
  EXPECT_EQ(orx_decode_rgba(dec, frame.data(), frame.size(), d.w, d.h, ORX_PIXEL_RGBA, out.data(), out.size(),
                            d.w * 4u),
            ORX_OK);
  return out;
}

// Threads 0, 1 and 4 and a caller's runner: the frames of orx_encoder_create
// and the pixels of orx_decoder_create, and the runner did the work.
TEST(LibThreads, ThreadCountsAndTheCallersRunnerGiveTheSameFramesAndPixels) {
  const Dim d = kSplitSizes[1];
  const Bytes argb = Picture(d);
  for (const Variant& v : {kVariants[0], kVariants[2], kVariants[5]}) {
    SCOPED_TRACE(v.name);
    const orx_encode_settings s = Settings(v);
    orx_encoder* plainEncoder = nullptr;
    ASSERT_EQ(orx_encoder_create(&s, &plainEncoder), ORX_OK);
    const Bytes frame = Encode(plainEncoder, argb, d, s);
    orx_encoder_destroy(plainEncoder);
    orx_decoder* plainDecoder = nullptr;
    ASSERT_EQ(orx_decoder_create(&plainDecoder), ORX_OK);
    const Bytes pixels = Decode(plainDecoder, frame, d);
    orx_decoder_destroy(plainDecoder);

    for (int threads : {0, 1, 4, -1}) {  // -1: a caller's runner cutting into 4
      SCOPED_TRACE("threads " + std::to_string(threads));
      CountingRunner runner;
      orx_encoder_options eo{};
      eo.settings = s;
      eo.settings.threads = threads < 0 ? 4 : threads;
      orx_decoder_options dop{};
      dop.threads = eo.settings.threads;
      if (threads < 0) {
        eo.run_jobs = dop.run_jobs = CountingRunner::Run;
        eo.run_jobs_user = dop.run_jobs_user = &runner;
      }
      orx_encoder* e = nullptr;
      ASSERT_EQ(orx_encoder_create_with_options(&eo, &e), ORX_OK);
      orx_decoder* dec = nullptr;
      ASSERT_EQ(orx_decoder_create_with_options(&dop, &dec), ORX_OK);
      for (int round = 0; round < 2; ++round) {  // the second on threads already started
        EXPECT_TRUE(Encode(e, argb, d, s) == frame);
        EXPECT_TRUE(Decode(dec, frame, d) == pixels);
      }
      orx_encoder_destroy(e);
      orx_decoder_destroy(dec);
      if (threads < 0) {
        // Each round at least the encode's four bands and the decode's.
        EXPECT_GE(runner.lists.load(), 2 * 2);
        EXPECT_GE(runner.jobs.load(), 2 * (4 + 4));
      }
    }
  }
}

// Handles on their own threads, several at once, each with threads of its
// own: nothing shared, nothing lost.
TEST(LibThreads, DecodersWithThreadsOfTheirOwnRunSideBySide) {
  const Dim d = kSplitSizes[0];
  const orx_encode_settings s = Settings(kVariants[0]);
  orx_encoder* e = nullptr;
  ASSERT_EQ(orx_encoder_create(&s, &e), ORX_OK);
  const Bytes frame = Encode(e, Picture(d), d, s);
  orx_encoder_destroy(e);
  orx_decoder* one = nullptr;
  orx_decoder_options single{};
  single.threads = 1;
  ASSERT_EQ(orx_decoder_create_with_options(&single, &one), ORX_OK);
  const Bytes pixels = Decode(one, frame, d);
  orx_decoder_destroy(one);
  std::atomic<int> bad{0};
  std::vector<std::thread> users;
  for (int i = 0; i < 3; ++i)
    users.emplace_back([&] {
      orx_decoder_options o{};
      o.threads = 3;
      orx_decoder* dec = nullptr;
      if (orx_decoder_create_with_options(&o, &dec) != ORX_OK) {
        ++bad;
        return;
      }
      for (int k = 0; k < 3; ++k) bad += Decode(dec, frame, d) != pixels;
      orx_decoder_destroy(dec);
    });
  for (auto& t : users) t.join();
  EXPECT_EQ(bad.load(), 0);
}

// Options out of range or with a reserved field set are refused, and the
// handle pointer is cleared.
TEST(LibThreads, OptionsOutOfRangeOrReservedAreRefused) {
  orx_decoder* dec = reinterpret_cast<orx_decoder*>(1);
  EXPECT_EQ(orx_decoder_create_with_options(nullptr, &dec), ORX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(dec, nullptr);
  orx_decoder_options ok{};
  EXPECT_EQ(orx_decoder_create_with_options(&ok, nullptr), ORX_ERROR_INVALID_ARGUMENT);
  for (int field = 0; field < 7; ++field) {
    orx_decoder_options o{};
    if (field == 0) o.threads = 33;
    if (field == 1) o.threads = -1;
    if (field == 2) o.reserved0 = 1;
    if (field >= 3) o.reserved[field - 3] = 1;
    dec = reinterpret_cast<orx_decoder*>(1);
    EXPECT_EQ(orx_decoder_create_with_options(&o, &dec), ORX_ERROR_INVALID_ARGUMENT) << field;
    EXPECT_EQ(dec, nullptr);
  }
  ok.threads = 32;
  ASSERT_EQ(orx_decoder_create_with_options(&ok, &dec), ORX_OK);
  orx_decoder_destroy(dec);

  orx_encoder* e = reinterpret_cast<orx_encoder*>(1);
  EXPECT_EQ(orx_encoder_create_with_options(nullptr, &e), ORX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(e, nullptr);
  for (int field = 0; field < 8; ++field) {
    orx_encoder_options o{};
    if (field == 0) o.settings.threads = 33;
    if (field == 1) o.settings.threads = -1;
    if (field == 2) o.smaller = ORX_SMALLER_STRONG + 1;
    if (field == 3) o.smaller = -1;
    if (field == 4) o.reserved32 = 1;
    if (field >= 5) o.reserved[field - 5] = 0x100;
    e = reinterpret_cast<orx_encoder*>(1);
    EXPECT_EQ(orx_encoder_create_with_options(&o, &e), ORX_ERROR_INVALID_ARGUMENT) << field;
    EXPECT_EQ(e, nullptr);
  }
  orx_encoder_options eo{};
  eo.settings.threads = 32;
  ASSERT_EQ(orx_encoder_create_with_options(&eo, &e), ORX_OK);
  orx_encoder_destroy(e);
}

}  // namespace
