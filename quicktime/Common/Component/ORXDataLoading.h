// Frames that reach DrawBand through a data-loading procedure. QuickTime
// hands a sub-codec the first part of a large sample and a procedure that
// makes more of it available on request, a window of at least
// codecMinimumDataSize bytes at a time. The decoder needs the frame in one
// piece, so the pieces are gathered into a buffer of the instance's own.
#pragma once

#include <cstdint>

#include "core/Format/ORXHeader.h"
#include "ImageCodec.h"
#include "quicktime/Common/Decode/ORXDecodePipeline.h"

// The header of the frame at *at, of which *loaded bytes are loaded: read in
// place, or through the procedure (proc may be null) when fewer than 28 bytes
// are there, which may move *at and sets *loaded to 28. Returns noErr, the
// procedure's error, or codecBadDataErr without a header or for sizes that
// are negative. *storedSize: headerSize + dataSize + secondSize.
ComponentResult ORXReadFrameHeader(const ICMDataProcRecord* proc, Ptr* at, int64_t* loaded, ORXHeader* header,
                                   int64_t* storedSize);

// Gathers the frame that starts at first (firstBytes of it loaded there) into
// one piece. The frame's size comes from its header, read through the
// procedure when fewer than its 28 bytes are loaded; a frame already whole in
// the loaded bytes is used where it lies. Sets *frame and *frameSize.
// Returns noErr, the procedure's error when it cannot supply the bytes (a
// truncated sample), codecBadDataErr for a header whose sizes are negative or
// overflow, or memFullErr. buffer is grown as needed and kept between frames.
ComponentResult ORXLoadFrameThroughDataProc(const ICMDataProcRecord& proc, const unsigned char* first,
                                            SInt32 firstBytes, ORXDecodeScratch* buffer,
                                            const unsigned char** frame, int64_t* frameSize);
