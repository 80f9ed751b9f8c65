// The channel plan and the starting state of a fresh receiver.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <new>
#include <numbers>

#include "rx/receiver.h"

// Running out of memory, made to happen: while `fail_allocation` is n > 0,
// the n-th allocation from then on fails (and the count stops).
namespace {
int fail_allocation = 0;
}  // namespace

// The replacements take their memory from malloc and give it back with
// free, a matching pair; the compiler, seeing free in a delete, cannot tell.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpragmas"
#pragma GCC diagnostic ignored "-Wunknown-warning-option"
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  if (fail_allocation > 0 && --fail_allocation == 0) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
#pragma GCC diagnostic pop

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
  // (interleaved, 86), Histabs, Histadapt, Histnlg1 (43 each); before them
  // the receiver itself.
  const Case cases[] = {
      {0, "Allocation Error cos.-21\n", 1},  {43, "Allocation Error cos.-21\n", 1},
      {128, "Allocation Error cos.21\n", 1}, {129, "Allocation Error 1.-21\n", 1},
      {130, "Allocation Error 1.-21\n", 1},  {215, "Allocation Error 2.-21\n", 1},
      {258, "Allocation Error 3.-21\n", 1},  {301, "Allocation Error 4.-21\n", 1},
      {343, "Allocation Error 4.21\n", 1},
  };
  for (const auto& c : cases) {
    try {
      fail_allocation = c.row + 2;  // the receiver is the first allocation
      init(700);
      fail_allocation = 0;
      ADD_FAILURE() << "row " << c.row << " did not fail";
    } catch (const InitError& e) {
      fail_allocation = 0;
      EXPECT_STREQ(e.what(), c.message) << "row " << c.row;
      EXPECT_EQ(e.status, c.status) << "row " << c.row;
    }
  }
  try {
    fail_allocation = 1;
    init(700);
    fail_allocation = 0;
    ADD_FAILURE() << "the receiver did not fail";
  } catch (const InitError& e) {
    fail_allocation = 0;
    EXPECT_STREQ(e.what(), "Allocation Error 7\n");
    EXPECT_EQ(e.status, 7);
  }
  fail_allocation = 346;  // past the last row (the 345th allocation)
  EXPECT_NO_THROW(init(700));
  fail_allocation = 0;
}

}  // namespace
}  // namespace talvo
