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

// Terms are added head first, then the middle, then the tail from the newest
// end inwards; windows of 5 to 9 entries give the overlapping entries both of
// their weights.
double tapered_sum(const double* h, int n) {
  double s = 0.0;
  s = s + 0.2 * h[0];
  s = s + 0.3 * h[1];
  s = s + 0.5 * h[2];
  s = s + 0.7 * h[3];
  s = s + 0.9 * h[4];
  for (int k = 5; k <= n - 6; k++)
    s = s + h[k];
  s = s + 0.2 * h[n - 1];
  s = s + 0.3 * h[n - 2];
  s = s + 0.5 * h[n - 3];
  s = s + 0.7 * h[n - 4];
  s = s + 0.9 * h[n - 5];
  return s;
}

}  // namespace

void iqabs(Receiver& r) {
  for (int j = -kanaele; j <= kanaele; j++) {
    if (r.newdata[j] != 1) continue;
    const int n = r.iqhistlen[j];
    // Both histories share one ring position.
    int pos_re = r.iqhistpos[j];
    const double* re = push_window(r.Histre[j].data(), pos_re, n, r.IQre[j]);
    const double* im = push_window(r.Histim[j].data(), r.iqhistpos[j], n, r.IQim[j]);
    const double R = tapered_sum(re, n) / n;
    const double I = tapered_sum(im, n) / n;
    r.valueabs[j] = std::sqrt(R * R + I * I);
  }
}

}  // namespace talvo
