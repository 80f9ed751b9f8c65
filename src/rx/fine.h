// The fine receive front end: audio in, a key state per cluster and tick out.
//
// Clusters sit on a grid of centre frequencies (50 Hz apart, typically).
// All decimations are fixed, so every cluster ticks at the same moment, once
// every samples_per_tick() input frames (500 ticks a second). A tick passes
// these stages (src/rx/fine/, each header opening with its account):
//
//  1. Channeliser (channeliser.h): the band mixed down and decimated once,
//     then each cluster's envelope by its own dot product. A static crash
//     across the band is told on these wide envelopes (impulses.h) and
//     blanked before the channel filters (stage 3).
//  2. Station model and subtractor (station_model.h, subtractor.h): each
//     strong station's key edges and carrier, subtracted 62 ms late from
//     its neighbours' envelopes.
//  3. Channel power (channel_power.h): the channel filter, the power per
//     tick and its short and long averages.
//  4. Noise floor (noise_floor.h, group_floor.h): each cluster's floor, the
//     group's, and a noise that rose on every cluster. Impulses
//     (impulses.h): the ticks under a static crash across the band, and
//     the weight each keeps in the coherent window (stage 7); a cluster
//     holds its key state where one buries its station.
//  5. Guards (guards.h): whether a tick is clear of the other clusters'
//     key edges and carriers.
//  6. Acquisition (acquisition.h): whether the cluster may key at all.
//  7. Carrier (carrier.h): the tone, the phase loop and the element
//     statistic over a coherent window of about a dot.
//  8. Weak runs (weak_runs.h): a weak station keyed by the most likely
//     sequence of whole runs (runs.h).
//  9. Key decision (key_decision.h): thresholds, soft dots, back-dating,
//     take-back, hold-back and the dips inside a mark (a gap that never
//     fell to the noise) keyed down; the finished marks teach the dot length
//     (dot_length.h) and the carrier's power. While a voice is in the band
//     a short mark off its cluster's tone is taken back (tone_check.h).
//
// Nothing is absolute: decisions depend on power ratios alone, so the same
// audio at any level gives the same key states. The key state of a tick is
// decided a fixed number of ticks after the input that carried it
// (delay_ticks()); the decoder sees a constant delay.
//
// Life cycle: the constructor designs every filter and allocates everything;
// reset() returns to the state after construction; run() processes a block
// and allocates nothing.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

namespace talvo {

namespace fine {
class FilterBank;
}

struct FinePlan {
  int sample_rate = 48000;  // input frames per second
  // The frames per second the input had when it was rounded to 16-bit
  // samples, before it was resampled to sample_rate (0: sample_rate). That
  // rounding noise, spread over half this rate, sets the lowest noise floor.
  int native_rate = 0;
  std::vector<double> centres_hz;  // cluster centre frequencies, Hz, ascending (negative with iq)
  bool iq = false;                 // input is interleaved I/Q pairs (complex), else real
  bool subtract = true;            // strong stations are subtracted from their neighbours
  // I/Q only: a filter bank over the whole span, shared with other front
  // ends and run over each block before this one (rx/fine/filter_bank.h);
  // the clusters take their channels from it instead of filtering the band
  // themselves. Null: this front end filters its own band.
  const fine::FilterBank* bank = nullptr;
};

class FineFrontEnd {
 public:
  static constexpr int kMaxFrames = 4096;  // most input frames one run() takes

  // Why a plan cannot be served (empty when it can): no clusters, centres not
  // ascending or closer than 20 Hz, a centre out of the band, a rate that
  // does not divide into whole ticks.
  static std::string check(const FinePlan& plan);

  // Designs the filters and allocates every buffer. Throws
  // std::invalid_argument when check(plan) is not empty.
  explicit FineFrontEnd(const FinePlan& plan);
  ~FineFrontEnd();
  FineFrontEnd(const FineFrontEnd&) = delete;
  FineFrontEnd& operator=(const FineFrontEnd&) = delete;

  void reset();  // back to the state after construction

  int clusters() const;
  double centre_hz(int q) const;      // cluster q's centre frequency, Hz
  double tick_rate() const;           // ticks per second, the same on every cluster
  int samples_per_tick() const;       // input frames per tick
  double delay_ticks() const;         // nominal delay from the input to its key state, ticks
  double noise_bandwidth_hz() const;  // noise bandwidth of a cluster's filter chain, Hz

  // Processes n input frames (n <= kMaxFrames; for iq, 2n floats, I first).
  // Input values are in 16-bit sample units (full scale 32768), but only
  // ratios matter. Allocates nothing.
  void run(const float* in, int n);

  // The ticks completed in the last run(): the t-th at frame tick_frame(t) of
  // that call (0 .. n-1).
  int ticks() const;
  int tick_frame(int t) const;
  // Key state of cluster q at tick t: 0 key up; > 0 key down, the value
  // 100 * the SNR in the cluster filter in dB (at least 1).
  double key(int q, int t) const;
  // Cluster q's envelope power at tick t, averaged over the short window and
  // aligned with key(q, t): (carrier amplitude / 2)^2 for a real tone on the
  // centre, (amplitude)^2 for a complex one; input units squared.
  double level(int q, int t) const;

  // Per cluster, as now estimated: key-down carrier power over the noise
  // power in 500 Hz, dB (-99 before the cluster ever keyed); the key-down
  // carrier amplitude and the noise floor as the standard deviation of white
  // input noise giving that floor (input units).
  double snr_db(int q) const;
  // The frequency of what cluster q keys on, Hz: its centre plus the mean
  // phase advance of its complex envelope over the middle of recent marks
  // (its centre before it ever keyed).
  double tone_hz(int q) const;
  double key_level(int q) const;
  double noise_floor(int q) const;

  // Band-wide bursts (static crashes) shared with other front ends that
  // hear the same band (impulses.h): `wide` names the test on the wide
  // envelopes (blanked before the channel filters), else the one on the
  // channel powers. The newest tick it stepped (-1: none), whether it
  // marked tick t (no older than 200 ticks before that), and the ticks from
  // `from` on that the others marked, joined to its own.
  long long burst_newest(bool wide) const;
  bool burst_marked(bool wide, long long t) const;
  void join_bursts(bool wide, long long from, std::span<const unsigned char> told);
  // The strongest carrier power of its clusters' recent marks (units^2, 0:
  // none yet), and the strongest of the whole band as other front ends on
  // it hear it: no cluster keys against a floor further under it than a
  // receiver's dynamic range (group_floor.h).
  double strongest_carrier() const;
  // Whether cluster q's station is subtracted from its neighbours with a
  // model that fits its key edges (StationModel::fits): its clicks and
  // tails are taken out of the clusters from subtract_near_hz() to
  // subtract_far_hz() off its tone (as the last block left it).
  bool taken_out(int q) const;
  static double subtract_near_hz();  // Hz off a station's tone, nearest subtracted from
  static double subtract_far_hz();   // and furthest
  void set_band_carrier(double carrier);

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace talvo
