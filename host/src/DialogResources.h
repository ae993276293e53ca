// Dialog Manager internals shared by the dialog sources and their tests:
// the resource templates as read from their big-endian bytes, and the
// constructors for dialogs built in code rather than from a 'DLOG'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Dialogs.h"

namespace qthost {

// GetDialogItemAsControl for an item that is no control.
constexpr OSErr kErrItemNotControl = -30599;

struct DialogTemplate {  // 'DLOG'
  Rect bounds{};
  int16_t procID = 0;
  bool visible = false;
  bool goAway = false;
  int32_t refCon = 0;
  int16_t itemsID = 0;  // its 'DITL'
  std::string title;    // raw bytes of the Pascal string
  uint16_t position = 0;  // 0 when the resource ends after the title
};

struct DialogItemTemplate {  // one item of a 'DITL'
  Rect box{};
  uint8_t type = 0;  // kind in the low 7 bits, kItemDisableBit when disabled
  std::vector<uint8_t> data;
};

struct ControlTemplate {  // 'CNTL'
  Rect bounds{};
  int16_t value = 0;
  bool visible = false;
  int16_t max = 0;
  int16_t min = 0;
  int16_t procID = 0;
  int32_t refCon = 0;
  std::string title;
};

struct MenuItemTemplate {
  std::string text;
  uint8_t icon = 0;
  uint8_t key = 0;
  uint8_t mark = 0;
  uint8_t style = 0;
};

struct MenuTemplate {  // 'MENU'
  int16_t id = 0;
  int16_t width = 0;
  int16_t height = 0;
  int16_t procID = 0;
  uint32_t enableFlags = 0;
  std::string title;
  std::vector<MenuItemTemplate> items;
};

// Each returns false, leaving *out unspecified, when the bytes are too short
// for the fields they announce. They may throw std::bad_alloc.
bool ParseDialogTemplate(const uint8_t* bytes, size_t length, DialogTemplate* out);
bool ParseItemList(const uint8_t* bytes, size_t length, std::vector<DialogItemTemplate>* out);
bool ParseControlTemplate(const uint8_t* bytes, size_t length, ControlTemplate* out);
bool ParseMenuTemplate(const uint8_t* bytes, size_t length, MenuTemplate* out);

// Popup menu controls: 1008 + variant, or the Appearance popup 400 + variant.
bool IsPopupProcID(int16_t procID);

// A dialog from a bounds rectangle, a title and 'DITL' bytes, with its
// controls created from the current resource chain; null when the items are
// damaged, a control's resources are missing or memory runs out. Default item
// 1, no cancel item.
DialogRef NewDialogFromItems(const Rect& bounds, const char* title, bool visible, const uint8_t* ditl,
                             size_t ditlLength);
// AppendDITL with a result: noErr; paramErr for a bad dialog or damaged
// items; resNotFound when a control's 'CNTL' or 'MENU' is missing or damaged;
// memFullErr. On error the dialog is unchanged.
OSErr AppendItems(DialogRef dialog, const uint8_t* ditl, size_t ditlLength, DITLMethod method);

// The dialog ModalDialog works on: the frontmost visible one, else the
// frontmost; null when there is none.
DialogRef FrontDialog();

}  // namespace qthost
