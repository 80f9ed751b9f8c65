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
// Life cycle: make once, reset, step once a tick judged.
#pragma once

#include <vector>

#include "rx/fine/channel_power.h"

namespace talvo::fine {

struct NoiseFloorParams {
  int block_ticks = 10;      // ticks per noise block (20 ms)
  int blocks = 150;          // noise blocks kept (3 s of clean ticks)
  int clean_ticks = 20;      // ticks from a key-down tick to a clean one
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
    const long long u = at - p_.clean_ticks;
    // No Morse element lasts stuck_ticks: a cluster keyed that long has a
    // floor too low (the noise rose, or came after near silence), and its
    // ticks are noise again.
    const bool stuck = down && run > p_.stuck_ticks;
    if ((since_down_ <= 2 * p_.clean_ticks && !stuck && !rose) || u < p_.settle_ticks || buried)
      return;
    block_acc_ += power.raw(u);
    if (++block_n_ == p_.block_ticks) close_block();
  }
  // The blocks learnt are forgotten (the noise rose).
  void forget() { nblocks_ = block_pos_ = 0; }

  double noise() const { return noise_; }  // noise power per tick, units^2 (0: none yet)
  int blocks() const { return nblocks_; }  // blocks held

 private:
  void close_block();  // block_ticks clean ticks summed: a block, and the floor afresh

  NoiseFloorParams p_;
  double quiet_ = 0;            // lowest floor, units^2
  std::vector<double> blocks_;  // ring: noise block averages, units^2
  std::vector<double> sorted_;  // the blocks held, ascending, units^2
  int nblocks_ = 0;             // blocks held, 0 .. p_.blocks
  int block_pos_ = 0;           // next block slot
  double block_acc_ = 0;        // power summed in the current block, units^2
  int block_n_ = 0;             // ticks in the current block
  double noise_ = 0;            // noise power per tick in the channel filter, units^2
  long long since_down_ = 0;    // ticks judged since the last key-down tick
};

}  // namespace talvo::fine
