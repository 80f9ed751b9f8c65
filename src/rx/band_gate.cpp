#include "rx/band_gate.h"

#include <algorithm>
#include <cmath>

namespace talvo {

BandGate::BandGate(int clusters)
    : n_(clusters),
      ring_(static_cast<std::size_t>(kDelayTicks) * static_cast<std::size_t>(clusters), 0.0),
      out_(static_cast<std::size_t>(clusters), 0.0),
      tone_(static_cast<std::size_t>(clusters), 0.0),
      centre_(static_cast<std::size_t>(clusters), 0.0),
      c_(static_cast<std::size_t>(clusters)),
      share_(static_cast<std::size_t>(clusters), kStartShare),
      taken_(static_cast<std::size_t>(clusters), 0) {}

void BandGate::reset() {
  t_ = 0;
  std::fill(ring_.begin(), ring_.end(), 0.0);
  std::fill(out_.begin(), out_.end(), 0.0);
  std::fill(tone_.begin(), tone_.end(), 0.0);
  std::fill(c_.begin(), c_.end(), Cluster{});
  std::fill(share_.begin(), share_.end(), kStartShare);
  std::fill(taken_.begin(), taken_.end(), 0);
  judged_ = dropped_ = 0;
}

const double* BandGate::push(const double* key, const double* level, const double* tone_hz) {
  for (int q = 0; q < n_; q++) {
    // The slot of tick t holds tick t - kDelayTicks until it is written.
    double& s = slot(t_, q);
    out_[static_cast<std::size_t>(q)] = t_ >= kDelayTicks ? s : 0.0;
    s = key[q];
    tone_[static_cast<std::size_t>(q)] = tone_hz[q];
    edges(q, key[q], level[q]);
  }
  for (int q = 0; q < n_; q++) {
    const Cluster& c = c_[static_cast<std::size_t>(q)];
    if (c.judged) continue;
    if (c.end >= 0 && t_ - c.end >= kRefEndTicks)
      judge(q, c.end);
    else if (c.end < 0 && t_ - c.start >= kDelayTicks - kRefEndTicks - 1)
      judge(q, -1);
  }
  t_++;
  return out_.data();
}

void BandGate::edges(int q, double key, double level) {
  Cluster& c = c_[static_cast<std::size_t>(q)];
  const bool down = key != 0.0;
  if (down && !c.down) {
    c.start = t_;
    c.end = -1;
    c.sum = 0;
    c.judged = false;
  } else if (!down && c.down) {
    c.end = t_;
    Mark& m = c.marks[c.count++ % kMarks];
    m.start = c.start;
    m.end = t_;
    m.level = c.sum / static_cast<double>(std::max(1LL, t_ - c.start));
  }
  if (down) c.sum += level;
  c.down = down;
}

namespace {

bool close(long long a, long long b) {
  return std::llabs(a - b) <= BandGate::kEdgeTicks;
}
bool turn(long long a, long long b) {
  return std::llabs(a - b) <= BandGate::kTurnTicks;
}

}  // namespace

bool BandGate::takes_turns(int q, int r, double need) const {
  const Cluster& me = c_[static_cast<std::size_t>(q)];
  const Cluster& o = c_[static_cast<std::size_t>(r)];
  if (me.count < kFskMarks + 1) return false;
  for (int k = 0; k < kFskMarks; k++) {
    const Mark& a = me.marks[(me.count - 1 - k) % kMarks];       // a mark of q
    const Mark& before = me.marks[(me.count - 2 - k) % kMarks];  // q's mark before it
    bool found = false;
    for (int i = 0; i < std::min(o.count, kMarks) && !found; i++) {
      const Mark& m = o.marks[(o.count - 1 - i) % kMarks];
      if (m.end < before.end) break;
      if (!turn(m.start, before.end) || !turn(m.end, a.start) || m.level < need) continue;
      // The mark of r after the gap (the open one after its last).
      long long next = -1;
      double next_level = 0;
      if (i > 0) {
        next = o.marks[(o.count - i) % kMarks].start;
        next_level = o.marks[(o.count - i) % kMarks].level;
      } else if (o.down) {
        next = o.start;
        next_level = open_level(o);
      }
      found = next >= 0 && turn(next, a.end) && next_level >= need;
    }
    if (!found) return false;
  }
  return true;
}

// Whether one of q's kFollowMarks marks before the one starting at `start`
// was a product of r too: one mark of r, kProductDb stronger, over the same
// ticks.
bool BandGate::followed(int q, int r, long long start) const {
  const Cluster& me = c_[static_cast<std::size_t>(q)];
  const Cluster& o = c_[static_cast<std::size_t>(r)];
  const int kept = std::min(me.count, kMarks);
  int at = 0;  // marks back from q's newest to the one judged
  while (at < kept && me.marks[(me.count - 1 - at) % kMarks].start != start)
    at++;
  for (int k = at + 1; k <= at + kFollowMarks && k < kept; k++) {
    const Mark& before = me.marks[(me.count - 1 - k) % kMarks];
    const double need = before.level * std::pow(10.0, kProductDb / 10);
    for (int i = 0; i < std::min(o.count, kMarks); i++) {
      const Mark& m = o.marks[(o.count - 1 - i) % kMarks];
      if (m.end < before.start - kEdgeTicks) break;
      if (close(m.start, before.start) && close(m.end, before.end) && m.level >= need) return true;
    }
  }
  return false;
}

// Whether the clusters other than q and the reference hold the signal whose
// edge the reference keyed at `edge` with power `level`: their marks about
// it (from kRefStartTicks before to kRefStartTicks after), at most one a
// cluster, sum to at most kHeldDb under it. One cluster keying that edge
// holds it; so do many stations keying at once, whose sum the band's power
// is (49 of them, each 17 dB under it, or seven 13-20 dB under it).
bool BandGate::held(int q, long long edge, double level) const {
  const double need = level * std::pow(10.0, -kHeldDb / 10);
  double sum = 0;
  for (int r = 0; r < n_; r++) {
    if (r == ref_ || r == q) continue;
    const Cluster& o = c_[static_cast<std::size_t>(r)];
    double most = 0;
    if (o.down && o.start <= edge + kRefStartTicks) most = open_level(o);
    for (int i = 0; i < std::min(o.count, kMarks); i++) {
      const Mark& m = o.marks[(o.count - 1 - i) % kMarks];
      if (m.end < edge - kRefStartTicks) break;
      if (m.start <= edge + kRefStartTicks) most = std::max(most, m.level);
    }
    sum += most;
    if (sum >= need) return true;
  }
  return false;
}

// Whether cluster q's centre lies less than kEdgeHz inside the lowest or
// the highest centre (the reference's aside).
bool BandGate::at_edge(int q) const {
  double lo = HUGE_VAL, hi = -HUGE_VAL;
  for (int r = 0; r < n_; r++) {
    if (r == ref_) continue;
    lo = std::min(lo, centre_[static_cast<std::size_t>(r)]);
    hi = std::max(hi, centre_[static_cast<std::size_t>(r)]);
  }
  const double c = centre_[static_cast<std::size_t>(q)];
  return c - lo < kEdgeHz || hi - c < kEdgeHz;
}

// Of a station clusters a and b both hear on one tone (one between two
// centres, or the one retuned onto it), a's view (its mark's level a_level)
// is the better one where it stands kViewDb higher than b's, or within
// kViewDb where a's tone lies kTwinHz nearer its centre.
bool BandGate::better_view(int a, double a_level, int b, double b_level) const {
  const auto off = [&](int x) {
    const auto i = static_cast<std::size_t>(x);
    return std::fabs(tone_[i] - centre_[i]);
  };
  const double step = std::pow(10.0, kViewDb / 10);
  if (a_level >= b_level * step) return true;
  if (a_level * step < b_level) return false;
  return off(a) < off(b) - kTwinHz;
}

bool BandGate::explained(int q, long long start, long long end, double level) const {
  const auto i_q = static_cast<std::size_t>(q);
  // A click: this mark from about an edge of a stronger signal to soon after it.
  const auto click = [&](long long edge) {
    return start >= edge - kEdgeTicks && end <= edge + kClickTicks;
  };
  const auto ref_click = [&](long long edge) {
    return start >= edge - kRefStartTicks && end <= edge + kClickTicks;
  };
  const double product = level * std::pow(10.0, kProductDb / 10);
  const double lone_product = level * std::pow(10.0, kLoneProductDb / 10);
  const double tail = level * std::pow(10.0, kTailDb / 10);
  const double taken_out = level * std::pow(10.0, kTakenOutDb / 10);
  const double fsk = level * std::pow(10.0, kFskDb / 10);
  const double crowd = level * std::pow(10.0, kCrowdDb / 10);
  const double reference = level * std::pow(10.0, kReferenceDb / 10);
  const double ref_click_source = level * std::pow(10.0, kRefClickDb / 10);
  const double outside_click_source =
      level * std::pow(10.0, (at_edge(q) ? kEdgeClickDb : kOutsideClickDb) / 10);
  // This mark a click about an edge the reference keyed at `source`: far
  // under it, or nearer where the other clusters do not hold that edge
  // (nearer still at the edge of the clusters).
  const auto ref_clicks = [&](long long edge, double source) {
    return ref_click(edge) && (source >= ref_click_source ||
                               (source >= outside_click_source && !held(q, edge, source)));
  };
  const double deep_source = level * std::pow(10.0, kRangeDb / 10);
  // This mark within one the reference keyed at `source` (from `from` to
  // `to`, -1 while open), so far under it that the receiver's dynamic
  // range hides it.
  const auto hidden = [&](long long from, long long to, double source) {
    return source >= deep_source && start >= from - kRefStartTicks &&
           (to < 0 || end <= to + kRefEndTicks);
  };
  const double view = level * std::pow(10.0, kViewDb / 10);
  int alike = 0;  // other clusters, not beside this one, with the same mark
  for (int r = 0; r < n_; r++) {
    if (r == q) continue;
    const auto i_r = static_cast<std::size_t>(r);
    const Cluster& o = c_[i_r];
    const bool ref = r == ref_;
    const bool same = !ref && std::fabs(tone_[i_r] - tone_[i_q]) < kSameToneHz;
    const bool beside = same || (!ref && std::fabs(centre_[i_r] - centre_[i_q]) < kNearHz);
    // Keying sidebands fall away from their station: a click's source
    // stands the further over it the further away it is. A source whose
    // own marks are mostly explained is no station (the tones of FSK):
    // what follows its edges anywhere is its product.
    const double apart =
        share_[i_r] > kDropExplained ? 0.0 : std::fabs(centre_[i_r] - centre_[i_q]) - kNearHz;
    double click_source =
        product * std::pow(10.0, std::clamp(kClickDbPerHz * apart, 0.0, kClickFarDb) / 10);
    double tail_of_r = tail;
    const double off_tone = std::fabs(tone_[i_r] - centre_[i_q]);
    if (!ref && taken_[i_r] && off_tone > taken_near_hz_ && off_tone <= taken_far_hz_) {
      click_source = std::max(click_source, taken_out);
      tail_of_r = std::max(tail, taken_out);
    }
    if (o.down) {
      const double open = open_level(o);
      // The same station seen weaker: r's open mark holds this one.
      if (same && start >= o.start - kViewLeadTicks && open >= view) return true;
      // The rise of r's open mark may bring a click.
      if (!ref && click(o.start) && open >= click_source) return true;
      // The band's power rises a little after a click: a codec spreads
      // the transient over its block.
      if (ref && (ref_clicks(o.start, open) || hidden(o.start, -1, open))) return true;
    }
    // r's marks, newest first, back to those that ended before this mark began.
    for (int i = 0; i < std::min(o.count, kMarks); i++) {
      const Mark& m = o.marks[(o.count - 1 - i) % kMarks];
      if (m.end < start - std::max(kRefStartTicks, kTailTicks)) break;
      if (ref) {
        // The band's keyed power, measured from the raw input, leads the
        // clusters' decisions on weak products by up to kRefStartTicks.
        if (std::llabs(m.start - start) <= kRefStartTicks &&
            std::llabs(m.end - end) <= kRefEndTicks && m.level >= reference)
          return true;
        if (ref_clicks(m.start, m.level) || ref_clicks(m.end, m.level) ||
            hidden(m.start, m.end, m.level))
          return true;
        continue;
      }
      // The same station seen weaker: one mark of r holds this one, or
      // its tail does (the weaker view's filter rings on after the fall).
      // Seen alike, r's view better placed: r's mark over the same ticks
      // (two stations on near tones, alike, overlap now and then; their
      // edges seldom meet).
      const bool holds = start >= m.start - kViewLeadTicks && end <= m.end + kTailTicks;
      if (same && holds &&
          (m.level >= view ||
           (better_view(r, m.level, q, level) && turn(m.start, start) && turn(m.end, end))))
        return true;
      if (close(m.start, start) && close(m.end, end)) {
        // One mark of r over the same ticks: a product of a stronger signal,
        // or one of many clusters keyed at once (a crash, a syllable).
        // A source that is no station itself (its own marks mostly
        // explained: a product too, its station in another group of
        // clusters) needs no earlier mark.
        if (m.level >= lone_product ||
            (m.level >= product && (share_[i_r] > kDropExplained || followed(q, r, start))))
          return true;
        if (!beside && m.level >= crowd) alike++;
        // The same signal, stronger beside it, on a cluster whose marks are
        // explained (the other side of FSK's tone, say); not where this
        // cluster is the better view of r's station, or as strong: r's
        // marks are then explained by this one's (at one level each
        // explained the other's, and both went).
        if (beside && m.level > level && share_[i_r] >= kDropExplained &&
            !(same && better_view(q, level, r, m.level)))
          return true;
      }
      if (m.level >= click_source && (click(m.start) || click(m.end))) return true;
      // What a strong signal leaves on the clusters beside it just after it
      // keys up: a short mark starting up to kTailTicks after its fall.
      if (beside && m.level >= tail_of_r && start >= m.end - kEdgeTicks &&
          start <= m.end + kTailTicks && end - start <= kClickTicks)
        return true;
    }
    // The other tone of FSK: this cluster's last marks each fill a gap of r
    // and r's marks fill the gaps between them.
    if (!ref && !beside && takes_turns(q, r, fsk)) return true;
  }
  return alike >= kCrowd;
}

void BandGate::judge(int q, long long end) {
  Cluster& c = c_[static_cast<std::size_t>(q)];
  c.judged = true;
  const long long len = (end >= 0 ? end : t_ + 1) - c.start;
  const double level = c.sum / static_cast<double>(std::max(1LL, len));
  if (q != ref_ && end >= 0) {
    const bool x = explained(q, c.start, end, level);
    double& share = share_[static_cast<std::size_t>(q)];
    const bool drop = (x && share >= kDropExplained) || share >= kDropAll;
    share += kShareStep * ((x ? 1.0 : 0.0) - share);
    judged_++;
    if (drop) {
      dropped_++;
      // Key up over the mark's ticks not yet handed out.
      for (long long t = std::max(c.start, t_ - kDelayTicks + 1); t < end; t++)
        slot(t, q) = 0.0;
    }
  }
}

}  // namespace talvo
