// The few CoreFoundation object types the components use: numbers, mutable
// arrays and dictionaries with the standard callbacks, and constant strings.
// Every object is reference-counted; Create functions return +1 objects.
#pragma once

#include "MacTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef const void* CFTypeRef;
typedef const struct __CFAllocator* CFAllocatorRef;
typedef const struct __CFString* CFStringRef;
typedef const struct __CFNumber* CFNumberRef;
typedef const struct __CFArray* CFArrayRef;
typedef struct __CFArray* CFMutableArrayRef;
typedef const struct __CFDictionary* CFDictionaryRef;
typedef struct __CFDictionary* CFMutableDictionaryRef;
typedef long CFIndex;
typedef unsigned long CFTypeID;
typedef CFIndex CFNumberType;
typedef UInt32 CFStringEncoding;

enum {
  kCFNumberSInt8Type = 1,
  kCFNumberSInt16Type = 2,
  kCFNumberSInt32Type = 3,
  kCFNumberSInt64Type = 4,
  kCFNumberFloat64Type = 6,
  kCFNumberIntType = 9,
};
enum { kCFStringEncodingASCII = 0x0600, kCFStringEncodingUTF8 = 0x08000100 };

extern const CFAllocatorRef kCFAllocatorDefault;

typedef const void* (*CFRetainCallBack)(CFAllocatorRef allocator, const void* value);
typedef void (*CFReleaseCallBack)(CFAllocatorRef allocator, const void* value);
typedef CFStringRef (*CFCopyDescriptionCallBack)(const void* value);
typedef Boolean (*CFEqualCallBack)(const void* value1, const void* value2);
typedef unsigned long (*CFHashCallBack)(const void* value);

struct CFArrayCallBacks {
  CFIndex version;
  CFRetainCallBack retain;
  CFReleaseCallBack release;
  CFCopyDescriptionCallBack copyDescription;
  CFEqualCallBack equal;
};
typedef struct CFArrayCallBacks CFArrayCallBacks;

struct CFDictionaryKeyCallBacks {
  CFIndex version;
  CFRetainCallBack retain;
  CFReleaseCallBack release;
  CFCopyDescriptionCallBack copyDescription;
  CFEqualCallBack equal;
  CFHashCallBack hash;
};
typedef struct CFDictionaryKeyCallBacks CFDictionaryKeyCallBacks;

struct CFDictionaryValueCallBacks {
  CFIndex version;
  CFRetainCallBack retain;
  CFReleaseCallBack release;
  CFCopyDescriptionCallBack copyDescription;
  CFEqualCallBack equal;
};
typedef struct CFDictionaryValueCallBacks CFDictionaryValueCallBacks;

// Retain with CFRetain, release with CFRelease, compare with CFEqual.
extern const CFArrayCallBacks kCFTypeArrayCallBacks;
extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;

CFTypeRef CFRetain(CFTypeRef cf);
void CFRelease(CFTypeRef cf);  // cf must not be null
CFIndex CFGetRetainCount(CFTypeRef cf);
Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2);
CFTypeID CFGetTypeID(CFTypeRef cf);
CFTypeID CFStringGetTypeID(void);
CFTypeID CFNumberGetTypeID(void);
CFTypeID CFArrayGetTypeID(void);
CFTypeID CFDictionaryGetTypeID(void);

CFNumberRef CFNumberCreate(CFAllocatorRef allocator, CFNumberType theType, const void* valuePtr);
// Converts to the asked type; false when the value does not fit.
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr);

// A string that lives for the process: equal texts give the same object.
CFStringRef __CFStringMakeConstantString(const char* cStr);
#define CFSTR(cStr) __CFStringMakeConstantString("" cStr "")
CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char* cStr, CFStringEncoding encoding);
// The text when it is stored as a C string (all strings here are), else null.
const char* CFStringGetCStringPtr(CFStringRef theString, CFStringEncoding encoding);

CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef allocator, CFIndex capacity, const CFArrayCallBacks* callBacks);
void CFArrayAppendValue(CFMutableArrayRef theArray, const void* value);
CFIndex CFArrayGetCount(CFArrayRef theArray);
const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx);

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef allocator, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks);
// Adds the pair when the key is absent; an existing key keeps its value.
void CFDictionaryAddValue(CFMutableDictionaryRef theDict, const void* key, const void* value);
void CFDictionarySetValue(CFMutableDictionaryRef theDict, const void* key, const void* value);
const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key);
CFIndex CFDictionaryGetCount(CFDictionaryRef theDict);

// Live CoreFoundation objects in this process (for leak checks in tests).
CFIndex HostCFLiveObjectCount(void);

#ifdef __cplusplus
}
#endif
