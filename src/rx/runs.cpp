#include "rx/runs.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace talvo {

namespace {

constexpr double kNone = -1e30;  // log-probability of a state no path reaches

// Run lengths in dots: a key-down run is a dot or a dash, a key-up run an
// element, character or word gap; a little of every length is allowed
// (irregular fists, Farnsworth gaps, pauses between overs). The spreads are
// narrow: wider ones let the noise stretch a dot towards a dash (over six
// weak signals at 20 and 30 WPM, -3 dB: 0.156 and 0.310 with spreads 5/3
// of these, 0.134 and 0.295 with these); the share spread over every length
// keeps a fist's odd lengths possible.
constexpr double kDownMean[] = {1, 3};
constexpr double kDownSd[] = {0.15, 0.24};
constexpr double kDownWeight[] = {0.49, 0.49};
constexpr double kDownAny = 0.02;       // weight spread over all key-down lengths
constexpr double kDownLen = 5;          // dots, key-down lengths told apart
constexpr double kDownCapHazard = 0.3;  // chance per tick a still longer mark ends
constexpr double kUpMean[] = {1, 3, 7};
constexpr double kUpSd[] = {0.18, 0.36, 0.9};
constexpr double kUpWeight[] = {0.5, 0.28, 0.12};
constexpr double kUpAny = 0.1;    // weight spread over all key-up lengths
constexpr double kUpLen = 10;     // dots, key-up lengths told apart
constexpr double kUpCapDots = 5;  // dots a pause lasts on, on average, once longer

// The largest of e[-d] + a[d] and of e[-d] + b[d] over d < n (kNone when
// none is larger). Four running maxima each, so that the additions do not
// wait on one another: this is the receiver's busiest loop.
void best_sums(const double* e, const double* a, const double* b, int n, double& ma, double& mb) {
  double a0 = kNone, a1 = kNone, a2 = kNone, a3 = kNone;
  double b0 = kNone, b1 = kNone, b2 = kNone, b3 = kNone;
  int d = 0;
  for (; d + 4 <= n; d += 4) {
    const double v0 = e[-d], v1 = e[-d - 1], v2 = e[-d - 2], v3 = e[-d - 3];
    a0 = std::max(a0, v0 + a[d]);
    a1 = std::max(a1, v1 + a[d + 1]);
    a2 = std::max(a2, v2 + a[d + 2]);
    a3 = std::max(a3, v3 + a[d + 3]);
    b0 = std::max(b0, v0 + b[d]);
    b1 = std::max(b1, v1 + b[d + 1]);
    b2 = std::max(b2, v2 + b[d + 2]);
    b3 = std::max(b3, v3 + b[d + 3]);
  }
  for (; d < n; d++) {
    a0 = std::max(a0, e[-d] + a[d]);
    b0 = std::max(b0, e[-d] + b[d]);
  }
  ma = std::max(std::max(a0, a1), std::max(a2, a3));
  mb = std::max(std::max(b0, b1), std::max(b2, b3));
}

// The first d < n where e[-d] + a[d] is m (0 when m is kNone).
int first_reaching(const double* e, const double* a, int n, double m) {
  if (m <= kNone) return 0;
  for (int d = 0; d < n; d++)
    if (e[-d] + a[d] == m) return d;
  return 0;
}

}  // namespace

void KeyRuns::make(double max_unit, int lag, bool ready) {
  lag_ = lag;
  const int down = static_cast<int>(std::ceil(kDownLen * max_unit)) + 1;
  const int up = static_cast<int>(std::ceil(kUpLen * max_unit)) + 1;
  int ring = 1;
  while (ring < up + 1)
    ring *= 2;
  mask_ = ring - 1;
  int starts = 1;
  while (starts < lag + 2)
    starts *= 2;
  prev_mask_ = starts - 1;
  for (int k = 0; k < 2; k++) {
    const int n = k == kDown ? down : up;
    // The tables are written by set_unit before a run reads them.
    go_[k].resize(n);
    end_[k].resize(n);
    entry_[k].resize(2 * ring);
    prev_[k].resize(starts);
    if (ready) {
      std::fill(go_[k].begin(), go_[k].end(), 0.0);
      std::fill(end_[k].begin(), end_[k].end(), kNone);
    }
    len_[k] = 0;
  }
  unit_ = 0;
  if (ready) reset();
}

void KeyRuns::reset() {
  t_ = -1;
  for (int k = 0; k < 2; k++) {
    std::fill(entry_[k].begin(), entry_[k].end(), kNone);
    std::fill(prev_[k].begin(), prev_[k].end(), -1);
    sum_[k] = 0;
    cap_[k] = kNone;
    cap_start_[k] = -1;
  }
  // Before the first tick the key has long been up.
  cap_[kUp] = 0;
  best_k_ = kUp;
  best_start_ = -1;
}

// The chance that a run ends at each length among the runs as long or
// longer (the hazard), from a mixture of normal lengths (mean, sd in dots)
// and a share spread evenly; the last state's runs end at cap_hazard a tick.
void KeyRuns::tables(int k, const double* mean, const double* sd, const double* weight, int n,
                     double any, double cap_hazard) {
  const int len = len_[k];
  Doubles& go = go_[k];
  Doubles& end = end_[k];
  // end[] holds each length's probability first, then (with go[]) the
  // chances of ending and going on there, then the sums.
  double total = 0;
  for (int d = 0; d < len - 1; d++) {
    const double x = (d + 1) / unit_;
    double p = any / (len - 1);
    for (int i = 0; i < n; i++) {
      const double z = (x - mean[i]) / sd[i];
      p += weight[i] * std::exp(-0.5 * z * z) / (sd[i] * unit_ * std::sqrt(2 * std::numbers::pi));
    }
    end[d] = p;
    total += p;
  }
  double longer = std::max(1 - total, 1e-6);  // runs reaching the last state
  for (int d = len - 2; d >= 0; d--) {
    const double p = end[d];
    longer += p;
    const double h = std::clamp(p / longer, 1e-12, 1 - 1e-12);
    end[d] = std::log(h);
    go[d] = std::log1p(-h);
  }
  cap_leave_[k] = std::log(cap_hazard);
  cap_stay_[k] = std::log1p(-cap_hazard);
  double sum = 0;
  for (int d = 0; d < len; d++) {
    const double stay = d < len - 1 ? go[d] : cap_stay_[k];
    const double leave = d < len - 1 ? end[d] : cap_leave_[k];
    go[d] = sum;
    end[d] = sum + leave;
    sum += stay;
  }
}

double KeyRuns::score(int k, int d) const {
  if (d == len_[k] - 1) return cap_[k];
  return entry_[k][(t_ - d) & mask_] + sum_[k] + go_[k][d];
}

void KeyRuns::set_unit(double unit) {
  if (unit == unit_) return;
  int len[2];
  len[kDown] = std::min(static_cast<int>(std::ceil(kDownLen * unit)) + 1,
                        static_cast<int>(go_[kDown].size()));
  len[kUp] =
      std::min(static_cast<int>(std::ceil(kUpLen * unit)) + 1, static_cast<int>(go_[kUp].size()));
  // Runs under way that are now at least as long as the last state join it
  // (scored by the lengths they grew under); when the last state moves out,
  // the runs it passed are told apart again from their starts.
  for (int k = 0; k < 2; k++)
    for (int d = len[k] - 1; d < len_[k] - 1 && t_ >= 0; d++) {
      const double v = score(k, d);
      if (v > cap_[k]) {
        cap_[k] = v;
        cap_start_[k] = t_ - d;
      }
    }
  unit_ = unit;
  len_[kDown] = len[kDown];
  len_[kUp] = len[kUp];
  tables(kDown, kDownMean, kDownSd, kDownWeight, 2, kDownAny, kDownCapHazard);
  tables(kUp, kUpMean, kUpSd, kUpWeight, 3, kUpAny, 1 / (kUpCapDots * unit));
}

// Scores relative to the best, and the summed evidence moved into the
// entries, so that neither drifts out of range.
double KeyRuns::rebase() {
  const long long d = std::min<long long>(t_ - best_start_, len_[best_k_] - 1);
  const double best = score(best_k_, static_cast<int>(d));
  for (int k = 0; k < 2; k++) {
    for (double& e : entry_[k])
      e = std::max(e + sum_[k] - best, kNone);
    sum_[k] = 0;
    cap_[k] = std::max(cap_[k] - best, kNone);
  }
  return best;
}

bool KeyRuns::step(double llr) {
  const int ring = mask_ + 1;
  // The runs under way at the tick before: the best of each key state that
  // ends there, and the best of all (the path traced back).
  double ended[2] = {kNone, kNone};
  long long ended_start[2] = {-1, -1};
  double best = kNone;
  for (int k = 0; k < 2; k++) {
    const int len = len_[k];
    double e_best = cap_[k] + cap_leave_[k];
    long long e_start = cap_start_[k];
    double g_best = cap_[k];
    long long g_start = cap_start_[k];
    if (t_ >= 0) {
      const double* e = entry_[k].data() + (t_ & mask_) + ring;  // e[-d]: started at t_ - d
      const double* endp = end_[k].data();
      const double* go = go_[k].data();
      double me, mg;
      best_sums(e, endp, go, len - 1, me, mg);
      // Where the best run started is looked for only when it wins.
      if (me + sum_[k] > e_best) {
        e_best = me + sum_[k];
        e_start = t_ - first_reaching(e, endp, len - 1, me);
      }
      if (mg + sum_[k] > g_best) {
        g_best = mg + sum_[k];
        g_start = t_ - first_reaching(e, go, len - 1, mg);
      }
    }
    ended[k] = e_best;
    ended_start[k] = e_start;
    if (g_best > best) {
      best = g_best;
      best_k_ = k;
      best_start_ = g_start;
    }
  }
  // Trace the best path back to the tick decided.
  int key = best_k_;
  long long start = best_start_;
  const long long target = t_ + 1 - lag_;
  for (int runs = 0; start > target && start >= 0 && runs <= lag_; runs++) {
    start = prev_[key][start & prev_mask_];
    key = 1 - key;
  }
  // The newest tick: every run goes on, or a new one begins after the best
  // that ended on the other key state.
  if (t_ >= 0 && (t_ & 1023) == 1023) {
    const double by = rebase();
    ended[0] -= by;
    ended[1] -= by;
  }
  t_++;
  for (int k = 0; k < 2; k++) {
    const int len = len_[k];
    const double obs = k == kDown ? llr : 0.0;
    // Starts before the first tick hold no entry (kNone).
    const long long from = t_ - 1 - (len - 2);  // the start of the longest run counted
    const double kept = cap_[k] + cap_stay_[k];
    const double reach = entry_[k][from & mask_] + sum_[k] + go_[k][len - 1];
    if (reach > kept) cap_start_[k] = from;
    cap_[k] = std::max(std::max(kept, reach) + obs, kNone);
    const double e = std::max(ended[1 - k] - sum_[k], kNone);
    entry_[k][t_ & mask_] = entry_[k][(t_ & mask_) + ring] = e;
    prev_[k][t_ & prev_mask_] = ended_start[1 - k];
    sum_[k] += obs;
  }
  return key == kDown;
}

}  // namespace talvo
