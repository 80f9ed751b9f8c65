// Watch: which clusters are awake.
//
// Most clusters of a wide span hold nothing most of the time. Every cluster
// keeps its channel filter, power rings, noise floor, model and guards' view
// always; the stages that decide its key (guards' test, acquisition's
// readiness, carrier, weak runs, key decision) run only while it is awake.
// A cluster wakes as soon as its newest power stands over its floor (the
// short average wake_short_db, the long wake_long_db: under what starts
// keying, and decide_lag ticks before the tick judged sees it), and while
// it is ready to key, keys, or its mean over a second tells a station is
// there; it sleeps linger_ticks after the last of these. A cluster woken
// by its power alone that has not been busy since sleeps again sooner,
// probe_ticks after the last reason: the noise of a wide span wakes some
// cluster or other all the time, and a station that woke it keeps it busy
// within a letter. Asleep, its tick is judged key up and its mean power
// follows every tick.
//
// Life cycle: make once, reset, step once a tick per cluster after its
// newest power.
#pragma once

#include <algorithm>
#include <vector>

#include "rx/fine/common.h"

namespace talvo::fine {

struct WatchParams {
  double wake_short_db = 7;  // newest short average over the floor that wakes, dB
  double wake_long_db = 5;   // newest long average over the floor that wakes, dB
  int linger_ticks = 250;    // ticks a cluster stays awake after the last reason
  int probe_ticks = 60;      // the same for a cluster not busy since it woke
};

class Watch {
 public:
  void make(const WatchParams& p, int clusters) {
    p_ = p;
    short_ = undb(p.wake_short_db);
    long_ = undb(p.wake_long_db);
    quiet_.assign(static_cast<std::size_t>(clusters), 0);
    busy_.assign(static_cast<std::size_t>(clusters), 0);
  }
  void reset() {
    std::fill(quiet_.begin(), quiet_.end(), p_.linger_ticks);
    std::fill(busy_.begin(), busy_.end(), 0);
  }
  // Cluster q's newest averages ps and pl against its floor n (units^2;
  // 0: none yet, awake), and whether it is busy (ready, keying, present).
  void step(int q, double ps, double pl, double n, bool busy) {
    const auto i = static_cast<std::size_t>(q);
    int& quiet = quiet_[i];
    if (busy || !(n > 0)) busy_[i] = 1;
    if (busy || !(n > 0) || ps > n * short_ || pl > n * long_)
      quiet = 0;
    else if (quiet < p_.linger_ticks)
      quiet++;
    if (!busy_[i] && quiet >= p_.probe_ticks) quiet = p_.linger_ticks;
    if (quiet >= p_.linger_ticks) busy_[i] = 0;
  }
  bool awake(int q) const { return quiet_[static_cast<std::size_t>(q)] < p_.linger_ticks; }

 private:
  WatchParams p_;
  double short_ = 1, long_ = 1;  // the dB figures as power ratios
  std::vector<int> quiet_;       // [q]: ticks since the last reason to be awake
  std::vector<char> busy_;       // [q]: busy since it woke
};

}  // namespace talvo::fine
