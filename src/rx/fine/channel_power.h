// Channel power: a cluster's decimated envelope through its channel filter,
// and the power of what passes, once a tick.
//
// A sharp channel filter (a Kaiser low-pass about +-30 Hz wide, more than
// 45 dB down 50 Hz off) leaves the cluster's complex envelope at the tick
// rate; its power is taken once a tick and averaged over a short (18 ms)
// and a dash-scale (82 ms) window, each centred on its tick, for
// acquisition and the guards. Rings keep the last kRing ticks of the
// envelope, its power and both averages. The filter's design (shared by
// all clusters) also gives the noise bandwidth and the mean power of a
// coherent average of w ticks of white noise through it.
//
// A cluster asleep (watch.h) is only watched: rest() takes its envelope in
// every tick but filters it only every rest_ticks ticks, the power held in
// between (the filter passes +-30 Hz, so its power changes little over a
// few ticks). When it wakes, prime() filters again every tick still in the
// envelope's ring, and the rings stand as if it had never slept.
//
// Life cycle: design once, make per cluster, reset, step (or rest) once a
// tick.
#pragma once

#include <complex>
#include <memory>
#include <vector>

#include "rx/fine/common.h"

// liquid.h declares its complex type as std::complex<float> under C++.
#include <liquid/liquid.h>

namespace talvo::fine {

struct ChannelParams {
  double cut_hz = 29;    // Hz, channel filter's -6 dB point
  double skirt_hz = 38;  // Hz, channel filter's transition width
  double stop_db = 55;   // dB, channel filter's stop band (from 48 Hz)
  int short_ticks = 9;   // ticks in the short (element) power average, odd
  int long_ticks = 41;   // ticks in the long (dash) power average, odd
  int rest_ticks = 4;    // ticks between two filter outputs of a cluster asleep
};

// The channel filter, as every cluster uses it.
struct ChannelDesign {
  std::vector<float> taps;  // coefficients at the tick rate, summing to 1
  double bn = 0;            // Hz, noise bandwidth
  // coh_noise[w]: the mean power of the coherent average of w ticks of the
  // channel filter's envelope over white noise, as a part of the noise
  // power per tick (1 / w for independent ticks; more, as neighbouring
  // ticks are alike), w = 0 .. max_win.
  std::vector<double> coh_noise;
  double kappa = 1;  // ticks of the envelope's noise that count as one independent tick
  double rho1 = 0;   // the envelope's noise correlation one tick apart (of its power)
};
ChannelDesign design_channel(const ChannelParams& p, int max_win);

struct FirfiltDeleter {
  void operator()(firfilt_crcf_s* f) const { firfilt_crcf_destroy(f); }
};
using Firfilt = std::unique_ptr<firfilt_crcf_s, FirfiltDeleter>;

class ChannelPower {
 public:
  void make(const ChannelParams& p, const ChannelDesign& d);
  void reset();
  // Tick v's decimated envelope (less what is subtracted) in: filters it
  // and returns its power, units^2. The short and long averages then stand
  // (short_ticks - 1) / 2 and (long_ticks - 1) / 2 ticks back.
  // gain scales the filter's output (a burst blanked from its history
  // leaves a part of the taps: 1 over that part).
  double step(long long v, cfloat z, float gain = 1);
  // The same for a cluster asleep: filtered only every rest_ticks ticks.
  void rest(long long v, cfloat z, float gain = 1);
  // A cluster that rested wakes at tick v: the ticks still in the ring
  // filtered again, their powers and averages afresh.
  void prime(long long v);
  bool rested() const { return rested_; }  // rest() was called since the last prime()
  // The cluster's envelope is from the tick after v on mixed down by dw
  // more (rad per tick, tick u turned by exp(-j dw u)): what the filter
  // holds and the envelopes kept, up to tick v, are turned alike, so that
  // the filter runs on without a seam.
  void retune(long long v, double dw);

  double raw(long long t) const { return raw_[t & kRingMask]; }    // power, units^2
  double shrt(long long t) const { return shrt_[t & kRingMask]; }  // short average, units^2
  double lng(long long t) const { return lng_[t & kRingMask]; }    // long average, units^2
  cfloat env(long long t) const { return env_[t & kRingMask]; }    // envelope, units
  const double* shrt_ring() const { return shrt_.data(); }         // [t & kRingMask]: shrt(t)

 private:
  int short_ = 9;  // ticks in the short average
  int long_ = 41;  // ticks in the long average
  // The channel filter at the tick rate: its taps newest last, and the
  // last taps_ envelopes written twice (at pos_ and pos_ + taps) so that
  // they always stand oldest first at hist_ + pos_.
  std::vector<float> taps_;
  std::vector<cfloat> hist_;
  int pos_ = 0;               // slot of the oldest envelope
  std::vector<double> raw_;   // ring: envelope power per tick, units^2
  std::vector<double> shrt_;  // ring: short average centred on the tick, units^2
  std::vector<double> lng_;   // ring: long average centred on the tick, units^2
  std::vector<cfloat> env_;   // ring: complex envelope per tick, units
  double sum_short_ = 0;      // the newest short_ raw powers summed, units^2
  double sum_long_ = 0;       // the newest long_ raw powers summed, units^2
  int rest_ = 4;              // ticks between two filter outputs while resting
  std::vector<cfloat> zin_;   // ring: envelope per tick before the filter, units
  bool rested_ = false;       // rest() was called since the last prime()
  double held_p_ = 0;         // resting: the last power filtered, units^2
  cfloat held_y_{};           // resting: the last filter output, units

  void push(long long v, cfloat z);     // z into the filter's history and the ring
  cfloat filtered() const;              // the filter's output over its history
  void average(long long v, double p);  // tick v's power p into the rings and averages
};

// Inline: these run once a tick on every cluster.
inline void ChannelPower::push(long long v, cfloat z) {
  const int len = static_cast<int>(taps_.size());
  hist_[pos_] = z;
  hist_[pos_ + len] = z;
  if (++pos_ == len) pos_ = 0;
  zin_[v & kRingMask] = z;
}

inline cfloat ChannelPower::filtered() const {
  // Summed oldest first, in single precision, one product at a time.
  const int len = static_cast<int>(taps_.size());
  const cfloat* x = hist_.data() + pos_;
  const float* h = taps_.data();
  float re = 0, im = 0;
  for (int i = 0; i < len; i++) {
    re += h[i] * x[i].real();
    im += h[i] * x[i].imag();
  }
  return cfloat(re, im);
}

inline void ChannelPower::average(long long v, double p) {
  const int m = kRingMask;
  sum_short_ += p - raw_[(v - short_) & m];
  sum_long_ += p - raw_[(v - long_) & m];
  raw_[v & m] = p;
  if ((v & m) == 0) {  // once round the ring, sum afresh: no rounding drift
    sum_short_ = sum_long_ = 0;
    for (int j = 0; j < long_; j++)
      (j < short_ ? sum_short_ : sum_long_) += raw_[(v - j) & m];
    sum_long_ += sum_short_;
  }
  shrt_[(v - (short_ - 1) / 2) & m] = sum_short_ / short_;
  lng_[(v - (long_ - 1) / 2) & m] = sum_long_ / long_;
}

inline double ChannelPower::step(long long v, cfloat z, float gain) {
  push(v, z);
  const cfloat y = gain == 1 ? filtered() : filtered() * gain;
  const double p = std::norm(std::complex<double>(y.real(), y.imag()));
  env_[v & kRingMask] = y;
  average(v, p);
  return p;
}

inline void ChannelPower::rest(long long v, cfloat z, float gain) {
  push(v, z);
  rested_ = true;
  if (v % rest_ == 0) {
    held_y_ = gain == 1 ? filtered() : filtered() * gain;
    held_p_ = std::norm(std::complex<double>(held_y_.real(), held_y_.imag()));
  }
  env_[v & kRingMask] = held_y_;
  average(v, held_p_);
}

}  // namespace talvo::fine
