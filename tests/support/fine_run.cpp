#include "support/fine_run.h"

#include <algorithm>

namespace talvo::test {

FineRun run_fine(FineFrontEnd& fe, const std::vector<float>& audio, int block, bool iq) {
  FineRun o;
  o.key.resize(static_cast<std::size_t>(fe.clusters()));
  o.level.resize(static_cast<std::size_t>(fe.clusters()));
  const int w = iq ? 2 : 1;
  const std::size_t frames = audio.size() / static_cast<std::size_t>(w);
  for (std::size_t i = 0; i < frames; i += static_cast<std::size_t>(block)) {
    const int n =
        static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(block), frames - i));
    fe.run(audio.data() + i * static_cast<std::size_t>(w), n);
    for (int t = 0; t < fe.ticks(); t++) {
      o.frame.push_back(static_cast<long>(i) + fe.tick_frame(t));
      for (int q = 0; q < fe.clusters(); q++) {
        o.key[static_cast<std::size_t>(q)].push_back(fe.key(q, t));
        o.level[static_cast<std::size_t>(q)].push_back(fe.level(q, t));
      }
    }
  }
  return o;
}

FineRun run_fine(const std::vector<double>& centres, const std::vector<float>& audio, bool iq,
                 int block) {
  FinePlan plan;
  plan.centres_hz = centres;
  plan.iq = iq;
  FineFrontEnd fe(plan);
  return run_fine(fe, audio, block, iq);
}

std::vector<double> grid(double lo, double hi) {
  std::vector<double> c;
  for (double f = lo; f <= hi + 1e-9; f += 50)
    c.push_back(f);
  return c;
}

double mean_from(const std::vector<double>& v, std::size_t from) {
  double s = 0;
  for (std::size_t i = from; i < v.size(); i++)
    s += v[i];
  return s / static_cast<double>(v.size() - from);
}

double percentile_from(std::vector<double> v, std::size_t from, double f) {
  v.erase(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(from));
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(f * static_cast<double>(v.size() - 1))];
}

}  // namespace talvo::test
