// A key decision's input for the tests that drive it tick by tick.
#pragma once

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

}  // namespace talvo::test
