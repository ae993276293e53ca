// Dialog Manager internals for the host's own dialogs and for tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Dialogs.h"

// One item of a 'DITL', as parsed.
struct HostDITLItem {
  Rect box;
  UInt8 type;          // kind in the low 7 bits, kItemDisableBit for a disabled item
  std::string text;    // title or text of buttons, checkboxes, radios and static or edit text
  SInt16 resourceID;   // 'CNTL', 'ICON' or 'PICT' ID of control, icon and picture items
};
// Parses a 'DITL' (big-endian). False when the data is truncated or damaged.
bool HostParseDITL(const uint8_t* data, size_t size, std::vector<HostDITLItem>* items);

struct HostCNTL {
  Rect bounds;
  SInt16 value, max, min, procID;
  SInt32 refCon;
  std::string title;
};
bool HostParseCNTL(const uint8_t* data, size_t size, HostCNTL* out);

struct HostMENU {
  SInt16 id;
  UInt32 enableFlags;
  std::string title;
  std::vector<std::string> items;
};
bool HostParseMENU(const uint8_t* data, size_t size, HostMENU* out);

struct HostDLOG {
  Rect bounds;
  SInt16 procID;
  Boolean visible, goAway;
  SInt32 refCon;
  SInt16 itemsID;
  std::string title;
  UInt16 position;
};
bool HostParseDLOG(const uint8_t* data, size_t size, HostDLOG* out);

// A dialog made in code: a title and push buttons (items 1..n) in a row.
DialogRef HostNewButtonDialog(const char* title, const char* const* buttons, int count);

// The dialog ModalDialog works on: the newest one not yet disposed of.
DialogRef HostFrontDialog();

// The control values the terminal driver last drew for a dialog (empty
// before it first drew it), so that it redraws only what changed.
std::vector<SInt16>* HostDialogDrawnValues(DialogRef d);
