#include "rx/fine/channel_power.h"

#include <algorithm>
#include <cstdlib>

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
}

double ChannelPower::step(long long v, cfloat z) {
  const int m = kRingMask;
  const int len = static_cast<int>(taps_.size());
  hist_[pos_] = z;
  hist_[pos_ + len] = z;
  if (++pos_ == len) pos_ = 0;
  // Summed oldest first, in single precision, one product at a time.
  const cfloat* x = hist_.data() + pos_;
  const float* h = taps_.data();
  float re = 0, im = 0;
  for (int i = 0; i < len; i++) {
    re += h[i] * x[i].real();
    im += h[i] * x[i].imag();
  }
  const cfloat y(re, im);
  const double p = std::norm(std::complex<double>(y.real(), y.imag()));
  sum_short_ += p - raw_[(v - short_) & m];
  sum_long_ += p - raw_[(v - long_) & m];
  raw_[v & m] = p;
  env_[v & m] = y;
  if ((v & m) == 0) {  // once round the ring, sum afresh: no rounding drift
    sum_short_ = sum_long_ = 0;
    for (int j = 0; j < long_; j++)
      (j < short_ ? sum_short_ : sum_long_) += raw_[(v - j) & m];
    sum_long_ += sum_short_;
  }
  shrt_[(v - (short_ - 1) / 2) & m] = sum_short_ / short_;
  lng_[(v - (long_ - 1) / 2) & m] = sum_long_ / long_;
  return p;
}

}  // namespace talvo::fine
