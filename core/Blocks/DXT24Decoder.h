// CPU decoder for DXT24 block data: 32-bit ARGB pixels written straight into
// the destination, whole blocks (W4 x H4 pixels).
#pragma once

#include <atomic>
#include <cstdint>

// thirdsTable[a * 256 + b] = nearest integer to (2a + b) / 3.
extern uint8_t thirdsTable[65536];
// True once thirdsTable is complete.
extern std::atomic<bool> initThirds;

// Builds thirdsTable once; concurrent first calls wait for the one builder.
void InitThirdsTable();

// Decodes 10-byte DXT24 blocks. Every pixel gets alpha 255. Writes nothing
// when the padded width or height is below 4. Decodes on the calling thread
// (the frame road, ORXFrameDecode.h, cuts large frames into bands for its
// caller's threads). Safe to call from several threads at once.
void DecodeDXT24(const unsigned char* src, unsigned char* dest, int width, int height, int rowBytes);

// Decodes 18-byte DXT24-with-alpha blocks: an 8-byte DXT5 alpha block, then
// the 10-byte colour block.
void DecodeDXT24WithAlpha(const unsigned char* src, unsigned char* dest, int width, int height,
                          int rowBytes);

// The same output as DecodeDXT24 (alpha false) or DecodeDXT24WithAlpha
// (alpha true), named for the callers that ask for the calling thread.
void DecodeDXT24OnCallingThread(const unsigned char* src, unsigned char* dest, int width, int height,
                                int rowBytes, bool alpha);

// One band of a frame: block rows firstRow .. firstRow + rowCount - 1 (4
// pixel rows each) of the frame DecodeDXT24 / DecodeDXT24WithAlpha decode,
// src and dest the whole frame's. Rows past the frame are ignored. Bands
// decoded in any order or at once on several threads give the whole frame's
// pixels.
void DecodeDXT24Rows(const unsigned char* src, unsigned char* dest, int width, int height, int rowBytes, bool alpha,
                     int firstRow, int rowCount);

// DecodeDXT24 on the calling thread through the plain rows, whatever the
// processor offers: the twin the vector rows are checked against.
void DecodeDXT24Plain(const unsigned char* src, unsigned char* dest, int width, int height, int rowBytes);
// True when DecodeDXT24 uses the vector rows on this processor.
bool DXT24DecoderUsesVectorRows();

// The 8 alpha values of a DXT5 alpha block with end points a0, a1.
void DXT5AlphaPalette(int a0, int a1, uint8_t palette[8]);
