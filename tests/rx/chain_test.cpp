// Keyed tone audio through the whole receive chain: the right cluster goes
// key-down, at the right time, for the right number of ticks.
#include <gtest/gtest.h>

#include <map>

#include "rx/stages.h"
#include "support/oracle.h"
#include "support/signal.h"

namespace talvo {
namespace {

struct KeyDown {
  int ticks = 0;        // key-down ticks seen
  double first = -1;    // time of the first key-down tick, s
  double last = -1;     // time of the last one, s
  int transitions = 0;  // key-up to key-down changes
};

// Runs the chain and records every cluster centre's key state.
std::map<int, KeyDown> key_states(const std::vector<int16_t>& audio, int centerfreq = 700) {
  auto rx = init(centerfreq);
  std::map<int, KeyDown> k;
  std::map<int, bool> down;
  for (std::size_t n = 0; n < audio.size(); n++) {
    const double in = audio[n];
    receive_sample(*rx, in);
    if (!rx->newdataflag) continue;
    tick_stages(*rx);
    for (int c = -20; c <= 20; c += 5) {
      if (!rx->newdata[c]) continue;
      const bool d = rx->valuethr[c] != 0.0;
      if (d) {
        auto& s = k[c];
        const double t = static_cast<double>(n) / samplefreq;
        if (s.first < 0) s.first = t;
        s.last = t;
        s.ticks++;
        if (!down[c]) s.transitions++;
      }
      down[c] = d;
    }
  }
  return k;
}

TEST(ReceiveChain, KeyedToneAt700HzKeysOnlyTheCentreCluster) {
  test::KeyedTone t;
  t.freq = 700;
  t.amp = 8000;
  t.on = {{0.5, 0.8}};
  const auto k = key_states(test::mix({t}, 1.5));
  ASSERT_EQ(k.size(), 1u) << "clusters keyed: " << k.size();
  const KeyDown& c = k.at(0);
  EXPECT_EQ(c.transitions, 1);
  // 0.3 s at 48000 / 68 ticks a second is 212 ticks.
  EXPECT_NEAR(c.ticks, 212, 12);
  // The smoothing holds the key state back by nlg1weite = 140 ticks (0.198 s),
  // the I/Q low-pass and the averaging by about half their windows (15 ms).
  EXPECT_NEAR(c.first, 0.5 + 140.0 / (48000.0 / 68) + 0.015, 0.01);
}

TEST(ReceiveChain, TonesOnSeveralClustersKeyIndependently) {
  std::vector<test::KeyedTone> tones;
  // Every other cluster: 100 Hz apart. Strong signals on neighbouring clusters
  // (50 Hz) leak about a fifth of their envelope across, more at the edges.
  const int centres[] = {-20, -10, 0, 10, 20};
  for (int i = 0; i < 5; i++) {
    test::KeyedTone t;
    t.freq = 700 + 10 * centres[i];
    // The fixed thresholds favour the longer low-pass windows of the higher
    // channels: lower clusters need a little more level.
    t.amp = centres[i] < 0 ? 6000 : 5000;
    // Each keyed three times, 100 ms each, at its own offsets.
    for (int m = 0; m < 3; m++)
      t.on.push_back({0.3 + 0.07 * i + 0.4 * m, 0.4 + 0.07 * i + 0.4 * m});
    tones.push_back(t);
  }
  const auto k = key_states(test::mix(tones, 2.0, 200, 7));
  ASSERT_EQ(k.size(), 5u);
  for (int i = 0; i < 5; i++) {
    const int c = centres[i];
    ASSERT_TRUE(k.count(c)) << c;
    EXPECT_EQ(k.at(c).transitions, 3) << c;
    const double f = 700 + 10.0 * c;
    const double ticks_per_s = 48000.0 / (48000 / static_cast<int>(f));
    EXPECT_NEAR(k.at(c).ticks, 3 * 0.1 * ticks_per_s, 0.15 * 3 * 0.1 * ticks_per_s) << c;
  }
}

TEST(ReceiveChain, SilenceAndWeakNoiseKeepEveryClusterUp) {
  EXPECT_TRUE(key_states(std::vector<int16_t>(48000 * 2, 0)).empty());
  EXPECT_TRUE(key_states(test::mix({}, 2.0, 300, 3)).empty());
}

}  // namespace
}  // namespace talvo
