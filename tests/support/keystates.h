// Key states as a receive front end would give them: one per tick at a
// fixed tick rate, from keyed intervals with a fixed delay, and the faults of
// weak signals added on purpose (isolated wrong ticks, dropouts, short false
// marks), or noise alone.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "support/morse.h"

namespace talvo::test {

using KeyStates = std::vector<uint8_t>;  // 1: key down at that tick

// Tick i (time i / rate) is down when it lies in some [on + delay, off + delay);
// `seconds` of ticks in all.
KeyStates key_states(const std::vector<std::pair<double, double>>& on, double rate, double delay,
                     double seconds);

// Flips each tick with probability p, never two adjacent ticks.
void flip_isolated(KeyStates& k, double p, uint32_t seed);

// Inside marks longer than `min_mark` seconds, with probability p a dropout
// of `len` seconds at a random place.
void add_dropouts(KeyStates& k, double rate, double p, double len, double min_mark, uint32_t seed);

// Key states of noise alone: key-down runs of `min_run` to `max_run` seconds
// starting at random, on average every `every` seconds.
KeyStates noise_states(double seconds, double rate, double min_run, double max_run, double every,
                       uint32_t seed);

// Two transmissions on one frequency: `a`, then `b` starting `pause` seconds
// after the end of a's last mark. Returns the on intervals.
std::vector<std::pair<double, double>> one_after_other(const MorseSignal& a, MorseSignal b,
                                                       double pause, double* b_start = nullptr);

}  // namespace talvo::test
