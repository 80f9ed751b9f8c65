// The fine timing decoder at the start of an over: the marks held after a
// long silence, the unit they give, and their reading (see fine_timing.h).
#include <algorithm>
#include <cmath>
#include <limits>

#include "decoder/fine_timing.h"

namespace talvo {
namespace {

constexpr double kSqrt3 = 1.7320508075688772;  // dit/dah threshold, dits
constexpr double kOverNear = 1.15;  // a new over's unit this near the dit leaves it (ratio)
constexpr double kOverFit = 0.2;    // mean log distance of its elements to their unit, at most
constexpr double kOverPrior = 0.5;  // cost of a unit away from the dit, per unit of log distance
constexpr double kOverBias = 0.4;   // marks keyed longer by at most this, units
constexpr double kLn2 = 0.6931471805599453;

// Log distance of x to the nearer of a and b, at most ln 2.
double distance(double x, double a, double b) {
  return std::min({std::abs(std::log(x / a)), std::abs(std::log(x / b)), kLn2});
}

}  // namespace

void FineTiming::hold_over_mark(long gap, long mark) {
  over_gap_[n_over_] = gap;
  over_mark_[n_over_] = mark;
  // The mark's last tick: the new state has run run_ ticks, this one included.
  over_end_[n_over_] = tick_ - run_;
  n_over_++;
}

// The cost of reading the held marks at unit u, ticks, with marks keyed
// `bias` ticks long and gaps as much short (the key states of a receiver
// lengthen marks): each mark's log distance to a dit or a dah, each gap's
// to one unit or three (a longer gap is between words), each at most ln 2.
// `short_gaps`: the gaps under two units (inside a character).
double FineTiming::over_cost(double u, double bias, int* short_gaps) const {
  double cost = 0;
  *short_gaps = 0;
  for (int i = 0; i < n_over_; i++) {
    cost += distance(std::max(1.0, static_cast<double>(over_mark_[i]) - bias), u, 3 * u);
    if (i == 0) continue;  // the silence before the over
    const double g = std::max(1.0, static_cast<double>(over_gap_[i]) + bias);
    if (g < 2 * u) ++*short_gaps;
    if (g < 3 * u) cost += distance(g, u, 3 * u);
  }
  return cost;
}

// The unit of the held marks, ticks, or 0 to leave the dit as it is: too
// few marks, marks all alike with gaps all alike (dits or dahs alike), a
// poor fit, or a unit near the dit. The best of the units each mark, a
// third of it and each gap give (a character of two or more elements among
// them: a gap inside a character), a unit away from the dit costing a
// little; then, its dits told from its dahs and its gaps inside characters
// from the others, the marks' bias (half the difference between the dits
// and those gaps) and the mean of the dits, dahs / 3 and gaps, less it.
double FineTiming::over_unit() const {
  if (n_over_ < 3) return 0;
  long mlo = over_mark_[0], mhi = over_mark_[0];
  long glo = over_gap_[1], ghi = over_gap_[1];
  for (int i = 1; i < n_over_; i++) {
    mlo = std::min(mlo, over_mark_[i]);
    mhi = std::max(mhi, over_mark_[i]);
    glo = std::min(glo, over_gap_[i]);
    ghi = std::max(ghi, over_gap_[i]);
  }
  if (mhi < 2 * mlo && ghi < 2 * glo) return 0;
  double best = 0, best_cost = std::numeric_limits<double>::max();
  const auto consider = [&](double c) {
    const double u = std::clamp(c, dit_min_, dit_max_);
    int inside = 0;
    const double cost = over_cost(u, 0, &inside) + kOverPrior * std::abs(std::log(u / dit_));
    if (inside > 0 && cost < best_cost) {
      best = u;
      best_cost = cost;
    }
  };
  consider(dit_);
  for (int i = 0; i < n_over_; i++) {
    consider(static_cast<double>(over_mark_[i]));
    consider(static_cast<double>(over_mark_[i]) / 3);
    if (i > 0) consider(static_cast<double>(over_gap_[i]));
  }
  if (best <= 0) return 0;
  double dits = 0, dahs = 0, gaps = 0;
  int n_dits = 0, n_dahs = 0, n_gaps = 0;
  for (int i = 0; i < n_over_; i++) {
    const double m = static_cast<double>(over_mark_[i]);
    if (m > kSqrt3 * best) {
      dahs += m;
      n_dahs++;
    } else {
      dits += m;
      n_dits++;
    }
    const double g = static_cast<double>(over_gap_[i]);
    if (i > 0 && g < 2 * best) {
      gaps += g;
      n_gaps++;
    }
  }
  const double bias = n_dits > 0 && n_gaps > 0 ? std::clamp((dits / n_dits - gaps / n_gaps) / 2,
                                                            -kOverBias * best, kOverBias * best)
                                               : 0;
  const double u =
      std::clamp((dits - n_dits * bias + (dahs - n_dahs * bias) / 3 + gaps + n_gaps * bias) /
                     (n_dits + n_dahs + n_gaps),
                 dit_min_, dit_max_);
  int inside = 0;
  if (over_cost(u, bias, &inside) > kOverFit * (2 * n_over_ - 1)) return 0;
  if (u > dit_ / kOverNear && u < dit_ * kOverNear) return 0;
  return u;
}

// Reads the held marks: at the unit they give, as they would have been
// read as they came, each string dated to the tick it would have had; then
// the first `running` ticks of the gap now running.
void FineTiming::settle_over(long running, TimingSink& out) {
  over_ = false;
  const long now_gap = gap_ticks();  // the gap now running, ticks
  const long base = gap_base_;
  // A first mark standing alone and shorter than half the dit read before
  // is a noise peak in the silence, as it would have been without the hold
  // (at a faster sender's unit it would pass for an "e").
  while (n_over_ > 1 && static_cast<double>(over_mark_[0]) < kLoneMark * dit_ &&
         static_cast<double>(over_gap_[1]) >= kEndOfCharacter * dit_) {
    const long silence = std::min(over_gap_[0] + over_mark_[0] + over_gap_[1], run_cap_);
    std::copy(over_gap_ + 1, over_gap_ + n_over_, over_gap_);
    std::copy(over_mark_ + 1, over_mark_ + n_over_, over_mark_);
    std::copy(over_end_ + 1, over_end_ + n_over_, over_end_);
    over_gap_[0] = silence;
    n_over_--;
  }
  const double u = over_unit();
  if (u > 0) set_dit(u);
  for (int i = 0; i < n_over_; i++) {
    long gap = over_gap_[i];
    if (i > 0) gap = replay_gap(gap, over_end_[i] - over_mark_[i] - gap, out);
    gap_base_ = 0;
    last_gap_ = gap;
    accept_mark(gap, over_mark_[i]);
  }
  n_over_ = 0;
  gap_base_ = base;
  if (running > 0) {
    replay_gap(running, tick_ - now_gap, out);
    // Unless a lone noise mark was dropped, the gap runs on as it was.
    if (gap_base_ == 0) gap_base_ = base;
  }
}

// The ticks of a gap `len` ticks long that began after tick `start`, as
// gap_tick would have seen them; returns the whole gap (a lone noise mark
// dropped before it included).
long FineTiming::replay_gap(long len, long start, TimingSink& out) {
  gap_base_ = 0;
  for (long g = 1; g <= len; g++) {
    if (!open_ && (word_chars_ == 0 || space_given_)) break;
    stamp_ = start + g;
    gap_reached(gap_base_ + g, out);
  }
  stamp_ = -1;
  return std::min(gap_base_ + len, run_cap_);
}

}  // namespace talvo
