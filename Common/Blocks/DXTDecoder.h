// CPU decoders for standard DXT1 (BC1, with its three-colour mode and
// transparent texel) and DXT5 (BC3) blocks into 32-bit ARGB pixels. Only the
// width x height pixels of the image are written. The plain decoder is the
// reference; the vector levels (ORXCpuFeatures.h) give the same pixels.
#pragma once

#include "ORXCpuFeatures.h"

// The widest level this processor runs. Frames of a megapixel or more are
// decoded in bands of block rows on the calling thread and the decode pool,
// as DXT24 frames are; a frame that finds the pool busy is decoded on the
// calling thread alone. Safe to call from several threads at once.
void DecodeDXT1ToARGB(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes);
void DecodeDXT5ToARGB(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes);

// The same pixels on the calling thread alone, at the widest level (alpha:
// DXT5 blocks, else DXT1).
void DecodeDXTOnCallingThread(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes,
                              bool alpha);

// One level on the calling thread; a level this machine lacks falls back to
// plain.
void DecodeDXTImage(ORXSimdLevel level, const unsigned char* blocks, unsigned char* dest, int width, int height,
                    int rowBytes, bool alpha);

// Per-level routines behind the dispatcher.
void DecodeDXTImagePlain(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes,
                         bool alpha);
void DecodeDXTImageSSE41(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes,
                         bool alpha);
void DecodeDXTImageAVX2(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes,
                        bool alpha);
