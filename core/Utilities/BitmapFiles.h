// What the bitmap writers ask of the platform's file system. One
// implementation per platform (BitmapWriter.cpp in core/linux/ and core/windows/).
#pragma once

// A name is taken when anything exists there, readable or not: a file that
// cannot be read must not be overwritten either.
bool BitmapNameTaken(const char* name);
// The last component of a path (after the platform's last separator).
const char* LastPathComponent(const char* path);
