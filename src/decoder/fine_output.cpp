// The fine timing decoder's output: whether a signal read is Morse, the
// strings waiting for that judgement, the opening's spaces judged again
// when it comes, and what goes out (see fine_timing.h).
#include <algorithm>
#include <cmath>

#include "decoder/fine_timing.h"

namespace talvo {
namespace {

constexpr int kFarnsworthWords = 2;  // characters alone that show Farnsworth timing at the start

}  // namespace

// Whether a signal read is Morse: characters of two or more elements in a
// row keyed at one unit (what speech, crashes or FSK key varies from one
// character to the next, and gives many single marks). A character that
// fits no unit, has one element or is keyed faster than any sender
// followed takes one back: overdriven speech flickers a cluster in marks
// and gaps shorter than a 55 WPM dit, the tracked dit stops at that bound
// and every such character would fit it.
void FineTiming::judge(int a, int b, int len, bool ok) {
  const double u = len > 1 ? unit_of(a, b, threshold(a, b)) : 0;
  const bool fast = u < dit_min_;
  if (!ok || len == 1 || fast) {
    evidence_ = std::max(0, evidence_ - 1);
  } else {
    const bool agree = last_unit_ > 0 && u > kAgree * last_unit_ && u < last_unit_ / kAgree;
    evidence_ = agree ? evidence_ + 1 : 1;
    last_unit_ = u;
  }
  // Judged on a character of three or more elements: one of two could be
  // the pair of marks a single burst of noise leaves.
  morse_ = ok && !fast && len >= 3 && evidence_ >= morse_chars_;
}

// Strings of a signal read go out once it is judged Morse; until then the
// newest kMaxGated of them wait.
//
// The speed read by then also judges the gaps of the waiting characters
// (and of the one the judgement came on) again: a gap that gave no word
// space as it came, before the speed and the gap between characters were
// learnt, but reaches a word gap now, gets its space (an opening of
// one-letter words at 28 WPM came out "rrtu de", its word gaps a little
// under the 6.5 units that end a word at first).
void FineTiming::gate(const Held& h, TimingSink& out) {
  if (morse_) {
    if (n_gated_ == 0) {
      emit(h, out);
      return;
    }
    farnsworth_start();
    const double word = word_gap();
    const auto spaced = [&](const Held& g) {
      if (g.gap > 0 && *g.s && !is_blank(g.s) && static_cast<double>(g.gap) >= word)
        emit({" ", g.tick}, out);
      emit(g, out);
    };
    for (int i = 0; i < n_gated_; i++)
      spaced(gated_[(gated_at_ + i) % kMaxGated]);
    n_gated_ = 0;
    spaced(h);
  } else {
    queue(h);
  }
}

void FineTiming::queue(const Held& h) {
  if (n_gated_ < kMaxGated) {
    gated_[(gated_at_ + n_gated_++) % kMaxGated] = h;
  } else {
    gated_[gated_at_] = h;
    gated_at_ = (gated_at_ + 1) % kMaxGated;
  }
}

// The strings waiting for the judgement, as it comes: where the first
// kFarnsworthWords characters or more each stood alone as a word and some
// space waiting stands for a gap kFarnsworthRatio times as long as the
// shortest between them, the short ones were the gaps between the
// characters of Farnsworth timing (at 20/10 WPM 11 units, its word gaps
// 25), which the gap learnt between characters had not reached yet ("c q
// c q de" came out): their spaces go, and the gap learnt is at least their
// mean when two or more went. Text at its own speed keeps its gaps between
// characters under a word gap (3 units against 5), so its first characters
// seldom stand alone.
void FineTiming::farnsworth_start() {
  // The characters alone from the first on (the gap learnt meanwhile may
  // have joined the later ones) and the spaces after them up to `end`; the
  // longest gap of any space.
  int chars = 0, end = n_gated_;
  int last = -1;            // the index of the last string but empty ones
  bool after_char = false;  // that string is a character
  long shortest = 0, longest = 0;
  for (int i = 0; i < n_gated_; i++) {
    const Held& g = gated_[(gated_at_ + i) % kMaxGated];
    if (!*g.s) continue;
    const bool blank = is_blank(g.s);
    if (!blank && end == n_gated_) {
      if (after_char) {
        end = last;  // two characters in a row: the one before was no word
        chars--;
      } else {
        chars++;
      }
    }
    if (blank && g.gap > 0) {
      if (end == n_gated_) shortest = shortest == 0 ? g.gap : std::min(shortest, g.gap);
      longest = std::max(longest, g.gap);
    }
    last = i;
    after_char = !blank;
  }
  if (chars < kFarnsworthWords || shortest == 0 ||
      static_cast<double>(longest) < kFarnsworthRatio * static_cast<double>(shortest))
    return;
  const double between = std::sqrt(static_cast<double>(shortest) * static_cast<double>(longest));
  double sum = 0;
  int n = 0;
  for (int i = 0; i < end; i++) {
    Held& g = gated_[(gated_at_ + i) % kMaxGated];
    if (!is_blank(g.s) || g.gap <= 0 || static_cast<double>(g.gap) >= between) continue;
    sum += static_cast<double>(g.gap);
    n++;
    g.s = "";
  }
  // Two gaps or more alike measure the gap between characters, where it
  // has not been learnt that far yet.
  if (n >= 2) cgap_ = std::max(cgap_, std::clamp(sum / n, 2.5 * dit_, 12 * dit_));
  lone_words_ = 0;
}

// String s, decoded on this tick.
void FineTiming::put(const char* s, TimingSink& out) {
  const Held h{s, now(), is_blank(s) ? 0 : char_gap_};
  if (locked_) {
    gate(h, out);
  } else if (n_held_ < kMaxHeld) {
    held_[n_held_++] = h;
  }
}

// The word space still waiting last (held or gated) was given by a gap of
// `gap` ticks, now ended.
void FineTiming::space_gap(long gap) {
  Held* last = locked_ ? (n_gated_ > 0 ? &gated_[(gated_at_ + n_gated_ - 1) % kMaxGated] : nullptr)
                       : (n_held_ > 0 ? &held_[n_held_ - 1] : nullptr);
  if (last && is_blank(last->s)) last->gap = gap;
}

// One blank per word gap, never two in a row, none before the first
// character; each string with the ticks since it was decoded.
void FineTiming::emit(const Held& h, TimingSink& out) {
  const char* s = h.s;
  if (!*s) return;
  const bool blank = is_blank(s);
  if (blank && (!out_any_ || out_blank_)) return;
  out.put(s, tick_ - h.tick);
  out_any_ = true;
  out_blank_ = blank;
}

}  // namespace talvo
