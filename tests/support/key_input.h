// A key decision's input for the tests that drive it tick by tick.
#pragma once

#include <vector>

#include "rx/fine/key_decision.h"

namespace talvo::test {

// A ready tick whose statistic is pd over an element noise of 1, inside a
// mark's body, with a coherent window of 15 ticks and a dot of unit ticks.
inline fine::KeyInput key_input(double pd, double unit, bool clear = true) {
  fine::KeyInput in;
  in.clear = clear;
  in.ready = true;
  in.pd = pd;
  in.nd = 1;
  in.body = true;
  in.win = 15;
  in.unit = unit;
  return in;
}

// Drives a fresh key decision over n ticks: judge(key, at) decides each
// tick after it is opened, and each tick's key state is returned as it
// leaves, hold_back_ticks late.
template <class Judge>
std::vector<double> drive_key(long long n, Judge judge, const fine::KeyDecisionParams& p = {}) {
  fine::KeyDecision key;
  key.make(p);
  key.reset();
  std::vector<double> out(static_cast<std::size_t>(n), 0.0);
  for (long long at = 0; at < n + p.hold_back_ticks; at++) {
    if (at >= p.hold_back_ticks) out[at - p.hold_back_ticks] = key.held(at);
    key.open(at);
    judge(key, at);
  }
  return out;
}

// Ticks from .. to - 1 keyed down.
inline int keyed(const std::vector<double>& key, int from, int to) {
  int k = 0;
  for (int t = from; t < to; t++)
    k += key[t] > 0;
  return k;
}

}  // namespace talvo::test
