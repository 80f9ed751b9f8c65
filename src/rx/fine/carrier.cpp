#include "rx/fine/carrier.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace talvo::fine {

void Carrier::make(const CarrierParams& p, const ChannelDesign& d, int max_half) {
  p_ = p;
  coh_noise_ = d.coh_noise.data();
  max_win_ = 2 * max_half + 1;
  learn_ = undb(p.learn_db);
  burst_hold_ = undb(p.hold_db);
}

void Carrier::reset() {
  forget_station();
  still_ = 1;
  phase_ = 0;
  freq_ = 0;
  last_end_ = 0;
}

void Carrier::forget_station() {
  rot_ = 0;
  rot_n_ = 0;
  rot_w_ = 0;
  fix_n_ = 0;
  heard_ = 0;
  heard_w_ = 0;
  heard_n_ = 0;
  phase_n_ = 0;
  carrier_ = 0;
  last_mark_ = 0;
  last_steady_ = false;
  hold_ = 1;
}

ElementStat Carrier::step(long long at, bool clear, double n, double unit, double level,
                          const ChannelPower& power, const Impulses* imp) {
  ElementStat r;
  // A weak station needs all the window its dots allow; a strong one
  // keeps a shorter window, whose marks follow a fast fade more closely.
  const double csnr = carrier_ > 0 ? db(carrier_ / n) : p_.strong_db;
  const double match =
      p_.match + (p_.weak_match - p_.match) *
                     std::clamp((p_.strong_db - csnr) / (p_.strong_db - p_.weak_db), 0.0, 1.0);
  int win = std::clamp(static_cast<int>(unit * match), p_.min_win_ticks, p_.max_win_ticks) | 1;
  win = std::min(win, max_win_);
  const int h = win / 2;
  // The offset is used once enough of the marks measured it, and only
  // within the channel filter (a wrong one would cancel the marks that
  // measure it).
  if (rot_n_ >= p_.tone_ticks && rot_ != rot_seen_) {
    rot_seen_ = rot_;
    rot_arg_ = std::arg(rot_);
  }
  double wrot = rot_n_ >= p_.tone_ticks ? rot_arg_ : 0.0;
  if (std::abs(wrot) > 2 * std::numbers::pi * p_.max_offset_hz / kTickRate) wrot = 0;
  const std::complex<double> step = back_.of(-wrot);
  std::complex<double> ph = start_.of(wrot * h), acc = 0, older = 0;
  // Ticks under a burst weigh by how much they still tell (impulses.h):
  // wa and wb are the weights of the older half and of the rest, 1 a tick
  // where there is none.
  const bool masked = imp && imp->any() && imp->blanked(at - h, at + h) > 0;
  double wa = h, wb = h + 1;
  if (!masked) {
    for (int j = -h; j <= h; j++) {
      const cfloat e = power.env(at + j);
      acc += std::complex<double>(e.real(), e.imag()) * ph;
      ph *= step;
      if (j == -1) older = acc;
    }
  } else {
    wa = wb = 0;
    for (int j = -h; j <= h; j++) {
      const double w = imp->weight(at + j);
      const cfloat e = power.env(at + j);
      acc += std::complex<double>(e.real(), e.imag()) * ph * w;
      (j < 0 ? wa : wb) += w;
      ph *= step;
      if (j == -1) older = acc;
    }
  }
  if (phase_n_ < p_.phase_ticks) freq_ = wrot;
  still_ *= still_step_.of(-freq_);
  still_ /= std::sqrt(std::norm(still_));
  const double wt = wa + wb;  // the window's ticks, as weighed
  const double tiny = 1e-3;   // weight of a window, or a half, that tells nothing
  if (wt < tiny) {
    r.held = true;
    r.nd = n * coh_noise_[win] * (phase_n_ >= p_.phase_ticks ? p_.along_noise : 1.0);
    r.win = win;
    r.csnr = csnr;
    r.along = phase_n_ >= p_.phase_ticks ? std::sqrt(std::norm(phase_)) : 0.0;
    return r;
  }
  double pd = std::norm(acc) / (wt * wt);
  // The window lies in a mark's body when both its halves hold the
  // key-down level (on a key edge's ramp one half falls short). A tick of
  // weight w holds noise of 1 / w times the floor's: the weighed sum's
  // noise goes as its weight.
  bool body = false;
  if (wa > tiny && wb > tiny) {
    const double pa = std::norm(older) / (wa * wa);
    const double pb = std::norm(acc - older) / (wb * wb);
    const double slack =
        masked ? coh_noise_[std::max(h, 1)] * h / std::min(wa, wb) : coh_noise_[std::max(h, 1)];
    body = std::min(pa, pb) + p_.slack * n * slack > p_.flat * std::max(pa, pb);
  }
  double nd = masked ? n * coh_noise_[win] * win / wt : n * coh_noise_[win];
  // The carrier's phase, held still by turning back the tone's offset
  // tick by tick, is learnt on the ticks whose power stands well over the
  // noise and near the key-down level, once the cluster's own station has
  // keyed (not from a neighbour's leakage before it); with it the
  // statistic is the part of the window's average along the carrier
  // (squared where positive): all of the carrier, half of the noise.
  const std::complex<double> zs = acc / wt * still_;
  if (clear && !masked && carrier_ > 0 && pd > p_.interior * level && pd > nd * learn_) {
    if (phase_n_ >= p_.phase_ticks) {
      const double lim = 2 * std::numbers::pi * p_.max_offset_hz / kTickRate;
      freq_ = std::clamp(freq_ + p_.freq_track * std::arg(zs * std::conj(phase_)), -lim, lim);
    }
    phase_ += p_.phase_track * (zs - phase_);
    phase_n_ = std::min(phase_n_ + 1, p_.phase_ticks);
  }
  const bool use = along() && std::norm(phase_) > 0;
  if (use) {
    const double x = (zs * std::conj(phase_)).real() / std::sqrt(std::norm(phase_));
    pd = x > 0 ? x * x : 0;
    nd *= p_.along_noise;
  }
  // Under a burst, a window whose noise stands too near the carrier's
  // power (or, before any carrier, mostly under it) cannot tell a mark
  // from a gap: the cluster holds its key state.
  if (masked) r.held = carrier_ > 0 ? carrier_ < nd * burst_hold_ : 2 * wt < win;
  r.pd = pd;
  r.nd = nd;
  r.body = body;
  r.win = win;
  r.csnr = csnr;
  r.along = use ? std::sqrt(std::norm(phase_)) : 0.0;
  return r;
}

// The envelope at tick `at` times the conjugate of the one before: its
// phase is the tone's advance over a tick.
static std::complex<double> lag_product(const ChannelPower& power, long long at) {
  const cfloat a = power.env(at), b = power.env(at - 1);
  return {a.real() * b.real() + a.imag() * b.imag(), a.imag() * b.real() - a.real() * b.imag()};
}

void Carrier::learn_tone(const ChannelPower& power, long long at, bool settled) {
  rot_n_ = std::min(rot_n_ + 1, p_.tone_ticks);
  if (!settled) return;
  const std::complex<double> v = lag_product(power, at);
  rot_ += p_.tone_track * (v - rot_);
  rot_w_ += p_.tone_track * (1 - rot_w_);
  fix_n_ = std::min(fix_n_ + 1, p_.tone_ticks_fix);
}

void Carrier::hear(const ChannelPower& power, long long at) {
  const std::complex<double> v = lag_product(power, at);
  heard_ += p_.tone_track * (v - heard_);
  heard_w_ += p_.tone_track * (1 - heard_w_);
  heard_n_ = std::min(heard_n_ + 1, p_.hear_ticks);
}

double Carrier::offset(double n, double rho1) const {
  std::complex<double> r;
  if (fix_n_ >= p_.tone_ticks_fix)
    r = rot_ - rot_w_ * n * rho1;
  else if (heard_n_ >= p_.hear_ticks)
    r = heard_ - heard_w_ * n * rho1;
  return std::norm(r) > 0 ? std::arg(r) : 0.0;
}

void Carrier::retune(double dw, long long at) {
  const double two_pi = 2 * std::numbers::pi;
  rot_ *= std::polar(1.0, -dw);
  heard_ *= std::polar(1.0, -dw);
  freq_ -= dw;
  still_ *= std::polar(1.0, std::remainder(dw * static_cast<double>(at), two_pi));
}

void Carrier::learn_mark(int run, double unit, long long at, double n, const ChannelPower& power,
                         bool afresh, const Impulses* imp) {
  if (afresh) forget_station();
  if (run >= std::max(static_cast<double>(p_.report_min_ticks), p_.report_dots * unit)) {
    const int len = std::min(run, p_.report_max_ticks);
    double a = 0;
    int cnt = 0;
    // The mark's mean envelope held still as the statistic holds it: tick
    // u turned back by `still` as it stood then, freq_ a tick later each;
    // the ticks a burst blanked measure neither.
    std::complex<double> z = 0;
    const long long from = at - len + len / 4;
    std::complex<double> s = still_ * std::polar(1.0, freq_ * static_cast<double>(at - from));
    const std::complex<double> step = std::polar(1.0, -freq_);
    for (long long u = from; u < at - len / 4; u++, s *= step) {
      if (imp && imp->any() && imp->blank(u)) continue;
      a += power.raw(u);
      const cfloat e = power.env(u);
      z += std::complex<double>(e.real(), e.imag()) * s;
      cnt++;
    }
    const double carrier = cnt > 0 ? a / cnt - n : 0.0;
    if (carrier > 0)
      carrier_ = carrier_ > 0 ? carrier_ * std::pow(carrier / carrier_, p_.report_track) : carrier;
    // Its phase against the last mark's, when both were steady tones of an
    // element's length, one character's elements apart.
    const double r = run / unit;
    const bool element = r <= p_.dot_max || (r >= p_.dash_min && r <= p_.dash_max);
    const bool steady =
        element && rot_n_ >= p_.tone_ticks && a > 0 && std::norm(z) >= p_.steady * a * cnt;
    const bool next = at - run - last_end_ <= p_.pair_gap * unit;
    const double mag = std::sqrt(std::norm(z) * std::norm(last_mark_));
    if (steady && last_steady_ && next && mag > 0)
      hold_ += p_.hold_track * ((z * std::conj(last_mark_)).real() / mag - hold_);
    last_mark_ = z;
    last_steady_ = steady;
    last_end_ = at;
  }
}

}  // namespace talvo::fine
