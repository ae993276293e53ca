// Memory Manager: relocatable blocks (Handles) and pointer blocks. A Handle
// points at a master pointer that points at the block; the block may move
// when it is resized.
#pragma once

#include "MacTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

Handle NewHandle(Size byteCount);
Handle NewHandleClear(Size byteCount);
void DisposeHandle(Handle h);
Size GetHandleSize(Handle h);
// Resizes the block, keeping its first min(old, new) bytes; new bytes are 0.
void SetHandleSize(Handle h, Size newSize);
void HLock(Handle h);
void HUnlock(Handle h);
// Error of the last Memory Manager call on this thread: noErr, memFullErr,
// nilHandleErr or paramErr.
OSErr MemError(void);

Ptr NewPtr(Size byteCount);
Ptr NewPtrClear(Size byteCount);
void DisposePtr(Ptr p);
Size GetPtrSize(Ptr p);

// Copies n bytes (the Memory Manager's argument order: source first).
void BlockMoveData(const void* src, void* dest, Size n);

#ifdef __cplusplus
}
#endif
