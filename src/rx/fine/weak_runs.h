// Weak runs: a weak station keyed by the most likely sequence of whole runs.
//
// A weak station (under 13 dB over the channel's noise at its peak, once 30 of its
// marks have taught the dot length) is keyed instead by the most likely
// sequence of whole runs (KeyRuns, runs.h): dots and dashes, element,
// character and word gaps, each around its multiple of the dot, from each
// tick's log-likelihood ratio of key down along the carrier (the
// envelope's part along the carrier, whose noise per component is half the
// floor, its ticks alike over kappa of them; its amplitude the mean of the
// ticks the runs keyed down). A dash the noise dips into stays one mark,
// and a dot the noise pulled under the threshold is found from all its
// ticks. Its runs are followed from 3 dB higher on, and its key states are
// used only while the station is there (its mean power stands over the
// noise; in the gap after it, the runs would find marks in the noise).
//
// Under frequent bursts (static crashes, several a second: impulses.h)
// a station up to burst_runs_db is keyed by its runs, where its cluster
// holds the loudest carrier around (the caller says). There the threshold
// holds the key state through each crash and puts an edge under it half
// way, and loses the dots a crash covers; the runs know nothing of a tick
// under a burst, weigh a tick in its tail by its weight (the floor over
// the floor and the burst), and put the edges where the dot length and the
// ticks around say. Measured on bench/ghosts' crash rows (20 WPM, texts 0
// / 1, 8 crashes a second): a +6 dB station 0.280 / 0.257 by its threshold,
// 0.190 / 0.178 by its runs; the same rows with the station at +10 dB
// 0.204 / 0.183 and 0.126 / 0.096.
// Stronger stations fare worse by their threshold still (+20 dB 0.650 /
// 0.548) and far better by runs (0.272 / 0.221), but then the band gate no
// longer finds the crashes' remnants on the clusters beside them explained
// by the station's own key states (crashes 3 a second: 88-95 characters a
// minute there, 12-14 by the threshold).
//
// Followers of runs (some 47 kB each) are shared: a few at most per front
// end (RunsPool), taken by the clusters whose stations are weak, in turn;
// a cluster that finds none free keys by its threshold.
//
// Life cycle: make once, reset; per tick judged claim(), and while it
// holds a follower step().
#pragma once

#include <vector>

#include "rx/runs.h"

namespace talvo::fine {

struct WeakRunsParams {
  // Carrier over the channel's noise keyed by runs, dB: a station up to
  // some 3.5 dB over the noise in 500 Hz. From 10 dB (0.5 dB in 500 Hz)
  // the threshold keyed the stations between, and lost more: over four
  // drawings of bench/ghosts, one station at +3 dB 0.018-0.069 -> 0.009-
  // 0.020, hand-sent fists at +0 dB 0.021-0.082 -> 0-0.052, nine stations
  // 50 Hz apart 0.106-0.148 -> 0.081-0.125 at worst. From 14 dB a 1 Hz
  // flutter's troughs went to runs, and lost marks (0.098 -> 0.116).
  double runs_db = 13;
  // The same under frequent bursts, dB: a station up to some 11.5 dB over
  // the noise in 500 Hz (see below).
  double burst_runs_db = 21;
  double spare_db = 3;  // runs followed from this much higher on, dB
  int runs_marks = 30;  // marks learnt before the runs' lengths are trusted
  int pool = 8;         // followers of runs per front end at most
  // The evidence per tick is weighed this much over the log-likelihood
  // ratio of ticks alike over kappa. The search keeps the single best
  // sequence, so each run's ends pay for one tick's share of their
  // lengths' probability, where the probability of the run (summed over
  // where its ends may lie) is several times that; weighing the evidence
  // up makes up for it. Measured on synthetic keying 2 is best, on the weak
  // stations of bench/pileup at 20 and 30 WPM 3 (2: 0.178 and 0.356, 3:
  // 0.156 and 0.310, 4: 0.192 and 0.319 over six signals each); 1 merges
  // dots into their gaps.
  double evidence = 3;
  // The carrier's amplitude the runs weigh the evidence by is the mean of
  // the ticks they keyed down (amp_track: the weight of one once the mean
  // is that long), once there are amp_ticks of them (the phase's own
  // magnitude is learnt on the ticks standing high, and lies high), and
  // while it stands over half that magnitude (runs keyed on noise alone
  // average nothing); over six weak signals at 20 and 30 WPM, -3 dB, 0.134
  // and 0.296 with the phase's magnitude instead, 0.113 and 0.260 with it.
  double amp_track = 0.001;
  int amp_ticks = 200;  // key-down ticks measured before the mean is used
  // A station is weak by its carrier over the channel's noise at its
  // peak, which falls at most this fast: a fading station is not weak in
  // its troughs. Keyed there by runs taken up fresh, and by the threshold
  // again as it rose, its marks were cut where one gave way to the other
  // (QSB 0.2 Hz 20 dB deep at +20 dB: its troughs reach 10 dB in the
  // channel; 0.083 with the carrier as it is, 0.041 with its peak falling
  // 4-10 dB/s). A station that is weak keeps its runs as before.
  double peak_fall_db_per_s = 6;  // dB/s
};

// The followers of runs the clusters share.
class RunsPool {
 public:
  // n followers of dots up to max_unit ticks, deciding lag ticks late.
  void make(int n, double max_unit, int lag);
  void reset();
  int take();  // a free follower, reset (-1: none free)
  void give(int i) { free_.push_back(i); }
  KeyRuns& operator[](int i) { return runs_[i]; }

 private:
  std::vector<KeyRuns> runs_;
  std::vector<int> free_;  // indices no cluster holds
};

class WeakRuns {
 public:
  // lag: ticks the key states wait (the runs decide that late).
  void make(const WeakRunsParams& p, int lag);
  void reset();
  // Takes a follower when the station is weak (carrier power units^2,
  // its magnitude along the phase `along`, csnr dB over the channel's
  // noise; called on every tick judged; weak up to burst_runs_db while
  // `bursts`: the band lies under frequent bursts), gives it back when it
  // is not. True while one is held.
  bool claim(RunsPool& pool, double carrier, double along, double csnr, bool bursts);
  // Tick `at`: y the envelope's part along the carrier (units), the dot
  // length unit (ticks), the noise floor n (units^2), kappa the ticks of
  // noise alike, w the tick's weight (impulses.h: in a burst's tail the
  // noise stands 1 / w times the floor). Returns the runs' key state `lag`
  // ticks back.
  bool step(long long at, RunsPool& pool, double y, double along, double unit, double n,
            double kappa, double w);
  // Tick `at` under an impulse (impulses.h): no evidence either way, and
  // nothing for the carrier's mean. Returns the runs' key state `lag`
  // ticks back.
  bool blind(long long at, RunsPool& pool, double unit);
  // Whether the runs' key states stand for the cluster's now (bursts: the
  // band lies under frequent bursts).
  bool trusted(int marks, bool present, bool bursts) const {
    return peak_ < ceiling(bursts) && marks >= p_.runs_marks && present;
  }

 private:
  // The carrier over the channel's noise up to which a station is weak, dB.
  double ceiling(bool bursts) const { return bursts ? p_.burst_runs_db : p_.runs_db; }

  WeakRunsParams p_;
  int lag_ = 0;             // ticks the key states wait
  int runs_ = -1;           // the follower it holds (index in the pool), -1: none
  std::vector<double> ys_;  // ring: the envelope's part along the carrier, units
  double amp_ = 0;          // its mean over the runs' key-down ticks, units
  int amp_n_ = 0;           // key-down ticks in that mean (saturates at 1 / amp_track)
  double peak_ = -1e9;      // the carrier over the channel's noise at its peak, dB
  double peak_fall_ = 0;    // peak_fall_db_per_s per tick, dB
};

}  // namespace talvo::fine
