#include "rx/fine/key_decision.h"

#include <algorithm>
#include <cmath>

namespace talvo::fine {

void KeyDecision::make(const KeyDecisionParams& p) {
  p_ = p;
  stay_floor_ = undb(p.stay_floor_db);
  floor_ = undb(p.floor_db);
  hyst_ = undb(-p.hyst_db);
  back_ = undb(-p.back_db);
  soft_ = undb(-p.soft_db);
  soft_mean_ = undb(-p.soft_mean_db);
  level_floor_ = undb(p.level_floor_db);
  floor_near_ = undb(p.floor_near_db);
  other_ = undb(p.other_db);
  heard_ = undb(p.heard_db);
  decay_ = undb(-p.decay_db_per_s / kTickRate);
  fall_need_ = undb(p.fall_need_db);
  dip_ = undb(-p.dip_db);
  dip_noise_ = undb(p.dip_noise_db);
  dip_level_ = undb(p.dip_level_db);
  tent_.resize(kRing);
  stat_.resize(kRing);
}

void KeyDecision::reset() {
  std::fill(tent_.begin(), tent_.end(), 0.0);
  std::fill(stat_.begin(), stat_.end(), 0.0);
  last_down_ = -(1 << 20);
  last_near_ = -(1 << 20);
  lifted_ = false;
  run_quiet_ = false;
  run_lifted_ = false;
  run_start_ = 0;
  run_clear_ = 0;
  soft_start_ = -1;
  soft_sum_ = 0;
  soft_clear_ = 0;
  level_ = 0;
  end_level_ = 0;
  run_ = 0;
  run_held_ = false;
  held_ = 0;
  value_ = 0;
  down_ = false;
  fall_ = p_.decay_db_per_s;
  fall_decay_ = decay_;
  marks_.fill(MarkLevel{});
  next_mark_ = 0;
  fall_at_ = 0;
}

void KeyDecision::take_back(long long at) {
  for (long long u = at - p_.hold_back_ticks + 1; u <= at; u++)
    tent_[u & kRingMask] = 0;
}

KeyResult KeyDecision::step(long long at, const KeyInput& in) {
  const double pd = in.pd, nd = in.nd;
  stat_[at & kRingMask] = pd;
  bool down = false;
  bool soft = false;  // over the soft threshold, key up
  double start = 0;   // the start threshold, units^2
  double back = 0;    // the statistic a mark's start is dated back over, units^2
  if (in.ready) {
    // The threshold sits at a fixed part of the way from the element
    // noise to the key-down level (the coherent average's edges are
    // ramps, so marks keep their length), never low enough for the
    // noise (whose statistic is exponential) to key often. The level
    // never sinks far below that of the recent marks, so that the noise
    // after a strong station does not key.
    const double lv = std::max({level_, nd, nd + carrier_floor(at, in)});
    // Key down needs floor_db over the element noise; a mark already
    // running holds down to stay_floor_db (a dip of noise does not split it).
    const double rel = nd + p_.fraction * (lv - nd);
    const double stay = std::max(nd * stay_floor_, rel * hyst_);
    back = std::max(stay, rel * back_);
    start = std::max(nd * floor_, rel);
    const double thr = down_ ? stay : start;
    down = pd > thr;
    soft = !down_ && !down && pd > std::max(nd * stay_floor_, start * soft_);
  }
  soft_run(at, in, soft, down, start);
  const bool was = down_;
  const KeyResult r = down ? mark(at, in, back) : gap(at, in);
  if (held_ > 0 && down != was) after_hold(at, down);
  held_ = 0;
  run_lifted_ = run_lifted_ || lifted_;
  if (in.carrier > 0 && pd > nd + in.carrier * floor_near_) {
    last_near_ = at;
    lifted_ = false;
  }
  down_ = down;
  return r;
}

// The first tick after a hold keys otherwise than the hold: the edge is
// put half way through the hold (as far back as the key states wait).
void KeyDecision::after_hold(long long at, bool down) {
  const long long mid = std::max(at - (held_ + 1) / 2, at - p_.hold_back_ticks + 1);
  if (!down) {
    for (long long u = mid; u < at; u++)
      tent_[u & kRingMask] = 0;
    last_down_ = mid - 1;
    return;
  }
  if (run_start_ <= mid) return;
  for (long long u = mid; u < run_start_; u++)
    tent_[u & kRingMask] = value_;
  run_ += static_cast<int>(run_start_ - mid);
  run_start_ = mid;
  run_held_ = true;
}

// The least key-down level over the noise the recent marks' carrier
// allows, units^2: level_floor under it, until a station is heard after
// the carrier's station fell quiet.
double KeyDecision::carrier_floor(long long at, const KeyInput& in) {
  if (in.carrier <= 0) return 0;
  if (in.heard && in.heard_p > in.carrier * heard_ && quiet(at, in)) lifted_ = true;
  return lifted_ ? 0.0 : in.carrier * level_floor_;
}

// A run over the soft threshold, key up all along: keyed when it lasted
// and averaged near the start threshold.
void KeyDecision::soft_run(long long at, const KeyInput& in, bool on, bool down, double start) {
  const int m = kRingMask;
  if (on) {
    if (soft_start_ < 0) {
      soft_start_ = at;
      soft_sum_ = 0;
      soft_clear_ = 0;
    }
    soft_sum_ += in.pd / start;
    soft_clear_ += in.clear;
  } else if (soft_start_ >= 0) {
    const long long len = at - soft_start_;
    if (!down && len >= p_.soft_len_dots * in.unit &&
        soft_sum_ >= soft_mean_ * static_cast<double>(len) && soft_clear_ >= p_.clear_ticks &&
        soft_start_ > at - p_.hold_back_ticks &&
        soft_start_ > last_down_ + static_cast<long long>(p_.back_gap_dots * in.unit)) {
      for (long long u = soft_start_; u < at; u++)
        tent_[u & m] = key_value(stat_[u & m], in.nd);
      last_down_ = at - 1;
    }
    soft_start_ = -1;
  }
}

// A key-down tick: a new mark's start dated back, the level learnt, a mark
// hardly clear silenced.
KeyResult KeyDecision::mark(long long at, const KeyInput& in, double back) {
  const int m = kRingMask;
  const double pd = in.pd, nd = in.nd;
  KeyResult r;
  if (!down_) {
    r.began = true;
    run_start_ = at;
    run_clear_ = 0;
    run_held_ = false;
    run_quiet_ = quiet(at, in);
    run_lifted_ = false;
    // Its start, late against the key-down floor on a weak station,
    // goes back to where the statistic first stood near the threshold
    // half way to the level (the key states still wait).
    const long long lim = std::max({at - static_cast<long long>(p_.back_windows * in.win),
                                    last_down_ + static_cast<long long>(p_.back_gap_dots * in.unit),
                                    at - p_.hold_back_ticks + 1});
    while (run_start_ - 1 > lim && stat_[(run_start_ - 1) & m] > back) {
      run_start_--;
      tent_[run_start_ & m] = key_value(stat_[run_start_ & m], nd);
      run_++;
    }
  }
  run_clear_ += in.clear;
  // The level follows the mark's body, not its edges, and is learnt
  // only where no other cluster can be what this one sees.
  if (in.clear) {
    if (!down_)
      level_ = std::max(level_, pd);
    else if ((in.body || pd > level_) && pd > p_.interior * level_)
      level_ += p_.track * (pd - level_);
    r.tone = pd > p_.interior * level_;
  }
  value_ = key_value(pd, nd);
  tent_[at & m] = value_;
  run_++;
  // A mark hardly clear in its first max_click_ticks is another
  // station's leakage: silent until enough ticks are clear.
  if (run_clear_ < p_.clear_ticks && run_ >= p_.max_click_ticks) {
    for (long long u = std::max(run_start_, at - p_.hold_back_ticks + 1); u <= at; u++)
      tent_[u & m] = 0;
  }
  return r;
}

// A mark began at tick at: the gap since the last one, if it never fell
// to the noise and still waits, was a dip inside one mark and is keyed down.
// (No start was dated back into it: a dip is shorter than back_gap_dots.)
bool KeyDecision::bridge(long long at, const KeyInput& in) {
  const int m = kRingMask;
  const double nd = in.nd;
  const long long from = last_down_ + 1;
  if (from >= at || from <= at - p_.hold_back_ticks || tent_[last_down_ & m] <= 0) return false;
  if (at - from < p_.dip_min_ticks || static_cast<double>(at - from) > p_.dip_dots * in.unit ||
      end_level_ < nd * dip_level_)
    return false;
  const double floor = std::max(nd * dip_noise_, end_level_ * dip_);
  for (long long u = from; u < at; u++)
    if (stat_[u & m] <= floor) return false;
  for (long long u = from; u < at; u++)
    tent_[u & m] = key_value(stat_[u & m], nd);
  return true;
}

// A dash-long clear mark ended at tick at, its level level_: how fast
// the station's marks are falling sets the level's decay.
void KeyDecision::learn_fall(long long at, double nd) {
  const double base = p_.decay_db_per_s;
  const double since = static_cast<double>(at - fall_at_) / kTickRate;  // s
  double rate = base + (fall_ - base) * std::exp2(-since / p_.fall_half_s);
  fall_at_ = at;
  const MarkLevel& last = marks_[(next_mark_ - 1) & (kMarks - 1)];
  if (last.level > level_ && level_ > nd) {
    // The newest mark that ended fall_span_s or more before this one.
    for (int i = 0; i < kMarks; i++) {
      const MarkLevel& m = marks_[(next_mark_ - 1 - i) & (kMarks - 1)];
      if (m.level <= 0) break;
      const double dt = static_cast<double>(at - m.end) / kTickRate;  // s
      if (dt < p_.fall_span_s) continue;
      const double fall = db(m.level / level_);  // dB
      if (m.level > nd * fall_need_ && fall >= p_.fall_min_db) {
        const double falling = fall / dt;  // dB/s
        rate = std::max(rate, std::min(p_.fall_margin * falling, p_.max_decay_db_per_s));
      }
      break;
    }
  }
  fall_ = rate;
  fall_decay_ = undb(-rate / kTickRate);
  marks_[next_mark_ & (kMarks - 1)] = MarkLevel{level_, at};
  next_mark_++;
}

// A key-up tick: the level decays; a mark just ended is taken back when
// hardly any of it was clear, or teaches when it was.
KeyResult KeyDecision::gap(long long at, const KeyInput& in) {
  KeyResult r;
  // The mark just ended, after the carrier's station fell quiet, at a
  // level far from that carrier: another station keys on the cluster.
  const double over = level_ - in.nd;
  r.other = down_ && run_quiet_ && run_lifted_ && in.carrier > 0 &&
            (over < in.carrier / other_ || over > in.carrier * other_);
  if (down_ && run_clear_ >= p_.clear_ticks && !run_held_ && run_ >= p_.fall_min_dots * in.unit)
    learn_fall(at, in.nd);
  if (down_) end_level_ = level_;
  level_ = std::max(in.nd, level_ * fall_decay_);
  if (down_) last_down_ = at - 1;
  if (down_ && run_clear_ < p_.clear_ticks && run_ <= p_.max_click_ticks) {
    // A short mark hardly any tick of which was clear of the guards:
    // another cluster's sidebands or clicks. Taken back whole.
    for (long long u = run_start_; u < at; u++)
      tent_[u & kRingMask] = 0;
  } else if (down_ && run_clear_ >= p_.clear_ticks && !run_held_) {
    r.mark = run_;
  } else {
    r.other = false;
  }
  run_ = 0;
  return r;
}

}  // namespace talvo::fine
