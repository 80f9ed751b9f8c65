// A cluster's noise floor where the noise rose on that cluster alone: it
// learns the new noise from every tick even while the noise keys it too
// often for any block to lie clear of the marks, and a station keyed over
// an old floor does not lift it.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <utility>

#include "rx/fine/channel_power.h"
#include "rx/fine/noise_floor.h"
#include "support/floor_rig.h"

namespace talvo::fine {
namespace {

struct Rise {
  double before_db;  // the floor over the first noise, just before it rose, dB
  double after_db;   // the floor over the risen noise at the end, dB
  int rises;         // times the floor took every tick's blocks
};

// Complex white noise of power 100 per tick for `quiet` ticks, then
// `rise_db` louder for `loud` ticks, through the channel filter. From the
// rise on, the cluster keys `on` ticks of every `on + off` (its key state
// as the decision would hand it on); with carrier_db > 0 a carrier that
// far over the first noise is keyed so, else the keying is the noise's
// own (a floor too low keys the noise's peaks).
Rise run(int quiet, int loud, double rise_db, int on, int off, double carrier_db, uint32_t seed) {
  test::FloorRig rig;
  std::mt19937 rng(seed);
  std::normal_distribution<double> gauss(0, 1);
  const double truth = 100 * rig.d.bn / kTickRate;  // the first noise through the filter
  const double amp = std::sqrt(100 * std::pow(10.0, carrier_db / 10));
  const auto keyed = [&](long long t) { return t >= quiet && (t - quiet) % (on + off) < on; };
  Rise r{};
  int run = 0;
  for (long long t = 0; t < quiet + loud; t++) {
    const double sd = std::sqrt(50.0 * (t < quiet ? 1 : std::pow(10.0, rise_db / 10)));
    const double c = carrier_db > 0 && keyed(t) ? amp : 0.0;
    rig.chan.step(
        t, cfloat(static_cast<float>(c + sd * gauss(rng)), static_cast<float>(sd * gauss(rng))));
    const bool down = keyed(t - rig.delay());
    run = down ? run + 1 : 0;
    rig.floor.step(t, down, run, false, rig.chan);
    if (t == quiet - 1) r.before_db = 10 * std::log10(rig.floor.noise() / truth);
  }
  r.after_db = 10 * std::log10(rig.floor.noise() / truth);
  r.rises = rig.floor.rises();
  return r;
}

TEST(NoiseRise, ARiseOnOneClusterIsLearntThoughItsNoiseKeysIt) {
  // 10 dB louder noise keying 30 ticks of every 50: no block lies 40 ms
  // clear of a key-down tick, and the floor learnt before stayed 10 dB low
  // for good; once 3 s of key-up ticks came (7.5 s here) and 1 s more told
  // the rise, it stands on the new noise.
  for (const uint32_t seed : {1u, 2u}) {
    const Rise r = run(3000, 5000, 10, 30, 20, 0, seed);
    EXPECT_LT(std::abs(r.before_db), 0.7) << seed;
    EXPECT_NEAR(r.after_db, 10, 1.0) << seed;
    EXPECT_GE(r.rises, 1) << seed;
  }
  // 3 dB louder: within what a floor's percentile follows by itself.
  const Rise small = run(3000, 5000, 3, 30, 20, 0, 3);
  EXPECT_EQ(small.rises, 0);
}

TEST(NoiseRise, AStationKeyedOverItsFloorDoesNotLiftIt) {
  // After 6 s of noise alone, a carrier 20 dB over it keyed with gaps too
  // short to teach the floor (60 ticks of every 90, or 24 of every 60):
  // its every tick's blocks stand far over the clean ones, but spread as
  // marks and gaps do.
  for (const auto& [on, off] : {std::pair{60, 30}, std::pair{24, 36}}) {
    const Rise r = run(3000, 5000, 0, on, off, 20, 4);
    EXPECT_EQ(r.rises, 0) << on << "/" << off;
    EXPECT_LT(std::abs(r.after_db), 1.0) << on << "/" << off;
  }
}

}  // namespace
}  // namespace talvo::fine
