// CPU decoders for standard DXT1 (BC1, with its three-colour mode and
// transparent texel) and DXT5 (BC3) blocks into 32-bit ARGB pixels. Only the
// width x height pixels of the image are written. The plain decoder is the
// reference; the vector levels (ORXCpuFeatures.h) give the same pixels.
#pragma once

#include "core/Blocks/ORXCpuFeatures.h"

// The widest level this processor runs, on the calling thread (the frame
// road, ORXFrameDecode.h, cuts large frames into bands for its caller's
// threads). Safe to call from several threads at once.
void DecodeDXT1ToARGB(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes);
void DecodeDXT5ToARGB(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes);

// The same pixels (alpha: DXT5 blocks, else DXT1), named for the callers
// that ask for the calling thread.
void DecodeDXTOnCallingThread(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes,
                              bool alpha);

// One band of a frame at the widest level: block rows firstRow .. firstRow +
// rowCount - 1 (the image's pixel rows among them) of the frame
// DecodeDXT1ToARGB / DecodeDXT5ToARGB decode, blocks and dest the whole
// frame's. Rows past the frame are ignored; bands in any order or at once
// give the whole frame's pixels.
void DecodeDXTRows(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes, bool alpha,
                   int firstRow, int rowCount);

// The levels this build holds for the decoder and this processor runs (plain
// first, then in increasing width); returns their number.
int DXTDecoderLevels(ORXSimdLevel levels[kORXSimdLevelCount]);
// The widest of them, found once.
ORXSimdLevel DXTDecoderBestLevel();

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
