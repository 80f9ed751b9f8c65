// Adaptive threshold.
//
// Decides at each tick of a cluster whether a tone is present: the smoothed
// envelope is compared with 0.2 times its own mean over the previous
// histadaptlen ticks, and an excess above decthresh is published as the key
// state valuethr (0 for key up). The current value joins the ring only after
// the decision.
#include "rx/stages.h"

namespace talvo {

// The excess is formed in 80-bit extended precision and truncated without a
// rounding to double in between, as the receiver has always done it: where
// the exact excess is whole, the double 0.2 lies a hair above 0.2 and the
// truncation gives one less (a steady envelope of 2000 gives 1599, not 1600).
int excess(double valuenlg1, double sum, int L) {
  const long double normsum = static_cast<long double>(sum) / L;
  const long double x =
      static_cast<long double>(valuenlg1) - static_cast<long double>(0.2) * normsum;
  return static_cast<int>(x);
}

void adaptthreshold2_channel(Receiver& r, int j) {
  const int L = r.histadaptlen[j];
  int p = r.Histadaptindex[j];
  const int sigdiff = excess(r.valuenlg1[j], r.sum[j], L);
  r.valuethr[j] = sigdiff > r.decthresh[j] ? static_cast<double>(sigdiff) : 0.0;
  r.sum[j] = (r.valuenlg1[j] - r.Histadapt[j][p]) + r.sum[j];
  r.Histadapt[j][p] = r.valuenlg1[j];
  if (++p >= L) p = 0;
  r.Histadaptindex[j] = p;
}

}  // namespace talvo
