// Where the preferences file lives when HOME is unset or unusable: the one
// place the component and orx both ask (ORXFindPreferencesPlace) falls back
// to the password database's home, and with no home at all it names no file
// and both the writer and orx's check give the same reason.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "core/Format/ORXPreferencesPlace.h"

namespace {

// Sets or unsets a variable for one scope, restoring it afterwards.
class EnvSetting {
 public:
  EnvSetting(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~EnvSetting() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

}  // namespace

TEST(PreferencesPlace, WithoutHomeThePasswordDatabaseOrNoFileWithAReason) {
  EnvSetting dir("ORX_PREFERENCES_DIR", nullptr), xdg("XDG_CONFIG_HOME", nullptr);
  const passwd* pw = getpwuid(getuid());
  std::string dbHome = pw && pw->pw_dir && pw->pw_dir[0] == '/' ? pw->pw_dir : "";
  while (dbHome.size() > 1 && dbHome.back() == '/') dbHome.pop_back();
  for (const char* home : {static_cast<const char*>(nullptr), "", "relative/home"}) {
    SCOPED_TRACE(home ? std::string("HOME=") + home : std::string("HOME unset"));
    EnvSetting h("HOME", home);
    const ORXPreferencesPlace p = ORXFindPreferencesPlace();
    if (dbHome.empty()) {
      EXPECT_EQ(p.File(), "");
    } else {
      EXPECT_EQ(p.source, "the password database");
      EXPECT_EQ(p.File(), (dbHome == "/" ? "" : dbHome) + "/.config/VantorinMedia/ORXPreferences.dat");
    }
  }
  // No home known at all: no file, and the writer and the check agree on why.
  const ORXPreferencesPlace none;
  EXPECT_EQ(none.File(), "");
  const std::string why = ORXMakePreferencesFolder(none);
  EXPECT_NE(why.find("no home folder is known"), std::string::npos) << why;
  EXPECT_EQ(ORXPreferencesProblem(none), why);
}
