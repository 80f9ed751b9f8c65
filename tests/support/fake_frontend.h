// A front end whose key states the test sets by hand: nine clusters 50 Hz
// apart around a centre, each ticking when the test says so. For the tests
// of what comes after a front end (the waterfall, the keyer, the controls).
#pragma once

#include <array>

#include "rx/frontend.h"

namespace talvo::test {

class FakeFrontEnd : public FrontEnd {
 public:
  explicit FakeFrontEnd(int centre_hz = 700) : centre_(centre_hz) {}
  int clusters() const override { return 9; }
  int centre_hz(int q) const override { return centre_ + 50 * (q - 4); }
  int ticks_per_second(int q) const override { return centre_hz(q); }
  void run(const double*, int) override {}
  bool tick(int) override { return true; }
  int next_tick(int k) const override { return k; }
  void settle(int) override {}
  bool ticked(int q) const override { return ticks[static_cast<std::size_t>(q)]; }
  double key(int q) const override { return keys[static_cast<std::size_t>(q)]; }
  short tone(int, int, int) const override { return 0; }
  const ClusterKey* ticked_keys(int& n) override {
    n = 0;
    for (int q = 0; q < 9; q++)
      if (ticks[static_cast<std::size_t>(q)])
        list_[static_cast<std::size_t>(n++)] = {q, keys[static_cast<std::size_t>(q)] != 0.0};
    return list_.data();
  }

  std::array<double, 9> keys{};  // key state of each cluster
  std::array<bool, 9> ticks{};   // which clusters ticked

 private:
  int centre_;
  std::array<ClusterKey, 9> list_{};
};

}  // namespace talvo::test
