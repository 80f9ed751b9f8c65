// Decoded text cut into lines the way an operator reads a band: each
// cluster's words gather into a line that ends with the station's over, so
// that a live stream shows text as it comes and a long recording reads as a
// log with a time on every line.
//
// A line ends when
// - the over ends: a word "k", "kn", "sk" or "bk" (the prosigns that hand
//   the frequency over; "bk" not as the line's first word, where it opens
//   an over) followed by a word space;
// - the cluster has decoded nothing for kPauseSeconds (a station that stops
//   without a prosign), by the strings' own times;
// - it holds kWidth characters: it breaks at its last word space, and the
//   word in progress starts the next line;
// - the input ends (finish()).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace talvo {

// One line of one cluster's text.
struct TextLine {
  double t = 0;        // seconds of audio when its first character was decoded
  int cluster = 0;     // the cluster's index
  int center_hz = 0;   // the cluster's centre, Hz
  int cpm = 0;         // speed when it ended, characters per minute
  int wpm = 0;         // the same in words per minute
  double snr_db = 0;   // fine: signal-to-noise ratio when it ended, dB
  double tone_hz = 0;  // fine: the tone the cluster keyed on, Hz
  std::string text;    // without blanks at either end; never empty
};

class OverLines {
 public:
  static constexpr double kPauseSeconds = 5.0;  // silence that ends an over, s
  static constexpr std::size_t kWidth = 80;     // characters of text at most

  // `done` is handed every line as it ends; `rate` is input frames per second.
  OverLines(int rate, std::function<void(const TextLine&)> done);

  // A string a cluster decoded (e.text; calls are ignored).
  void text(const EngineEvent& e);
  // `frames` of input have been decoded: lines of clusters quiet since
  // kPauseSeconds end.
  void advanced(long long frames);
  // Ends every open line, lowest cluster first.
  void finish();

 private:
  struct Open {
    TextLine line;
    std::string raw;     // its text as decoded, blanks included
    long long last = 0;  // frame of its last string
    bool open = false;   // a line is being gathered
  };
  void end(Open& o);
  void wrap(Open& o, const EngineEvent& e);

  int rate_;
  std::function<void(const TextLine&)> done_;
  std::vector<Open> open_;  // per cluster index
};

// "[hh:mm:ss.s]" of `t` seconds.
std::string clock_time(double t);

}  // namespace talvo
