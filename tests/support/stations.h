// A band of generated stations: each one's text keyed as Morse on its own
// frequency, at its own speed, from its own start, as the keyed tones that
// support/render.h mixes with noise.
#pragma once

#include <string>
#include <vector>

#include "support/signal.h"

namespace talvo::test {

struct Station {
  double hz = 0;       // tone frequency, Hz (negative: below the dial in I/Q)
  double wpm = 20;     // speed, words per minute
  std::string text{};  // what it sends
  double start = 0.5;  // seconds
  std::string call{};  // its call as sent, lower case ("" where it does not matter)
};

// The stations' tones, each of peak amplitude `amp` (sample units), station
// i starting at phase phase_step * i (radians).
std::vector<KeyedTone> station_tones(const std::vector<Station>& st, double amp, double phase_step);

// The end of the last station's last mark, seconds.
double stations_end(const std::vector<Station>& st);

}  // namespace talvo::test
