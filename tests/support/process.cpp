#include "support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/headless.h"

namespace talvo::test {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "talvo-test-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void TempDir::write(const std::string& name, const std::string& content, bool executable) const {
  {
    std::ofstream f(file(name), std::ios::binary);
    f << content;
  }
  if (executable) chmod(file(name).c_str(), 0755);
}

std::string TempDir::read(const std::string& name) const {
  return contents(file(name));
}

std::string TempDir::contents(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool TempDir::exists(const std::string& name) const {
  return std::filesystem::exists(file(name));
}

std::vector<char*> exec_args(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  return args;
}

int exit_status(int wait_status) {
  return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
}

Run run(const std::vector<std::string>& argv, const RunOptions& o) {
  TempDir io;
  io.write("stdin", o.input);
  std::string path =
      o.path.empty() ? std::string(std::getenv("PATH") ? std::getenv("PATH") : "") : o.path;
  if (!o.path_prefix.empty()) path = o.path_prefix + ":" + path;

  auto args = exec_args(argv);
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open(io.file("stdin").c_str(), O_RDONLY);
    const int out = open(io.file("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(io.file("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (!o.cwd.empty() && chdir(o.cwd.c_str()) != 0) _exit(126);
    setenv("PATH", path.c_str(), 1);
    if (o.display.empty())
      headless();
    else
      setenv("DISPLAY", o.display.c_str(), 1);
    execv(args[0], args.data());
    _exit(127);
  }
  // Waits for the end, polling, at most o.seconds; then kills it.
  int ws = 0;
  bool ended = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(o.seconds);
  while (!ended && std::chrono::steady_clock::now() < deadline) {
    ended = waitpid(pid, &ws, WNOHANG) == pid;
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &ws, 0);
  }
  Run r;
  r.status = exit_status(ws);
  r.out = io.read("stdout");
  r.err = io.read("stderr");
  if (!ended) {
    char note[64];
    std::snprintf(note, sizeof note, "[killed after %g s]\n", o.seconds);
    r.err += note;
  }
  return r;
}

char state_of(pid_t pid) {
  const std::string stat = TempDir::contents("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t close = stat.rfind(')');
  return close == std::string::npos || close + 2 >= stat.size() ? '?' : stat[close + 2];
}

Run run_until_signal(const std::vector<std::string>& argv, const std::string& input, int sig) {
  TempDir io;
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  auto args = exec_args(argv);
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(io.file("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(io.file("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fds[0], 0);
    dup2(out, 1);
    dup2(err, 2);
    close(fds[0]);
    close(fds[1]);
    execv(args[0], args.data());
    _exit(127);
  }
  close(fds[0]);
  signal(SIGPIPE, SIG_IGN);
  for (std::size_t at = 0; at < input.size();) {
    const ssize_t n = write(fds[1], input.data() + at, input.size() - at);
    if (n <= 0) break;
    at += static_cast<std::size_t>(n);
  }
  // All read and asleep on the empty pipe, five looks in a row.
  using namespace std::chrono_literals;
  for (int i = 0, quiet = 0; i < 2000 && quiet < 5; i++) {
    int left = 0;
    ioctl(fds[1], FIONREAD, &left);
    quiet = left == 0 && state_of(pid) == 'S' ? quiet + 1 : 0;
    std::this_thread::sleep_for(10ms);
  }
  kill(pid, sig);
  int ws = 0;
  for (int i = 0; i < 1000 && waitpid(pid, &ws, WNOHANG) == 0; i++)
    std::this_thread::sleep_for(10ms);
  close(fds[1]);
  if (waitpid(pid, &ws, WNOHANG) == 0) waitpid(pid, &ws, 0);
  Run r;
  r.status = exit_status(ws);
  r.out = io.read("stdout");
  r.err = io.read("stderr");
  return r;
}

std::string written_to(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string s;
  for (int c; (c = std::fgetc(f)) != EOF;)
    s.push_back(static_cast<char>(c));
  return s;
}

}  // namespace talvo::test
