// The fine receive front end: audio in, a key state per cluster and tick out.
//
// Clusters sit on a grid of centre frequencies (50 Hz apart, typically). The
// front end works in three stages that all run at fixed decimations, so every
// cluster ticks at the same moment, once every samples_per_tick() input frames:
//
//  1. Band stage, shared by all clusters: the input (real, or complex I/Q) is
//     mixed down by the middle of the clusters' span and decimated by a
//     Kaiser low-pass to a rate that just holds the span.
//  2. Cluster stage: each cluster mixes the band down by its own offset and
//     decimates to the tick rate, then a sharp channel filter (a Kaiser
//     low-pass about +-30 Hz wide, more than 45 dB down 50 Hz off) leaves the
//     cluster's complex envelope; its power is taken once a tick.
//  2a. Subtraction. Filtering cannot part a weak station from the keying
//     sidebands of a strong one 50 Hz away (about -15 dB in the channel at
//     the strong one's key edges). So each cluster whose station stands well
//     over the noise (12 dB in the channel), is not itself beside a station
//     6 dB stronger, and lies within 25 Hz of its centre, keeps a model of
//     it: its key edges, found where its envelope (turned by the measured
//     tone, through a copy of the channel filter) crosses half the key-down
//     carrier, between ticks; the key-down carrier's amplitude and phase,
//     measured on the bodies of its marks; raised-cosine edges of 5 ms. The
//     model is subtracted, sub_lag ticks (62 ms) behind the input, from the
//     envelope of every cluster within 75 Hz whose own reach (25 Hz and 5 Hz
//     spare) does not hold the station, and the stages below judge what is
//     left. A clean station leaves about -52 dB instead of -15 dB.
//  3. Key decision: the complex envelope, turned back by the tone's offset
//     from the centre as measured on the marks, is averaged coherently over
//     0.6 of a dot of the speed the cluster has measured from its own marks
//     (a strong station, 12 dB over the channel's noise) to 0.9 of one (a
//     weak one, 6 dB), 9 to 41 ticks, centred on the tick being judged. The
//     dot length is the one that best explains the recent marks' lengths as
//     dots and dashes (the short pieces of broken marks have no dashes three
//     times as long). Its power is the element statistic, whose noise part
//     follows from the noise floor and the channel filter's autocorrelation;
//     once the carrier's phase (held still by turning back the offset tick
//     by tick, at a rate a slow loop keeps on the carrier) is learnt on the
//     marks, the statistic is the average's part
//     along the carrier, squared where positive: all of the carrier, half
//     of the noise (taken as 0.6 of it, the phase being learnt in noise).
//     The power is also averaged over a short (18 ms) and a dash-scale
//     (82 ms) window for acquisition and the guards. Each cluster measures
//     its own noise floor (the 30th percentile, scaled to the mean, of the
//     power of the 20 ms blocks lying more than 40 ms from any key-down
//     tick, over the last 3 s of such blocks) and its own key-down level
//     (the element statistic while keyed, following the level within an
//     element; it sinks only where both halves of the window hold alike, so
//     a mark's falling edge does not pull it down and lengthen the mark).
//     Nothing is absolute: decisions depend on power ratios alone, so the
//     same audio at any level gives the same key states. A cluster starts
//     keying only after both averages stand clearly above the noise (which
//     noise alone practically never does), then keys while the element
//     statistic stands above a threshold half way from its noise to
//     the key-down level (at least 8 dB over its noise to start a mark,
//     5 dB to hold one), with hysteresis. A new mark's start is dated back
//     over the ticks just before it that stood nearly as high (at most
//     0.75 of a window, never within a dot of the last mark). A run, key up
//     all along, whose statistic stays within 3 dB of the start threshold
//     for 0.6 of a dot and averages within 1.5 dB of it, is keyed as well (a
//     weak dot that the noise kept under the start threshold).
//     A weak station (under 10 dB over the channel's noise, once 30 of its
//     marks have taught the dot length) is keyed instead by the most likely
//     sequence of whole runs (KeyRuns, runs.h): dots and dashes, element,
//     character and word gaps, each around its multiple of the dot, from
//     each tick's log-likelihood ratio of key down along the carrier (its
//     amplitude the mean of the ticks the runs keyed down). A
//     dash the noise dips into stays one mark, and a dot the noise pulled
//     under the threshold is found from all its ticks.
//     A station whose dashes do not lift the long average 7.5 dB over the
//     noise is acquired once its power over about a second stands 2.5 dB
//     over the noise (and over the other clusters' typical mean) and the
//     long average 5 dB.
//     A young noise floor, or one spoilt by a station keying from the
//     start, is held to 6 dB over the lower quartile of the floors of all
//     the clusters.
//  4. Guards. A tick is not clear when a cluster 50 Hz away swings (has a
//     key edge within 24 ms) more than 6 dB over this cluster's power, or
//     any other cluster more than 15 dB over it (the clicks of hard keying
//     reach across the band), or a steady carrier is 40 dB (50 Hz away) or
//     50 dB (further) over it. Beside a subtracted station whose model has
//     run a second and whose soft edges fit it better than hard ones would
//     (measured on its envelope less the other models), what is left lies
//     near the noise: the guard then lets a cluster standing 8 dB over its
//     own noise be clear (between -6 and -40 dB of the station's swing).
//     Further away the guard eases where the cluster's power shows no more
//     where it would blank than elsewhere (no clicks arrive there), to 9 dB
//     over soft keying's sidebands at that distance. A mark with fewer than four clear ticks in
//     its first 40 is taken back whole (key states wait 42 ticks for that).
//     The key level, the speed, the carrier power and the tone frequency
//     (the phase advance of the complex envelope over the middle of marks)
//     are learnt from clear ticks and marks only.
//
// The key state of a tick is decided a fixed number of ticks after the input
// that carried it (delay_ticks()); the decoder sees a constant delay.
//
// Life cycle: the constructor designs every filter and allocates everything;
// reset() returns to the state after construction; run() processes a block
// and allocates nothing.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace talvo {

struct FinePlan {
  int sample_rate = 48000;         // input frames per second
  std::vector<double> centres_hz;  // cluster centre frequencies, Hz, ascending (negative with iq)
  bool iq = false;                 // input is interleaved I/Q pairs (complex), else real
  bool subtract = true;            // strong stations are subtracted from their neighbours
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

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace talvo
