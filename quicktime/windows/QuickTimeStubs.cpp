// The entry stubs of the Windows binding: one per QuickTime, CoreFoundation
// and CoreVideo function the codec calls, each a few instructions of
// assembly that bind on first use and jump to QuickTime's dispatcher with
// the function's selector.
#include "quicktime/windows/QuickTimeBinding.h"

// A status stub runs the hook (which may bind), then jumps to the dispatcher
// entry: bound, that is QuickTime's dispatcher; unbound, QuickTimeNotBound.
// A stub of a function that returns a reference answers null while unbound
// rather than the status, which no caller could tell from a pointer.

#if defined(__x86_64__)
// x86-64 (the test build; QuickTime for Windows has no 64-bit form): the
// selector travels in EAX as on i686, and the arguments stay where the
// caller put them (RCX, RDX, R8, R9, then the stack). Each stub loads its
// selector and jumps to one of two shared entries, which keep the four
// register arguments in the caller's home area across the hook and then
// jump to the dispatcher entry with the stack as they found it. Every
// stubbed function takes integers and pointers only, so no vector register
// needs keeping. The entries carry unwind data for the hook call.
#define ORX_STUB_ENTRY(entry, unbound)                            \
  asm(".text\n"                                                   \
      ".def " #entry "; .scl 3; .type 32; .endef\n"               \
      #entry ":\n"                                                \
      ".seh_proc " #entry "\n"                                    \
      "  subq $40, %rsp\n"                                        \
      ".seh_stackalloc 40\n"                                      \
      ".seh_endprologue\n"                                        \
      "  movq %rcx, 48(%rsp)\n"                                   \
      "  movq %rdx, 56(%rsp)\n"                                   \
      "  movq %r8, 64(%rsp)\n"                                    \
      "  movq %r9, 72(%rsp)\n"                                    \
      "  movq %rax, 32(%rsp)\n"                                   \
      "  movq g_bindingHook(%rip), %rax\n"                        \
      "  testq %rax, %rax\n"                                      \
      "  jz 1f\n"                                                 \
      "  call *%rax\n"                                            \
      "1:\n" unbound                                              \
      "  movq 48(%rsp), %rcx\n"                                   \
      "  movq 56(%rsp), %rdx\n"                                   \
      "  movq 64(%rsp), %r8\n"                                    \
      "  movq 72(%rsp), %r9\n"                                    \
      "  movq 32(%rsp), %rax\n"                                   \
      "  addq $40, %rsp\n"                                        \
      "  jmp *g_dispatcherEntry(%rip)\n"                          \
      ".seh_endproc\n");

ORX_STUB_ENTRY(QTStubEnter, "")
ORX_STUB_ENTRY(QTStubEnterRef,
               "  leaq QuickTimeNotBound(%rip), %rax\n"
               "  cmpq %rax, g_dispatcherEntry(%rip)\n"
               "  jne 2f\n"
               "  xorl %eax, %eax\n"
               "  addq $40, %rsp\n"
               "  ret\n"
               "2:\n")

#define ORX_STUB_AT(name, selector, entry)                 \
  asm(".text\n"                                            \
      ".globl " #name "\n"                                 \
      ".def " #name "; .scl 2; .type 32; .endef\n"         \
      #name ":\n"                                          \
      "  movl $" #selector ", %eax\n"                      \
      "  jmp " #entry "\n");

#define ORX_STUB(name, selector) ORX_STUB_AT(name, selector, QTStubEnter)
#define ORX_STUB_REF(name, selector) ORX_STUB_AT(name, selector, QTStubEnterRef)

#else
// i686: the arguments on the stack; the selector in EAX.
#define ORX_STUB_PROLOGUE(name)                                   \
  ".text\n"                                                       \
  ".globl _" #name "\n"                                           \
  ".def _" #name "; .scl 2; .type 32; .endef\n"                   \
  "_" #name ":\n"                                                 \
  "  movl _g_bindingHook, %eax\n"                                 \
  "  testl %eax, %eax\n"                                          \
  "  jz 1f\n"                                                     \
  "  call *%eax\n"                                                \
  "1:\n"

#define ORX_STUB(name, selector)                     \
  asm(ORX_STUB_PROLOGUE(name)                        \
      "  movl $" #selector ", %eax\n"                \
      "  jmp *_g_dispatcherEntry\n");

#define ORX_STUB_REF(name, selector)                                 \
  asm(ORX_STUB_PROLOGUE(name)                                        \
      "  cmpl $_QuickTimeNotBound, _g_dispatcherEntry\n"             \
      "  jne 2f\n"                                                   \
      "  xorl %eax, %eax\n"                                          \
      "  ret\n"                                                      \
      "2:\n"                                                         \
      "  movl $" #selector ", %eax\n"                                \
      "  jmp *_g_dispatcherEntry\n");
#endif

// Component Manager
ORX_STUB(QTCallComponentWithParameters, 0x00010000)
ORX_STUB(CloseComponent, 0x00010008)
ORX_STUB(SetComponentInstanceStorage, 0x0001000D)
ORX_STUB(OpenComponentResFile, 0x00010015)
ORX_STUB(CloseComponentResFile, 0x00010018)
ORX_STUB(DelegateComponentCall, 0x00010024)
ORX_STUB(OpenADefaultComponent, 0x0001002E)
ORX_STUB(GetComponentResource, 0x00010035)
// Memory Manager
ORX_STUB_REF(NewHandleClear, 0x0015000A)
ORX_STUB_REF(NewPtrClear, 0x00150011)
ORX_STUB(DisposePtr, 0x0015002F)
ORX_STUB(DisposeHandle, 0x00150032)
ORX_STUB(SetHandleSize, 0x00150033)
ORX_STUB(GetHandleSize, 0x00150034)
// Image Compression Manager
ORX_STUB(ICMImageDescriptionSetProperty, 0x000300AF)
ORX_STUB_REF(ICMCompressionSessionOptionsRetain, 0x000300E1)
ORX_STUB(ICMCompressionSessionOptionsRelease, 0x000300E2)
ORX_STUB(ICMEncodedFrameRelease, 0x00030103)
ORX_STUB_REF(ICMEncodedFrameGetDataPtr, 0x00030105)
ORX_STUB(ICMEncodedFrameSetDataSize, 0x00030108)
ORX_STUB(ICMEncodedFrameSetMediaSampleFlags, 0x00030118)
ORX_STUB(ICMEncodedFrameSetFrameType, 0x0003011A)
ORX_STUB_REF(ICMCompressorSourceFrameGetPixelBuffer, 0x00030121)
ORX_STUB(ICMCompressorSessionEmitEncodedFrame, 0x00030126)
ORX_STUB(ICMEncodedFrameCreateMutable, 0x00030127)
// Resource Manager
ORX_STUB(CurResFile, 0x00200005)
ORX_STUB(UseResFile, 0x00200009)
// Dialog and Control Managers (ShowWindow is QuickTime's, by its Mac name)
ORX_STUB_REF(GetNewDialog, 0x000C0004)
ORX_STUB(DisposeDialog, 0x000C0007)
ORX_STUB(ModalDialog, 0x000C0008)
ORX_STUB(SetDialogCancelItem, 0x000C0027)
ORX_STUB(GetDialogItemAsControl, 0x000C002F)
ORX_STUB(GetControlValue, 0x000B0013)
ORX_STUB(SetControlValue, 0x000B0014)
ORX_STUB(MacShowWindow, 0x002A001E)
// CoreFoundation
ORX_STUB(CFRelease, 0x0032006C)
ORX_STUB_REF(CFArrayCreateMutable, 0x0032007B)
ORX_STUB(CFArrayAppendValue, 0x00320086)
ORX_STUB_REF(CFDictionaryCreateMutable, 0x003200CC)
ORX_STUB(CFDictionaryAddValue, 0x003200D7)
ORX_STUB_REF(CFNumberCreate, 0x0032010A)
ORX_STUB_REF(QTStubCFStringMakeConstantString, 0x00320222)
ORX_STUB_REF(QTStubGetCFConstant, 0x0032028A)
// CoreVideo (lock and unlock by reference: see the wrappers below)
ORX_STUB(QTPixelBufferLockByReference, 0x00340011)
ORX_STUB(QTPixelBufferUnlockByReference, 0x00340012)
ORX_STUB(CVPixelBufferGetWidth, 0x00340013)
ORX_STUB(CVPixelBufferGetHeight, 0x00340014)
ORX_STUB_REF(CVPixelBufferGetBaseAddress, 0x00340016)
ORX_STUB(CVPixelBufferGetBytesPerRow, 0x00340017)
// Binding only
ORX_STUB(QTPostLoadQuery, 0x001D0059)

