#include "support/render.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace talvo::test {

namespace {

// The key envelope 0 .. 1 of one tone, for times that only increase.
class EnvelopeWalk {
 public:
  explicit EnvelopeWalk(const KeyedTone& k) : k_(k) {}
  double at(double t) {
    const double h = k_.edge / 2;
    while (next_ < k_.on.size() && k_.on[next_].second + h <= t)
      next_++;
    double e = 0;
    for (std::size_t i = next_; i < k_.on.size() && i < next_ + 2; i++) {
      const auto [on, off] = k_.on[i];
      if (t < on - h || t >= off + h) continue;
      const double rise =
          t >= on + h ? 1 : 0.5 - 0.5 * std::cos(std::numbers::pi * (t - (on - h)) / k_.edge);
      const double fall =
          t < off - h ? 1 : 0.5 + 0.5 * std::cos(std::numbers::pi * (t - (off - h)) / k_.edge);
      e = std::max(e, std::min(rise, fall));
    }
    return e;
  }

 private:
  const KeyedTone& k_;
  std::size_t next_ = 0;
};

}  // namespace

std::vector<float> render(const std::vector<KeyedTone>& tones, double seconds, double noise,
                          uint32_t seed, const std::vector<Fading>& fading, bool iq, int rate) {
  const auto n = static_cast<std::size_t>(seconds * rate);
  const int w = iq ? 2 : 1;
  std::vector<double> acc(n * w, 0.0);
  for (std::size_t k = 0; k < tones.size(); k++) {
    const KeyedTone& tone = tones[k];
    const Fading f = k < fading.size() ? fading[k] : Fading{};
    EnvelopeWalk env(tone);
    const double dw = 2 * std::numbers::pi * tone.freq / rate;
    for (std::size_t i = 0; i < n; i++) {
      const double t = static_cast<double>(i) / rate;
      double e = env.at(t);
      if (e <= 0) continue;
      if (f.depth_db > 0)
        e *=
            std::pow(10.0, -f.depth_db *
                               (1 - std::cos(2 * std::numbers::pi * f.rate_hz * t + f.phase)) / 40);
      const double ph = dw * static_cast<double>(i) + tone.phase;
      if (iq) {
        acc[2 * i] += tone.amp * e * std::cos(ph);
        acc[2 * i + 1] += tone.amp * e * std::sin(ph);
      } else {
        acc[i] += tone.amp * e * std::sin(ph);
      }
    }
  }
  std::vector<float> out(n * w);
  std::mt19937 gen(seed);
  std::normal_distribution<double> gauss(0.0, 1.0);
  for (std::size_t i = 0; i < n * w; i++)
    out[i] = static_cast<float>(acc[i] + (noise > 0 ? noise * gauss(gen) : 0.0));
  return out;
}

double noise_for_snr(double amp, double snr_db) {
  return std::sqrt(24 * amp * amp / std::pow(10.0, snr_db / 10));
}

std::vector<uint8_t> key_truth(const KeyedTone& tone, std::size_t ticks, int frames_per_tick) {
  std::vector<uint8_t> truth(ticks, 0);
  for (const auto& [on, off] : tone.on) {
    // Tick t ends at frame (t + 1) * fpt - 1.
    const double a = on * 48000, b = off * 48000;
    for (auto t = static_cast<std::size_t>(std::max(0.0, std::floor(a / frames_per_tick) - 1));
         t < ticks; t++) {
      const double f = static_cast<double>((t + 1) * frames_per_tick - 1);
      if (f >= b) break;
      if (f >= a) truth[t] = 1;
    }
  }
  return truth;
}

}  // namespace talvo::test
