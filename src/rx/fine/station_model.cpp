#include "rx/fine/station_model.h"

#include <algorithm>
#include <numbers>

namespace talvo::fine {

void StationModel::make(const StationModelParams& p, const ChannelDesign& d, int sub_lag) {
  p_ = p;
  g_ = static_cast<int>(d.taps.size() - 1) / 2;
  edge_lag_ = g_ + p.edge_settle_ticks;
  sub_lag_ = sub_lag;
  edge_.reset(firfilt_crcf_create(const_cast<float*>(d.taps.data()), d.taps.size()));
  taps_ = static_cast<int>(d.taps.size());
  // The newest tick is written before the oldest read is gone: the ring
  // reaches past the farthest read (wake() reads taps_ ticks back).
  int len = 1;
  while (len <= std::max({taps_, sub_lag_, edge_lag_}))
    len *= 2;
  mask_ = len - 1;
  zin_.resize(len);
  turn_.resize(len);
}

void StationModel::reset() {
  firfilt_crcf_reset(edge_.get());
  std::fill(zin_.begin(), zin_.end(), cfloat{});
  std::fill(turn_.begin(), turn_.end(), cfloat{});
  spin_ = step_ = back_ = 1;
  step_rad_ = 0;
  carrier_z_ = 0;
  carrier_n_ = 0;
  aprev_ = 0;
  mdown_ = false;
  nedges_ = 0;
  resting_ = false;
  std::fill(std::begin(mark_sum_), std::end(mark_sum_), std::complex<double>{});
  std::fill(std::begin(mark_n_), std::end(mark_n_), 0);
}

// After rest(): the edge filter holds the kept envelope of the last taps
// ticks, each turned back by the tone's offset as it stood then, and the
// model's key state is what the filter shows now.
void StationModel::wake(long long t, double floor) {
  resting_ = false;
  spin_ /= std::sqrt(std::norm(spin_));
  firfilt_crcf_reset(edge_.get());
  const std::complex<double> back = std::conj(step_);
  std::complex<double> s = spin_;  // the offset turned up to tick t - 1
  for (int j = 1; j < taps_; j++)
    s *= back;
  for (int j = taps_; j >= 1; j--) {
    const cfloat z = zin_[(t - j) & mask_];
    const std::complex<double> r = std::complex<double>(z.real(), z.imag()) * std::conj(s);
    firfilt_crcf_push(edge_.get(),
                      cfloat(static_cast<float>(r.real()), static_cast<float>(r.imag())));
    s *= step_;
  }
  cfloat e;
  firfilt_crcf_execute(edge_.get(), &e);
  aprev_ = std::sqrt(std::norm(std::complex<double>(e.real(), e.imag())));
  const double half = std::max(0.5 * std::sqrt(std::norm(carrier_z_)), 2 * std::sqrt(floor));
  mdown_ = aprev_ > half;
}

void StationModel::set_offset(double off) {
  if (std::abs(off - step_rad_) > 1e-3) {
    step_rad_ = off;
    step_ = std::polar(1.0, off);
    back_ = std::polar(1.0, -off * static_cast<double>(sub_lag_ - edge_lag_));
  }
}

void StationModel::step(long long t, cfloat z_in, cfloat turn, double floor) {
  if (resting_) wake(t, floor);
  const int m = mask_;
  zin_[t & m] = z_in * turn;
  turn_[t & m] = turn;
  spin_ *= step_;
  spin_ /= std::sqrt(std::norm(spin_));
  const cfloat z = zin_[t & m];
  const std::complex<double> r = std::complex<double>(z.real(), z.imag()) * std::conj(spin_);
  cfloat e;
  firfilt_crcf_push(edge_.get(),
                    cfloat(static_cast<float>(r.real()), static_cast<float>(r.imag())));
  firfilt_crcf_execute(edge_.get(), &e);
  const double a = std::sqrt(std::norm(std::complex<double>(e.real(), e.imag())));
  const double n = floor;
  const double half = std::max(0.5 * std::sqrt(std::norm(carrier_z_)), 2 * std::sqrt(n));
  if (half > 0 && (mdown_ ? a < half : a > half)) {
    const double frac = std::clamp((half - aprev_) / (a - aprev_), 0.0, 1.0);
    const int slot = nedges_ % kEdges;
    edge_at_[slot] = static_cast<double>(t - 1 - g_) + frac;
    edge_up_[slot] = !mdown_;
    mark_sum_[slot] = 0;
    mark_n_[slot] = 0;
    nedges_++;
    mdown_ = !mdown_;
  }
  aprev_ = a;
  // The carrier at tick u: a body tick when the last known edge keyed
  // down at least interior_ticks before it.
  carrier_z_ *= step_;
  const long long u = t - edge_lag_;
  if (nedges_ > 0) {
    const int last = (nedges_ - 1) % kEdges;
    if (edge_up_[last] && edge_at_[last] <= static_cast<double>(u - p_.interior_ticks)) {
      const cfloat b = zin_[u & m];
      const double w = std::max(p_.carrier_track, 1.0 / (carrier_n_ + 1));
      carrier_z_ += w * (std::complex<double>(b.real(), b.imag()) - carrier_z_);
      carrier_n_ = std::min(carrier_n_ + 1, p_.carrier_first);
      mark_sum_[last] += std::complex<double>(b.real(), b.imag()) * std::conj(spin_);
      mark_n_[last]++;
    }
  }
}

double StationModel::keyed(double at, double* apart, double half, int* mark) const {
  const int held = std::min(nedges_, kEdges);
  *apart = HUGE_VAL;
  *mark = -1;
  for (int i = 1; i <= held; i++) {
    const int slot = (nedges_ - i) % kEdges;
    const double e = edge_at_[slot];
    *apart = std::min(*apart, std::abs(at - e));
    if (e - half > at) continue;
    // The mark's key-down edge: this one, or the one before a key-up edge.
    if (edge_up_[slot])
      *mark = slot;
    else if (i < held)
      *mark = (nedges_ - i - 1) % kEdges;
    if (at >= e + half) return edge_up_[slot] ? 1 : 0;
    const double x = (at - (e - half)) / (2 * half);
    const double rc = 0.5 * (1 - std::cos(std::numbers::pi * x));
    return edge_up_[slot] ? rc : 1 - rc;
  }
  return 0;
}

double StationModel::envelope(double at, double* apart, double half) const {
  int mark = -1;
  return keyed(at, apart, half, &mark);
}

std::complex<double> StationModel::at_tick(double at, double* apart, double half,
                                           std::complex<double>* learnt_at) const {
  int mark = -1;
  const double env = keyed(at, apart, half, &mark);
  const std::complex<double> learnt = carrier_z_ * back_;
  if (learnt_at) *learnt_at = env * learnt;
  if (env == 0) return 0;
  if (mark < 0 || mark_n_[mark] < p_.mark_first) return env * learnt;
  // The mark's own carrier, turned on to the subtracted tick as the learnt
  // one is.
  return env * mark_sum_[mark] / static_cast<double>(mark_n_[mark]) * spin_ * back_;
}

}  // namespace talvo::fine
