// CPU decoders for standard DXT1 (BC1, with its three-colour mode and
// transparent texel) and DXT5 (BC3) blocks into 32-bit ARGB pixels. Only the
// width x height pixels of the image are written.
#pragma once

void DecodeDXT1ToARGB(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes);
void DecodeDXT5ToARGB(const unsigned char* blocks, unsigned char* dest, int width, int height, int rowBytes);
