#include "core/Format/ORXSettingsFormat.h"

#include <cstring>

namespace {

void PutLE32(uint8_t* p, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(u >> (8 * i));
}

int32_t GetLE32(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24));
}

constexpr char kBlobMagic[4] = {'O', 'R', 'X', 'C'};

struct ThreadChoice {
  const char* name;
  int threads;  // 0: one per processor core
};
constexpr ThreadChoice kThreadChoices[kORXThreadChoiceCount] = {
    {"Max", 0}, {"1x", 1}, {"2x", 2}, {"4x", 4}, {"6x", 6}, {"8x", 8}, {"12x", 12}, {"16x", 16}, {"24x", 24}};

}  // namespace

void WriteORXSettingsBlob(const ORXSettingsValues& v, uint8_t blob[kORXSettingsBlobSize]) {
  std::memcpy(blob, kBlobMagic, 4);
  blob[4] = v.preserveAlpha;
  blob[5] = v.preserveGradients;
  blob[6] = v.skipLZF;
  blob[7] = 0;  // unused; cleared so the blob does not carry stale bytes
  PutLE32(blob + 8, v.threadSetting);
}

bool ReadORXSettingsBlob(const uint8_t blob[kORXSettingsBlobSize], ORXSettingsValues* v) {
  if (std::memcmp(blob, kBlobMagic, 4) != 0) return false;
  v->preserveAlpha = blob[4];
  v->preserveGradients = blob[5];
  v->skipLZF = blob[6];
  v->threadSetting = GetLE32(blob + 8);
  return true;
}

void WriteORXPreferences(const ORXSettingsValues& v, uint8_t bytes[kORXPreferencesBytes]) {
  // Flags are stored as 0 or 1: the reader counts only 1 as on.
  PutLE32(bytes, v.preserveAlpha ? 1 : 0);
  PutLE32(bytes + 4, v.preserveGradients ? 1 : 0);
  PutLE32(bytes + 8, v.skipLZF ? 1 : 0);
  PutLE32(bytes + 12, v.threadSetting);
}

ORXSettingsValues ReadORXPreferences(const uint8_t* bytes, size_t size) {
  int32_t values[4] = {0, 1, 0, 0};
  for (size_t i = 0; i < 4 && size >= 4 * (i + 1); ++i) values[i] = GetLE32(bytes + 4 * i);
  ORXSettingsValues v;
  v.preserveAlpha = values[0] == 1 ? 1 : 0;
  v.preserveGradients = values[1] == 1 ? 1 : 0;
  v.skipLZF = values[2] == 1 ? 1 : 0;
  v.threadSetting = ORXIsThreadChoice(values[3]) ? values[3] : 2;
  return v;
}

const char* ORXThreadChoiceName(int32_t threadSetting) {
  return ORXIsThreadChoice(threadSetting) ? kThreadChoices[threadSetting - 1].name : nullptr;
}

int ORXThreadsForChoice(int32_t threadSetting) {
  return ORXIsThreadChoice(threadSetting) ? kThreadChoices[threadSetting - 1].threads : 1;
}

int16_t ORXTransparencyPopupValue(const ORXSettingsValues& s) { return s.preserveAlpha ? 2 : 1; }

int16_t ORXOptimizePopupValue(const ORXSettingsValues& s) { return s.skipLZF ? 3 : (s.preserveGradients ? 1 : 2); }

void ORXApplyTransparencyPopup(ORXSettingsValues* s, int16_t value) { s->preserveAlpha = value == 2 ? 1 : 0; }

void ORXApplyOptimizePopup(ORXSettingsValues* s, int16_t value) {
  switch (value) {
    case 1: s->preserveGradients = 1; s->skipLZF = 0; break;
    case 2: s->preserveGradients = 0; s->skipLZF = 0; break;
    case 3: s->preserveGradients = 1; s->skipLZF = 1; break;
    default: break;  // not an item: nothing changes
  }
}
