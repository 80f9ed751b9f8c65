// Impulses: ticks under a band-wide burst (a static crash), and how much
// each still tells.
//
// A crash is a burst of noise across the whole audio band: on a tick it
// lifts nearly every cluster far over its noise floor at once. A station
// lifts its own cluster and its neighbours; the clicks of its hard key
// edges reach across the band too, but stand far under its own cluster. A
// tick whose power stands rise_db over its floor on share of the clusters,
// none of them dominant_db over the clusters' lower quartile, tells a
// burst; it is marked with pad_before ticks before it and pad_after after
// (the channel filter's spread of the burst, its tail). It starts only
// where most clusters rose together (fresh_share of them stood low
// onset_ticks before): stations key down at their own moments.
//
// On a marked tick (and wherever an eighth of the clusters stand that
// high) the burst's power over the floors is the lower quartile of the
// clusters' powers over their floors (stations stand on fewer than three
// clusters in four), scaled to the mean of white noise's power; the tick's
// weight is the floor over the floor and the burst (1 where none is
// measured). A coherent window weighs its ticks by it, so that a tick far
// under a crash counts for nothing and one in its tail for a part; the
// stages that learn from ticks (the noise floors, the acquisition's mean
// power, the guards) leave marked ticks out. A band that stays risen
// longer than max_ticks is no burst but a risen noise (group_floor.h):
// marking stops until the band falls back.
//
// Stations keyed down at one instant can lift most clusters at once as
// well, but each cluster's window holds their carriers as steady lines,
// where a burst's noise swings from tick to tick: a burst does not start
// on a tick where steady_share of the clusters standing high held their
// power within steady_db over steady_ticks.
//
// The test runs on the newest tick's power, before the judgement's delay:
// every tick a coherent window around the tick judged reaches is known.
//
// The front end runs the same test twice. On the clusters' wide envelopes
// (each tick nearly alone, sub_lag ticks before they reach the channel
// filters), where a burst must stand higher and last min_run ticks: the
// ticks marked there are blanked before the filters, whose output is
// scaled up to the part of their taps left (so that a station keeps its
// level and a crash is not spread over the filters' 43 ticks). On the
// channel powers, as above: there a tick whose filter took under
// least_left of its taps from ticks not blanked is marked as well, and
// weighs no more than that part.
//
// A crash is band-wide: front ends that share a band (the engine's
// groups of clusters) join the ticks the others marked to their own
// (join()), a block of input later, so that the burst one group told is
// blanked by all (a group with a station keyed through the crash tells it
// less often than one without).
//
// How often the band lies under bursts is counted on the ticks judged
// (count()): under frequent bursts stations up to some 11.5 dB over the
// noise are keyed by whole runs (weak_runs.h), which weigh each tick by its
// weight and know nothing of a marked tick, so that an element under a
// crash is found from the dot length and the ticks around it.
//
// Life cycle: make once, reset, step once a tick on the newest power
// (join between steps), count once a tick judged.
#pragma once

#include <cmath>
#include <span>
#include <vector>

#include "rx/fine/common.h"

namespace talvo::fine {

struct ImpulseParams {
  double rise_db = 6;   // over its floor, a cluster's power that counts towards an impulse, dB
  double share = 0.75;  // part of the clusters that must stand that high on one tick
  // Fewest clusters that tell an impulse (a span of 1 kHz): on a narrow
  // span, a few stations keyed down together lift every cluster at once.
  int min_clusters = 20;
  int pad_before = 3;      // ticks blanked before a tick that tells one
  int pad_after = 6;       // ticks blanked after it
  int max_ticks = 125;     // ticks in a row over which a band-wide rise is still an impulse
  double quartile = 0.25;  // the burst's power: this fraction of the clusters lie under it
  // Most the strongest cluster's power over its floor may stand over the
  // lower quartile's, dB. The greatest of 50 powers of white noise stands
  // some 12 dB over their quartile; a strong station whose hard edges
  // click across the band stands 14 dB and more over the clicks (tests:
  // 14-38 dB, the bundled sample 18-37 dB). A burst that weak beside a
  // station is no burst to that station.
  double dominant_db = 14;
  // A burst whose lower quartile stands this far over the floors is no
  // station's clicks, whatever its strongest cluster (0: none is), dB.
  double clicks_db = 0;
  // A burst starts where the clusters rose together: fresh_share of them
  // stand high that stood low onset_ticks before (stations key down at
  // their own moments: 49 of them on 49 clusters may stand high on three
  // clusters in four, but most of those were high before).
  double fresh_share = 0.5;
  int onset_ticks = 20;
  // A cluster whose power rose this much over its power onset_ticks before
  // rose afresh too, though it stood high then: a burst over the tail of
  // another (0: no such test), dB.
  double fresh_db = 0;
  // A tick whose channel filter took less than this part of its taps from
  // ticks not blanked before it is marked.
  double least_left = 0.85;
  int min_run = 1;  // ticks in a row that must tell one before any is marked
  // Keyed carriers are no burst: a cluster's window holds a carrier (its
  // own or a neighbour's) as a steady line. A burst does not start on a
  // tick where this part of the clusters standing high held their power
  // within steady_db (0: no such test) over steady_ticks ticks (a crash's
  // clusters hold it on fewer than two in three, 13-17 of 26).
  double steady_db = 0;  // dB
  int steady_ticks = 3;
  double steady_share = 0.75;
  // Each tick's weight is kept (the wide test's ticks are only blanked:
  // without weights the burst's power is measured only where it may tell
  // one).
  bool weights = true;
  // How often the band lies under bursts: the share of its ticks marked,
  // averaged over often_s. From often_share on the band is under frequent
  // bursts (static crashes, several a second) until the share falls under
  // seldom_share. Measured on bench/ghosts: crashes 3 and 8 a second hold
  // 0.02 or more 98 % of the time and reach 0.25 and 0.45; every other
  // drawing reaches 0.018 at most (pink noise joining white), RTTY 0.013,
  // speech 0.009, the rest nothing.
  double often_s = 4;          // s
  double often_share = 0.04;   // part of the ticks marked
  double seldom_share = 0.02;  // part of the ticks marked
};

class Impulses {
 public:
  void make(const ImpulseParams& p, int clusters);
  void reset();
  // Tick t's power (units^2) and floor (units^2, 0: none yet) on every
  // cluster, the newest tick.
  // left: the part of the channel filter's taps that fell on ticks not
  // blanked before it (1: none was).
  // over: the strongest station's key-down power over its floor (0: none
  // counted); a burst more than dominant_db under it is none.
  // Without weights, a floor given lower than the cluster's own where its
  // power does not stand rise_db over the floor given changes nothing, and
  // over is read only on a tick that may_tell() the clusters standing high.
  void step(long long t, std::span<const double> floor, std::span<const double> power,
            double left = 1, double over = 0);
  double rise() const { return rise_; }  // rise_db as a power ratio
  // Whether `high` clusters standing rise_db over their floors on one tick
  // may tell a burst.
  bool may_tell(int high) const { return k_ >= p_.min_clusters && high >= p_.share * k_; }
  // Tick t (no newer than the last stepped, no older than kRing - 16
  // ticks before it) is marked.
  bool blank(long long t) const { return flag_[t & kRingMask] != 0; }
  // Marked ticks from a to b, both included (a <= b, within the ring).
  int blanked(long long a, long long b) const {
    return static_cast<int>(blanked(b) - blanked(a - 1));
  }
  bool any() const { return last_ >= 0; }  // some tick was ever marked since reset
  // Tick t's weight: the floor over the floor and the burst's power (0 ..
  // 1; kept with weights only).
  double weight(long long t) const { return w_[t & kRingMask]; }
  long long newest() const { return newest_; }  // the newest tick stepped (-1: none)
  // Tick t (within the ring) was marked when it was the newest stepped: by
  // this test's own burst, not by the pad before one told later nor by
  // another front end.
  bool told(long long t) const { return told_[t & kRingMask] != 0; }
  // Ticks from `from` on (no newer than the newest stepped, no older than
  // kRing - 16 ticks before it) that another front end on the same band
  // marked (told[i]: tick from + i): marked here too. Their weights stay as
  // this test measured them.
  void join(long long from, std::span<const unsigned char> told);
  // Tick t (judged: every front end's marks joined) counted into how often
  // the band lies under bursts.
  void count(long long t);
  // The band lies under frequent bursts (see often_share).
  bool frequent() const { return frequent_; }

 private:
  // Whether cluster q's power held within steady_db over the last
  // steady_ticks ticks up to t.
  bool steady(long long t, int q) const;
  // Marked ticks up to t, counted since reset.
  long long blanked(long long t) const { return t < 0 ? 0 : count_[t & kRingMask]; }

  ImpulseParams p_;
  int k_ = 0;                        // clusters
  double rise_ = 1;                  // rise_db as a power ratio
  double quartile_mean_ = 1;         // white noise's quartile over its mean power
  double dominant_ = 1;              // dominant_db as a power ratio
  std::vector<char> flag_;           // ring: the tick is marked
  std::vector<char> told_;           // ring: the tick was marked when it was the newest
  std::vector<double> w_;            // ring: each tick's weight, 0 .. 1
  std::vector<double> ratio_;        // scratch: the clusters' powers over their floors
  std::vector<unsigned char> high_;  // [(t % (onset_ticks + 1)) * k + q]: stood rise_db high
  std::vector<long long> count_;     // ring: marked ticks up to each tick, since reset
  std::vector<double> past_;         // [(t % rows_) * k + q]: its power, units^2
  int rows_ = 1;                     // ticks of powers kept
  double steady_ = 1;                // steady_db as a power ratio
  double fresh_ = 1;                 // fresh_db as a power ratio
  double clicks_ = HUGE_VAL;         // clicks_db as a power ratio
  long long newest_ = -1;            // the newest tick stepped
  long long last_ = -1;              // the newest tick blanked (-1: none)
  long long tail_ = -1;              // ticks up to this one are marked as the pad after
  int run_ = 0;                      // ticks in a row that told an impulse
  double share_ = 0;                 // the part of the ticks marked, averaged over often_s
  double share_step_ = 0;            // the average's weight per tick
  bool frequent_ = false;            // the band lies under frequent bursts
};

}  // namespace talvo::fine
