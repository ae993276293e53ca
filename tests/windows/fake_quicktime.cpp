// A stand-in for QuickTime's library for the binding suite: its dispatcher
// records the selector it finds in EAX and answers from the caller's
// arguments, so the suite can see that stubs pass both through untouched.
#include <cstdint>
#include <cstdlib>

extern "C" {

__declspec(dllexport) volatile uint32_t FakeLastSelector = 0;
__declspec(dllexport) volatile int32_t FakeCallCount = 0;
static const char kConstantString[] = "constant string";

int32_t FakeDispatch(uint32_t a0, uint32_t a1, uint32_t a2, uint32_t a3) {
  FakeCallCount = FakeCallCount + 1;
  const uint32_t s = FakeLastSelector;
  switch (s) {
    case 0x00010000: {  // instance, parameter block: answer from the block
      const auto* b = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(a1));
      const int16_t what = int16_t(b[2] | b[3] << 8);
      uint32_t first = 0;
      for (int i = 0; i < 4; ++i) first |= uint32_t(b[4 + i]) << (8 * i);
      return int32_t(uint32_t(uint16_t(what)) << 16 | uint32_t(b[1]) << 8) ^ int32_t(first) ^ int32_t(a0);
    }
    case 0x00340011:
    case 0x00340012: {  // result slot, buffer reference, flags reference
      auto* result = reinterpret_cast<int32_t*>(static_cast<uintptr_t>(a0));
      const auto* buffer = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(a1));
      const auto* flags = reinterpret_cast<const uint64_t*>(static_cast<uintptr_t>(a2));
      *result = int32_t(*buffer ^ uint32_t(*flags >> 32) ^ uint32_t(*flags) ^ s);
      return 0;
    }
    case 0x00320222:
      return int32_t(reinterpret_cast<uintptr_t>(kConstantString));
    case 0x00010008:  // CloseComponent: one argument
      return int32_t(s ^ a0);
    case 0x001D0059: {
      const char* v = std::getenv("FAKE_QT_RELEASE");
      return v && v[0] == '1' ? 0x101 : 0x100;  // only the low byte counts
    }
    default:
      return int32_t(s ^ a0 ^ (a1 << 1) ^ (a2 << 2) ^ (a3 << 3));
  }
}

// Calls the handler with the storage and the block's 4-byte slots on the
// stack, as QuickTime for Windows does (up to four here).
int32_t FakeCallWithStorage(void* storage, void* params, void* handler) {
  const auto* b = static_cast<const uint8_t*>(params);
  uint32_t slot[4] = {};
  const int count = b[1] / 4 < 4 ? b[1] / 4 : 4;
  for (int i = 0; i < count; ++i)
    for (int k = 0; k < 4; ++k) slot[i] |= uint32_t(b[4 + 4 * i + k]) << (8 * k);
  typedef int32_t(__cdecl * Handler)(void*, uint32_t, uint32_t, uint32_t, uint32_t);
  return reinterpret_cast<Handler>(handler)(storage, slot[0], slot[1], slot[2], slot[3]);
}

int32_t FakeCallComponent(void) { return 0; }

}  // extern "C"

#if !defined(FAKE_NO_DISPATCHER)
// The dispatcher: selector in EAX, the stub's caller's return address and
// arguments on the stack.
asm(".text\n"
    ".globl _theQuickTimeDispatcher\n"
    "_theQuickTimeDispatcher:\n"
    "  movl %eax, _FakeLastSelector\n"
    "  jmp _FakeDispatch\n");
#endif
