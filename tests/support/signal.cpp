#include "support/signal.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace talvo::test {

namespace {

// Key envelope 0 .. 1 of one tone at time t.
double envelope(const KeyedTone& k, double t) {
  double e = 0;
  for (const auto& [on, off] : k.on) {
    const double h = k.edge / 2;
    if (t < on - h || t >= off + h) continue;
    double rise =
        t >= on + h ? 1 : 0.5 - 0.5 * std::cos(std::numbers::pi * (t - (on - h)) / k.edge);
    double fall =
        t < off - h ? 1 : 0.5 + 0.5 * std::cos(std::numbers::pi * (t - (off - h)) / k.edge);
    e = std::max(e, std::min(rise, fall));
  }
  return e;
}

}  // namespace

std::vector<int16_t> mix(const std::vector<KeyedTone>& tones, double seconds, double noise,
                         uint32_t seed) {
  const auto n = static_cast<std::size_t>(seconds * 48000);
  std::vector<int16_t> out(n);
  std::mt19937 gen(seed);
  std::normal_distribution<double> gauss(0.0, 1.0);
  for (std::size_t i = 0; i < n; i++) {
    const double t = static_cast<double>(i) / 48000;
    double v = noise > 0 ? noise * gauss(gen) : 0;
    for (const auto& k : tones) {
      const double e = envelope(k, t);
      if (e > 0) v += k.amp * e * std::sin(2 * std::numbers::pi * k.freq * t + k.phase);
    }
    v = std::round(v);
    out[i] = static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
  }
  return out;
}

std::vector<KeyedTone> random_tones(int count, double lo, double hi, double min_amp, double max_amp,
                                    double seconds, uint32_t seed, double mark, double mark_spread,
                                    double gap, double gap_spread) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<KeyedTone> tones;
  for (int k = 0; k < count; k++) {
    KeyedTone t;
    t.freq = lo + (hi - lo) * u(gen);
    t.amp = min_amp + (max_amp - min_amp) * u(gen);
    for (double s = u(gen) * gap; s < seconds; s += gap + gap_spread * u(gen))
      t.on.push_back({s, s + mark + mark_spread * u(gen)});
    tones.push_back(t);
  }
  return tones;
}

std::string to_bytes(const std::vector<int16_t>& samples) {
  std::string b;
  b.reserve(samples.size() * 2);
  for (int16_t s : samples) {
    const auto u = static_cast<uint16_t>(s);
    b.push_back(static_cast<char>(u & 0xFF));
    b.push_back(static_cast<char>(u >> 8));
  }
  return b;
}

}  // namespace talvo::test
