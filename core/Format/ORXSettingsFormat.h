// The compressor's four settings as the system stores and shows them: the
// defaults, the 12-byte settings blob a host saves, the preferences file's
// four values, and the three popups' items (the Threads table).
#pragma once

#include <cstddef>
#include <cstdint>

struct ORXSettingsValues {
  uint8_t preserveAlpha = 0;
  uint8_t preserveGradients = 1;
  uint8_t skipLZF = 0;
  int32_t threadSetting = 2;  // the Threads popup's value: 1 Max, 2 one thread, ... 9 24 threads
};
// The defaults at open and after a refused blob.
constexpr ORXSettingsValues kORXDefaultSettings{};

// The settings blob: "ORXC", the three flags at 4, 5, 6, byte 7 unused (0),
// threadSetting at 8 as a signed little-endian 32-bit value.
constexpr size_t kORXSettingsBlobSize = 12;
void WriteORXSettingsBlob(const ORXSettingsValues& values, uint8_t blob[kORXSettingsBlobSize]);
// False when the bytes do not begin with "ORXC"; values are taken as stored.
bool ReadORXSettingsBlob(const uint8_t blob[kORXSettingsBlobSize], ORXSettingsValues* values);

// The preferences file: the four values as 32-bit little-endian integers,
// preserveAlpha, preserveGradients, skipLZF, threadSetting.
constexpr size_t kORXPreferencesBytes = 16;
void WriteORXPreferences(const ORXSettingsValues& values, uint8_t bytes[kORXPreferencesBytes]);
// Reads the first `size` bytes; values not read keep 0, 1, 0, 0 before the
// rule: each flag is set only when its value is exactly 1, and threadSetting
// is taken when it is a choice of the Threads popup, else 2.
ORXSettingsValues ReadORXPreferences(const uint8_t* bytes, size_t size);

// The Threads popup: choices 1 ("Max", one thread per processor core) to 9.
constexpr int32_t kORXThreadChoiceCount = 9;
constexpr bool ORXIsThreadChoice(int32_t threadSetting) {
  return threadSetting >= 1 && threadSetting <= kORXThreadChoiceCount;
}
// The item text ("Max", "1x", ... "24x"); null for a value outside the items.
const char* ORXThreadChoiceName(int32_t threadSetting);
// Threads for a fixed choice (2 to 9: 1, 2, 4, 6, 8, 12, 16, 24); 0 for Max,
// whose count is the machine's; 1 for any other value.
int ORXThreadsForChoice(int32_t threadSetting);

// The popups' values for the settings, and the settings for a value.
int16_t ORXTransparencyPopupValue(const ORXSettingsValues& s);  // 1 discard, 2 preserve
int16_t ORXOptimizePopupValue(const ORXSettingsValues& s);      // 1 Quality, 2 Performance, 3 VovorEvaded
void ORXApplyTransparencyPopup(ORXSettingsValues* s, int16_t value);
// Other values change nothing.
void ORXApplyOptimizePopup(ORXSettingsValues* s, int16_t value);
