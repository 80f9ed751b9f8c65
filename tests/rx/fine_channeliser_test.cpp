// The fine front end's decimators driven alone: the band filter of real
// audio gives liquid's firdecim values, and the cluster decimators summed
// four clusters at a time give each cluster the value of its own sum.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "rx/fine/band_decimator.h"
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

// The band decimator, fed blocks of any length (shorter than a group too),
// gives the values of liquid's firdecim_rrrf on the two filters to the bit,
// on the frame that completes each group: each output's window ends at the
// first frame of its group, and a reset fills the windows with silence
// again.
TEST(FineChanneliserTest, BandDecimatorGivesFirdecimsValuesOverAnyBlocks) {
  std::mt19937 g(11);
  std::normal_distribution<float> n(0, 3000);
  std::uniform_int_distribution<int> block(1, 700);
  for (const int len : {7, 64, 333})
    for (const int d : {3, 16}) {
      SCOPED_TRACE(testing::Message() << len << " taps, decimation " << d);
      std::vector<float> re(static_cast<std::size_t>(len)), im(re.size());
      for (std::size_t j = 0; j < re.size(); j++) {
        re[j] = n(g) / 3000;
        im[j] = n(g) / 3000;
      }
      BandDecimator dec;
      dec.make(re, im, d, 700);
      firdecim_rrrf lr = firdecim_rrrf_create(d, re.data(), re.size());
      firdecim_rrrf li = firdecim_rrrf_create(d, im.data(), im.size());
      std::vector<float> in(700), group(static_cast<std::size_t>(d));
      int outputs = 0, differ = 0, fill = 0;  // fill: frames of liquid's group
      for (int b = 0; b < 60; b++) {
        if (b == 30) {
          fill = 0;
          dec.reset();
          firdecim_rrrf_reset(lr);
          firdecim_rrrf_reset(li);
        }
        const int m = block(g);
        for (int i = 0; i < m; i++)
          in[static_cast<std::size_t>(i)] = n(g);
        dec.run(in.data(), m);
        for (int i = 0; i < m; i++) {
          group[static_cast<std::size_t>(fill)] = in[static_cast<std::size_t>(i)];
          cfloat z;
          const bool ready = dec.step(&z);
          if (++fill < d) {
            differ += ready;
            continue;
          }
          fill = 0;
          float yr = 0, yi = 0;
          firdecim_rrrf_execute(lr, group.data(), &yr);
          firdecim_rrrf_execute(li, group.data(), &yi);
          if (!ready) {
            differ++;
            continue;
          }
          const float zr = z.real(), zi = z.imag();
          differ += std::memcmp(&zr, &yr, sizeof yr) != 0 || std::memcmp(&zi, &yi, sizeof yi) != 0;
          outputs++;
        }
      }
      firdecim_rrrf_destroy(lr);
      firdecim_rrrf_destroy(li);
      EXPECT_EQ(differ, 0);
      EXPECT_GT(outputs, 60 * 300 / d);  // blocks average 350 frames
    }
}

}  // namespace
}  // namespace talvo::fine
