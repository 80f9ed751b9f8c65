#include "support/process.h"

#include <fcntl.h>
#include <signal.h>
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

Run run(const std::vector<std::string>& argv, const RunOptions& o) {
  TempDir io;
  io.write("stdin", o.input);
  std::string path =
      o.path.empty() ? std::string(std::getenv("PATH") ? std::getenv("PATH") : "") : o.path;
  if (!o.path_prefix.empty()) path = o.path_prefix + ":" + path;

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
    std::vector<char*> args;
    for (const auto& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
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
  r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
  r.out = io.read("stdout");
  r.err = io.read("stderr");
  if (!ended) {
    char note[64];
    std::snprintf(note, sizeof note, "[killed after %g s]\n", o.seconds);
    r.err += note;
  }
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
