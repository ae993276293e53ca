// The Resource Manager's file parser and the Dialog Manager's readers of
// 'DITL', 'CNTL', 'MENU' and 'DLOG': the input is opened as a resource file
// and every resource in it is fetched (and read as a dialog resource when of
// those types); the same bytes also go straight to each dialog reader.
#include <vector>

#include "MacMemory.h"
#include "quicktime/host/src/DialogsInternal.h"
#include "Resources.h"

namespace {

void ParseAs(ResType type, const uint8_t* p, size_t n) {
  std::vector<HostDITLItem> items;
  HostCNTL cntl;
  HostMENU menu;
  HostDLOG dlog;
  switch (type) {
    case FOUR_CHAR_CODE('D', 'I', 'T', 'L'): HostParseDITL(p, n, &items); break;
    case FOUR_CHAR_CODE('C', 'N', 'T', 'L'): HostParseCNTL(p, n, &cntl); break;
    case FOUR_CHAR_CODE('M', 'E', 'N', 'U'): HostParseMENU(p, n, &menu); break;
    case FOUR_CHAR_CODE('D', 'L', 'O', 'G'): HostParseDLOG(p, n, &dlog); break;
    default: break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (ResType t : {FOUR_CHAR_CODE('D', 'I', 'T', 'L'), FOUR_CHAR_CODE('C', 'N', 'T', 'L'),
                    FOUR_CHAR_CODE('M', 'E', 'N', 'U'), FOUR_CHAR_CODE('D', 'L', 'O', 'G')})
    ParseAs(t, data, size);

  const SInt16 saved = CurResFile();
  const SInt16 ref = HostOpenResFileFromMemory(data, size);
  if (ref <= 0) return 0;
  UseResFile(ref);
  const SInt16 types = Count1Types();
  for (SInt16 i = 1; i <= types; ++i) {
    ResType type = 0;
    Get1IndType(&type, i);
    const SInt16 count = Count1Resources(type);
    for (SInt16 k = 1; k <= count; ++k) {
      Handle h = Get1IndResource(type, k);
      if (h == nullptr) continue;
      ResID id = 0;
      ResType t = 0;
      Str255 name;
      GetResInfo(h, &id, &t, name);
      ParseAs(type, reinterpret_cast<const uint8_t*>(*h), size_t(GetHandleSize(h)));
      ReleaseResource(h);
    }
  }
  CloseResFile(ref);
  UseResFile(saved);
  return 0;
}
