// Long test signals made fast: keyed tones rendered into unquantised float
// samples at 48 kHz (the envelope walks the key intervals in order instead of
// searching them all on every sample), with optional slow fading per tone,
// Gaussian noise, and the truth of the keying per tick.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/signal.h"

namespace talvo::test {

// A tone's level falls and rises as a cosine: gain in dB is
// -depth_db * (1 - cos(2 pi rate_hz t + phase)) / 2, so 0 dB at its best.
struct Fading {
  double rate_hz = 0;   // fades per second
  double depth_db = 0;  // dB between best and worst
  double phase = 0;     // radians at t = 0
};

// The tones (fading[i] applies to tones[i] when given) plus white Gaussian
// noise of standard deviation `noise`, over `seconds`. With iq the tones are
// complex exponentials amp * exp(j (2 pi f t + phase)) (f may be negative)
// and the noise has `noise` in each component; the result is interleaved I/Q.
// rate: frames per second.
std::vector<float> render(const std::vector<KeyedTone>& tones, double seconds, double noise = 0,
                          uint32_t seed = 1, const std::vector<Fading>& fading = {},
                          bool iq = false, int rate = 48000);

// Noise standard deviation that puts a carrier of amplitude amp at snr_db
// over the noise in 500 Hz (48 kHz real samples): sqrt(24 amp^2 / 10^(snr/10)).
double noise_for_snr(double amp, double snr_db);

// Per tick of frames_per_tick frames: 1 when the tick's last frame lies in a
// key-down interval of the tone.
std::vector<uint8_t> key_truth(const KeyedTone& tone, std::size_t ticks, int frames_per_tick = 96);

}  // namespace talvo::test
