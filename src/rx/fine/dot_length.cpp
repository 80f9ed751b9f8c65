#include "rx/fine/dot_length.h"

#include <algorithm>
#include <cmath>

namespace talvo::fine {

void DotLength::make(const DotLengthParams& p) {
  p_ = p;
  units_ = static_cast<int>((p.max_ticks - p.min_ticks) / p.step_ticks) + 1;
  lengths_ = 4 * static_cast<int>(p.max_ticks);
  dots_.resize(units_);
  dashes_.resize(units_);
}

void DotLength::reset() {
  std::fill(dots_.begin(), dots_.end(), 0.0);
  std::fill(dashes_.begin(), dashes_.end(), 0.0);
  unit_ = p_.start_ticks;
  marks_ = 0;
}

double DotLength::step(int run) {
  const double r = run;
  if (r >= p_.min_ticks / 2 && run < lengths_) {
    unit_ = count(run);
    marks_ = std::min(marks_ + 1, p_.max_marks);
  }
  return unit_;
}

double DotLength::count(int len) {
  double best = 0;
  double unit = unit_;
  for (int j = 0; j < units_; j++) {
    const double u = p_.min_ticks + j * p_.step_ticks;
    dots_[j] = p_.keep * dots_[j] + std::max(0.0, 1 - std::abs(len / u - 1) / p_.dot_reach);
    dashes_[j] =
        p_.keep * dashes_[j] + std::max(0.0, 1 - std::abs(len / (3 * u) - 1) / p_.dash_reach);
    if (dots_[j] * dashes_[j] > best) {
      best = dots_[j] * dashes_[j];
      unit = u;
    }
  }
  return unit;
}

}  // namespace talvo::fine
