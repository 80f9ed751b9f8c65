// Candidates, copies and rivals; see judge.h.
#include "spots/judge.h"

#include <algorithm>
#include <cmath>

#include "util/textdiff.h"

namespace talvo::spots {

int SpotJudge::copies_needed(bool known, double snr_db, bool clean, bool doubled) const {
  int n = known ? policy_.known_copies : policy_.unknown_copies;
  if (snr_db < policy_.weak_snr_db && !(doubled && policy_.doubled)) n++;
  if (!clean && policy_.unclean_more) n++;
  return std::min(n, std::max(policy_.max_copies, 1));
}

double SpotJudge::confidence(int copies, bool known, double snr_db, bool clean) {
  double p = known ? kKnownCopyRight : kUnknownCopyRight;
  if (snr_db < JudgePolicy{}.weak_snr_db) p -= kWeakPenalty;
  if (!clean) p -= kGarbledPenalty;
  return 1.0 - std::pow(1.0 - p, std::max(copies, 0));
}

SpotJudge::Candidate& SpotJudge::candidate(const FoundCall& c, double freq_hz, double t) {
  // Forget what has not been heard for the hold time.
  cands_.erase(std::remove_if(cands_.begin(), cands_.end(),
                              [&](const Candidate& k) { return t - k.last_t >= kHoldSeconds; }),
               cands_.end());
  Candidate* best = nullptr;
  for (Candidate& k : cands_)
    if (k.call == c.call && std::fabs(k.freq_hz - freq_hz) <= kSameHz &&
        (best == nullptr || std::fabs(k.freq_hz - freq_hz) < std::fabs(best->freq_hz - freq_hz)))
      best = &k;
  if (best != nullptr) return *best;
  if (cands_.size() >= kMaxCandidates) {
    // The one heard longest ago makes room.
    auto oldest = std::min_element(
        cands_.begin(), cands_.end(),
        [](const Candidate& a, const Candidate& b) { return a.last_t < b.last_t; });
    cands_.erase(oldest);
  }
  Candidate k;
  k.call = c.call;
  k.known = book_ != nullptr && book_->known(c.call);
  cands_.push_back(std::move(k));
  return cands_.back();
}

bool SpotJudge::beaten(const Candidate& me, double t) const {
  for (const Candidate& k : cands_) {
    if (&k == &me || std::fabs(k.freq_hz - me.freq_hz) > kSameHz) continue;
    if (t - k.last_t >= kHoldSeconds) continue;
    if (edit_distance(k.call, me.call) > kRivalEdits) continue;
    if (k.support() > me.support() || (k.support() == me.support() && k.spotted && !me.spotted))
      return true;
  }
  return false;
}

bool SpotJudge::spotted_elsewhere(const Candidate& me, double t) const {
  for (const Candidate& k : cands_)
    if (&k != &me && k.call == me.call && k.spotted && t - k.spot_t < kHoldSeconds) return true;
  return false;
}

bool SpotJudge::echo(const Candidate& me, double t) const {
  for (const Candidate& k : cands_)
    if (&k != &me && k.call == me.call && std::fabs(k.freq_hz - me.freq_hz) > kSameHz &&
        t - k.last_t < kEchoSeconds && k.snr_db >= me.snr_db + kEchoDb)
      return true;
  return false;
}

int SpotJudge::lent(const Candidate& me, double t) const {
  int n = 0;
  for (const Candidate& k : cands_) {
    if (&k == &me || k.known || std::fabs(k.freq_hz - me.freq_hz) > kSameHz) continue;
    if (t - k.last_t >= kHoldSeconds || k.support() >= me.support()) continue;
    if (edit_distance(k.call, me.call) == 1) n += k.copies;
  }
  return std::min(n, me.copies);
}

int SpotJudge::hear(const FoundCall& c, double freq_hz, double snr_db, int wpm, double t,
                    std::vector<Spot>& out) {
  if (c.call.empty() || c.copies < 1) return 0;
  if (book_ != nullptr && !book_->valid(c.call)) return 0;
  Candidate& k = candidate(c, freq_hz, t);
  k.freq_hz = freq_hz;
  k.last_t = t;
  k.copies += c.copies;
  k.clean = k.clean && c.clean;
  k.doubled = k.doubled || (c.clean && c.after_cq && c.copies >= 2);
  if (policy_.near_known && k.known && c.after_cq && c.near_copies > 0 && book_ != nullptr &&
      !book_->known(c.near_call))
    k.near += std::min(c.near_copies, c.copies);
  k.snr_db = std::max(k.snr_db, snr_db);
  k.last_snr_db = snr_db;
  k.wpm = wpm;
  k.type = c.type;

  if (k.spotted && t - k.spot_t < kHoldSeconds) return 0;
  const bool confirmed = k.copies + std::max(k.near, policy_.lent ? lent(k, t) : 0) >=
                             copies_needed(k.known, k.snr_db, k.clean, k.doubled) ||
                         spotted_elsewhere(k, t);
  if (!confirmed || (policy_.rivals && beaten(k, t)) || echo(k, t)) return 0;

  out.push_back(make_spot(k, t));
  return 1;
}

Spot SpotJudge::make_spot(Candidate& k, double t) {
  k.spotted = true;
  k.spot_t = t;
  Spot s;
  s.call = k.call;
  s.freq_hz = k.freq_hz;
  s.snr_db = static_cast<int>(std::lround(k.last_snr_db));
  s.wpm = k.wpm;
  s.type = k.type;
  s.utc = start_utc_ + static_cast<std::int64_t>(std::floor(t));
  s.copies = k.copies;
  s.known = k.known;
  s.confidence = confidence(k.copies, k.known, k.snr_db, k.clean);
  return s;
}

int SpotJudge::tick(double t, std::vector<Spot>& out) {
  int n = 0;
  for (Candidate& k : cands_) {
    if (!k.spotted || t - k.spot_t < kHoldSeconds) continue;
    const double due = k.spot_t + kHoldSeconds;
    if (k.last_t < due - kStillCalling) continue;
    if ((policy_.rivals && beaten(k, due)) || echo(k, due)) continue;
    out.push_back(make_spot(k, due));
    n++;
  }
  return n;
}

}  // namespace talvo::spots
