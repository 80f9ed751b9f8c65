// Channeliser: audio in, each cluster's decimated complex envelope out.
//
// Band stage, shared by all clusters: the input (real, or complex I/Q) is
// mixed down by the middle of the clusters' span and decimated by a Kaiser
// low-pass to a rate that just holds the span. Cluster stage: each cluster
// mixes the band down by its own offset and decimates to the tick rate (one
// dot product over the shared band history with taps that carry the
// mixing, turned back once a tick). All decimations are fixed, so every
// cluster ticks at the same moment, once every spt() input frames.
//
// Filter design comes from liquid-dsp: Kaiser low-passes
// (liquid_firdes_kaiser, lengths from estimate_req_filter_len), with the
// decimator of complex input (firdecim_cccf). The band filter of real
// input (band_decimator.h) and the cluster stage add their products in
// liquid's order, several sums side by side. The mixers are exact (Mixer,
// below): liquid's oscillators take their phasors from a table, off by up
// to 0.005 (-45 dB), and that error, repeating with the phase, spread a
// station over the band in lines 50 Hz apart, 60-65 dB under it, onto the
// centres of clusters 800 Hz away (a clean recording printed its text
// again there).
//
// Life cycle: make once (designs and allocates), reset, then per block
// begin(); step() per frame, and at each completed tick cluster() once per
// cluster in order. Nothing is allocated after make.
#pragma once

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "rx/fine/band_decimator.h"
#include "rx/fine/common.h"

// liquid.h declares its complex type as std::complex<float> under C++.
#include <liquid/liquid.h>

#include "rx/fine/filter_bank.h"

namespace talvo::fine {

// A mixer's phasor, exp(-j 2 pi f n) at step n, from a phase kept in
// cycles (double precision, wrapped at each step): exact to float at any
// n. Life cycle: set, reset, then next() once a step.
class Mixer {
 public:
  void set(double cycles_per_step) { step_ = cycles_per_step - std::floor(cycles_per_step); }
  void reset() { phase_ = 0; }
  cfloat next() {
    const double a = -2 * std::numbers::pi * phase_;
    phase_ += step_;
    if (phase_ >= 1) phase_ -= 1;
    return cfloat(static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a)));
  }

 private:
  double step_ = 0;   // cycles per step, 0 .. 1
  double phase_ = 0;  // cycles at the next step, 0 .. 1
};

struct ChanneliserParams {
  double band_margin_hz = 75;      // Hz kept clean beyond the outermost centres
  double stop_db = 70;             // dB, band and cluster decimators' stop band
  double min_band_skirt_hz = 200;  // Hz, narrowest transition the band filter may have
  double cluster_cut_hz = 250;     // Hz, the cluster decimator's -6 dB point
  double cluster_skirt_hz = 350;   // Hz, its transition width
  // The decimation to the tick rate folds what stands a tick rate (500
  // Hz) from a centre onto it. The window is shaped for a deeper stop band
  // than stop_db at the length liquid estimates for stop_db: a wider skirt,
  // and a station 500 Hz away 84 dB or more under itself, not 71 (longer
  // filters spread each static crash over more ticks than blanking covers).
  double cluster_shape_db = 85;  // dB, its Kaiser window's stop band
};

// A Kaiser low-pass with unit gain at DC: -6 dB at fc, transition df (both
// relative to the sample rate), stop band as dB down. Its length is what
// liquid estimates for `as`; shape (dB, 0: as) sets the window alone, so
// that a wider skirt buys a deeper stop band at the same length.
std::vector<float> kaiser(double fc, double df, double as, double shape = 0);

class Channeliser {
 public:
  Channeliser() = default;
  Channeliser(const Channeliser&) = delete;
  Channeliser& operator=(const Channeliser&) = delete;
  ~Channeliser();

  // spt: input frames per tick; max_frames: most frames one block holds.
  void make(const ChanneliserParams& p, int sample_rate, int spt, bool iq,
            const std::vector<double>& centres, int max_frames);
  // The same cluster stage behind a filter bank shared with other front
  // ends (I/Q only): each cluster takes the channel nearest its centre, and
  // the bank's samples stand in for the band stage's.
  void make(const ChanneliserParams& p, const FilterBank& bank, int spt,
            const std::vector<double>& centres);
  void reset();

  // A block of n frames begins (without a band filter it is mixed at once).
  void begin(const float* in, int n);
  // Behind a shared bank: the frame of the block (from `from`, below n) that
  // completes the next tick, or n when none does; the channels' samples up
  // to it are taken. Frames need not be stepped one by one.
  int next_tick(int from, int n);
  bool banked() const { return bank_ != nullptr; }
  // Frame i of the block; true when it completed a tick.
  bool step(const float* in, int i);
  // At a completed tick, cluster q's decimated envelope z and the mixer's
  // phasor turn it was mixed with (call once per cluster, in order).
  void cluster(int q, cfloat* z, cfloat* turn);
  // The same for every cluster at once (z[q], turn[q]; the same values):
  // the clusters that share a history four at a time, side by side.
  void clusters(cfloat* z, cfloat* turn);

  int d1() const { return d1_; }
  int d2() const { return d2_; }
  double band_rate() const { return band_rate_; }
  double band_mid() const { return band_mid_; }
  int cluster_taps() const { return static_cast<int>(clu_taps_.size()); }
  // Input frames from the input to the decimated envelope (the two
  // decimators' group delays).
  double delay_frames() const;
  // rad per band sample by which cluster stage for a centre mixes.
  double mixing(double centre) const;

 private:
  ChanneliserParams p_;
  int sample_rate_ = 0;          // input frames per second
  bool iq_ = false;              // input is interleaved I/Q pairs
  int d1_ = 1;                   // band stage decimation (1: no band filter)
  int d2_ = 2;                   // cluster stage decimation, d1 * d2 = spt
  double band_rate_ = 0;         // Hz, band stage output rate
  double band_mid_ = 0;          // Hz, frequency the band stage mixes to 0
  std::vector<double> centres_;  // Hz, cluster centres
  // With d1 > 1 the band filter's taps carry the mixing (h[k] exp(j w k)),
  // and the decimated output is turned back by exp(-j w n) at the band rate:
  // no oscillator runs at the input rate. With d1 = 1 the input is mixed.
  // With a shared bank: the channels the clusters take, each with a
  // history like hist_ (at ch * 2 * len), and the frames since reset.
  const FilterBank* bank_ = nullptr;
  std::vector<int> bank_ch_;  // [i]: the bank's channel of local channel i
  std::vector<int> clu_ch_;   // [q]: cluster q's local channel
  std::vector<cfloat> bank_hist_;
  long long frame_ = 0;  // input frames since reset
  int lead_ = 0;         // frames the bank's samples lag the input
  // Behind the bank each cluster turns by a whole number of thousandths of
  // a turn per tick (centres are whole Hz, ticks 500 a second): the turns
  // from a table instead of an oscillator.
  std::vector<cfloat> turns_;   // [i]: exp(-j 2 pi i / 1000)
  std::vector<int> turn_step_;  // [q]: thousandths of a turn per tick
  std::vector<int> turn_at_;    // [q]: the table entry of the next tick
  bool bank_step();
  bool bank_sample();
  Mixer band_turn_;                  // turns by -band_mid (per band sample, or per frame)
  BandDecimator band_real_;          // real input: band filter, cosine- and sine-weighted taps
  firdecim_cccf band_iq_ = nullptr;  // complex input: band filter, complex taps
  std::vector<float> band_taps_;     // the low-pass prototype, unit DC gain
  std::vector<cfloat> band_cplx_;    // complex input waiting for d1 frames (or mixed, d1 = 1)
  int band_fill_ = 0;                // complex frames waiting
  std::vector<float> clu_taps_;      // cluster decimator prototype, unit DC gain
  // The last clu_taps_.size() band samples, written twice (at pos and
  // pos + length) so that they always stand oldest first at hist + pos.
  std::vector<cfloat> hist_;
  int hist_pos_ = 0;         // slot of the oldest band sample
  int fill2_ = 0;            // band samples since the last tick
  std::vector<cfloat> dec_;  // [q * taps + k]: h[k] exp(j w k), w = mixing(centre), until
                             // laid out by quads
  std::vector<Mixer> turn_;  // [q]: turns by -w d2 per tick
  // The clusters that read one history, four at a time: each lane sums its
  // own cluster's products in the order cluster() does, so the values are
  // the same, but the four sums run side by side over one read history.
  using v4 = float __attribute__((vector_size(16)));
  struct Quad {
    int hist = 0;   // local channel read (0 without a bank)
    int q[4] = {};  // the clusters of the lanes (-1: a lane unused)
  };
  std::vector<Quad> quads_;
  std::vector<v4> quad_re_;  // [quad * taps + k]: the lanes' taps, real parts
  std::vector<v4> quad_im_;  // [quad * taps + k]: imaginary parts
  std::vector<int> lane_;    // [q]: cluster q's quad * 4 + lane
  void make_quads();
  void turn_of(int q, cfloat* turn);  // cluster q's mixer phasor at this tick, stepped on
};

// Inline: it runs once per input frame.
inline bool Channeliser::step(const float* in, int i) {
  if (bank_) return bank_step();
  cfloat u;
  if (d1_ == 1) {
    u = band_cplx_[i];
  } else if (iq_) {
    band_cplx_[band_fill_] = cfloat(in[2 * i], in[2 * i + 1]);
    if (++band_fill_ < d1_) return false;
    firdecim_cccf_execute(band_iq_, band_cplx_.data(), &u);
    band_fill_ = 0;
    u *= band_turn_.next();
  } else {
    cfloat v;
    if (!band_real_.step(&v)) return false;
    u = v * band_turn_.next();
  }
  const int len = static_cast<int>(clu_taps_.size());
  hist_[hist_pos_] = u;
  hist_[hist_pos_ + len] = u;
  if (++hist_pos_ == len) hist_pos_ = 0;
  if (++fill2_ < d2_) return false;
  fill2_ = 0;
  return true;
}

// A frame behind the shared bank: at each of its samples every channel
// taken is pushed into its history.
inline bool Channeliser::bank_step() {
  if (++frame_ <= lead_ || (frame_ - lead_) % d1_ != 0) return false;
  return bank_sample();
}

// The bank's sample made by the frame just counted.
inline bool Channeliser::bank_sample() {
  const long long j = (frame_ - lead_) / d1_ - 1;
  const int len = static_cast<int>(clu_taps_.size());
  for (std::size_t c = 0; c < bank_ch_.size(); c++) {
    const cfloat u = bank_->at(bank_ch_[c], j);
    cfloat* h = bank_hist_.data() + c * 2 * len;
    h[hist_pos_] = u;
    h[hist_pos_ + len] = u;
  }
  if (++hist_pos_ == len) hist_pos_ = 0;
  if (++fill2_ < d2_) return false;
  fill2_ = 0;
  return true;
}

}  // namespace talvo::fine
