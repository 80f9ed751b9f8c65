// The station model of a strong station, as its neighbours subtract it: its
// carrier at the subtracted tick must be the carrier of the mark keyed then,
// whether the station keeps one phase or (as ebook2cw, which starts each
// element's tone afresh) gives each mark its own.
#include "rx/fine/station_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "rx/fine/channel_power.h"

namespace talvo::fine {
namespace {

// Marks and gaps of 30 ticks at amplitude 100 on the cluster's centre, the
// phase of mark k being phase(k); the largest error of the model's carrier
// over the bodies of marks 3 on (after the carrier is trusted), over 100:
// the carrier learnt over the marks, or (own) the model at the tick.
template <class Phase>
double worst_error(Phase phase, bool own = false) {
  const ChannelDesign d = design_channel(ChannelParams{}, 41);
  const StationModelParams p;
  const int g = static_cast<int>(d.taps.size() - 1) / 2;
  const int sub_lag = g + p.edge_settle_ticks + 10;
  StationModel m;
  m.make(p, d, sub_lag);
  m.reset();
  m.set_offset(0);
  const int unit = 30, lead = 40, amp = 100;
  double worst = 0;
  for (long long t = 0; t < lead + 2 * unit * 40; t++) {
    const long long k = (t - lead) / (2 * unit);
    const bool down = t >= lead && (t - lead) % (2 * unit) < unit;
    const std::complex<double> z = down ? std::polar(double(amp), phase(k)) : 0.0;
    m.step(t, cfloat(float(z.real()), float(z.imag())), cfloat(1, 0), 1.0);
    // The subtracted tick, inside the body of a mark from the third on.
    const long long v = t - sub_lag;
    const long long kv = (v - lead) / (2 * unit), in = (v - lead) % (2 * unit);
    if (v < lead || kv < 3 || in < 3 || in > unit - 3) continue;
    const std::complex<double> want = std::polar(double(amp), phase(kv));
    double apart = 0;
    const std::complex<double> got =
        own ? m.at_tick(static_cast<double>(v), &apart, nullptr) : m.carrier_z() * m.back();
    worst = std::max(worst, std::abs(got - want) / amp);
  }
  return worst;
}

TEST(StationModel, ACarrierOfOnePhaseIsLearntOverTheMarks) {
  EXPECT_LT(worst_error([](long long) { return 0.7; }), 0.01);
  EXPECT_LT(worst_error([](long long) { return 0.7; }, true), 0.01);
}

// Each mark 2.4 rad on from the last (a tone restarted with each element):
// the carrier learnt over the marks lags each new phase (an error of 0.44 of
// the amplitude in a mark's body), the mark's own carrier does not.
TEST(StationModel, EachMarkIsModelledWithItsOwnCarrier) {
  const auto phase = [](long long k) { return 2.4 * static_cast<double>(k); };
  EXPECT_GT(worst_error(phase), 0.3);
  EXPECT_LT(worst_error(phase, true), 0.01);
}

}  // namespace
}  // namespace talvo::fine
