// The mark/space state machine and the speed rules, tick by tick.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoder/decoder.h"

namespace talvo {
namespace {

struct Printed {
  long tick;
  std::string s;
  int len;
};

class Recorder : public DecoderOutput {
 public:
  void print(const ClusterDecoder& d, int, const char* s) override {
    out.push_back({*tick, s, d.len});
  }
  std::vector<Printed> out;
  const long* tick = nullptr;
};

// Drives one cluster's decoder with key states by hand; the cluster ticks
// `ticks_per_second` times a second (800 Hz: freqmod 9600).
struct Drive {
  Decoder dec;
  long tick = 0;
  Recorder rec;
  explicit Drive(int ticks_per_second = 800) : dec(Rules::kClassic, {ticks_per_second}, 100) {
    rec.tick = &tick;
  }
  ClusterDecoder& c() { return dec[0]; }
  void run(bool down, int ticks) {
    for (int t = 0; t < ticks; t++) {
      tick++;
      dec.step(0, down, rec);
    }
  }
  std::string text() const {
    std::string s;
    for (const auto& p : rec.out)
      s += p.s;
    return s;
  }
};

TEST(Decode3, LetterAAt100CpmStepByStep) {
  Drive d;  // 800 Hz: freqmod 9600
  d.c().dit = 96;
  d.c().pausemean = 48;
  d.run(true, 48);
  EXPECT_EQ(d.c().symbolstate, 1);
  EXPECT_EQ(d.c().mark, 48);
  d.run(false, 1);
  EXPECT_EQ(d.c().marklist[0], 48);
  EXPECT_EQ(d.c().symbolindex, 1);
  EXPECT_EQ(d.c().symbolstate, 2);
  EXPECT_EQ(d.c().space, 1);
  d.run(false, 47);  // the gap counts to 48, not to the end of the character (81)
  d.run(true, 144);
  EXPECT_EQ(d.c().symbolstate, 3);
  EXPECT_EQ(d.c().pausemean, 48);  // no rule C after the first mark
  d.run(false, 1);
  EXPECT_EQ(d.c().marklist[1], 144);
  EXPECT_EQ(d.c().symbolstate, 4);
  const long gap_start = d.tick;
  d.run(false, 79);
  EXPECT_TRUE(d.rec.out.empty());
  d.run(false, 1);  // space reaches 81 = (int)(48 x 1.7)
  ASSERT_EQ(d.rec.out.size(), 1u);
  EXPECT_EQ(d.rec.out[0].s, "a");
  EXPECT_EQ(d.rec.out[0].len, 2);
  EXPECT_EQ(d.rec.out[0].tick - gap_start, 80);
  EXPECT_EQ(d.c().symbolstate, 0);
  EXPECT_EQ(d.c().space, 81);
  EXPECT_EQ(d.c().markmin, 48);
  EXPECT_EQ(d.c().markmax, 144);
  EXPECT_EQ(d.c().dit, 96);  // two elements: no rule D
  EXPECT_EQ(d.c().etcount, 0);
  EXPECT_EQ(d.c().textbuffer[0], 'a');  // and the two places after the cursor blank
  EXPECT_EQ(d.c().textbufindex, 1);
  EXPECT_EQ(d.c().textbuffer[2], ' ');
  EXPECT_EQ(d.c().textbuffer[3], ' ');
  // The word space comes when the gap since the mark reaches
  // W = min(300, max(5 pausemean, 5 cgap / 3)) = max(240, 250) = 250 ticks
  // (cgap became (300 + 0) / 2 at the first mark), not only at 300.
  d.run(false, 250 - 81 - 1);
  EXPECT_EQ(d.rec.out.size(), 1u);
  d.run(false, 1);
  ASSERT_EQ(d.rec.out.size(), 2u);
  EXPECT_EQ(d.rec.out[1].s, " ");
  EXPECT_EQ(d.c().space, 301);
  d.run(false, 1000);  // one word space per gap
  EXPECT_EQ(d.rec.out.size(), 2u);
}

TEST(Decode3, LetterKAt120CpmReestimatesTheSpeed) {
  Drive d;
  d.c().dit = 96;
  d.c().pausemean = 48;
  d.run(true, 120);
  d.run(false, 40);
  d.run(true, 40);
  d.run(false, 40);
  d.run(true, 120);  // rule C at this mark: (48 + 40) / 2
  EXPECT_EQ(d.c().pausemean, 44);
  d.run(false, 73);
  EXPECT_TRUE(d.rec.out.empty());
  d.run(false, 1);  // (int)(44 x 1.7) = 74
  ASSERT_EQ(d.rec.out.size(), 1u);
  EXPECT_EQ(d.rec.out[0].s, "k");
  EXPECT_EQ(d.c().dit, 80);
  EXPECT_EQ(d.c().speed, 120);
  EXPECT_EQ(d.c().pausemean, 40);
}

TEST(Decode3, EndOfCharacterGapInExtendedPrecision) {
  // pausemean 40 ends a character after 67 gap ticks (not 68); 200 gives
  // 339, beyond the saturation at 300: the character then never ends.
  Drive d;
  d.c().dit = 80;
  d.c().pausemean = 40;
  d.run(true, 30);
  d.run(false, 1);
  d.run(true, 100);
  d.run(false, 66);
  EXPECT_TRUE(d.rec.out.empty());
  d.run(false, 1);
  ASSERT_EQ(d.rec.out.size(), 1u);
  EXPECT_EQ(d.rec.out[0].s, "a");

  Drive e;  // fresh: pausemean 200
  e.run(true, 30);
  e.run(false, 1000);
  EXPECT_TRUE(e.rec.out.empty());
  EXPECT_EQ(e.c().space, 300);
  e.run(true, 100);  // the next mark continues the character
  EXPECT_EQ(e.c().symbolstate, 3);
}

TEST(Decode3, SilenceFromTheStartGivesOneWordSpace) {
  Drive d;
  d.run(false, 299);
  EXPECT_TRUE(d.rec.out.empty());
  d.run(false, 1);
  ASSERT_EQ(d.rec.out.size(), 1u);
  EXPECT_EQ(d.rec.out[0].s, " ");
  d.run(false, 5000);
  EXPECT_EQ(d.rec.out.size(), 1u);
}

TEST(Decode3, LoneMarksAndTheDitBoundary) {
  Drive d;
  d.c().pausemean = 40;  // characters end after 67 gap ticks
  d.run(true, 80);       // equal to dit: a dah when alone
  d.run(false, 70);
  d.run(true, 1);  // a one-tick mark is a dit
  d.run(false, 67);
  ASSERT_EQ(d.rec.out.size(), 2u);
  EXPECT_EQ(d.rec.out[0].s, "t");
  EXPECT_EQ(d.rec.out[1].s, "e");
  // Rule B: the one-tick mark was shorter than dit / 2: pausemean x 3/2.
  EXPECT_EQ(d.c().pausemean, 60);
  EXPECT_EQ(d.c().space, 0);  // the word gap counts from the character's end

  // Inside a pattern a mark equal to dit is a dit: 80, 200 is "a".
  Drive p;
  p.c().pausemean = 40;
  p.c().dit = 80;
  p.run(true, 80);
  p.run(false, 40);
  p.run(true, 200);
  p.run(false, 70);
  ASSERT_EQ(p.rec.out.size(), 1u);
  EXPECT_EQ(p.rec.out[0].s, "a");
}

TEST(Decode3, LongFirstMarkDoublesDitAndPausemean) {
  Drive d;
  d.run(true, 241);  // more than 3 x 80
  d.run(false, 1);
  EXPECT_EQ(d.c().dit, 160);
  EXPECT_EQ(d.c().pausemean, 400);
}

TEST(Decode3, FiveSingleElementCharactersResetTheSpeed) {
  Drive d;
  d.c().pausemean = 40;
  d.c().dit = 50;
  d.c().speed = 192;
  for (int i = 0; i < 4; i++) {
    d.run(true, 30);
    d.run(false, 68);
    if (i == 1) d.run(false, 400);  // a word space inside the run does not break it
  }
  EXPECT_EQ(d.c().etcount, 4);
  EXPECT_EQ(d.c().speed, 192);
  d.run(true, 30);
  d.run(false, 68);
  EXPECT_EQ(d.text(), "ee eee");
  EXPECT_EQ(d.c().etcount, 0);
  EXPECT_EQ(d.c().speed, 100);
  EXPECT_EQ(d.c().dit, 9600 / 100);
  EXPECT_EQ(d.c().pausemean, 9600 / 200);

  // With tracking off the run still counts and resets, the speed stays.
  Drive off;
  off.c().sync_on = 0;
  off.c().pausemean = 40;
  for (int i = 0; i < 5; i++) {
    off.run(true, 30);
    off.run(false, 68);
  }
  EXPECT_EQ(off.c().etcount, 0);
  EXPECT_EQ(off.c().speed, 100);
  EXPECT_EQ(off.c().dit, 80);
  EXPECT_EQ(off.c().pausemean, 40);
}

TEST(Decode3, ElevenMarksKeepTheFirstTen) {
  Drive d;
  d.c().pausemean = 40;
  for (int i = 0; i < 11; i++) {
    d.run(true, i == 10 ? 200 : 20);
    d.run(false, 30);
  }
  d.run(false, 40);
  ASSERT_EQ(d.rec.out.size(), 1u);
  EXPECT_EQ(d.rec.out[0].s, "~");
  EXPECT_EQ(d.rec.out[0].len, 10);
  EXPECT_EQ(d.c().marklist[9], 20);
}

}  // namespace
}  // namespace talvo
