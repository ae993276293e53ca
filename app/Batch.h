// Batches: a command run on each of several inputs, each into a movie of
// its own name in one folder.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace orxapp {

// Whether output names a folder: a trailing slash, or an existing folder.
bool IsFolderOutput(const std::string& output);

// The movie a batch makes of input in folder: its name without folders and
// extension (a pattern's number conversion left out), then ".mov".
std::string BatchOutput(const std::string& folder, const std::string& input);

// Runs one(input, output) for each input, output being BatchOutput's name
// in folder (made when missing). Two inputs that would write one movie are
// refused before any work. A failed input is reported and the others go
// on; a signal stops the batch. The exit status: 0 when all succeeded.
int RunBatch(const std::string& folder, const std::vector<std::string>& inputs, bool quiet,
             const std::function<int(const std::string& input, const std::string& output)>& one);

}  // namespace orxapp
