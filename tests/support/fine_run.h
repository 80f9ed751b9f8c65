// The fine front end run over a whole signal: every cluster's key state and
// level at every tick, and the stream frame of each tick. For the tests and
// the benchmark of the front end alone.
#pragma once

#include <vector>

#include "rx/fine.h"

namespace talvo::test {

struct FineRun {
  std::vector<std::vector<double>> key, level;  // [cluster][tick]
  std::vector<long> frame;                      // stream frame of each tick
};

// Runs `fe` over the audio (interleaved I/Q pairs with iq) in blocks of `block` frames.
FineRun run_fine(FineFrontEnd& fe, const std::vector<float>& audio, int block = 4096,
                 bool iq = false);
// A front end on clusters at `centres` (Hz), run over the audio.
FineRun run_fine(const std::vector<double>& centres, const std::vector<float>& audio,
                 bool iq = false, int block = 4096);
// The mean of v from index `from` on.
double mean_from(const std::vector<double>& v, std::size_t from);
// The value below which the fraction f (0 .. 1) of v from index `from` on lies.
double percentile_from(std::vector<double> v, std::size_t from, double f);
// Cluster centres every 50 Hz from lo to hi.
std::vector<double> grid(double lo, double hi);

}  // namespace talvo::test
