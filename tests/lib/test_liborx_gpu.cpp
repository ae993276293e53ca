// DXT24 frames handed over as blocks for the graphics processor: the flags'
// contract, and liborx's fragment program against the processor's decode
// over random blocks, drawn and read back by orx-play-gl.
#include <stdlib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "ProcessRun.h"
#include "core/Format/ORXHeader.h"
#include "orx/orx.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A raw frame of random DXT24 blocks (18-byte blocks with alpha); packed
// with LZF when lzf, by packing through a stream of one literal run each
// 32 bytes (a valid stream that unpacks to the blocks).
Bytes RandomDXT24Frame(int w, int h, bool alpha, bool lzf, uint32_t seed) {
  const size_t blocks = size_t((w + 3) / 4) * ((h + 3) / 4) * (alpha ? 18 : 10);
  std::mt19937 rng(seed);
  Bytes raw(blocks);
  for (auto& b : raw) b = static_cast<uint8_t>(rng());
  Bytes data;
  if (lzf) {
    for (size_t at = 0; at < raw.size(); at += 32) {
      const size_t n = std::min<size_t>(32, raw.size() - at);
      data.push_back(static_cast<uint8_t>(n - 1));
      data.insert(data.end(), raw.begin() + long(at), raw.begin() + long(at + n));
    }
  } else {
    data = raw;
  }
  ORXHeader hd;
  hd.headerSize = 28;
  hd.version = 1;
  hd.hasAlpha = alpha ? 1 : 0;
  hd.isLZF = lzf ? 1 : 0;
  hd.isDXT24 = 1;
  hd.dataSize = static_cast<int32_t>(data.size());
  Bytes frame(28);
  WriteORXHeader(hd, frame.data());
  frame.insert(frame.end(), data.begin(), data.end());
  return frame;
}

struct TempDir {
  std::filesystem::path path;
  TempDir() {
    char pattern[] = "/tmp/orx-gpu-XXXXXX";
    path = mkdtemp(pattern);
  }
  std::string operator/(const std::string& name) const { return path / name; }
  ~TempDir() { std::filesystem::remove_all(path); }
};

TEST(DXT24Blocks, TheFlagHandsOverTheBlocksAndLeavesOtherFramesAlone) {
  orx_decoder* d = nullptr;
  ASSERT_EQ(orx_decoder_create(&d), ORX_OK);
  for (bool lzf : {false, true})
    for (bool alpha : {false, true}) {
      SCOPED_TRACE(std::string(lzf ? "LZF" : "raw") + (alpha ? " alpha" : ""));
      const int w = 1030, h = 70;  // 258 x 18 blocks: more than one texture row
      const Bytes frame = RandomDXT24Frame(w, h, alpha, lzf, 7);
      size_t need = 0;
      ASSERT_EQ(orx_frame_texture_size_with_flags(frame.data(), frame.size(), w, h, ORX_TEXTURE_DXT24_BLOCKS, &need),
                ORX_OK);
      const size_t blocks = size_t(258) * 18 * (alpha ? 18 : 10);
      const size_t row = ORX_BLOCK_TEXTURE_WIDTH * 4;
      EXPECT_EQ(need, (blocks + row - 1) / row * row);
      Bytes buffer(need, 0xAB);
      orx_texture t{};
      EXPECT_EQ(orx_frame_texture_with_flags(d, frame.data(), frame.size(), w, h, ORX_TEXTURE_DXT24_BLOCKS,
                                             buffer.data(), need - 1, &t),
                ORX_ERROR_BUFFER_TOO_SMALL);
      ASSERT_EQ(orx_frame_texture_with_flags(d, frame.data(), frame.size(), w, h, ORX_TEXTURE_DXT24_BLOCKS,
                                             buffer.data(), need, &t),
                ORX_OK);
      EXPECT_EQ(t.compressed, ORX_TEXTURE_BLOCKS);
      EXPECT_EQ(t.gl_internal_format, unsigned{ORX_GL_RGBA8UI});
      EXPECT_EQ(t.tex_width, ORX_BLOCK_TEXTURE_WIDTH);
      EXPECT_EQ(size_t(t.tex_width) * t.tex_height * 4, need);
      EXPECT_EQ(t.size, need);
      const Bytes want = RandomDXT24Frame(w, h, alpha, false, 7);
      EXPECT_TRUE(std::memcmp(buffer.data(), want.data() + 28, blocks) == 0) << "the blocks as stored";
      EXPECT_TRUE(std::all_of(buffer.begin() + long(blocks), buffer.end(), [](uint8_t b) { return b == 0; }));
      EXPECT_EQ(orx_frame_texture_with_flags(d, frame.data(), frame.size(), w, h, 2u, buffer.data(), need, &t),
                ORX_ERROR_INVALID_ARGUMENT);
    }
  orx_decoder_destroy(d);
  EXPECT_NE(orx_dxt24_fragment_shader(0), nullptr);
  EXPECT_NE(orx_dxt24_fragment_shader(1), nullptr);
  EXPECT_EQ(orx_dxt24_fragment_shader(2), nullptr);
}

// Random blocks, with and without alpha, drawn by the program and read back
// from a framebuffer by orx-play-gl, which compares every pixel of a frame
// with orx_decode_rgba's.
TEST(DXT24Blocks, TheProgramDrawsRandomBlocksAsTheProcessorDecodesThem) {
  const char* player = std::getenv("ORX_PLAY_GL");
  if (player == nullptr) GTEST_SKIP() << "ORX_PLAY_GL names no orx-play-gl";
  const TempDir dir;
  for (bool alpha : {false, true}) {
    SCOPED_TRACE(alpha ? "alpha" : "no alpha");
    const int w = 1030, h = 71;
    const std::string path = dir / (alpha ? "alpha.mov" : "plain.mov");
    orx_movie_writer* writer = nullptr;
    ASSERT_EQ(orx_movie_create(path.c_str(), w, h, 600, 0, &writer, nullptr, 0), ORX_OK);
    for (uint32_t seed = 1; seed <= 3; ++seed) {
      const Bytes frame = RandomDXT24Frame(w, h, alpha, seed == 2, seed);
      ASSERT_EQ(orx_movie_add_frame(writer, frame.data(), frame.size(), 20), ORX_OK);
    }
    ASSERT_EQ(orx_movie_finish(writer, nullptr, 0), ORX_OK);
    for (int check = 0; check < 3; ++check) {
      const RunResult r = Shell(std::string(player) + " --check " + std::to_string(check) + " '" + path + "' 2>&1");
      EXPECT_EQ(r.status, 0) << r.output;
      EXPECT_NE(r.output.find("max difference 0"), std::string::npos) << r.output;
    }
  }
}

}  // namespace
