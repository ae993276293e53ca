// The stand-in QuickTime.qts on Windows: QuickTime's single dispatcher. A
// caller's entry stub jumps here with the function's selector in EAX and the
// caller's arguments untouched (on the stack on i686; in RCX, RDX, R8, R9 and
// then on the stack on x86-64); the dispatcher calls the host function of
// that selector with those arguments and returns its result to the caller
// directly.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "Components.h"
#include "CoreFoundation.h"
#include "CoreVideo.h"
#include "Dialogs.h"
#include "ImageCodec.h"
#include "ImageCompression.h"
#include "MacMemory.h"
#include "Resources.h"

namespace {

using Slots = const uintptr_t*;

// Argument i of the caller, as the type the host function takes. Every
// argument is one pointer-sized slot (4 bytes on i686, 8 on x86-64);
// narrower integers are its low bits.
template <typename T>
T Arg(Slots a, int i) {
  if constexpr (std::is_pointer_v<T>)
    return reinterpret_cast<T>(a[i]);
  else
    return static_cast<T>(a[i]);
}

// A result as the caller's return register holds it: pointers whole,
// integers in the low bits.
template <typename T>
intptr_t Result(T value) {
  if constexpr (std::is_pointer_v<T>)
    return reinterpret_cast<intptr_t>(value);
  else
    return static_cast<intptr_t>(value);
}

// The CoreFoundation constants QuickTime hands out by name.
const void* ConstantByName(const char* name) {
  if (name == nullptr) return nullptr;
  if (std::strcmp(name, "kCFTypeDictionaryKeyCallBacks") == 0) return &kCFTypeDictionaryKeyCallBacks;
  if (std::strcmp(name, "kCFTypeDictionaryValueCallBacks") == 0) return &kCFTypeDictionaryValueCallBacks;
  if (std::strcmp(name, "kCFTypeArrayCallBacks") == 0) return &kCFTypeArrayCallBacks;
  return nullptr;
}

// Lock and unlock by reference: result slot, buffer reference, flags reference.
int32_t PixelBufferByReference(Slots a, bool lock) {
  auto* result = Arg<int32_t*>(a, 0);
  auto* buffer = Arg<CVPixelBufferRef*>(a, 1);
  auto* flags = Arg<const CVOptionFlags*>(a, 2);
  if (result == nullptr || buffer == nullptr || flags == nullptr) return paramErr;
  *result = lock ? CVPixelBufferLockBaseAddress(*buffer, *flags) : CVPixelBufferUnlockBaseAddress(*buffer, *flags);
  return noErr;
}

struct Entry {
  uint32_t selector;
  intptr_t (*call)(Slots);
};

#define HOST_ENTRY(selector, body) {selector, [](Slots a) -> intptr_t { (void)a; body; }}

// Sorted by selector.
const Entry kEntries[] = {
    HOST_ENTRY(0x00010000, return DelegateComponentCall(Arg<ComponentParameters*>(a, 1), Arg<ComponentInstance>(a, 0))),
    HOST_ENTRY(0x00010008, return CloseComponent(Arg<ComponentInstance>(a, 0))),
    HOST_ENTRY(0x0001000D, SetComponentInstanceStorage(Arg<ComponentInstance>(a, 0), Arg<Handle>(a, 1)); return 0),
    HOST_ENTRY(0x00010015, return OpenComponentResFile(Arg<Component>(a, 0))),
    HOST_ENTRY(0x00010018, return CloseComponentResFile(Arg<SInt16>(a, 0))),
    HOST_ENTRY(0x00010024, return DelegateComponentCall(Arg<ComponentParameters*>(a, 0), Arg<ComponentInstance>(a, 1))),
    HOST_ENTRY(0x0001002E,
               return OpenADefaultComponent(Arg<OSType>(a, 0), Arg<OSType>(a, 1), Arg<ComponentInstance*>(a, 2))),
    HOST_ENTRY(0x00010035, return GetComponentResource(Arg<Component>(a, 0), Arg<OSType>(a, 1), Arg<SInt16>(a, 2),
                                                       Arg<Handle*>(a, 3))),
    HOST_ENTRY(0x000300AF,
               return ICMImageDescriptionSetProperty(Arg<ImageDescriptionHandle>(a, 0), Arg<OSType>(a, 1),
                                                     Arg<OSType>(a, 2), Arg<UInt32>(a, 3), Arg<const void*>(a, 4))),
    HOST_ENTRY(0x000300E1,
               return Result(ICMCompressionSessionOptionsRetain(Arg<ICMCompressionSessionOptionsRef>(a, 0)))),
    HOST_ENTRY(0x000300E2, ICMCompressionSessionOptionsRelease(Arg<ICMCompressionSessionOptionsRef>(a, 0)); return 0),
    HOST_ENTRY(0x00030103, ICMEncodedFrameRelease(Arg<ICMEncodedFrameRef>(a, 0)); return 0),
    HOST_ENTRY(0x00030105, return Result(ICMEncodedFrameGetDataPtr(Arg<ICMEncodedFrameRef>(a, 0)))),
    HOST_ENTRY(0x00030108, return ICMEncodedFrameSetDataSize(Arg<ICMMutableEncodedFrameRef>(a, 0), Arg<Size>(a, 1))),
    HOST_ENTRY(0x00030118, return ICMEncodedFrameSetMediaSampleFlags(Arg<ICMMutableEncodedFrameRef>(a, 0),
                                                                     Arg<MediaSampleFlags>(a, 1))),
    HOST_ENTRY(0x0003011A,
               return ICMEncodedFrameSetFrameType(Arg<ICMMutableEncodedFrameRef>(a, 0), Arg<ICMFrameType>(a, 1))),
    HOST_ENTRY(0x00030121,
               return Result(ICMCompressorSourceFrameGetPixelBuffer(Arg<ICMCompressorSourceFrameRef>(a, 0)))),
    HOST_ENTRY(0x00030126,
               return ICMCompressorSessionEmitEncodedFrame(Arg<ICMCompressorSessionRef>(a, 0),
                                                           Arg<ICMMutableEncodedFrameRef>(a, 1), Arg<long>(a, 2),
                                                           Arg<ICMCompressorSourceFrameRef*>(a, 3))),
    HOST_ENTRY(0x00030127, return ICMEncodedFrameCreateMutable(Arg<ICMCompressorSessionRef>(a, 0),
                                                               Arg<ICMCompressorSourceFrameRef>(a, 1),
                                                               Arg<Size>(a, 2), Arg<ICMMutableEncodedFrameRef*>(a, 3))),
    HOST_ENTRY(0x000B0013, return GetControlValue(Arg<ControlRef>(a, 0))),
    HOST_ENTRY(0x000B0014, SetControlValue(Arg<ControlRef>(a, 0), Arg<SInt16>(a, 1)); return 0),
    HOST_ENTRY(0x000C0004, return Result(GetNewDialog(Arg<SInt16>(a, 0), Arg<void*>(a, 1), Arg<WindowRef>(a, 2)))),
    HOST_ENTRY(0x000C0007, DisposeDialog(Arg<DialogRef>(a, 0)); return 0),
    HOST_ENTRY(0x000C0008, ModalDialog(Arg<ModalFilterUPP>(a, 0), Arg<DialogItemIndex*>(a, 1)); return 0),
    HOST_ENTRY(0x000C0027, SetDialogCancelItem(Arg<DialogRef>(a, 0), Arg<DialogItemIndex>(a, 1)); return 0),
    HOST_ENTRY(0x000C002F,
               return GetDialogItemAsControl(Arg<DialogRef>(a, 0), Arg<SInt16>(a, 1), Arg<ControlRef*>(a, 2))),
    HOST_ENTRY(0x0015000A, return Result(NewHandleClear(Arg<Size>(a, 0)))),
    HOST_ENTRY(0x00150011, return Result(NewPtrClear(Arg<Size>(a, 0)))),
    HOST_ENTRY(0x0015002F, DisposePtr(Arg<Ptr>(a, 0)); return 0),
    HOST_ENTRY(0x00150032, DisposeHandle(Arg<Handle>(a, 0)); return 0),
    HOST_ENTRY(0x00150033, SetHandleSize(Arg<Handle>(a, 0), Arg<Size>(a, 1)); return 0),
    HOST_ENTRY(0x00150034, return GetHandleSize(Arg<Handle>(a, 0))),
    // The post-load query: 0 asks the caller to keep the library loaded.
    HOST_ENTRY(0x001D0059, return 0),
    HOST_ENTRY(0x00200005, return CurResFile()),
    HOST_ENTRY(0x00200009, UseResFile(Arg<SInt16>(a, 0)); return 0),
    HOST_ENTRY(0x002A001E, MacShowWindow(Arg<WindowRef>(a, 0)); return 0),
    HOST_ENTRY(0x0032006C, if (a[0] != 0) CFRelease(Arg<CFTypeRef>(a, 0)); return 0),
    HOST_ENTRY(0x0032007B, return Result(CFArrayCreateMutable(Arg<CFAllocatorRef>(a, 0), Arg<CFIndex>(a, 1),
                                                              Arg<const CFArrayCallBacks*>(a, 2)))),
    HOST_ENTRY(0x00320086, CFArrayAppendValue(Arg<CFMutableArrayRef>(a, 0), Arg<const void*>(a, 1)); return 0),
    HOST_ENTRY(0x003200CC, return Result(CFDictionaryCreateMutable(
                               Arg<CFAllocatorRef>(a, 0), Arg<CFIndex>(a, 1), Arg<const CFDictionaryKeyCallBacks*>(a, 2),
                               Arg<const CFDictionaryValueCallBacks*>(a, 3)))),
    HOST_ENTRY(0x003200D7, CFDictionaryAddValue(Arg<CFMutableDictionaryRef>(a, 0), Arg<const void*>(a, 1),
                                                Arg<const void*>(a, 2));
               return 0),
    HOST_ENTRY(0x0032010A, return Result(CFNumberCreate(Arg<CFAllocatorRef>(a, 0), Arg<CFNumberType>(a, 1),
                                                        Arg<const void*>(a, 2)))),
    HOST_ENTRY(0x00320222, return Result(__CFStringMakeConstantString(Arg<const char*>(a, 0)))),
    HOST_ENTRY(0x0032028A, return Result(ConstantByName(Arg<const char*>(a, 0)))),
    HOST_ENTRY(0x00340011, return PixelBufferByReference(a, true)),
    HOST_ENTRY(0x00340012, return PixelBufferByReference(a, false)),
    HOST_ENTRY(0x00340013, return Result(CVPixelBufferGetWidth(Arg<CVPixelBufferRef>(a, 0)))),
    HOST_ENTRY(0x00340014, return Result(CVPixelBufferGetHeight(Arg<CVPixelBufferRef>(a, 0)))),
    HOST_ENTRY(0x00340016, return Result(CVPixelBufferGetBaseAddress(Arg<CVPixelBufferRef>(a, 0)))),
    HOST_ENTRY(0x00340017, return Result(CVPixelBufferGetBytesPerRow(Arg<CVPixelBufferRef>(a, 0)))),
};

#undef HOST_ENTRY

}  // namespace

namespace {
std::atomic<uint32_t> g_dispatchedCalls{0};
}  // namespace

extern "C" {

// Calls that came through the dispatcher (for the suites).
uint32_t HostDispatcherCallCount(void) { return g_dispatchedCalls.load(); }

// Answers unknown selectors as QuickTime answers a function it lacks.
intptr_t HostDispatchSelector(uint32_t selector, Slots args) {
  g_dispatchedCalls.fetch_add(1, std::memory_order_relaxed);
  const Entry* end = kEntries + sizeof kEntries / sizeof kEntries[0];
  const Entry* e = std::lower_bound(kEntries, end, selector, [](const Entry& x, uint32_t s) { return x.selector < s; });
  if (e == end || e->selector != selector) return badComponentSelector;
  return e->call(args);
}

// QuickTime's component call with a parameter block, by its export name.
ComponentResult HostCallComponentWithParameters(ComponentInstance ci, ComponentParameters* params) {
  return DelegateComponentCall(params, ci);
}

}  // extern "C"

#if defined(__x86_64__)
// The four register arguments go to the caller's home area, just above the
// return address, where they lead the caller's stack arguments: one row of
// 8-byte slots. The caller's stack is left as it was.
asm(".text\n"
    ".globl theQuickTimeDispatcher\n"
    ".def theQuickTimeDispatcher; .scl 2; .type 32; .endef\n"
    "theQuickTimeDispatcher:\n"
    ".seh_proc theQuickTimeDispatcher\n"
    "  movq %rcx, 8(%rsp)\n"
    "  movq %rdx, 16(%rsp)\n"
    "  movq %r8, 24(%rsp)\n"
    "  movq %r9, 32(%rsp)\n"
    "  subq $40, %rsp\n"
    ".seh_stackalloc 40\n"
    ".seh_endprologue\n"
    "  movl %eax, %ecx\n"
    "  leaq 48(%rsp), %rdx\n"
    "  call HostDispatchSelector\n"
    "  addq $40, %rsp\n"
    "  ret\n"
    ".seh_endproc\n");
#else
// The caller's arguments start above the return address; the dispatcher
// builds a frame of its own, so the caller's stack is left as it was.
asm(".text\n"
    ".globl _theQuickTimeDispatcher\n"
    ".def _theQuickTimeDispatcher; .scl 2; .type 32; .endef\n"
    "_theQuickTimeDispatcher:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  leal 8(%ebp), %ecx\n"
    "  pushl %ecx\n"
    "  pushl %eax\n"
    "  call _HostDispatchSelector\n"
    "  movl %ebp, %esp\n"
    "  popl %ebp\n"
    "  ret\n");
#endif

namespace {
// Keeps the table sorted as it grows.
[[maybe_unused]] const bool kTableSorted = [] {
  for (size_t i = 1; i < sizeof kEntries / sizeof kEntries[0]; ++i)
    if (kEntries[i - 1].selector >= kEntries[i].selector) std::abort();
  return true;
}();
}  // namespace
