// Pixel routines beside the codec: a three-plane scratch image, 4:2:2 <-> 4:2:0
// copies, and diagnostic bitmap output. Not used to encode or decode frames.
#pragma once

#include <cstdint>

struct InternalPixelBuffer {
  struct Plane {
    uint8_t* base = nullptr;  // owned, zero-filled; null when not allocated
    uint32_t rowBytes = 0;
  };
  Plane planes[3];  // full-size luma, then two half-width, half-height planes
};

// (Re)allocates the three planes for a width x height image. 0, or -108
// when memory runs out (the planes already allocated stay allocated).
int32_t callocInternalPixelBuffer(uint32_t width, uint32_t height, InternalPixelBuffer* buffer);
void freeInternalPixelBuffer(InternalPixelBuffer* buffer);

// Chunky 4:2:2 is Cb, Y0, Cr, Y1 per pixel pair. Width and height must be even.
int32_t CopyChunkyYUV422ToPlanarYUV420(uint32_t width, uint32_t height, const uint8_t* src,
                                       uint32_t srcRowBytes, uint8_t* y, uint32_t yRowBytes,
                                       uint8_t* cb, uint32_t cbRowBytes, uint8_t* cr,
                                       uint32_t crRowBytes);
int32_t CopyPlanarYUV420ToChunkyYUV422(uint32_t width, uint32_t height, const uint8_t* y,
                                       uint32_t yRowBytes, const uint8_t* cb, uint32_t cbRowBytes,
                                       const uint8_t* cr, uint32_t crRowBytes, uint8_t* dest,
                                       uint32_t destRowBytes);

// Writes 24-bit R, G, B pixels (top row first) as a BMP file. When the name is
// taken, the first free "<stem>_<n>.<ext>" (cut at the first '.') is used, or
// "<name>_<n>" for a name without '.'. Returns 0, or -1 when nothing could be
// written; *usedName (when not null, 1024 bytes) receives the name written.
int WriteUInt8Bitmap24(const uint8_t* pixels, int width, int height, const char* fileName,
                       char* usedName = nullptr);

// Writes 32-bit B, G, R, A pixels (top row first) through WriteUInt8Bitmap24
// (alpha dropped). Returns 0 or -1.
int WriteUInt8Bitmap32BGRA(const uint8_t* pixels, int width, int height, const char* fileName,
                           char* usedName = nullptr);

// The file name WriteUInt8Bitmap24 would use for fileName now. False when no
// free name fits in 1023 characters.
bool ChooseBitmapFileName(const char* fileName, char out[1024]);
