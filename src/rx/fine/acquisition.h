// Acquisition: whether a cluster may key at all.
//
// A cluster starts keying only after both its long (dash-scale) and short
// power averages stand clearly above the noise (which noise alone
// practically never does): the long one 7.5 dB, the short one 5 dB, on a
// tick clear of the guards. It then stays ready for two seconds after the
// last such tick, and while ready the long average needs only 5 dB. A
// station whose dashes do not lift the long average 7.5 dB over the noise
// (a dash at 6 dB over the channel's noise) is acquired once its power over
// about a second (clear ticks only) stands 2.5 dB over the noise (white
// noise's mean over a second lies within 0.6 dB of it) and over the other
// clusters' typical mean (where noise is not white, noise alone stands
// over the floor: 2.5 dB on a wide I/Q span), and the long average 5 dB.
//
// Life cycle: make once, reset, step once a tick judged, spend() once a
// tick decided.
#pragma once

#include "rx/fine/common.h"

namespace talvo::fine {

struct AcquisitionParams {
  double acquire_db = 7.5;    // long average over noise that starts keying, dB
  double stay_db = 5.0;       // long (and short) average over noise that keeps it ready, dB
  double slow_track = 0.002;  // weight of a clear tick in the mean power over about a second
  double slow_db = 2.5;       // that mean over the noise that acquires a weak station, dB
  int slow_blocks = 75;       // noise blocks the floor needs first (a young one is low)
  int hold_ticks = 1000;      // ticks a cluster stays ready after the last acquisition
};

class Acquisition {
 public:
  void make(const AcquisitionParams& p);
  void reset();
  // Tick judged: clear of the guards, its power raw, long and short
  // averages pl and ps, the noise floor n (units^2) from `blocks` blocks,
  // and the group's typical mean power over the floors. True when the
  // tick's power would acquire the cluster from cold (acquire_db, which
  // noise alone practically never reaches), ready or not.
  bool step(bool clear, double raw, double pl, double ps, double n, int blocks, double group_slow);
  // A tick of a cluster asleep (rx/fine/watch.h): its mean power follows.
  void rest(double raw) { slow_ += p_.slow_track * (raw - slow_); }
  // Ready this tick (one tick of readiness is used up).
  bool spend() {
    if (ready_ <= 0) return false;
    ready_--;
    return true;
  }
  bool ready() const { return ready_ > 0; }
  double slow() const { return slow_; }  // power averaged over about a second, units^2
  // The mean over the noise n that tells a station is there.
  bool present(double n) const { return slow_ > n * slow_ratio_; }

 private:
  AcquisitionParams p_;
  double acquire_ = 1, stay_ = 1, slow_ratio_ = 1;  // the dB figures as power ratios
  int ready_ = 0;                                   // ticks left in which the cluster may key
  double slow_ = 0;                                 // power averaged over about a second, units^2
};

// Inline: it runs on every cluster every tick.
inline bool Acquisition::step(bool clear, double raw, double pl, double ps, double n, int blocks,
                              double group_slow) {
  // Ready to key: the long average stands clearly above the noise, and
  // the short one too (not a neighbour's key edge inside the long window).
  if (clear) slow_ += p_.slow_track * (raw - slow_);
  const bool slow = blocks >= p_.slow_blocks && slow_ > n * group_slow * slow_ratio_;
  const double acq = n * (ready_ > 0 || slow ? stay_ : acquire_);
  if (!(clear && pl > acq && ps > n * stay_)) return false;
  ready_ = p_.hold_ticks;
  return pl > n * acquire_;
}

}  // namespace talvo::fine
