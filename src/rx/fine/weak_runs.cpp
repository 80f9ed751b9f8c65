#include "rx/fine/weak_runs.h"

#include <algorithm>

#include "rx/fine/common.h"

namespace talvo::fine {

void RunsPool::make(int n, double max_unit, int lag) {
  runs_.resize(n);
  // Each follower is reset as it is taken: until then its memory is not
  // touched (most front ends of a wide span never follow a weak station).
  for (auto& r : runs_)
    r.make(max_unit, lag, false);
  free_.reserve(runs_.size());
}

void RunsPool::reset() {
  free_.clear();
  for (int i = static_cast<int>(runs_.size()) - 1; i >= 0; i--)
    free_.push_back(i);
}

int RunsPool::take() {
  if (free_.empty()) return -1;
  const int i = free_.back();
  free_.pop_back();
  runs_[i].reset();
  return i;
}

void WeakRuns::make(const WeakRunsParams& p, int lag) {
  p_ = p;
  lag_ = lag;
  peak_fall_ = p.peak_fall_db_per_s / kTickRate;
  ys_.resize(kRing);
}

void WeakRuns::reset() {
  runs_ = -1;
  std::fill(ys_.begin(), ys_.end(), 0.0);
  amp_ = 0;
  amp_n_ = 0;
  peak_ = -1e9;  // nothing heard yet: the first tick sets it
}

bool WeakRuns::claim(RunsPool& pool, double carrier, double along, double csnr, bool bursts) {
  peak_ = std::max(csnr, peak_ - peak_fall_);
  const bool weak = carrier > 0 && along > 0 && peak_ < ceiling(bursts) + p_.spare_db;
  if (weak && runs_ < 0) {
    runs_ = pool.take();
    if (runs_ >= 0) amp_n_ = 0;
  } else if (!weak && runs_ >= 0) {
    pool.give(runs_);
    runs_ = -1;
  }
  return runs_ >= 0;
}

bool WeakRuns::step(long long at, RunsPool& pool, double y, double along, double unit, double n,
                    double kappa, double w) {
  const int m = kRingMask;
  KeyRuns& runs = pool[runs_];
  runs.set_unit(unit);
  ys_[at & m] = y;
  const double a = amp_n_ >= p_.amp_ticks && amp_ > 0.5 * along ? amp_ : along;
  const bool kd = runs.step(p_.evidence * w * (2 * y * a - a * a) / (n * kappa));
  if (kd) {
    amp_n_ = std::min(amp_n_ + 1, static_cast<int>(1 / p_.amp_track));
    amp_ += (ys_[(at - lag_) & m] - amp_) / amp_n_;
  }
  return kd;
}

bool WeakRuns::blind(long long at, RunsPool& pool, double unit) {
  const int m = kRingMask;
  KeyRuns& runs = pool[runs_];
  runs.set_unit(unit);
  ys_[at & m] = amp_;  // moves the mean nowhere
  const bool kd = runs.step(0);
  if (kd) {
    amp_n_ = std::min(amp_n_ + 1, static_cast<int>(1 / p_.amp_track));
    amp_ += (ys_[(at - lag_) & m] - amp_) / amp_n_;
  }
  return kd;
}

}  // namespace talvo::fine
