#include "support/run_decode.h"

#include <cstdio>
#include <sstream>

namespace talvo::test {

Run run_decode(const std::vector<std::string>& args, const RunOptions& o) {
  std::vector<std::string> argv{TALVO_DECODE};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv, o);
}

Run run_classic_decode(const std::vector<std::string>& args, const std::string& input) {
  std::vector<std::string> classic{"--receiver", "classic"};
  classic.insert(classic.end(), args.begin(), args.end());
  RunOptions o;
  o.input = input;
  return run_decode(classic, o);
}

std::string cluster_text(const std::string& out, int hz) {
  std::istringstream lines(out);
  std::string text;
  bool found = false;
  for (std::string l; std::getline(lines, l);) {
    const std::size_t at = l[0] == '[' ? l.find(']') + 1 : 0;
    int f = 0, cpm = 0, used = 0;
    if (std::sscanf(l.c_str() + at, "%d Hz %d cpm  %n", &f, &cpm, &used) == 2 && f == hz &&
        used > 0) {
      text += (found ? " " : "") + l.substr(at + static_cast<std::size_t>(used));
      found = true;
    }
  }
  return found ? text : "?";
}

std::vector<std::string> lines_of(const std::string& s) {
  std::vector<std::string> r;
  std::istringstream in(s);
  for (std::string l; std::getline(in, l);)
    r.push_back(l);
  return r;
}

std::string field(const std::string& line, const std::string& name) {
  const std::string key = "\"" + name + "\": ";
  std::size_t p = line.find(key);
  if (p == std::string::npos) return "";
  p += key.size();
  if (line[p] == '"') return line.substr(p + 1, line.find('"', p + 1) - p - 1);
  return line.substr(p, line.find_first_of(",}", p) - p);
}

}  // namespace talvo::test
