// Envelope averaging.
//
// Each channel that ticked averages its magnitude over its last histabslen
// ticks (about 10 ms). Then every cluster of five neighbouring channels takes
// the largest of its members' averages as its envelope, stored at the
// cluster's centre channel. From here on the chain works on the nine centres.
#include "rx/history.h"
#include "rx/stages.h"

namespace talvo {

void absmittel_channel(Receiver& r, int j) {
  const int n = r.histabslen[j];
  const double* h = push_window(r.Histabs[j].data(), r.histabspos[j], n, r.valueabs[j]);
  double s = 0.0;
  for (int k = 0; k < n; k++)
    s = s + h[k];
  r.valueabsmittel1[j] = s / n;
}

// The outer clusters reach one channel past the channel range; averages are
// never negative and the maximum starts at 0, so leaving that place out is
// the same as counting it as 0.
void absmittel_cluster(Receiver& r, int c) {
  double locmax = 0.0;
  for (int i = -2; i <= 2; i++) {
    const int m = c + i;
    if (m < -kanaele || m > kanaele) continue;
    // Written as a selection, so that it compiles to a maximum instruction
    // rather than a branch that noise makes unpredictable.
    const double v = r.valueabsmittel1[m];
    locmax = v > locmax ? v : locmax;
  }
  r.valueabsmittel[c] = locmax;
}

}  // namespace talvo
