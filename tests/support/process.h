// Runs a program as a separate process, the way an operator or a script
// starts it, and collects what it wrote and how it ended. A program that
// hangs is killed after a time limit: a test waits for it boundedly.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

namespace talvo::test {

struct Run {
  int status = -1;  // exit status, or 128 + signal number
  std::string out, err;
};

struct RunOptions {
  std::string cwd;          // working directory ("" keeps the current one)
  std::string path_prefix;  // put first on PATH (fake arecord/aplay live there)
  std::string path;         // replaces PATH entirely when not empty
  std::string input;        // bytes on standard input
  std::string display;      // DISPLAY for the program; headless (support/headless.h) when empty
  double seconds = 60;      // the longest it may run: then it is killed, status 128 + 9
};

Run run(const std::vector<std::string>& argv, const RunOptions& o = {});

// Starts the program with `input` on a pipe that stays open, waits (at most
// 20 s) until it has read all of it and sleeps waiting for more, then sends
// it `sig`. Closes the pipe if it has not ended 10 s later.
Run run_until_signal(const std::vector<std::string>& argv, const std::string& input, int sig);

// The argument vector of argv for execv or execvp: pointers into argv's
// strings, ended by a null pointer. Made before fork(): a child of a process
// with threads allocates nothing before it execs.
std::vector<char*> exec_args(const std::vector<std::string>& argv);

// The status of a process that ended from its wait status: its exit status,
// or 128 + the signal that ended it, as a shell gives it.
int exit_status(int wait_status);

// The scheduler state of a process from /proc: 'R' running, 'S' sleeping, ...
// ('?' when it cannot be read).
char state_of(pid_t pid);

// A fresh temporary directory, removed with its contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& content, bool executable = false) const;
  std::string read(const std::string& name) const;
  static std::string contents(const std::string& path);
  bool exists(const std::string& name) const;

 private:
  std::string path_;
};

// Everything written so far to a stream the test gave the program in place
// of a pipe or standard output (a tmpfile), read back from its start.
std::string written_to(std::FILE* f);

}  // namespace talvo::test
