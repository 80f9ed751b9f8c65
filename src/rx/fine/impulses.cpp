#include "rx/fine/impulses.h"

#include <algorithm>
#include <cmath>

namespace talvo::fine {

void Impulses::make(const ImpulseParams& p, int clusters) {
  p_ = p;
  k_ = clusters;
  rise_ = undb(p.rise_db);
  // White noise's power per tick is exponential: its quartile q lies at
  // -ln(1 - q) of its mean.
  quartile_mean_ = -std::log1p(-p.quartile);
  dominant_ = undb(p.dominant_db);
  flag_.resize(kRing);
  told_.resize(kRing);
  if (p.weights) w_.resize(kRing);
  count_.resize(kRing);
  ratio_.resize(clusters);
  high_.resize(static_cast<std::size_t>(p.onset_ticks + 1) * clusters);
  steady_ = undb(p.steady_db);
  fresh_ = undb(p.fresh_db);
  clicks_ = p.clicks_db > 0 ? undb(p.clicks_db) : HUGE_VAL;
  rows_ = std::max(p.steady_ticks, p.onset_ticks + 1);
  share_step_ = 1.0 / (p.often_s * kTickRate);
  if (p.steady_db > 0 || p.fresh_db > 0) past_.resize(static_cast<std::size_t>(rows_) * clusters);
}

bool Impulses::steady(long long t, int q) const {
  if (t < p_.steady_ticks - 1) return false;
  double lo = HUGE_VAL, hi = 0;
  for (int i = 0; i < p_.steady_ticks; i++) {
    const double x = past_[((t - i) % rows_) * k_ + q];
    lo = std::min(lo, x);
    hi = std::max(hi, x);
  }
  return hi <= lo * steady_;
}

void Impulses::reset() {
  std::fill(flag_.begin(), flag_.end(), 0);
  std::fill(told_.begin(), told_.end(), 0);
  std::fill(count_.begin(), count_.end(), 0);
  std::fill(w_.begin(), w_.end(), 1.0);
  std::fill(high_.begin(), high_.end(), 0);
  std::fill(past_.begin(), past_.end(), 0.0);
  newest_ = -1;
  last_ = -1;
  tail_ = -1;
  run_ = 0;
  share_ = 0;
  frequent_ = false;
}

void Impulses::count(long long t) {
  share_ += ((blank(t) ? 1.0 : 0.0) - share_) * share_step_;
  if (share_ >= p_.often_share)
    frequent_ = true;
  else if (share_ < p_.seldom_share)
    frequent_ = false;
}

void Impulses::step(long long t, std::span<const double> floor, std::span<const double> power,
                    double left, double over) {
  newest_ = t;
  int high = 0, nf = 0, fresh = 0;
  const long long rows = p_.onset_ticks + 1;
  unsigned char* now = high_.data() + (t % rows) * k_;
  const unsigned char* before = high_.data() + ((t + 1) % rows) * k_;  // onset_ticks back
  // Powers onset_ticks back (where kept): a burst over the tail of another
  // rises fresh_db over it.
  const double* then =
      past_.empty() ? nullptr : past_.data() + ((t + rows_ - p_.onset_ticks) % rows_) * k_;
  for (int q = 0; q < k_; q++) {
    const unsigned char h = floor[q] > 0 && power[q] > floor[q] * rise_;
    fresh += h && (!(t >= p_.onset_ticks && before[q]) ||
                   (p_.fresh_db > 0 && power[q] > then[q] * fresh_));
    now[q] = h;
    high += h;
    nf += floor[q] > 0;
  }
  // Steady lines among the clusters standing high: keyed carriers, their
  // own or their neighbours'.
  int lines = 0;
  if (!past_.empty()) {
    double* row = past_.data() + (t % rows_) * k_;
    for (int q = 0; q < k_; q++)
      row[q] = power[q];
  }
  if (p_.steady_db > 0) {
    if (may_tell(high))
      for (int q = 0; q < k_; q++)
        lines += now[q] && steady(t, q);
  }
  // Stations keyed down together are no burst where most of what stands
  // high holds steady lines; only a burst's start is tested so (as a
  // crash decays, some of its clusters hold their power for a few ticks).
  const bool lined = lines > 0 && lines >= p_.steady_share * high && run_ < p_.min_run && t > tail_;
  // The burst's power over the floors, measured where an eighth of the
  // clusters stand high or the tick is marked (elsewhere none is), and the
  // strongest cluster's.
  const bool near = may_tell(high) && !lined;
  double w = 1, lower = 0, top = 0;
  int m = 0;
  if (nf > 0 && (near || (p_.weights && (t <= tail_ || 8 * high >= k_)))) {
    for (int q = 0; q < k_; q++)
      if (floor[q] > 0) {
        ratio_[m] = power[q] / floor[q];
        top = std::max(top, ratio_[m++]);
      }
    const int r = static_cast<int>(p_.quartile * m);
    std::nth_element(ratio_.begin(), ratio_.begin() + r, ratio_.begin() + m);
    lower = ratio_[r];
    w = std::min(1.0, quartile_mean_ / lower);
  }
  // The clicks of a strong station's hard key edges lift the whole band
  // too, but far under its own cluster.
  // A burst goes on (within its pad after) without rising afresh.
  const bool going = run_ > 0 || t <= tail_;
  // A tick whose channel filter took little from ticks not blanked before
  // it is marked too, and weighs no more than that part.
  const bool tells = (near && (top < lower * dominant_ || lower > clicks_) &&
                      over < lower * dominant_ && (going || fresh >= p_.fresh_share * k_)) ||
                     left < p_.least_left;
  w = std::min(w, left);
  run_ = tells ? run_ + 1 : 0;
  // A band risen for longer than any crash lasts is a risen noise: what
  // is still padded stops here.
  if (run_ > p_.max_ticks) tail_ = -1;
  flag_[t & kRingMask] = t <= tail_;
  long long from = t;
  if (tells && run_ >= p_.min_run && run_ <= p_.max_ticks) {
    // The run's first ticks are marked once it lasted min_run.
    from = std::max(0LL, t - p_.pad_before - (run_ == p_.min_run ? p_.min_run - 1 : 0));
    for (long long u = from; u <= t; u++)
      flag_[u & kRingMask] = 1;
    tail_ = t + p_.pad_after;
  }
  if (p_.weights) w_[t & kRingMask] = flag_[t & kRingMask] || m > 0 || left < 1 ? w : 1.0;
  if (flag_[t & kRingMask]) last_ = t;
  told_[t & kRingMask] = flag_[t & kRingMask];
  for (long long u = from; u <= t; u++)
    count_[u & kRingMask] = blanked(u - 1) + flag_[u & kRingMask];
}

void Impulses::join(long long from, std::span<const unsigned char> told) {
  long long first = -1;
  for (std::size_t i = 0; i < told.size(); i++) {
    const long long u = from + static_cast<long long>(i);
    if (!told[i] || u < 0 || u > newest_ || flag_[u & kRingMask]) continue;
    flag_[u & kRingMask] = 1;
    if (first < 0) first = u;
    last_ = std::max(last_, u);
  }
  if (first < 0) return;
  for (long long u = first; u <= newest_; u++)
    count_[u & kRingMask] = blanked(u - 1) + flag_[u & kRingMask];
}

}  // namespace talvo::fine
