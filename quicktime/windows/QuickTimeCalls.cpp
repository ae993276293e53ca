// Component calls the Windows deliverable makes itself, through the binding's
// component-call stub.
#include <cstddef>
#include <cstdint>
#include <initializer_list>

// Each builds a parameter block as QuickTime for Windows lays it out (flags
// byte 0, parameter-size byte, 16-bit selector, then the parameters first to
// last, 4 bytes each) and sends it through the component-call stub. The
// x86-64 test build lays it out as the host does there: the slots are
// pointer-sized and start pointer-aligned.

extern "C" int32_t QTCallComponentWithParameters(void* instance, void* block);

namespace {

struct ParameterBlock {
  uint8_t flags;
  uint8_t paramSize;
  int16_t what;
#if UINTPTR_MAX > 0xFFFFFFFFu
  uint32_t padding;
#endif
  uintptr_t params[4];
};
static_assert(offsetof(ParameterBlock, params) == sizeof(uintptr_t) && sizeof(ParameterBlock) == 5 * sizeof(uintptr_t),
              "a header slot, then pointer-sized slots (4 bytes on Win32)");

int32_t Send(void* instance, int16_t selector, std::initializer_list<uintptr_t> params) {
  ParameterBlock b{};
  b.paramSize = static_cast<uint8_t>(params.size() * sizeof(uintptr_t));
  b.what = selector;
  size_t i = 0;
  for (uintptr_t p : params) b.params[i++] = p;
  return QTCallComponentWithParameters(instance, &b);
}

uintptr_t Slot(const void* p) { return reinterpret_cast<uintptr_t>(p); }

}  // namespace

extern "C" {

int32_t ComponentSetTarget(void* instance, void* target) { return Send(instance, -6, {Slot(target)}); }

int32_t CallComponentCanDo(void* instance, int16_t selector) {
  return Send(instance, -3, {static_cast<uintptr_t>(static_cast<intptr_t>(selector))});
}

int32_t ImageCodecGetBaseMPWorkFunction(void* instance, void* workFunctionOut, void* refconOut, void* drawProc,
                                        void* drawRefcon) {
  return Send(instance, 0x25, {Slot(workFunctionOut), Slot(refconOut), Slot(drawProc), Slot(drawRefcon)});
}

}  // extern "C"
