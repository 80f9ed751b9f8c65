// Group floor and risen noise: what the clusters' noise floors tell together.
//
// A cluster's noise floor is checked against the band's: the higher of the
// lower quartile of all the clusters' floors (white noise lies alike on
// every cluster) and its neighbours' noise (those two and three clusters
// away, past a station's own leakage: on each side the quieter, which a
// station on one of them does not lift, and of the two sides the louder,
// so that a slope of the receiver's filter does not count as a spoilt
// floor). A young noise floor, or one spoilt by a station keying from the
// start, is held to 6 dB over that; before a cluster has a floor of its own
// it keys against it. With the whole band's quartile alone, noise through a
// receiver's CW filter or low-pass keyed its pass band: the quartile lay in
// the stop band's digital silence, 60 dB under, and a young cluster keyed
// the noise against it, which kept its own floor from learning. The group
// also keeps the clusters' typical mean power over their floors (where the
// noise is not white, or the floor lies low, noise alone stands over it),
// which the acquisition of weak stations must exceed.
//
// The noise rose (or came after near silence) when nearly every cluster
// stands far over its floor at once and stays there, which stations, keyed
// with gaps, do not do. Then every cluster's ticks teach its floor, keyed
// or not, and the floors learnt before are forgotten: the percentile over
// them would follow only slowly, and every cluster keys noise meanwhile.
// Only clusters within a receiver's dynamic range (60 dB) of the strongest
// count: further under it lie that station's products, not noise. A noise
// that changed its colour rises by less on part of the band (pink noise
// joining white: 12-15 dB at 500 Hz, 5-6 dB at 2300 Hz), but lifts nearly
// every cluster a little nearly all the time: that tells a risen noise too,
// over a longer while (a wide span only; see RisenNoiseParams).
//
// No cluster keys against a floor more than a receiver's dynamic range (70
// dB) under the strongest carrier of the band, its own clusters' or the
// one other front ends on the band report.
//
// Both take plain per-cluster values, in cluster order.
#pragma once

#include <algorithm>
#include <span>
#include <vector>

namespace talvo::fine {

struct GroupFloorParams {
  int block_ticks = 10;            // ticks between two estimates (one noise block)
  int start_blocks = 5;            // blocks before a cluster's floor counts for the group
  int min_blocks = 25;             // blocks before a cluster trusts its own noise floor
  int slow_blocks = 75;            // blocks before a cluster's mean power counts
  double floor_cap_db = 6;         // own floor at most this far above the band's, dB
  int near_from = 2;               // nearest neighbour that counts, clusters away
  int near_to = 3;                 // furthest neighbour that counts, clusters away
  double group_percentile = 0.25;  // the group's floor: this fraction of floors below
  // No cluster keys against a floor further under the strongest carrier
  // of the band (in the channel filter) than a receiver's dynamic range.
  // A noise-free recording (a practice MP3, 16-bit) leaves its station's
  // products 70-95 dB under it on every cluster, over the floors of
  // digital silence: at 0.3 of full scale they printed fragments on one to
  // three clusters 600-2000 Hz away (up to 740 characters on a 250-3500 Hz
  // span), on the groups of front ends that do not hold the station
  // (set_band()). With exact mixers, the MP3's own noise stood 72 dB
  // under it on a group without the station, over a floor 75 dB under,
  // and keyed a quarter of the ticks. A station 60 dB over the noise in
  // 500 Hz stands some 69 dB over it in the channel, and does not lift
  // the floors.
  double range_db = 70;
};

class GroupFloor {
 public:
  void make(const GroupFloorParams& p, int clusters);
  void reset();
  // The noise floor cluster q keys against, units^2 (0: none yet), from
  // its own (noise, units^2, from `blocks` blocks).
  double floor_of(int q, double noise, int blocks) const {
    const double band = std::max(floor_, near_[q]);
    double n = blocks >= p_.min_blocks ? noise : band;
    if (band > 0) n = std::min(n, band * cap_);
    return n > 0 ? std::max(n, range_floor_) : n;
  }
  // Tick `at` judged: every block_ticks the group's floor and mean power
  // are estimated afresh from each cluster's noise floor (units^2), its
  // blocks and its mean power (units^2).
  // carrier: each cluster's carrier power of its recent marks (units^2, 0:
  // none yet).
  void step(long long at, std::span<const double> noise, std::span<const int> blocks,
            std::span<const double> slow, std::span<const double> carrier) {
    if (due(at)) estimate(noise, blocks, slow, carrier);
  }
  // Whether step() at tick `at` reads the clusters' values at all.
  bool due(long long at) const { return at % p_.block_ticks == 0; }
  void forget();

  double floor() const { return floor_; }          // the lower quartile of the floors, units^2
  double strongest() const { return strongest_; }  // the strongest cluster's carrier, units^2
  // The strongest carrier other front ends on the band hear (units^2).
  void set_band(double carrier) {
    band_ = carrier;
    set_range_floor();
  }
  double slow() const { return slow_; }  // the median mean power over the floors (>= 1)

 private:
  void set_range_floor() { range_floor_ = std::max(strongest_, band_) * range_; }
  void estimate(std::span<const double> noise, std::span<const int> blocks,
                std::span<const double> slow, std::span<const double> carrier);
  void estimate_near(std::span<const double> noise, std::span<const int> blocks);

  GroupFloorParams p_;
  double cap_ = 1;              // floor_cap_db as a power ratio
  double floor_ = 0;            // the lower quartile of the clusters' noise floors, units^2
  double range_ = 1;            // -range_db as a power ratio
  double strongest_ = 0;        // the strongest cluster's carrier, units^2 (0: none yet)
  double band_ = 0;             // the strongest on the band, as set_band() told it, units^2
  double range_floor_ = 0;      // the stronger of those range_db down, units^2 (0: none)
  double slow_ = 1;             // the median of the clusters' mean power over their floors
  std::vector<double> near_;    // [q]: its neighbours' noise, units^2 (0: none yet)
  std::vector<double> floors_;  // scratch for both
};

struct RisenNoiseParams {
  double rose_db = 10;     // over its floor, a cluster that counts towards a risen noise, dB
  double share = 0.9;      // part of the clusters that must, for the noise to have risen
  int min_clusters = 5;    // fewest clusters that tell a risen noise
  int run_ticks = 40;      // ticks in a row that tell a risen noise
  int forget_ticks = 500;  // ticks without a risen noise before one forgets the floors
  // A cluster whose power lies further under the strongest cluster's
  // counts not: a receiver's dynamic range. A noise-free recording of a
  // strong station leaves its products (clicks, a codec's noise) 40-80 dB
  // under it on every cluster, far over the floors of digital silence,
  // and took the station's own marks back as a risen noise.
  double range_db = 60;
  // A gentler rise over a while: the share of the clusters whose long
  // average stands gentle_db over their floors but under gentle_cap_db,
  // its mean over gentle_ticks, reaches gentle_share. Measured (that mean,
  // on the default span's two groups of 26 and 27 clusters): pink noise
  // joining white, white noise rising 8 dB, 1.00 within 0.5 s; white
  // noise rising 5 dB 0.92 (its clusters' own test tells it, seconds
  // later); noise alone 0.1-0.2; a contest band of 24 stations 60-80 Hz
  // apart up to 0.82 in its first 3 s while the floors are young, 0.60
  // later, the contest bench's 10 runners and 10 callers 0.73, the bundled
  // sample's pileup 0.78; speech 10 dB over two stations 0.90; crashes,
  // whose ticks restart the while, 0.42. On the short averages the share
  // swings with the noise (white noise rising 8 dB lifted 0.85-0.92 of the
  // clusters 2 dB). A station keys its marks far over the cap: a station
  // on every 50 Hz of the span, 30 dB over the noise, lifted every cluster
  // between the marks too, and fired it without one. Only on
  // gentle_clusters or more: on nine clusters the bundled sample's
  // stations lift nearly all of them. What the floors keyed in the while's
  // first ticks has left by then; the decoder holds a signal's first
  // characters until they read as Morse.
  double gentle_db = 2;
  double gentle_cap_db = 25;
  double gentle_share = 0.97;
  int gentle_ticks = 100;
  int gentle_clusters = 20;
};

class RisenNoise {
 public:
  struct Result {
    bool rose = false;    // the tick judged lies far over the floor on nearly every cluster
    bool forget = false;  // the floors learnt before are to be forgotten now
  };
  void make(const RisenNoiseParams& p);
  void reset();
  // One tick judged: each cluster's floor (units^2, 0: none), short and
  // long average power (units^2); burst: the short average reaches a tick
  // under a band-wide burst (impulses.h), which tells no risen noise.
  Result step(std::span<const double> floor, std::span<const double> power,
              std::span<const double> lng, bool burst = false);
  bool rose() const { return rose_; }

 private:
  RisenNoiseParams p_;
  double rose_ratio_ = 1;     // rose_db as a power ratio
  double range_ = 1;          // -range_db as a power ratio
  bool rose_ = false;         // the tick judged lies far over the floor on nearly every cluster
  long long since_rose_ = 0;  // ticks judged since `rose_` last held
  int rose_run_ = 0;          // ticks in a row on which nearly every cluster stood high
  double gentle_ratio_ = 1;   // gentle_db as a power ratio
  double gentle_cap_ = 1;     // gentle_cap_db as a power ratio
  std::vector<int> lifted_;   // ring: clusters lifted on each of the last gentle_ticks ticks
  int lifted_pos_ = 0;        // its next slot
  int lifted_n_ = 0;          // ticks in it since the last burst (or the narrow span's)
  long long lifted_sum_ = 0;  // their clusters summed
  // Whether the clusters (k of them) stood lifted over the while, with
  // `lifted` of them on this tick.
  bool gentle(int lifted, int k, bool burst);
};

}  // namespace talvo::fine
