// The station model of a strong station, as its neighbours subtract it: its
// carrier at the subtracted tick must be the carrier of the mark keyed then.
// (A generator that starts each element's tone afresh, as ebook2cw does,
// gives each mark its own phase, which this model does not follow yet.)
#include "rx/fine/station_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "rx/fine/channel_power.h"

namespace talvo::fine {
namespace {

// Marks and gaps of 30 ticks at amplitude 100 on the cluster's centre, the
// phase of mark k being phase(k); the largest error of the model's carrier
// over the bodies of marks 3 on (after the carrier is trusted), over 100.
template <class Phase>
double worst_error(Phase phase) {
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
    worst = std::max(worst, std::abs(m.carrier_z() * m.back() - want) / amp);
  }
  return worst;
}

TEST(StationModel, ACarrierOfOnePhaseIsLearntOverTheMarks) {
  EXPECT_LT(worst_error([](long long) { return 0.7; }), 0.01);
}

}  // namespace
}  // namespace talvo::fine
