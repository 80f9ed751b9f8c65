// A real mosquitto broker for the tests, on a free port of 127.0.0.1 with a
// configuration file the test writes, stopped (SIGTERM: it saves its
// sessions) and started again on the same port, and killed when the object
// goes.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "support/find_program.h"
#include "support/loopback.h"
#include "support/piped_child.h"
#include "support/process.h"

namespace talvo::test {

// Whether something accepts connections on 127.0.0.1:port.
inline bool accepts(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

// Waits at most `seconds` until `done` holds.
template <typename F>
bool wait_for(F done, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class Broker {
 public:
  // `persist`: the broker keeps its sessions in the temporary folder across
  // a stop and a start.
  explicit Broker(bool persist = false) : port_(free_port()) {
    std::string conf = "listener " + std::to_string(port_) + " 127.0.0.1\nallow_anonymous true\n";
    // Run as root, mosquitto would become the user "mosquitto", who may not
    // write in the test's folder: it stays the user running the test.
    if (const passwd* pw = getpwuid(getuid())) conf += "user " + std::string(pw->pw_name) + "\n";
    if (persist) conf += "persistence true\npersistence_location " + dir_.path() + "/\n";
    dir_.write("mosquitto.conf", conf);
  }
  int port() const { return port_; }
  std::string url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }

  // Starts it and waits (at most 10 s) until it accepts connections.
  bool start() {
    child_ = std::make_unique<PipedChild>(
        std::vector<std::string>{find_program("mosquitto"), "-c", dir_.file("mosquitto.conf")},
        ChildOptions{false, true, ""});
    return child_->started() && wait_for([&] { return accepts(port_); }, 10);
  }
  // Stops it as a service manager does (SIGTERM), waiting at most 10 s.
  bool stop() {
    if (!child_) return true;
    kill(child_->pid(), SIGTERM);
    const bool ended = child_->wait(10) >= 0;
    child_.reset();
    return ended;
  }

 private:
  TempDir dir_;
  int port_;
  std::unique_ptr<PipedChild> child_;
};

}  // namespace talvo::test
