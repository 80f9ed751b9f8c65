// Nonlinear smoothing.
//
// An edge-preserving filter over a window of 2w + 1 ticks of each cluster's
// envelope. Every entry is averaged in with a weight that depends only on how
// far its value lies from the window's centre value: 1 within s, falling
// linearly to 0 at 1.5 s, and 0 beyond. A level is smoothed, while a jump of
// more than 1.5 s (a key going down or up) passes as sharp as it came, w
// ticks late.
#include <algorithm>
#include <cmath>

#include "rx/history.h"
#include "rx/stages.h"

namespace talvo {

// The weight without branches: 1 - (d - s) / (0.5 s) clamped to 0 .. 1. Below
// s the unclamped value exceeds 1 and the clamp gives exactly 1; from 1.5 s on
// it is at most 0 and the clamp gives exactly 0; between, the value is the
// one the falling edge defines. Noise around a level crosses s at random, and
// a branch there would be mispredicted on most ticks.
double nlg1_weight(double d, double s) {
  return std::min(1.0, std::max(0.0, 1 - (d - s) / (0.5 * s)));
}

void nlg1(Receiver& r) {
  for (int j = -kanaele; j <= kanaele; j++) {
    if (j % 5 != 0 || r.newdata[j] != 1) continue;
    const int w = r.nlg1weite[j];
    const double* h =
        push_window(r.Histnlg1[j].data(), r.histnlg1pos[j], 2 * w + 1, r.valueabsmittel[j]);
    const double c = h[w];
    const double s = r.nlg1sigmaw[j];
    double sumv = 0.0;
    double sumg = 0.0;
    for (int k = 0; k <= 2 * w; k++) {
      const double g = nlg1_weight(std::fabs(h[k] - c), s);
      sumv = sumv + g * h[k];
      sumg = sumg + g;
    }
    r.valuenlg1[j] = sumv / sumg;
  }
}

}  // namespace talvo
