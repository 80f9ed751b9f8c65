#include "support/keystates.h"

#include <cmath>
#include <random>

namespace talvo::test {

KeyStates key_states(const std::vector<std::pair<double, double>>& on, double rate, double delay,
                     double seconds) {
  KeyStates k(static_cast<std::size_t>(std::ceil(seconds * rate)), 0);
  for (const auto& [a, b] : on) {
    const long first = static_cast<long>(std::ceil((a + delay) * rate));
    const long last = static_cast<long>(std::ceil((b + delay) * rate));  // exclusive
    for (long i = std::max(0L, first); i < last && i < static_cast<long>(k.size()); i++)
      k[static_cast<std::size_t>(i)] = 1;
  }
  return k;
}

void flip_isolated(KeyStates& k, double p, uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(0, 1);
  for (std::size_t i = 0; i < k.size(); i++) {
    if (u(gen) < p) {
      k[i] ^= 1;
      i++;  // the next tick stays as it is
    }
  }
}

void add_dropouts(KeyStates& k, double rate, double p, double len, double min_mark, uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(0, 1);
  const std::size_t drop = static_cast<std::size_t>(std::lround(len * rate));
  const std::size_t shortest = static_cast<std::size_t>(std::lround(min_mark * rate));
  std::size_t i = 0;
  while (i < k.size()) {
    if (!k[i]) {
      i++;
      continue;
    }
    std::size_t end = i;
    while (end < k.size() && k[end])
      end++;
    if (end - i > shortest && end - i > drop + 2 && u(gen) < p) {
      const std::size_t at =
          i + 1 + static_cast<std::size_t>(u(gen) * static_cast<double>(end - i - drop - 2));
      for (std::size_t j = at; j < at + drop; j++)
        k[j] = 0;
    }
    i = end;
  }
}

KeyStates noise_states(double seconds, double rate, double min_run, double max_run, double every,
                       uint32_t seed) {
  KeyStates k(static_cast<std::size_t>(std::ceil(seconds * rate)), 0);
  std::mt19937 gen(seed);
  std::exponential_distribution<double> wait(1 / every);
  std::uniform_real_distribution<double> run(min_run, max_run);
  double t = wait(gen);
  while (t < seconds) {
    const double len = run(gen);
    const long a = std::lround(t * rate);
    const long b = std::max(a + 1, std::lround((t + len) * rate));
    for (long i = a; i < b && i < static_cast<long>(k.size()); i++)
      k[static_cast<std::size_t>(i)] = 1;
    t += len + wait(gen);
  }
  return k;
}

std::vector<std::pair<double, double>> one_after_other(const MorseSignal& a, MorseSignal b,
                                                       double pause, double* b_start) {
  const Keyed ka = morse(a);
  b.start = ka.end + pause;
  if (b_start) *b_start = b.start;
  std::vector<std::pair<double, double>> on = ka.tone.on;
  const Keyed kb = morse(b);
  on.insert(on.end(), kb.tone.on.begin(), kb.tone.on.end());
  return on;
}

}  // namespace talvo::test
