// Seconds of wall-clock time on the monotonic clock: how tests and
// benchmarks bound their waits and time what they measure.
#pragma once

#include <chrono>

namespace talvo::test {

using Clock = std::chrono::steady_clock;

// Seconds from `t` to now.
inline double since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

}  // namespace talvo::test
