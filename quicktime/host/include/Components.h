// Component Manager: components are found through their 'thng' resources,
// loaded from their libraries and reached only through their entry points.
#pragma once

#include "MacTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ComponentRecord* Component;
typedef struct ComponentInstanceRecord* ComponentInstance;

QT_PACK_BEGIN
struct ComponentDescription {
  OSType componentType;
  OSType componentSubType;
  OSType componentManufacturer;
  UInt32 componentFlags;
  UInt32 componentFlagsMask;
};
typedef struct ComponentDescription ComponentDescription;
QT_PACK_END

// A request as the entry point receives it. On this platform the arguments
// follow in forward order, one pointer-sized slot each; paramSize is their
// byte count (slots x slot size).
QT_PACK_BEGIN
struct ComponentParameters {
  UInt8 flags;
  UInt8 paramSize;
  SInt16 what;
#if UINTPTR_MAX > 0xFFFFFFFFu
  UInt32 padding;  // 64-bit hosts: the slots start pointer-aligned
#endif
  uintptr_t params[1];  // 4-byte slots on Win32, as QuickTime for Windows lays them out
};
typedef struct ComponentParameters ComponentParameters;
QT_PACK_END

typedef ComponentResult (*ComponentRoutineProcPtr)(ComponentParameters* cp, Handle componentStorage);
typedef ComponentRoutineProcPtr ComponentRoutineUPP;
typedef void* ProcPtr;
typedef UInt32 ProcInfoType;

enum {
  kComponentOpenSelect = -1,
  kComponentCloseSelect = -2,
  kComponentCanDoSelect = -3,
  kComponentVersionSelect = -4,
  kComponentRegisterSelect = -5,
  kComponentTargetSelect = -6,
  kComponentUnregisterSelect = -7,
  kComponentGetMPWorkFunctionSelect = -8,
  kComponentGetPublicResourceSelect = -10,
};

enum {
  kAnyComponentType = 0,
  kAnyComponentSubType = 0,
  kAnyComponentManufacturer = 0,
  kAnyComponentFlagsMask = 0,
};

enum {
  cmpThreadSafe = 1L << 28,
  cmpIsMissing = 1L << 29,
  cmpWantsRegisterMessage = (SInt32)(1UL << 31),
};

enum {
  componentDoAutoVersion = 0x01,
  componentWantsUnregister = 0x02,
  componentAutoVersionIncludeFlags = 0x04,
  componentHasMultiplePlatforms = 0x08,
  componentLoadResident = 0x10,
};

enum {
  platform68k = 1,
  platformPowerPC = 2,
  platformWin32 = 4,
  platformIA32NativeEntryPoint = 6,
  platformX86_64NativeEntryPoint = 8,
  platformLinuxX86_64 = 1201,  // this host's entry: 'dlle' names a symbol of the .so
};

// ---- Finding and opening components --------------------------------------

// Registers every component of every deliverable found on the search path
// (ORX_COMPONENT_PATH, a ':'-separated list of folders, then the folder of
// the host library itself): for each NAME.rsrc with a NAME.so beside it, the
// 'thng' resources with a platform entry for this host. Safe to call more
// than once; returns the number of components registered by this call.
SInt32 HostRegisterComponentsOnSearchPath(void);
// Registers the components of one deliverable given its resource file path
// (the library is the same path with .so for .rsrc). Returns the number
// registered, or a negative error.
SInt32 HostRegisterComponentFile(const char* resourcePath);
// What kept component files of the search path (or given to
// HostRegisterComponentFile) from being used: a resource file that cannot be
// read, a library that is missing or does not load (with the loader's
// reason), one "PATH: reason" line each, separated by newlines, into text
// (cut to size, always terminated; text may be null). Returns the number of
// such files. A library is loaded on the first open of one of its
// components, so its problem appears from then on; a component it kept out
// by auto-versioning is registered in its place.
SInt32 HostComponentProblems(char* text, size_t size);

Component FindNextComponent(Component after, ComponentDescription* looking);
SInt32 CountComponents(ComponentDescription* looking);
OSErr GetComponentInfo(Component c, ComponentDescription* cd, Handle name, Handle info, Handle icon);
// Registers an entry point directly (not through resources). global 0 keeps
// the registration to this process, as every registration here is.
Component RegisterComponent(ComponentDescription* cd, ComponentRoutineUPP entry, SInt16 global, Handle name,
                            Handle info, Handle icon);
OSErr UnregisterComponent(Component c);

OSErr OpenAComponent(Component c, ComponentInstance* ci);
ComponentInstance OpenComponent(Component c);
OSErr OpenADefaultComponent(OSType componentType, OSType componentSubType, ComponentInstance* ci);
OSErr CloseComponent(ComponentInstance ci);
OSErr GetComponentInstanceError(ComponentInstance ci);

Handle GetComponentInstanceStorage(ComponentInstance ci);
void SetComponentInstanceStorage(ComponentInstance ci, Handle storage);

// ---- Calling ---------------------------------------------------------------

// Sends a request: packs the arguments after the selector and calls the
// entry point with the instance's storage. args has argCount slots.
ComponentResult HostCallComponent(ComponentInstance ci, SInt16 selector, const uintptr_t* args, int argCount);

ComponentResult CallComponentVersion(ComponentInstance ci);
ComponentResult CallComponentCanDo(ComponentInstance ci, SInt16 ftnNumber);
ComponentResult CallComponentTarget(ComponentInstance ci, ComponentInstance target);
ComponentResult ComponentSetTarget(ComponentInstance ci, ComponentInstance target);
// Passes a request, as received, to another instance.
ComponentResult DelegateComponentCall(ComponentParameters* originalParams, ComponentInstance ci);

// Unpacks the request's arguments as the layout word describes them (bits
// 4-5 the result size, then 2 bits per argument from bit 6, the storage
// first: 1, 2 or 4 bytes) and calls the handler with the storage and the
// arguments; returns the handler's result. A layout that does not match the
// request's parameter size answers paramErr.
ComponentResult CallComponentFunctionWithStorageProcInfo(Handle storage, ComponentParameters* params,
                                                         ProcPtr func, ProcInfoType procInfo);
ComponentResult CallComponentFunctionWithStorage(Handle storage, ComponentParameters* params,
                                                 ComponentRoutineUPP func);

// ---- Component resources -----------------------------------------------------

// A copy of the resource from the component's own resource file (a new handle
// the caller disposes of), or an error: resNotFound, or the file's error.
OSErr GetComponentResource(Component c, OSType resType, SInt16 resID, Handle* theResource);
// Opens the component's resource file and puts it in the chain; -1 on failure.
SInt16 OpenComponentResFile(Component c);
OSErr CloseComponentResFile(SInt16 refNum);

#ifdef __cplusplus
}
#endif
