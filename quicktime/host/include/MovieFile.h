// Movie files: a QuickTime movie (.mov) writer and reader for one video track
// whose samples are compressed frames of a four-character codec type, with
// an optional sound track of linear PCM. The
// host's own addition (names begin with Host): applications write what a
// compression session emits and hand what they read to a decompression
// session.
#pragma once

#include "ImageCompression.h"
#include "MacTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

// Movie-file status codes (QuickTime's values).
enum {
  badImageDescription = -2001,
  invalidMedia = -2008,
  invalidTrack = -2009,
  invalidMovie = -2010,
  invalidSampleTable = -2011,
  invalidDuration = -2014,
  noMovieFound = -2048,
  dskFulErr = -34,
  wrPermErr = -61,
  permErr = -54,
  dupFNErr = -48,
};

// Moves a finished temporary file onto path, as the writer's Finish does.
// Without replace an existing file is never replaced: false with errno
// EEXIST; with it only a regular file is (anything else at the path, or
// behind a link there, gives the same EEXIST). The check and the move are one step where the file system allows
// (a rename that refuses to replace, else a hard link).
Boolean HostMoveFileIntoPlace(const char* temp, const char* path, Boolean replace);

// ---- Writer -------------------------------------------------------------------

typedef struct OpaqueHostMovieWriter* HostMovieWriterRef;

// Starts a movie at path with one video track described by desc (copied;
// its cType, size, depth, name and other fields become the sample
// description) and timeScale units per second. The movie is written to a
// temporary file beside path and appears under path only when
// HostMovieWriterFinish succeeds, so an interrupted run never leaves a file
// at path. Samples are streamed to disk as they arrive; the movie header is
// written at the end.
OSStatus HostMovieWriterCreate(const char* path, ImageDescriptionHandle desc, TimeScale timeScale,
                               HostMovieWriterRef* writerOut);
// HostMovieWriterCreate that also gives the reason for a failure in words
// (without the file name) in errorMessage, cut to errorSize bytes with a
// terminating zero; errorMessage may be null.
OSStatus HostMovieWriterCreateWithError(const char* path, ImageDescriptionHandle desc, TimeScale timeScale,
                                        HostMovieWriterRef* writerOut, char* errorMessage, SInt32 errorSize);
// Appends one sync sample of duration units of the time scale.
OSStatus HostMovieWriterAddSample(HostMovieWriterRef writer, const void* data, SInt32 dataSize, TimeValue duration);
SInt32 HostMovieWriterGetSampleCount(HostMovieWriterRef writer);
// Bytes written so far (the file as it would stand after Finish, less the
// movie header).
SInt64 HostMovieWriterGetFileSize(HostMovieWriterRef writer);
// Writes the movie header, closes the file and moves it to its path; the
// writer is released whatever the result. On failure nothing is left at path
// (an existing file there is untouched).
OSStatus HostMovieWriterFinish(HostMovieWriterRef writer);
// HostMovieWriterFinish that also gives the reason for a failure in words,
// as HostMovieWriterCreateWithError does (the writer is gone afterwards).
OSStatus HostMovieWriterFinishWithError(HostMovieWriterRef writer, char* errorMessage, SInt32 errorSize);
// Abandons the movie: removes the temporary file and releases the writer.
// Accepts null.
void HostMovieWriterAbort(HostMovieWriterRef writer);
// The last failure in words ("no space left on the device while writing
// sample 12"), without the file name; "" when none. Valid until the next
// call on the writer.
const char* HostMovieWriterGetErrorMessage(HostMovieWriterRef writer);

// The temporary file the movie is written to until Finish moves it onto
// its path ("<path>.partial-XXXXXX", beside it); "" for null. A program
// that must remove it from a signal handler keeps a copy of the name.
const char* HostMovieWriterGetTemporaryPath(HostMovieWriterRef writer);

// Whether Finish may replace a file at the path (the default). Without it
// Finish never replaces one, even one that appeared while the movie was
// written: it fails with dupFNErr and keeps the finished movie under its
// temporary name, which the error message gives.
void HostMovieWriterSetReplaceExisting(HostMovieWriterRef writer, Boolean replace);

// The chunk offsets switch to 64-bit when the file passes this size (tests
// lower it to exercise the 64-bit tables without writing 4 GiB).
void HostMovieWriterSetLargeFileThreshold(HostMovieWriterRef writer, SInt64 bytes);

// ---- Sound --------------------------------------------------------------------

// A sound track's samples: interleaved little-endian PCM, a frame holding one
// sample for every channel, as QuickTime stores linear PCM ('lpcm').
enum {
  kHostSoundInt16 = 16,    // signed 16-bit integers
  kHostSoundInt24 = 24,    // signed 24-bit integers, 3 bytes each
  kHostSoundFloat32 = 32,  // 32-bit IEEE floats
};
struct HostSoundFormat {
  UInt32 sampleRate;    // frames a second, 1 to 384000
  UInt32 channels;      // 1 to 64
  UInt32 sampleFormat;  // kHostSoundInt16, kHostSoundInt24 or kHostSoundFloat32
};
typedef struct HostSoundFormat HostSoundFormat;
// Bytes of one frame of the format; 0 for a format outside the ranges above.
UInt32 HostSoundBytesPerFrame(const HostSoundFormat* format);

// Gives the movie a sound track (one; before Finish). Its samples go into
// the file in chunks of about half a second, between the video samples
// that arrive meanwhile, so that a player streams both from one place.
OSStatus HostMovieWriterAddSoundTrack(HostMovieWriterRef writer, const HostSoundFormat* format);
// Appends frameCount frames of sound. The track starts with the video, at
// time 0.
OSStatus HostMovieWriterAddSound(HostMovieWriterRef writer, const void* frames, SInt32 frameCount);
SInt64 HostMovieWriterGetSoundFrameCount(HostMovieWriterRef writer);

// ---- Reader -------------------------------------------------------------------

typedef struct OpaqueHostMovieReader* HostMovieReaderRef;

// Opens a movie and chooses its first video track whose sample description
// has codec type cType (any codec type when cType is 0). On failure
// *readerOut is null and, when errorMessage is not null, the reason in
// words (without the file name) is written there, cut to errorSize bytes
// with a terminating zero.
OSStatus HostMovieReaderOpen(const char* path, CodecType cType, HostMovieReaderRef* readerOut, char* errorMessage,
                             SInt32 errorSize);
void HostMovieReaderClose(HostMovieReaderRef reader);  // accepts null

// The track's sample description as an image description (owned by the
// reader; idSize, cType, width, height, depth, name and the other stored
// fields).
ImageDescriptionHandle HostMovieReaderGetImageDescription(HostMovieReaderRef reader);
SInt32 HostMovieReaderGetTrackCount(HostMovieReaderRef reader);  // all tracks of the movie
SInt32 HostMovieReaderGetTrackID(HostMovieReaderRef reader);     // the chosen track's ID
TimeScale HostMovieReaderGetTimeScale(HostMovieReaderRef reader);  // the media's time scale
TimeValue64 HostMovieReaderGetDuration(HostMovieReaderRef reader);  // in the media's time scale
SInt32 HostMovieReaderGetSampleCount(HostMovieReaderRef reader);
SInt32 HostMovieReaderGetMaxSampleSize(HostMovieReaderRef reader);
// Sample index is 0-based. Offset in the file, size, duration in the media's
// time scale and whether it is a sync sample.
OSStatus HostMovieReaderGetSampleInfo(HostMovieReaderRef reader, SInt32 index, SInt64* offset, SInt32* size,
                                      TimeValue* duration, Boolean* isSync);
// Reads sample index into buffer (at least the sample's size); *sizeOut
// gets its size. eofErr when the file ends before the sample does.
OSStatus HostMovieReaderReadSample(HostMovieReaderRef reader, SInt32 index, void* buffer, SInt32 bufferSize,
                                   SInt32* sizeOut);
// The last failure of ReadSample or ReadSound in words; "" when none.
const char* HostMovieReaderGetErrorMessage(HostMovieReaderRef reader);

// The movie's first sound track of linear PCM, when it has one: its format
// and length in frames. False when it has none; the video is read the same
// either way. A sound track in another format, or one whose description or
// tables do not hold together, is not offered.
Boolean HostMovieReaderGetSound(HostMovieReaderRef reader, HostSoundFormat* format, SInt64* frameCount);
// Why no sound is offered when the movie has a sound track (or a track too
// damaged to tell its kind): the reason its first one cannot be read, in
// words ("the sound track has 0 channels (1 to 64)"). "" when sound is
// offered or the movie has no such track. Valid while the reader is open.
const char* HostMovieReaderGetSoundProblem(HostMovieReaderRef reader);
// Reads frameCount frames of it from firstFrame into buffer (frameCount x
// bytes per frame). eofErr past its end or when the file ends early.
OSStatus HostMovieReaderReadSound(HostMovieReaderRef reader, SInt64 firstFrame, SInt32 frameCount, void* buffer);

// Checks what every sound track of the QuickTime or MP4 movie at path must
// hold whatever its format: a sample description within its atom giving at
// least one channel, and chunk tables that agree with their atoms (the
// sample-to-chunk table starting at chunk 1, in order). noErr when they
// do, and for a file that is not a movie or whose movie atom cannot be
// found; otherwise the status and, in errorMessage, which track fails and
// why. For a program about to hand the file to another reader: some are
// known to crash on such tracks.
OSStatus HostMovieCheckSoundTracks(const char* path, char* errorMessage, SInt32 errorSize);

#ifdef __cplusplus
}
#endif
