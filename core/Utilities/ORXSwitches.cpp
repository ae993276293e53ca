#include "core/Utilities/ORXSwitches.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct SwitchFacts {
  const char* name;
  bool defaultOn;
};
constexpr SwitchFacts kSwitches[] = {{"ORX_DISABLE_GL", false}, {"ORX_FORCE_GL", false}, {"ORX_DECODE_POOL", true}};
constexpr int kSwitchCount = sizeof kSwitches / sizeof kSwitches[0];

// Whether a refused value of each switch has been reported in this process.
std::atomic<bool> g_reported[kSwitchCount];

const SwitchFacts& Facts(ORXSwitch s) { return kSwitches[static_cast<int>(s)]; }

// ASCII only: the words are English and the locale must not change them.
bool SameWord(const char* text, const char* word) {
  for (; *word != 0; ++text, ++word) {
    char c = *text;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != *word) return false;
  }
  return *text == 0;
}

// The value for a one-line message: printable ASCII as it is, other bytes
// as \xNN, at most 64 bytes of it.
std::string Printable(const char* text) {
  std::string out;
  int n = 0;
  for (const char* p = text; *p != 0; ++p, ++n) {
    if (n == 64) return out + "...";
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace

const char* ORXSwitchName(ORXSwitch s) { return Facts(s).name; }

bool ORXParseSwitchValue(const char* text, bool* on) {
  if (text == nullptr) return false;
  for (const char* word : {"1", "yes", "true", "0", "no", "false"}) {
    if (SameWord(text, word)) {
      *on = word[0] == '1' || word[0] == 'y' || word[0] == 't';
      return true;
    }
  }
  return false;
}

bool ORXSwitchOn(ORXSwitch s, bool report) {
  const SwitchFacts& f = Facts(s);
  const char* text = std::getenv(f.name);
  if (text == nullptr || text[0] == 0) return f.defaultOn;
  bool on = f.defaultOn;
  if (ORXParseSwitchValue(text, &on)) return on;
  if (report && !g_reported[static_cast<int>(s)].exchange(true))
    std::fprintf(stderr, "%s=\"%s\" is refused: it takes 1, yes or true (on), or 0, no or false (off), in any case; "
                 "it stays %s\n", f.name, Printable(text).c_str(), f.defaultOn ? "on" : "off");
  return f.defaultOn;
}

const char* ORXSwitchSetting(ORXSwitch s) {
  const char* text = std::getenv(Facts(s).name);
  bool on = false;
  return text != nullptr && ORXParseSwitchValue(text, &on) ? text : nullptr;
}
