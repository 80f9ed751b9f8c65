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

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
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

// G consecutive windows of one cluster at once. Window q (0 .. G-1) is the
// first window moved on by q entries, so its entry i stands at a[q + i];
// only the first G - 1 places of the ring have been overwritten by the later
// pushes, and their old values come in `old`. Each window keeps its own two
// sums, each strictly in window order: the windows' smoothing overlaps in
// the processor, and with 256-bit vectors four weights share a division.
template <int G>
inline double entry(const double* old, const double* a, int q, int i) {
  return q + i <= G - 2 ? old[q + i] : a[q + i];
}

void weighted_sums_pair(const double* old, const double* a, int n, const double* c, double s,
                        double* sumv, double* sumg) {
  double sv[2] = {0.0, 0.0}, sg[2] = {0.0, 0.0};
#if defined(__SSE2__)
  const __m128d centre = _mm_set_pd(c[1], c[0]);
  const __m128d sv2 = _mm_set1_pd(s);
  const __m128d half = _mm_set1_pd(0.5 * s);
  const __m128d absmask = _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFFLL));
  for (int i = 0; i < n; i++) {
    const __m128d v = i == 0 ? _mm_set_pd(a[1], old[0]) : _mm_loadu_pd(a + i);
    const __m128d g = weights(_mm_and_pd(_mm_sub_pd(v, centre), absmask), sv2, half);
    const __m128d p = _mm_mul_pd(g, v);
    sv[0] = sv[0] + _mm_cvtsd_f64(p);
    sg[0] = sg[0] + _mm_cvtsd_f64(g);
    sv[1] = sv[1] + _mm_cvtsd_f64(_mm_unpackhi_pd(p, p));
    sg[1] = sg[1] + _mm_cvtsd_f64(_mm_unpackhi_pd(g, g));
  }
#else
  for (int i = 0; i < n; i++) {
    for (int q = 0; q < 2; q++) {
      const double v = entry<2>(old, a, q, i);
      const double g = weight(std::fabs(v - c[q]), s);
      sv[q] = sv[q] + g * v;
      sg[q] = sg[q] + g;
    }
  }
#endif
  for (int q = 0; q < 2; q++) {
    sumv[q] = sv[q];
    sumg[q] = sg[q];
  }
}

#if defined(__x86_64__)
__attribute__((target("avx"))) void weighted_sums_quad(const double* old, const double* a, int n,
                                                       const double* c, double s, double* sumv,
                                                       double* sumg) {
  double sv[4] = {0.0, 0.0, 0.0, 0.0}, sg[4] = {0.0, 0.0, 0.0, 0.0};
  const __m256d one = _mm256_set1_pd(1.0);
  const __m256d zero = _mm256_setzero_pd();
  const __m256d centre = _mm256_loadu_pd(c);
  const __m256d sv4 = _mm256_set1_pd(s);
  const __m256d half = _mm256_set1_pd(0.5 * s);
  const __m256d absmask = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFFLL));
  for (int i = 0; i < n; i++) {
    __m256d v;
    if (i < 3) {
      v = _mm256_set_pd(entry<4>(old, a, 3, i), entry<4>(old, a, 2, i), entry<4>(old, a, 1, i),
                        entry<4>(old, a, 0, i));
    } else {
      v = _mm256_loadu_pd(a + i);
    }
    const __m256d d = _mm256_and_pd(_mm256_sub_pd(v, centre), absmask);
    const __m256d e = _mm256_sub_pd(one, _mm256_div_pd(_mm256_sub_pd(d, sv4), half));
    const __m256d g = _mm256_min_pd(one, _mm256_max_pd(e, zero));
    alignas(32) double gv[4];
    alignas(32) double pv[4];
    _mm256_store_pd(gv, g);
    _mm256_store_pd(pv, _mm256_mul_pd(g, v));
    for (int q = 0; q < 4; q++) {
      sv[q] = sv[q] + pv[q];
      sg[q] = sg[q] + gv[q];
    }
  }
  for (int q = 0; q < 4; q++) {
    sumv[q] = sv[q];
    sumg[q] = sg[q];
  }
}

bool have_avx() {
  static const bool avx = __builtin_cpu_supports("avx");
  return avx;
}
#endif

}  // namespace

void nlg1_run(Receiver& r, int j, const double* env, int count, double* out) {
  const int w = r.nlg1weite[j];
  const int n = 2 * w + 1;
  const double s = r.nlg1sigmaw[j];
  double* const row = r.Histnlg1[j].data();
  int& pos = r.histnlg1pos[j];
  int m = 0;
  // G ticks at a time: push them all, keeping the places the later pushes
  // overwrite in the first window. The windows are read through the mirrored
  // ring, which holds 2n places: the group must not run past its end.
  auto fits = [&](int G) { return (pos + 1) % n + G - 1 <= n; };
  auto group = [&](auto sums, int G) {
    const double* a = push_window(row, pos, n, env[m]);
    double old[3];
    for (int q = 0; q + 1 < G; q++)
      old[q] = a[q];
    for (int q = 1; q < G; q++)
      push_window(row, pos, n, env[m + q]);
    double c[4], sumv[4], sumg[4];
    for (int q = 0; q < G; q++)
      c[q] = a[q + w];
    sums(old, a, n, c, s, sumv, sumg);
    for (int q = 0; q < G; q++)
      out[m + q] = sumv[q] / sumg[q];
    m += G;
  };
  auto single = [&]() {
    const double* h = push_window(row, pos, n, env[m]);
    double sumv, sumg;
    weighted_sums(h, n, h[w], s, sumv, sumg);
    out[m++] = sumv / sumg;
  };
  while (m < count) {
#if defined(__x86_64__)
    if (m + 4 <= count && fits(4) && have_avx()) {
      group(weighted_sums_quad, 4);
      continue;
    }
#endif
    if (m + 2 <= count && fits(2)) {
      group(weighted_sums_pair, 2);
      continue;
    }
    single();
  }
}

void nlg1_channel(Receiver& r, int j) {
  const int w = r.nlg1weite[j];
  const double* h =
      push_window(r.Histnlg1[j].data(), r.histnlg1pos[j], 2 * w + 1, r.valueabsmittel[j]);
  double sumv, sumg;
  weighted_sums(h, 2 * w + 1, h[w], r.nlg1sigmaw[j], sumv, sumg);
  r.valuenlg1[j] = sumv / sumg;
}

}  // namespace talvo
