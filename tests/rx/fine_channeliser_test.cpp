// The fine front end's decimators driven alone: the band filter of real
// audio gives liquid's firdecim values, the cluster decimators summed four
// clusters at a time give each cluster the value of its own sum, and a
// strong tone leaks onto no other cluster's centre.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
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

// A steady tone near full scale, on the clusters of the band holding it
// and of one 700-2000 Hz away: each cluster's envelope turned back by its
// mixer and averaged over a second is what stands on its centre. The
// mixers' phasors came from liquid's table, off by up to 0.005, and that
// error, repeating with the phase, put the tone on the centres of
// clusters 800 Hz away 63 dB under it (and 500-1100 Hz away in its own
// band, 60-66 dB under). The cluster decimation to the tick rate then
// folded what stands 500 Hz from a centre onto it, 71 dB under the tone
// with a window for 70 dB; the window shaped for a deeper stop band at
// the same length leaves 84 dB and more. What stays is the band
// decimation's fold of the tone's mirror image (the input is real) under
// the band filter's 70 dB, 74 dB and more under the tone: past a
// receiver's dynamic range.
double worst_leak_db(const std::vector<double>& centres, double hz, double* own_db) {
  const int k = static_cast<int>(centres.size());
  Channeliser ch;
  ch.make(ChanneliserParams{}, 48000, 96, false, centres, 4096);
  ch.reset();
  std::vector<float> in(4096);
  std::vector<cfloat> z(k), turn(k);
  std::vector<std::complex<double>> sum(k);
  const double amplitude = 20000;
  long long n = 0;
  int ticks = 0;
  for (int b = 0; b < 30; b++) {
    for (float& x : in)
      x = static_cast<float>(amplitude *
                             std::sin(2 * std::numbers::pi * hz * (n++ % 48000) / 48000));
    ch.begin(in.data(), 4096);
    for (int i = 0; i < 4096; i++) {
      if (!ch.step(in.data(), i)) continue;
      ch.clusters(z.data(), turn.data());
      // A second, after the filters have filled.
      if (++ticks <= 500 || ticks > 1000) continue;
      for (int q = 0; q < k; q++)
        sum[q] += std::complex<double>(z[q] * turn[q]);
    }
  }
  // A real tone's envelope on its own centre: amplitude / 2.
  const double ref = amplitude * amplitude / 4;
  double worst = -300;
  *own_db = -300;
  for (int q = 0; q < k; q++) {
    const double p = 10 * std::log10(std::norm(sum[q] / 500.0) / ref + 1e-30);
    if (std::fabs(centres[q] - hz) < 1)
      *own_db = p;
    else
      worst = std::max(worst, p);
  }
  return worst;
}

TEST(FineChanneliserTest, AStrongToneLeaksOntoNoOtherClustersCentre) {
  const auto span = [](int lo, int hi) {
    std::vector<double> c;
    for (int f = lo; f <= hi; f += 50)
      c.push_back(f);
    return c;
  };
  for (const auto& [lo, hi] : {std::pair{300, 1550}, std::pair{250, 1400}, std::pair{1400, 2700},
                               std::pair{1500, 2700}, std::pair{300, 3000}}) {
    double own = 0;
    const double worst = worst_leak_db(span(lo, hi), 700, &own);
    EXPECT_LT(worst, -72) << lo << "-" << hi << " Hz";
    if (lo <= 700 && hi >= 700) {
      EXPECT_NEAR(own, 0, 0.5) << lo << "-" << hi << " Hz";
    }
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
