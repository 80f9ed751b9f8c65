// Test signals whose truth is known: keyed tones with soft edges, mixed with
// seeded Gaussian noise, as 48 kHz signed 16-bit samples.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace talvo::test {

// One tone, keyed down during each [on, off) interval (seconds), with
// raised-cosine edges of `edge` seconds centred on the interval ends.
struct KeyedTone {
  double freq = 700;                          // Hz
  double amp = 8000;                          // peak amplitude, sample units
  double phase = 0;                           // radians at t = 0
  std::vector<std::pair<double, double>> on;  // key-down intervals, seconds
  double edge = 0.005;                        // rise and fall time, seconds
};

// Mixes the tones and noise of standard deviation `noise` over `seconds`.
std::vector<int16_t> mix(const std::vector<KeyedTone>& tones, double seconds, double noise = 0,
                         uint32_t seed = 1);

// `count` tones at random frequencies in [lo, hi) Hz and amplitudes in
// [min_amp, max_amp), each keyed on and off at random: marks of `mark` to
// mark + `mark_spread` seconds, one every `gap` to gap + `gap_spread` seconds.
std::vector<KeyedTone> random_tones(int count, double lo, double hi, double min_amp, double max_amp,
                                    double seconds, uint32_t seed, double mark = 0.02,
                                    double mark_spread = 0.2, double gap = 0.03,
                                    double gap_spread = 0.3);

// The samples as S16LE bytes.
std::string to_bytes(const std::vector<int16_t>& samples);

}  // namespace talvo::test
