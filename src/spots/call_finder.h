// Picking callsigns out of one cluster's decoded text, as it arrives.
//
// The decoder hands over its strings one at a time (a letter, "cq", a word
// space " "); the finder collects them into words and looks at each word
// when its word space comes. A call-shaped word (see callsign.h) counts -
// is reported - when
//   - it follows "de" ("ve3xyz de w1aw" counts W1AW),
//   - it follows "cq" or "test", possibly repeated and with a few words
//     between ("cq dl1abc", "test dl1abc", "cq cq dx de dl1abc"), or
//   - it was seen before within the last kWindowWords words (twice anywhere).
// A call is of type CQ when it comes while a CQ or TEST call is open: up to
// kCqReach words after the last "cq"/"test", closed early by an end-of-over
// word (k, kn, bk, sk, ar and their prosigns) or by a second, different
// call. Every other call is DX.
//
// A call is reported once when it first counts, again as CQ when it was
// reported as DX, and again once its last report has left the window (a
// station calling CQ for hours is reported every kWindowWords words or so;
// repeats in time are for the spot dedup to hold back).
//
// Memory is fixed: the word being collected, and rings of the last
// kWindowWords call sightings and reports. A stream may run for days.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "spots/callsign.h"
#include "spots/spot.h"

namespace talvo::spots {

// A call that counts, as the finder reports it.
struct FoundCall {
  std::string call;  // upper case, e.g. "DL1ABC", "HB9/DL7XYZ"
  SpotType type;     // CQ or DX
};

class CallFinder {
 public:
  static constexpr int kWindowWords = 200;  // words a sighting or report is remembered for
  static constexpr int kCqReach = 6;        // words after "cq"/"test" that a CQ call may come in

  CallFinder() { reset(); }

  // Forgets all text.
  void reset();

  // Takes the next decoded string of the cluster (any length, lower or upper
  // case; blanks and line ends separate words) and appends every call that
  // counts with it to `found`. Returns how many it appended.
  int feed(const char* s, std::vector<FoundCall>& found);

  // Words completed since the start (or reset).
  std::int64_t words() const { return words_; }

 private:
  struct Entry {
    char call[kMaxCallLength + 1];  // upper case, NUL-terminated
    std::int64_t word;              // word number it was seen or reported at
    SpotType type;                  // reports only: the type reported
  };
  // The entry for `call` in ring `r` within the window, or null.
  const Entry* find(const Entry* r, const char* call) const;
  void end_word(std::vector<FoundCall>& found, int& n);

  char word_[kMaxCallLength + 1];     // the word being collected (lower case)
  int len_;                           // its length in characters
  bool long_;                         // it ran over kMaxCallLength: no call
  std::int64_t words_;                // words completed
  bool after_de_;                     // the last word was "de"
  std::int64_t cq_word_;              // word number of the last "cq"/"test" (-1: none)
  bool cq_open_;                      // a CQ call is open (not closed by end of over)
  char cq_call_[kMaxCallLength + 1];  // the call calling in the open CQ ("" none yet)
  Entry seen_[kWindowWords];          // ring of call sightings
  int seen_next_;                     // next ring place to write
  Entry reported_[kWindowWords];      // ring of reports
  int reported_next_;                 // next ring place to write
};

}  // namespace talvo::spots
