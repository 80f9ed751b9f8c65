// The comb pre-filter and the mixer, sample by sample.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "support/oracle.h"

namespace talvo {
namespace {

const double tau = 2 * std::numbers::pi;

TEST(Comb, ConstantInputApproachesItsValuePeriodByPeriod) {
  auto rx = init(700);
  const int P = rx->mixperiode[0];  // 68
  for (int period = 1; period <= 200; period++) {
    for (int t = 0; t < P; t++)
      receive_sample(*rx, 1000.0);
    // Each slot has been visited `period` times: 1000 (1 - 0.9^period).
    EXPECT_NEAR(rx->infr[0], 1000 * (1 - std::pow(0.9, period)), 1e-9) << period;
  }
  EXPECT_NEAR(rx->infr[0], 1000.0, 1e-6);
  EXPECT_EQ(rx->time[0], 0);  // back at slot 0 after whole periods
}

TEST(Comb, PeriodicInputPassesUnchangedOtherToneIsAveragedDown) {
  auto rx = init(700);
  const int P = rx->mixperiode[0];
  double worst_own = 0, worst_other = 0;
  for (int n = 0; n < 400 * P; n++) {
    const double own = std::sin(tau * n / P + 0.3);
    receive_sample(*rx, 1000 * own);
    if (n >= 300 * P) worst_own = std::max(worst_own, std::fabs(rx->infr[0] - 1000 * own));
  }
  EXPECT_LT(worst_own, 1e-6);  // start values faded by 0.9^300

  // A tone midway between two teeth of the comb (half a cycle per period
  // more) comes out at 0.1 / 1.9 of its size.
  auto rx2 = init(700);
  for (int n = 0; n < 400 * P; n++) {
    receive_sample(*rx2, 1000 * std::sin(tau * n * 1.5 / P));
    if (n >= 300 * P) worst_other = std::max(worst_other, std::fabs(rx2->infr[0]));
  }
  EXPECT_NEAR(worst_other, 1000 * 0.1 / 1.9, 0.5);
}

TEST(Comb, SilenceDecaysByPointNinePerPeriod) {
  auto rx = init(700);
  const int P = rx->mixperiode[3];
  receive_sample(*rx, 5000.0);
  const double first = rx->infr[3];
  EXPECT_EQ(first, 0.1 * 5000.0);
  for (int k = 1; k <= 3; k++) {
    for (int t = 1; t < P; t++)
      receive_sample(*rx, 0.0);
    receive_sample(*rx, 0.0);  // slot 0 again
    EXPECT_DOUBLE_EQ(rx->infr[3], first * std::pow(0.9, k));
  }
}

TEST(Mixer, TicksOnEveryMultipleOfThePeriod) {
  auto rx = init(700);
  for (int n = 1; n <= 3 * 97; n++) {
    rx->newdataflag = 0;
    mixer(*rx, 0.0);
    for (int j : {-21, 0, 21}) {
      const bool tick = n % rx->mixperiode[j] == 0;
      ASSERT_EQ(rx->newdata[j], tick ? 1 : 0) << "sample " << n << " channel " << j;
    }
    bool any = false;
    for (int j = -kanaele; j <= kanaele; j++)
      any |= n % rx->mixperiode[j] == 0;
    ASSERT_EQ(rx->newdataflag, any ? 1 : 0) << n;
    ASSERT_EQ(rx->txtick, n % rx->mixperiode[0] == 0 ? 1 : 0) << n;
  }
}

TEST(Mixer, SineWithPhaseGivesHalfAmplitudePair) {
  auto rx = init(700);
  const int P = rx->mixperiode[5];  // 64
  const double A = 3000, phi = 0.7;
  for (int t = 0; t < P; t++) {
    rx->infr[5] = A * std::cos(tau * t / P + phi);
    mixer(*rx, 0.0);
  }
  ASSERT_EQ(rx->newdata[5], 1);
  EXPECT_NEAR(rx->IQre[5], A / 2 * std::cos(phi), 1e-9);
  EXPECT_NEAR(rx->IQim[5], -A / 2 * std::sin(phi), 1e-9);

  // A constant gives nothing but rounding.
  for (int t = 0; t < P; t++) {
    rx->infr[5] = 1234.5;
    mixer(*rx, 0.0);
  }
  EXPECT_NEAR(rx->IQre[5], 0.0, 1e-9);
  EXPECT_NEAR(rx->IQim[5], 0.0, 1e-9);
}

TEST(Mixer, ToneFollowsTheTransmitChannelsPhase) {
  auto rx = init(700);
  rx->txch = -5;
  rx->txampl = 20000;
  const int P = rx->mixperiode[-5];  // 48000 / 650 = 73
  for (int n = 1; n <= 2 * P; n++) {
    mixer(*rx, 0.0);
    const int pos = n % P;  // the counter as just advanced: 0 on the tick
    ASSERT_EQ(rx->wert, static_cast<short>(static_cast<int>(20000 * rx->S[-5][pos]))) << n;
    if (pos == 0) {
      ASSERT_EQ(rx->wert, 0);
    }
  }
  rx->txampl = 0;
  mixer(*rx, 0.0);
  EXPECT_EQ(rx->wert, 0);
}

}  // namespace
}  // namespace talvo
