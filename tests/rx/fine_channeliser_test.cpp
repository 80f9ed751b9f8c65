// The fine front end's cluster decimators driven alone: summed four
// clusters at a time, each cluster's value is the one of its own sum.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "rx/fine/channeliser.h"
#include "rx/fine/filter_bank.h"

namespace talvo::fine {
namespace {

// The cluster decimators summed four at a time give each cluster's own sum
// to the bit, on audio (nine clusters: two quads and one lane of a third)
// and behind a filter bank (clusters over three of its channels, each with
// its own part-filled quad).
int lanes_differ(Channeliser& four, Channeliser& one, int k) {
  std::vector<cfloat> z(k), turn(k);
  four.clusters(z.data(), turn.data());
  int differ = 0;
  for (int q = 0; q < k; q++) {
    cfloat z1, t1;
    one.cluster(q, &z1, &t1);
    differ += z[q] != z1 || turn[q] != t1;
  }
  return differ;
}

TEST(FineChanneliserTest, FourLanesGiveEachClustersOwnSumExactly) {
  std::mt19937 g(5);
  std::normal_distribution<float> n(0, 3000);
  {
    const std::vector<double> centres = {500, 550, 600, 650, 700, 750, 800, 850, 900};
    const int k = static_cast<int>(centres.size());
    Channeliser four, one;
    for (Channeliser* c : {&four, &one}) {
      c->make(ChanneliserParams{}, 48000, 96, false, centres, 4096);
      c->reset();
    }
    std::vector<float> in(4096);
    int ticks = 0, differ = 0;
    for (int b = 0; b < 12; b++) {
      for (float& x : in)
        x = n(g);
      four.begin(in.data(), 4096);
      one.begin(in.data(), 4096);
      for (int i = 0; i < 4096; i++) {
        const bool a = four.step(in.data(), i), c = one.step(in.data(), i);
        ASSERT_EQ(a, c);
        if (!a) continue;
        ticks++;
        differ += lanes_differ(four, one, k);
      }
    }
    EXPECT_EQ(differ, 0);
    EXPECT_GT(ticks, 400);  // most of the 512 ticks of 12 blocks
  }
  {
    // 1 kHz channels: -1200 .. 1200 Hz lies over three of them.
    std::vector<double> centres;
    for (int hz = -1200; hz <= 1200; hz += 50)
      centres.push_back(hz);
    const int k = static_cast<int>(centres.size());
    FilterBank bank;
    bank.make(48000, 4096);
    bank.reset();
    Channeliser four, one;
    for (Channeliser* c : {&four, &one}) {
      c->make(ChanneliserParams{}, bank, 96, centres);
      c->reset();
    }
    std::vector<double> iq(2 * 4096);
    int ticks = 0, differ = 0;
    for (int b = 0; b < 12; b++) {
      for (double& x : iq)
        x = n(g);
      bank.run(iq.data(), 4096);
      int i1 = one.next_tick(0, 4096);
      for (int i = four.next_tick(0, 4096); i < 4096; i = four.next_tick(i + 1, 4096)) {
        ASSERT_EQ(i, i1);
        ticks++;
        differ += lanes_differ(four, one, k);
        i1 = one.next_tick(i1 + 1, 4096);
      }
      EXPECT_EQ(i1, 4096);
    }
    EXPECT_EQ(differ, 0);
    EXPECT_GT(ticks, 400);  // most of the 512 ticks of 12 blocks
  }
}

}  // namespace
}  // namespace talvo::fine
