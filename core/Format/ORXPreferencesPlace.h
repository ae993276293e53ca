// Where the Linux build keeps the compressor's preferences, for the
// component that reads and writes them and the programs that report them:
// the file ORXPreferences.dat in the folder VantorinMedia of the user's
// configuration folder. That is $XDG_CONFIG_HOME when it is set to an
// absolute path, else .config in the home folder: $HOME when it is set to an
// absolute path, else the user's home in the password database.
// ORX_PREFERENCES_DIR names the folder itself instead.
//
// Folders are made only beneath one that exists: the configuration folder
// when it comes from $XDG_CONFIG_HOME, else the home folder. A home that does
// not exist gets no folders made under it. The folder of ORX_PREFERENCES_DIR
// is made with every missing parent, as its user asked for that folder.
#pragma once

#include <string>

struct ORXPreferencesPlace {
  std::string folder;  // holds ORXPreferences.dat; empty when no home is known
  std::string root;    // the folder that must exist before any is made; empty for ORX_PREFERENCES_DIR
  std::string source;  // where root came from, for messages: "XDG_CONFIG_HOME", "HOME" or "the password database"
  std::string File() const { return folder.empty() ? std::string() : folder + "/ORXPreferences.dat"; }
};

ORXPreferencesPlace ORXFindPreferencesPlace();

// Makes the folder and the missing folders between it and root. "" when the
// folder is there; otherwise why not, naming the path at fault.
std::string ORXMakePreferencesFolder(const ORXPreferencesPlace& place);

// Why the preferences file cannot be written, found without changing
// anything: no home, a root that does not exist, a path that is no folder,
// a folder that cannot be written. "" when nothing is known to stand in the
// way.
std::string ORXPreferencesProblem(const ORXPreferencesPlace& place);
