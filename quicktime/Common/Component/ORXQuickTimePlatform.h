// The few places where the components call QuickTime differently on the two
// platforms: the Windows binding reaches QuickTime through its stub table
// only, so calls outside it are done another way there. One implementation
// per platform (quicktime/linux/, quicktime/windows/).
#pragma once

#include "Components.h"
#include "CoreFoundation.h"
#include "CoreVideo.h"
#include "Dialogs.h"
#include "MacTypes.h"

// The keys and callbacks of the compressor's pixel-buffer attribute
// dictionary. Windows: constant strings made from their texts and callbacks
// looked up by name (null on QuickTime older than 7.0.2).
struct ORXPixelBufferAttributeNames {
  CFStringRef pixelFormatTypeKey;
  CFStringRef widthKey;
  CFStringRef heightKey;
  const CFDictionaryKeyCallBacks* keyCallBacks;
  const CFDictionaryValueCallBacks* valueCallBacks;
  const CFArrayCallBacks* arrayCallBacks;
};
ORXPixelBufferAttributeNames ORXGetPixelBufferAttributeNames();

// Whether a source pixel buffer is 32-bit ARGB. Windows: QuickTime hands the
// compressor the buffers it asked for, and the binding has no format query.
bool ORXSourceIsARGB32(CVPixelBufferRef pixels);

// Resizes a handle; true when it has the size afterwards.
bool ORXResizeHandle(Handle h, Size size);

// The window of a dialog. Windows: the dialog reference serves as its window.
WindowRef ORXDialogWindow(DialogRef dialog);

// Where the decompressor's selector table differs. Ranges 0 and 2 end at
// range0Count and range2Count (what lies past them goes to the base
// decompressor); ownsDecodeBand: decode band (0x20F) is the component's
// own. mpWorkFunction: the handler of "get multiprocessor work function"
// (-8) with its layout word, null where the component does not implement it.
// multiBufferAware: Initialize declares that DrawBand draws only through
// the record's base address and row bytes and writes every pixel.
// Linux (the Mac OS X column): 0x3D, 0x10, decode band, no work function,
// multi-buffer aware. Windows: 0x34, 0x0A, no decode band, a work function
// that hands the base codec the draw routine, not multi-buffer aware.
struct ORXDecompressorTableShape {
  int range0Count;
  int range2Count;
  bool ownsDecodeBand;
  ProcPtr mpWorkFunction;
  ProcInfoType mpWorkFunctionLayout;
  bool multiBufferAware;
};
ORXDecompressorTableShape ORXGetDecompressorTableShape();

// Calls a handler with the instance storage and the request's parameters.
// Linux: by the layout word; Windows: through QuickTime's call-with-storage
// entry, which copies the 4-byte slots onto the stack.
ComponentResult ORXCallHandler(Handle storage, ComponentParameters* params, ProcPtr handler, ProcInfoType layout);
