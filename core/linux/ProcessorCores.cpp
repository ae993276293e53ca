// Linux: physical processor cores, from the CPU topology in sysfs (distinct
// package and core ids of the online CPUs), else from /proc/cpuinfo.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "core/Platform/ProcessorCores.h"

namespace {

bool ReadInt(const std::string& path, int* value) {
  FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) return false;
  const bool ok = std::fscanf(f, "%d", value) == 1;
  std::fclose(f);
  return ok;
}

int FromSysfs() {
  std::set<std::pair<int, int>> cores;
  for (int cpu = 0; cpu < 8192; ++cpu) {
    const std::string dir = "/sys/devices/system/cpu/cpu" + std::to_string(cpu);
    if (access(dir.c_str(), F_OK) != 0) break;
    int package = 0, core = 0;
    if (!ReadInt(dir + "/topology/core_id", &core)) continue;  // offline CPU
    ReadInt(dir + "/topology/physical_package_id", &package);
    cores.insert({package, core});
  }
  return static_cast<int>(cores.size());
}

int FromCpuinfo() {
  FILE* f = std::fopen("/proc/cpuinfo", "r");
  if (f == nullptr) return 0;
  std::set<std::pair<int, int>> cores;
  int package = 0, processors = 0;
  char line[512];
  while (std::fgets(line, sizeof line, f)) {
    int v;
    if (std::sscanf(line, "physical id : %d", &v) == 1) package = v;
    if (std::sscanf(line, "core id : %d", &v) == 1) cores.insert({package, v});
    if (std::strncmp(line, "processor", 9) == 0) ++processors;
  }
  std::fclose(f);
  return cores.empty() ? processors : static_cast<int>(cores.size());
}

}  // namespace

int QueryProcessorCoreCount() {
  const int n = FromSysfs();
  return n > 0 ? n : FromCpuinfo();
}
