// The band gate: marks that follow a much stronger cluster's edges are keyed
// up, everything else comes out as it went in, kDelayTicks later.
#include "rx/band_gate.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace talvo {
namespace {

// Random Morse-like keying from a seed: dots and dashes, gaps of one or
// three dots (dot in ticks; 30 ticks is 40 WPM at 500 ticks/s), after a lead.
std::vector<int> keying(int ticks, uint32_t seed, int kDot = 30, int lead = 60) {
  std::mt19937 g(seed);
  std::vector<int> k;
  k.assign(static_cast<std::size_t>(lead), 0);
  while (static_cast<int>(k.size()) < ticks) {
    const int mark = (g() % 2 ? 3 : 1) * kDot, gap = (g() % 3 ? 1 : 3) * kDot;
    k.insert(k.end(), static_cast<std::size_t>(mark), 1);
    k.insert(k.end(), static_cast<std::size_t>(gap), 0);
  }
  k.resize(static_cast<std::size_t>(ticks));
  return k;
}

struct Run {
  std::vector<std::vector<double>> out;  // per cluster, the gated states in tick order
};

// Pushes the clusters' key states (levels per cluster while keyed, tones
// per cluster) and then kDelayTicks of key up, and collects what comes out.
Run run(BandGate& g, const std::vector<std::vector<int>>& keys, const std::vector<double>& level,
        const std::vector<double>& tone) {
  const int n = g.clusters();
  const int ticks = static_cast<int>(keys[0].size());
  Run r;
  r.out.assign(static_cast<std::size_t>(n), {});
  std::vector<double> k(static_cast<std::size_t>(n)), l(static_cast<std::size_t>(n));
  for (int t = 0; t < ticks + BandGate::kDelayTicks; t++) {
    for (std::size_t q = 0; q < static_cast<std::size_t>(n); q++) {
      const bool down = t < ticks && keys[q][static_cast<std::size_t>(t)] != 0;
      k[q] = down ? 1.0 : 0.0;
      l[q] = down ? level[q] : 1.0;
    }
    const double* o = g.push(k.data(), l.data(), tone.data());
    if (t < BandGate::kDelayTicks) {
      for (int q = 0; q < n; q++)
        EXPECT_EQ(o[q], 0.0);
      continue;
    }
    for (std::size_t q = 0; q < static_cast<std::size_t>(n); q++)
      r.out[q].push_back(o[q]);
  }
  return r;
}

int marks(const std::vector<double>& s) {
  int m = 0;
  for (std::size_t i = 0; i < s.size(); i++)
    m += s[i] != 0 && (i == 0 || s[i - 1] == 0);
  return m;
}

std::vector<double> as_double(const std::vector<int>& k) {
  return {k.begin(), k.end()};
}

TEST(BandGate, ProductsOfAStrongStationGoAndTheStationStays) {
  // Cluster 0: a station 40 dB over cluster 2, which keys its products a
  // tick or two late and early; cluster 1: an independent station as strong
  // as the products, keyed on its own.
  const int ticks = 20000;
  const auto station = keying(ticks, 1), other = keying(ticks, 2, 37, 71);
  std::vector<int> product(station.size(), 0);
  for (std::size_t t = 2; t + 1 < station.size(); t++)
    product[t] = station[t - 2] && station[t + 1];
  BandGate g(3);
  for (int q = 0; q < 3; q++)
    g.set_centre(q, 700 + 300 * q);
  const auto r = run(g, {station, other, product}, {1e4, 1.0, 1.0}, {700, 1000, 1300});
  EXPECT_EQ(r.out[0], as_double(station));
  EXPECT_EQ(r.out[1], as_double(other));
  EXPECT_GT(marks(as_double(product)), 150);
  EXPECT_EQ(marks(r.out[2]), 0);
  EXPECT_GT(g.share(2), 0.9);
  EXPECT_LT(g.share(1), BandGate::kDropExplained);
}

TEST(BandGate, AStationHeardAlikeOnTwoClustersKeepsItsMarksOnOne) {
  // One station seen on two neighbouring clusters (700 and 750 Hz) alike,
  // as one between their centres is: neither is the other's product, but
  // its text belongs on one of them. The view 1 dB louder keeps it; at
  // like levels the cluster whose centre lies 3 Hz nearer the tone. Half
  // way (their tones, still being learnt, pulled towards each centre
  // alike) both keep it: the first to retune onto it soon stands louder.
  const int ticks = 6000;
  const auto station = keying(ticks, 3);
  struct Case {
    double level0, level1;  // the two views' levels
    double tone;            // Hz, as both measure it
    int keeps;              // the cluster that keeps the marks (-1: both)
  };
  for (const Case& c : {Case{1.6, 1.0, 725, 0}, Case{1.0, 1.6, 725, 1}, Case{1.0, 1.1, 722, 0},
                        Case{1.1, 1.0, 729, 1}, Case{1.0, 1.0, 724, -1}, Case{1.0, 1.0, 726, -1}}) {
    SCOPED_TRACE(testing::Message() << c.level0 << "/" << c.level1 << " at " << c.tone);
    BandGate g(2);
    g.set_centre(0, 700);
    g.set_centre(1, 750);
    const auto r = run(g, {station, station}, {c.level0, c.level1}, {c.tone, c.tone});
    for (int q = 0; q < 2; q++) {
      if (c.keeps < 0 || q == c.keeps)
        EXPECT_EQ(r.out[static_cast<std::size_t>(q)], as_double(station)) << q;
      else
        EXPECT_EQ(marks(r.out[static_cast<std::size_t>(q)]), 0) << q;
    }
  }
}

TEST(BandGate, TwoStationsOnNearTonesKeepTheirMarks) {
  // Two stations 12 Hz apart, one on each of two neighbouring clusters, as
  // strong as each other and keyed on their own: their marks overlap only
  // by chance, and each keeps nearly all of them.
  const int ticks = 20000;
  const auto a = keying(ticks, 7), b = keying(ticks, 8, 37, 71);
  BandGate g(2);
  g.set_centre(0, 700);
  g.set_centre(1, 750);
  const auto r = run(g, {a, b}, {1.0, 1.0}, {718, 730});
  EXPECT_EQ(r.out[0], as_double(a));
  EXPECT_EQ(r.out[1], as_double(b));
}

TEST(BandGate, AWeakerViewOfAStationOnTheSameToneGoes) {
  // A station 20 Hz from one centre and 30 Hz from the next: the far
  // cluster, 6 dB weaker down its filter's skirt, keys fragments inside
  // the station's marks (its filter ringing at the edges). They go; the
  // station stays.
  const int ticks = 6000;
  const auto station = keying(ticks, 3);
  std::vector<int> fragments(station.size(), 0);
  for (std::size_t t = 0; t < station.size(); t++) {
    // Each mark without its first and last three ticks, cut for ten ticks
    // in every 50.
    const bool inner = t >= 3 && t + 3 < station.size() && station[t - 3] && station[t + 3];
    fragments[t] = inner && t % 50 >= 10 ? 1 : 0;
  }
  ASSERT_GT(marks(as_double(fragments)), marks(as_double(station)));
  BandGate g(2);
  g.set_centre(0, 700);
  g.set_centre(1, 650);
  const auto r = run(g, {station, fragments}, {4.0, 1.0}, {680, 682});
  EXPECT_EQ(r.out[0], as_double(station));
  EXPECT_EQ(marks(r.out[1]), 0);
}

TEST(BandGate, TheReferenceExplainsOnlyWhatItStandsWellOver) {
  // The whole band's power keyed by a station outside the clusters: its
  // products on a cluster go, a station on a cluster as strong as it stays.
  const int ticks = 8000;
  const auto far = keying(ticks, 4);
  BandGate weak(2), strong(2);
  for (BandGate* g : {&weak, &strong}) {
    g->set_centre(0, 2100);
    g->set_centre(1, -1e9);
    g->set_reference(1);
  }
  const auto a = run(weak, {far, far}, {1.0, 1e5}, {2100, -1e9});
  EXPECT_EQ(marks(a.out[0]), 0);
  const auto b = run(strong, {far, far}, {1e5, 2e5}, {2100, -1e9});
  EXPECT_EQ(b.out[0], as_double(far));
}

// A short mark from 10 ticks before each rise of `key` to 4 after.
std::vector<int> about_rises(const std::vector<int>& key) {
  std::vector<int> clicks(key.size(), 0);
  for (std::size_t t = 1; t < key.size(); t++)
    if (key[t] && !key[t - 1])
      for (std::size_t u = t >= 10 ? t - 10 : 0; u < t + 4; u++)
        clicks[u] = 1;
  return clicks;
}

TEST(BandGate, TheReferenceExplainsClicksAboutItsRisesOnlyFarUnderIt) {
  // A clean recording's codec noise on a group of clusters without its
  // station: a short mark from 10 ticks before each rise of the band's
  // keyed power to 4 after. Far under the station (60 dB) it goes, though
  // a cluster of the group keys the station too; 40 dB under such a
  // station, as a weak station's dots would stand now and then at a strong
  // one's rises, it stays.
  const int ticks = 8000;
  const auto far = keying(ticks, 4);
  const auto clicks = about_rises(far);
  ASSERT_GT(marks(as_double(clicks)), 60);
  for (const double over : {1e6, 1e4}) {
    BandGate g(3);
    g.set_centre(0, 1400);
    g.set_centre(1, 400);
    g.set_centre(2, -1e9);
    g.set_reference(2);
    const auto r = run(g, {clicks, far, far}, {1.0, over, over}, {1400, 400, -1e9});
    if (over > 1e5) {
      EXPECT_EQ(marks(r.out[0]), 0);
    } else {
      EXPECT_EQ(r.out[0], as_double(clicks));
    }
  }
}

TEST(BandGate, ClicksOfASignalNoClusterKeysGoNearerTheReference) {
  // A station just outside the clusters, seen only by the reference: its
  // keying sidebands on the outermost cluster (here from 10 ticks before
  // each rise to 4 after) stand some 30 dB under the band's power, and go.
  // The same 30 dB under a station that a cluster of the group keys (a
  // weak station's dots at a strong one's rises) stay.
  const int ticks = 8000;
  const auto far = keying(ticks, 4);
  const auto clicks = about_rises(far);
  const std::vector<int> silent(far.size(), 0);
  for (const bool keyed : {false, true}) {
    BandGate g(3);
    g.set_centre(0, 2700);
    g.set_centre(1, 1200);
    g.set_centre(2, -1e9);
    g.set_reference(2);
    const auto r = run(g, {clicks, keyed ? far : silent, far}, {1.0, 1e3, 1e3}, {2700, 1200, -1e9});
    if (keyed) {
      EXPECT_EQ(r.out[0], as_double(clicks));
    } else {
      EXPECT_EQ(marks(r.out[0]), 0);
    }
  }
}

TEST(BandGate, OnlyTheClustersAtTheEdgeLoseClicksNearTheReference) {
  // A station 50 Hz beyond the outermost cluster: that cluster's filter
  // skirt and the next one's keep its keying sidebands some 15 dB under
  // the band's power, and they go. The same clicks on a cluster 100 Hz or
  // more inside the outermost centres (a weak station's dots at a strong
  // outside one's rises) stay.
  const int ticks = 8000;
  const auto far = keying(ticks, 4);
  const auto clicks = about_rises(far);
  const std::vector<int> silent(far.size(), 0);
  const std::vector<double> centre = {2700, 2650, 2600, 1200, 300, -1e9};
  const int n = static_cast<int>(centre.size());
  for (const int on : {0, 1, 2, 3}) {
    BandGate g(n);
    for (int q = 0; q < n; q++)
      g.set_centre(q, centre[static_cast<std::size_t>(q)]);
    g.set_reference(n - 1);
    std::vector<std::vector<int>> keys(static_cast<std::size_t>(n), silent);
    keys.back() = far;
    keys[static_cast<std::size_t>(on)] = clicks;
    std::vector<double> level(static_cast<std::size_t>(n), 1.0);
    level.back() = 50;
    const auto r = run(g, keys, level, centre);
    if (on < 2) {
      EXPECT_EQ(marks(r.out[static_cast<std::size_t>(on)]), 0)
          << centre[static_cast<std::size_t>(on)];
    } else {
      EXPECT_EQ(r.out[static_cast<std::size_t>(on)], as_double(clicks))
          << centre[static_cast<std::size_t>(on)];
    }
  }
}

TEST(BandGate, StationsKeyingTogetherHoldTheBandsEdges) {
  // Eight stations keyed in step (computer keying at one speed), the edge
  // cluster's among them, each 17 dB under the band's power that sums
  // them: none alone keys the band's edges within 10 dB of it, but
  // together they do, and the edge cluster's marks stay.
  const int ticks = 8000;
  const auto far = keying(ticks, 4);
  const auto marks_of = about_rises(far);
  const int n = 9;
  BandGate g(n);
  std::vector<double> centre, level;
  for (int q = 0; q < n - 1; q++) {
    centre.push_back(2700 - 50 * q);
    level.push_back(1.0);
  }
  centre.push_back(-1e9);
  level.push_back(50);
  for (int q = 0; q < n; q++)
    g.set_centre(q, centre[static_cast<std::size_t>(q)]);
  g.set_reference(n - 1);
  std::vector<std::vector<int>> keys(static_cast<std::size_t>(n), marks_of);
  keys.back() = far;
  const auto r = run(g, keys, level, centre);
  EXPECT_EQ(r.out[0], as_double(marks_of));
}

TEST(BandGate, TheReferenceHidesWhatLiesBeyondTheDynamicRangeWithinItsMarks) {
  // Products of a station 80 dB over them keyed two dots where the band's
  // power keyed one mark over both (their gap too short for it): neither
  // dot's edges meet both of the reference's, yet both go. 60 dB under it
  // (a weak station inside a receiver's dynamic range) they stay.
  std::vector<int> dots, band;
  for (int i = 0; i < 60; i++) {
    for (int t = 0; t < 180; t++) {
      dots.push_back(t < 30 || (t >= 60 && t < 90) ? 1 : 0);
      band.push_back(t < 90 ? 1 : 0);
    }
  }
  for (const double over : {1e8, 1e6}) {
    BandGate g(2);
    g.set_centre(0, 800);
    g.set_centre(1, -1e9);
    g.set_reference(1);
    const auto r = run(g, {dots, band}, {1.0, over}, {800, -1e9});
    if (over > 1e7) {
      EXPECT_EQ(marks(r.out[0]), 0);
    } else {
      EXPECT_EQ(r.out[0], as_double(dots));
    }
  }
}

TEST(BandGate, TwoStationsOfOneSpeedInStepKeepTheirMarks) {
  // Two stations as strong as each other, of one speed, their elements on
  // one grid of ticks (computer keying, started in step): their marks often
  // coincide, and some fill each other's gaps, but neither is the other's
  // product.
  const int ticks = 20000;
  const auto a = keying(ticks, 5), b = keying(ticks, 6);
  BandGate g(2);
  g.set_centre(0, 700);
  g.set_centre(1, 900);
  const auto r = run(g, {a, b}, {1.0, 1.0}, {700, 900});
  EXPECT_EQ(r.out[0], as_double(a));
  EXPECT_EQ(r.out[1], as_double(b));
}

TEST(BandGate, AWeakStationAmongManyStrongOnesOfItsSpeedKeepsItsMarks) {
  // A busy band: ten stations 15 dB over a weak one, all keyed by computer
  // at its speed (one dot length) but started at other moments, far enough
  // from it that their keying sidebands do not reach it. Those whose
  // elements fall within a few ticks of the weak station's grid have a mark
  // over the same ticks as one of its marks now and then by chance, and
  // with ten of them that is often; a product follows one source mark
  // after mark. A cluster keying the products of one of them 20 dB under it
  // still goes.
  const int ticks = 20000;
  const int n = 12;
  std::vector<std::vector<int>> keys;
  std::vector<double> level, tone;
  keys.push_back(keying(ticks, 100));
  level.push_back(1.0);
  tone.push_back(1300);
  for (int k = 1; k <= 10; k++) {
    keys.push_back(keying(ticks, 100 + static_cast<uint32_t>(k), 30, 60 + 7 * k));
    level.push_back(30.0);
    tone.push_back(k <= 5 ? 300 + 100 * (k - 1) : 1600 + 100 * (k - 6));
  }
  std::vector<int> product(static_cast<std::size_t>(ticks), 0);
  for (std::size_t t = 1; t + 1 < product.size(); t++)
    product[t] = keys[1][t - 1] && keys[1][t + 1];
  keys.push_back(product);
  level.push_back(0.3);
  tone.push_back(2700);
  BandGate g(n);
  for (int q = 0; q < n; q++)
    g.set_centre(q, tone[static_cast<std::size_t>(q)]);
  const auto r = run(g, keys, level, tone);
  const int sent = marks(as_double(keys[0]));
  EXPECT_GT(sent, 150);
  EXPECT_GE(marks(r.out[0]), sent * 9 / 10);
  for (std::size_t q = 1; q <= 10; q++)
    EXPECT_GE(marks(r.out[q]), marks(as_double(keys[q])) * 97 / 100) << q;
  EXPECT_GT(marks(as_double(product)), 150);
  EXPECT_LE(marks(r.out[11]), 3);
}

// Marks of 15 ticks starting 2 ticks after each rise of `strong`, as a
// click of it would be.
std::vector<int> keyed_after_rises(const std::vector<int>& strong) {
  std::vector<int> after(strong.size(), 0);
  for (std::size_t t = 1; t < strong.size(); t++)
    if (strong[t] && !strong[t - 1])
      for (std::size_t j = t + 2; j < std::min(strong.size(), t + 17); j++)
        after[j] = 1;
  return after;
}

TEST(BandGate, ClicksComeOnlyFromStationsNearEnoughForTheirLevel) {
  // A strong station (cluster 0, 20 dB over the others) and two weaker
  // ones keyed just after each of its rises, as a click would be: one 80 Hz
  // away, where its keying sidebands reach, goes; one 800 Hz away, where
  // they would have to stand 30 dB over it, is an independent station in a
  // busy band and stays.
  const auto strong = keying(20000, 9);
  const auto after = keyed_after_rises(strong);
  BandGate g(3);
  g.set_centre(0, 500);
  g.set_centre(1, 580);
  g.set_centre(2, 1300);
  const auto r = run(g, {strong, after, after}, {100.0, 1.0, 1.0}, {500, 580, 1300});
  EXPECT_EQ(r.out[0], as_double(strong));
  EXPECT_GT(marks(as_double(after)), 100);
  EXPECT_LT(marks(r.out[1]), 5);
  EXPECT_EQ(r.out[2], as_double(after));
}

TEST(BandGate, MarksBesideAStationWhoseClicksAreTakenOutStay) {
  // A strong station whose key clicks the front end takes out of the
  // clusters 30-75 Hz off its tone (its model subtracted and fitting), and
  // weaker clusters keyed just after each of its rises. 70 Hz away such
  // marks are a weak station's own where the station stands 20 dB over
  // them, and stay; 100 Hz away, beyond that reach, they are its clicks and
  // go; and 40 dB under it, what the subtraction leaves of its clicks, they
  // go at 70 Hz as well.
  const auto strong = keying(20000, 9);
  const auto after = keyed_after_rises(strong);
  ASSERT_GT(marks(as_double(after)), 100);
  for (const double over : {100.0, 10000.0}) {
    BandGate g(3);
    g.set_centre(0, 500);
    g.set_centre(1, 570);
    g.set_centre(2, 600);
    g.set_taken_out_reach(30, 75);
    g.set_taken_out(0, true);
    const auto r = run(g, {strong, after, after}, {over, 1.0, 1.0}, {500, 570, 600});
    EXPECT_EQ(r.out[0], as_double(strong));
    if (over < 1000)
      EXPECT_EQ(r.out[1], as_double(after));
    else
      EXPECT_LT(marks(r.out[1]), 5);
    EXPECT_LT(marks(r.out[2]), 5) << over;
  }
  // Not taken out, the same marks 70 Hz away go.
  BandGate g(2);
  g.set_centre(0, 500);
  g.set_centre(1, 570);
  const auto r = run(g, {strong, after}, {100.0, 1.0}, {500, 570});
  EXPECT_LT(marks(r.out[1]), 5);
}

TEST(BandGate, TheTwoTonesOfFskGo) {
  // FSK: 11-tick bits (45.45 Bd at 500 ticks/s), each tone keyed while the
  // other is not, their edges a tick or two apart; a Morse station beside
  // them passes.
  const int ticks = 20000;
  std::mt19937 rng(7);
  std::vector<int> mark(static_cast<std::size_t>(ticks), 0), space(mark.size(), 0);
  for (int t = 0; t < ticks; t += 11) {
    const int bit = static_cast<int>(rng() % 2);
    for (int k = t; k < std::min(ticks, t + 11); k++) {
      mark[static_cast<std::size_t>(k)] = bit;
      // The space tone's edges lag a tick.
      if (k + 1 < ticks) space[static_cast<std::size_t>(k + 1)] = 1 - bit;
    }
  }
  const auto morse = keying(ticks, 8, 37, 71);
  BandGate g(3);
  g.set_centre(0, 700);
  g.set_centre(1, 850);
  g.set_centre(2, 1000);
  const auto r = run(g, {morse, space, mark}, {1.0, 1.0, 1.0}, {700, 830, 1000});
  EXPECT_EQ(r.out[0], as_double(morse));
  // Only the first few marks pass, before the tones are seen taking turns.
  EXPECT_GT(marks(as_double(mark)), 300);
  EXPECT_LT(marks(r.out[1]), 5);
  EXPECT_LT(marks(r.out[2]), 5);
}

}  // namespace
}  // namespace talvo
