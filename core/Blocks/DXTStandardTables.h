// stb_dxt's own tables, for the vector DXT1/DXT5 encoders: the optimal
// single-colour end points and the 565 quantizer's midpoints, taken from the
// library's header so that the vector encoders follow its output exactly.
#pragma once

#include <cstdint>

struct StbDxtTables {
  // Optimal end points for one 8-bit value: byte 0 the first (max) end
  // point, byte 1 the second (min), in 5 or 6 bits.
  int32_t match5[256];
  int32_t match6[256];
  // A quantized value q rounds up when x > midpoint[q].
  float mid5[32];
  float mid6[64];
};

// Built on the first call (thread-safe), then constant.
const StbDxtTables& GetStbDxtTables();
