// Linux (as Mac OS X): the decoder reads the second section.
#include "ORXHeader.h"

bool ORXPlatformReadsSecondSection() { return true; }
