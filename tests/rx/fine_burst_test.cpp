// The fine front end's handling of static crashes, stage by stage: a burst
// across the band is marked and weighed while a strong station's clicks are
// not, on the wide envelopes only once it lasts, a tick whose channel
// filter lost most of its taps to blanking is marked, a risen noise is not
// told by a burst, and a cluster holds its key state under one, an edge
// hidden by it put half way.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <span>
#include <vector>

#include "rx/fine/group_floor.h"
#include "rx/fine/impulses.h"
#include "rx/fine/key_decision.h"
#include "support/key_input.h"

namespace talvo::fine {
namespace {

// Powers over floors of 1 on `k` clusters for one tick of a burst `over`
// times the floor: white noise's spread, the exponential's quantiles
// (q + 0.5) / k, in cluster order.
std::vector<double> burst(int k, double over) {
  std::vector<double> p(k);
  for (int q = 0; q < k; q++)
    p[q] = 1 + over * -std::log(1 - (q + 0.5) / k);
  return p;
}

// Steps `imp` over ticks 0 .. ticks - 1, the burst on ticks from .. to
// (both included), noise at the floor elsewhere.
void run(Impulses& imp, int k, long long ticks, long long from, long long to,
         const std::vector<double>& on) {
  const std::vector<double> floor(k, 1.0), quiet(k, 1.0);
  imp.reset();
  for (long long t = 0; t < ticks; t++)
    imp.step(t, floor, t >= from && t <= to ? on : quiet);
}

TEST(FineImpulsesTest, ABandWideBurstIsMarkedAndWeighedAStationsClicksAreNot) {
  const ImpulseParams p;
  Impulses imp;
  imp.make(p, 40);
  // One tick 20 dB over the floors on 40 clusters: marked with 3 ticks
  // before and 6 after; its weight is the floor over the floor and the
  // burst (1 / 100) as the clusters' lower quartile tells it: the 11th
  // of 40 exponential quantiles, 1 + 99 * 0.3045 = 31.1, over white
  // noise's quartile 0.2877: 0.0092.
  run(imp, 40, 120, 100, 100, burst(40, 99));
  EXPECT_TRUE(imp.any());
  for (long long t = 97; t <= 106; t++)
    EXPECT_TRUE(imp.blank(t)) << t;
  EXPECT_FALSE(imp.blank(96));
  EXPECT_FALSE(imp.blank(107));
  EXPECT_EQ(imp.blanked(90, 119), 10);
  EXPECT_NEAR(imp.weight(100), 0.01, 0.001);
  EXPECT_EQ(imp.weight(99), 1.0);
  // The same with one cluster 25 dB over the quartile: a strong station,
  // whose hard key edges click across the band, is no burst.
  std::vector<double> clicks = burst(40, 99);
  clicks[8] = 1e4;
  run(imp, 40, 120, 100, 100, clicks);
  EXPECT_FALSE(imp.any());
  // A narrow span (19 clusters): a few stations keyed together lift it all.
  Impulses narrow;
  narrow.make(p, 19);
  run(narrow, 19, 120, 100, 100, burst(19, 99));
  EXPECT_FALSE(narrow.any());
  // A band risen for good is marked for max_ticks (125) ticks, then no longer.
  run(imp, 40, 400, 100, 399, burst(40, 99));
  EXPECT_TRUE(imp.blank(224));
  EXPECT_FALSE(imp.blank(226));
  EXPECT_FALSE(imp.blank(399));
}

// The burst test as the front end sets it on the wide envelopes: 12 dB
// over the floors for three ticks, marked 2 ticks before and 3 after.
ImpulseParams wide_params(bool weights) {
  ImpulseParams p;
  p.rise_db = 12;
  p.pad_before = 2;
  p.pad_after = 3;
  p.min_run = 3;
  p.weights = weights;
  return p;
}

// The test as the wide envelopes take it (before the channel filters): a
// burst marked only once it told one three ticks in a row, and then from
// its first tick; a station's wide envelope lifts most of a band for a
// tick or two where a few are keyed together.
TEST(FineImpulsesTest, AWideBurstIsMarkedOnceItLastsFromItsFirstTick) {
  ImpulseParams p = wide_params(true);
  Impulses imp;
  imp.make(p, 40);
  run(imp, 40, 120, 100, 101, burst(40, 99));  // two ticks: none marked
  EXPECT_FALSE(imp.any());
  run(imp, 40, 120, 100, 102, burst(40, 99));  // three: 98 .. 105
  for (long long t = 98; t <= 105; t++)
    EXPECT_TRUE(imp.blank(t)) << t;
  EXPECT_FALSE(imp.blank(97));
  EXPECT_FALSE(imp.blank(106));
  EXPECT_EQ(imp.blanked(90, 119), 8);
  // The three ticks again (their lower quartile 1 + 99 * 0.3045 = 31.1,
  // 14.9 dB over the floors) beside a station whose carrier stands 30 dB
  // over its floor: more than 14 dB under it, no burst; at 27 dB, one.
  const std::vector<double> floor(40, 1.0), on = burst(40, 99);
  for (const double over : {1000.0, 500.0}) {
    imp.reset();
    for (long long t = 0; t < 120; t++)
      imp.step(t, floor, t >= 100 && t <= 102 ? on : floor, 1, over);
    EXPECT_EQ(imp.any(), over < 781) << over;
  }
  // A burst 20 times the floors: three clusters in four stand 8.5 dB over
  // them (the 11th of 40: 1 + 20 * 0.3045 = 7.1), over the channel test's
  // 6 dB, under the wide test's 12.
  run(imp, 40, 120, 100, 110, burst(40, 20));
  EXPECT_FALSE(imp.any());
  Impulses channel;
  channel.make(ImpulseParams{}, 40);
  run(channel, 40, 120, 100, 110, burst(40, 20));
  EXPECT_TRUE(channel.blank(105));
}

// Two front ends on one band: the burst one told (three ticks from 100,
// marked 98 .. 105 with its pads) joined to the other, which heard none.
// What a test told itself is only what it marked on its newest tick: not
// the pad before the burst nor the run's first ticks (98 .. 101, marked once
// the run lasted three ticks), not what it joined.
TEST(FineImpulsesTest, ABurstToldOnOneGroupIsJoinedToAnother) {
  const ImpulseParams p = wide_params(true);
  Impulses told, quiet;
  told.make(p, 40);
  quiet.make(p, 40);
  run(told, 40, 120, 100, 102, burst(40, 99));
  run(quiet, 40, 120, 0, -1, burst(40, 99));
  EXPECT_FALSE(quiet.any());
  std::vector<unsigned char> marks(30);
  for (long long t = 90; t < 120; t++)
    marks[static_cast<std::size_t>(t - 90)] = told.told(t);
  for (long long t = 90; t < 120; t++)
    EXPECT_EQ(told.told(t), t >= 102 && t <= 105) << t;
  quiet.join(90, marks);
  EXPECT_TRUE(quiet.any());
  EXPECT_EQ(quiet.blanked(90, 119), 4);
  EXPECT_EQ(quiet.blanked(0, 102), 1);
  EXPECT_TRUE(quiet.blank(102) && quiet.blank(105) && !quiet.blank(101) && !quiet.blank(106));
  EXPECT_FALSE(quiet.told(102));  // joined, not told
  // A tick joined twice, or one it marked itself, counts once.
  quiet.join(90, marks);
  EXPECT_EQ(quiet.blanked(90, 119), 4);
  told.join(90, marks);
  EXPECT_EQ(told.blanked(90, 119), 8);
  // Ticks newer than the newest stepped (119) are left alone.
  const std::vector<unsigned char> late(5, 1);  // ticks 117 .. 121
  quiet.join(117, late);
  EXPECT_EQ(quiet.blanked(90, 119), 7);
  const std::vector<double> floor(40, 1.0);
  quiet.step(120, floor, floor);
  EXPECT_FALSE(quiet.blank(120));
  EXPECT_EQ(quiet.blanked(90, 120), 7);
}

// Noise's power over its mean on one tick: exponential, from a generator
// whose output is the same everywhere.
double exponential(std::mt19937& g) {
  return -std::log(1 - (g() + 0.5) / 4294967296.0);
}

// Stations keyed down at one instant (tick 100) lift every cluster's wide
// envelope 16 dB over its floor, each a steady line after a key edge of
// two ticks: no burst, though without the test for steady lines it is one.
// A crash as they key down (tick 102, 1000 times the floors, noise that
// swings from tick to tick and decays by a third a tick) is still marked.
TEST(FineImpulsesTest, StationsKeyedTogetherAreNoBurstACrashAsTheyKeyIs) {
  ImpulseParams p = wide_params(false);
  const int k = 40;
  const std::vector<double> floor(k, 1.0);
  const auto keyed = [&](long long t, std::mt19937& g, bool crash) {
    std::vector<double> power(k, 1.0);
    if (t >= 100) {
      // The key edge's power 1/4, 3/4 of the carrier, then the carrier with
      // a ripple of under 1 dB: each cluster's line.
      const double edge = t == 100 ? 0.25 : t == 101 ? 0.75 : 1.0;
      for (int q = 0; q < k; q++)
        power[q] = 1 + 40 * edge * (1 + 0.2 * (g() / 4294967296.0 - 0.5));
    }
    if (crash && t >= 102)
      for (int q = 0; q < k; q++)
        power[q] += 1000 * std::pow(2.0 / 3, t - 102) * exponential(g);
    return power;
  };
  for (const double steady_db : {0.0, 4.0}) {
    p.steady_db = steady_db;
    Impulses imp;
    imp.make(p, k);
    for (const bool crash : {false, true}) {
      std::mt19937 g(7);
      imp.reset();
      for (long long t = 0; t < 200; t++)
        imp.step(t, floor, keyed(t, g, crash));
      if (!crash) {
        EXPECT_EQ(imp.any(), steady_db == 0) << steady_db;
        continue;
      }
      for (long long t = 102; t <= 110; t++)
        EXPECT_TRUE(imp.blank(t)) << steady_db << " " << t;
    }
  }
}

// The wide test as the front end takes it: a crash over the tail of a
// long one before it (ticks 80-110, then 115-120 fifty times higher) rises
// afresh 8 dB over what its clusters held 5 ticks before, where they had
// to stand low 20 ticks before; a crash whose strongest cluster stands 35
// dB over its lower quartile (15 dB over the floors) is no station's
// clicks, though a carrier 40 dB over its floor still outweighs it.
TEST(FineImpulsesTest, AWideCrashOverAnothersTailOrSpreadWideIsMarked) {
  const ImpulseParams old = wide_params(false);
  ImpulseParams now = old;
  now.clicks_db = 12;
  now.onset_ticks = 5;
  now.fresh_db = 8;
  const int k = 40;
  const std::vector<double> floor(k, 1.0), quiet(k, 1.0), first = burst(k, 99),
                                                          second = burst(k, 5000);
  std::vector<double> spread = burst(k, 99);
  spread[8] = 1e5;
  for (const bool is_new : {false, true}) {
    Impulses imp;
    imp.make(is_new ? now : old, k);
    imp.reset();
    for (long long t = 0; t < 160; t++)
      imp.step(t, floor, t >= 80 && t <= 110 ? first : t >= 115 && t <= 120 ? second : quiet);
    EXPECT_TRUE(imp.blank(100)) << is_new;
    EXPECT_EQ(imp.blanked(114, 120), is_new ? 7 : 0) << is_new;  // from a tick before it
    for (const double over : {0.0, 1e4}) {
      imp.reset();
      for (long long t = 0; t < 160; t++)
        imp.step(t, floor, t >= 100 && t <= 105 ? spread : quiet, 1, over);
      EXPECT_EQ(imp.any(), is_new && over == 0) << is_new << " " << over;
    }
  }
}

// A tick whose channel filter took under least_left (0.85) of its taps
// from ticks not blanked before it is marked, padded as a burst; every
// such tick weighs no more than the part it took.
TEST(FineImpulsesTest, ATickLeftWithLittleOfItsTapsIsMarkedAndWeighed) {
  Impulses imp;
  imp.make(ImpulseParams{}, 40);
  const std::vector<double> floor(40, 1.0), quiet(40, 1.0);
  for (const double part : {0.5, 0.9}) {
    imp.reset();
    for (long long t = 0; t < 80; t++)
      imp.step(t, floor, quiet, t == 50 ? part : 1.0);
    EXPECT_EQ(imp.any(), part < 0.85) << part;
    EXPECT_EQ(imp.blanked(0, 79), part < 0.85 ? 10 : 0) << part;  // 47 .. 56
    EXPECT_DOUBLE_EQ(imp.weight(50), part);
    EXPECT_EQ(imp.weight(49), 1.0);
  }
}

TEST(FineRisenNoiseTest, ABurstTellsNoRisenNoise) {
  // Ten clusters 20 dB over their floors for 60 ticks: a risen noise, but
  // not while those ticks lie under a burst.
  RisenNoise r;
  r.make(RisenNoiseParams{});
  const std::vector<double> floor(10, 1.0), power(10, 100.0);
  for (const bool under : {false, true}) {
    r.reset();
    int rose = 0;
    for (int t = 0; t < 60; t++)
      rose += r.step(floor, power, power, under).rose;
    EXPECT_EQ(rose, under ? 0 : 21) << under;
  }
}

// A key decision over a statistic per tick (noise nd = 1), holding on the
// ticks from .. to - 1: the key state of each tick as it leaves, and the
// length of the marks it says teach the speed.
struct Held {
  std::vector<double> key;
  std::vector<int> taught;
};

Held decide_held(const std::vector<double>& pd, long long from, long long to) {
  Held r;
  const long long n = static_cast<long long>(pd.size());
  r.key = test::drive_key(n, [&](KeyDecision& key, long long at) {
    if (at >= from && at < to) {
      key.hold(at);
      return;
    }
    const int m = key.step(at, test::key_input(at < n ? pd[at] : 1.0, 30)).mark;
    if (m > 0) r.taught.push_back(m);
  });
  return r;
}

TEST(FineKeyDecisionTest, AHoldKeepsTheKeyStateAndPutsAHiddenEdgeHalfWay) {
  // Two marks of 90 ticks, 20 dB over the noise (ticks 100-189, 300-389).
  std::vector<double> pd(600, 1.0);
  for (int t = 100; t < 190; t++)
    pd[t] = pd[t + 200] = 100;
  // Without a hold both teach the speed, whole.
  EXPECT_EQ(decide_held(pd, 0, 0).taught, (std::vector<int>{90, 90}));
  // A hold over ticks 170-209 hides the first mark's end: it is put half
  // way (tick 190), and the mark teaches nothing; the second one still does.
  const Held end = decide_held(pd, 170, 210);
  EXPECT_EQ(test::keyed(end.key, 100, 190), 90);
  EXPECT_EQ(test::keyed(end.key, 190, 300), 0);
  EXPECT_EQ(end.taught, (std::vector<int>{90}));
  // A hold over ticks 280-319 hides the second one's start: put at 300.
  const Held start = decide_held(pd, 280, 320);
  EXPECT_EQ(test::keyed(start.key, 190, 300), 0);
  EXPECT_EQ(test::keyed(start.key, 300, 390), 90);
  // A hold inside a mark keeps it down at the value it had (100 * dB of 99).
  const Held inside = decide_held(pd, 120, 160);
  EXPECT_EQ(test::keyed(inside.key, 100, 190), 90);
  EXPECT_NEAR(inside.key[140], 100 * 10 * std::log10(99.0), 1e-9);
}

}  // namespace
}  // namespace talvo::fine
