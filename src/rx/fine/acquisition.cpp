#include "rx/fine/acquisition.h"

#include "rx/fine/common.h"

namespace talvo::fine {

void Acquisition::make(const AcquisitionParams& p) {
  p_ = p;
  acquire_ = undb(p.acquire_db);
  stay_ = undb(p.stay_db);
  slow_ratio_ = undb(p.slow_db);
}

void Acquisition::reset() {
  ready_ = 0;
  slow_ = 0;
}

void Acquisition::step(bool clear, double raw, double pl, double ps, double n, int blocks,
                       double group_slow) {
  // Ready to key: the long average stands clearly above the noise, and
  // the short one too (not a neighbour's key edge inside the long window).
  if (clear) slow_ += p_.slow_track * (raw - slow_);
  const bool slow = blocks >= p_.slow_blocks && slow_ > n * group_slow * slow_ratio_;
  const double acq = n * (ready_ > 0 || slow ? stay_ : acquire_);
  if (clear && pl > acq && ps > n * stay_) ready_ = p_.hold_ticks;
}

}  // namespace talvo::fine
