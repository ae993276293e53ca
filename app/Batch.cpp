#include "Batch.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Cli.h"

namespace orxapp {

bool IsFolderOutput(const std::string& output) {
  struct stat st {};
  return !output.empty() && (output.back() == '/' || (stat(output.c_str(), &st) == 0 && S_ISDIR(st.st_mode)));
}

std::string BatchOutput(const std::string& folder, const std::string& input) {
  std::string name = input.substr(input.find_last_of('/') + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  const size_t percent = name.find('%');
  if (percent != std::string::npos) {
    size_t end = percent + 1;
    while (end < name.size() && (std::isdigit(static_cast<unsigned char>(name[end])) != 0)) ++end;
    if (end < name.size() && name[end] == 'd') name.erase(percent, end + 1 - percent);
  }
  if (name.empty()) name = "movie";
  return folder + (folder.back() == '/' ? "" : "/") + name + ".mov";
}

int RunBatch(const std::string& folder, const std::vector<std::string>& inputs, bool quiet,
             const std::function<int(const std::string& input, const std::string& output)>& one) {
  CatchInterruptions();
  // Two inputs of one name would write one movie: refused before any work.
  std::vector<std::string> outputs;
  for (const std::string& in : inputs) {
    const std::string out = BatchOutput(folder, in);
    for (size_t k = 0; k < outputs.size(); ++k)
      if (outputs[k] == out)
        return Usage(inputs[k] + " and " + in + " would both be written to " + out + "; run them apart");
    outputs.push_back(out);
  }
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0) {
    if (mkdir(folder.c_str(), 0777) != 0) return Fail(folder + ": cannot make the folder: " + std::strerror(errno));
  } else if (!S_ISDIR(st.st_mode)) {
    return Fail(folder + ": not a folder");
  }
  std::vector<std::string> failed;
  for (size_t i = 0; i < inputs.size(); ++i) {
    if (Interrupted()) break;
    if (!quiet) std::fprintf(stderr, "orx: [%zu/%zu] %s -> %s\n", i + 1, inputs.size(), inputs[i].c_str(), outputs[i].c_str());
    if (one(inputs[i], outputs[i]) != 0) failed.push_back(inputs[i]);
  }
  if (Interrupted()) return Fail(folder + ": interrupted; the movies finished before it are kept");
  if (failed.empty()) return 0;
  std::string names;
  for (const std::string& f : failed) names += (names.empty() ? "" : ", ") + f;
  return Fail(std::to_string(failed.size()) + " of " + std::to_string(inputs.size()) + " inputs failed: " + names);
}

}  // namespace orxapp
