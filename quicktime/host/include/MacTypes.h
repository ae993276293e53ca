// Basic types of the QuickTime / Carbon interfaces, as the components and host
// applications spell them. Mac "long" quantities are 32 bits here.
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef uint8_t UInt8;
typedef int8_t SInt8;
typedef uint16_t UInt16;
typedef int16_t SInt16;
typedef uint32_t UInt32;
typedef int32_t SInt32;
typedef uint64_t UInt64;
typedef int64_t SInt64;

typedef UInt8 Boolean;
typedef SInt16 OSErr;
typedef SInt32 OSStatus;
typedef SInt32 ComponentResult;
typedef UInt32 FourCharCode;
typedef FourCharCode OSType;
typedef FourCharCode ResType;
typedef SInt32 Fixed;
typedef SInt32 Size;  // byte counts of handles and pointers
typedef char* Ptr;
typedef Ptr* Handle;
typedef unsigned char Str255[256];
typedef unsigned char Str63[64];
typedef unsigned char Str31[32];
typedef unsigned char* StringPtr;
typedef const unsigned char* ConstStr255Param;
typedef SInt16 ResID;

// QuickTime lays its structures out with 2-byte alignment (the 68k rule) and
// 32-bit pointers. The Win32 build reproduces that exactly, since a real
// QuickTime for Windows hands the components these records. 64-bit hosts,
// 64-bit Windows included, have no QuickTime: there the host and the
// components share natural alignment, which keeps pointers aligned.
// QuickTimeLayout.h pins both layouts.
#if defined(_WIN32) && !defined(_WIN64)
#define QT_PACK_BEGIN _Pragma("pack(push, 2)")
#define QT_PACK_END _Pragma("pack(pop)")
#else
#define QT_PACK_BEGIN
#define QT_PACK_END
#endif

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

QT_PACK_BEGIN
struct Rect {
  SInt16 top;
  SInt16 left;
  SInt16 bottom;
  SInt16 right;
};
typedef struct Rect Rect;

struct Point {
  SInt16 v;
  SInt16 h;
};
typedef struct Point Point;
QT_PACK_END

// 'abcd' as a big-endian four-character code.
#define FOUR_CHAR_CODE(a, b, c, d) \
  ((OSType)(((UInt32)(UInt8)(a) << 24) | ((UInt32)(UInt8)(b) << 16) | ((UInt32)(UInt8)(c) << 8) | (UInt32)(UInt8)(d)))

enum {
  noErr = 0,
  paramErr = -50,
  memFullErr = -108,
  nilHandleErr = -109,
  memWZErr = -111,
  resNotFound = -192,
  resFNotFound = -193,
  mapReadErr = -199,
  fnfErr = -43,
  ioErr = -36,
  eofErr = -39,
  codecErr = -8960,
  codecBadDataErr = -8969,
  codecParameterDialogConfirm = -8983,
  userCanceledErr = -128,
  invalidComponentID = -3000,
  badComponentInstance = (SInt32)0x80008001,
  badComponentSelector = (SInt32)0x80008002,
  kNoCodecOpenErr = -2070,  // a prepare call with no storage
};
