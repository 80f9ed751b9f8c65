// Picking the sending station's call out of one cluster's decoded text, as
// it arrives.
//
// The decoder hands over its strings one at a time (a letter, "cq", a word
// space " "); the finder collects them into words. A call-shaped word (see
// callsign.h) is the sender's, and is reported, when
//   - it follows "de" ("ve3xyz de w1aw" reports W1AW),
//   - it follows "cq", "test" or "qrz" with at most one word between
//     ("cq dl1abc", "cq test dl1abc", "cq dx dl1abc") - but not "test" that
//     ends another call's over ("tu s53xm test ag5dt": a caller answers),
//   - it follows "tu" ("tu s53xm test": the runner ends a contact), or
//   - "test" follows it ("s53xm test": the runner calls again),
// or it is one of the NCDXF/IARU beacons, which send their call alone.
// A call is never reported when what follows it is a report ("5nn", "599"),
// "tu", "r" or "ur": that call is the one the text is sent to (unless "de"
// stands right before it: "ve3xyz de w1aw 5nn" is W1AW's). A report is
// taken as copied, one character off or short ("5mn", "~nn", "nn") or run
// on to the serial or the call ("5nn267", "w3zx5nn"). Copies of the call
// right after it ("g3xyz g3xyz test"), and words within two characters of
// it ("kf7f kf7h 5nn", "dl7at dlzat 5nn": the same call copied another
// way), are one sending: the word after them decides, and each way it was
// copied as a call is reported with its copies. A short unknown word after
// a call that came after a cue ("yo3wu nm 730") may be a report copied
// past recognition: a serial number after it makes the call the one sent
// to. A call that meets none of these rules - a caller, or a call merely
// repeated - is not reported.
//
// The type: CQ after "cq", "test", "qrz" (also "cq dx de ..."), "tu" and
// before "test"; BEACON after "vvv" or "beacon" and for calls ending "/B";
// NCDXF B for the NCDXF/IARU beacons; DX for a call after "de" in a contact.
//
// A call after "de" is reported at once, each copy as it comes; any other
// is decided when the next different word ends, so the finder holds one
// call back, and flush() decides it at the end of the text. A CQ that ends
// on its call twice ("cq test dl1abc dl1abc") and then falls silent is
// decided on the silence (quiet()): the next word may come seconds later. Memory is fixed:
// the word being collected, the last few words and the call held back. A
// stream may run for days.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "spots/callsign.h"
#include "spots/spot.h"

namespace talvo::spots {

// The sender's call as the finder reports it: one sending of it.
struct FoundCall {
  std::string call;       // upper case, e.g. "DL1ABC", "HB9/DL7XYZ"
  SpotType type;          // CQ, DX, BEACON or NCDXF B
  int copies = 1;         // identical copies of the call in a row in this sending
  bool clean = true;      // every word around it was copied without unknown characters
  bool after_cq = false;  // "cq" or "qrz" came before it (not "test" alone)
  // The reading of this sending one character off this one with the most
  // copies ("af1s" beside "uf1s af1s"), and its copies; empty, 0: none.
  std::string near_call = {};
  int near_copies = 0;
};

class CallFinder {
 public:
  static constexpr int kHistory = 4;       // words remembered before the current one
  static constexpr int kVariants = 3;      // ways one sending of a call is kept in
  static constexpr int kVariantEdits = 2;  // edits within which a call is a copy of the held one

  CallFinder() { reset(); }

  // Forgets all text.
  void reset();

  // Takes the next decoded string of the cluster (any length, lower or upper
  // case; blanks and line ends separate words) and appends every call it
  // decides to report to `found`. Returns how many it appended.
  int feed(const char* s, std::vector<FoundCall>& found);

  // Ends the text: decides the call held back (and a word not yet ended).
  // Returns how many calls it appended to `found`.
  int flush(std::vector<FoundCall>& found);

  // Whether quiet() would decide a call now: a call held after "cq" (or
  // "qrz") with two identical copies, its word ended, nothing in doubt.
  bool waiting() const;

  // The cluster has been silent since the last word ended (its station
  // stopped keying): decides the call waiting() tells of as if the text
  // ended there. Returns how many calls it appended to `found`.
  int quiet(std::vector<FoundCall>& found);

  // Words completed since the start (or reset).
  std::int64_t words() const { return words_; }

 private:
  // What a word is to the rules.
  enum class Kind : std::uint8_t {
    kOther,
    kCq,      // cq, test, qrz
    kTest,    // test (also a kCq cue; kept apart for "<call> test")
    kDe,      // de
    kTu,      // tu
    kVvv,     // vvv, beacon
    kToCall,  // a report, r, ur: the call before it is the receiver's
    kCall,    // call-shaped
    kGarbled  // holds an unknown character
  };
  struct Word {
    Kind kind;
    // kCall: the call; kOther, kGarbled: the word as copied (its first
    // kMaxCallLength characters); upper case
    char call[kMaxCallLength + 1];
  };
  static bool other_call(const Word& w, const char* call);
  // Why the held call would be the sender's.
  enum class Reason : std::uint8_t { kNone, kDe, kCue, kTu, kNcdxf };
  struct Variant {
    char call[kMaxCallLength + 1];  // upper case
    int copies;                     // copies in this sending
  };
  struct Held {
    bool active;
    Reason reason;
    SpotType type;         // its type if it is the sender's
    bool clean;            // no garbled word among the words that made it count
    bool after_cq;         // "cq" or "qrz" among the words that made it count
    Variant v[kVariants];  // the call as first copied, then other copies of it
    int nv;                // variants in v
    bool doubt;            // a short unknown word followed: the next word decides
    // "cq test dl1abc dl1abc": a CQ that ended on its call twice.
    bool cq_twice() const;
  };

  // Ends the word being collected: takes it, or the words it ran together.
  void end_word(std::vector<FoundCall>& found, int& n);
  // Takes one word (lower case; `was_long`: it ran over kMaxCallLength).
  void take_word(std::string_view w, bool was_long, std::vector<FoundCall>& found, int& n);
  // The word `back` words before the current one (1: the last).
  const Word& before(int back) const;
  // Starts holding `call`, which has just ended.
  void hold(const char* call);
  // Reports a copy of the held call at once: after "de" nothing that
  // follows can make it another's, and a stream may fall silent after it.
  void report_now(const Word& w, std::vector<FoundCall>& found, int& n) const;
  // Whether `call`, right after the held call, is a copy of it (the same, or
  // within kVariantEdits: copied another way); counts it.
  bool same_sending(const char* call);
  // Whether `word` (any case, 3 characters or more) is within kVariantEdits
  // of the held call.
  bool near(const char* word) const;
  // Decides the held call with `next` (its following word; null at the end).
  void decide(const Word* next, std::vector<FoundCall>& found, int& n);
  void remember(const Word& w);

  char word_[kMaxCallLength + 1];  // the word being collected (lower case)
  int len_;                        // its length in characters
  bool long_;                      // it ran over kMaxCallLength: no call
  std::int64_t words_;             // words completed
  Word history_[kHistory];         // the last words, history_[0] the latest
  Held held_;                      // the call waiting for its next word
  Word doubt_;                     // the short unknown word after it, while in doubt
};

}  // namespace talvo::spots
