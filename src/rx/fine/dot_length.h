// Dot length: the speed a cluster keys at, from the lengths of its marks.
//
// The dot length is the one that best explains the recent marks' lengths
// as dots and dashes. Each finished mark counts towards the dots it lies
// near (a triangle falling to nothing dot_reach away) and towards those it
// is three of (dash_reach away), older marks weighing less, and the dot
// with the most of both (the product of the two counts) wins. Text has dots
// and dashes alike, while the short pieces of a weak signal's broken marks
// have no dashes three times their length, and dashes taken for dots (marks
// run together by a window too long) have none either. With no dot that
// has both, the estimate stays where it is. The counts are kept per dot
// length tried, so a mark costs one pass over them.
//
// Life cycle: make once, reset, step once a finished mark.
#pragma once

#include <vector>

namespace talvo::fine {

struct DotLengthParams {
  double start_ticks = 12;  // ticks, dot length assumed before any mark (50 WPM)
  double min_ticks = 10;    // ticks, shortest dot followed (60 WPM)
  double max_ticks = 60;    // ticks, longest dot followed (10 WPM)
  double step_ticks = 0.5;  // ticks, the dot lengths tried
  double keep = 0.96;       // weight a counted mark keeps per later mark
  double dot_reach = 0.45;  // a mark counts as a dot within this part of the dot length
  double dash_reach = 0.3;  // and as a dash within this part of three dots
  int max_marks = 30;       // marks counted at most in marks()
};

class DotLength {
 public:
  void make(const DotLengthParams& p);
  void reset();
  // A finished mark `run` ticks long (marks under half the shortest dot or
  // over four of the longest are not counted). Returns the dot length.
  double step(int run);

  double unit() const { return unit_; }  // dot length, ticks
  int marks() const { return marks_; }   // marks counted (saturates at max_marks)

 private:
  double count(int len);

  DotLengthParams p_;
  int units_ = 0;     // dot lengths tried
  int lengths_ = 0;   // ticks, longest mark counted + 1
  double unit_ = 12;  // dot length as estimated from the marks, ticks
  int marks_ = 0;     // marks counted (saturates)
  // Per dot length tried (min_ticks, min_ticks + step_ticks, ...): the
  // counted marks lying near one dot and near three dots.
  std::vector<double> dots_, dashes_;
};

}  // namespace talvo::fine
