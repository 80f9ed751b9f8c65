// Per-channel comb pre-filter.
//
// Before a channel mixes the input down, the input passes a recursive comb
// whose delay is the channel's own period: for each phase position of the
// period the ring inframesmem keeps an exponential average of the samples that
// fell on it, y[n] = 0.9 y[n - P] + 0.1 x[n]. The channel's tone and its
// harmonics repeat every P samples and keep their size; everything else is
// averaged down (to 0.1 / 1.9 midway between the comb's teeth).
//
// Runs on every input sample for all 43 channels, before `mixer`, which reads
// infr. The ring slot advances in step with the mixer's phase counter.
#pragma once

#include "rx/receiver.h"

namespace talvo {

inline void combfilter(Receiver& r, double x) {
  const double keep = 1 - r.infrgew;
  for (int j = -kanaele; j <= kanaele; j++) {
    const int m = r.inframetime[j];
    const double v = keep * r.inframesmem[j][m] + r.infrgew * x;
    r.inframesmem[j][m] = v;
    r.infr[j] = v;
    r.inframetime[j] = m + 1 >= r.mixperiode[j] ? 0 : m + 1;
  }
}

}  // namespace talvo
