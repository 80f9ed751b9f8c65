// Morse text as keyed tones, with the timing known: the test signals of the
// decoder. Its own table and timing, independent of the keyer's, so that
// each can check the other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/signal.h"

namespace talvo::test {

struct MorseSignal {
  std::string text;       // letters, digits and . , / ? ; a blank is a word gap
  double freq = 700;      // Hz
  double cpm = 100;       // characters per minute: one unit is 6 / cpm seconds
  double amp = 8000;      // peak amplitude, sample units
  double start = 0.2;     // seconds
  double farnsworth = 0;  // if > 0: gaps between characters and words at this slower cpm
  double jitter = 0;      // standard deviation of each element's length, in units
  uint32_t seed = 1;      // for the jitter
};

struct Keyed {
  KeyedTone tone;
  double end = 0;                 // seconds: the end of the last mark
  std::vector<double> char_ends;  // seconds: the end of each character's last mark
};

// The elements of a character: '.' and '-'; empty for unknown characters.
std::string morse_of(char c);

Keyed morse(const MorseSignal& m);

// The decoder's view of text: lower case, runs of blanks as one.
std::string normalise(const std::string& s);

// The text from its second word on (the decoder is still finding the speed
// during the first), normalised and without blanks at either end.
std::string after_first_word(const std::string& s);

// Edit distance between two strings.
int edit_distance(const std::string& a, const std::string& b);

}  // namespace talvo::test
