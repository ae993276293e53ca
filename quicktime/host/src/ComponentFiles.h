// Where the Component Manager meets the file system and the loader: which
// files describe components, where their resources are, how their
// libraries are loaded. One implementation per platform.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "Components.h"

// The platform entry of a 'thng' that this host loads.
extern const SInt16 kHostComponentPlatform;
// Separates the folders of ORX_COMPONENT_PATH.
extern const char kComponentPathSeparator;

struct HostComponentFile {
  std::string resourcePath;  // what HostOpenComponentResources opens
  std::string libraryPath;   // what HostLoadComponentEntry loads
};

// Resolves a path given to HostRegisterComponentFile: noErr, paramErr for a
// file that is not a component file, fnfErr when it or its library is missing
// (*why then says which).
OSErr HostResolveComponentFile(const char* path, HostComponentFile* out, std::string* why);
// Opens the component file's resources as a resource file: its reference, or
// -1 with ResError set.
SInt16 HostOpenComponentResources(const std::string& resourcePath);
// Loads the library (kept loaded for the process) and finds the entry point.
// Null with *why set to the loader's reason when either fails.
ComponentRoutineUPP HostLoadComponentEntry(const std::string& libraryPath, const std::string& entryName,
                                           std::string* why);
// The folder holding the host library itself; empty when unknown.
std::string HostLibraryFolder();
// The component files in a folder, sorted by name.
std::vector<std::string> HostComponentFilesInFolder(const std::string& folder);
// Opens a file to read only when it is a regular file, without blocking on
// it first (a FIFO at the path would otherwise wait for a writer). Null with
// *status set: fnfErr when it cannot be opened, paramErr when it is no
// regular file.
FILE* HostOpenRegularFile(const char* path, OSErr* status);
