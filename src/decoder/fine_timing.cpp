// The fine timing decoder: debounce, runs, characters (see fine_timing.h).
#include "decoder/fine_timing.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "decoder/decoder.h"

namespace talvo {
namespace {

constexpr double kSqrt3 = 1.7320508075688772;  // dit/dah threshold, dits
constexpr double kWordUnits = 5.0;             // gap that ends a word, units
constexpr double kWordOverCharGap = 5.0 / 3;   // word gap over the learned character gap
constexpr double kDropout = 0.3;               // shorter gaps inside a character join marks, dits
constexpr double kFar = 0.6, kFarUp = 1.7;     // a unit outside [0.6, 1.7] dits is far off
constexpr int kSuspectMute = 5;                // noise-like characters that mute
constexpr double kPeakMark = 0.25;  // a mark inside a character shorter than this ..., dits
constexpr double kPeakGap = 0.75;   // ... with gaps this long either side is noise, dits
constexpr double kPeakAfter = 8;    // a gap over this many of the mark after it is no sender's
constexpr int kRunTogether = 5;     // marks of a character that follow a far-off unit at once
constexpr double kLonePause = 30;   // longest word gap after one-character words learnt, units
constexpr double kLearnOver = 1.3;  // a gap over 5 units teaches the gap between characters
                                    // when no longer than this many times it
constexpr double kLoneNear = 1.25;  // gaps after one-character words this near the shortest ...
constexpr double kLoneLong = 3.0;   // ... and their word gaps at most this many times it
constexpr double kOverGap = 1.5;    // a silence of this many word gaps may end an over ...
constexpr double kOverSeconds = 1;  // ... and one of this long, seconds, always may

double dit_ticks(double wpm, double rate) {
  return 1.2 / wpm * rate;
}

}  // namespace

// A character of the tables, not blank nor unknown.
bool FineTiming::is_real(const char* s) {
  return *s && std::strcmp(s, "_") != 0 && std::strcmp(s, "~") != 0 && !is_blank(s);
}

FineTiming::FineTiming(const FineTimingConfig& c) {
  rate_ = c.tick_rate;
  dit_start_ = dit_ticks(c.start_wpm, rate_);
  // Ten per cent beyond the speed range, for uneven keying at its ends.
  dit_min_ = dit_ticks(c.max_wpm * 1.1, rate_);
  dit_max_ = dit_ticks(c.min_wpm / 1.1, rate_);
  mark_abs_ = 0.3 * dit_ticks(c.max_wpm, rate_);
  morse_chars_ = std::max(1, c.morse_chars);
  mark_max_ = 6 * dit_ticks(c.min_wpm, rate_);
  glitch_max_ = std::max(2L, std::lround(0.010 * rate_));
  run_cap_ = std::lround(60 * rate_);
  learn_cap_ = std::lround(3 * rate_);
  tick_ = 0;
  reset();
}

void FineTiming::reset() {
  state_ = false;
  run_ = 0;
  cand_len_ = cand_new_ = cand_old_run_ = 0;
  last_gap_ = gap_base_ = 0;
  after_char_ = false;
  n_ = 0;
  overflow_ = bad_ = open_ = false;
  dit_ = dit_start_;
  // A little above three units: before anything is learned a gap is a word
  // gap from 6.5 units on, so that the first gaps of Farnsworth timing (often
  // 6 units or a little more) do not split the first word.
  cgap_ = 3.9 * dit_;
  locked_ = false;
  suspect_ = 0;
  space_given_ = false;
  char_gap_ = 0;
  word_chars_ = lone_words_ = 0;
  n_lone_ = 0;
  undo_dit_ = 0;
  far_unit_ = 0;
  n_held_ = 0;
  n_gated_ = gated_at_ = 0;
  evidence_ = 0;
  last_unit_ = 0;
  morse_ = morse_chars_ <= 1;
  out_any_ = out_blank_ = false;
  over_ = false;
  n_over_ = 0;
  stamp_ = -1;
}

double FineTiming::wpm() const {
  return 1.2 * rate_ / dit_;
}

int FineTiming::cpm() const {
  return static_cast<int>(std::lround(5 * wpm()));
}

long FineTiming::glitch_ticks() const {
  return std::clamp(std::lround(0.25 * dit_), 2L, glitch_max_);
}

// 0.3 of the fastest dit always (the front end keys the dots of a fast sender
// at +10 dB some ticks short); up to 0.3 dit at slower speeds, but never so
// much that the dits of the fastest sender would vanish before the speed
// estimate has followed them.
double FineTiming::min_mark() const {
  return std::max(mark_abs_, std::min(0.3 * dit_, 0.75 * dit_min_ * 1.1));
}

double FineTiming::word_gap() const {
  return std::max(kWordUnits * dit_, kWordOverCharGap * cgap_);
}

// A silence that may end an over: one and a half word gaps, at most a
// second (the learned gap between characters of slow Farnsworth timing
// makes the word gap long).
double FineTiming::over_gap() const {
  return std::min(kOverGap * word_gap(), kOverSeconds * rate_);
}

// The held over is dits alone, each a character of its own, after a
// silence of one and a half word gaps at least (a slow sender's last "e"
// after a word gap is held as an over too: the over's silence is at most
// a second).
bool FineTiming::lone_dits() const {
  if (n_over_ == 0) return false;
  if (static_cast<double>(over_gap_[0]) < kOverGap * word_gap()) return false;
  for (int i = 0; i < n_over_; i++) {
    if (static_cast<double>(over_mark_[i]) >= kSqrt3 * dit_) return false;
    if (i > 0 && static_cast<double>(over_gap_[i]) < kEndOfCharacter * dit_) return false;
  }
  return true;
}

void FineTiming::set_dit(double dit) {
  const double d = std::clamp(dit, dit_min_, dit_max_);
  cgap_ *= d / dit_;
  dit_ = d;
}

void FineTiming::step(bool down, TimingSink& out) {
  tick_++;
  if (run_ < run_cap_) run_++;
  if (down == state_) {
    if (cand_len_ > 0) {
      cand_len_++;
      cand_old_run_++;
      // The pending change was a glitch: its ticks stay with the old state.
      if (cand_old_run_ > cand_new_ || cand_old_run_ >= glitch_ticks()) cand_len_ = 0;
    }
  } else {
    if (cand_len_ == 0) {
      cand_len_ = cand_new_ = 1;
      cand_old_run_ = 0;
    } else {
      cand_len_++;
      cand_new_++;
      cand_old_run_ = 0;
    }
    if (cand_new_ >= glitch_ticks()) {
      // The change holds: dated back to its first tick.
      const long old_len = std::max(0L, run_ - cand_len_);
      const bool was_down = state_;
      state_ = down;
      run_ = cand_len_;
      cand_len_ = 0;
      run_end(was_down, old_len, out);
    }
  }
  if (!state_) gap_tick(out);
}

void FineTiming::run_end(bool was_down, long len, TimingSink& out) {
  if (!was_down) {
    // A gap ended; whether it was one is known when the mark after it ends.
    last_gap_ = std::min(gap_base_ + len, run_cap_);
    return;
  }
  if (len < min_mark()) {
    // Noise: the mark and the gaps around it are one gap.
    gap_base_ = std::min(last_gap_ + len, run_cap_);
    return;
  }
  gap_base_ = 0;
  if (over_) {
    hold_over_mark(last_gap_, len);
    if (n_over_ == kOverMarks) settle_over(0, out);
    return;
  }
  accept_mark(last_gap_, len);
}

void FineTiming::accept_mark(long gap, long mark) {
  // A first mark that moved the speed at once may have been the first part
  // of a mark split by a dropout: judged by the speed before, and if so the
  // move is taken back.
  const double before = undo_dit_ > 0 ? undo_dit_ : dit_;
  // Whatever the speed, a gap under 0.15 of the mark before it is no gap
  // after a dah (a third of it) or a dit (as long as it).
  const bool merged = open_ && n_ > 0 &&
                      (gap < kDropout * before ||
                       static_cast<double>(gap) < 0.15 * static_cast<double>(marks_[n_ - 1]));
  if (merged && undo_dit_ > 0) set_dit(undo_dit_);
  undo_dit_ = 0;
  if (!open_) {
    // A new character. The gap before it, if it followed a character and
    // was not a long pause, teaches the gap between characters: a gap that
    // gave no word space, or the gaps after one-character words in a row
    // once they show Farnsworth timing (lone_gap()).
    // (Pauses: over 3 s, or 20 units; the word gaps of Farnsworth timing
    // at 10 WPM are 25.)
    if (after_char_ && gap <= learn_cap_) {
      double sample = -1;
      if (!space_given_ && gap <= 20 * dit_ &&
          static_cast<double>(gap) <= std::max(kWordUnits * dit_, kLearnOver * cgap_))
        sample = static_cast<double>(gap);
      else if (space_given_ && lone_words_ >= 1 && gap <= kLonePause * dit_)
        sample = lone_gap(gap);
      if (sample > 0) {
        cgap_ += 0.5 * (sample - cgap_);
        cgap_ = std::clamp(cgap_, 2.5 * dit_, 12 * dit_);
      }
    }
    if (space_given_) space_gap(gap);
    char_gap_ = after_char_ && !space_given_ ? gap : 0;
    open_ = true;
    n_ = 0;
    overflow_ = bad_ = false;
    space_given_ = false;
  }
  if (mark > mark_max_) bad_ = true;
  if (merged) {
    // A dropout inside a mark: one mark.
    marks_[n_ - 1] = std::min(marks_[n_ - 1] + gap + mark, run_cap_);
    if (marks_[n_ - 1] > mark_max_) bad_ = true;
    return;
  }
  if (n_ == kMaxMarks) {
    overflow_ = true;
    return;
  }
  if (n_ > 0) gaps_[n_ - 1] = gap;
  marks_[n_++] = mark;

  // Marks far off the tracked dit move it at once. A move is taken back
  // when the gap after the mark turns out to be a dropout (see above).
  const double m = static_cast<double>(mark);
  const double was = dit_;
  if (n_ == 1) {
    // A first mark far shorter is a dit of a faster sender, far longer a
    // dah of a slower one. Before anything has been read the bounds are
    // narrower: any first mark shorter than the dit is a faster dit (a
    // little longer it may be a slower dit or a faster dah: left open).
    // Once a signal is read, a short first mark is more often the first
    // piece of a weak signal's broken dah: a faster sender is followed when
    // its characters end (see decode_segment) or its marks run together.
    const double shorter = locked_ ? 0 : 1;
    const double longer = locked_ ? 6 : 4;
    if (m < shorter * dit_)
      set_dit(m);
    else if (m > longer * dit_)
      set_dit(m / 3);
  } else {
    // With a gap inside the character its own unit is known: follow it at
    // once when it is far off (or nothing has been read yet).
    // Once a signal is read, a character of a few marks leaves a far-off
    // unit to its end (see decode_segment): a weak signal's broken dah
    // looks like a faster sender's character. Marks of a faster sender
    // that run together make a longer one.
    if (!locked_ || n_ >= kRunTogether) {
      const double u = unit_of(0, n_, threshold(0, n_));
      if (!locked_ || u < kFar * dit_ || u > kFarUp * dit_) set_dit(u);
      // A short mark is a faster sender's dit, unless the gap before it is
      // longer than any gap of a sender that fast: a noise peak in a slow
      // sender's gap (see drop_noise_peaks).
      if (m < 0.5 * dit_ && static_cast<double>(gap) <= kPeakAfter * m) set_dit(m);
    }
  }
  if (dit_ != was) undo_dit_ = was;
}

void FineTiming::gap_tick(TimingSink& out) {
  // Ticks of a pending change of state do not count yet.
  long gap = gap_base_ + run_ - cand_len_;
  if (over_) {
    if (n_over_ == 0) return;
    if (lone_dits()) {
      // Held until the silence has lasted: noise in the silence after the
      // last over, and the over is still to come.
      if (gap >= kAfterLastOver * rate_) n_over_ = 0;
      return;
    }
    if (gap < over_gap()) return;
    // A short over ended: what was held is read, then the gap since.
    settle_over(gap - 1, out);
    gap = gap_base_ + run_ - cand_len_;
  }
  gap_reached(gap, out);
  // A long silence after a signal judged Morse, its word space given: the
  // next marks may be another sender's.
  if (locked_ && morse_ && !over_ && !open_ && (space_given_ || word_chars_ == 0) &&
      gap >= over_gap()) {
    over_ = true;
    n_over_ = 0;
  }
}

// A gap after a one-character word, `gap` ticks: what it teaches of the
// gap between characters (ticks), or nothing (-1). The gaps of Farnsworth
// timing at slow gap speeds all look like word gaps at first, every
// character a word of its own; but they come in two lengths, the gaps
// between characters and the word gaps 7/3 as long. Single letters at
// ordinary timing ("r r", "e e", "k k k") have word gaps of one length, and
// teach nothing: taken for gaps between characters, they ran the words
// after them together. So once two of the gaps after one-character words
// in a row lie near the shortest of them and one stands kFarnsworthRatio
// to kLoneLong times as long, the shorter are the gaps between characters.
double FineTiming::lone_gap(long gap) {
  if (n_lone_ < kLoneGaps) lone_gaps_[n_lone_++] = gap;
  const long shortest = *std::min_element(lone_gaps_, lone_gaps_ + n_lone_);
  int near = 0;
  bool longer = false;
  double sum = 0;
  for (int i = 0; i < n_lone_; i++) {
    const double r = static_cast<double>(lone_gaps_[i]) / static_cast<double>(shortest);
    if (r <= kLoneNear) {
      near++;
      sum += static_cast<double>(lone_gaps_[i]);
    }
    longer = longer || (r >= kFarnsworthRatio && r <= kLoneLong);
  }
  if (near < 2 || !longer) return -1;
  return sum / near;
}

// What the gap now running, `gap` ticks long, ends: a character, a word.
void FineTiming::gap_reached(long gap, TimingSink& out) {
  if (open_ && gap >= kEndOfCharacter * dit_) close_character(out);
  if (!open_ && word_chars_ > 0 && !space_given_ && gap >= word_gap()) {
    space_given_ = true;
    lone_words_ = word_chars_ == 1 ? lone_words_ + 1 : 0;
    if (lone_words_ == 0) n_lone_ = 0;
    word_chars_ = 0;
    put(" ", out);
  }
}

void FineTiming::flush(TimingSink& out) {
  if (state_) {
    // The mark in progress ends here.
    const long len = run_ - cand_len_;
    state_ = false;
    run_ = 0;
    cand_len_ = 0;
    run_end(true, len, out);
  }
  if (over_ && n_over_ > 0 && !lone_dits()) settle_over(gap_ticks(), out);
  n_over_ = 0;
  over_ = false;
  if (open_) close_character(out);
}

void FineTiming::close_character(TimingSink& out) {
  open_ = false;
  after_char_ = true;
  if (locked_ && n_ == 1 && !bad_ && !overflow_ &&
      static_cast<double>(marks_[0]) < kLoneMark * (undo_dit_ > 0 ? undo_dit_ : dit_)) {
    // A lone mark far shorter than a dit of the sender being read: noise in
    // a gap (a weak signal's gaps let the odd noise peak through), not an
    // "e". Dropped with the speed move it made; its gap runs on.
    if (undo_dit_ > 0) set_dit(undo_dit_);
    undo_dit_ = 0;
    gap_base_ = std::min(last_gap_ + marks_[0], run_cap_);
    n_ = 0;
    return;
  }
  if (bad_ || overflow_ || n_ == 0) {
    n_ = 0;
    return;
  }
  if (locked_ && n_ > 1) {
    const int kept = drop_noise_peaks(undo_dit_ > 0 ? undo_dit_ : dit_);
    if (kept < n_) {
      n_ = kept;
      // What is left, split where the gaps the peaks left end a character.
      int a = 0;
      for (int i = 0; i + 1 < n_; i++) {
        if (static_cast<double>(gaps_[i]) >= kEndOfCharacter * dit_) {
          decode_segment(a, i + 1, out);
          a = i + 1;
        }
      }
      if (a < n_) decode_segment(a, n_, out);
      n_ = 0;
      return;
    }
  }
  if (!locked_ && n_ > 1) {
    // Before the speed is known, the characters of a fast sender can run
    // together: split where a gap is far longer than the shortest element
    // and, with two gaps or more, twice the shortest gap. A mark comes out
    // short where the signal was weak for a moment (a fade, a neighbour's
    // edge) and the gap before it long: "-.-." keyed +168 -64 +48 -60 +156
    // -80 +28 ms was split after its third mark into "ke".
    long shortest = marks_[0], gap = gaps_[0];
    for (int i = 0; i < n_; i++)
      shortest = std::min(shortest, marks_[i]);
    for (int i = 0; i + 1 < n_; i++) {
      shortest = std::min(shortest, gaps_[i]);
      gap = std::min(gap, gaps_[i]);
    }
    int a = 0;
    for (int i = 0; i + 1 < n_; i++) {
      if (gaps_[i] >= 2.5 * static_cast<double>(shortest) && (n_ < 3 || gaps_[i] >= 2 * gap)) {
        decode_segment(a, i + 1, out);
        a = i + 1;
      }
    }
    decode_segment(a, n_, out);
  } else {
    decode_segment(0, n_, out);
  }
  n_ = 0;
}

// Takes out of the character the marks shorter than kPeakMark dits with a
// gap of kPeakGap dits or more on either side (none before the first, none after
// the last): noise peaks in the gaps of a signal being read. The gaps
// around a peak become one; a peak at the end lengthens the gap now
// running and takes back the speed move it made. Returns the marks kept
// (n_ left as it was).
int FineTiming::drop_noise_peaks(double dit) {
  const auto peak = [&](int i) {
    return static_cast<double>(marks_[i]) < kPeakMark * dit &&
           (i == 0 || static_cast<double>(gaps_[i - 1]) >= kPeakGap * dit) &&
           (i == n_ - 1 || static_cast<double>(gaps_[i]) >= kPeakGap * dit);
  };
  int kept = 0;
  for (int i = 0; i < n_; i++) {
    if (!peak(i)) {
      marks_[kept] = marks_[i];
      if (i + 1 < n_) gaps_[kept] = gaps_[i];
      kept++;
      continue;
    }
    if (i == n_ - 1) {
      // The gap now running began before the peak, and a move of the
      // speed the peak made is taken back.
      if (kept > 0) gap_base_ = std::min(gaps_[kept - 1] + marks_[i], run_cap_);
      if (undo_dit_ > 0) set_dit(undo_dit_);
      undo_dit_ = 0;
    } else if (kept > 0) {
      gaps_[kept - 1] = std::min(gaps_[kept - 1] + marks_[i] + gaps_[i], run_cap_);
    }
  }
  return kept;
}

// The dit/dah threshold for marks a .. b-1, ticks. At the tracked speed it
// is sqrt(3) dits; when the character's own gaps say the speed is far off,
// it comes from the character: the geometric mean across the largest jump
// between mark lengths, or, with all marks alike, sqrt(3) times the mean gap
// (dahs are three gaps long, dits one).
double FineTiming::threshold(int a, int b) const {
  if (b - a < 2) return kSqrt3 * dit_;
  double g = 0;
  for (int i = a; i + 1 < b; i++)
    g += static_cast<double>(gaps_[i]);
  g /= b - a - 1;
  if (g >= kFar * dit_ && g <= kFarUp * dit_) return kSqrt3 * dit_;
  long sorted[kMaxMarks];
  std::copy(marks_ + a, marks_ + b, sorted);
  std::sort(sorted, sorted + (b - a));
  double best = 1, t = kSqrt3 * g;
  for (int i = 0; i + 1 < b - a; i++) {
    const double r = static_cast<double>(sorted[i + 1]) / static_cast<double>(sorted[i]);
    if (r > best) {
      best = r;
      if (r >= 2)
        t = std::sqrt(static_cast<double>(sorted[i]) * static_cast<double>(sorted[i + 1]));
    }
  }
  return t;
}

// The unit of marks a .. b-1 and the gaps between them: the mean of the
// dits, the dahs / 3 and the gaps, ticks.
double FineTiming::unit_of(int a, int b, double t) const {
  double sum = 0;
  int n = 0;
  for (int i = a; i < b; i++) {
    const double m = static_cast<double>(marks_[i]);
    sum += m > t ? m / 3 : m;
    n++;
    if (i + 1 < b) {
      sum += static_cast<double>(gaps_[i]);
      n++;
    }
  }
  return sum / n;
}

// Whether every element of marks a .. b-1 fits the unit.
bool FineTiming::plausible(int a, int b, double t, double u) const {
  if (u < 0.8 * dit_min_ || u > 1.25 * dit_max_) return false;
  for (int i = a; i < b; i++) {
    const double m = static_cast<double>(marks_[i]) / u;
    if (static_cast<double>(marks_[i]) > t ? (m < 1.6 || m > 5) : (m < 0.35 || m > 2.2))
      return false;
    if (i + 1 < b) {
      const double g = static_cast<double>(gaps_[i]) / u;
      if (g < 0.25 || g > 2.6) return false;
    }
  }
  return true;
}

void FineTiming::decode_segment(int a, int b, TimingSink& out) {
  const int len = b - a;
  word_chars_++;
  if (len > kMaxElements) return;
  const char* s;
  bool ok = true;  // the timing fits one unit
  if (len == 1) {
    s = static_cast<double>(marks_[a]) > kSqrt3 * dit_ ? "t" : "e";
  } else {
    const double t = threshold(a, b);
    int code = 0;
    for (int i = a; i < b; i++)
      code = 2 * code + (static_cast<double>(marks_[i]) > t ? 1 : 0);
    s = lookup(len, code);
    const double u = unit_of(a, b, t);
    ok = plausible(a, b, t, u);
    if (ok) {
      const bool far = u < kFar * dit_ || u > kFarUp * dit_;
      if (!locked_) {
        set_dit(u);
      } else if (far) {
        // Once a signal is read, the speed moves far only when a second
        // character in a row agrees: one broken mark of a weak signal can
        // make a character look twice as fast.
        if (far_unit_ > 0 && u > kAgree * far_unit_ && u < far_unit_ / kAgree) {
          set_dit(u);
          far_unit_ = 0;
        } else {
          far_unit_ = u;
        }
      } else {
        far_unit_ = 0;
        set_dit(dit_ + 0.3 * (u - dit_));
      }
    }
  }
  // What noise gives: single-element characters and characters whose
  // timing fits no unit. Five of them with no plausible character of three
  // or more elements between mute the output until such a character comes.
  if (!morse_) judge(a, b, len, ok);
  if (len == 1 || !ok)
    suspect_++;
  else if (len >= 3)
    suspect_ = 0;
  if (suspect_ >= kSuspectMute) {
    locked_ = false;
    n_held_ = 0;
    n_gated_ = 0;
    evidence_ = 0;
    // Muted, it is judged again: what keys it now may not be its station.
    morse_ = morse_chars_ <= 1;
    return;
  }
  if (!locked_) {
    if (!ok) return;
    if (len < 3 || !is_real(s)) {
      put(s, out);
      return;
    }
    locked_ = true;
    // They wait with the rest for the judgement (it may have come: they go
    // out with this character).
    for (int i = 0; i < n_held_; i++)
      queue(held_[i]);
    n_held_ = 0;
  }
  gate({s, now(), char_gap_}, out);
}

}  // namespace talvo
