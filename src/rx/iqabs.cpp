// I/Q low-pass and magnitude.
//
// At every tick of a channel the new I/Q pair joins a window of the last
// iqhistlen pairs (about 20 ms on every channel). Each component is averaged
// over the window with a five-step taper at both ends, 0.2 0.3 0.5 0.7 0.9,
// and divided by the window length (not by the weight total, so a steady pair
// comes out scaled by (n - 4.8) / n for n >= 10). The magnitude of the
// filtered pair is the channel's valueabs.
#include <cmath>

#include "rx/history.h"
#include "rx/stages.h"

namespace talvo {
namespace {

// The tapered sums of both histories. Terms are added head first, then the
// middle, then the tail from the newest end inwards; windows of 5 to 9
// entries give their overlapping entries both weights. The two sums are
// formed side by side so that their additions overlap in the processor.
void tapered_sums(const double* re, const double* im, int n, double& sumre, double& sumim) {
  static constexpr double ramp[5] = {0.2, 0.3, 0.5, 0.7, 0.9};
  double a = 0.0;
  double b = 0.0;
  for (int k = 0; k < 5; k++) {
    a = a + ramp[k] * re[k];
    b = b + ramp[k] * im[k];
  }
  for (int k = 5; k <= n - 6; k++) {
    a = a + re[k];
    b = b + im[k];
  }
  for (int k = 0; k < 5; k++) {
    a = a + ramp[k] * re[n - 1 - k];
    b = b + ramp[k] * im[n - 1 - k];
  }
  sumre = a;
  sumim = b;
}

}  // namespace

void iqabs_channel(Receiver& r, int j) {
  const int n = r.iqhistlen[j];
  // Both histories share one ring position.
  int pos_re = r.iqhistpos[j];
  const double* re = push_window(r.Histre[j].data(), pos_re, n, r.IQre[j]);
  const double* im = push_window(r.Histim[j].data(), r.iqhistpos[j], n, r.IQim[j]);
  double sumre, sumim;
  tapered_sums(re, im, n, sumre, sumim);
  const double R = sumre / n;
  const double I = sumim / n;
  r.valueabs[j] = std::sqrt(R * R + I * I);
}

}  // namespace talvo
