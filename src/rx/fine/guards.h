// Guards: whether a cluster's tick is its own, clear of the other clusters.
//
// A tick is not clear when a cluster 50 Hz away swings (has a key edge within
// 24 ms) more than 6 dB over this cluster's power, or any other cluster more
// than 15 dB over it (the clicks of hard keying reach across the band), or a
// steady carrier is 40 dB (50 Hz away) or 50 dB (further) over it. Beside a
// subtracted station whose model has run a second and whose soft edges fit it
// better than hard ones would (measured on its envelope less the other models),
// what is left lies near the noise: the guard then lets a cluster standing 6 dB
// over its own noise be clear (between -6 and -40 dB of the station's swing;
// the subtractor gives that guard), if the model is subtracted from it at all
// (not on a cluster whose centre lies within own_hz of the model's tone: there
// the station itself stands, and its guard stays; from a cluster 100 Hz away,
// only where its tone lies within 85 Hz of the model's). Further away the guard eases
// where the cluster's power shows no more where it would blank than elsewhere
// (no clicks arrive there), to 9 dB over soft keying's sidebands at that
// distance (about -24 dB 100 Hz away and -30 dB 150 Hz away in the channel):
// soft_far_db less soft_far_db_per_hz per Hz, not under soft_far_min_db. The
// strict test (no easing) tells where a guard would blank, for that evidence.
// Clusters within pair_hz of each other learn it per pair (every fourth tick,
// the weight four ticks'), from the ticks where that other cluster's far guard
// alone would blank: a cluster's own evidence holds whatever any guard brings
// (its neighbours' sidebands, where a strong station 50-75 Hz away swings; in a
// contest band some guard blanks nearly always), a pair's only what that
// cluster's key edges bring (ebook2cw's +24 dB station 300 Hz away left nothing
// over the noise, and its far guard blanked a +4 dB station on most of its
// marks). Where the two stations' tones lie further apart than the centres, the
// eased guard is taken at their distance. A cluster whose tone lies nearer the
// centre of a cluster beside it, which keys on the same tone, hears that
// cluster's station, weaker: it guards nothing, the station's own cluster
// does (a contest station 14 dB over a +3 dB one 60 Hz away, heard 27 Hz off
// the centre between them, guarded the weak one's cluster as a neighbour 50 Hz
// away: 223 of its 367 marks came through, and its text never went out).
//
// Life cycle: make once, reset; per tick judged, swing() on every cluster,
// then step() on each cluster judged.
#pragma once

#include <span>
#include <vector>

#include "rx/fine/channel_power.h"
#include "rx/fine/impulses.h"

namespace talvo::fine {

struct GuardParams {
  int reach_ticks = 12;              // ticks either side searched for a key edge
  int short_half = 4;                // ticks either side a short average reaches
  double edge_db = -6;               // weakest clear level beside a neighbour's key edge, dB
  double far_edge_db = -15;          // the same for a key edge further away, dB
  double steady_db = -40;            // weakest clear level beside a steady neighbour, dB
  double far_steady_db = -50;        // the same beside a steady carrier further away, dB
  double neighbour_hz = 75;          // clusters this close are neighbours, Hz
  double subtract_hz = 75;           // a subtracted model this close sets the guard, Hz
  double settled_hz = 100;           // and a settled one this close ...
  double settled_tone_hz = 85;       // ... whose tone lies this close to the cluster's, Hz
  double own_hz = 30;                // unless its tone lies this close to the centre, Hz
  double same_hz = 20;               // two clusters' tones this close are one station, Hz
  double soft_far_db = -3;           // eased far guard extrapolated to 0 Hz, dB
  double soft_far_db_per_hz = 0.12;  // its fall, dB per Hz
  double soft_far_min_db = -45;      // its lowest, dB
  double evidence_track = 0.002;     // weight of a tick in the guarded/unguarded powers
  int evidence_ticks = 500;          // guarded ticks before the far guard may ease
  double evidence_db = 1;            // guarded over unguarded power that keeps it, dB
  double pair_hz = 1000;             // clusters this close learn the evidence per pair, Hz
};

class Guards {
 public:
  struct Result {
    bool clear = true;   // clear of every guard, as eased
    bool strict = true;  // clear of every guard without easing
  };
  void make(const GuardParams& p, std::span<const double> centres);
  void reset();
  // Cluster q's short average's extremes around the tick judged, leaving
  // out the averages that reach a tick imp marked (a burst swings every
  // cluster alike, and is no station's key edge).
  void swing(int q, const ChannelPower& power, long long at, const Impulses* imp = nullptr);
  // Cluster q's tick, its short average ps (units^2), judged against the
  // others' swings; settled[o]: cluster o's model is subtracted, settled
  // and fits, sub_guard[o] the guard beside it (power ratio), tones[o]
  // the tone it stands on (Hz; a model is not subtracted from a cluster
  // whose centre lies within own_hz of its tone, and eases no guard there;
  // the eased far guard stands at the tones' distance; empty: every model
  // is subtracted). Learns whether the far guard
  // matters here.
  Result step(int q, double ps, std::span<const char> settled, std::span<const double> sub_guard,
              std::span<const double> tones = {});

 private:
  double soft_far_at(double apart) const;  // the eased far guard apart Hz away (power ratio)
  // Whether cluster o hears the station of a cluster beside it: o's tone
  // lies nearer that cluster's centre, and that cluster keys on it too.
  bool heard_nearer(int o, std::span<const double> tones) const;

  GuardParams p_;
  int k_ = 0;                                 // clusters
  double edge_ = 0, far_ = 0;                 // edge guards as power ratios
  double steady_ = 0, far_steady_ = 0;        // steady guards as power ratios
  double evidence_ = 1;                       // evidence_db as a power ratio
  static constexpr unsigned char kNear = 1;   // within neighbour_hz
  static constexpr unsigned char kReach = 2;  // within subtract_hz
  static constexpr unsigned char kFar = 4;    // within settled_hz
  std::vector<unsigned char> kind_;           // [q * k + o]: kNear | kReach | kFar
  std::vector<double> centres_;               // [q]: Hz
  std::vector<double> soft_far_;              // [q * k + o]: the eased far edge guard (power ratio)
  std::vector<double> hi_, lo_;    // [q]: short average's extremes around the tick, units^2
  std::vector<double> guarded_;    // [q]: mean short-average power where a strict guard blanks
  std::vector<double> unguarded_;  // [q]: the same where none does, units^2
  std::vector<int> guarded_n_;     // [q]: ticks that measured guarded_ (saturates)
  // The same evidence per pair of clusters within pair_hz (not neighbours):
  // q's pairs are o = pair_lo_[q] .. pair_hi_[q] - 1, at pair_at_[q] + o -
  // pair_lo_[q] in the pair vectors.
  std::vector<int> pair_lo_, pair_hi_;   // [q]: cluster indices
  std::vector<std::size_t> pair_at_;     // [q]: offset of q's pairs
  std::vector<double> pair_guarded_;     // [pair]: q's mean power where o's far guard blanks
  std::vector<double> pair_unguarded_;   // [pair]: the same where it does not, units^2
  std::vector<int> pair_n_;              // [pair]: ticks that measured pair_guarded_ (saturates)
  std::vector<signed char> pair_eased_;  // [pair]: 1 eased, 0 not, -1 not known yet
  std::vector<unsigned> learn_phase_;    // [q]: ticks judged; the pairs learn every fourth
};

}  // namespace talvo::fine
