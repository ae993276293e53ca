// Resource Manager internals shared with the byte-order converters.
#pragma once

#include <cstddef>
#include <cstdint>

#include "MacTypes.h"

// Converts a loaded resource of a structured type to native byte order in
// place. False when the resource does not have the type's layout. Types
// without a converter are left as they are (true).
bool HostFlipResourceToNative(ResType type, uint8_t* data, size_t size);

// Sets what ResError answers on this thread (for callers that fail before
// a resource file is opened).
void HostSetResError(OSErr err);
