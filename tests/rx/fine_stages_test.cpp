// The fine front end's stages driven alone with generated data: each holds
// its own property without the others around it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "rx/fine.h"
#include "rx/fine/channel_power.h"
#include "rx/fine/channeliser.h"
#include "rx/fine/dot_length.h"
#include "rx/fine/group_floor.h"
#include "rx/fine/guards.h"
#include "rx/fine/key_decision.h"
#include "rx/fine/noise_floor.h"
#include "rx/fine/subtractor.h"
#include "rx/fine/tone_check.h"
#include "rx/fine/watch.h"
#include "support/fine_run.h"
#include "support/floor_rig.h"
#include "support/key_input.h"
#include "support/morse.h"
#include "support/render.h"

namespace talvo::fine {
namespace {

constexpr int kMaxWin = 41;  // ticks, the front end's longest coherent window

double db_of(double ratio) {
  return 10 * std::log10(ratio);
}

// --- noise floor ---------------------------------------------------------------

// Complex white noise of power `power` per tick (units^2) at the tick rate,
// through the channel filter, with a carrier `carrier_db` over the noise
// keyed on for `on` ticks and off for `off` (no carrier when on is 0). The
// noise floor learns from the key state as it stands in the filtered power.
// Returns the floor after `ticks` ticks over the truth, dB.
double floor_error_db(double power, int ticks, int on, int off, double carrier_db, uint32_t seed) {
  test::FloorRig rig;
  const ChannelDesign& d = rig.d;
  ChannelPower& chan = rig.chan;
  NoiseFloor& floor = rig.floor;
  const int g = rig.delay();
  std::mt19937 rng(seed);
  std::normal_distribution<double> gauss(0, std::sqrt(power / 2));
  const double amp = std::sqrt(power * std::pow(10.0, carrier_db / 10));
  auto keyed = [&](long long t) { return on > 0 && t >= 0 && t % (on + off) < on; };
  int run = 0;
  for (long long t = 0; t < ticks; t++) {
    const double c = keyed(t) ? amp : 0.0;
    chan.step(t, cfloat(static_cast<float>(c + gauss(rng)), static_cast<float>(gauss(rng))));
    // The key state of the filtered tick: the carrier g ticks earlier.
    const bool down = keyed(t - g);
    run = down ? run + 1 : 0;
    floor.step(t, down, run, false, chan);
  }
  // Through the channel filter (taps summing to 1) white noise keeps
  // sum(h^2) of its power: bn / tick rate.
  const double truth = power * d.bn / kTickRate;
  return db_of(floor.noise() / truth);
}

TEST(FineNoiseFloorTest, WithinHalfADbOfTheTruthAtThreeLevels) {
  for (double power : {1e-2, 1e2, 1e6}) {
    const double err = floor_error_db(power, 10 * kTickRate, 0, 1, 0, 3);
    EXPECT_LT(std::abs(err), 0.5) << "noise power " << power;
  }
}

TEST(FineNoiseFloorTest, NotLiftedByAHalfKeyedCarrier) {
  // Key down half the time (120 ms marks and gaps), 20 dB over the noise
  // per tick: only the gaps' middles teach the floor.
  for (uint32_t seed : {5u, 6u}) {
    const double err = floor_error_db(100, 20 * kTickRate, 60, 60, 20, seed);
    EXPECT_LT(std::abs(err), 0.5) << "seed " << seed;
  }
}

TEST(FineNoiseFloorTest, PercentileOfTheBlocksHeldThroughWrapsRepeatsAndForgetting) {
  // Ticks of noise whose level jumps by decades, runs of digital silence
  // (blocks of equal power), 6 s of blocks (twice round the ring) and a
  // forget(): after each block the floor is the 30th percentile, times the
  // calibration, of the blocks held, taken afresh from all of them, and
  // never under the rounding noise given raised by quiet_db.
  const NoiseFloorParams p{};
  const double lowest = 1e-12 * std::pow(10.0, p.quiet_db / 10);
  const ChannelDesign d = design_channel(ChannelParams{}, kMaxWin);
  ChannelPower chan;
  chan.make(ChannelParams{}, d);
  chan.reset();
  NoiseFloor floor;
  floor.make(p, 1e-12);
  floor.reset();
  std::mt19937 rng(11);
  std::normal_distribution<double> gauss(0, 1);
  std::vector<double> held;  // the blocks held, oldest first
  double acc = 0, expect = 0;
  int n = 0, pos = 0, estimates = 0;
  for (long long t = 0; t < 3 * p.blocks * p.block_ticks; t++) {
    const double scale = (t / 700) % 4 == 3 ? 0.0 : std::pow(10.0, (t / 900) % 3);
    chan.step(
        t, cfloat(static_cast<float>(scale * gauss(rng)), static_cast<float>(scale * gauss(rng))));
    if (t == 1905) {  // mid-block: the block being summed stays
      floor.forget();
      held.clear();
      pos = 0;
    }
    floor.step(t, false, 0, false, chan);
    const long long u = t - p.clean_ticks;
    if (u < p.settle_ticks) continue;
    acc += chan.raw(u);
    if (++n < p.block_ticks) continue;
    held.push_back(acc / p.block_ticks);
    acc = 0;
    n = 0;
    if (static_cast<int>(held.size()) > p.blocks) held.erase(held.begin());
    pos = (pos + 1) % p.blocks;
    const int nb = static_cast<int>(held.size());
    if (nb < p.min_blocks || pos % p.blocks_per_floor == 0) {
      std::vector<double> v = held;
      const int r = static_cast<int>(p.percentile * nb);
      std::nth_element(v.begin(), v.begin() + r, v.end());
      expect = std::max(v[r] * p.noise_cal, lowest);
      estimates++;
    }
    ASSERT_EQ(floor.noise(), expect) << "tick " << t << ", " << nb << " blocks";
  }
  EXPECT_EQ(floor.blocks(), p.blocks);
  EXPECT_GT(estimates, 2 * p.blocks / p.blocks_per_floor);
}

// --- dot length ----------------------------------------------------------------

// The marks of Morse text at `wpm` (ticks), each element's length jittered
// by 8 %, and a quarter of the dashes broken into two pieces by a dip.
std::vector<int> marks_of(const std::string& text, double wpm, uint32_t seed) {
  const double unit = 600 / wpm;  // ticks: 1.2 / wpm seconds at 500 ticks per second
  std::mt19937 rng(seed);
  std::normal_distribution<double> jitter(1, 0.08);
  std::uniform_real_distribution<double> u01(0, 1);
  std::vector<int> marks;
  for (char ch : text) {
    for (char e : test::morse_of(ch)) {
      const double len = (e == '-' ? 3 : 1) * unit * jitter(rng);
      if (e == '-' && u01(rng) < 0.25) {
        const double cut = len * (0.3 + 0.4 * u01(rng));  // the dip's place
        const double dip = 0.2 * unit;
        marks.push_back(static_cast<int>(std::lround(cut - dip / 2)));
        marks.push_back(static_cast<int>(std::lround(len - cut - dip / 2)));
      } else {
        marks.push_back(static_cast<int>(std::lround(len)));
      }
    }
  }
  return marks;
}

TEST(FineDotLengthTest, WithinFivePercentAt12To40WpmWithBrokenDashes) {
  const std::string text = "cq cq de dl1abc dl1abc pse k r ur 599 5nn tu 73 qrz de ok2xyz k";
  for (double wpm : {12.0, 25.0, 40.0}) {
    DotLength dot;
    dot.make(DotLengthParams{});
    dot.reset();
    EXPECT_EQ(dot.unit(), DotLengthParams{}.start_ticks);
    for (int m : marks_of(text, wpm, static_cast<uint32_t>(wpm)))
      dot.step(m);
    const double truth = 600 / wpm;
    EXPECT_NEAR(dot.unit(), truth, 0.05 * truth) << wpm << " WPM";
    EXPECT_EQ(dot.marks(), DotLengthParams{}.max_marks);
  }
}

// --- subtractor ----------------------------------------------------------------

// The peak power left in the neighbours of a strong soft-keyed station 50 Hz
// away (short average, over the station's key-down power), dB: the
// channeliser, the subtractor and the channel power alone, the station's
// cluster told its carrier power, its tone (on its centre) and its noise.
struct Leak {
  double below = 0, above = 0;  // dB, in the clusters 50 Hz below and above
};

Leak neighbour_leak(bool subtract) {
  const std::vector<double> centres = {450, 500, 550, 600, 650};
  const int k = static_cast<int>(centres.size());
  const int station = 2;
  const double amp = 8000, noise = 2;
  test::MorseSignal m;
  m.text = "cq cq de dl1abc dl1abc test 599 tu k qrz de dl1abc k";
  m.freq = centres[station];
  m.cpm = 125;
  m.amp = amp;
  m.start = 0.3;
  const test::Keyed key = test::morse(m);  // 5 ms raised-cosine edges
  const std::vector<float> audio = test::render({key.tone}, key.end + 0.3, noise, 9);

  const int spt = 96;
  Channeliser chan;
  chan.make(ChanneliserParams{}, 48000, spt, false, centres, 4096);
  chan.reset();
  const ChannelDesign d = design_channel(ChannelParams{}, kMaxWin);
  std::vector<double> mixing(k);
  for (int q = 0; q < k; q++)
    mixing[q] = chan.mixing(centres[q]);
  Subtractor sub;
  sub.make(SubtractorParams{}, d, centres, mixing, chan.cluster_taps(), subtract);
  sub.reset();
  std::vector<ChannelPower> power(k);
  for (auto& p : power) {
    p.make(ChannelParams{}, d);
    p.reset();
  }
  const double floor = noise * noise * d.bn / 48000;  // white noise in the channel, units^2
  std::vector<StationView> views(k);
  for (auto& v : views)
    v.floor = floor;
  views[station].carrier = (amp / 2) * (amp / 2);  // a real tone on the centre
  views[station].toned = true;
  views[station].ready = true;

  double peak[3] = {0, 0, 0};  // short average: below, station, above
  const int half = (ChannelParams{}.short_ticks - 1) / 2;
  long long t = 0;
  for (std::size_t b = 0; b < audio.size(); b += 4096) {
    const float* in = audio.data() + b;
    const int n = static_cast<int>(std::min<std::size_t>(4096, audio.size() - b));
    chan.begin(in, n);
    for (int i = 0; i < n; i++) {
      if (!chan.step(in, i)) continue;
      for (int q = 0; q < k; q++) {
        cfloat z, turn;
        chan.cluster(q, &z, &turn);
        sub.track(q, t, z, turn, floor);
      }
      sub.choose(views);
      const long long v = t - sub.sub_lag();
      if (v >= 0) {
        sub.predict(v);
        for (int q = 0; q < k; q++)
          power[q].step(v, sub.residue(q, v));
        // After a second, once the model stands.
        if (v - half > kTickRate)
          for (int j = 0; j < 3; j++)
            peak[j] = std::max(peak[j], power[station - 1 + j].shrt(v - half));
      }
      t++;
    }
  }
  return {db_of(peak[0] / peak[1]), db_of(peak[2] / peak[1])};
}

TEST(FineSubtractorTest, SoftKeyedNeighbourLeavesAtMostMinus45Db) {
  const Leak with = neighbour_leak(true);
  const Leak without = neighbour_leak(false);
  EXPECT_LE(with.below, -45);
  EXPECT_LE(with.above, -45);
  // What the subtraction takes away: the keying sidebands, well over that.
  EXPECT_GT(without.below, -40);
  EXPECT_GT(without.above, -40);
}

// --- guards --------------------------------------------------------------------

// Guards over clusters at `centres`, and each cluster's channel power,
// made and reset.
void make_guards(const std::vector<double>& centres, std::vector<ChannelPower>& power,
                 Guards& guards) {
  const ChannelDesign d = design_channel(ChannelParams{}, kMaxWin);
  power.resize(centres.size());
  for (auto& p : power) {
    p.make(ChannelParams{}, d);
    p.reset();
  }
  guards.make(GuardParams{}, centres);
  guards.reset();
}

// Clusters at 500, 550 and 700 Hz: the one at 500 Hz holds a steady tone
// `own_db` under the key-down power of a station keying on cluster `keyed`
// (its key going down at tick 300). Returns, per tick judged from 100 to
// 599, whether the 500 Hz cluster is clear, the keyed one's model being
// subtracted and settled (guard `sub_guard`) or not.
std::vector<bool> clear_ticks(int keyed, double own_db, bool settled = false,
                              double sub_guard = 1) {
  std::vector<ChannelPower> power;
  Guards guards;
  make_guards({500, 550, 700}, power, guards);
  const std::vector<char> settle = {0, static_cast<char>(settled), static_cast<char>(settled)};
  const std::vector<double> guard(3, sub_guard);
  const float amp = 1000, own = static_cast<float>(amp * std::pow(10.0, own_db / 20));
  const int lag = 20;  // ticks from the newest power to the tick judged
  std::vector<bool> clear;
  for (long long v = 0; v < 600 + lag; v++) {
    power[0].step(v, cfloat(own, 0));
    power[keyed].step(v, cfloat(v >= 300 ? amp : 0.0f, 0));
    power[3 - keyed].step(v, cfloat(0, 0));
    const long long at = v - lag;
    if (at < 100) continue;
    for (int q = 0; q < 3; q++)
      guards.swing(q, power[q], at);
    clear.push_back(guards.step(0, power[0].shrt(at), settle, guard).clear);
  }
  return clear;
}

int blanked(const std::vector<bool>& clear) {
  return static_cast<int>(std::count(clear.begin(), clear.end(), false));
}

TEST(FineGuardsTest, NeighboursKeyEdgeBlanksWithinItsReachOnly) {
  // 50 Hz away: blanked within -6 dB of the swing, around the edge only.
  // The edge stands in the power the channel filter's delay late.
  const int edge =
      300 - 100 + static_cast<int>(design_channel(ChannelParams{}, kMaxWin).taps.size() - 1) / 2;
  const std::vector<bool> under = clear_ticks(1, -10);
  EXPECT_GT(blanked(under), 20);
  EXPECT_LT(blanked(under), 80);
  EXPECT_TRUE(under[edge - 50]) << "well before the edge";
  EXPECT_FALSE(under[edge]) << "at the edge";
  EXPECT_TRUE(under[edge + 50]) << "under a steady key-down carrier 10 dB over";
  for (int t = 0; t < static_cast<int>(under.size()); t++)
    if (!under[t]) {
      EXPECT_LT(std::abs(t - edge), 40) << t;
    }
  EXPECT_EQ(blanked(clear_ticks(1, -3)), 0);
  // Further away the edge must stand 15 dB over.
  EXPECT_EQ(blanked(clear_ticks(2, -10)), 0);
  EXPECT_GT(blanked(clear_ticks(2, -20)), 20);
  // Beside a settled subtracted station the guard is the subtractor's.
  EXPECT_EQ(blanked(clear_ticks(1, -10, true, std::pow(10.0, -2.0))), 0);
  EXPECT_GT(blanked(clear_ticks(1, -25, true, std::pow(10.0, -2.0))), 20);
}

// Clusters at 500, 550 and 600 Hz: the one at 500 Hz holds a steady tone
// 10 dB under a station keyed on the 550 Hz cluster alone (its key going
// down at tick 300), each cluster's tone being tones[] (none: empty). The
// ticks judged from 100 to 599 the 500 Hz cluster is not clear.
int blanked_beside_view(std::vector<double> tones) {
  std::vector<ChannelPower> power;
  Guards guards;
  make_guards({500, 550, 600}, power, guards);
  const std::vector<char> settle(3, 0);
  const std::vector<double> guard(3, 1.0);
  const float amp = 1000, own = static_cast<float>(amp * std::pow(10.0, -10.0 / 20));
  const int lag = 20;
  int blanked = 0;
  for (long long v = 0; v < 600 + lag; v++) {
    power[0].step(v, cfloat(own, 0));
    power[1].step(v, cfloat(v >= 300 ? amp : 0.0f, 0));
    power[2].step(v, cfloat(0, 0));
    const long long at = v - lag;
    if (at < 100) continue;
    for (int q = 0; q < 3; q++)
      guards.swing(q, power[q], at);
    blanked += !guards.step(0, power[0].shrt(at), settle, guard, tones).clear;
  }
  return blanked;
}

TEST(FineGuardsTest, AClusterHearingTheNextOnesStationDoesNotGuardForIt) {
  // The 550 Hz cluster's own station (at 555 Hz), or none told: its key
  // edge blanks the cluster 50 Hz away, as any neighbour's.
  EXPECT_GT(blanked_beside_view({}), 20);
  EXPECT_GT(blanked_beside_view({500, 555, 600}), 20);
  // A station at 590 Hz, nearer 600: the 550 Hz cluster hears it weaker than
  // the 600 Hz one, which guards against it (100 Hz away, it must stand
  // 15 dB over; here that cluster is left silent).
  EXPECT_EQ(blanked_beside_view({500, 590, 600}), 0);
  // Unless the 600 Hz cluster keys on another tone: then the one at 590 Hz
  // is the 550 Hz cluster's own (speech and noise give tones anywhere).
  EXPECT_GT(blanked_beside_view({500, 590, 640}), 20);
}

// --- key decision --------------------------------------------------------------

// Drives a key decision over a statistic given per tick (noise nd = 1) and
// returns the key state of each tick as it leaves, hold_back_ticks late; a
// dip before a mark is bridged wherever one qualifies.
std::vector<double> decide(const std::vector<double>& pd, const std::vector<bool>& clear) {
  const long long n = static_cast<long long>(pd.size());
  return test::drive_key(n, [&](KeyDecision& key, long long at) {
    const KeyInput in = test::key_input(at < n ? pd[at] : 1.0, 20, at < n ? clear[at] : true);
    if (key.step(at, in).began) key.bridge(at, in);
  });
}

TEST(FineKeyDecisionTest, HysteresisHoldsAMarkThroughADip) {
  // A mark 20 dB over the noise sets the level (100): the start threshold
  // lies half way from the noise (50.5), the hold threshold 1.5 dB under it
  // (35.7). A dip to 42 inside the mark keeps it down; a gap to 3, within
  // 6 dB of the noise, splits it.
  auto with_dip = [](double dip) {
    std::vector<double> pd(400, 1.0);
    for (int t = 100; t < 180; t++)
      pd[t] = t >= 130 && t < 145 ? dip : 100;
    return decide(pd, std::vector<bool>(pd.size(), true));
  };
  const std::vector<double> held = with_dip(42);
  for (int t = 100; t < 180; t++)
    EXPECT_GT(held[t], 0) << t;
  EXPECT_EQ(held[99], 0);
  EXPECT_EQ(held[180], 0);
  // Key states carry the SNR: 100 * dB of (100 / 1 - 1).
  EXPECT_NEAR(held[120], 100 * db_of(99), 1e-9);
  const std::vector<double> split = with_dip(3);
  EXPECT_GT(split[120], 0);
  EXPECT_GT(split[160], 0);
  int up = 0;
  for (int t = 130; t < 145; t++)
    up += split[t] == 0;
  EXPECT_GT(up, 10);
}

// Key-up ticks among [from, to) of key states.
int up_ticks(const std::vector<double>& key, int from, int to) {
  int up = 0;
  for (int t = from; t < to; t++)
    up += key[t] == 0;
  return up;
}

TEST(FineKeyDecisionTest, ADipThatNeverFellToTheNoiseIsKeyedDown) {
  // A dash of `level` over the noise (nd = 1), dots of 20 ticks, whose
  // power dips to `dip` for `len` ticks from tick 140, a beat with a
  // voice's harmonic passing its tone: well under the hold threshold,
  // nowhere near the noise.
  auto dash = [](double level, double dip, int len) {
    std::vector<double> pd(500, 1.0);
    for (int t = 100; t < 240 + len; t++)
      pd[t] = t >= 140 && t < 140 + len ? dip : level;
    return decide(pd, std::vector<bool>(pd.size(), true));
  };
  // 20 dB over the noise, dipping 10 dB for 12 ticks: one mark. Without
  // the dip's ticks keyed it was two (a split dash read as two dots).
  const std::vector<double> one = dash(100, 10, 12);
  EXPECT_EQ(up_ticks(one, 100, 252), 0);
  EXPECT_EQ(one[99], 0);
  EXPECT_EQ(one[252], 0);
  // Dipping 14 dB (under the level the mark ended with less 13 dB): a gap.
  EXPECT_GT(up_ticks(dash(100, 4, 12), 140, 152), 8);
  // 17 dB over, dipping to 5.4 dB over the noise (11.5 dB under the
  // level): a gap, the noise between two elements; to 7 dB over: one mark.
  EXPECT_GT(up_ticks(dash(50, 3.5, 12), 140, 152), 8);
  EXPECT_EQ(up_ticks(dash(50, 5, 12), 100, 252), 0);
  // 40 dB over, dipping 11 dB: one mark.
  EXPECT_EQ(up_ticks(dash(10000, 800, 12), 100, 252), 0);
  // A station 12 dB over the noise is not judged so (its gaps' noise
  // stands too near its level).
  EXPECT_GT(up_ticks(dash(16, 4, 12), 140, 152), 8);
  // 16 ticks, 0.8 of a dot: the gap between two elements, however full.
  EXPECT_GT(up_ticks(dash(100, 10, 16), 140, 156), 12);
  // 6 ticks: the gap between a strong station's clicks, seen from beside
  // it (a harmonic's beat lasts longer).
  EXPECT_GT(up_ticks(dash(100, 10, 6), 140, 146), 4);
}

// A strong station (carrier 40 dB over the element noise) keys ten
// dot-long marks and falls quiet; 400 ticks (20 dots) later a station
// 20 dB weaker keys, its power heard (acquiring the cluster) at heard_p
// over the noise, or not heard at all (heard_p 0). The key states of the
// weak marks, and the marks the decision called another station's.
struct AfterStrong {
  std::vector<double> key;  // key state per tick, hold_back_ticks late
  std::vector<int> other;   // ticks at which a mark judged another station's ended
};

AfterStrong after_strong(double heard_p) {
  std::vector<double> pd(1400, 1.0);
  for (int i = 0; i < 10; i++)
    for (int t = 100 + 40 * i; t < 120 + 40 * i; t++)
      pd[t] = 10001;
  for (int i = 0; i < 8; i++)
    for (int t = 900 + 40 * i; t < 920 + 40 * i; t++)
      pd[t] = 101;
  AfterStrong r;
  const long long n = static_cast<long long>(pd.size());
  r.key = test::drive_key(n, [&](KeyDecision& key, long long at) {
    KeyInput in = test::key_input(at < n ? pd[at] : 1.0, 20);
    in.carrier = 10000;
    in.heard = heard_p > 0 && at < n && pd[at] > 50;
    in.heard_p = heard_p;
    if (key.step(at, in).other) r.other.push_back(static_cast<int>(at));
  });
  return r;
}

TEST(FineKeyDecisionTest, WeakStationKeysOnceTheStrongOneIsQuietAndItIsHeard) {
  // Heard 20 dB over the noise: every weak mark keys (after the first,
  // whose start the floor still held) and the first is another station's.
  const AfterStrong heard = after_strong(100);
  for (int i = 1; i < 8; i++)
    EXPECT_GE(test::keyed(heard.key, 900 + 40 * i, 920 + 40 * i), 18) << "weak mark " << i;
  EXPECT_EQ(test::keyed(heard.key, 480, 900), 0) << "the quiet between";
  ASSERT_FALSE(heard.other.empty());
  EXPECT_GT(heard.other[0], 900);
  EXPECT_LT(heard.other[0], 1000);
  // Not heard (power the acquisition does not take for a station, as the
  // noise after a strong station), or heard 30 dB under the carrier (a
  // codec's product of it): the floor 12 dB under the carrier holds.
  for (double h : {0.0, 10.0}) {
    const AfterStrong quiet = after_strong(h);
    EXPECT_EQ(test::keyed(quiet.key, 880, 1400), 0) << h;
    EXPECT_TRUE(quiet.other.empty()) << h;
  }
  // The strong marks themselves key whole either way.
  for (int i = 0; i < 10; i++)
    EXPECT_GE(test::keyed(heard.key, 100 + 40 * i, 120 + 40 * i), 19) << "strong mark " << i;
}

// A station fluttering 2 Hz, 15 dB deep (its amplitude 0.59 + 0.41 cos),
// 25 dB over the element noise at its peaks, keys "dash dash dot" at 22
// WPM (a dot of 27 ticks, a dot's gap after each dash, a character gap
// after each dot) for 11 s; its statistic is the noise plus the power of
// the amplitude averaged over 9 ticks. Near the troughs its marks fall
// some 100 dB/s: faster than the level decays at decay_db_per_s, so a
// mark a gap after the last may lie under the threshold it left. The
// marks keyed on fewer than half of their ticks.
int fluttering_marks_lost(const KeyDecisionParams& p) {
  constexpr int kUnit = 27, kTicks = 5600;
  std::vector<double> amp(kTicks, 0.0);
  std::vector<std::pair<int, int>> marks;
  for (int t = 100, i = 0; t + 3 * kUnit < kTicks - 100; i++) {
    const bool dot = i % 3 == 2;
    const int len = dot ? kUnit : 3 * kUnit;
    for (int u = t; u < t + len; u++)
      amp[u] = 0.59 + 0.41 * std::cos(2 * std::numbers::pi * 2.0 * (u - 100) / kTickRate);
    marks.emplace_back(t, t + len);
    t += len + (dot ? 3 : 1) * kUnit;
  }
  std::vector<double> pd(kTicks, 1.0);
  for (int u = 4; u < kTicks - 4; u++) {
    double a = 0;
    for (int j = -4; j <= 4; j++)
      a += amp[u + j] / 9;
    pd[u] = 1 + undb(25) * a * a;
  }
  const long long n = kTicks;
  const std::vector<double> key = test::drive_key(
      n,
      [&](KeyDecision& k, long long at) {
        k.step(at, test::key_input(at < n ? pd[at] : 1.0, kUnit));
      },
      p);
  int lost = 0;
  for (const auto& [from, to] : marks)
    lost += 2 * test::keyed(key, from, to) < to - from;
  return lost;
}

TEST(FineKeyDecisionTest, TheLevelFallsAsFastAsAFadingStationsMarks) {
  const KeyDecisionParams p;
  EXPECT_LE(fluttering_marks_lost(p), 2);
  // Decaying at decay_db_per_s alone, marks are lost in the troughs.
  KeyDecisionParams steady = p;
  steady.fall_margin = 0;
  EXPECT_GE(fluttering_marks_lost(steady), 4);
}

TEST(FineKeyDecisionTest, ShortMarkNowhereClearIsTakenBackWhole) {
  std::vector<double> pd(400, 1.0);
  for (int t = 100; t < 130; t++)
    pd[t] = 100;
  // A leak: no tick of it clear of the guards.
  std::vector<bool> clear(pd.size(), true);
  for (int t = 95; t < 135; t++)
    clear[t] = false;
  const std::vector<double> leak = decide(pd, clear);
  for (int t = 0; t < 400; t++)
    EXPECT_EQ(leak[t], 0) << t;
  // The same mark clear keys all its ticks.
  const std::vector<double> own = decide(pd, std::vector<bool>(pd.size(), true));
  for (int t = 100; t < 130; t++)
    EXPECT_GT(own[t], 0) << t;
  EXPECT_EQ(own[99], 0);
  EXPECT_EQ(own[130], 0);
}

// --- tone check ----------------------------------------------------------------

// A 30-tick mark (a dot at 20 WPM) through the channel filter, `snr_db` over
// complex white noise of power 1 a tick, its frequency `hz` off the
// cluster's tone at its start and `hz + sweep_hz` at its end; whether the
// tone check finds it off the tone (the tone: no offset). The mark is
// measured where the filter holds it, as the key decision keys it.
bool mark_off_tone(double hz, double sweep_hz, double snr_db, uint32_t seed) {
  test::FloorRig rig;
  std::mt19937 rng(seed);
  std::normal_distribution<double> gauss(0, std::sqrt(0.5));
  const double amp = std::sqrt(std::pow(10.0, snr_db / 10));
  const int start = 200, len = 30, g = rig.delay();
  double phase = 0, noise = 0;  // noise: the filtered power before the mark, summed
  for (long long t = 0; t < start + len + g + 10; t++) {
    const double frac = static_cast<double>(t - start) / len;
    const bool on = t >= start && t < start + len;
    phase += 2 * std::numbers::pi * (hz + sweep_hz * frac) / kTickRate;
    const std::complex<double> c = on ? std::polar(amp, phase) : 0.0;
    rig.chan.step(t, cfloat(static_cast<float>(c.real() + gauss(rng)),
                            static_cast<float>(c.imag() + gauss(rng))));
    if (t >= 100 && t < start) noise += std::norm(rig.chan.env(t));
  }
  return off_tone(ToneCheckParams{}, rig.chan, start + g + 2, start + g + len - 2, 1.0,
                  noise / (start - 100));
}

TEST(FineToneCheckTest, OnlyMarksOffTheToneOrSweepingAcrossItAreOff) {
  int on = 0, off = 0, swept = 0, weak = 0;
  for (uint32_t seed = 1; seed <= 20; seed++) {
    on += mark_off_tone(0, 0, 20, seed);
    off += mark_off_tone(10, 0, 20, seed);
    swept += mark_off_tone(-12, 24, 20, seed);  // through the tone half way
    weak += mark_off_tone(2, 0, 6, seed);       // the noise moves it more
  }
  EXPECT_EQ(on, 0);
  EXPECT_EQ(off, 20);
  EXPECT_EQ(swept, 20);
  EXPECT_LE(weak, 1);
}

// A mark off the tone is taken back only while the band's marks lately
// stood a third off their tones, and only on a cluster whose own did not.
TEST(FineToneCheckTest, TakenBackOnlyWhileAVoiceIsInTheBandOnASteadyCluster) {
  ToneCheck tone;
  tone.make(ToneCheckParams{});
  tone.reset();
  EXPECT_TRUE(tone.measures(6));
  EXPECT_TRUE(tone.measures(40));
  EXPECT_FALSE(tone.measures(5));
  EXPECT_FALSE(tone.measures(41));
  double steady = 0, voiced = 0;
  // A band where one mark in five stands off its tone: no voice.
  int taken = 0;
  for (int i = 0; i < 500; i++)
    taken += tone.judge(i % 5 == 0, steady);
  EXPECT_EQ(taken, 0);
  // A voice keys its own clusters, half their marks off the tone; the
  // steady cluster's rare mark off it is taken back, the voice's own
  // cluster keeps its marks. (The first cluster's own share stood at a
  // fifth: a fresh steady one.)
  steady = 0;
  for (int i = 0; i < 500; i++)
    tone.judge(i % 2 == 0, voiced);
  EXPECT_TRUE(tone.judge(true, steady));
  EXPECT_FALSE(tone.judge(false, steady));
  EXPECT_FALSE(tone.judge(true, voiced));
  // The voice gone: the band's share falls under a fifth again.
  for (int i = 0; i < 200; i++)
    tone.judge(false, voiced);
  EXPECT_FALSE(tone.judge(true, steady));
}

// --- channel power -------------------------------------------------------------

// The channel filter, summed by the cluster itself, gives liquid's firfilt
// values to the bit (the same products summed in the same order), through
// several turns of its history and of the power rings.
TEST(FineChannelPowerTest, ChannelFilterGivesLiquidsFirfiltValuesExactly) {
  const ChannelDesign d = design_channel(ChannelParams{}, kMaxWin);
  ChannelPower power;
  power.make(ChannelParams{}, d);
  power.reset();
  firfilt_crcf f = firfilt_crcf_create(const_cast<float*>(d.taps.data()), d.taps.size());
  std::mt19937 g(11);
  std::normal_distribution<float> n(0, 300);
  int differ = 0;
  for (long long v = 0; v < 3 * kRing; v++) {
    const cfloat z(n(g), n(g));
    cfloat y;
    firfilt_crcf_push(f, z);
    firfilt_crcf_execute(f, &y);
    const double p = power.step(v, z);
    differ += power.env(v) != y || p != std::norm(std::complex<double>(y.real(), y.imag()));
  }
  firfilt_crcf_destroy(f);
  EXPECT_EQ(differ, 0);
  EXPECT_GT(d.taps.size(), 20u);  // a filter of some length was compared
}

// A cluster asleep filters its envelope only every few ticks; woken, it is
// primed from the envelopes held, and its rings stand as those of a cluster
// that filtered every tick: the powers and envelopes to the bit, the
// averages to rounding, over the ticks the ring still holds and on.
TEST(FineChannelPowerTest, AWokenClusterIsPrimedAsIfItHadNeverSlept) {
  const ChannelDesign d = design_channel(ChannelParams{}, kMaxWin);
  ChannelPower awake, rested;
  awake.make(ChannelParams{}, d);
  rested.make(ChannelParams{}, d);
  awake.reset();
  rested.reset();
  std::mt19937 g(5);
  std::normal_distribution<float> n(0, 300);
  const long long wake = 3 * kRing + 17;
  const int len = static_cast<int>(d.taps.size());
  const long long first = wake - (kRing - len - 1);  // the oldest tick primed
  int held = 0, differ = 0, off = 0;
  auto compare = [&](long long from, long long to) {
    for (long long u = from; u <= to; u++) {
      differ += awake.raw(u) != rested.raw(u) || awake.env(u) != rested.env(u);
      off += std::abs(awake.shrt(u) - rested.shrt(u)) > 1e-9 * awake.shrt(u);
      off += std::abs(awake.lng(u) - rested.lng(u)) > 1e-9 * awake.lng(u);
    }
  };
  for (long long v = 0; v < wake + 2 * kRing; v++) {
    const cfloat z(n(g), n(g));
    awake.step(v, z);
    if (v > wake) {
      rested.step(v, z);
      continue;
    }
    rested.rest(v, z);
    held += rested.raw(v) != awake.raw(v);
    if (v < wake) continue;
    EXPECT_TRUE(rested.rested());
    rested.prime(v);
    EXPECT_FALSE(rested.rested());
    compare(first + ChannelParams{}.long_ticks, v - (ChannelParams{}.long_ticks - 1) / 2);
  }
  compare(wake + kRing, wake + 2 * kRing - ChannelParams{}.long_ticks);
  EXPECT_GT(held, wake / 2);  // asleep, most ticks held the power filtered before
  EXPECT_EQ(differ, 0);
  EXPECT_EQ(off, 0);
}

// --- watch ---------------------------------------------------------------------

// Power over the floor wakes a cluster; if it never got busy it sleeps
// probe_ticks after the last power over the floor, and once busy it lingers
// linger_ticks.
TEST(FineWatchTest, PowerAloneWakesForAProbeABusyClusterLingers) {
  const WatchParams p;
  ASSERT_LT(p.probe_ticks, p.linger_ticks);
  Watch w;
  w.make(p, 2);
  w.reset();
  EXPECT_FALSE(w.awake(0));
  const double n = 1, quiet = 1.5, loud = 10;  // units^2: floor, noise, a station
  for (int q = 0; q < 2; q++)
    w.step(q, loud, quiet, n, false);
  w.step(1, quiet, quiet, n, true);  // cluster 1 got busy
  int last0 = -1, last1 = -1;
  for (int t = 1; t <= p.linger_ticks + 5; t++) {
    w.step(0, quiet, quiet, n, false);
    w.step(1, quiet, quiet, n, false);
    if (w.awake(0)) last0 = t;
    if (w.awake(1)) last1 = t;
  }
  EXPECT_EQ(last0, p.probe_ticks - 1);
  EXPECT_EQ(last1, p.linger_ticks - 1);
  // A cluster asleep again wakes again, and its probe starts afresh.
  w.step(0, quiet, loud, n, false);
  EXPECT_TRUE(w.awake(0));
  for (int t = 1; t < p.probe_ticks; t++)
    w.step(0, quiet, quiet, n, false);
  EXPECT_TRUE(w.awake(0));
  w.step(0, quiet, quiet, n, false);
  EXPECT_FALSE(w.awake(0));
}

// --- the whole front end -------------------------------------------------------

// The I/Q path (complex taps in the band filter, negative centres) gives the
// same key states and levels whatever the blocks the input comes in.
TEST(FineRisenNoiseTest, ABandWideRiseCountsAStationsProductsDoNot) {
  // Ten clusters with floors of 1: all of them 20 dB over it for 40 ticks is
  // a risen noise (and the floors are forgotten once); one cluster 100 dB
  // over it with the rest 30 dB over it (70 dB under the station: its clicks
  // or a codec's noise on a noise-free recording) is none, nor is the rise
  // of one cluster alone. Within 60 dB of the station the rest count again.
  RisenNoise r;
  r.make(RisenNoiseParams{});
  const std::vector<double> floor(10, 1.0);
  const auto run = [&](const std::vector<double>& power, int ticks) {
    r.reset();
    int rose = 0, forget = 0;
    for (int t = 0; t < ticks; t++) {
      const RisenNoise::Result x = r.step(floor, power, power);
      rose += x.rose;
      forget += x.forget;
    }
    return std::pair{rose, forget};
  };
  EXPECT_EQ(run(std::vector<double>(10, 100.0), 60), (std::pair{21, 1}));
  EXPECT_EQ(run(std::vector<double>(10, 100.0), 39), (std::pair{0, 0}));
  std::vector<double> products(10, 1e3);
  products[4] = 1e10;
  EXPECT_EQ(run(products, 200).first, 0);
  std::vector<double> alone(10, 1.0);
  alone[4] = 1e10;
  EXPECT_EQ(run(alone, 200).first, 0);
  std::vector<double> within(10, 1e5);
  within[4] = 1e10;
  EXPECT_GT(run(within, 200).first, 0);
}

TEST(FineRisenNoiseTest, AGentleRiseOnNearlyEveryClusterOverAWhileCounts) {
  // Thirty clusters with floors of 1, their long averages 3 dB over them
  // (under the 10 dB of a sudden rise, which the short averages, at the
  // floor, never tell): all of them lifted on every tick tell a risen
  // noise once 100 ticks told it (the floors forgotten once); 28 of them
  // (93 %), all on two ticks in three and 26 on the third (a mean of
  // 96 %), all of them 1.5 dB over, or nineteen clusters (a narrow span)
  // do not; nor do all of them 30 dB over on every other tick (stations'
  // marks, over the cap). A burst restarts the while.
  RisenNoise r;
  r.make(RisenNoiseParams{});
  const auto run = [&](int k, int lifted, double over_db, int ticks, int burst_at = -1,
                       int every_third = -1, double odd_db = 0) {
    r.reset();
    const std::vector<double> floor(static_cast<std::size_t>(k), 1.0), power = floor;
    int rose = 0, forget = 0;
    for (int t = 0; t < ticks; t++) {
      const int n = every_third >= 0 && t % 3 == 2 ? every_third : lifted;
      std::vector<double> lng = floor;
      const double db = odd_db > 0 && t % 2 == 1 ? odd_db : over_db;
      for (int q = 0; q < n; q++)
        lng[static_cast<std::size_t>(q)] = std::pow(10.0, db / 10);
      const RisenNoise::Result x = r.step(floor, power, lng, t == burst_at);
      rose += x.rose;
      forget += x.forget;
    }
    return std::pair{rose, forget};
  };
  EXPECT_EQ(run(30, 30, 3, 150), (std::pair{51, 1}));
  EXPECT_EQ(run(30, 30, 3, 99).first, 0);
  EXPECT_EQ(run(30, 28, 3, 300).first, 0);
  EXPECT_EQ(run(30, 30, 3, 300, -1, 26).first, 0);
  EXPECT_EQ(run(30, 30, 1.5, 300).first, 0);
  EXPECT_EQ(run(19, 19, 3, 300).first, 0);
  EXPECT_EQ(run(30, 30, 3, 300, -1, -1, 30).first, 0);
  EXPECT_EQ(run(30, 30, 3, 150, 60).first, 0);
  EXPECT_EQ(run(30, 30, 3, 161, 60).first, 1);
}

TEST(FineChunkTest, IqKeyStatesAlikeWhateverTheBlocks) {
  const std::vector<test::KeyedTone> tones = test::random_tones(4, -900, 900, 2000, 6000, 4, 5);
  const std::vector<float> audio = test::render(tones, 4, 150, 8, {}, true);
  FinePlan plan;
  plan.iq = true;
  plan.centres_hz = test::grid(-1000, 1000);
  FineFrontEnd fe(plan);
  const test::FineRun big = test::run_fine(fe, audio, 4096, true);
  for (int block : {1000, 333}) {
    fe.reset();
    const test::FineRun other = test::run_fine(fe, audio, block, true);
    ASSERT_EQ(big.frame, other.frame) << block;
    for (int q = 0; q < fe.clusters(); q++) {
      EXPECT_EQ(big.key[q], other.key[q]) << block << " cluster " << q;
      EXPECT_EQ(big.level[q], other.level[q]) << block << " cluster " << q;
    }
  }
  // Something keyed: the check compares more than silence.
  double keyed = 0;
  for (const auto& k : big.key)
    keyed += std::count_if(k.begin(), k.end(), [](double v) { return v > 0; });
  EXPECT_GT(keyed, 500);
}

}  // namespace
}  // namespace talvo::fine
