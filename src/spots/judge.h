// Deciding which calls become spots, as a cluster node expects of a skimmer.
//
// The call finders report each sending of a call (see call_finder.h); the
// judge gathers them per call and frequency - a candidate - and spots a
// candidate when
//   - its prefix belongs to an entity (when a country file is loaded),
//   - it has enough identical copies (JudgePolicy): two for a call in the
//     list of active calls, three for another, one more when the signal is
//     weak (under 6 dB) and one more when the words around a copy were
//     garbled, never more than four; a call heard twice in one clean
//     sending after "cq" ("cq test dl1abc dl1abc") is asked no more for a
//     weak signal; a known call's sending after "cq" counts, beside its own
//     copies, as many copies of a reading one character off it in the same
//     sending ("cq test uf1s af1s") as it has itself, when that reading is
//     no known call; a call that leads its rivals (below) counts the
//     copies of the unknown readings one character off it on its frequency
//     ("tu ka2bnyetest" read KA2BNYE), up to its own copies (the larger of
//     the two counts, not both); a call spotted within kHoldSeconds on
//     another frequency needs one copy (it moved),
//   - no rival beats it: a candidate within kSameHz and kRivalEdits
//     characters of it (a bust of it, or it a bust of the rival) with more
//     support (copies, plus kKnownBonus for a known call), or with as much
//     and already spotted. So a bust heard first does not block the right
//     call once the right call has more support,
//   - it is no echo: the same call heard on another frequency within the
//     last kEchoSeconds, kEchoDb or more stronger there, is that station
//     (what is heard here is its product, image or leakage), and
//   - it was not spotted on this frequency in the last kHoldSeconds of audio
//     time: a station still calling is spotted again 600 s after its last
//     spot (tick()), and at once on another frequency.
//
// Each spot carries its copies, whether the call is known, and a confidence:
// 1 - (1 - p)^copies, where p, the chance that one copy is right, is
// kKnownCopyRight or kUnknownCopyRight, less kWeakPenalty for a weak signal
// and kGarbledPenalty for garbled words around (a figure that orders spots,
// not a measured probability).
//
// Candidates not heard for kHoldSeconds are forgotten, and at most
// kMaxCandidates are kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "spots/call_book.h"
#include "spots/call_finder.h"
#include "spots/spot.h"

namespace talvo::spots {

// The copies asked of a call and whether rivals compete: the defaults are
// the judge's; other settings are for measuring.
struct JudgePolicy {
  int known_copies = 2;      // copies a known call needs
  int unknown_copies = 3;    // copies an unknown call needs
  int max_copies = 4;        // copies any call needs at most
  double weak_snr_db = 6;    // SNR under which one more copy is asked, dB
  bool unclean_more = true;  // one more copy when words around were garbled
  bool doubled = true;       // a call twice in one clean sending after cq: no more when weak
  bool near_known = true;    // a known call counts its sending's readings one off it
  bool rivals = true;        // calls within kRivalEdits on one frequency compete
  bool lent = true;          // a leading call counts the copies of its readings one off it
};

class SpotJudge {
 public:
  static constexpr int kKnownBonus = 2;        // support a known call has over its copies
  static constexpr int kRivalEdits = 2;        // edits within which two calls compete
  static constexpr double kSameHz = 100;       // candidates this close (Hz) share a frequency
  static constexpr double kHoldSeconds = 600;  // seconds between spots of a call on a frequency
  static constexpr double kEchoSeconds = 30;   // the same call heard this recently elsewhere ...
  static constexpr double kEchoDb = 20;        // ... and this much stronger: this is its echo
  static constexpr double kStillCalling = 90;  // heard this long before a re-spot is due: calling
  static constexpr std::size_t kMaxCandidates = 4000;  // candidates kept at most
  static constexpr double kKnownCopyRight = 0.8;       // p of one copy of a known call
  static constexpr double kUnknownCopyRight = 0.5;     // p of one copy of an unknown call
  static constexpr double kWeakPenalty = 0.15;         // less p for a weak signal
  static constexpr double kGarbledPenalty = 0.15;      // less p for garbled words around

  // `book` (may be null: every call-shaped call is valid and unknown) must
  // outlive the judge; `start_utc` is the UTC time (seconds since 1970) of
  // audio time 0, to stamp the spots.
  SpotJudge(const CallBook* book, std::int64_t start_utc, JudgePolicy policy = {})
      : book_(book), start_utc_(start_utc), policy_(policy) {}

  // A sending `c` heard at `freq_hz` (radio frequency) with `snr_db` and
  // `wpm` at `t` seconds of audio (never decreasing). Appends the spots it
  // makes to `out` (at most one) and returns how many.
  int hear(const FoundCall& c, double freq_hz, double snr_db, int wpm, double t,
           std::vector<Spot>& out);

  // Audio time has reached `t` (seconds, never decreasing): appends the
  // re-spots due by then to `out` - each call spotted kHoldSeconds before
  // and heard in the kStillCalling seconds before that, timed exactly
  // kHoldSeconds after its last spot - and returns how many. Without calls
  // to tick(), a call is re-spotted at its first sending kHoldSeconds or
  // more after its spot.
  int tick(double t, std::vector<Spot>& out);

  // Copies a call needs; `doubled`: it came twice in one clean sending
  // after "cq".
  int copies_needed(bool known, double snr_db, bool clean, bool doubled = false) const;
  // The confidence of a spot made of `copies` copies.
  static double confidence(int copies, bool known, double snr_db, bool clean);

  std::size_t candidates() const { return cands_.size(); }

 private:
  struct Candidate {
    std::string call;               // upper case
    double freq_hz = 0;             // last heard at, Hz
    double last_t = 0;              // last heard, seconds of audio
    int copies = 0;                 // identical copies so far
    int near = 0;                   // copies one character off, counted for a known call
    bool clean = true;              // every copy came with clean words around
    bool doubled = false;           // a clean sending after "cq" held two identical copies
    double snr_db = -99;            // strongest copy, dB
    bool known = false;             // in the list of active calls
    bool spotted = false;           // spotted on this frequency
    double spot_t = 0;              // when last spotted, seconds of audio
    double last_snr_db = 0;         // last copy's SNR, dB
    int wpm = 0;                    // last copy's speed, WPM
    SpotType type = SpotType::kDx;  // last sending's type
    int support() const { return copies + (known ? kKnownBonus : 0); }
  };

  Candidate& candidate(const FoundCall& c, double freq_hz, double t);
  bool beaten(const Candidate& me, double t) const;
  bool spotted_elsewhere(const Candidate& me, double t) const;
  // The copies of the unknown readings one character off me that me leads.
  int lent(const Candidate& me, double t) const;
  // Whether me is another frequency's station heard far weaker here (a
  // product, an image, leakage): the same call, kEchoDb stronger there,
  // within the last kEchoSeconds.
  bool echo(const Candidate& me, double t) const;
  Spot make_spot(Candidate& k, double t);

  const CallBook* book_;
  std::int64_t start_utc_;
  JudgePolicy policy_;
  std::vector<Candidate> cands_;
};

}  // namespace talvo::spots
