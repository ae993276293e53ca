// Component calls the Windows deliverable makes itself, through the binding's
// component-call stub.
#include <cstdint>
#include <initializer_list>

// Each builds a parameter block as QuickTime for Windows lays it out (flags
// byte 0, parameter-size byte, 16-bit selector, then the parameters first to
// last, 4 bytes each) and sends it through the component-call stub.

extern "C" int32_t QTCallComponentWithParameters(void* instance, void* block);

namespace {

struct ParameterBlock {
  uint8_t flags;
  uint8_t paramSize;
  int16_t what;
  uint32_t params[4];
};
static_assert(sizeof(ParameterBlock) == 20, "four bytes of header, then 4-byte slots");

int32_t Send(void* instance, int16_t selector, std::initializer_list<uint32_t> params) {
  ParameterBlock b{};
  b.paramSize = static_cast<uint8_t>(params.size() * 4);
  b.what = selector;
  size_t i = 0;
  for (uint32_t p : params) b.params[i++] = p;
  return QTCallComponentWithParameters(instance, &b);
}

uint32_t Slot(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

}  // namespace

extern "C" {

int32_t ComponentSetTarget(void* instance, void* target) { return Send(instance, -6, {Slot(target)}); }

int32_t CallComponentCanDo(void* instance, int16_t selector) {
  return Send(instance, -3, {static_cast<uint32_t>(static_cast<int32_t>(selector))});
}

int32_t ImageCodecGetBaseMPWorkFunction(void* instance, void* workFunctionOut, void* refconOut, void* drawProc,
                                        void* drawRefcon) {
  return Send(instance, 0x25, {Slot(workFunctionOut), Slot(refconOut), Slot(drawProc), Slot(drawRefcon)});
}

}  // extern "C"
