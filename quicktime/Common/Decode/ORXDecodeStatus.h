// The core's status in the QuickTime wing's codes: the one place the
// decompressor's memFullErr and codecBadDataErr are written for the core.
#pragma once

#include "core/Frames/ORXStatus.h"

// QuickTime's memFullErr and codecBadDataErr (MacTypes.h's values; this
// layer is built without the host's headers).
constexpr int kORXQuickTimeMemFullErr = -108;
constexpr int kORXQuickTimeCodecBadDataErr = -8969;

constexpr int ORXQuickTimeStatus(ORXStatus status) {
  return status == ORXStatus::ok         ? 0
         : status == ORXStatus::noMemory ? kORXQuickTimeMemFullErr
                                         : kORXQuickTimeCodecBadDataErr;
}
