// The `fine` Morse timing decoder: one cluster's key states, one per tick at
// a fixed tick rate, become characters.
//
// It works in three layers, all relative to a tracked dit length:
//
// 1. Debounce. A change of key state counts only once the new state has
//    held for a quarter of a dit (2 ticks at least, 10 ms at most); the
//    change is then dated back to where it began, so runs keep their true
//    lengths. Isolated wrong ticks vanish here.
// 2. Runs. A mark shorter than the shortest plausible mark (0.3 of a 50 WPM
//    dit, up to 0.3 dit at slower speeds) is noise and becomes part of the
//    gap around it; a gap inside a character shorter than 0.3 dit, or than
//    0.15 of the mark before it, is a dropout and joins the marks on either
//    side. A mark longer than two dahs at 5 WPM spoils its character, which
//    then gives nothing.
// 3. Characters. A character ends once its gap reaches two units. Its marks
//    are told apart by the tracked threshold (the geometric mean of dit and
//    dah, sqrt(3) dits), or, when the character's own gaps say the speed is
//    far off, by the largest jump between mark lengths or by the marks' ratio
//    to the gaps between them. The character's unit then moves the tracked
//    dit (at once when it is far off). A word space follows once the gap
//    reaches W = max(5 units, 5/3 of the learned gap between characters),
//    which keeps the words of Farnsworth timing. The learned gap starts at
//    3.9 units (W = 6.5 units before anything is learned, above the first
//    gaps of common Farnsworth timings and below a word gap of 7), learns
//    from the gaps that gave no word space (one over 5 units only when it
//    lies within 1.3 times the gap learnt: a word gap the start speed missed
//    teaches nothing), never from the silence before the first character or
//    pauses over 3 s or 20 units, and from the word gaps of up to 30 units
//    after one-character words in a row only once they come in two lengths,
//    the longer 1.8 to 3 times the shorter (very slow Farnsworth gaps, whose
//    characters all stand alone at first; "r r k k" at its own speed gives
//    one length, its word gaps).
//
// Speed: before anything has been read, marks far off the tracked dit move
// it at once (a first mark under 1 dit is a dit of a faster sender, one
// over 4 dits a dah of a slower one), and so does a character whose own
// unit (from its marks and gaps) lies outside 0.6 to 1.7 dits. Once a
// signal is read, a first mark over 6 dits still moves it at once, and so
// do the marks of a character of five or more (a faster sender's characters
// running together); otherwise a far-off unit moves it only when the next
// character agrees (within 0.7 to 1/0.7 of it), since one dah of a weak
// signal broken by noise makes a character look about twice as fast.
// Characters with a unit within 0.6 to 1.7 dits move it by 0.3 of the
// difference. A
// move made on a mark is taken back when the mark proves to be the first part
// of a mark split by a dropout. The dit stays within 5 to 50 WPM (10% margin).
//
// Noise: before a plausible character of three or more elements (every
// mark and gap fitting one unit) has been read, shorter characters are held
// back, up to 24 strings (a few short words with their spaces), and come out
// in front of it; before it the characters of a fast sender that ran
// together are split where a gap is far longer than the shortest element.
// Five noise-like characters (single elements, or timing that fits no unit)
// with no plausible character of three or more elements between mute the
// output until such a character comes. Once a signal is read, a character
// of one mark shorter than half its dit is a noise peak in a gap (a weak
// signal's gaps let the odd one through), not an "e": it is dropped, with
// any move of the speed it made, and the gap around it counts as one. So is
// a mark under a quarter of a dit inside a character with a gap of 3/4 unit
// or more on either side (at slow speeds a peak in the gap between two
// characters joined them, and moved the speed as a faster sender's dit);
// where the gap it leaves reaches two units the character is two.
//
// Morse or not: with FineTimingConfig::morse_chars over 1, a signal read
// speaks only once it is judged Morse: that many characters of two or more
// elements in a row, each keyed at the unit of the one before (within 0.7
// to 1/0.7), the last of three or more; a single-element character, one
// that fits no unit or one keyed faster than the fastest sender followed
// (its unit under the tracked dit's lower bound: the flicker of speech,
// which pins the tracked dit there) takes one back. Until then its newest
// 64 strings wait and then come out in front (a station's first words are
// not lost), their spaces judged again: where the first characters each
// stood alone and some space waiting stands for a gap 1.8 times as long as
// the shortest between them, those gaps were the gaps between characters
// of Farnsworth timing, and their spaces go ("c q c q de" at 20/10 WPM);
// a gap between two of them that gave no space but reaches a word gap at
// the speed read by then gets one ("rrtu de" at 28 WPM);
// the mute above drops them and takes the judgement back (a
// cluster whose station has gone is judged again). Speech, crashes and FSK key a cluster
// in marks of any length and many single marks, so the text of their
// clusters never goes out. The judgement only holds output back: speed and characters are
// read as without it.
// Overs: once a signal is judged Morse, a silence of one and a half word
// gaps (at most a second), its word space given, may end one sender's
// over, and the next over on the frequency may come at another speed (a
// runner and its callers take turns at 22-36 WPM). The marks after such a
// silence are held, with their gaps, until five have come (or the silence
// comes again, or the input ends). A first one standing alone and shorter
// than half the dit read before is a noise peak in the silence and goes.
// The unit that fits the rest best (each mark a dit or a dah, each gap one
// unit or three or longer, some gap inside a character, nearest the dit
// when several fit; then the mean of its dits, dahs / 3 and gaps inside
// characters, less the marks' lengthening: half the difference of the dits
// and those gaps) becomes the dit when the marks show two lengths of mark
// or of gap, fit it well (mean log distance 0.2) and it lies over 15 % from
// the dit. Then they are read as they would have been as they came, each
// string keeping the tick it would have been decoded on. A sender pausing
// between words gives the same unit and keeps the dit. An over of up to
// four dits, each alone, that two seconds of silence end again (or the
// input) is the noise after a station's last over (a weak one's threshold
// lies near the noise's peaks): it goes.
// A character is decoded on the tick its gap reaches two units; the debounce
// adds no delay to that except while a change of state is pending. A string
// that was held back goes out with its age, the ticks since it was decoded,
// so that it keeps the time its characters were keyed.
#pragma once

namespace talvo {

// What becomes of a decoded string.
class TimingSink {
 public:
  virtual ~TimingSink() = default;
  // A character's string from the decode tables, or " " for a word space,
  // decoded `age` ticks ago (0 unless it was held back: see above).
  virtual void put(const char* s, long age) = 0;
};

struct FineTimingConfig {
  double tick_rate = 500;  // ticks per second
  double start_wpm = 20;   // words per minute assumed before anything is heard
  double min_wpm = 5;      // slowest sender followed, words per minute
  double max_wpm = 50;     // fastest sender followed, words per minute
  // Characters of two or more elements in a row, each keyed at the unit of
  // the one before (within 0.7 to 1/0.7), before a signal's first output
  // (1: none; its characters go out as soon as it is read).
  int morse_chars = 1;
};

class FineTiming {
 public:
  explicit FineTiming(const FineTimingConfig& config);
  // Back to the state after construction: start speed, nothing heard.
  void reset();
  // One tick: `down` is the key state.
  void step(bool down, TimingSink& out);
  // End of input: close the character in progress.
  void flush(TimingSink& out);
  // Tracked speed, words per minute (PARIS: a dit lasts 1.2 / wpm seconds).
  double wpm() const;
  // Characters per minute as the classic decoder counts them: 5 x wpm.
  int cpm() const;
  // Tracked dit length, ticks.
  double dit() const { return dit_; }
  // Learned gap between characters, ticks.
  double char_gap() const { return cgap_; }
  // True while output is held back: nothing plausible read yet, or muted as noise.
  bool muted() const { return !locked_; }
  // Ticks the key has been up (noise marks too short to count included), 0
  // while it is down.
  long gap_ticks() const { return state_ ? 0 : gap_base_ + run_ - cand_len_; }

 private:
  static constexpr int kMaxMarks = 24;     // marks kept of one character (room to split)
  static constexpr int kMaxElements = 10;  // longest pattern in the tables
  static constexpr int kMaxHeld = 24;      // strings held back before a signal is trusted
  static constexpr int kMaxGated = 64;     // strings of a signal read held until judged Morse
  static constexpr double kFarnsworthRatio = 1.8;  // its word gaps over its gaps between characters
  static constexpr double kAgree = 0.7;            // two far-off units this alike agree (ratio)
  // A word space.
  static bool is_blank(const char* s) { return s[0] == ' ' && s[1] == '\0'; }
  static bool is_real(const char* s);
  static constexpr int kOverMarks = 5;            // marks of a new over held to learn its speed
  static constexpr double kEndOfCharacter = 2.0;  // gap that ends a character, units
  static constexpr double kLoneMark = 0.5;        // a lone mark shorter than this is noise, dits
  static constexpr double kAfterLastOver = 2.0;  // silence after lone dits that makes them noise, s

  void run_end(bool was_down, long len, TimingSink& out);
  void accept_mark(long gap, long mark);
  void gap_tick(TimingSink& out);
  void close_character(TimingSink& out);
  int drop_noise_peaks(double dit);
  void decode_segment(int a, int b, TimingSink& out);
  double threshold(int a, int b) const;
  double unit_of(int a, int b, double threshold) const;
  double lone_gap(long gap);
  bool plausible(int a, int b, double threshold, double unit) const;
  void set_dit(double dit);
  // A string and the tick it was decoded on.
  struct Held {
    const char* s;
    long tick;
    // A word space: the gap it stands for, once ended; a character: the gap
    // before it when that gap followed a character and gave no word space.
    // Ticks; 0: none (yet).
    long gap = 0;
  };
  void put(const char* s, TimingSink& out);
  void space_gap(long gap);
  void farnsworth_start();
  void judge(int a, int b, int len, bool ok);
  void gate(const Held& h, TimingSink& out);
  void queue(const Held& h);
  void emit(const Held& h, TimingSink& out);
  long glitch_ticks() const;
  double min_mark() const;
  double word_gap() const;
  double over_gap() const;
  long now() const { return stamp_ >= 0 ? stamp_ : tick_; }
  void hold_over_mark(long gap, long mark);
  void settle_over(long running, TimingSink& out);
  bool lone_dits() const;
  double over_unit() const;
  double over_cost(double u, double bias, int* short_gaps) const;
  long replay_gap(long len, long start, TimingSink& out);
  void gap_reached(long gap, TimingSink& out);

  // --- configuration --------------------------------------------------------
  double rate_;       // ticks per second
  double dit_start_;  // dit at the start speed, ticks
  double dit_min_;    // dit at the fastest speed, ticks
  double dit_max_;    // dit at the slowest speed, ticks
  double mark_abs_;   // shortest mark that can be a signal: half the fastest dit, ticks
  int morse_chars_;   // characters of one unit in a row that make a signal Morse
  double mark_max_;   // longest plausible mark: two dahs at the slowest speed, ticks
  long glitch_max_;   // longest run the debounce may remove, ticks (10 ms)
  long run_cap_;      // run lengths saturate here, ticks (a minute)
  long learn_cap_;    // longest gap the character-gap estimate learns from, ticks (3 s)

  // --- debounce -------------------------------------------------------------
  bool state_;         // debounced key state: true = down
  long run_;           // ticks since the debounced state began (pending ticks included)
  long cand_len_;      // ticks since a pending change of state began; 0: none pending
  long cand_new_;      // ticks of the pending change in the new state
  long cand_old_run_;  // ticks of the old state at the end of the pending change

  // --- runs -----------------------------------------------------------------
  long last_gap_;    // the gap before the mark now running, ticks (noise marks folded in)
  long gap_base_;    // noise marks and gaps before the gap now running, ticks
  bool after_char_;  // the gap now running follows a character

  // --- the character in progress --------------------------------------------
  int n_;                  // marks stored
  long marks_[kMaxMarks];  // their lengths, ticks
  long gaps_[kMaxMarks];   // gaps_[i]: the gap after marks_[i], ticks
  bool overflow_;          // more marks came than are kept
  bool bad_;               // a mark was implausibly long
  bool open_;              // a character is in progress

  // --- speed, spacing and output --------------------------------------------
  double dit_;             // tracked dit (one unit), ticks
  double cgap_;            // learned gap between characters, ticks
  bool locked_;            // a plausible character of two or more elements was read
  int suspect_;            // noise-like characters since the last plausible long one
  double undo_dit_;        // dit before a first mark moved it, ticks; 0: no move to undo
  double far_unit_;        // unit of the last character, far off the dit, ticks; 0: none
  bool space_given_;       // the gap now running gave its word space
  long char_gap_;          // the gap before the character now read, as Held::gap, ticks
  int word_chars_;         // characters read in the current word
  int lone_words_;         // one-character words in a row
  long tick_;              // ticks stepped since construction
  Held held_[kMaxHeld];    // strings held back while not locked
  int n_held_;             // strings in held_
  Held gated_[kMaxGated];  // strings of a signal read, waiting to be judged Morse
  int n_gated_;            // strings in gated_
  int gated_at_;           // the oldest one's index in gated_
  int evidence_;           // characters of one unit in a row (see judge)
  double last_unit_;       // the unit of the last character of two or more, ticks
  bool morse_;             // judged Morse: its strings go out
  bool out_any_;           // a character has been output since reset
  bool out_blank_;         // the last string output was a word space

  // The gaps after the one-character words in a row (see lone_gap()).
  static constexpr int kLoneGaps = 8;
  long lone_gaps_[kLoneGaps];  // ticks, the first kLoneGaps of them
  int n_lone_;                 // gaps in lone_gaps_

  // --- the start of an over ---------------------------------------------------
  bool over_;                   // holding the marks after a long silence
  int n_over_;                  // marks held
  long over_gap_[kOverMarks];   // the gap before each, ticks
  long over_mark_[kOverMarks];  // their lengths, ticks
  long over_end_[kOverMarks];   // the tick each ended on
  long stamp_;                  // tick strings are dated to while replaying; -1: now
};

}  // namespace talvo
