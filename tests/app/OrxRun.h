// What the suites that drive the orx program share: the program's path, a
// scratch folder of their own (with the compressor's preferences inside
// it), and reading its JSON output.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "ProcessRun.h"

inline std::string Orx() {
  const char* bin = std::getenv("ORX_BIN");
  return bin ? bin : "orx";
}

inline bool Exists(const std::string& p) {
  struct stat st;
  return lstat(p.c_str(), &st) == 0;
}

// The value of "key" in the program's JSON output ("" when absent).
inline std::string JsonField(const std::string& json, const std::string& key) {
  const size_t k = json.find("\"" + key + "\":");
  if (k == std::string::npos) return "";
  size_t v = k + key.size() + 3;
  while (v < json.size() && json[v] == ' ') ++v;
  size_t e = v;
  if (json[v] == '"') {
    e = json.find('"', v + 1);
    return json.substr(v + 1, e - v - 1);
  }
  while (e < json.size() && json[e] != ',' && json[e] != '\n' && json[e] != '}') ++e;
  return json.substr(v, e - v);
}

// A scratch folder for one test, removed afterwards.
class OrxWorkspace : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/orx-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("ORX_PREFERENCES_DIR", (dir_ + "/prefs").c_str(), 1);
  }
  void TearDown() override { Shell("rm -rf '" + dir_ + "'"); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string Q(const std::string& name) const { return "'" + Path(name) + "'"; }
  // orx with the arguments, run in the folder, under a time limit.
  RunResult Run(const std::string& args) const {
    return Shell("cd '" + dir_ + "' && timeout 120 " + Orx() + " " + args);
  }
  std::string dir_;
};
