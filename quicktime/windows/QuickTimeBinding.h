// What the files of the Windows run-time binding to QuickTime share: the
// binding's state (process-wide; each entry a pointer written once), the
// binding step, and the search for QuickTime's library.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

constexpr const char* kQuickTimeLibrary = "QuickTime.qts";

extern "C" {

typedef void (*BindingHook)(void);
typedef void* EntryPoint;

// What every stub answers while QuickTime is not bound: -2095 (16-bit
// callers see 0xF7D1).
int32_t QuickTimeNotBound(void);
// The hook of the first call: loads QuickTime's library and resolves its
// entry points; the stubs keep answering -2095 while that fails.
void BindQuickTime(void);
// Looks up the three entry points in order; -2094 at the first one missing.
int32_t ResolveQuickTimeEntries(void);

extern HMODULE g_componentModule;
extern HMODULE g_quickTimeLibrary;
extern BindingHook g_bindingHook;
extern EntryPoint g_dispatcherEntry;
extern EntryPoint g_callComponentEntry;
extern EntryPoint g_callWithStorageEntry;
extern uint8_t g_hasQuickTime702;
extern uint8_t g_versionChecked;
extern uint8_t g_emptyConstantBlock[64];

// Finding QuickTime's library (QuickTimeLibrary.cpp).
void ReadQuickTimeRegistryDirectory(const char* value, char* out, size_t size);
void GetQuickTimeSystemDirectory(char* out, size_t size);
void GetQuickTimeExtensionDirectory(char* out, size_t size);
HMODULE LoadQuickTimeLibrary(const char* name);
uint32_t PackQuickTimeVersion(uint32_t mostSignificant, uint32_t leastSignificant);
// Whether the library's file version is 7.0.2 or later (checked once).
int HasQuickTime702(void);

// A stub of the binding only (QuickTimeStubs.cpp).
int32_t QTPostLoadQuery(void);

}  // extern "C"
