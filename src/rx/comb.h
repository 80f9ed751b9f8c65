// Per-channel comb pre-filter.
//
// Before a channel mixes the input down, the input passes a recursive comb
// whose delay is the channel's own period: for each phase position of the
// period the ring inframesmem keeps an exponential average of the samples that
// fell on it, y[n] = 0.9 y[n - P] + 0.1 x[n]. The channel's tone and its
// harmonics repeat every P samples and keep their size; everything else is
// averaged down (to 0.1 / 1.9 midway between the comb's teeth).
//
// Runs on every input sample for all 43 channels, before the mixer, which
// reads infr. The ring slot is the mixer's phase counter `time`, which the
// mixer advances: ring position and table position are always the same phase.
#pragma once

#include "rx/receiver.h"

namespace talvo {

// One channel's step; `keep` is 1 - infrgew and `gew` is infrgew.
inline void comb_channel(Receiver& r, int j, double x, double keep, double gew) {
  const int m = r.time[j];
  const double v = keep * r.inframesmem[j][m] + gew * x;
  r.inframesmem[j][m] = v;
  r.infr[j] = v;
}

}  // namespace talvo
