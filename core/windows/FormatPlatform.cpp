// Windows: the decoder does not read the second section; byte 25 is 0.
#include "core/Format/ORXHeader.h"

bool ORXPlatformReadsSecondSection() { return false; }

uint8_t ORXGradientsDiscardedByte(bool) { return 0; }
