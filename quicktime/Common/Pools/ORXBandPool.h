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

#include "core/Frames/ORXJobs.h"

// The pool as a job runner, starting it on the first call: threads is the
// calling thread plus the workers, so the frame road cuts a frame into one
// band a thread (ORX_DECODE_POOL=0, no or false turns the pool off; see
// ORXSwitches.h). Job 0 and every threads-th after it run on the
// calling thread, the others on the workers; a frame that finds another in
// the pool runs all its jobs on the calling thread, in order. Without a
// pool (one processor, no memory, semaphores or threads, or ORX_DECODE_POOL
// off) the runner has no run and threads 1: the caller decodes alone.
ORXJobRunner ORXDecodePoolRunner();
