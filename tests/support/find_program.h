// Where a program is: the first executable of that name on PATH, then in
// /usr/sbin and /sbin (where Debian puts daemons such as mosquitto), for
// helpers that exec a full path. "" when there is none.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>

namespace talvo::test {

inline std::string find_program(const std::string& name) {
  const char* env = std::getenv("PATH");
  std::istringstream dirs(std::string(env ? env : "") + ":/usr/sbin:/sbin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (dir.empty()) continue;
    const std::string p = dir + "/" + name;
    if (access(p.c_str(), X_OK) == 0) return p;
  }
  return "";
}

}  // namespace talvo::test
