// Dialog, Control and Menu Managers: dialogs built from 'DLOG', 'DITL', 'CNTL'
// and 'MENU' resources (read big-endian from the resource chain). There is no
// screen: ModalDialog takes its events from a driver (a person at a terminal,
// or a script in tests).
#pragma once

#include "MacTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct OpaqueDialogPtr* DialogRef;
typedef DialogRef DialogPtr;
typedef struct OpaqueWindowPtr* WindowRef;
typedef struct OpaqueControlRef* ControlRef;
typedef struct OpaqueControlRef** ControlHandle;
typedef SInt16 DialogItemIndex;
typedef SInt16 DialogItemType;
typedef void* ModalFilterUPP;

QT_PACK_BEGIN
struct EventRecord {
  UInt16 what;
  UInt32 message;
  UInt32 when;
  Point where;
  UInt16 modifiers;
};
typedef struct EventRecord EventRecord;
QT_PACK_END

enum {
  kUserItem = 0,
  kHelpDialogItem = 1,
  kButtonDialogItem = 4,
  kCheckBoxDialogItem = 5,
  kRadioButtonDialogItem = 6,
  kResourceControlDialogItem = 7,
  kStaticTextDialogItem = 8,
  kEditTextDialogItem = 16,
  kIconDialogItem = 32,
  kPictureDialogItem = 64,
  kItemDisableBit = 128,
};

enum { kPopupMenuProc = 1008 };  // + variant: 1 fixed width, 2 variable, 4 AddResMenu, 8 window font

enum { overlayDITL = 0, appendDITLRight = 1, appendDITLBottom = 2 };
typedef SInt16 DITLMethod;

#define kFirstWindowOfClass ((WindowRef)-1)

// 'DLOG' id with its 'DITL' items, 'CNTL' controls and their 'MENU's from the
// current resource chain. Null when a resource is missing or damaged.
DialogRef GetNewDialog(SInt16 dialogID, void* dStorage, WindowRef behind);
void DisposeDialog(DialogRef dialog);
WindowRef GetDialogWindow(DialogRef dialog);
#if defined(_WIN32)
// QuickTime for Windows gives its window call the Mac name: the system's own
// ShowWindow (declared first, so the rename leaves it alone) is another
// function.
#include <windows.h>
#define ShowWindow MacShowWindow
#endif
void ShowWindow(WindowRef window);
void HideWindow(WindowRef window);
Boolean HostIsWindowVisible(WindowRef window);
void SetDialogDefaultItem(DialogRef dialog, DialogItemIndex item);
void SetDialogCancelItem(DialogRef dialog, DialogItemIndex item);
DialogItemIndex HostGetDialogCancelItem(DialogRef dialog);
DialogItemIndex HostGetDialogDefaultItem(DialogRef dialog);
// Window title and bounds of the dialog (from its 'DLOG').
void HostGetDialogTitle(DialogRef dialog, Str255 title);
void HostGetDialogBounds(DialogRef dialog, Rect* bounds);

DialogItemIndex CountDITL(DialogRef dialog);
// Appends the items of a 'DITL' handle (big-endian, as stored) after the
// dialog's own; with appendDITLBottom their rectangles move below the items
// already there. The handle stays the caller's.
void AppendDITL(DialogRef dialog, Handle theHandle, DITLMethod method);
void GetDialogItem(DialogRef dialog, DialogItemIndex item, DialogItemType* itemType, Handle* itemHandle, Rect* box);
// Text of a button, checkbox, radio or static text item.
void GetDialogItemText(Handle itemHandle, Str255 text);
OSErr GetDialogItemAsControl(DialogRef dialog, SInt16 itemNo, ControlRef* outControl);

SInt16 GetControlValue(ControlRef control);
void SetControlValue(ControlRef control, SInt16 value);
SInt16 GetControlMinimum(ControlRef control);
SInt16 GetControlMaximum(ControlRef control);
void GetControlTitle(ControlRef control, Str255 title);
// Popup controls: the menu's item count and item texts (1-based).
SInt16 HostGetPopupItemCount(ControlRef control);
void HostGetPopupItemText(ControlRef control, SInt16 item, Str255 text);
SInt16 HostGetControlProcID(ControlRef control);
void HostGetControlBounds(ControlRef control, Rect* bounds);

// Runs one step of the modal loop: asks the current driver which item the
// user hit (the driver may change control values first) and returns it.
void ModalDialog(ModalFilterUPP modalFilter, DialogItemIndex* itemHit);

// ---- Drivers ------------------------------------------------------------------

// Called by ModalDialog; returns the item hit. It may read and change the
// dialog's controls through the calls above.
typedef DialogItemIndex (*HostModalDialogDriverProc)(DialogRef dialog, void* refCon);
// Installs a driver for this process; null restores the default (the
// terminal driver when standard input is a terminal, else one that hits the
// cancel item).
void HostSetModalDialogDriver(HostModalDialogDriverProc driver, void* refCon);

// The terminal driver: shows the dialog's title, each popup with its title,
// item texts and current value, and the buttons; reads the person's choices
// from in and writes to out.
DialogItemIndex HostTerminalDialogDriver(DialogRef dialog, void* refCon /* HostTerminalIO* or null for stdio */);
struct HostTerminalIO {
  void* in;   // FILE*
  void* out;  // FILE*
};
typedef struct HostTerminalIO HostTerminalIO;

// The scripted driver: refCon is a HostDialogScript. Each ModalDialog call
// performs the next step: sets the listed control values, then hits the item.
struct HostDialogScriptStep {
  SInt16 setCount;
  struct {
    DialogItemIndex item;  // 1-based item of the dialog
    SInt16 value;
  } sets[8];
  DialogItemIndex hit;
};
typedef struct HostDialogScriptStep HostDialogScriptStep;
struct HostDialogScript {
  const HostDialogScriptStep* steps;
  SInt32 stepCount;
  SInt32 next;  // steps done so far; when all are done the cancel item is hit
};
typedef struct HostDialogScript HostDialogScript;
DialogItemIndex HostScriptedDialogDriver(DialogRef dialog, void* refCon);

#ifdef __cplusplus
}
#endif
