#include "frame/commands.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace talvo {

std::string find_program(const std::string& name) {
  const char* path = std::getenv("PATH");
  // As the shell does: an empty entry is the current folder.
  const std::string dirs = path ? path : "/usr/bin:/bin";
  for (std::size_t at = 0;;) {
    const std::size_t colon = dirs.find(':', at);
    const std::string dir = dirs.substr(at, colon == std::string::npos ? colon : colon - at);
    const std::string file = (dir.empty() ? "." : dir) + "/" + name;
    struct stat st;
    if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(file.c_str(), X_OK) == 0)
      return file;
    if (colon == std::string::npos) return "";
    at = colon + 1;
  }
}

std::string cannot_start(const std::string& program, const std::string& package) {
  if (!find_program(program).empty()) return "";
  return "cannot start " + program + ": not found (apt-get install " + package + ")";
}

std::string recorder_ended(const std::string& program, const std::string& package, int ws) {
  if (ws == -1) return "";  // not ours to wait for
  if (WIFEXITED(ws) && WEXITSTATUS(ws) == 0) return "";
  // The shell's status for a command it could not find.
  if (WIFEXITED(ws) && WEXITSTATUS(ws) == 127)
    return "cannot start " + program + ": not found (apt-get install " + package + ")";
  if (WIFEXITED(ws))
    return program + " ended with status " + std::to_string(WEXITSTATUS(ws)) + ": no more audio";
  return program + " ended by signal " + std::to_string(WTERMSIG(ws)) + ": no more audio";
}

}  // namespace talvo
