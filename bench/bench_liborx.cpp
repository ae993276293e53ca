// The C library's frame roads on a 1920x1080 frame of the test picture, with
// a bare lzf_decompress of the same frame's section in the same run and the
// decode roads' own unpacker (ORXUnpackLZF) beside it: the texture road of a
// DXT1/DXT5 frame should cost the unpacking and no more.
// BM_DecodeThreads: a decoder of one thread against one a processor core, at
// 1080p and 4K. With ORX_BENCH_MOVIES=a.mov:b.mov, every packed frame of each
// movie is unpacked by liblzf and by ORXUnpackLZF, and its block data packed
// with snappy is unpacked by snappy (real pictures: encode photographs
// first); the counters give each packer's size against the raw blocks.
#include <benchmark/benchmark.h>
#include <lzf.h>
#include <snappy.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/Format/ORXHeader.h"
#include "core/Frames/LZFUnpack.h"
#include "orx/orx.h"
#include "testimage/ORXTestImage.h"

namespace {

constexpr int kW = 1920, kH = 1080;

// Variants by argument: 0 DXT1, 1 DXT5, 2 DXT24, 3 DXT1 raw.
orx_encode_settings SettingsFor(int variant) {
  orx_encode_settings s{};
  s.keep_alpha = variant == 1;
  s.preserve_gradients = variant == 2;
  s.skip_lzf = variant == 3;
  s.threads = 1;
  return s;
}

std::vector<uint8_t> Frame(int variant, int w = kW, int h = kH) {
  std::vector<uint8_t> argb(size_t(w) * h * 4);
  ORXMakeTestImageARGB(argb.data(), w, h, w * 4, 0);
  const orx_encode_settings s = SettingsFor(variant);
  std::vector<uint8_t> frame(orx_max_encoded_size(w, h, &s));
  orx_encoder* e = nullptr;
  size_t n = 0;
  if (orx_encoder_create(&s, &e) != ORX_OK ||
      orx_encode(e, argb.data(), w, h, w * 4, ORX_PIXEL_ARGB, frame.data(), frame.size(), &n) != ORX_OK)
    n = 0;
  orx_encoder_destroy(e);
  frame.resize(n);
  return frame;
}

void Label(benchmark::State& state, int variant) {
  static const char* const kNames[] = {"DXT1+LZF", "DXT5+LZF", "DXT24+LZF", "DXT1 raw"};
  state.SetLabel(kNames[variant]);
  state.SetItemsProcessed(state.iterations());
}

// The unpackers compared: liblzf, the decode roads' own, and snappy over the
// same blocks packed by snappy.
enum class Unpacker { liblzf, orx, snappy };

// Unpacks one frame's block data (dataSize bytes at data, or snappyPacked for
// snappy) into rawSize bytes at out.
void Unpack(Unpacker unpacker, const uint8_t* data, int64_t dataSize, const std::string& snappyPacked, uint8_t* out,
            int64_t rawSize) {
  if (unpacker == Unpacker::orx)
    benchmark::DoNotOptimize(ORXUnpackLZF(data, dataSize, out, rawSize));
  else if (unpacker == Unpacker::liblzf)
    benchmark::DoNotOptimize(
        lzf_decompress(data, static_cast<unsigned>(dataSize), out, static_cast<unsigned>(rawSize)));
  else
    benchmark::DoNotOptimize(
        snappy::RawUncompress(snappyPacked.data(), snappyPacked.size(), reinterpret_cast<char*>(out)));
}

// The test picture's packed block data unpacked by liblzf (BareLZF) or by
// ORXUnpackLZF (UnpackLZF).
void UnpackFrame(benchmark::State& state, Unpacker unpacker) {
  const int variant = static_cast<int>(state.range(0));
  const std::vector<uint8_t> frame = Frame(variant);
  orx_frame_props p{};
  if (orx_frame_info(frame.data(), frame.size(), kW, kH, &p) != ORX_OK || !p.is_lzf) {
    state.SkipWithError("no packed frame");
    return;
  }
  std::vector<uint8_t> out(static_cast<size_t>(p.block_data_size));
  const uint8_t* packed = frame.data() + ReadORXHeader(frame.data()).headerSize;
  for (auto _ : state) Unpack(unpacker, packed, p.data_size, {}, out.data(), p.block_data_size);
  Label(state, variant);
}
void BM_BareLZF(benchmark::State& state) { UnpackFrame(state, Unpacker::liblzf); }
void BM_UnpackLZF(benchmark::State& state) { UnpackFrame(state, Unpacker::orx); }
BENCHMARK(BM_BareLZF)->ArgName("variant")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnpackLZF)->ArgName("variant")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_FrameTexture(benchmark::State& state) {
  const int variant = static_cast<int>(state.range(0));
  const std::vector<uint8_t> frame = Frame(variant);
  size_t need = 0;
  orx_decoder* d = nullptr;
  if (orx_frame_texture_size(frame.data(), frame.size(), kW, kH, &need) != ORX_OK || orx_decoder_create(&d) != ORX_OK) {
    state.SkipWithError("no frame");
    return;
  }
  std::vector<uint8_t> buffer(need);
  orx_texture t{};
  for (auto _ : state) {
    if (orx_frame_texture(d, frame.data(), frame.size(), kW, kH, buffer.data(), buffer.size(), &t) != ORX_OK) {
      state.SkipWithError("texture road failed");
      break;
    }
    benchmark::DoNotOptimize(t.data);
  }
  orx_decoder_destroy(d);
  Label(state, variant);
}
BENCHMARK(BM_FrameTexture)->ArgName("variant")->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

void BM_DecodeRGBA(benchmark::State& state) {
  const int variant = static_cast<int>(state.range(0));
  const std::vector<uint8_t> frame = Frame(variant);
  std::vector<uint8_t> rgba(size_t{kW} * kH * 4);
  orx_decoder* d = nullptr;
  if (frame.empty() || orx_decoder_create(&d) != ORX_OK) {
    state.SkipWithError("no frame");
    return;
  }
  for (auto _ : state) {
    if (orx_decode_rgba(d, frame.data(), frame.size(), kW, kH, ORX_PIXEL_RGBA, rgba.data(), rgba.size(), kW * 4) !=
        ORX_OK) {
      state.SkipWithError("decode failed");
      break;
    }
    benchmark::DoNotOptimize(rgba.data());
  }
  orx_decoder_destroy(d);
  Label(state, variant);
}
BENCHMARK(BM_DecodeRGBA)->ArgName("variant")->DenseRange(0, 3)->UseRealTime()->Unit(benchmark::kMillisecond);

// Arguments: variant (0 DXT1, 2 DXT24), height (1080 or 2160, 16:9), the
// decoder's threads (1: the calling thread; 0: one a processor core).
void BM_DecodeThreads(benchmark::State& state) {
  const int variant = static_cast<int>(state.range(0));
  const int h = static_cast<int>(state.range(1)), w = h * 16 / 9;
  const std::vector<uint8_t> frame = Frame(variant, w, h);
  std::vector<uint8_t> rgba(size_t(w) * h * 4);
  orx_decoder_options o{};
  o.threads = static_cast<int32_t>(state.range(2));
  orx_decoder* d = nullptr;
  if (frame.empty() || orx_decoder_create_with_options(&o, &d) != ORX_OK) {
    state.SkipWithError("no frame");
    return;
  }
  for (auto _ : state) {
    if (orx_decode_rgba(d, frame.data(), frame.size(), w, h, ORX_PIXEL_RGBA, rgba.data(), rgba.size(),
                        size_t(w) * 4) != ORX_OK) {
      state.SkipWithError("decode failed");
      break;
    }
    benchmark::DoNotOptimize(rgba.data());
  }
  orx_decoder_destroy(d);
  Label(state, variant);
}
BENCHMARK(BM_DecodeThreads)
    ->ArgNames({"variant", "height", "threads"})
    ->ArgsProduct({{0, 2}, {1080, 2160}, {1, 0}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);


// A movie's packed frames: block data, its unpacked size, and the same
// blocks packed by snappy.
struct PackedSection {
  std::vector<uint8_t> frame;
  int64_t dataAt, dataSize, rawSize;  // the packed data: where and how much
  std::string snappy;
};

std::vector<PackedSection> PackedSections(const std::string& path) {
  std::vector<PackedSection> out;
  orx_movie_reader* reader = nullptr;
  orx_movie_props props{};
  if (orx_movie_open(path.c_str(), &reader, nullptr, 0) != ORX_OK ||
      orx_movie_get_props(reader, &props) != ORX_OK) {
    orx_movie_close(reader);
    return out;
  }
  for (int32_t i = 0; i < props.frame_count; ++i) {
    std::vector<uint8_t> frame(props.max_frame_size);
    size_t size = 0;
    orx_frame_props p{};
    if (orx_movie_read_frame(reader, i, frame.data(), frame.size(), &size) != ORX_OK ||
        orx_frame_info(frame.data(), size, props.width, props.height, &p) != ORX_OK || !p.is_lzf)
      continue;
    frame.resize(size);
    std::vector<uint8_t> raw(static_cast<size_t>(p.block_data_size));
    const int64_t dataAt = ReadORXHeader(frame.data()).headerSize;
    if (ORXUnpackLZF(frame.data() + dataAt, p.data_size, raw.data(), p.block_data_size) != p.block_data_size)
      continue;
    std::string snappyPacked;
    snappy::Compress(reinterpret_cast<const char*>(raw.data()), raw.size(), &snappyPacked);
    out.push_back({std::move(frame), dataAt, p.data_size, p.block_data_size, std::move(snappyPacked)});
  }
  orx_movie_close(reader);
  return out;
}

// Every packed frame of the movie unpacked by liblzf, by ORXUnpackLZF or by
// snappy; bytes are the unpacked block data.
void UnpackMovie(benchmark::State& state, const std::string& path, Unpacker unpacker) {
  const std::vector<PackedSection> sections = PackedSections(path);
  if (sections.empty()) {
    state.SkipWithError("no packed frames in the movie");
    return;
  }
  int64_t largest = 0, total = 0, lzfBytes = 0, snappyBytes = 0;
  for (const PackedSection& s : sections) {
    largest = std::max(largest, s.rawSize);
    total += s.rawSize;
    lzfBytes += s.dataSize;
    snappyBytes += static_cast<int64_t>(s.snappy.size());
  }
  std::vector<uint8_t> out(static_cast<size_t>(largest));
  for (auto _ : state)
    for (const PackedSection& s : sections)
      Unpack(unpacker, s.frame.data() + s.dataAt, s.dataSize, s.snappy, out.data(), s.rawSize);
  state.SetBytesProcessed(state.iterations() * total);
  state.counters["lzf_of_raw"] = double(lzfBytes) / double(total);
  state.counters["snappy_of_raw"] = double(snappyBytes) / double(total);
}

// The roads over a movie's first frames (at most 8, held in memory): liborx's
// texture road (road 0) or RGBA road (road 1) with the decoder's threads (1:
// the calling thread; 0: one a processor core), or a memcpy of each frame's
// unpacked block data (road 2) for scale.
void DecodeMovie(benchmark::State& state, const std::string& path, int road, int threads) {
  orx_movie_reader* reader = nullptr;
  orx_movie_props props{};
  if (orx_movie_open(path.c_str(), &reader, nullptr, 0) != ORX_OK || orx_movie_get_props(reader, &props) != ORX_OK) {
    orx_movie_close(reader);
    state.SkipWithError("cannot read the movie");
    return;
  }
  const int w = props.width, h = props.height;
  std::vector<std::vector<uint8_t>> frames;
  int64_t blockBytes = 0;
  for (int32_t i = 0; i < props.frame_count && i < 8; ++i) {
    std::vector<uint8_t> frame(props.max_frame_size);
    size_t size = 0;
    orx_frame_props p{};
    if (orx_movie_read_frame(reader, i, frame.data(), frame.size(), &size) != ORX_OK ||
        orx_frame_info(frame.data(), size, w, h, &p) != ORX_OK)
      continue;
    frame.resize(size);
    frames.push_back(std::move(frame));
    blockBytes = std::max(blockBytes, p.block_data_size);
  }
  orx_movie_close(reader);
  size_t need = size_t(w) * h * 4;
  for (const auto& f : frames) {
    size_t n = 0;
    if (orx_frame_texture_size(f.data(), f.size(), w, h, &n) == ORX_OK) need = std::max(need, n);
  }
  orx_decoder_options o{};
  o.threads = threads;
  orx_decoder* d = nullptr;
  if (frames.empty() || orx_decoder_create_with_options(&o, &d) != ORX_OK) {
    state.SkipWithError("no frames");
    return;
  }
  std::vector<uint8_t> out(need), blocks(static_cast<size_t>(blockBytes)), copy(blocks.size());
  for (auto _ : state)
    for (const auto& f : frames) {
      orx_texture t{};
      const orx_error e =
          road == 0   ? orx_frame_texture(d, f.data(), f.size(), w, h, out.data(), out.size(), &t)
          : road == 1 ? orx_decode_rgba(d, f.data(), f.size(), w, h, ORX_PIXEL_RGBA, out.data(), out.size(),
                                        size_t(w) * 4)
                      : (std::memcpy(copy.data(), blocks.data(), blocks.size()), ORX_OK);
      if (e != ORX_OK) {
        state.SkipWithError("decode failed");
        break;
      }
      benchmark::ClobberMemory();
    }
  orx_decoder_destroy(d);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(frames.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* list = std::getenv("ORX_BENCH_MOVIES")) {
    std::string rest = list;
    while (!rest.empty()) {
      const size_t colon = rest.find(':');
      const std::string path = rest.substr(0, colon);
      rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
      if (path.empty()) continue;
      const std::string name = path.substr(path.find_last_of('/') + 1);
      const struct {
        Unpacker unpacker;
        const char* name;
      } kUnpackers[] = {{Unpacker::liblzf, "liblzf/"}, {Unpacker::orx, "orx/"}, {Unpacker::snappy, "snappy/"}};
      for (const auto& u : kUnpackers)
        benchmark::RegisterBenchmark(("BM_UnpackMovie/" + std::string(u.name) + name).c_str(), UnpackMovie, path,
                                     u.unpacker)
            ->Unit(benchmark::kMillisecond);
      static const char* const kRoads[] = {"texture", "rgba", "memcpy"};
      for (int road = 0; road < 3; ++road)
        for (int threads : {1, 0}) {
          if (road == 2 && threads == 0) continue;
          const std::string label = std::string(kRoads[road]) + (road == 2 ? "" : threads == 1 ? "/1" : "/all");
          benchmark::RegisterBenchmark(("BM_DecodeMovie/" + label + "/" + name).c_str(), DecodeMovie, path, road,
                                       threads)
              ->UseRealTime()
              ->Unit(benchmark::kMillisecond);
        }
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
