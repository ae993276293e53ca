// The environment switches the codec reads: ORX_DISABLE_GL, ORX_FORCE_GL and
// ORX_DECODE_POOL. Each takes 1, yes or true to turn it on and 0, no or false
// to turn it off, in any case; unset or empty, it keeps its default. Any
// other value is refused: the first time it is read, one line on standard
// error names the variable, the value and the words it takes, and the
// switch keeps its default. "First" holds for each copy of the core: a
// program and a component it loads carry one each (see ORXSwitchOn).
#pragma once

enum class ORXSwitch {
  disableGL,   // ORX_DISABLE_GL, off by default
  forceGL,     // ORX_FORCE_GL, off by default
  decodePool,  // ORX_DECODE_POOL, on by default
};

// The variable's name, e.g. "ORX_DISABLE_GL".
const char* ORXSwitchName(ORXSwitch s);

// Reads one of the six words into *on; false (and *on untouched) for
// anything else.
bool ORXParseSwitchValue(const char* text, bool* on);

// The switch as the environment sets it now (read at each call: callers
// read it once, where their documentation says). A refused value is
// reported unless report is false: a program that describes the road of a
// component it is about to open leaves the report to the component's own
// copy of the core, so the person reads it once.
bool ORXSwitchOn(ORXSwitch s, bool report = true);

// The value as set, when it is one of the six words ("yes", "TRUE"), for
// reports that say why a road was taken; null when unset, empty or refused.
const char* ORXSwitchSetting(ORXSwitch s);
