// The fragment program that decodes DXT24 blocks as it draws, for callers
// that upload DXT24 frames as blocks (orx_frame_texture_with_flags). It
// computes each pixel as the processor's decoder does: the thirds rounded
// to the nearest level, DXT5's alpha steps as DXT5AlphaPalette gives them.
#include "orx/orx.h"

namespace {

// The body both dialects share; only the version line and the precision
// statements differ.
#define ORX_DXT24_BODY                                                                                    \
  "uniform highp usampler2D orx_blocks;\n"                                                                \
  "uniform int orx_blocks_across;\n"                                                                      \
  "uniform int orx_alpha;\n"                                                                              \
  "in vec2 orx_pixel;\n"                                                                                  \
  "out vec4 orx_color;\n"                                                                                 \
  "\n"                                                                                                    \
  "// Byte offset of the block data: four a texel, 2048 texels a row.\n"                                 \
  "uint orx_byte(int offset) {\n"                                                                         \
  "  int texel = offset >> 2;\n"                                                                          \
  "  uvec4 t = texelFetch(orx_blocks, ivec2(texel & 2047, texel >> 11), 0);\n"                            \
  "  int lane = offset & 3;\n"                                                                            \
  "  return lane == 0 ? t.r : lane == 1 ? t.g : lane == 2 ? t.b : t.a;\n"                                 \
  "}\n"                                                                                                   \
  "\n"                                                                                                    \
  "void main() {\n"                                                                                       \
  "  ivec2 p = ivec2(floor(orx_pixel));\n"                                                                \
  "  int base = ((p.y >> 2) * orx_blocks_across + (p.x >> 2)) * (orx_alpha != 0 ? 18 : 10);\n"           \
  "  int colour = base + (orx_alpha != 0 ? 8 : 0);\n"                                                     \
  "  uvec3 c0 = uvec3(orx_byte(colour), orx_byte(colour + 1), orx_byte(colour + 2));\n"                   \
  "  uvec3 c1 = uvec3(orx_byte(colour + 3), orx_byte(colour + 4), orx_byte(colour + 5));\n"               \
  "  int x = p.x & 3, y = p.y & 3;\n"                                                                     \
  "  uint index = (orx_byte(colour + 6 + y) >> uint(2 * x)) & 3u;\n"                                     \
  "  uvec3 c = index == 0u ? c0 : index == 1u ? c1\n"                                                    \
  "          : index == 2u ? (2u * c0 + c1 + 1u) / 3u : (c0 + 2u * c1 + 1u) / 3u;\n"                     \
  "  uint a = 255u;\n"                                                                                    \
  "  if (orx_alpha != 0) {\n"                                                                             \
  "    uint a0 = orx_byte(base), a1 = orx_byte(base + 1);\n"                                              \
  "    int bit = 3 * (y * 4 + x);\n"                                                                      \
  "    int at = base + 2 + (bit >> 3);\n"                                                                 \
  "    uint k = ((orx_byte(at) | (orx_byte(at + 1) << 8u)) >> uint(bit & 7)) & 7u;\n"                     \
  "    if (k == 0u) a = a0;\n"                                                                            \
  "    else if (k == 1u) a = a1;\n"                                                                       \
  "    else if (a0 > a1) a = ((8u - k) * a0 + (k - 1u) * a1 + 3u) / 7u;\n"                                \
  "    else if (k < 6u) a = ((6u - k) * a0 + (k - 1u) * a1 + 2u) / 5u;\n"                                 \
  "    else a = k == 6u ? 0u : 255u;\n"                                                                   \
  "  }\n"                                                                                                 \
  "  orx_color = vec4(vec3(c), float(a)) / 255.0;\n"                                                      \
  "}\n"

const char kDesktop[] = "#version 130\n" ORX_DXT24_BODY;
const char kES[] = "#version 300 es\nprecision highp float;\nprecision highp int;\n" ORX_DXT24_BODY;

}  // namespace

extern "C" const char* orx_dxt24_fragment_shader(int glsl_es) {
  return glsl_es == 0 ? kDesktop : glsl_es == 1 ? kES : nullptr;
}
