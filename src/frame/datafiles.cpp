#include "frame/datafiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#ifndef TALVO_DATADIR
#define TALVO_DATADIR "/usr/local/share/talvo"
#endif

namespace talvo {

std::vector<std::string> data_dirs() {
  std::vector<std::string> dirs{""};
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    const std::filesystem::path dir = std::filesystem::path(std::string(exe, n)).parent_path();
    dirs.push_back(dir.string());
    dirs.push_back((dir.parent_path() / "share" / "talvo").lexically_normal().string());
  }
  dirs.push_back(TALVO_DATADIR);
  return dirs;
}

std::string find_data_file(const std::string& name) {
  for (const auto& dir : data_dirs()) {
    const std::string path = dir.empty() ? name : dir + "/" + name;
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return path;
  }
  return name;
}

}  // namespace talvo
