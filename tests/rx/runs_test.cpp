// Key runs: the most likely sequence of dots, dashes and gaps from each
// tick's evidence.
#include "rx/runs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace talvo {
namespace {

constexpr int kUnit = 20;  // ticks per dot
constexpr int kLag = 42;   // ticks the decision waits

// Dots and dashes with element, character and word gaps, from a seed.
std::vector<int> keying(int marks, uint32_t seed) {
  std::mt19937 g(seed);
  std::vector<int> k(3 * kUnit, 0);
  for (int i = 0; i < marks; i++) {
    k.insert(k.end(), g() % 2 ? kUnit : 3 * kUnit, 1);
    const unsigned r = g() % 100;
    k.insert(k.end(), r < 55 ? kUnit : r < 85 ? 3 * kUnit : 7 * kUnit, 0);
  }
  return k;
}

// Runs the decision over per-tick ratios; out[t] is the key state of tick t.
std::vector<int> decide(const std::vector<double>& llr) {
  KeyRuns r;
  r.make(60, kLag);
  r.set_unit(kUnit);
  std::vector<int> out(llr.size(), -1);
  for (std::size_t t = 0; t < llr.size(); t++) {
    const bool down = r.step(llr[t]);
    if (t >= static_cast<std::size_t>(kLag)) out[t - kLag] = down;
  }
  return out;
}

TEST(KeyRuns, ClearEvidenceGivesTheKeyingTickForTick) {
  const auto k = keying(60, 3);
  std::vector<double> llr;
  for (int v : k)
    llr.push_back(v ? 2.0 : -2.0);
  const auto out = decide(llr);
  for (std::size_t t = 0; t + kLag < k.size(); t++)
    ASSERT_EQ(out[t], k[t]) << "tick " << t;
}

TEST(KeyRuns, ADashThroughADipStaysOneMarkAndAFaintDotIsFound) {
  // A dash whose middle dot's evidence leans to key up, as a deep noise dip
  // does, then a dot whose every tick only leans to key down.
  std::vector<int> k(200, 0);
  std::vector<double> llr(200, -1.0);
  auto mark = [&](int from, int len, double e) {
    for (int t = from; t < from + len; t++) {
      k[t] = 1;
      llr[t] = e;
    }
  };
  mark(60, 3 * kUnit, 1.0);
  for (int t = 60 + kUnit; t < 60 + 2 * kUnit; t++)
    llr[t] = -0.2;
  llr.resize(420, -1.0);
  k.resize(420, 0);
  mark(200, kUnit, 0.5);
  const auto out = decide(llr);
  for (int t = 60; t < 120; t++)
    ASSERT_EQ(out[t], 1) << "tick " << t;
  int dot = 0;
  for (int t = 200; t < 220; t++)
    dot += out[t];
  EXPECT_GE(dot, 18);
  EXPECT_EQ(out[150], 0);
  EXPECT_EQ(out[300], 0);
}

TEST(KeyRuns, WeakKeyingInCorrelatedNoiseBeatsAThresholdOnTheAverage) {
  // Carrier 1, noise of per-tick power 1 / 4.9 (6.9 dB) whose ticks are
  // alike over 9 (a moving sum), as in a channel filter's envelope.
  const auto k = keying(400, 1);
  const double snr = 4.9, n = 1 / snr;
  const int corr = 9;
  std::mt19937 g(7);
  std::normal_distribution<double> gauss(0, 1);
  std::vector<double> white(k.size() + corr), y(k.size()), llr(k.size());
  for (double& w : white)
    w = gauss(g);
  for (std::size_t t = 0; t < k.size(); t++) {
    double s = 0;
    for (int j = 0; j < corr; j++)
      s += white[t + j];
    y[t] = k[t] + std::sqrt(n / 2) * s / std::sqrt(corr);
    llr[t] = (2 * y[t] - 1) / (n * corr);
  }
  const auto out = decide(llr);
  int runs = 0, threshold = 0, ticks = 0;
  for (std::size_t t = 100; t + kLag < k.size(); t++, ticks++) {
    runs += out[t] == k[t];
    double avg = 0;
    for (int j = -9; j <= 9; j++)
      avg += y[t + j] / 19;
    threshold += (avg > 0.5) == (k[t] == 1);
  }
  const double by_runs = static_cast<double>(runs) / ticks;
  const double by_threshold = static_cast<double>(threshold) / ticks;
  EXPECT_GT(by_runs, 0.96);
  EXPECT_GT(by_runs, by_threshold + 0.03);
}

TEST(KeyRuns, FollowsAChangeOfSpeedAndResets) {
  KeyRuns r;
  r.make(60, kLag);
  r.set_unit(12);
  // Clear keying at a dot of 40 ticks, the unit moved there while it runs.
  const auto fast = keying(10, 5);
  std::vector<int> k;
  for (int v : fast)
    k.insert(k.end(), 2, v);  // every run twice as long: dot 40 ticks
  std::vector<int> out(k.size(), -1);
  for (std::size_t t = 0; t < k.size(); t++) {
    if (t == 200) r.set_unit(40);
    const bool down = r.step(k[t] ? 2.0 : -2.0);
    if (t >= static_cast<std::size_t>(kLag)) out[t - kLag] = down;
  }
  for (std::size_t t = 0; t + kLag < k.size(); t++)
    ASSERT_EQ(out[t], k[t]) << "tick " << t;
  r.reset();
  for (int t = 0; t < kLag; t++)
    EXPECT_FALSE(r.step(-1.0));
}

// A follower made without touching its memory (as a pool makes them) and
// reset when handed out keys as one made ready; so does one handed out
// again after another station used it at another speed.
TEST(KeyRuns, AFollowerMadeUntouchedKeysAsOneMadeReady) {
  std::mt19937 g(7);
  std::normal_distribution<double> noise(0, 1.2);
  const auto k = keying(12, 9);
  std::vector<double> llr;
  for (int v : k)
    llr.push_back((v ? 1.0 : -1.0) + noise(g));
  const auto run = [&](KeyRuns& r, double unit) {
    r.set_unit(unit);
    std::vector<int> out;
    for (double x : llr)
      out.push_back(r.step(x));
    return out;
  };
  KeyRuns ready;
  ready.make(60, kLag);
  const std::vector<int> want = run(ready, kUnit);
  KeyRuns pooled;
  pooled.make(60, kLag, false);
  pooled.reset();
  EXPECT_EQ(run(pooled, kUnit), want);
  pooled.reset();
  run(pooled, 45);  // another station, another speed
  pooled.reset();
  EXPECT_EQ(run(pooled, kUnit), want);
  EXPECT_GT(std::count(want.begin(), want.end(), 1), 100);  // it keyed
}

}  // namespace
}  // namespace talvo
