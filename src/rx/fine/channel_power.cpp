#include "rx/fine/channel_power.h"

#include <algorithm>
#include <cstdlib>
#include <numbers>

#include "rx/fine/channeliser.h"

namespace talvo::fine {

ChannelDesign design_channel(const ChannelParams& p, int max_win) {
  ChannelDesign d;
  d.taps = kaiser(p.cut_hz / kTickRate, p.skirt_hz / kTickRate, p.stop_db);
  double sum2 = 0;
  for (float v : d.taps)
    sum2 += static_cast<double>(v) * v;
  d.bn = sum2 * kTickRate;  // taps sum to 1
  // The envelope's noise at the tick rate is white before the channel
  // filter, so its autocorrelation is that of the taps.
  const int len = static_cast<int>(d.taps.size());
  std::vector<double> rho(max_win, 0.0);
  for (int lag = 0; lag < max_win; lag++) {
    for (int i = 0; i + lag < len; i++)
      rho[lag] += static_cast<double>(d.taps[i]) * d.taps[i + lag];
    rho[lag] /= sum2;
  }
  d.coh_noise.assign(max_win + 1, 1.0);
  for (int w = 1; w <= max_win; w++) {
    double v = 0;
    for (int i = 0; i < w; i++)
      for (int j = 0; j < w; j++)
        v += rho[std::abs(i - j)];
    d.coh_noise[w] = v / (static_cast<double>(w) * w);
  }
  d.kappa = max_win * d.coh_noise[max_win];
  d.rho1 = max_win > 1 ? rho[1] : 0.0;
  return d;
}

void ChannelPower::make(const ChannelParams& p, const ChannelDesign& d) {
  short_ = p.short_ticks;
  long_ = p.long_ticks;
  // Applied to the history oldest first: the taps reversed.
  taps_.assign(d.taps.rbegin(), d.taps.rend());
  hist_.resize(2 * taps_.size());
  raw_.resize(kRing);
  shrt_.resize(kRing);
  lng_.resize(kRing);
  env_.resize(kRing);
  zin_.resize(kRing);
  rest_ = p.rest_ticks;
}

void ChannelPower::reset() {
  std::fill(hist_.begin(), hist_.end(), cfloat{});
  pos_ = 0;
  std::fill(raw_.begin(), raw_.end(), 0.0);
  std::fill(shrt_.begin(), shrt_.end(), 0.0);
  std::fill(lng_.begin(), lng_.end(), 0.0);
  std::fill(env_.begin(), env_.end(), cfloat{});
  sum_short_ = 0;
  sum_long_ = 0;
  std::fill(zin_.begin(), zin_.end(), cfloat{});
  rested_ = false;
  held_p_ = 0;
  held_y_ = cfloat{};
}

void ChannelPower::retune(long long v, double dw) {
  const int len = static_cast<int>(taps_.size());
  const double two_pi = 2 * std::numbers::pi;
  // exp(-j dw u) for u from `from` on, one tick at a time.
  const auto turns = [&](long long from) {
    return std::polar(1.0, -std::remainder(dw * static_cast<double>(from), two_pi));
  };
  const std::complex<double> step = std::polar(1.0, -dw);
  // The filter's history: slot pos_ + i holds tick v - len + 1 + i.
  std::complex<double> t = turns(v - len + 1);
  for (int i = 0; i < len; i++, t *= step) {
    const int j = (pos_ + i) % len;
    hist_[j] *= cfloat(t);
    hist_[j + len] = hist_[j];
  }
  // The rings: the ticks v - kRing + 1 .. v.
  t = turns(v - kRing + 1);
  for (long long u = v - kRing + 1; u <= v; u++, t *= step) {
    zin_[u & kRingMask] *= cfloat(t);
    env_[u & kRingMask] *= cfloat(t);
  }
  held_y_ *= cfloat(turns(v));
}

void ChannelPower::prime(long long v) {
  rested_ = false;
  const int m = kRingMask;
  const int len = static_cast<int>(taps_.size());
  // The ticks whose whole filter history is still in the envelope's ring.
  const long long first = std::max(0LL, v - (kRing - len - 1));
  for (long long u = first; u <= v; u++) {
    float re = 0, im = 0;
    for (int i = 0; i < len; i++) {
      const long long w = u - (len - 1) + i;
      const cfloat x = w < 0 ? cfloat{} : zin_[w & m];
      re += taps_[i] * x.real();
      im += taps_[i] * x.imag();
    }
    env_[u & m] = cfloat(re, im);
    raw_[u & m] = std::norm(std::complex<double>(re, im));
  }
  // The averages whose windows lie within the ticks filtered again.
  for (int pass = 0; pass < 2; pass++) {
    const int w = pass == 0 ? short_ : long_;
    std::vector<double>& ring = pass == 0 ? shrt_ : lng_;
    double sum = 0;
    for (long long u = first; u <= v; u++) {
      sum += raw_[u & m] - (u - w >= first ? raw_[(u - w) & m] : 0.0);
      if (u - w + 1 >= first) ring[(u - (w - 1) / 2) & m] = sum / w;
    }
    (pass == 0 ? sum_short_ : sum_long_) = sum;
  }
}

}  // namespace talvo::fine
