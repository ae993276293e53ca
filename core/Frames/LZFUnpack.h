// LZF unpacking for the decode roads: the same stream format and the same
// answers as liblzf's lzf_decompress, with wide copies. liblzf stays the
// packer and this unpacker's reference.
#pragma once

#include <cstdint>

// Unpacks the LZF stream src[0 .. size) into dest[0 .. capacity) and returns
// the bytes written; 0 for a stream lzf_decompress refuses (output larger
// than capacity, a back reference before the output's start, a token cut
// short by the end of the input) and for an empty one. For every stream it
// answers as lzf_decompress does, and the bytes below the returned count
// are lzf_decompress's. Bytes of dest past that count may be written.
int64_t ORXUnpackLZF(const uint8_t* src, int64_t size, uint8_t* dest, int64_t capacity);
