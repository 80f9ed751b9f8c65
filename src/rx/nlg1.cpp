// Nonlinear smoothing.
//
// An edge-preserving filter over a window of 2w + 1 ticks of each cluster's
// envelope. Every entry is averaged in with a weight that depends only on how
// far its value lies from the window's centre value: 1 within s, falling
// linearly to 0 at 1.5 s, and 0 beyond. A level is smoothed, while a jump of
// more than 1.5 s (a key going down or up) passes as sharp as it came, w
// ticks late.
#include <cmath>

#include "rx/history.h"
#include "rx/stages.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace talvo {
namespace {

// The weighted sums over the window, added in window order.
//
// The weight is taken without branches: 1 - (d - s) / (0.5 s) clamped to
// 0 .. 1. Below s the unclamped value exceeds 1 and the clamp gives exactly
// 1; from 1.5 s on it is at most +0 and the clamp gives exactly 0; between,
// it is the falling edge itself. Noise around a level crosses s at random,
// and branches there are mispredicted on most entries. With SSE2 two weights
// are formed at once; the sums stay strictly sequential, so the results are
// those of the plain definition to the last bit.
void weighted_sums(const double* h, int n, double c, double s, double& sumv, double& sumg) {
  double sv = 0.0;
  double sg = 0.0;
  int k = 0;
#if defined(__SSE2__)
  const __m128d one = _mm_set1_pd(1.0);
  const __m128d zero = _mm_setzero_pd();
  const __m128d centre = _mm_set1_pd(c);
  const __m128d sv2 = _mm_set1_pd(s);
  const __m128d half = _mm_set1_pd(0.5 * s);
  const __m128d absmask = _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFFLL));
  for (; k + 1 < n; k += 2) {
    const __m128d v = _mm_loadu_pd(h + k);
    const __m128d d = _mm_and_pd(_mm_sub_pd(v, centre), absmask);
    const __m128d e = _mm_sub_pd(one, _mm_div_pd(_mm_sub_pd(d, sv2), half));
    const __m128d g = _mm_min_pd(one, _mm_max_pd(e, zero));
    alignas(16) double gv[2];
    alignas(16) double pv[2];
    _mm_store_pd(gv, g);
    _mm_store_pd(pv, _mm_mul_pd(g, v));
    sv = sv + pv[0];
    sg = sg + gv[0];
    sv = sv + pv[1];
    sg = sg + gv[1];
  }
#endif
  for (; k < n; k++) {
    const double d = std::fabs(h[k] - c);
    double g = 1 - (d - s) / (0.5 * s);
    g = g > 1.0 ? 1.0 : g;
    g = g < 0.0 ? 0.0 : g;
    sv = sv + g * h[k];
    sg = sg + g;
  }
  sumv = sv;
  sumg = sg;
}

}  // namespace

void nlg1(Receiver& r) {
  for (int j = -kLastCentre; j <= kLastCentre; j += 5) {
    if (r.newdata[j] != 1) continue;
    const int w = r.nlg1weite[j];
    const double* h =
        push_window(r.Histnlg1[j].data(), r.histnlg1pos[j], 2 * w + 1, r.valueabsmittel[j]);
    double sumv, sumg;
    weighted_sums(h, 2 * w + 1, h[w], r.nlg1sigmaw[j], sumv, sumg);
    r.valuenlg1[j] = sumv / sumg;
  }
}

}  // namespace talvo
