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
      share_(static_cast<std::size_t>(clusters), kStartShare) {}

void BandGate::reset() {
  t_ = 0;
  std::fill(ring_.begin(), ring_.end(), 0.0);
  std::fill(out_.begin(), out_.end(), 0.0);
  std::fill(tone_.begin(), tone_.end(), 0.0);
  std::fill(c_.begin(), c_.end(), Cluster{});
  std::fill(share_.begin(), share_.end(), kStartShare);
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
    if (c.end >= 0 && t_ - c.end >= kEdgeTicks)
      judge(q, c.end);
    else if (c.end < 0 && t_ - c.start >= kDelayTicks - kEdgeTicks - 1)
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

bool BandGate::explained(int q, long long start, long long end, double level) const {
  const double tone = tone_[static_cast<std::size_t>(q)];
  const auto close = [](long long a, long long b) { return std::llabs(a - b) <= kEdgeTicks; };
  for (int r = 0; r < n_; r++) {
    if (r == q) continue;
    const Cluster& o = c_[static_cast<std::size_t>(r)];
    double over_db = kLevelDb;
    if (r == ref_)
      over_db = kReferenceDb;
    else if (std::fabs(tone_[static_cast<std::size_t>(r)] - tone) < kSameToneHz ||
             std::fabs(centre_[static_cast<std::size_t>(r)] -
                       centre_[static_cast<std::size_t>(q)]) < kNearHz)
      over_db = kSameToneDb;
    const double need = level * std::pow(10.0, over_db / 10);
    // r's marks, newest first, back to those that ended before this mark began.
    for (int i = 0; i < std::min(o.count, kMarks); i++) {
      const Mark& m = o.marks[(o.count - 1 - i) % kMarks];
      if (m.end < start - kEdgeTicks) break;
      // One mark of r over the same ticks: a product, a crash.
      if (close(m.start, start) && close(m.end, end) && m.level >= need) return true;
      // One gap of r over them, between this mark and the one after it: FSK.
      if (r != ref_ && i > 0 && close(m.end, start)) {
        const Mark& n = o.marks[(o.count - i) % kMarks];
        if (close(n.start, end) && std::min(m.level, n.level) >= need) return true;
      }
    }
  }
  return false;
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
