// The graphics road of the decode pipeline: a frame's DXT1/DXT5 blocks
// uploaded still compressed, drawn through the plain program into the
// framebuffer object and read back, in bands for very large frames.
#pragma once

#include "core/Format/ORXHeader.h"
#include "quicktime/Common/OpenGL/GLDecompressorResources.h"

// The graphics road: the blocks go to the GPU still compressed, are drawn
// through the plain program into the framebuffer object and read back; one
// upload, one draw and one read-back a band, and a frame of ordinary size is
// one band. The instance's context is made on its first frame. False when
// the context or an extension it needs is not there (nothing has been
// written then, and the caller decodes on the processor); a context that
// cannot be made turns the instance's road to noContext.
bool DrawFrameOnGPU(GLDecompressorResources* r, const ORXFrameLayout& layout, const unsigned char* blocks,
                    const unsigned char* layer, int width, int height, unsigned char* dest, int rowBytes);
