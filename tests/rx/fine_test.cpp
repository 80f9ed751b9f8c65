// The fine front end against generated signals whose keying is known.
#include "rx/fine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>
#include <vector>

#include "support/fine_run.h"
#include "support/morse.h"
#include "support/render.h"

namespace talvo {
namespace {

using test::KeyedTone;
using test::render;

using test::grid;
using test::mean_from;

const std::vector<double> kNine = grid(500, 900);

using Out = test::FineRun;

Out process(FineFrontEnd& fe, const std::vector<float>& audio, int block = 4096, bool iq = false) {
  return test::run_fine(fe, audio, block, iq);
}

Out process(const std::vector<double>& centres, const std::vector<float>& audio, bool iq = false) {
  return test::run_fine(centres, audio, iq);
}

int delay_of(const std::vector<double>& centres) {
  FinePlan plan;
  plan.centres_hz = centres;
  return static_cast<int>(std::lround(FineFrontEnd(plan).delay_ticks()));
}

test::Keyed station(double wpm, double freq, double amp, double start, uint32_t seed,
                    const char* text = "cq cq de dl1abc dl1abc test 599 5nn tu k") {
  test::MorseSignal m;
  m.text = text;
  m.freq = freq;
  m.cpm = 5 * wpm;
  m.amp = amp;
  m.start = start;
  test::Keyed k = test::morse(m);
  k.tone.phase = 0.7 * seed;
  return k;
}

// Fraction of ticks from `from` on whose key state (delayed by lag) is the truth.
double agreement(const std::vector<double>& key, const std::vector<uint8_t>& truth, int lag,
                 int from) {
  int good = 0, all = 0;
  for (int t = from; t + lag < static_cast<int>(key.size()) && t < static_cast<int>(truth.size());
       t++) {
    good += (key[t + lag] > 0) == (truth[t] != 0);
    all++;
  }
  return all ? static_cast<double>(good) / all : 0;
}

// The longest run of key-down ticks from `from` on.
int longest_run(const std::vector<double>& key, int from = 0) {
  int best = 0, len = 0;
  for (std::size_t t = from; t < key.size(); t++) {
    len = key[t] > 0 ? len + 1 : 0;
    best = std::max(best, len);
  }
  return best;
}

// --- plan and ticks ----------------------------------------------------------

TEST(FinePlanTest, RefusesPlansItCannotServe) {
  FinePlan p;
  EXPECT_NE(FineFrontEnd::check(p), "");  // no clusters
  p.centres_hz = {700, 650};
  EXPECT_NE(FineFrontEnd::check(p), "");  // descending
  p.centres_hz = {700, 710};
  EXPECT_NE(FineFrontEnd::check(p), "");  // too close
  p.centres_hz = {-100, 700};
  EXPECT_NE(FineFrontEnd::check(p), "");  // negative without iq
  p.iq = true;
  EXPECT_EQ(FineFrontEnd::check(p), "");
  p.centres_hz = {700};
  p.sample_rate = 44100;
  EXPECT_NE(FineFrontEnd::check(p), "");  // no whole ticks
  EXPECT_THROW(FineFrontEnd{p}, std::invalid_argument);
}

TEST(FinePlanTest, TicksEvery96FramesWhateverTheBlocks) {
  FinePlan p;
  p.centres_hz = kNine;
  FineFrontEnd fe(p);
  EXPECT_EQ(fe.clusters(), 9);
  EXPECT_EQ(fe.tick_rate(), 500);
  EXPECT_EQ(fe.samples_per_tick(), 96);
  const auto audio = render(test::random_tones(3, 500, 900, 1000, 5000, 3, 4), 3, 200, 2);
  const Out big = process(fe, audio, 4096);
  fe.reset();
  const Out odd = process(fe, audio, 77);
  fe.reset();
  const Out one = process(fe, audio, 1);
  ASSERT_EQ(big.frame.size(), audio.size() / 96);
  for (std::size_t t = 0; t < big.frame.size(); t++)
    ASSERT_EQ(big.frame[t], static_cast<long>(96 * t + 95));
  // The same key states and levels whatever the block size: the state
  // carries across calls, and reset() starts afresh.
  EXPECT_EQ(big.frame, odd.frame);
  EXPECT_EQ(big.frame, one.frame);
  for (int q = 0; q < 9; q++) {
    EXPECT_EQ(big.key[q], odd.key[q]);
    EXPECT_EQ(big.key[q], one.key[q]);
    EXPECT_EQ(big.level[q], odd.level[q]);
  }
}

// --- selectivity ---------------------------------------------------------------

TEST(FineSelectivityTest, CarrierFiftyHzOffIsFortyDbDown) {
  KeyedTone c;
  c.amp = 10000;
  c.on = {{0.0, 10.0}};
  c.freq = 700;
  const double on = mean_from(process(kNine, render({c}, 3, 0, 1)).level[4], 500);
  for (double off : {-50.0, 50.0}) {
    c.freq = 700 + off;
    const double side = mean_from(process(kNine, render({c}, 3, 0, 1)).level[4], 500);
    // The design gives about 60 dB; 45 keeps a margin over the 40 needed.
    EXPECT_GT(10 * std::log10(on / side), 45) << off;
  }
  c.freq = 725;
  const double edge = mean_from(process(kNine, render({c}, 3, 0, 1)).level[4], 500);
  EXPECT_GT(10 * std::log10(edge / on), -6);
}

TEST(FineSelectivityTest, KeyedNeighbourTwentyDbStrongerDoesNotKey) {
  // Noise puts the neighbour at +26 dB: 20 dB over a +6 dB station.
  for (double wpm : {20.0, 30.0}) {
    const auto nb = station(wpm, 750, 6000, 0.5, 3);
    const auto audio = render({nb.tone}, nb.end + 0.5, test::noise_for_snr(6000, 26), 5);
    const Out o = process(kNine, audio);
    int n = 0;
    for (double k : o.key[5])
      n += k > 0;
    EXPECT_GT(n, 1000) << "the neighbour itself keys its own cluster";
    EXPECT_LE(longest_run(o.key[4]), 1) << wpm << " WPM";
    EXPECT_LE(longest_run(o.key[6]), 1) << wpm << " WPM";
  }
}

// Key-down runs of at least `min_len` ticks.
int marks_of(const std::vector<double>& key, int min_len = 3) {
  int n = 0, run = 0;
  for (double k : key) {
    if (k > 0) {
      run++;
    } else {
      n += run >= min_len;
      run = 0;
    }
  }
  return n + (run >= min_len);
}

TEST(FineKeyingTest, ASecondToneBeatingInsideTheMarksSplitsNone) {
  // The station's keying heard again 6 dB weaker and some hertz higher (a
  // second path, or a voice's harmonic near its tone): inside every mark
  // the two beat, the power dipping some 10 dB for a few tens of ms. It
  // comes after 12 marks (the station's speed learnt first). Each dip
  // keyed up split the marks: 73 and 78 keyed of 45 at 8 and 10 Hz.
  const auto k = station(20, 700, 6000, 0.5, 1, "ooo mmm ttt ooo mmm ttt ooo");
  const auto truth = test::key_truth(k.tone, static_cast<std::size_t>((k.end + 1) * 500));
  const int marks = marks_of(std::vector<double>(truth.begin(), truth.end()));
  for (double off : {8.0, 10.0}) {
    KeyedTone twin = k.tone;
    twin.on.erase(twin.on.begin(), twin.on.begin() + 12);
    twin.freq += off;
    twin.amp *= 0.5;
    twin.phase += 1.3;
    const auto audio = render({k.tone, twin}, k.end + 0.5, test::noise_for_snr(6000, 20), 4);
    const Out o = process(kNine, audio);
    std::printf("second tone %.0f Hz up: %d marks keyed of %d\n", off, marks_of(o.key[4]), marks);
    EXPECT_LE(marks_of(o.key[4]), marks + marks / 10) << off << " Hz";
  }
}

TEST(FineSelectivityTest, TwentyFiveHzOffKeysTheCluster) {
  for (double off : {-25.0, 25.0}) {
    const auto k = station(20, 700 + off, 3000, 1.0, 7);
    const auto audio = render({k.tone}, k.end + 0.5, test::noise_for_snr(3000, 10), 8);
    const Out o = process(kNine, audio);
    const auto truth = test::key_truth(k.tone, o.key[4].size());
    EXPECT_GT(agreement(o.key[4], truth, delay_of(kNine), 500), 0.95) << off;
  }
}

// A keyed station, subtracted, leaves next to nothing in the clusters 50 Hz
// either side; filtering alone leaves its keying sidebands (about -15 dB in
// the channel at the 99th percentile). Measured on the clusters' power.
TEST(FineSubtractionTest, KeyedStationLeavesLittleInItsNeighbours) {
  const char* text = "cq cq de dl1abc dl1abc test 599 5nn tu k qrz? de dl1abc k";
  const auto k = station(25, 700, 8000, 0.3, 11, text);
  const auto audio = render({k.tone}, k.end + 0.3, test::noise_for_snr(8000, 40), 12);
  double leak[2][2];
  for (int sub = 0; sub < 2; sub++) {
    FinePlan p;
    p.centres_hz = kNine;
    p.subtract = sub == 1;
    FineFrontEnd fe(p);
    const Out o = process(fe, audio);
    // From the first marks on, before a model stands.
    auto pct = [](const std::vector<double>& v, double f) {
      return test::percentile_from(v, 1000, f);
    };
    const double ref = pct(o.level[4], 0.9);
    leak[sub][0] = 10 * std::log10(pct(o.level[3], 0.99) / ref);
    leak[sub][1] = 10 * std::log10(pct(o.level[5], 0.99) / ref);
  }
  for (int side = 0; side < 2; side++) {
    EXPECT_GT(leak[0][side], -25) << side << ": the sidebands this test is about";
    EXPECT_LT(leak[1][side], -35) << side;
    EXPECT_LT(leak[1][side], leak[0][side] - 15) << side;
  }
}

// Hard keying (0.5 ms edges) clicks across the band: well over the noise on
// clusters hundreds of Hz away, at the strong station's key edges. Those
// clusters must not key a mark; the station's own cluster keys right.
TEST(FineSelectivityTest, HardKeyingClicksFarAwayDoNotKey) {
  const auto centres = grid(300, 1300);  // index 8 is 700 Hz
  auto k = station(25, 700, 10000, 0.8, 21);
  k.tone.edge = 0.0005;
  const auto audio = render({k.tone}, k.end + 0.5, test::noise_for_snr(10000, 35), 22);
  FinePlan p;
  p.centres_hz = centres;
  FineFrontEnd fe(p);
  const Out o = process(fe, audio);
  const auto truth = test::key_truth(k.tone, o.key[8].size());
  EXPECT_GT(agreement(o.key[8], truth, delay_of(centres), 500), 0.97);
  int loud = 0;
  for (int q = 0; q < static_cast<int>(centres.size()); q++) {
    if (std::abs(centres[q] - 700) < 150) continue;
    const double floor = std::pow(fe.noise_floor(q), 2) * fe.noise_bandwidth_hz() / 48000;
    const double peak = *std::max_element(o.level[q].begin() + 500, o.level[q].end());
    loud += peak > 10 * floor;  // the clicks stand 10 dB over the noise there
    // At most a click's few ticks (the timing decoder drops marks of
    // 20 ms and less), never a mark.
    EXPECT_LE(longest_run(o.key[q]), 10) << centres[q] << " Hz";
  }
  EXPECT_GE(loud, 4) << "the clicks this test is about";
}

// The measured frequency of a station anywhere within 25 Hz of a centre,
// and its SNR, weak or strong.
TEST(FineToneTest, ToneWithinTenHzAndSnrWithinThreeDb) {
  for (double off : {-23.0, -9.0, 0.0, 12.0, 24.0})
    for (double snr : {3.0, 20.0}) {
      const double amp = 3000;
      const auto k = station(22, 700 + off, amp, 0.8, 30);
      const auto audio = render({k.tone}, k.end + 0.5, test::noise_for_snr(amp, snr), 31);
      FinePlan p;
      p.centres_hz = kNine;
      FineFrontEnd fe(p);
      process(fe, audio);
      EXPECT_NEAR(fe.tone_hz(4), 700 + off, 10) << off << " Hz off, " << snr << " dB";
      EXPECT_NEAR(fe.snr_db(4), snr, 3) << off << " Hz off, " << snr << " dB";
    }
}

// --- levels and noise ---------------------------------------------------------

TEST(FineLevelTest, SameKeyStatesFromAThousandthToFullScale) {
  const auto a = station(25, 600, 1000, 1.0, 1), b = station(25, 700, 2000, 1.0, 2);
  const auto c = station(25, 812, 5000, 1.0, 3);
  const double secs = c.end + 0.5;
  const auto base = render({a.tone, b.tone, c.tone}, secs, test::noise_for_snr(1000, 6), 4);
  float peak = 0;
  for (float v : base)
    peak = std::max(peak, std::abs(v));
  auto scaled = [&](double fs) {  // quantised to 16-bit sample values
    std::vector<float> v(base.size());
    for (std::size_t i = 0; i < v.size(); i++)
      v[i] = static_cast<float>(std::round(base[i] * fs * 32767 / peak));
    return v;
  };
  const Out lo = process(kNine, scaled(0.003)), hi = process(kNine, scaled(0.9));
  long agree = 0, all = 0, down = 0;
  for (int q = 0; q < 9; q++)
    for (std::size_t t = 500; t < lo.key[q].size(); t++) {
      agree += (lo.key[q][t] > 0) == (hi.key[q][t] > 0);
      down += hi.key[q][t] > 0;
      all++;
    }
  EXPECT_GT(down, 2000);  // the stations key
  EXPECT_GE(static_cast<double>(agree) / all, 0.99);
}

TEST(FineLevelTest, NoiseAloneNeverKeysForTenMs) {
  FinePlan p;
  p.centres_hz = kNine;
  FineFrontEnd fe(p);
  for (float sigma : {5.0f, 5000.0f}) {
    fe.reset();
    std::mt19937 gen(11);
    std::normal_distribution<float> g(0.0f, sigma);
    std::vector<float> buf(4096);
    std::vector<int> len(9, 0);
    int longest = 0;
    for (int i = 0; i < 30 * 48000 / 4096; i++) {
      for (float& v : buf)
        v = g(gen);
      fe.run(buf.data(), 4096);
      for (int t = 0; t < fe.ticks(); t++)
        for (int q = 0; q < 9; q++) {
          len[q] = fe.key(q, t) > 0 ? len[q] + 1 : 0;
          longest = std::max(longest, len[q]);
        }
    }
    EXPECT_LT(longest, 5) << "sigma " << sigma;  // 5 ticks are 10 ms
    // The floor it measured is the noise it was given.
    for (int q = 0; q < 9; q++)
      EXPECT_NEAR(fe.noise_floor(q) / sigma, 1.0, 0.2) << q;
  }
}

TEST(FineLevelTest, KeyedSignalAtTenDbIsRight) {
  for (double wpm : {15.0, 25.0, 40.0}) {
    const double amp = 3000;
    const auto k = station(wpm, 700, amp, 1.0, 9);
    const auto audio = render({k.tone}, k.end + 0.5, test::noise_for_snr(amp, 10), 10);
    FinePlan p;
    p.centres_hz = kNine;
    FineFrontEnd fe(p);
    const Out o = process(fe, audio);
    const auto truth = test::key_truth(k.tone, o.key[4].size());
    EXPECT_GE(agreement(o.key[4], truth, delay_of(kNine), 500), 0.97) << wpm << " WPM";
    // Its measurements: SNR as given, amplitude and noise as rendered.
    EXPECT_NEAR(fe.snr_db(4), 10, 1.5) << wpm << " WPM";
    EXPECT_NEAR(fe.key_level(4) / amp, 1.0, 0.15);
    EXPECT_NEAR(fe.noise_floor(4) / test::noise_for_snr(amp, 10), 1.0, 0.2);
    // The empty clusters two and more away stay silent.
    for (int q : {0, 1, 2, 6, 7, 8})
      EXPECT_EQ(longest_run(o.key[q]), 0) << q;
  }
}

// Weak signals: at 0 dB in 500 Hz the key decision integrates coherently
// over the element (about 15 dB better than the channel filter alone), on
// the centre and with the tone 15 Hz off it (the offset is measured from the
// marks and turned back).
TEST(FineLevelTest, KeyedSignalAtZeroDbIsMostlyRight) {
  for (double off : {0.0, 15.0}) {
    const double amp = 3000;
    const auto k = station(20, 700 + off, amp, 1.0, 31);
    const auto audio = render({k.tone}, k.end + 0.5, test::noise_for_snr(amp, 0), 32);
    FinePlan p;
    p.centres_hz = kNine;
    FineFrontEnd fe(p);
    const Out o = process(fe, audio);
    const auto truth = test::key_truth(k.tone, o.key[4].size());
    // Marks of at least 10 ms, as keyed and as sent: merged and false marks
    // change the count.
    auto marks = [](const auto& v) {
      int n = 0, run = 0;
      for (std::size_t i = 0; i <= v.size(); i++) {
        if (i < v.size() && v[i] > 0) {
          run++;
          continue;
        }
        n += run >= 5;
        run = 0;
      }
      return n;
    };
    const int sent = marks(truth), got = marks(o.key[4]);
    EXPECT_NEAR(got, sent, 0.12 * sent) << off << " Hz";
  }
}

// --- complex input ---------------------------------------------------------------

TEST(FineIqTest, NegativeFrequenciesKeyTheirOwnCluster) {
  const auto centres = grid(-900, 900);  // 37 clusters, index 6 is -600, 30 is +600
  ASSERT_EQ(centres[6], -600);
  ASSERT_EQ(centres[30], 600);
  const auto k = station(20, -600, 3000, 1.0, 12);
  // A complex tone of amplitude A has power A^2, twice a real one's: the
  // same SNR in 500 Hz takes sqrt(2) times the noise in each component.
  const auto audio =
      render({k.tone}, k.end + 0.5, test::noise_for_snr(3000, 12) * std::sqrt(2.0), 13, {}, true);
  const Out o = process(centres, audio, true);
  const auto truth = test::key_truth(k.tone, o.key[6].size());
  FinePlan p;
  p.centres_hz = centres;
  p.iq = true;
  const int lag = static_cast<int>(std::lround(FineFrontEnd(p).delay_ticks()));
  EXPECT_GT(agreement(o.key[6], truth, lag, 500), 0.95);
  EXPECT_EQ(longest_run(o.key[30]), 0);  // the mirror frequency
}

}  // namespace
}  // namespace talvo
