// The channel plan and the starting state of a fresh receiver.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "rx/receiver.h"

namespace talvo {
namespace {

TEST(Init, WorkedValuesFor700Hz) {
  auto rx = init(700);
  EXPECT_EQ(rx->mixperiode[-21], 97);
  EXPECT_EQ(rx->mixperiode[0], 68);
  EXPECT_EQ(rx->mixperiode[21], 52);
  EXPECT_EQ(rx->maxperiode, 97);
  EXPECT_EQ(rx->iqhistlen[0], 14);
  EXPECT_EQ(rx->histabslen[0], 7);
  EXPECT_EQ(rx->freqmod[0], 8400);
  // Mirrored: channel j gets the width that belongs to the frequency of -j.
  EXPECT_EQ(rx->nlg1weite[0], 140);
  EXPECT_EQ(rx->nlg1weite[-21], 182);
  EXPECT_EQ(rx->nlg1weite[21], 98);
  EXPECT_EQ(rx->Histre[0].size(), 70u);
  EXPECT_EQ(rx->Histnlg1[0].size(), 7000u);
  EXPECT_EQ(rx->Histadapt[5].size(), 5000u);
}

TEST(Init, OscillatorTablesRunOnPastTheirPeriod) {
  auto rx = init(700);
  const double tau = 2 * std::numbers::pi;
  EXPECT_EQ(rx->C[0][0], 1.0);
  EXPECT_EQ(rx->C[0][1], std::cos(tau * 1 / 68));
  EXPECT_EQ(rx->C[0][2], std::cos(tau * 2 / 68));
  EXPECT_EQ(rx->S[0][0], 0.0);
  EXPECT_EQ(rx->S[0][1], std::sin(tau * 1 / 68));
  for (int j = -kanaele; j <= kanaele; j++) {
    ASSERT_EQ(rx->C[j].size(), 97u) << j;
    ASSERT_EQ(rx->S[j].size(), 97u) << j;
  }
  // Channel 21 (period 52) continues its sinusoid into entries 52 .. 96.
  EXPECT_EQ(rx->S[21][60], std::sin(tau * 60 / 52));
}

TEST(Init, StartingValues) {
  auto rx = init(700);
  for (int j = -kanaele; j <= kanaele; j++) {
    EXPECT_EQ(rx->newdata[j], 0);
    EXPECT_EQ(rx->decchannel[j], 2);
    EXPECT_EQ(rx->textbuffer[j][0], '\0');
    EXPECT_EQ(rx->textbuffer[j].size(), 512u);
    EXPECT_EQ(rx->dit[j], 80);
    EXPECT_EQ(rx->pausemean[j], 200);
    EXPECT_EQ(rx->speed[j], 100);
    EXPECT_EQ(rx->markmin[j], 10000);
    EXPECT_EQ(rx->sync_on[j], 1);
    EXPECT_EQ(rx->textcolor[j], 0xFFFFFF);
    EXPECT_EQ(rx->textspeedcolor[j], 0x80FF);
    EXPECT_EQ(rx->pausefactor[j], 1.7);
    EXPECT_EQ(rx->decthresh[j], 1000);
    EXPECT_EQ(rx->histadaptlen[j], 500);
    EXPECT_EQ(rx->nlg1sigmaw[j], 200);
    EXPECT_EQ(rx->marklist[j].size(), 10u);
  }
}

TEST(Init, EveryHistoryHoldsItsWindowTwice) {
  // The stages keep their windows as mirrored rings; the rows the channel plan
  // gives them must hold each window twice, at both ends of the allowed range.
  for (int cf : {kMinCenterfreq, 700, 3000, kMaxCenterfreq}) {
    auto rx = init(cf);
    for (int j = -kanaele; j <= kanaele; j++) {
      EXPECT_GE(rx->iqhistlen[j], 5) << cf << " " << j;
      EXPECT_GE(rx->Histre[j].size(), 2u * rx->iqhistlen[j]) << cf << " " << j;
      EXPECT_GE(rx->Histabs[j].size(), 2u * rx->histabslen[j]) << cf << " " << j;
      EXPECT_GE(rx->Histnlg1[j].size(), 2u * (2 * rx->nlg1weite[j] + 1)) << cf << " " << j;
      EXPECT_GE(rx->mixperiode[j], 2) << cf << " " << j;
    }
  }
}

TEST(Init, AllocationFailuresNameTheArrayAndChannel) {
  struct Case {
    int row;
    const char* message;
    int status;
  };
  // Rows in creation order: C, S, inframesmem (43 each), Histre/Histim
  // (interleaved, 86), Histabs, Histadapt, Histnlg1, marklist, textbuffer.
  const Case cases[] = {
      {0, "Allocation Error cos.-21\n", 1},   {43, "Allocation Error cos.-21\n", 1},
      {128, "Allocation Error cos.21\n", 1},  {129, "Allocation Error 1.-21\n", 1},
      {130, "Allocation Error 1.-21\n", 1},   {215, "Allocation Error 2.-21\n", 1},
      {258, "Allocation Error 3.-21\n", 1},   {301, "Allocation Error 4.-21\n", 1},
      {344, "Allocation Error cos.-21\n", 1}, {387, "Allocation Error 8\n", 8},
  };
  for (const auto& c : cases) {
    try {
      init(700, c.row);
      ADD_FAILURE() << "row " << c.row << " did not fail";
    } catch (const InitError& e) {
      EXPECT_STREQ(e.what(), c.message) << "row " << c.row;
      EXPECT_EQ(e.status, c.status) << "row " << c.row;
    }
  }
  EXPECT_NO_THROW(init(700, 430));  // past the last row
}

}  // namespace
}  // namespace talvo
