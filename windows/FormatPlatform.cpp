// Windows: the decoder does not read the second section.
#include "ORXHeader.h"

bool ORXPlatformReadsSecondSection() { return false; }
