#include "rx/fine/station_model.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace talvo::fine {

namespace {

// A raised-cosine key-down edge at tick `edge`, `half` ticks either side of
// it: the envelope (0 .. 1) at tick `at`.
double rise(double at, double edge, double half) {
  if (at <= edge - half) return 0;
  if (at >= edge + half) return 1;
  const double x = (at - (edge - half)) / (2 * half);
  return 0.5 * (1 - std::cos(std::numbers::pi * x));
}

}  // namespace

void StationModel::make(const StationModelParams& p, const ChannelDesign& d, int sub_lag) {
  p_ = p;
  g_ = static_cast<int>(d.taps.size() - 1) / 2;
  edge_lag_ = g_ + p.edge_settle_ticks;
  sub_lag_ = sub_lag;
  edge_.reset(firfilt_crcf_create(const_cast<float*>(d.taps.data()), d.taps.size()));
  taps_ = static_cast<int>(d.taps.size());
  // White noise through the short filter against through the channel filter.
  double chan = 0;
  for (const float v : d.taps)
    chan += static_cast<double>(v) * v;
  short_gain_ = 1.0 / (kShortTicks * chan);
  refine_snr_ = undb(p.refine_db);
  // The newest tick is written before the oldest read is gone: the ring
  // reaches past the farthest read (wake() reads taps_ ticks back).
  int len = 1;
  const int refine_back = edge_lag_ + p.interior_ticks + p.mark_first + kRefineReach + kShortTicks;
  while (len <= std::max({taps_, sub_lag_, edge_lag_, refine_back}))
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
  placed_ = 0;
  placed_n_ = 0;
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

std::complex<double> StationModel::own_carrier(int mark) const {
  // The sum was turned back by the offset as it stood edge_lag ticks after
  // each body tick.
  return mark_sum_[mark] / static_cast<double>(mark_n_[mark]) *
         std::polar(1.0, step_rad_ * static_cast<double>(edge_lag_));
}

double StationModel::refined(long long t, double coarse, bool up, std::complex<double> carrier,
                             double floor) const {
  const double amp = std::abs(carrier);
  if (amp * amp < refine_snr_ * floor * short_gain_) return coarse;
  // The envelope at ticks lo .. lo + kIn - 1 around the coarse edge, turned
  // so that the station stands still (as the mark's carrier was summed).
  constexpr int kOut = 2 * kRefineReach + 2;  // filtered ticks searched
  constexpr int kIn = kOut + kShortTicks - 1;
  const long long lo = static_cast<long long>(std::floor(coarse)) - kRefineReach - kShortTicks / 2;
  if (lo + kIn > t + 1) return coarse;  // not all come yet
  const std::complex<double> back = std::conj(step_);
  std::complex<double> s = spin_ / std::abs(spin_);
  for (long long j = t; j >= lo + kIn; j--)
    s *= back;
  std::complex<double> r[kIn];
  for (int i = kIn - 1; i >= 0; i--) {
    const cfloat z = zin_[(lo + i) & mask_];
    r[i] = std::complex<double>(z.real(), z.imag()) * std::conj(s);
    s *= back;
  }
  // Through the short filter, in phase with the mark's carrier: w[i] stands
  // at tick lo + i + (kShortTicks - 1) / 2.
  const std::complex<double> unit = carrier / amp;
  double w[kOut];
  std::complex<double> sum = 0;
  for (int i = 0; i < kShortTicks - 1; i++)
    sum += r[i];
  for (int i = 0; i < kOut; i++) {
    sum += r[i + kShortTicks - 1];
    w[i] = (sum * std::conj(unit)).real() / kShortTicks;
    sum -= r[i];
  }
  // Where it crosses half the carrier, nearest the coarse edge.
  const double half = 0.5 * amp;
  const double centre = static_cast<double>(lo) + (kShortTicks - 1) / 2.0;
  double best = coarse;
  double dist = p_.refine_ticks;
  bool found = false;
  for (int i = 0; i + 1 < kOut; i++) {
    const bool crosses = up ? (w[i] <= half && w[i + 1] > half) : (w[i] >= half && w[i + 1] < half);
    if (!crosses) continue;
    const double at = centre + i + (half - w[i]) / (w[i + 1] - w[i]);
    if (std::abs(at - coarse) <= dist) {
      dist = std::abs(at - coarse);
      best = at;
      found = true;
    }
  }
  if (!found) return coarse;
  // The edge placed so must fit the modelled one through the same filter,
  // within what the noise leaves: another station or codec noise near the
  // edge bends the envelope, and the coarse edge is then the better one.
  const double hf = p_.edge_half_ticks;
  double miss = 0;
  for (int i = 0; i < kOut; i++) {
    double m = 0;
    for (int k = 0; k < kShortTicks; k++) {
      const double rc = rise(static_cast<double>(lo + i + k), best, hf);
      m += up ? rc : 1 - rc;
    }
    const double d = w[i] - amp * m / kShortTicks;
    miss += d * d;
  }
  // In-phase noise through the short filter, over the carrier.
  const double sigma = std::sqrt(floor * short_gain_ / 2) / amp;
  const double allowed = std::hypot(p_.refine_misfit, p_.refine_noise * sigma);
  return std::sqrt(miss / kOut) / amp <= allowed ? best : coarse;
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
    // A key-up edge: its mark's carrier is known from the body before it.
    const int mark = (nedges_ + kEdges - 1) % kEdges;
    if (mdown_) {
      const double first = edge_at_[slot];
      if (nedges_ > 0 && mark_n_[mark] >= p_.mark_first)
        edge_at_[slot] = refined(t, first, false, own_carrier(mark), n);
      placed_n_ = std::min(placed_n_ + 1, p_.fit_edges);
      placed_ += ((edge_at_[slot] != first ? 1.0 : 0.0) - placed_) / placed_n_;
    }
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
      // The key-down edge, once its mark's carrier is known (before the
      // subtracted tick reaches it: carrier_lead_ticks).
      if (mark_n_[last] == p_.mark_first) {
        // Its phase from these few ticks, its amplitude (which other
        // stations' tones sway over so few) from the whole body of the mark
        // before.
        std::complex<double> c = own_carrier(last);
        const int before = (nedges_ + kEdges - 3) % kEdges;
        if (nedges_ >= 3 && mark_n_[before] >= p_.mark_first && std::abs(c) > 0)
          c *= std::abs(own_carrier(before)) / std::abs(c);
        edge_at_[last] = refined(t, edge_at_[last], true, c, n);
      }
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
    const double rc = rise(at, e, half);
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
