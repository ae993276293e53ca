// The core's answer for a frame it could not code. Each client maps it to
// its own codes in one place: the QuickTime wing to memFullErr and
// codecBadDataErr (ORXQuickTimeStatus), liborx to orx_error.
#pragma once

enum class ORXStatus {
  ok,
  noMemory,  // working storage could not be allocated
  badData,   // the frame cannot be decoded safely (or the arguments do not fit it)
};
