// Where a frame's time goes on the graphics road: the whole decode of a
// 1920x1080 DXT1 or DXT5 frame through the pipeline, and its steps on their
// own in the same context (making the context current and not, the block
// upload, the draw into the framebuffer object, the read-back), with a copy
// of one output frame as the yardstick. Each step ends with glFinish, so its
// time is the GPU's (llvmpipe's) work, not only the call's.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "core/Blocks/DXTStandard.h"
#include "core/Format/ORXHeader.h"
#include "quicktime/Common/Decode/ORXDecodePipeline.h"
#include "quicktime/Common/OpenGL/GLDecompressorResources.h"
#include "testimage/ORXTestImage.h"

namespace {

constexpr int kW = 1920, kH = 1080;

struct Road {
  GLDecompressorResources resources;
  std::vector<uint8_t> frame[2];  // raw DXT1 and DXT5 frames
  std::vector<uint8_t> out;
  bool ready = false;
  Road() {
    resources.forceGraphics = true;  // the graphics road measured, whatever the renderer
    std::vector<uint8_t> argb(static_cast<size_t>(kW) * kH * 4);
    ORXMakeTestImageARGB(argb.data(), kW, kH, 0, 0);
    ORXAddGrainARGB(argb.data(), kW, kH, 0, 3, 1);
    for (int alpha = 0; alpha < 2; ++alpha) {
      const int64_t raw = CalculateORXBlockDataSize(kW, kH, alpha != 0, false);
      frame[alpha].assign(28 + static_cast<size_t>(raw), 0);
      stbCompressARGB32(frame[alpha].data() + 28, argb.data(), kW, kH, kW * 4, alpha);
      ORXHeader h;
      h.headerSize = 28;
      h.version = 1;
      h.hasAlpha = static_cast<uint8_t>(alpha);
      h.dataSize = static_cast<int32_t>(raw);
      WriteORXHeader(h, frame[alpha].data());
    }
    out.assign(static_cast<size_t>(kW) * kH * 4, 0);
    // One decode of each makes the context, the objects and the programs.
    ready = Decode(0) == 0 && Decode(1) == 0 && resources.context != nullptr;
  }
  int Decode(int alpha) {
    return ORX_DecompressImageData(&resources, kW, kH, frame[alpha].data(), static_cast<int64_t>(frame[alpha].size()),
                                   out.data(), kW * 4);
  }
  const uint8_t* Blocks(int alpha) const { return frame[alpha].data() + 28; }
};

Road& TheRoad() {
  static Road road;
  return road;
}

void Pixels(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * int64_t{kW} * kH);
  state.counters["Mpix/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kW * kH / 1e6, benchmark::Counter::kIsRate);
}

void BM_WholeDecode(benchmark::State& state) {
  Road& r = TheRoad();
  if (!r.ready) return state.SkipWithError("no graphics road");
  const int alpha = static_cast<int>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(r.Decode(alpha));
  Pixels(state);
}
BENCHMARK(BM_WholeDecode)->Arg(0)->Arg(1)->ArgNames({"alpha"})->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MakeCurrentAndRelease(benchmark::State& state) {
  Road& r = TheRoad();
  if (!r.ready) return state.SkipWithError("no graphics road");
  for (auto _ : state) {
    r.resources.ActivateContext();
    r.resources.DeactivateContext();
  }
}
BENCHMARK(BM_MakeCurrentAndRelease)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_Upload(benchmark::State& state) {
  Road& r = TheRoad();
  if (!r.ready || !r.resources.ActivateContext()) return state.SkipWithError("no graphics road");
  const int alpha = static_cast<int>(state.range(0));
  GLExtensions& ext = r.resources.extensions;
  for (auto _ : state) {
    if (alpha)
      r.resources.textures[0].UploadDXT16ImageWithAlpha(ext, r.Blocks(1), kW, kH, kW, kH, GL_TEXTURE_2D);
    else
      r.resources.textures[0].UploadDXT16Image(ext, r.Blocks(0), kW, kH, kW, kH, GL_TEXTURE_2D);
    glFinish();
  }
  r.resources.DeactivateContext();
  Pixels(state);
}
BENCHMARK(BM_Upload)->Arg(0)->Arg(1)->ArgNames({"alpha"})->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Draw(benchmark::State& state) {
  Road& r = TheRoad();
  if (!r.ready || !r.resources.ActivateContext()) return state.SkipWithError("no graphics road");
  GLExtensions& ext = r.resources.extensions;
  r.resources.textures[0].UploadDXT16Image(ext, r.Blocks(0), kW, kH, kW, kH, GL_TEXTURE_2D);
  r.resources.fbo.BindAsRenderTarget(ext);
  glViewport(0, 0, kW, kH);
  ext.glActiveTextureARB(GL_TEXTURE0_ARB);
  r.resources.textures[0].BindTexture(ext, false, false, false);
  r.resources.textures[0].SetTextureMatrix();
  ApplyORXShader(&r.resources, ext, 0.0, false);
  for (auto _ : state) {
    glBegin(GL_QUADS);
    const float corners[4][4] = {{0, 0, -1, -1}, {0, 1, -1, 1}, {1, 1, 1, 1}, {1, 0, 1, -1}};
    for (const auto& c : corners) {
      ext.glMultiTexCoord2fARB(GL_TEXTURE0_ARB, c[0], c[1]);
      glVertex2f(c[2], c[3]);
    }
    glEnd();
    glFinish();
  }
  ext.glUseProgramObjectARB(0);
  r.resources.textures[0].UnbindTexture();
  r.resources.fbo.UnbindAsRenderTarget(ext);
  r.resources.DeactivateContext();
  Pixels(state);
}
BENCHMARK(BM_Draw)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadBack(benchmark::State& state) {
  Road& r = TheRoad();
  if (!r.ready || !r.resources.ActivateContext()) return state.SkipWithError("no graphics road");
  GLExtensions& ext = r.resources.extensions;
  r.resources.fbo.BindAsRenderTarget(ext);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  for (auto _ : state) {
    glReadPixels(0, 0, kW, kH, GL_RGBA, GL_UNSIGNED_BYTE, r.out.data());
    benchmark::ClobberMemory();
  }
  r.resources.fbo.UnbindAsRenderTarget(ext);
  r.resources.DeactivateContext();
  Pixels(state);
}
BENCHMARK(BM_ReadBack)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FrameCopy(benchmark::State& state) {
  Road& r = TheRoad();
  std::vector<uint8_t> to(r.out.size());
  for (auto _ : state) {
    std::memcpy(to.data(), r.out.data(), to.size());
    benchmark::ClobberMemory();
  }
  Pixels(state);
}
BENCHMARK(BM_FrameCopy)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
