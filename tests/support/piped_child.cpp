#include "support/piped_child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "support/process.h"
#include "support/stopwatch.h"

namespace talvo::test {

PipedChild::PipedChild(const std::vector<std::string>& argv, const ChildOptions& o)
    : own_group_(o.own_group) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
  const char* old_path = std::getenv("PATH");
  const std::string path =
      o.path_prefix.empty() ? "" : o.path_prefix + ":" + (old_path ? old_path : "");
  auto args = exec_args(argv);
  pid_ = fork();
  if (pid_ == 0) {
    if (own_group_) setpgid(0, 0);
    dup2(in[0], 0);
    dup2(out[1], 1);
    if (o.merge_stderr) dup2(out[1], 2);
    if (!path.empty()) setenv("PATH", path.c_str(), 1);
    execvp(args[0], args.data());
    _exit(127);
  }
  if (own_group_) setpgid(pid_, pid_);
  close(in[0]);
  close(out[1]);
  to_ = in[1];
  from_ = out[0];
  fcntl(from_, F_SETFL, O_NONBLOCK);
}

PipedChild::~PipedChild() {
  close_in();
  if (from_ >= 0) close(from_);
  if (pid_ > 0 && status_ < 0) {
    kill(own_group_ ? -pid_ : pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool PipedChild::write_in(const std::string& s) {
  for (std::size_t at = 0; at < s.size();) {
    const ssize_t n = write(to_, s.data() + at, s.size() - at);
    if (n <= 0) return false;
    at += static_cast<std::size_t>(n);
  }
  return true;
}

void PipedChild::close_in() {
  if (to_ >= 0) close(to_);
  to_ = -1;
}

bool PipedChild::read_until(const std::function<bool(const std::string&)>& done, double seconds) {
  const auto t0 = Clock::now();
  while (!done(out)) {
    const double left = seconds - since(t0);
    if (left <= 0) return false;
    pollfd p{from_, POLLIN, 0};
    poll(&p, 1, static_cast<int>(left * 1000) + 1);
    char buf[65536];
    const ssize_t n = read(from_, buf, sizeof buf);
    if (n > 0)
      out.append(buf, static_cast<std::size_t>(n));
    else if (n == 0)
      return done(out);
  }
  return true;
}

bool PipedChild::read_until_has(const std::string& s, double seconds) {
  return read_until([&](const std::string& o) { return o.find(s) != std::string::npos; }, seconds);
}

int PipedChild::wait(double seconds) {
  const auto t0 = Clock::now();
  int ws = 0;
  while (status_ < 0 && since(t0) < seconds) {
    if (waitpid(pid_, &ws, WNOHANG) == pid_)
      status_ = exit_status(ws);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  read_until([](const std::string&) { return false; }, 0.2);
  return status_;
}

}  // namespace talvo::test
