// A stand-in for QuickTime's library for the binding suite: its dispatcher
// records the selector it finds in EAX and answers from the caller's
// arguments, so the suite can see that stubs pass both through untouched.
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" {

__declspec(dllexport) volatile uint32_t FakeLastSelector = 0;
__declspec(dllexport) volatile int32_t FakeCallCount = 0;
static const char kConstantString[] = "constant string";

// Every argument is one pointer-sized slot; results travel in the return
// register whole (pointers) or in its low bits.
intptr_t FakeDispatch(uintptr_t a0, uintptr_t a1, uintptr_t a2, uintptr_t a3) {
  FakeCallCount = FakeCallCount + 1;
  const uint32_t s = FakeLastSelector;
  switch (s) {
    case 0x00010000: {  // instance, parameter block: answer from the block
      const auto* b = reinterpret_cast<const uint8_t*>(a1);
      const int16_t what = int16_t(b[2] | b[3] << 8);
      // The first slot follows a header slot (the header, then padding on x86-64).
      uintptr_t first = 0;
      std::memcpy(&first, b + sizeof(uintptr_t), sizeof first);
      return int32_t(uint32_t(uint16_t(what)) << 16 | uint32_t(b[1]) << 8) ^ int32_t(uint32_t(first)) ^
             int32_t(uint32_t(a0));
    }
    case 0x00340011:
    case 0x00340012: {  // result slot, buffer reference, flags reference
      auto* result = reinterpret_cast<int32_t*>(a0);
      const auto* buffer = reinterpret_cast<const uintptr_t*>(a1);
      const auto* flags = reinterpret_cast<const uint64_t*>(a2);
      *result = int32_t(uint32_t(*buffer) ^ uint32_t(*flags >> 32) ^ uint32_t(*flags) ^ s);
      return 0;
    }
    case 0x00320222:
      return reinterpret_cast<intptr_t>(kConstantString);
    case 0x00010008:  // CloseComponent: one argument
      return int32_t(s ^ uint32_t(a0));
    case 0x001D0059: {
      const char* v = std::getenv("FAKE_QT_RELEASE");
      return v && v[0] == '1' ? 0x101 : 0x100;  // only the low byte counts
    }
    default:
      return int32_t(s ^ uint32_t(a0) ^ (uint32_t(a1) << 1) ^ (uint32_t(a2) << 2) ^ (uint32_t(a3) << 3));
  }
}

// Calls the handler with the storage and the block's slots as arguments, as
// QuickTime for Windows does (up to four here): 4-byte slots after the
// 4-byte header on i686, 8-byte slots after the 8-byte header on x86-64.
int32_t FakeCallWithStorage(void* storage, void* params, void* handler) {
  const auto* b = static_cast<const uint8_t*>(params);
  uintptr_t slot[4] = {};
  const int count = b[1] / sizeof(uintptr_t) < 4 ? int(b[1] / sizeof(uintptr_t)) : 4;
  std::memcpy(slot, b + sizeof(uintptr_t), count * sizeof(uintptr_t));
  typedef int32_t(__cdecl * Handler)(void*, uintptr_t, uintptr_t, uintptr_t, uintptr_t);
  return reinterpret_cast<Handler>(handler)(storage, slot[0], slot[1], slot[2], slot[3]);
}

int32_t FakeCallComponent(void) { return 0; }

}  // extern "C"

#if !defined(FAKE_NO_DISPATCHER)
// The dispatcher: selector in EAX, the stub's caller's return address and
// arguments where the caller put them (the stack on i686; RCX, RDX, R8, R9
// on x86-64), which FakeDispatch then takes as its own.
#if defined(__x86_64__)
asm(".text\n"
    ".globl theQuickTimeDispatcher\n"
    "theQuickTimeDispatcher:\n"
    "  movl %eax, FakeLastSelector(%rip)\n"
    "  jmp FakeDispatch\n");
#else
asm(".text\n"
    ".globl _theQuickTimeDispatcher\n"
    "_theQuickTimeDispatcher:\n"
    "  movl %eax, _FakeLastSelector\n"
    "  jmp _FakeDispatch\n");
#endif
#endif
