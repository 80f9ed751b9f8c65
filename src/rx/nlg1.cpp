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

// The weight of an entry at distance d from the centre value, without
// branches where the compiler can help it.
double weight(double d, double s) {
  double g = 1 - (d - s) / (0.5 * s);
  g = g > 1.0 ? 1.0 : g;
  return g < 0.0 ? 0.0 : g;
}

#if defined(__SSE2__)
// The weights of two entries at distances d, as `weight` gives them.
inline __m128d weights(__m128d d, __m128d s, __m128d half) {
  const __m128d one = _mm_set1_pd(1.0);
  const __m128d e = _mm_sub_pd(one, _mm_div_pd(_mm_sub_pd(d, s), half));
  return _mm_min_pd(one, _mm_max_pd(e, _mm_setzero_pd()));
}
#endif

// The weighted sums over the window, added in window order.
//
// The weight is taken without branches on the distance: 1 - (d - s) /
// (0.5 s) clamped to 0 .. 1. Below s the unclamped value exceeds 1 and the
// clamp gives exactly 1; from 1.5 s on it is at most +0 and the clamp gives
// exactly 0; between, it is the falling edge itself. Noise around a level
// crosses s at random, and branches there are mispredicted on most entries.
// With SSE2 two weights are formed at once; the sums stay strictly
// sequential, so the results are those of the plain definition to the last
// bit.
void weighted_sums(const double* h, int n, double c, double s, double& sumv, double& sumg) {
  double sv = 0.0;
  double sg = 0.0;
  int k = 0;
#if defined(__SSE2__)
  const __m128d centre = _mm_set1_pd(c);
  const __m128d sv2 = _mm_set1_pd(s);
  const __m128d half = _mm_set1_pd(0.5 * s);
  const __m128d absmask = _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFFLL));
  for (; k + 1 < n; k += 2) {
    const __m128d v = _mm_loadu_pd(h + k);
    const __m128d d = _mm_and_pd(_mm_sub_pd(v, centre), absmask);
    const __m128d g = weights(d, sv2, half);
    const __m128d p = _mm_mul_pd(g, v);
    sv = sv + _mm_cvtsd_f64(p);
    sg = sg + _mm_cvtsd_f64(g);
    sv = sv + _mm_cvtsd_f64(_mm_unpackhi_pd(p, p));
    sg = sg + _mm_cvtsd_f64(_mm_unpackhi_pd(g, g));
  }
#endif
  for (; k < n; k++) {
    const double g = weight(std::fabs(h[k] - c), s);
    sv = sv + g * h[k];
    sg = sg + g;
  }
  sumv = sv;
  sumg = sg;
}

// Two consecutive windows of one cluster at once: `a` is the first window,
// and the second is the same window moved on by one entry, b[i] = a[i + 1]
// (the caller passes the first window's oldest entry apart, since the second
// push has overwritten it in the ring). Four independent sums, each still
// strictly in window order: two ticks' smoothing overlap in the processor.
void weighted_sums_pair(double a0, const double* a, int n, double ca, double cb, double s,
                        double (&sumv)[2], double (&sumg)[2]) {
  double sva = 0.0, sga = 0.0, svb = 0.0, sgb = 0.0;
#if defined(__SSE2__)
  const __m128d centre = _mm_set_pd(cb, ca);
  const __m128d sv2 = _mm_set1_pd(s);
  const __m128d half = _mm_set1_pd(0.5 * s);
  const __m128d absmask = _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFFLL));
  for (int i = 0; i < n; i++) {
    // Lane 0: entry i of the first window; lane 1: entry i of the second.
    const __m128d v = i == 0 ? _mm_set_pd(a[1], a0) : _mm_loadu_pd(a + i);
    const __m128d d = _mm_and_pd(_mm_sub_pd(v, centre), absmask);
    const __m128d g = weights(d, sv2, half);
    const __m128d p = _mm_mul_pd(g, v);
    sva = sva + _mm_cvtsd_f64(p);
    sga = sga + _mm_cvtsd_f64(g);
    svb = svb + _mm_cvtsd_f64(_mm_unpackhi_pd(p, p));
    sgb = sgb + _mm_cvtsd_f64(_mm_unpackhi_pd(g, g));
  }
#else
  for (int i = 0; i < n; i++) {
    const double va = i == 0 ? a0 : a[i];
    const double ga = weight(std::fabs(va - ca), s);
    const double gb = weight(std::fabs(a[i + 1] - cb), s);
    sva = sva + ga * va;
    sga = sga + ga;
    svb = svb + gb * a[i + 1];
    sgb = sgb + gb;
  }
#endif
  sumv[0] = sva;
  sumg[0] = sga;
  sumv[1] = svb;
  sumg[1] = sgb;
}

}  // namespace

void nlg1_channel_pair(Receiver& r, int j, double first, double second, double (&out)[2]) {
  const int w = r.nlg1weite[j];
  const int n = 2 * w + 1;
  double* const row = r.Histnlg1[j].data();
  int& pos = r.histnlg1pos[j];
  const double* a = push_window(row, pos, n, first);
  const double a0 = a[0];  // the next push overwrites it
  const double ca = a[w];
  push_window(row, pos, n, second);
  double sumv[2], sumg[2];
  weighted_sums_pair(a0, a, n, ca, a[w + 1], r.nlg1sigmaw[j], sumv, sumg);
  out[0] = sumv[0] / sumg[0];
  out[1] = sumv[1] / sumg[1];
}

void nlg1_channel(Receiver& r, int j) {
  const int w = r.nlg1weite[j];
  const double* h =
      push_window(r.Histnlg1[j].data(), r.histnlg1pos[j], 2 * w + 1, r.valueabsmittel[j]);
  double sumv, sumg;
  weighted_sums(h, 2 * w + 1, h[w], r.nlg1sigmaw[j], sumv, sumg);
  r.valuenlg1[j] = sumv / sumg;
}

void nlg1(Receiver& r) {
  for (int j = -kLastCentre; j <= kLastCentre; j += 5)
    if (r.newdata[j] == 1) nlg1_channel(r, j);
}

}  // namespace talvo
