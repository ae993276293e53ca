// Resource Manager: classic resource-fork files (big-endian) and the chain of
// open resource files. The newest open file is searched first; UseResFile
// chooses where a search starts.
#pragma once

#include "MacTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

// Opens a resource file by path, puts it at the head of the chain and makes
// it current. Returns its reference number (> 0), or -1 with ResError() set
// (fnfErr: cannot open; mapReadErr: not a valid resource fork).
SInt16 HostOpenResFile(const char* path);
// Same from bytes in memory (copied), for tests and embedded resources.
SInt16 HostOpenResFileFromMemory(const void* bytes, size_t length);
void CloseResFile(SInt16 refNum);
SInt16 CurResFile(void);
void UseResFile(SInt16 refNum);
OSErr ResError(void);

// Resources returned by these calls belong to the Resource Manager: the same
// handle is returned on every call until ReleaseResource, DetachResource or
// the file's CloseResFile. Types with a known structure (currently 'cdci')
// are converted to native byte order when loaded; all others stay as stored.
Handle Get1Resource(ResType type, ResID id);  // current file only
Handle GetResource(ResType type, ResID id);   // current file, then older ones
void ReleaseResource(Handle resource);
// The handle becomes the caller's: dispose of it with DisposeHandle.
void DetachResource(Handle resource);
SInt16 Count1Resources(ResType type);
SInt16 Count1Types(void);
void Get1IndType(ResType* type, SInt16 index);        // 1-based
Handle Get1IndResource(ResType type, SInt16 index);   // 1-based
void GetResInfo(Handle resource, ResID* id, ResType* type, Str255 name);
SInt16 GetResAttrs(Handle resource);

#ifdef __cplusplus
}
#endif
