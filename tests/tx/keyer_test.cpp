// The keyer from its own outputs: units, ramp, timing, the ring.
#include "tx/keyer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display/colours.h"
#include "support/screen_read.h"

namespace talvo {
namespace {

struct Rig {
  Keyer k;
  int freqmod = 8400;  // 12 x the ticks per second of the transmit cluster (700 Hz)
  Visual v;
  explicit Rig(int textbufwidth = 100) {
    keyer_init(k, textbufwidth);
    v.make(1200, 480);
  }
  // One tick of the transmit cluster.
  void tick() { transmit(k, true, freqmod, v); }
  // Ticks until `done` holds, at most `limit` ticks; false if it never did.
  template <typename Pred>
  bool tick_until(Pred done, int limit = 100000) {
    for (int i = 0; i < limit; i++) {
      if (done()) return true;
      tick();
    }
    return done();
  }
  // Ticks until the keyer is idle (tx_on 0, the start string of 31 units done).
  void idle() {
    const int unit = freqmod / k.txspeed / 2 + 1;
    ASSERT_TRUE(tick_until([&] { return k.tx_on == 0 && *k.p == '\0'; }, 32 * unit));
  }
  void type(const std::string& s) {
    for (char c : s)
      txinqueue(k, v, c);
  }
  // Runs of key down (+) and key up (-) in ticks until tx_on falls.
  std::vector<int> runs() {
    std::vector<int> out;
    bool started = false;
    bool down = false;
    for (int t = 0; t < 100000; t++) {
      tick();
      if (k.tx_on == 0 && started) break;
      const bool d = k.key_down;
      if (!started) {
        if (!d) continue;
        started = true;
        down = true;
        out.push_back(0);
      }
      if (d != down) {
        down = d;
        out.push_back(0);
      }
      out.back() += d ? 1 : -1;
    }
    return out;
  }
};

TEST(Keyer, StartsWith31UnitsOfKeyUp) {
  // A character queued at start-up begins after the 31 units of the start
  // string and the step that finds it: 31 units of 43 ticks, and one tick.
  Rig g;
  g.type("e");
  int ticks = 0;
  while (g.k.tx_on == 0 && ticks < 100000) {
    g.tick();
    ticks++;
    ASSERT_FALSE(g.k.key_down);
    ASSERT_EQ(g.k.txampl, 0);
  }
  EXPECT_EQ(ticks, 31 * 43 + 1);
}

TEST(Keyer, ESpaceEGivesOneThirteenOneThreeUnits) {
  Rig g;
  g.idle();
  g.type("e e");
  // One unit = 8400 / 100 / 2 + 1 = 43 ticks of channel 0.
  EXPECT_EQ(g.runs(), (std::vector<int>{43, -13 * 43, 43, -3 * 43}));
  EXPECT_FALSE(g.k.key_down);
}

TEST(Keyer, UnitLengthFollowsSpeedAndChannel) {
  const std::tuple<int, int, int> cases[] = {
      {100, 0, 43}, {200, 0, 22}, {200, 10, 25}, {20, -20, 151}, {300, 20, 19}};
  for (const auto& [speed, ch, unit] : cases) {
    Rig g;
    g.freqmod = 12 * (700 + 10 * ch);
    g.k.txspeed = speed;
    g.idle();
    g.type("t");
    const auto r = g.runs();
    ASSERT_EQ(r.size(), 2u) << speed << " " << ch;
    EXPECT_EQ(r[0], 3 * unit) << speed << " " << ch;  // N + 1, N = freqmod / speed / 2
    EXPECT_EQ(r[1], -3 * unit) << speed << " " << ch;
  }
}

TEST(Keyer, AmplitudeRampsHalfwayEveryTick) {
  Rig g;
  g.idle();
  g.type("t");
  ASSERT_TRUE(g.tick_until([&] { return g.k.key_down; }));
  // The tick that starts the unit sets the target; the ramp begins on the next.
  std::vector<int> up;
  for (int i = 0; i < 16; i++) {
    g.tick();
    up.push_back(g.k.txampl);
  }
  EXPECT_EQ(up, (std::vector<int>{10000, 15000, 17500, 18750, 19375, 19687, 19843, 19921, 19960,
                                  19980, 19990, 19995, 19997, 19998, 19999, 19999}));
  ASSERT_TRUE(g.tick_until([&] { return !g.k.key_down; }));
  std::vector<int> down;
  for (int i = 0; i < 15; i++) {
    g.tick();
    down.push_back(g.k.txampl);
  }
  EXPECT_EQ(down,
            (std::vector<int>{9999, 4999, 2499, 1249, 624, 312, 156, 78, 39, 19, 9, 4, 2, 1, 0}));
  // Without a tick of the transmit channel nothing changes.
  g.k.txampl = 777;
  transmit(g.k, false, g.freqmod, g.v);
  EXPECT_EQ(g.k.txampl, 777);
}

TEST(Keyer, UpperCaseKeysAsItsLetterAndEchoesAsTyped) {
  EXPECT_EQ(txindex('C'), txindex('c'));
  EXPECT_EQ(txindex('C'), 35);
  EXPECT_EQ(txindex('Z'), 58);
  EXPECT_EQ(txindex(' '), 0);
  EXPECT_EQ(txindex('@'), 32);
  EXPECT_EQ(txindex('['), 0);
  EXPECT_EQ(txindex('\x0B'), 0);
  EXPECT_EQ(txindex('\xE9'), 0);
  Rig g;
  g.idle();
  g.type("K");
  EXPECT_EQ(g.k.txtextbuf[0], 'K');
  EXPECT_EQ(g.runs(), (std::vector<int>{3 * 43, -43, 43, -43, 3 * 43, -3 * 43}));
  // The echo as typed at ring position 0 (x 390, y 12) in the built-in
  // font: white while waiting, grey once its keying began.
  EXPECT_EQ(test::read_text(g.v, 390, 12, 1, kKeyedColour), "K");
}

TEST(Keyer, EscapeLetsTheCharacterInProgressFinish) {
  Rig g;
  g.idle();
  g.type("ot");
  ASSERT_TRUE(g.tick_until([&] { return g.k.key_down; }));  // 'o' begins
  for (int i = 0; i < 50; i++)
    g.tick();
  txclear(g.k, g.v, 100);
  const auto r = g.runs();
  // The rest of the first dah, two more dahs, and no 't'.
  ASSERT_EQ(r.size(), 6u);
  EXPECT_EQ(r[2], 3 * 43);
  EXPECT_EQ(r[4], 3 * 43);
  EXPECT_EQ(r[5], -3 * 43);
}

TEST(Keyer, AFullRingRefusesInsteadOfOverwriting) {
  Rig g;  // textbufwidth 100: a ring of 95 places, 94 waiting at most
  int queued = 0;
  for (int i = 0; i < 100; i++)
    queued += txinqueue(g.k, g.v, 'a');
  EXPECT_EQ(queued, 94);
  EXPECT_FALSE(txinqueue(g.k, g.v, 'b'));
  // Nothing drawn for the refused ones: position 94 (x 954, partly under
  // position 93) stays black.
  for (int y = 12; y < 20; y++)
    for (int x = 956; x < 962; x++)
      EXPECT_EQ(g.v.pixel(x, y), 0u);
  // Once one character is keyed, one more fits.
  ASSERT_TRUE(g.tick_until([&] { return g.k.keybuffront != 0; }, 40 * 43));
  ASSERT_EQ(g.k.keybuffront, 1);
  EXPECT_TRUE(txinqueue(g.k, g.v, 'b'));
}

}  // namespace
}  // namespace talvo
