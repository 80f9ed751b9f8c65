// A Morse signal as a recording on disk: raw S16LE 48 kHz audio of the text
// with noise in a temporary directory, and the other files (WAV, FLAC, AIFF,
// Ogg, other rates, stereo, quieter) sox makes of it, the way a user's
// recordings reach talvo-decode.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/morse.h"
#include "support/process.h"

namespace talvo::test {

struct MorseRecording {
  TempDir dir;      // holds signal.raw and the files made of it
  Keyed keyed;      // the signal's keying and its timing
  std::string raw;  // S16LE 48 kHz, the contents of signal.raw

  // `m` keyed, then `tail` seconds of noise alone, with noise of standard
  // deviation `noise` (sample units) throughout, drawn from `seed`.
  MorseRecording(const MorseSignal& m, double tail, double noise, uint32_t seed = 2);

  // Converts the raw signal with sox into `name` (its format from the name),
  // with extra sox effects; the new file's path.
  std::string make(const std::string& name, const std::vector<std::string>& effects = {}) const;
};

}  // namespace talvo::test
