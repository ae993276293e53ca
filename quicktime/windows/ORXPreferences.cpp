// Windows: the persisted settings are four REG_DWORD values under
// HKEY_CURRENT_USER "Software\VantorinMedia\ORXCodec".
#include <windows.h>

#include <cstdint>

#include "quicktime/Common/Component/ORXComponent.h"

namespace {

constexpr const char* kKey = "Software\\VantorinMedia\\ORXCodec";

// A value read as 4 bytes into a variable that starts at 0 (its type is not
// checked; a missing or longer value leaves 0).
DWORD ReadValue(HKEY key, const char* name) {
  DWORD value = 0, size = sizeof value;
  if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
    return 0;
  return value;
}

void WriteValue(HKEY key, const char* name, DWORD value) {
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

}  // namespace

void ReadPreferences(CompressorGlobals* g) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return;
  g->preserveAlpha = ReadValue(key, "preserveAlpha") == 1 ? 1 : 0;
  g->preserveGradients = ReadValue(key, "preserveGradients") == 1 ? 1 : 0;
  g->skipLZF = ReadValue(key, "skipLZF") == 1 ? 1 : 0;
  const DWORD threads = ReadValue(key, "threadSetting");
  g->threadSetting = threads == 0 ? 2 : static_cast<int32_t>(threads);
  RegCloseKey(key);
}

void WritePreferences(CompressorGlobals* g) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS &&
      RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return;
  WriteValue(key, "preserveAlpha", g->preserveAlpha);
  WriteValue(key, "preserveGradients", g->preserveGradients);
  WriteValue(key, "skipLZF", g->skipLZF);
  WriteValue(key, "threadSetting", static_cast<DWORD>(g->threadSetting));
  RegCloseKey(key);
}
