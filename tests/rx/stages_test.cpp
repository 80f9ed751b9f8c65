// The tick stages on hand-made inputs: iqabs, absmittel, nlg1, adaptthreshold2.
#include <gtest/gtest.h>

#include <cmath>

#include "support/oracle.h"

namespace talvo {
namespace {

// Marks only channel j as ticked.
void tick_only(Receiver& r, int j) {
  for (int k = -kanaele; k <= kanaele; k++)
    r.newdata[k] = 0;
  r.newdata[j] = 1;
}

TEST(Iqabs, FirstTickAndSteadyPair) {
  auto rx = init(700);
  const int j = 0, n = rx->iqhistlen[j];  // 14
  tick_only(*rx, j);
  rx->IQre[j] = 300;
  rx->IQim[j] = -400;
  iqabs(*rx);
  // Only the newest entry is set, with the tail weight 0.2.
  EXPECT_DOUBLE_EQ(rx->valueabs[j], 0.2 * 500 / n);
  for (int t = 1; t < n; t++)
    iqabs(*rx);
  EXPECT_DOUBLE_EQ(rx->valueabs[j], 500 * (n - 4.8) / n);
}

TEST(Iqabs, SixteenEntryWindowScalesBySevenTenths) {
  auto rx = init(800);  // channel 0 at 800 Hz: a 16-entry window
  ASSERT_EQ(rx->iqhistlen[0], 16);
  tick_only(*rx, 0);
  rx->IQre[0] = 600;
  rx->IQim[0] = 800;
  for (int t = 0; t < 40; t++)
    iqabs(*rx);
  EXPECT_DOUBLE_EQ(rx->valueabs[0], 0.7 * 1000);
}

TEST(Iqabs, ShortWindowsGiveOverlappingEntriesBothWeights) {
  // At the lowest centre frequency the lowest channel (250 Hz) has a window
  // of 5: every entry has both its head and its tail weight, 0.2 + 0.9 for
  // the ends, 0.3 + 0.7 next, 0.5 + 0.5 in the middle: 5.2 in all.
  auto rx = init(kMinCenterfreq);
  const int j = -21;
  ASSERT_EQ(rx->iqhistlen[j], 5);
  tick_only(*rx, j);
  rx->IQre[j] = 100;
  rx->IQim[j] = 0;
  for (int t = 0; t < 5; t++)
    iqabs(*rx);
  EXPECT_DOUBLE_EQ(rx->valueabs[j], 100 * 5.2 / 5);
}

TEST(Iqabs, ChannelsThatDidNotTickKeepTheirValue) {
  auto rx = init(700);
  tick_only(*rx, 3);
  rx->IQre[3] = 100;
  rx->IQre[4] = 100;
  rx->valueabs[4] = 42.0;
  iqabs(*rx);
  EXPECT_EQ(rx->valueabs[4], 42.0);
  EXPECT_GT(rx->valueabs[3], 0.0);
}

TEST(Absmittel, AverageRampsUpAndClusterTakesTheLargestMember) {
  auto rx = init(700);
  const int n = rx->histabslen[7];  // 770 Hz: 7
  tick_only(*rx, 7);
  rx->valueabs[7] = 70.0;
  absmittel(*rx);
  EXPECT_DOUBLE_EQ(rx->valueabsmittel1[7], 70.0 / n);
  EXPECT_DOUBLE_EQ(rx->valueabsmittel[5], 70.0 / n);  // 7 belongs to the cluster at 5
  EXPECT_EQ(rx->valueabsmittel[10], 0.0);
  for (int t = 1; t < n; t++)
    absmittel(*rx);
  EXPECT_DOUBLE_EQ(rx->valueabsmittel1[7], 70.0);

  // A member that did not tick still counts: channel 4's earlier average wins.
  rx->valueabsmittel1[4] = 90.0;
  for (int k = -kanaele; k <= kanaele; k++)
    rx->newdata[k] = 0;
  absmittel(*rx);
  EXPECT_EQ(rx->valueabsmittel[5], 90.0);
}

TEST(Absmittel, OuterClustersStayInsideTheChannelRange) {
  auto rx = init(700);
  rx->valueabsmittel1[-21] = 5.0;
  rx->valueabsmittel1[21] = 6.0;
  rx->valueabsmittel1[-19] = 2.0;
  absmittel(*rx);
  EXPECT_EQ(rx->valueabsmittel[-20], 5.0);
  EXPECT_EQ(rx->valueabsmittel[20], 6.0);
}

// Feeds nlg1 one envelope value at a tick of cluster centre j.
double nlg1_step(Receiver& r, int j, double v) {
  tick_only(r, j);
  r.valueabsmittel[j] = v;
  nlg1(r);
  return r.valuenlg1[j];
}

TEST(Nlg1, StepLeavesSharpAndWTicksLate) {
  auto rx = init(700);
  const int j = 10, w = rx->nlg1weite[j];  // (700 - 100) / 5 = 120
  ASSERT_EQ(w, 120);
  // Settle on level 100 (the zero start values lie within s, so they blur in
  // until the window is full of 100s).
  for (int t = 0; t < 2 * w + 1; t++)
    nlg1_step(*rx, j, 100.0);
  EXPECT_EQ(nlg1_step(*rx, j, 100.0), 100.0);
  // A step to 2000 (far beyond 1.5 s) is held back until it reaches the centre.
  for (int t = 0; t < w; t++)
    ASSERT_EQ(nlg1_step(*rx, j, 2000.0), 100.0) << t;
  EXPECT_EQ(nlg1_step(*rx, j, 2000.0), 2000.0);
}

TEST(Nlg1, WeightsFallLinearlyBetweenSAndOneAndAHalfS) {
  auto rx = init(700);
  const int j = 0, w = rx->nlg1weite[j];
  // Centre value 1000, one entry 250 above (weight 0.5), the rest 1000.
  for (int t = 0; t < 2 * w + 1; t++)
    nlg1_step(*rx, j, 1000.0);
  double out = nlg1_step(*rx, j, 1250.0);
  const double total = 2 * w + 1;
  EXPECT_DOUBLE_EQ(out, ((total - 1) * 1000 + 0.5 * 1250) / (total - 1 + 0.5));
  // Within s the entries average plainly.
  auto rx2 = init(700);
  for (int t = 0; t < 2 * w + 1; t++)
    nlg1_step(*rx2, j, t % 2 ? 1100.0 : 1000.0);
  out = nlg1_step(*rx2, j, 1000.0);
  EXPECT_NEAR(out, (w * 1100.0 + (w + 1) * 1000.0) / total, 1e-9);
}

TEST(Nlg1, OnlyTickedClusterCentres) {
  auto rx = init(700);
  rx->valuenlg1[3] = 7.0;
  rx->valuenlg1[5] = 8.0;
  tick_only(*rx, 3);
  rx->valueabsmittel[3] = 500;
  nlg1(*rx);
  EXPECT_EQ(rx->valuenlg1[3], 7.0);
  EXPECT_EQ(rx->valuenlg1[5], 8.0);
}

double threshold_after(double v, int ticks) {
  auto rx = init(700);
  tick_only(*rx, 0);
  for (int t = 0; t < ticks; t++) {
    rx->valuenlg1[0] = v;
    adaptthreshold2(*rx);
  }
  return rx->valuethr[0];
}

TEST(Adaptthreshold2, SteadyEnvelopes) {
  EXPECT_EQ(threshold_after(2000.5, 600), 1600.0);
  EXPECT_EQ(threshold_after(1200.0, 600), 0.0);
  // The excess is formed in extended precision: 2000 - 0.2 * 2000 lies a hair
  // below 1600 and truncates to 1599.
  EXPECT_EQ(threshold_after(2000.0, 600), 1599.0);
}

TEST(Adaptthreshold2, FirstTickAndTheFloor) {
  EXPECT_EQ(threshold_after(1001.0, 1), 1001.0);
  EXPECT_EQ(threshold_after(1000.9, 1), 0.0);
  EXPECT_EQ(threshold_after(1000.0, 1), 0.0);
  auto rx = init(700);
  tick_only(*rx, 0);
  for (int t = 0; t < 500; t++) {
    rx->valuenlg1[0] = 5000;
    adaptthreshold2(*rx);
  }
  EXPECT_EQ(rx->Histadaptindex[0], 0);
  EXPECT_DOUBLE_EQ(rx->sum[0], 500 * 5000.0);
  rx->valuenlg1[0] = 900;  // below 0.2 of its mean: a negative excess
  adaptthreshold2(*rx);
  EXPECT_EQ(rx->valuethr[0], 0.0);
}

}  // namespace
}  // namespace talvo
