#include "rx/fine/guards.h"

#include <algorithm>
#include <cmath>

namespace talvo::fine {

void Guards::make(const GuardParams& p, std::span<const double> centres) {
  p_ = p;
  k_ = static_cast<int>(centres.size());
  centres_.assign(centres.begin(), centres.end());
  edge_ = undb(p.edge_db);
  far_ = undb(p.far_edge_db);
  steady_ = undb(p.steady_db);
  far_steady_ = undb(p.far_steady_db);
  evidence_ = undb(p.evidence_db);
  kind_.resize(static_cast<std::size_t>(k_) * k_);
  soft_far_.resize(static_cast<std::size_t>(k_) * k_);
  for (int q = 0; q < k_; q++)
    for (int o = 0; o < k_; o++) {
      const double apart = std::abs(centres[o] - centres[q]);
      kind_[q * k_ + o] = static_cast<unsigned char>((apart <= p.neighbour_hz ? kNear : 0) |
                                                     (apart <= p.subtract_hz ? kReach : 0) |
                                                     (apart <= p.settled_hz ? kFar : 0));
      soft_far_[q * k_ + o] = soft_far_at(apart);
    }
  for (auto* v : {&hi_, &lo_, &guarded_, &unguarded_})
    v->resize(k_);
  guarded_n_.resize(k_);
  pair_lo_.resize(k_);
  pair_hi_.resize(k_);
  pair_at_.resize(k_);
  std::size_t pairs = 0;
  for (int q = 0; q < k_; q++) {
    int lo = q, hi = q + 1;
    while (lo > 0 && centres[q] - centres[lo - 1] <= p.pair_hz)
      lo--;
    while (hi < k_ && centres[hi] - centres[q] <= p.pair_hz)
      hi++;
    pair_lo_[q] = lo;
    pair_hi_[q] = hi;
    pair_at_[q] = pairs;
    pairs += static_cast<std::size_t>(hi - lo);
  }
  pair_guarded_.resize(pairs);
  pair_unguarded_.resize(pairs);
  pair_n_.resize(pairs);
  pair_eased_.resize(pairs);
  learn_phase_.resize(k_);
}

bool Guards::heard_nearer(int o, std::span<const double> tones) const {
  const double tone = tones[o], off = std::abs(tone - centres_[o]);
  for (const int m : {o - 1, o + 1})
    if (m >= 0 && m < k_ && std::abs(tone - centres_[m]) < off &&
        std::abs(tones[m] - tone) <= p_.same_hz)
      return true;
  return false;
}

double Guards::soft_far_at(double apart) const {
  return undb(std::max(p_.soft_far_db - p_.soft_far_db_per_hz * apart, p_.soft_far_min_db));
}

void Guards::reset() {
  std::fill(hi_.begin(), hi_.end(), 0.0);
  std::fill(lo_.begin(), lo_.end(), 0.0);
  std::fill(guarded_.begin(), guarded_.end(), 0.0);
  std::fill(unguarded_.begin(), unguarded_.end(), 0.0);
  std::fill(guarded_n_.begin(), guarded_n_.end(), 0);
  std::fill(pair_guarded_.begin(), pair_guarded_.end(), 0.0);
  std::fill(pair_unguarded_.begin(), pair_unguarded_.end(), 0.0);
  std::fill(pair_n_.begin(), pair_n_.end(), 0);
  std::fill(pair_eased_.begin(), pair_eased_.end(), -1);
  std::fill(learn_phase_.begin(), learn_phase_.end(), 0);
}

// The extremes of n values from v (max into hi, min into lo).
static void extremes(const double* v, int n, double& hi, double& lo) {
  for (int i = 0; i < n; i++) {
    hi = std::max(hi, v[i]);
    lo = std::min(lo, v[i]);
  }
}

void Guards::swing(int q, const ChannelPower& power, long long at, const Impulses* imp) {
  double hi = 0, lo = HUGE_VAL;
  const int r = p_.reach_ticks, s = p_.short_half;
  if (imp && imp->any() && imp->blanked(at - r - s, at + r + s) > 0) {
    for (long long u = at - r; u <= at + r; u++) {
      if (imp->blanked(u - s, u + s) > 0) continue;
      hi = std::max(hi, power.shrt(u));
      lo = std::min(lo, power.shrt(u));
    }
    hi_[q] = hi;
    lo_[q] = std::min(lo, hi);
    return;
  }
  // The ticks at - reach .. at + reach in the ring, in at most two runs.
  const double* ring = power.shrt_ring();
  const int first = static_cast<int>((at - p_.reach_ticks) & kRingMask);
  const int n = 2 * p_.reach_ticks + 1;
  const int run = std::min(n, kRing - first);
  extremes(ring + first, run, hi, lo);
  extremes(ring, n - run, hi, lo);
  hi_[q] = hi;
  lo_[q] = lo;
}

Guards::Result Guards::step(int q, double ps, std::span<const char> settled,
                            std::span<const double> sub_guard, std::span<const double> tones) {
  // Another cluster's keying sidebands (and the clicks of hard keying,
  // which reach across the band) come around its key edges: there its
  // power swings; a neighbour's steady carrier leaks a little always.
  // Whether the far guard matters here is learnt: the cluster's power
  // where it would blank against its power elsewhere; where the other
  // stations' clicks do not show, it eases towards the level of soft
  // keying's sidebands. Within pair_hz it is learnt per pair, from where
  // that other cluster's guard alone would blank: the cluster's own station
  // and the other stations key apart from it.
  const bool eased_q =
      guarded_n_[q] >= p_.evidence_ticks && guarded_[q] < unguarded_[q] * evidence_;
  const std::size_t row = static_cast<std::size_t>(q) * k_;
  const unsigned char* kind = kind_.data() + row;
  const double* soft_far = soft_far_.data() + row;
  const double* hi = hi_.data();
  const double* lo = lo_.data();
  const char* settled_o = settled.data();
  const double* sub_guard_o = sub_guard.data();
  const double edge = edge_, far = far_, steady_near = steady_, steady_far = far_steady_;
  // The pairs' evidence first, on every pair within pair_hz but the
  // neighbours (whose guards never ease): eased_[pair] 1 where it shows no
  // clicks, 0 where it does, -1 before it has enough ticks.
  const int pair_lo = pair_lo_[q], pair_hi = pair_hi_[q];
  const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(pair_at_[q]) - pair_lo;
  double* pair_g = pair_guarded_.data() + at;
  double* pair_u = pair_unguarded_.data() + at;
  int* pair_n = pair_n_.data() + at;
  signed char* pair_e = pair_eased_.data() + at;
  const double track = 4 * p_.evidence_track;
  const int ticks = p_.evidence_ticks;
  const bool learn = (learn_phase_[q]++ & 3) == 0;
  for (int o = pair_lo; o < pair_hi && learn; o++) {
    if (kind[o] & kNear) continue;
    if (ps < far * (hi[o] - lo[o])) {
      pair_g[o] += track * (ps - pair_g[o]);
      pair_n[o] = std::min(pair_n[o] + 4, ticks);
    } else {
      pair_u[o] += track * (ps - pair_u[o]);
    }
    pair_e[o] =
        static_cast<signed char>(pair_n[o] < ticks ? -1 : pair_g[o] < pair_u[o] * evidence_);
  }
  bool clear = true, strict = true;
  for (int o = 0; o < k_ && (clear || strict); o++) {
    if (o == q) continue;
    const bool near = kind[o] & kNear;
    const double swing = hi[o] - lo[o];
    const bool steady = ps >= (near ? steady_near : steady_far) * hi[o];
    const bool strict_o = steady && ps >= (near ? edge : far) * swing;
    const bool paired = o >= pair_lo && o < pair_hi && pair_e[o] >= 0;
    const bool eased = paired ? pair_e[o] > 0 : eased_q;
    // o's settled model is subtracted here: o lies within subtract_hz, or
    // within settled_hz with the two tones within settled_tone_hz.
    const bool sub =
        settled_o[o] &&
        ((kind[o] & kReach) || ((kind[o] & kFar) && !tones.empty() &&
                                std::abs(tones[o] - tones[q]) <= p_.settled_tone_hz)) &&
        (tones.empty() || std::abs(tones[o] - centres_[q]) > p_.own_hz);
    const double guard = sub ? sub_guard_o[o] : near ? edge : eased ? soft_far[o] : far;
    bool ok = ps >= guard * swing;
    if (!ok && eased && !sub && !near && !tones.empty()) {
      // The two stations' tones further apart than the centres: the eased
      // guard at their distance (the sidebands fall with it).
      const double apart = std::abs(tones[o] - tones[q]);
      if (apart > std::abs(centres_[o] - centres_[q])) ok = ps >= soft_far_at(apart) * swing;
    }
    // A cluster that hears a station nearer another cluster's centre is
    // only its weaker view: that cluster guards against it (asked only
    // where this one would blank: most never do).
    if (!(strict_o && steady && ok) && !tones.empty() && heard_nearer(o, tones)) continue;
    strict = strict && strict_o;
    clear = clear && steady && ok;
  }
  if (strict) {
    unguarded_[q] += p_.evidence_track * (ps - unguarded_[q]);
  } else {
    guarded_[q] += p_.evidence_track * (ps - guarded_[q]);
    guarded_n_[q] = std::min(guarded_n_[q] + 1, p_.evidence_ticks);
  }
  return {clear, strict};
}

}  // namespace talvo::fine
