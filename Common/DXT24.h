// DXT24 block encoder: DXT1-style 4x4 colour blocks whose two end points keep
// 8 bits per channel. 10 bytes a block: colour 0 RGB, colour 1 RGB, then a
// 32-bit little-endian index word (pixel i = 4*y + x in bits 2i, 2i+1).
// With alpha, an 8-byte DXT5 alpha block precedes the colour block (18 bytes).
#pragma once

#include <cstdint>

#include "ORXSemaphore.h"

// Refinement tables: weight of colour 0 in thirds for each index, and the
// products w1^2, (3-w1)^2, w1*(3-w1) packed into bytes 2, 1, 0.
extern const int w1Tab[4];
extern const int prods[4];

// Stores a colour block: colour 0 and colour 1 (R << 16 | G << 8 | B) as
// R, G, B bytes, then the index word little-endian.
inline void WriteDXT24ColourBlock(unsigned char* d, uint32_t c0, uint32_t c1, uint32_t mask) {
  d[0] = static_cast<unsigned char>(c0 >> 16);
  d[1] = static_cast<unsigned char>(c0 >> 8);
  d[2] = static_cast<unsigned char>(c0);
  d[3] = static_cast<unsigned char>(c1 >> 16);
  d[4] = static_cast<unsigned char>(c1 >> 8);
  d[5] = static_cast<unsigned char>(c1);
  d[6] = static_cast<unsigned char>(mask);
  d[7] = static_cast<unsigned char>(mask >> 8);
  d[8] = static_cast<unsigned char>(mask >> 16);
  d[9] = static_cast<unsigned char>(mask >> 24);
}

// Encodes one block. src: 16 pixels of R, G, B, A in row-major order.
// mode & 2 selects two refinement passes, otherwise one.
// dest receives 10 bytes, or 18 when alpha is nonzero.
void stb_compress_dxt_block_24(unsigned char* dest, const unsigned char* src, int alpha, int mode);

// Matches the 16 pixels against a 4-entry palette (R, G, B, unused bytes)
// by projection onto the end-point axis; returns the index mask.
unsigned int stb__MatchColorsBlock24(const unsigned char* block, const unsigned char* color);

// Least-squares end points for the given mask. c0/c1 are 24-bit colours
// (R << 16 | G << 8 | B). Returns true when either end point changed.
bool stb__RefineBlock24(const unsigned char* block, uint32_t* c0, uint32_t* c1, unsigned int mask);

// Compresses a whole 32-bit ARGB image (bytes A, R, G, B) into DXT24 blocks
// in raster order. rowBytes 0 means 4 * width. Edge blocks repeat the last
// column and row. Writes nothing when width or height is not positive.
void _stbCompressARGB32_to24(unsigned char* dest, const unsigned char* src, int width, int height,
                             int rowBytes, int alpha);

// ---- Worker pool ----------------------------------------------------------

constexpr int kMaxDXT24Threads = 32;

// A whole-image block routine with the image driver's arguments: the pool
// runs one on each band (_stbCompressARGB32_to24, or stbCompressARGB32 for
// standard DXT1/DXT5 blocks).
typedef void (*BandRoutine)(unsigned char* dest, const unsigned char* src, int width, int height,
                            int rowBytes, int alpha);

// One worker's record: the hand-off semaphores and its band of the image.
class ThreadInfo {
 public:
  ThreadInfo();
  ~ThreadInfo();
  ThreadInfo(const ThreadInfo&) = delete;
  ThreadInfo& operator=(const ThreadInfo&) = delete;

  // Worker loop: wait for a band, run the band's routine on it, report it done.
  void RunThread();
  // Both semaphores exist, so a worker may run on this record.
  bool IsUsable() const { return start.IsValid() && done.IsValid(); }

  ORXSemaphore start;
  ORXSemaphore done;
  bool stop = false;
  BandRoutine routine = nullptr;
  uint16_t* dest = nullptr;
  const unsigned char* src = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int32_t rowBytes = 0;
  bool alpha = false;
  // A worker thread runs on this record (it stays blocked in start.Wait()
  // until the process ends).
  bool workerStarted = false;
};

extern ThreadInfo g_threadInfos[kMaxDXT24Threads];
// Workers actually running (0 when none could be started).
extern int32_t g_numDXT24Threads;
extern bool threadsReady;

// Starts up to count (clamped to 1..32) workers. Stops at the first record
// without semaphores or the first thread that cannot be created, so the pool
// holds exactly the workers that run.
void SetupThreads(int count);

// Thread entry: runs the worker loop of the ThreadInfo it is given.
void* compressThread(void* record);

// Same as _stbCompressARGB32_to24, spread over the pool in bands of whole
// block rows. numThreads <= 1 compresses on the calling thread. The pool size
// is fixed by the first call with more than one thread. Calls from several
// threads are served one at a time.
void stbCompressARGB32_to24_threaded(int numThreads, unsigned char* dest, const unsigned char* src,
                                     int width, int height, int rowBytes, int alpha);

// Standard DXT1 (8 bytes a block) or DXT5 (16 with alpha) blocks of a whole
// image, spread over the same pool in the same bands, one frame at a time;
// the output equals one stbCompressARGB32 call. numThreads <= 1 compresses on
// the calling thread.
void stbCompressARGB32_threaded(int numThreads, unsigned char* dest, const unsigned char* src, int width,
                                int height, int rowBytes, int alpha);

// Rows of each worker for an image of height rows on n workers (the band
// rule of the pool); rows[i] for i < n. Returns the band height.
int DXT24BandRows(int height, int n, int* rows);
