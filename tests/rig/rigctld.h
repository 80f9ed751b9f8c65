// hamlib's rigctld with the dummy rig (model 1) on a port of 127.0.0.1,
// started and killed by the test, and rigctl setting it as a program beside
// the skimmer would: for the tests of the poller and of talvo-decode --rig.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/find_program.h"
#include "support/piped_child.h"
#include "support/process.h"

namespace talvo::test {

// rigctld with hamlib's dummy rig on 127.0.0.1:port.
inline std::unique_ptr<PipedChild> start_rigctld(int port) {
  auto c = std::make_unique<PipedChild>(
      std::vector<std::string>{"rigctld", "-m", "1", "-T", "127.0.0.1", "-t", std::to_string(port)},
      ChildOptions{false, true, ""});
  return c;
}

// Sets the dummy rig with rigctl as a program beside the skimmer would.
inline Run rigctl(int port, const std::vector<std::string>& command) {
  std::vector<std::string> argv = {find_program("rigctl"), "-m", "2", "-r",
                                   "127.0.0.1:" + std::to_string(port)};
  argv.insert(argv.end(), command.begin(), command.end());
  RunOptions o;
  o.seconds = 10;
  return run(argv, o);
}

// Sets the dial and mode, retrying while rigctld is still starting.
inline bool set_rig(int port, const std::vector<std::string>& command) {
  Run last;
  const bool ok = [&] {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while ((last = rigctl(port, command)).status != 0) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
  }();
  if (!ok) ADD_FAILURE() << "rigctl: status " << last.status << ": " << last.out << last.err;
  return ok;
}

}  // namespace talvo::test
