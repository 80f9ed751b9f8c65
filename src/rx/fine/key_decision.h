// Key decision: a cluster's key state from its element statistic.
//
// The cluster keys while the element statistic stands above a threshold
// half way from its noise to the key-down level (at least 8 dB over its
// noise to start a mark, 5 dB to hold one), with hysteresis. The key-down
// level is the element statistic while keyed, following the level within
// an element; it sinks only where both halves of the window hold alike, so
// a mark's falling edge does not pull it down and lengthen the mark, never
// far below the recent marks' carrier (the noise after a strong station
// does not key) until that station has been quiet for ten dots and
// another is heard on the cluster, and decays while key up: faster when
// the station's marks have lately been falling (a fast fade). Nothing is
// absolute: decisions depend on power ratios alone, so the same audio at
// any level gives the same key states.
//
// A new mark's start is dated back over the ticks just before it that
// stood nearly as high (at most 0.75 of a window, never within a dot of
// the last mark). A run, key up all along, whose statistic stays within
// 3 dB of the start threshold for 0.6 of a dot and averages within 1.5 dB
// of it, is keyed as well (a weak dot that the noise kept under the start
// threshold). A mark with fewer than four clear ticks in its first 40 is
// another station's leakage and is taken back whole: key states wait
// hold_back_ticks (42) for that. The level, the tone and the speed are
// learnt from clear ticks and clear marks only (the result says which).
// Under an impulse (a static crash) the key state holds (hold()).
//
// A gap between two marks that never fell to the noise is a dip inside
// one mark: a signal about as strong as the station passing near its tone
// (a voice's pitch harmonic sweeping through) beats with it, and the power
// falls 10 dB or so for some tens of ms and comes back, where the gap
// between two elements falls to the noise and lasts a dot. Once the next
// mark begins, the dip is keyed down while its ticks still wait (dip_db).
// Its first part has taught the speed as a mark of its own.
//
// Life cycle: make once, reset; per tick judged held() (the key state
// leaving), open(), then idle(), hold() or step(), and bridge() where
// step() says a mark began and the caller allows it.
#pragma once

#include <algorithm>
#include <array>
#include <vector>

#include "rx/fine/common.h"

namespace talvo::fine {

struct KeyDecisionParams {
  double stay_floor_db = 5;     // lowest key-up threshold over the element noise, dB
  double floor_db = 8;          // lowest key-down threshold over the element noise, dB
  double fraction = 0.5;        // threshold: noise + this fraction of (level - noise)
  double hyst_db = 1.5;         // key-up threshold below key-down threshold, dB
  double interior = 0.5;        // key-down power below this part of the level is an edge
  double track = 0.15;          // key-down level tracking weight per tick
  double decay_db_per_s = 40;   // key-down level decay while key up, dB/s
  double level_floor_db = -12;  // key-down level kept above the marks' carrier, dB
  // That floor stands while marks near the carrier come (within
  // floor_near_db of it) and for floor_hold_dots dots after the last (more
  // than a word gap). Once the station that set the carrier has been quiet that
  // long, the first tick whose power acquires the cluster (a station
  // there, not the noise: acquisition.h) and stands within heard_db of
  // the carrier (not a codec's product of it) lifts the floor, so a weaker
  // station on the cluster keys again; the noise after the strong one
  // still does not. A clear mark begun in such a quiet whose level stands
  // more than other_db from the carrier is the other station's: the
  // cluster learns its tone, phase and carrier afresh (KeyResult::other).
  double floor_near_db = -6;    // dB
  double floor_hold_dots = 10;  // dots
  double other_db = 10;         // dB
  double heard_db = -28;        // dB
  int max_click_ticks = 40;     // ticks, longest mark dropped when nowhere clear
  int clear_ticks = 4;          // clear ticks that make a mark this cluster's own
  int hold_back_ticks = 42;     // ticks a key state waits for its mark to be judged
  // A mark once begun is dated back over the ticks before it whose
  // statistic stood over the half-way threshold less back_db (key down
  // needs more on a weak station), at most back_windows windows and never
  // nearer the previous mark than back_gap_dots dots. back_db lies between 0 (a
  // 1 Hz flutter loses its weak marks' starts) and hyst_db (a strong
  // station's marks grow long).
  double back_db = 0.5;
  double back_windows = 0.75;  // windows
  double back_gap_dots = 1.0;  // dots
  // A run whose statistic stays over the start threshold less soft_db for
  // soft_len_dots dots or more, key up all along, is a weak dot the noise kept
  // under the start threshold when its statistic averaged over the run
  // stands within soft_mean_db of that threshold.
  double soft_db = 3;
  double soft_len_dots = 0.6;  // dots
  double soft_mean_db = 1.5;   // dB
  // A fading station's marks fall faster than decay_db_per_s (a 1 Hz
  // flutter 15 dB deep: 60 dB/s near its troughs), and a mark after a gap
  // then lies under the threshold the last one left. So the level decays
  // at least fall_margin times as fast as the station's marks have lately
  // fallen (at most max_decay_db_per_s), a rate that relaxes towards
  // decay_db_per_s by half every fall_half_s. The fall is measured only on
  // clear marks of fall_min_dots dots or more (a dot's level is measured
  // on less of its body: dots after a dash seem to fall), from the newest
  // such mark that ended fall_span_s or more before (the noise on two
  // marks close together is no fall) and stood fall_need_db or more over
  // the element noise, when the mark just before was higher too and the
  // fall is fall_min_db or more (a weak station's marks differ by a few
  // dB in the noise alone). Without these a codec's products 65 dB under a
  // clean station, whose level jumps from mark to mark, keyed text, and a
  // 50 WPM station lost marks. A steady station, however strong or slow,
  // keeps decay_db_per_s.
  double fall_margin = 3;           // times the fall rate
  double max_decay_db_per_s = 160;  // dB/s
  double fall_half_s = 1.0;         // s
  double fall_span_s = 0.15;        // s
  double fall_need_db = 18;         // dB
  double fall_min_dots = 2;         // dots
  double fall_min_db = 6;           // dB
  // A gap whose statistic stood on every tick over both dip_db under the
  // key-down level the mark before it ended with and dip_noise_db over the
  // element noise is keyed down when the next mark begins, on a station
  // dip_level_db or more over that noise, the whole gap still waiting,
  // shorter than dip_dots (the gap between two elements keys up for a
  // dot; a voice's power filling one is no dip) and dip_min_ticks or
  // longer (a strong station's keying sidebands on a cluster at the
  // span's edge, no cluster beside it to show the station, key gaps of
  // 5-8 ticks that never fall to the noise; a harmonic's beat lasts 20 ms
  // and more).
  double dip_db = 13;        // dB
  double dip_noise_db = 6;   // dB
  double dip_level_db = 15;  // dB
  double dip_dots = 0.7;     // dots
  int dip_min_ticks = 10;    // ticks
};

// What the key decision weighs at one tick.
struct KeyInput {
  bool clear = false;  // the tick is clear of the guards
  bool ready = false;  // the cluster may key (acquired)
  bool heard = false;  // the tick's power acquires the cluster (Acquisition::step)
  double heard_p = 0;  // that power (the long average) over the noise floor, units^2
  double pd = 0;       // the element statistic, units^2
  double nd = 0;       // its noise part, units^2
  bool body = false;   // the window lies in a mark's body
  int win = 0;         // ticks in the coherent window
  double unit = 0;     // dot length, ticks
  double carrier = 0;  // carrier power of the recent marks, units^2 (0: none yet)
};

struct KeyResult {
  bool tone = false;   // a clear tick inside a mark: it teaches the tone
  int mark = 0;        // > 0: a clear mark this many ticks long ended (it teaches the speed)
  bool other = false;  // that mark is another station's than the carrier's (see other_db)
  bool began = false;  // a mark began at this tick (the gap before it may be a dip: bridge())
};

// The key state value of a tick whose statistic is p over noise nd: 100 *
// the SNR in dB, at least 1.
inline double key_value(double p, double nd) {
  return std::max(1.0, 100 * db(std::max(p / nd - 1, 1e-9)));
}

class KeyDecision {
 public:
  void make(const KeyDecisionParams& p);
  void reset();
  // The key state leaving at tick at (judged hold_back_ticks before).
  double held(long long at) const { return tent_[(at - p_.hold_back_ticks) & kRingMask]; }
  // Tick at is judged: its key state and statistic start at nothing.
  void open(long long at) {
    tent_[at & kRingMask] = 0;
    stat_[at & kRingMask] = 0;
  }
  // Nothing to judge at this tick (no floor yet): key up.
  void idle() { down_ = false; }
  // The tick at lies under a burst (impulses.h): the key state holds as
  // it was, a mark running at the value it last had; nothing is learnt,
  // and a mark held over it teaches neither speed nor carrier. When the
  // first tick after the hold finds the key state changed, the edge went
  // somewhere under the burst: it is put half way through the hold.
  void hold(long long at) {
    stat_[at & kRingMask] = 0;
    tent_[at & kRingMask] = down_ ? value_ : 0.0;
    soft_start_ = -1;
    held_++;
    if (!down_) return;
    run_++;
    run_held_ = true;
  }
  KeyResult step(long long at, const KeyInput& in);
  // The mark of `run` ticks that ended at tick at (KeyResult::mark) is no
  // station's: taken back whole (run at most max_click_ticks, so that none
  // of it has left).
  void drop(long long at, int run) {
    for (long long u = at - run; u < at; u++)
      tent_[u & kRingMask] = 0;
  }
  // The marks of the last hold_back_ticks ticks are taken back (the noise rose).
  void take_back(long long at);
  // A mark began at tick at (KeyResult::began), `in` as given to step():
  // the gap before it, if a dip (dip_db), is keyed down. Whether it was.
  bool bridge(long long at, const KeyInput& in);

  double stat(long long t) const { return stat_[t & kRingMask]; }  // statistic judged, units^2
  bool down() const { return down_; }                              // key state of the last tick
  int run() const { return run_; }                                 // ticks of the key-down run
  double level() const { return level_; }                          // key-down level, units^2

 private:
  double carrier_floor(long long at, const KeyInput& in);
  // The carrier's station has keyed nothing near it for floor_hold_dots.
  bool quiet(long long at, const KeyInput& in) const {
    return static_cast<double>(at - last_near_) > p_.floor_hold_dots * in.unit;
  }
  void soft_run(long long at, const KeyInput& in, bool on, bool down, double start);
  KeyResult mark(long long at, const KeyInput& in, double back);
  KeyResult gap(long long at, const KeyInput& in);
  void after_hold(long long at, bool down);
  void learn_fall(long long at, double nd);

  KeyDecisionParams p_;
  double stay_floor_ = 1, floor_ = 1, hyst_ = 1, back_ = 1, soft_ = 1, soft_mean_ = 1;  // ratios
  double level_floor_ = 1;     // level_floor_db as a power ratio
  double floor_near_ = 1;      // floor_near_db as a power ratio
  double other_ = 1;           // other_db as a power ratio
  double heard_ = 1;           // heard_db as a power ratio
  double decay_ = 1;           // the level's decay per tick at decay_db_per_s
  std::vector<double> tent_;   // ring: key state as judged, before marks are checked
  std::vector<double> stat_;   // ring: element statistic of each tick judged, units^2
  long long run_start_ = 0;    // tick the current key-down run began
  long long last_down_ = 0;    // the last key-down tick of the previous run
  long long last_near_ = 0;    // the last tick whose statistic stood near the carrier
  bool lifted_ = false;        // a station was heard in the carrier's quiet: no floor
  bool run_quiet_ = false;     // the current run began in the carrier's quiet
  bool run_lifted_ = false;    // the floor was lifted during the current run
  int run_clear_ = 0;          // ticks of the current run clear of every guard
  long long soft_start_ = -1;  // tick a run over the soft threshold began (key up); -1: none
  double soft_sum_ = 0;        // that run's statistic over the start threshold, summed
  int soft_clear_ = 0;         // that run's ticks clear of every guard
  double level_ = 0;           // key-down power (carrier + noise), units^2
  double end_level_ = 0;       // level_ as the last mark ended, units^2
  int run_ = 0;                // ticks of the current key-down run
  bool run_held_ = false;      // the current run was held over a burst
  int held_ = 0;               // ticks held in a row up to the last tick judged
  double value_ = 0;           // key state value of the last key-down tick judged
  bool down_ = false;          // key state of the last tick judged

  // How fast the marks fall (see fall_margin).
  struct MarkLevel {
    double level = 0;   // the key-down level as a dash-long clear mark ended, units^2 (0: none)
    long long end = 0;  // the tick it ended
  };
  static constexpr int kMarks = 16;      // such marks remembered, a power of two
  std::array<MarkLevel, kMarks> marks_;  // ring: the last such marks' levels
  int next_mark_ = 0;                    // where the next goes
  double fall_need_ = 1;                 // fall_need_db as a power ratio
  double fall_ = 0;                      // the level's decay rate now, dB/s
  double fall_decay_ = 1;                // the level's decay per tick at fall_
  long long fall_at_ = 0;                // the tick fall_ was last set
  double dip_ = 1;                       // dip_db under the level as a power ratio
  double dip_noise_ = 1;                 // dip_noise_db as a power ratio
  double dip_level_ = 1;                 // dip_level_db as a power ratio
};

}  // namespace talvo::fine
