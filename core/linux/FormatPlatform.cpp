// Linux (as Mac OS X): the decoder reads the second section; byte 25 says
// whether gradients were discarded.
#include "core/Format/ORXHeader.h"

bool ORXPlatformReadsSecondSection() { return true; }

uint8_t ORXGradientsDiscardedByte(bool preserveGradients) { return preserveGradients ? 0 : 1; }
