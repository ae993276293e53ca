// Starting the DXT24 pool's detached worker threads. One implementation per
// platform.
#pragma once

#if defined(_WIN32)
typedef void* ORXThreadId;
#else
#include <pthread.h>
typedef pthread_t ORXThreadId;
#endif

typedef void* (*ORXThreadEntry)(void*);

// Starts entry(arg) on a new thread with default attributes. Returns false
// when the system cannot create it.
bool ORXStartThread(ORXThreadEntry entry, void* arg, ORXThreadId* id);
