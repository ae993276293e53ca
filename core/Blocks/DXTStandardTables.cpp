#include "core/Blocks/DXTStandardTables.h"

#include <string.h>  // the library's implementation uses memcpy

// The library's implementation, private to this file, for its tables only:
// the blocks themselves are encoded by the linked library.
#define STB_DXT_STATIC
#define STB_DXT_IMPLEMENTATION
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wsign-compare"
#endif
#include <stb_dxt.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace {

StbDxtTables Build() {
  StbDxtTables t;
  for (int v = 0; v < 256; ++v) {
    t.match5[v] = stb__OMatch5[v][0] | (stb__OMatch5[v][1] << 8);
    t.match6[v] = stb__OMatch6[v][0] | (stb__OMatch6[v][1] << 8);
  }
  for (int q = 0; q < 32; ++q) t.mid5[q] = stb__midpoints5[q];
  for (int q = 0; q < 64; ++q) t.mid6[q] = stb__midpoints6[q];
  return t;
}

}  // namespace

const StbDxtTables& GetStbDxtTables() {
  static const StbDxtTables tables = Build();
  return tables;
}
