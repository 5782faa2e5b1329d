// A process's parent and children as /proc tells them (Linux), so that a suite or a benchmark can
// stop (SIGSTOP) and continue a whole server of its own: each of a PostgreSQL server's processes
// is a process group of its own, so they are signalled one by one.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace testing_support {

// The parent of process `pid`, -1 when it cannot be read.
inline pid_t parent_of(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // "PID (NAME) STATE PPID ...": the name may hold blanks, so read after its closing bracket.
  const std::size_t name_end = stat.rfind(')');
  if (name_end == std::string::npos) return -1;
  std::istringstream rest(stat.substr(name_end + 1));
  char state = 0;
  pid_t parent = -1;
  rest >> state >> parent;
  return rest ? parent : -1;
}

// `pid` first, then its children; empty for no process (a pid of 1 or less).
inline std::vector<pid_t> with_children(pid_t pid) {
  if (pid <= 1) return {};
  std::vector<pid_t> processes{pid};
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t child = pid_t(std::stol(name));
    if (parent_of(child) == pid) processes.push_back(child);
  }
  return processes;
}

}  // namespace testing_support
