// Starting the worker pools' detached threads. One implementation per
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

// Processors this process may run on (logical ones), at least 1.
int ORXProcessorCount();
