// A program run as a separate process that the test talks to while it runs:
// its standard input on a pipe the test writes to, its standard output read
// by the test as it comes. Every read waits at most a given time, and the
// process is killed when the object goes, so a test that fails does not
// leave it behind.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace talvo::test {

struct ChildOptions {
  bool own_group = false;     // in a process group of its own (a Ctrl-C reaches what it starts)
  bool merge_stderr = false;  // standard error on the same pipe as standard output
  std::string path_prefix;    // put first on PATH when not empty
};

class PipedChild {
 public:
  // Starts argv[0], found on PATH.
  explicit PipedChild(const std::vector<std::string>& argv, const ChildOptions& o = {});
  ~PipedChild();
  PipedChild(const PipedChild&) = delete;
  PipedChild& operator=(const PipedChild&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // Writes all of `s` to its standard input; false if it could not.
  bool write_in(const std::string& s);
  // Closes its standard input: it sees the end of its input.
  void close_in();
  // Reads its output until `done` holds for all of it, the output ends or
  // `seconds` pass; returns whether `done` held.
  bool read_until(const std::function<bool(const std::string&)>& done, double seconds);
  bool read_until_has(const std::string& s, double seconds);
  // Its exit status (128 + signal), waiting at most `seconds`, then what it
  // wrote in the next 0.2 s; -1 if it is still running.
  int wait(double seconds);

  std::string out;  // what it wrote so far

 private:
  bool own_group_ = false;
  pid_t pid_ = -1;
  int to_ = -1, from_ = -1;  // pipe ends: its standard input, its output
  int status_ = -1;          // exit status once it ended
};

}  // namespace talvo::test
