// The fine timing decoder on key states made from Morse with known timing:
// whole transmissions decoded end to end, and the single rules (debounce,
// dropouts, noise marks, end-of-character gap, muting) on hand-made runs.
#include "decoder/fine_timing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/keystates.h"
#include "support/morse.h"

namespace talvo {
namespace {

using test::KeyStates;
using test::MorseSignal;

constexpr double kDelay = 0.013;  // seconds: the front end's fixed delay

struct Recorder : TimingSink {
  void put(const char* s, long age) override {
    text += s;
    pieces.push_back(s);
    ticks.push_back(*tick - age);
    out_ticks.push_back(*tick);
  }
  std::string text;
  std::vector<std::string> pieces;  // the strings one by one
  std::vector<long> ticks;          // the tick each string was decoded on
  std::vector<long> out_ticks;      // the tick each string was handed out on
  const long* tick = nullptr;
};

struct Decoded {
  std::string text;
  std::vector<std::string> pieces;
  std::vector<long> ticks;
  std::vector<long> out_ticks;
  double wpm = 0;
  int cpm = 0;
};

Decoded decode(const KeyStates& k, double rate, int morse_chars = 1) {
  FineTimingConfig c;
  c.tick_rate = rate;
  c.morse_chars = morse_chars;
  FineTiming f(c);
  Recorder out;
  long tick = 0;
  out.tick = &tick;
  for (uint8_t s : k) {
    f.step(s != 0, out);
    tick++;
  }
  f.flush(out);
  return {out.text, out.pieces, out.ticks, out.out_ticks, f.wpm(), f.cpm()};
}

// The key states of a signal and two seconds of silence after it (which
// give one word space after the text).
KeyStates keyed(const MorseSignal& m, double rate) {
  const test::Keyed k = test::morse(m);
  return test::key_states(k.tone.on, rate, kDelay, k.end + 2);
}

MorseSignal signal(const std::string& text, double wpm) {
  MorseSignal m;
  m.text = text;
  m.cpm = 5 * wpm;
  return m;
}

// Runs of key states by hand: (down, ticks) pairs.
KeyStates runs(std::initializer_list<std::pair<int, int>> r) {
  KeyStates k;
  for (const auto& [down, n] : r)
    k.insert(k.end(), static_cast<std::size_t>(n), static_cast<uint8_t>(down));
  return k;
}

const char* const kQso =
    "cq cq de dl1abc dl1abc k ok2xyz de dl1abc gm ur rst 599 599 name jan qth prague hw? "
    "ok2xyz de dl1abc r fb jan tnx fer call ur 579 op tom qth 1/2 km frm berlin. 73 sk";

// --- whole transmissions -------------------------------------------------------

TEST(FineTimingSignals, CleanAtEverySpeedFromTheFirstWord) {
  for (double rate : {500.0, 1000.0})
    for (double wpm : {10, 12, 20, 30, 40, 50}) {
      const Decoded r = decode(keyed(signal(kQso, wpm), rate), rate);
      EXPECT_EQ(r.text, std::string(kQso) + " ") << wpm << " WPM at " << rate << " ticks/s";
      EXPECT_NEAR(r.wpm, wpm, 0.05 * wpm) << wpm << " WPM at " << rate << " ticks/s";
      EXPECT_EQ(r.cpm, static_cast<int>(std::lround(5 * r.wpm)));
    }
}

TEST(FineTimingSignals, FirstWordAndWordSpacesFromDefaultSpeed) {
  // Short transmissions, each starting from the default speed: the first
  // word whole and the first word space in place, no blank before it.
  const char* const texts[] = {"test de ok2xyz", "r r tu",           "5nn tu 73",
                               "hi om",          "ok2xyz de dl1abc", "e e test"};
  for (double wpm : {12, 15, 20, 25, 30, 35, 40})
    for (const char* t : texts) {
      const Decoded r = decode(keyed(signal(t, wpm), 500), 500);
      EXPECT_EQ(r.text, std::string(t) + " ") << wpm << " WPM";
    }
}

TEST(FineTimingSignals, AFirstCharacterWithOneShortDotIsNotSplit) {
  // A 22 WPM "c" as the fine receiver keyed it on a fading station's
  // first mark (ms: +168 -64 +48 -60 +156 -80 +28), then "q" in its own
  // timing: the short last dot and the long gap before it are not the gap
  // between two characters of a faster sender ("ke").
  const KeyStates k = runs({{0, 200},
                            {1, 84},
                            {0, 32},
                            {1, 24},
                            {0, 30},
                            {1, 78},
                            {0, 40},
                            {1, 14},
                            {0, 82},
                            {1, 82},
                            {0, 28},
                            {1, 82},
                            {0, 28},
                            {1, 28},
                            {0, 28},
                            {1, 82},
                            {0, 1000}});
  EXPECT_EQ(decode(k, 500).text, "cq ");
  // A faster sender's "k" and "e" run together, at a gap three times the
  // others, still part.
  const KeyStates fast =
      runs({{0, 200}, {1, 42}, {0, 14}, {1, 14}, {0, 14}, {1, 42}, {0, 42}, {1, 14}, {0, 1000}});
  EXPECT_EQ(decode(fast, 500).text, "ke ");
}

TEST(FineTimingSignals, FirstWordsOfShortCharactersKeepTheirSpaces) {
  // Until a character of three or more elements is read, characters are
  // held back: a first few words of one- and two-element characters come
  // out whole, spaces included.
  const char* const texts[] = {"name ana qth oslo", "name tim at qth", "an ma nim am test"};
  for (double wpm : {12, 20, 30, 40})
    for (const char* t : texts) {
      const Decoded r = decode(keyed(signal(t, wpm), 500), 500);
      EXPECT_EQ(r.text, std::string(t) + " ") << wpm << " WPM";
    }
}

TEST(FineTimingSignals, JitterOfATenthUnit) {
  for (double wpm : {12, 20, 35, 50})
    for (uint32_t seed = 1; seed <= 3; seed++) {
      MorseSignal m = signal(kQso, wpm);
      m.jitter = 0.1;
      m.seed = seed;
      EXPECT_EQ(decode(keyed(m, 500), 500).text, std::string(kQso) + " ")
          << wpm << " WPM, seed " << seed;
    }
}

TEST(FineTimingSignals, FarnsworthOpeningWithShortWordsJoinsSoon) {
  // 20/10 WPM as ebook2cw keys it (the ARRL's timing): gaps between
  // characters of 11 units, between words of 25.7, those of 3 and 7 units
  // at 5.45 WPM. Output not waiting for the judgement that the signal is
  // Morse, "cq cq de" first comes out letter by letter; after two
  // one-character words in a row the word gaps teach the gap between
  // characters (25.7 units: over the 20 of a pause, under the 30 allowed
  // then), so "de" is whole already (it came out "d e" too).
  MorseSignal m = signal("cq cq de f6ip f6ip k", 20);
  m.farnsworth = 5 * 5.45;
  const Decoded r = decode(keyed(m, 500), 500);
  EXPECT_EQ(r.text, "c q c q de f6ip f6ip k ");
}

TEST(FineTimingSignals, FarnsworthOpeningWaitingForTheJudgementComesOutWhole) {
  // As the programs decode (four characters at one unit before a text goes
  // out), the opening's letters wait for the judgement: each stood alone,
  // their gaps of two lengths, all over a word gap. The shorter were the
  // gaps between characters, and the words come out whole (they came out
  // "c q c q", "t e s t", "q r z"). The gaps as ebook2cw keys 20/10, 25/12,
  // 18/8 and 18/12 WPM (the ARRL's timing): 11, 8.5, 12.9 and 6.9 units
  // between characters.
  const std::pair<double, double> speeds[] = {{20, 5.45}, {25, 6.49}, {18, 4.19}, {18, 7.78}};
  for (const char* text : {"cq cq de f6ip f6ip k", "test de ok1abc ok1abc k", "qrz de g4abc k",
                           "cq test dl1abc dl1abc test"})
    for (const auto& [chars, gaps] : speeds) {
      MorseSignal m = signal(text, chars);
      m.farnsworth = 5 * gaps;
      const Decoded r = decode(keyed(m, 500), 500, 4);
      EXPECT_EQ(r.text, std::string(text) + " ") << chars << "/" << gaps << " WPM";
    }
}

TEST(FineTimingSignals, OneLetterWordsInARowAreNoFarnsworthTiming) {
  // Runs of one-letter words at ordinary timing: their gaps are all word
  // gaps of 7 units, one length, and teach nothing of the gap between
  // characters (the words after them ran together: "r r kk kkrrdeok1abc").
  for (const char* t :
       {"r r k k r r de ok1abc k", "tnx r r e e gl", "r r r fb om tnx", "k k k de w1aw w1aw k"})
    for (double wpm : {15, 25, 35}) {
      const Decoded r = decode(keyed(signal(t, wpm), 500), 500);
      EXPECT_EQ(r.text, std::string(t) + " ") << wpm << " WPM";
      const Decoded w = decode(keyed(signal(t, wpm), 500), 500, 4);
      EXPECT_EQ(w.text, std::string(t) + " ") << wpm << " WPM, waiting for the judgement";
    }
}

// Every mark `ticks` longer, its gap after it as much shorter.
KeyStates lengthened(KeyStates k, int ticks) {
  for (std::size_t i = k.size() - 1; i > 0; i--)
    if (k[i - 1] && !k[i])
      for (std::size_t j = i; j < std::min(k.size(), i + static_cast<std::size_t>(ticks)); j++)
        k[j] = 1;
  return k;
}

TEST(FineTimingSignals, AnOpeningsGapsJudgedAgainAtTheSpeedRead) {
  // Marks 3 ticks long, as the fine receiver keys a clean 30-40 WPM
  // station: before the speed is read (from 20 WPM) the word gaps of an
  // opening of one-letter words stand under the 6.5 units that first end a
  // word, and under a gap between characters learnt from them. Waiting for
  // the judgement, they are judged again at the speed read by then ("rrtu
  // de", "eetest" and "rrtudeok1abc" came out).
  for (const char* t : {"r r tu de ok1abc", "e e test de g4abc"})
    for (double wpm : {28, 34, 40}) {
      const Decoded r = decode(lengthened(keyed(signal(t, wpm), 500), 3), 500, 4);
      EXPECT_EQ(r.text, std::string(t) + " ") << wpm << " WPM";
    }
}

TEST(FineTimingSignals, FarnsworthKeepsItsWordSpaces) {
  const std::pair<double, double> speeds[] = {{25, 12}, {20, 10}, {30, 15}, {18, 12}};
  for (const auto& [chars, gaps] : speeds) {
    MorseSignal m = signal(kQso, chars);
    m.farnsworth = 5 * gaps;
    const Decoded r = decode(keyed(m, 500), 500);
    EXPECT_EQ(r.text, std::string(kQso) + " ") << chars << "/" << gaps << " WPM";
    EXPECT_NEAR(r.wpm, chars, 0.05 * chars);
  }
}

TEST(FineTimingSignals, SpeedChangeOnOneFrequencyFollowedWithinTwoCharacters) {
  // One sender at 14 WPM, three seconds later another at 38 (and back).
  const std::string a = "cq cq de ok2xyz ok2xyz k";
  const std::string b = "dl1abc de ok2xyz ur rst 599 name tom qth berlin hw? k";
  for (const auto& [s1, s2] : {std::pair{14.0, 38.0}, std::pair{38.0, 14.0}}) {
    const double rate = 500;
    double b_start = 0;
    const auto on = test::one_after_other(signal(a, s1), signal(b, s2), 3.0, &b_start);
    const Decoded r = decode(test::key_states(on, rate, kDelay, on.back().second + 2), rate);
    // Strings output before the second sender began, and after.
    std::size_t first_after = 0;
    while (first_after < r.ticks.size() && r.ticks[first_after] < (b_start + kDelay) * rate)
      first_after++;
    std::string before, after;
    for (std::size_t n = 0; n < r.pieces.size(); n++)
      (n < first_after ? before : after) += r.pieces[n];
    EXPECT_EQ(before, a + " ") << s1 << " -> " << s2;
    // At most the first two characters after the change may be wrong.
    const std::string tail = b.substr(2) + " ";
    ASSERT_GE(after.size(), tail.size()) << after;
    EXPECT_EQ(after.substr(after.size() - tail.size()), tail) << s1 << " -> " << s2;
    EXPECT_LE(after.size(), b.size() + 3) << after;
    EXPECT_NEAR(r.wpm, s2, 0.05 * s2);
  }
}

// Overs on one frequency, each at its own speed, `pause` seconds of
// silence from the end of one to the start of the next.
KeyStates overs(std::initializer_list<std::pair<const char*, double>> texts, double pause,
                double rate) {
  std::vector<std::pair<double, double>> on;
  double start = 0.2;
  for (const auto& [text, wpm] : texts) {
    MorseSignal m = signal(text, wpm);
    m.start = start;
    const test::Keyed k = test::morse(m);
    on.insert(on.end(), k.tone.on.begin(), k.tone.on.end());
    start = k.end + pause;
  }
  return test::key_states(on, rate, kDelay, on.back().second + 2);
}

TEST(FineTimingSignals, EachOverIsReadAtItsOwnSendersSpeed) {
  // A contest runner and its caller take turns on one frequency at their
  // own speeds, 0.6 s apart. "tu" right after a slower caller was read
  // against the caller's dit: its "t" and "u" ran together into "x" (a
  // 22 WPM caller, a 36 WPM runner) or the word after it went; after a
  // faster over the slower caller's first characters were lost ("w 5nn 14"
  // after 45 WPM).
  const std::string caller = "tu 5nn 15", runner = "tu sp4fw test", again = "sp4fw 5nn 14";
  const std::pair<double, double> speeds[] = {{24, 33}, {22, 36}, {18, 30}, {18, 36},
                                              {36, 18}, {45, 22}, {45, 18}, {36, 24}};
  for (const auto& [slow, fast] : speeds) {
    const KeyStates k =
        overs({{caller.c_str(), slow}, {runner.c_str(), fast}, {again.c_str(), slow}}, 0.6, 500);
    EXPECT_EQ(decode(k, 500).text, caller + " " + runner + " " + again + " ")
        << slow << " WPM, then " << fast << ", then " << slow;
  }
}

TEST(FineTimingSignals, IsolatedFlippedTicksAt20Wpm) {
  for (double rate : {500.0, 1000.0})
    for (uint32_t seed = 1; seed <= 5; seed++) {
      KeyStates k = keyed(signal(kQso, 20), rate);
      test::flip_isolated(k, 0.02, seed);
      EXPECT_EQ(decode(k, rate).text, std::string(kQso) + " ") << "seed " << seed << " at " << rate;
    }
}

TEST(FineTimingSignals, DropoutsInsideDahs) {
  for (double wpm : {12, 20, 30}) {
    KeyStates k = keyed(signal(kQso, wpm), 500);
    // A quarter-dit dropout in 30% of the dahs.
    test::add_dropouts(k, 500, 0.3, 0.25 * 1.2 / wpm, 2 * 1.2 / wpm, 3);
    EXPECT_EQ(decode(k, 500).text, std::string(kQso) + " ") << wpm << " WPM";
  }
}

TEST(FineTimingSignals, TenMinutesOfNoiseGiveNothing) {
  for (double rate : {500.0, 1000.0}) {
    // Down runs of 1 to 4 ms about every 100 ms, as a noisy threshold gives.
    const KeyStates k = test::noise_states(600, rate, 0.001, 0.004, 0.1, 11);
    EXPECT_EQ(decode(k, rate).text, "") << rate;
  }
}

TEST(FineTimingSignals, QsoTextsWithCallsNumbersAndPunctuation) {
  const char* const texts[] = {
      "dl1abc/p de ok2xyz/mm qsl? 73.",
      "ur rst 5nn 599 1234567890 qth jo60. name ed. hw? pse k",
      "cq test de ok2xyz/qrp 1/2 ? . /",
      "qrz? de g4abc/m 559 nr 073 tu",
  };
  for (double wpm : {15, 25, 35})
    for (const char* t : texts)
      EXPECT_EQ(decode(keyed(signal(t, wpm), 500), 500).text, std::string(t) + " ")
          << wpm << " WPM";
}

// --- single rules on hand-made runs (500 ticks/s, 20 WPM: a dit is 30 ticks) ----

TEST(FineTimingRules, EndOfCharacterAfterTwoDitsOfGap) {
  // After "test" for the speed, "a": dit, gap, dah, then silence. The
  // character comes out when the gap reaches 60 ticks (the debounce delays
  // nothing here: its changes are dated back). The word space comes at
  // 5/3 of the learned gap between characters: it started at 3.9 x 30 = 117
  // and learned the three gaps of 90 in "test" by halves: 93.375; 5/3 of it
  // is 155.6, so the 156th tick of the gap.
  KeyStates k = keyed(signal("test", 20), 500);
  const long mark_end = static_cast<long>(k.size()) + 30 + 30 + 90;
  const KeyStates a = runs({{1, 30}, {0, 30}, {1, 90}, {0, 500}});
  k.insert(k.end(), a.begin(), a.end());
  const Decoded r = decode(k, 500);
  ASSERT_EQ(r.text, "test a ");
  ASSERT_EQ(r.ticks.size(), 7u);
  EXPECT_EQ(r.ticks[5] - mark_end, 59);  // the 60th tick of the gap
  EXPECT_EQ(r.ticks[6] - mark_end, 155);
}

TEST(FineTimingRules, WordSpaceOncePerGapNoneBeforeTheFirstCharacter) {
  // Long silence, "te st" at 20 WPM with held single characters, then a
  // long silence: one blank between the words, a trailing one, no leading one.
  const Decoded r = decode(keyed(signal("test test", 20), 500), 500);
  EXPECT_EQ(r.text, "test test ");
  const Decoded s = decode(runs({{0, 3000}}), 500);
  EXPECT_EQ(s.text, "");
  KeyStates k = keyed(signal("test", 20), 500);
  k.insert(k.end(), 5000, 0);
  const KeyStates more = keyed(signal("test", 20), 500);
  k.insert(k.end(), more.begin(), more.end());
  EXPECT_EQ(decode(k, 500).text, "test test ");
}

TEST(FineTimingRules, DropoutInsideADahDoesNotSplitIt) {
  // "k" = dah dit dah, the first dah with a 7-tick dropout (under 0.3 dit,
  // longer than the 5-tick debounce), after "test" for the speed.
  KeyStates k = keyed(signal("test", 20), 500);
  const KeyStates kk =
      runs({{0, 300}, {1, 40}, {0, 7}, {1, 43}, {0, 30}, {1, 30}, {0, 30}, {1, 90}, {0, 300}});
  k.insert(k.end(), kk.begin(), kk.end());
  EXPECT_EQ(decode(k, 500).text, "test k ");
}

TEST(FineTimingRules, OneCharacterThatLooksTwiceAsFastLeavesTheSpeed) {
  // After "paris paris" at 20 WPM (30-tick dits), a dah broken in two by a
  // weak signal's noise (14 + 12 + 34 ticks: a unit of about 12 ticks, far
  // off, though every element fits it), then "sis" at 20 WPM again. Taking
  // that unit at once would end every character of "sis" after its first
  // dit (two units of 12 ticks are under its 30-tick gaps).
  KeyStates k = keyed(signal("paris paris", 20), 500);
  const KeyStates broken = runs({{1, 14}, {0, 12}, {1, 34}, {0, 300}});
  k.insert(k.end(), broken.begin(), broken.end());
  const KeyStates tail = keyed(signal("sis", 20), 500);
  k.insert(k.end(), tail.begin(), tail.end());
  const Decoded r = decode(k, 500);
  ASSERT_GE(r.text.size(), 4u) << r.text;
  EXPECT_EQ(r.text.substr(0, 12), "paris paris ") << r.text;
  EXPECT_EQ(r.text.substr(r.text.size() - 4), "sis ") << r.text;
  EXPECT_NEAR(r.wpm, 20, 2);
}

TEST(FineTimingRules, TwoCharactersThatAgreeMoveTheSpeedFar) {
  // After "paris paris" at 20 WPM, "paris" at 45 WPM after a word gap:
  // its characters agree on a unit far off the dit, and the speed follows.
  KeyStates k = keyed(signal("paris paris", 20), 500);
  const KeyStates tail = keyed(signal("paris paris", 45), 500);
  k.insert(k.end(), tail.begin(), tail.end());
  const Decoded r = decode(k, 500);
  ASSERT_GE(r.text.size(), 6u) << r.text;
  EXPECT_EQ(r.text.substr(r.text.size() - 6), "paris ") << r.text;
  EXPECT_NEAR(r.wpm, 45, 0.1 * 45);
}

TEST(FineTimingRules, IsolatedTicksAndShortMarksAreNoise) {
  // After a signal: a lone down tick, a 3-tick and a 5-tick mark (10 ms,
  // under half a 50 WPM dit) in a long gap give nothing, not "e".
  KeyStates k = keyed(signal("test", 20), 500);
  const KeyStates n = runs({{0, 200}, {1, 1}, {0, 200}, {1, 3}, {0, 200}, {1, 5}, {0, 400}});
  k.insert(k.end(), n.begin(), n.end());
  EXPECT_EQ(decode(k, 500).text, "test ");
  // The same 5-tick mark in the middle of a character's gap does not split it.
  const Decoded r = decode(runs({{0, 100},
                                 {1, 30},
                                 {0, 12},
                                 {1, 5},
                                 {0, 13},
                                 {1, 90},
                                 {0, 30},
                                 {1, 30},
                                 {0, 30},
                                 {1, 30},
                                 {0, 300}}),
                           500);
  EXPECT_EQ(r.text, "l ");
}

TEST(FineTimingRules, LoneShortMarksInGapsAreDroppedOnceASignalIsRead) {
  // 20 WPM: a dit is 30 ticks. A lone 12-tick mark (0.4 dit, longer than
  // the shortest mark) in the gap between two words is a noise peak: no "e",
  // and the gaps either side of it make one word gap, even when neither
  // alone would. A lone 18-tick mark (0.6 dit) is a short "e".
  auto around = [](int before, int mark, int after) {
    const test::Keyed a = test::morse(signal("test", 20));
    KeyStates k = test::key_states(a.tone.on, 500, kDelay, a.end);
    const KeyStates n = runs({{0, before}, {1, mark}, {0, after}});
    k.insert(k.end(), n.begin(), n.end());
    const KeyStates b = keyed(signal("de k", 20), 500);
    k.insert(k.end(), b.begin(), b.end());
    return decode(k, 500);
  };
  EXPECT_EQ(around(250, 12, 250).text, "test de k ");
  EXPECT_EQ(around(80, 12, 60).text, "test de k ");
  EXPECT_EQ(around(250, 18, 250).text, "test e de k ");
  // The speed stays that of the signal.
  EXPECT_NEAR(around(250, 12, 250).wpm, 20, 1);
}

TEST(FineTimingRules, LoneDitsInTheSilenceAfterTheLastOverAreNoise) {
  // 20 WPM (a dit is 30 ticks): the station's over, then the noise keys a
  // dit now and then, each alone, in the silence after it (the threshold
  // of a weak station lies near the noise's peaks). An over of up to four
  // lone dits that two seconds of silence end again, or the input, is no
  // over; dits followed by more of an over, or two dits of one character,
  // are.
  auto after = [](std::initializer_list<std::pair<int, int>> tail, const char* more = nullptr) {
    const test::Keyed a = test::morse(signal("cq de dl1abc k", 20));
    KeyStates k = test::key_states(a.tone.on, 500, kDelay, a.end);
    const KeyStates n = runs(tail);
    k.insert(k.end(), n.begin(), n.end());
    if (more) {
      const KeyStates b = keyed(signal(more, 20), 500);
      k.insert(k.end(), b.begin(), b.end());
    }
    return decode(k, 500).text;
  };
  EXPECT_EQ(after({{0, 700}, {1, 30}, {0, 1100}}), "cq de dl1abc k ");
  EXPECT_EQ(after({{0, 700}, {1, 28}, {0, 400}, {1, 32}, {0, 1100}}), "cq de dl1abc k ");
  EXPECT_EQ(after({{0, 700}, {1, 30}, {0, 90}, {1, 30}, {0, 1100}}), "cq de dl1abc k ");
  EXPECT_EQ(after({{0, 700}, {1, 30}, {0, 400}, {1, 30}, {0, 400}, {1, 30}, {0, 1100}}),
            "cq de dl1abc k ");
  // The input ends in the silence.
  EXPECT_EQ(after({{0, 700}, {1, 30}, {0, 100}}), "cq de dl1abc k ");
  // Not noise.
  EXPECT_EQ(after({{0, 700}, {1, 30}, {0, 210}}, "de k"), "cq de dl1abc k e de k ");
  EXPECT_EQ(after({{0, 700}, {1, 30}, {0, 500}}, "de k"), "cq de dl1abc k e de k ");
  EXPECT_EQ(after({{0, 700}, {1, 30}, {0, 30}, {1, 30}, {0, 1000}}), "cq de dl1abc k i ");
}

TEST(FineTimingRules, ShortMarksInTheGapBetweenCharactersAreNoise) {
  // 6 WPM: a dit is 100 ticks. A 10-tick peak 190 ticks into the 300-tick
  // gap between "c" and "e" leaves neither part two units long: it is no
  // dit of a faster sender (the gaps around it are a slow one's) and it
  // joins nothing. A 20-tick one (0.2 dit) early in a character's gap is
  // dropped as well, with the gap it stood in kept whole; a 40-tick one
  // (0.4 dit) may be a faded dot and stays.
  auto with_peak = [](int before, int mark, int after, const char* then) {
    const test::Keyed a = test::morse(signal("test", 6));
    KeyStates k = test::key_states(a.tone.on, 500, kDelay, a.end);
    const KeyStates c = runs({{0, 300},
                              {1, 300},
                              {0, 100},
                              {1, 100},
                              {0, 100},
                              {1, 300},
                              {0, 100},
                              {1, 100},
                              {0, before},
                              {1, mark},
                              {0, after}});
    k.insert(k.end(), c.begin(), c.end());
    const KeyStates b = keyed(signal(then, 6), 500);
    k.insert(k.end(), b.begin(), b.end());
    return decode(k, 500);
  };
  const Decoded d = with_peak(190, 10, 100, "e");
  EXPECT_EQ(d.text, "testce ");
  EXPECT_NEAR(d.wpm, 6, 0.5);
  EXPECT_EQ(with_peak(100, 20, 180, "e").text, "testce ");
  EXPECT_NE(with_peak(100, 40, 180, "e").text, "testce ");
  // The peak far into a word gap: the word gap stays.
  EXPECT_EQ(with_peak(500, 10, 300, "e").text, "testc e ");
}

TEST(FineTimingRules, ImplausiblyLongMarksSpoilTheirCharacter) {
  // Two seconds of key down (far over two 10 WPM dahs) with a dit after it.
  KeyStates k = keyed(signal("test", 20), 500);
  const KeyStates n = runs({{0, 300}, {1, 1000}, {0, 30}, {1, 30}, {0, 300}});
  k.insert(k.end(), n.begin(), n.end());
  EXPECT_EQ(decode(k, 500).text, "test ");
}

TEST(FineTimingRules, RunsOfSingleElementsMute) {
  // A signal, then twenty plausible-looking lone dits and dahs: the fifth
  // single-element character since the last "s" mutes (the "t" of "test"
  // was the first); a real character afterwards speaks again.
  KeyStates k = keyed(signal("test", 20), 500);
  for (int i = 0; i < 20; i++) {
    const KeyStates e = runs({{0, 300}, {1, i % 3 ? 30 : 90}});
    k.insert(k.end(), e.begin(), e.end());
  }
  const KeyStates s = keyed(signal("sos", 20), 500);
  k.insert(k.end(), s.begin(), s.end());
  const Decoded r = decode(k, 500);
  EXPECT_EQ(r.text, "test t e e sos ");
}

TEST(FineTimingRules, TextWaitsForFourCharactersAtOneUnit) {
  // Needing four characters of two or more elements in a row at one unit
  // (a single-element character takes one back): "cq cq de dl1abc" goes out
  // whole once the second "q" came (nothing lost at the start); marks of
  // varying lengths such as syllables of speech key ("s" at 20 WPM, "a" at
  // 8, "u" at 40, ...) never go out, nor does a lone "test".
  const std::string qso = "cq cq de dl1abc";
  EXPECT_EQ(decode(keyed(signal(qso, 25), 500), 500, 4).text, qso + " ");
  EXPECT_EQ(decode(keyed(signal("test", 20), 500), 500, 4).text, "");
  EXPECT_EQ(decode(keyed(signal("test", 20), 500), 500, 1).text, "test ");
  KeyStates k;
  const double wpms[] = {20, 8, 40, 12, 30, 9, 45, 15};
  const char* const chars[] = {"s", "a", "u", "n", "i", "m", "r", "d"};
  for (int i = 0; i < 8; i++) {
    const KeyStates c = keyed(signal(chars[i], wpms[i]), 500);
    k.insert(k.end(), c.begin(), c.end());
  }
  EXPECT_EQ(decode(k, 500, 4).text, "");
  EXPECT_NE(decode(k, 500, 1).text, "");
}

TEST(FineTimingRules, CharactersFasterThanAnySenderFollowedAreNoMorse) {
  // Overdriven speech flickers a cluster in marks and gaps of 15-20 ms: the
  // tracked dit stops at the fastest sender followed (55 WPM), every such
  // character keyed at one unit fits it, and "adet nss" once went out as
  // Morse. Characters whose own unit is under that dit (65 WPM here) are
  // read but never judged Morse; a 50 WPM sender still is.
  const std::string fast = "adet nss adet nss";
  EXPECT_EQ(decode(keyed(signal(fast, 65), 500), 500, 4).text, "");
  EXPECT_NE(decode(keyed(signal(fast, 65), 500), 500, 1).text, "");
  const std::string qso = "cq cq de dl1abc";
  EXPECT_EQ(decode(keyed(signal(qso, 50), 500), 500, 4).text, qso + " ");
  EXPECT_EQ(decode(keyed(signal(qso, 45), 500), 500, 4).text, qso + " ");
}

TEST(FineTimingRules, AMutedSignalIsJudgedAgain) {
  // A station judged Morse, then lone dits and dahs (a crash train, or the
  // syllables of speech) until the output mutes, then characters keyed at
  // a different unit each: the mute takes the judgement back, so they wait
  // to be judged again and do not go out ("es tt e n e m" did); a station
  // coming back goes out again from its first word once four of its
  // characters agree, behind the last strings that waited ("e d"; the
  // slow characters, each a word alone, at gaps of one length, teach no
  // gap between characters: "test de" came out "testde").
  KeyStates k = keyed(signal("cq cq de dl1abc", 20), 500);
  for (int i = 0; i < 6; i++) {
    const KeyStates e = runs({{0, 300}, {1, i % 2 ? 30 : 90}});
    k.insert(k.end(), e.begin(), e.end());
  }
  const double wpms[] = {20, 8, 40, 12, 30, 9, 45, 15};
  const char* const chars[] = {"s", "a", "u", "n", "i", "m", "r", "d"};
  for (int i = 0; i < 8; i++) {
    const KeyStates c = keyed(signal(chars[i], wpms[i]), 500);
    k.insert(k.end(), c.begin(), c.end());
  }
  const KeyStates again = keyed(signal("test de dl1abc", 20), 500);
  k.insert(k.end(), again.begin(), again.end());
  EXPECT_EQ(decode(k, 500, 4).text, "cq cq de dl1abc t e t e d test de dl1abc ");
}

TEST(FineTimingRules, HeldStringsKeepTheTickTheyWereDecodedOn) {
  // "cq cq de dl1abc" waits for the second "q" to be judged Morse; its
  // strings then come out together, each dated back to the tick it was
  // decoded on, which is when the same string comes out straight away
  // without the judgement (the first "c", four elements, is read at once).
  const KeyStates k = keyed(signal("cq cq de dl1abc", 25), 500);
  const Decoded now = decode(k, 500, 1);
  const Decoded held = decode(k, 500, 4);
  ASSERT_EQ(held.pieces, now.pieces);
  EXPECT_EQ(held.ticks, now.ticks);
  EXPECT_EQ(now.out_ticks, now.ticks);
  // "c", "q", " ", "c" waited until the fourth character, the second "q".
  ASSERT_GE(held.pieces.size(), 5u);
  for (int i = 0; i < 4; i++)
    EXPECT_EQ(held.out_ticks[static_cast<std::size_t>(i)], held.ticks[4]) << i;
  EXPECT_GT(held.ticks[4] - held.ticks[0], 500);  // over a second late without the age
  for (std::size_t i = 4; i < held.pieces.size(); i++)
    EXPECT_EQ(held.out_ticks[i], held.ticks[i]) << i;
}

TEST(FineTimingRules, ResetReturnsToTheStartSpeed) {
  FineTimingConfig c;
  c.tick_rate = 1000;
  c.start_wpm = 20;
  FineTiming f(c);
  EXPECT_DOUBLE_EQ(f.wpm(), 20);
  EXPECT_EQ(f.cpm(), 100);
  Recorder out;
  long tick = 0;
  out.tick = &tick;
  for (uint8_t s : keyed(signal("paris paris", 40), 1000))
    f.step(s != 0, out);
  EXPECT_NEAR(f.wpm(), 40, 2);
  f.reset();
  EXPECT_DOUBLE_EQ(f.wpm(), 20);
  EXPECT_TRUE(f.muted());
}

}  // namespace
}  // namespace talvo
