// The decode pool: a frame's rows cut into bands, the calling thread taking
// the first and the pool's workers the others. The decompressor's pipeline
// hands it to the frame road as its job runner (ORXDecodePoolRunner). Its workers hand off as the
// encode pool's do (a start and a done semaphore each); they start once, on
// the first frame that asks, and then wait for the life of the process. A
// gate admits one frame at a time, and a frame that finds the pool busy is
// turned away rather than made to wait, so decoder instances never wait for
// each other.
#pragma once

#include <cstdint>

#include "ORXJobs.h"

// A band's work: rows first .. first + count - 1 of the job described by
// context.
typedef void (*ORXBandJob)(const void* context, int first, int count);

// Runs job over rows 0 .. rows - 1 in bands, one per worker and one on the
// calling thread, and returns when all are done. False, with nothing run,
// when the pool could not be started (one processor, no memory, semaphores
// or threads), is turned off (ORX_DECODE_POOL=0, no or false; see
// ORXSwitches.h) or another frame holds it: the caller then runs the job
// alone.
bool ORXRunInBands(int rows, ORXBandJob job, const void* context);

// The pool as a job runner, starting it on the first call: threads is the
// calling thread plus the workers, so the frame road cuts a frame into the
// bands ORXRunInBands would. Job 0 and every threads-th after it run on the
// calling thread, the others on the workers; a frame that finds another in
// the pool runs all its jobs on the calling thread, in order. Without a
// pool (one processor, no memory, semaphores or threads, or ORX_DECODE_POOL
// off) the runner has no run and threads 1: the caller decodes alone.
ORXJobRunner ORXDecodePoolRunner();
