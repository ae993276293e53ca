// Decoding one compressed frame into 32-bit ARGB destination pixels.
#pragma once

#include <cstdint>

#include "core/Frames/ORXFrameDecode.h"
#include "quicktime/Common/Decode/ORXDecodeRoad.h"

struct GLDecompressorResources;

// Checks the frame against the sample size and the image size, unpacks its
// block data and decodes it: DXT24 on the processor (whole blocks, W4 x H4
// pixels into the extended destination), DXT1/DXT5 on the graphics hardware
// when resources are given and make a usable context, else on the processor
// (width x height pixels). The graphics road is taken only where
// ORXChooseDXTRoad picks it (hardware renderers, or ORX_FORCE_GL=1). The
// processor road decodes large frames in bands over the decode pool
// (ORXDecodePoolRunner). Returns 0, memFullErr when memory runs out, or
// codecBadDataErr for a frame that cannot be decoded safely (nothing is
// written then): ORXQuickTimeStatus of the core's status.

// scratch: the instance's unpacked block data, kept between frames (null:
// a buffer of the frame's own).
int ORX_DecompressImageData(GLDecompressorResources* resources, int width, int height, const unsigned char* frame,
                            int64_t frameSize, unsigned char* dest, int rowBytes,
                            ORXDecodeScratch* scratch = nullptr);
