// Decoding one compressed frame into 32-bit ARGB destination pixels.
#pragma once

#include <cstdint>

struct GLDecompressorResources;

// Checks the frame against the sample size and the image size, unpacks its
// block data and decodes it: DXT24 on the processor (whole blocks, W4 x H4
// pixels into the extended destination), DXT1/DXT5 on the graphics hardware
// when resources are given and make a usable context, else on the processor
// (width x height pixels). Returns 0, -108 when memory runs out, or
// codecBadDataErr for a frame that cannot be decoded safely (nothing is
// written then).
// ORX_DISABLE_GL=1 (or any value but 0): a decompressor instance opened
// while it is set keeps to the processor road. Read once per instance, at
// open.
bool ORXGLRoadDisabled();

int ORX_DecompressImageData(GLDecompressorResources* resources, int width, int height, const unsigned char* frame,
                            int64_t frameSize, unsigned char* dest, int rowBytes);
