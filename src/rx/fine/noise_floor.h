// Noise floor: a cluster's noise power per tick in its channel filter.
//
// Each cluster measures its own noise floor: the 30th percentile, scaled to
// the mean, of the power of the 20 ms blocks lying more than 40 ms from any
// key-down tick, over the last 3 s of such blocks. Ticks nearer a mark than
// that (a mark or the filters' spread of one) teach nothing; the
// percentile is low because a signal too weak to key is counted clean too.
// Noise alone is all clean; a continuous carrier keeps the floor it found
// before. No Morse element lasts 3 s: a cluster keyed that long, and every
// cluster while the noise has risen (group_floor.h), learns from all its
// ticks. Ticks under an impulse (a static crash, impulses.h) teach nothing.
//
// The noise may rise on some clusters only (its colour changed: pink noise
// after white rose 12-15 dB at 500 Hz, 6 dB at 2300 Hz, and the band's
// test for a risen noise, which asks nearly every cluster to stand 10 dB
// over its floor, never told it). A floor too low keys the noise often
// enough that hardly a block lies clear of the marks, and the floor never
// learnt the new noise: 15 clusters printed garbage for a minute. So the
// blocks of every tick and those of the key-up ticks (near the marks or
// not), the last 150 of each, are kept beside the clean ones. Where the
// lower twentieth of both stands rise_db over the clean blocks' for
// rise_estimates estimates in a row, and every tick's blocks spread as
// noise spreads, the noise rose on this cluster, and every tick's blocks
// become its clean ones. A station's marks spread every tick's blocks as
// marks and gaps do (and a busy cluster's clean blocks, few and old, lie
// under its recent gaps too: the bundled sample's pileup); a weak
// station's marks and their tails lift every tick's blocks but not the
// key-up ones (compared on every tick alone, a station 3 dB over the noise
// in 500 Hz took its floor for risen noise).
//
// Life cycle: make once, reset, step once a tick judged.
#pragma once

#include <algorithm>
#include <vector>

#include "rx/fine/channel_power.h"

namespace talvo::fine {

struct NoiseFloorParams {
  int block_ticks = 10;      // ticks per noise block (20 ms)
  int blocks = 150;          // noise blocks kept (3 s of clean ticks)
  int clean_ticks = 20;      // ticks from a key-down tick to a clean one (under 32)
  int min_blocks = 25;       // blocks before a cluster trusts its own noise floor
  int blocks_per_floor = 5;  // blocks between two estimates of the noise floor
  int stuck_ticks = 1500;    // ticks keyed without a break that are noise again
  int settle_ticks = 40;     // ticks the filters take to fill after reset
  double percentile = 0.3;   // noise floor: this fraction of the blocks lies below
  double noise_cal = 1.97;   // mean noise power / that percentile, measured
  // The lowest floor over the rounding noise of the input's 16-bit samples,
  // dB. A noise-free recording rounds its silence to 0 and its marks to
  // whole units: their rounding error, harmonics of the tone folded over
  // the band, stands up to 8-12 dB over white rounding noise in a channel,
  // only while the station keys, and keyed its products on clusters far
  // from it (at 0.003 of full scale, 100 units: every mark again at 1700
  // Hz; a 600 Hz tone's fourth harmonic at 44.1 kHz; a file at 11025 Hz on
  // three clusters). Noise of 0.9 units RMS and more lies over this floor.
  double quiet_db = 10;
  double rise_percentile = 0.05;  // the part of the blocks compared with the clean ones
  double rise_db = 4;             // that far over the clean blocks', the noise rose, dB
  int rise_estimates = 10;        // estimates in a row (one every blocks_per_floor blocks)
  // Every tick's blocks spread like noise: their median at most this many
  // times their lower twentieth (risen noise keyed by a floor too low:
  // 3.4-6 times mostly; a pileup's marks and gaps on the bundled sample
  // 14-11000 times; a weak contest station between two strong ones, whose
  // clicks and tails it keeps, 6.8-8.8 times).
  double rise_spread = 6;
  // Whether a rise on this cluster alone is told at all. Not on the
  // thousands of clusters of an I/Q span behind a shared filter bank: its
  // blocks cost them 10 MB and 8 % of the time (3457 clusters of 192 kHz).
  bool rises = true;
};

// Blocks of a fixed number of ticks, their mean powers in a ring of a
// fixed size, kept sorted beside it, as T.
template <typename T>
class SortedBlocks {
 public:
  void make(int size, int block_ticks);
  void reset();   // no blocks, and none being summed
  void forget();  // no blocks; the one being summed stays
  // One tick's power, units^2: whether it closed a block (the oldest
  // leaves once the ring is full).
  bool add(double power) {
    sum_ += power;
    if (++summed_ < block_ticks_) return false;
    push(sum_ / block_ticks_);
    sum_ = 0;
    summed_ = 0;
    return true;
  }
  int size() const { return n_; }
  int pos() const { return pos_; }  // the next slot of the ring
  // The value under which the fraction f (0 .. 1) of the blocks lies.
  double percentile(double f) const { return sorted_[static_cast<int>(f * n_)]; }
  // Holds the blocks `o` (of the same size) holds; the one being summed stays.
  template <typename U>
  void take(const SortedBlocks<U>& o) {
    std::copy(o.ring_.begin(), o.ring_.end(), ring_.begin());
    std::copy(o.sorted_.begin(), o.sorted_.end(), sorted_.begin());
    n_ = o.n_;
    pos_ = o.pos_;
  }

 private:
  template <typename U>
  friend class SortedBlocks;
  std::vector<T> ring_;    // block powers, units^2, the next at pos_
  std::vector<T> sorted_;  // the blocks held, ascending, units^2
  int n_ = 0;              // blocks held
  int pos_ = 0;            // next slot of the ring
  int block_ticks_ = 1;    // ticks a block
  double sum_ = 0;         // power summed in the block being summed, units^2
  int summed_ = 0;         // ticks in it

  void push(double b);
};

class NoiseFloor {
 public:
  // rounding: the rounding noise of 16-bit samples in the channel filter,
  // units^2 (which only digital silence undercuts); the floor lies at
  // least quiet_db over it.
  void make(const NoiseFloorParams& p, double rounding);
  void reset();
  // The tick `at` was judged: down its key state, run the ticks of its
  // key-down run, rose whether the noise has risen on every cluster,
  // buried whether the tick that would teach (clean_ticks back) lay under
  // an impulse (impulses.h), which teaches nothing.
  void step(long long at, bool down, int run, bool rose, const ChannelPower& power,
            bool buried = false) {
    since_down_ = down ? 0 : since_down_ + 1;
    downs_ = downs_ << 1 | (down ? 1u : 0u);
    const long long u = at - p_.clean_ticks;
    // No Morse element lasts stuck_ticks: a cluster keyed that long has a
    // floor too low (the noise rose, or came after near silence), and its
    // ticks are noise again.
    const bool stuck = down && run > p_.stuck_ticks;
    if (u < p_.settle_ticks || buried) return;
    const double pu = power.raw(u);  // the power of tick u, units^2
    if (p_.rises) {
      every_.add(pu);
      const bool up = ((downs_ >> p_.clean_ticks) & 1u) == 0;  // tick u is key up
      if (up && up_.add(pu)) compare();
    }
    if (since_down_ <= 2 * p_.clean_ticks && !stuck && !rose) return;
    if (clean_.add(pu)) learn();
  }
  // The blocks learnt are forgotten (the noise rose).
  void forget() { clean_.forget(); }

  double noise() const { return noise_; }       // noise power per tick, units^2 (0: none yet)
  int blocks() const { return clean_.size(); }  // blocks held
  int rises() const { return rises_; }          // times the noise rose on this cluster alone

 private:
  void learn();     // a clean block closed: the floor afresh, now and then
  void compare();   // a key-up block closed: whether the noise rose, now and then
  void estimate();  // the floor from the clean blocks

  NoiseFloorParams p_;
  double quiet_ = 0;            // lowest floor, units^2
  double rise_ = 1;             // rise_db as a power ratio
  SortedBlocks<double> clean_;  // the blocks clear of the marks, units^2
  // The blocks of every tick, and of the key-up ticks near the marks or
  // not, units^2: float, as they only tell a rise (3457 clusters of an I/Q
  // span hold 8 MB of them).
  SortedBlocks<float> every_;
  SortedBlocks<float> up_;
  int risen_run_ = 0;         // comparisons in a row that found the noise risen
  int rises_ = 0;             // times the noise rose on this cluster alone
  double noise_ = 0;          // noise power per tick in the channel filter, units^2
  long long since_down_ = 0;  // ticks judged since the last key-down tick
  unsigned downs_ = 0;        // the key states of the last 32 ticks judged, the newest lowest
};

}  // namespace talvo::fine
