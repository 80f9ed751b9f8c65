// The spot judge: copies asked of known and unknown, strong and weak calls,
// calls of no entity, a bust against the right call on one frequency, the
// ten-minute re-spot and a change of frequency; whole contest exchanges
// through the call finder and the judge.
#include "spots/judge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "spots/call_book.h"
#include "spots/call_finder.h"

namespace talvo::spots {
namespace {

const char kCty[] =
    "Fed. Rep. of Germany:     14:  28:  EU:   51.00:   -10.00:    -1.0:  DL:\n"
    "    DA,DB,DC,DD,DE,DF,DG,DH,DI,DJ,DK,DL,DM,DN,DO,DP,DQ,DR;\n"
    "England:                  14:  27:  EU:   52.77:     1.47:     0.0:  G:\n"
    "    2E,G,M;\n"
    "United States of America: 05:  08:  NA:   37.60:    91.87:     5.0:  K:\n"
    "    AA,K,N,W;\n"
    "Slovenia:                 15:  28:  EU:   46.00:   -14.00:    -1.0:  S5:\n"
    "    S5;\n"
    "Bulgaria:                 20:  28:  EU:   42.83:   -25.08:    -2.0:  LZ:\n"
    "    LZ;\n"
    "Czech Republic:           15:  28:  EU:   50.00:   -16.00:    -1.0:  OK:\n"
    "    OK,OL;\n";
const char kScp[] = "# test list\nK5MR\nG3XYZ\nW1AW\n";

CallBook book() {
  CallBook b;
  const std::string cty = kCty, scp = kScp;
  EXPECT_EQ(b.load(&cty, &scp), "");
  return b;
}

FoundCall sending(const char* call, int copies = 1, bool clean = true) {
  return FoundCall{call, SpotType::kCq, copies, clean};
}

TEST(SpotJudge, CopiesAskedOfACall) {
  const CallBook b = book();
  SpotJudge j(&b, 0);
  EXPECT_EQ(j.copies_needed(true, 20, true), 2);
  EXPECT_EQ(j.copies_needed(false, 20, true), 3);
  EXPECT_EQ(j.copies_needed(false, 5.9, true), 4);
  EXPECT_EQ(j.copies_needed(true, 6.0, true), 2);
  EXPECT_EQ(j.copies_needed(true, 3, false), 4);
  EXPECT_EQ(j.copies_needed(false, 3, false), 4);  // never more than four
  // A call twice in one clean sending after "cq": no more when weak.
  EXPECT_EQ(j.copies_needed(true, 3, true, true), 2);
  EXPECT_EQ(j.copies_needed(false, 3, true, true), 3);
  EXPECT_EQ(j.copies_needed(true, 3, false, true), 3);  // garbled around: one more
  JudgePolicy p;
  p.known_copies = 1;
  p.unclean_more = false;
  EXPECT_EQ(SpotJudge(&b, 0, p).copies_needed(true, 20, false), 1);

  std::vector<Spot> out;
  // Known: out on the second copy.
  EXPECT_EQ(j.hear(sending("K5MR"), 14042600, 18, 38, 1, out), 0);
  EXPECT_EQ(j.hear(sending("K5MR"), 14042610, 18, 38, 20, out), 1);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].call, "K5MR");
  EXPECT_EQ(out[0].copies, 2);
  EXPECT_TRUE(out[0].known);
  EXPECT_EQ(out[0].utc, 20);
  // Unknown: the third copy, counted over sendings ("xN" in one sending).
  out.clear();
  EXPECT_EQ(j.hear(sending("DL1ABC", 2), 7018300, 20, 25, 30, out), 0);
  EXPECT_EQ(j.hear(sending("DL1ABC"), 7018300, 20, 25, 40, out), 1);
  EXPECT_FALSE(out.at(0).known);
  EXPECT_EQ(out.at(0).copies, 3);
  // Unknown and weak: the fourth.
  out.clear();
  for (int i = 0; i < 3; i++)
    EXPECT_EQ(j.hear(sending("DL2ABC"), 7020000, 4, 25, 50 + i, out), 0);
  EXPECT_EQ(j.hear(sending("DL2ABC"), 7020000, 4, 25, 60, out), 1);
}

TEST(SpotJudge, AWeakCallTwiceAfterCqIsAskedNoMore) {
  const CallBook b = book();
  SpotJudge j(&b, 0);
  std::vector<Spot> out;
  // "cq test k5mr k5mr" at 4 dB: out at once.
  EXPECT_EQ(j.hear(FoundCall{"K5MR", SpotType::kCq, 2, true, true}, 14042600, 4, 30, 5, out), 1);
  // After "test" alone (a caller answering a runner it lost) it is not enough.
  EXPECT_EQ(j.hear(FoundCall{"W1AW", SpotType::kCq, 2, true, false}, 14030000, 4, 30, 5, out), 0);
  // Nor garbled words around, nor two sendings of one copy each.
  EXPECT_EQ(j.hear(FoundCall{"G3XYZ", SpotType::kCq, 2, false, true}, 14025000, 4, 30, 5, out), 0);
  EXPECT_EQ(j.hear(FoundCall{"W1AW", SpotType::kCq, 1, true, true}, 7010000, 4, 30, 5, out), 0);
  EXPECT_EQ(j.hear(FoundCall{"W1AW", SpotType::kCq, 1, true, true}, 7010000, 4, 30, 9, out), 0);
  // An unknown call twice after "cq", weak: three copies, as if strong
  // ("cq test oh8ggk oh8ggk ... tu oh8ggk test"), where a weak one else
  // needs four.
  EXPECT_EQ(j.hear(FoundCall{"DL1ABC", SpotType::kCq, 2, true, true}, 14020000, 4, 30, 9, out), 0);
  EXPECT_EQ(j.hear(FoundCall{"DL1ABC", SpotType::kCq, 1, true, false}, 14020000, 4, 30, 19, out),
            1);
  EXPECT_EQ(j.hear(FoundCall{"DL1ABD", SpotType::kCq, 1, true, false}, 14030000, 4, 30, 19, out),
            0);
  EXPECT_EQ(j.hear(FoundCall{"DL1ABD", SpotType::kCq, 2, true, false}, 14030000, 4, 30, 29, out),
            0);
  EXPECT_EQ(out.size(), 2u);
}

TEST(SpotJudge, AKnownCallCountsAReadingOneOffItInItsCq) {
  const CallBook b = book();
  std::vector<Spot> out;
  const auto near = [](const char* call, const char* other, int copies, bool after_cq) {
    return FoundCall{call, SpotType::kCq, copies, true, after_cq, other, 1};
  };
  SpotJudge j(&b, 0);
  // "cq test k5mq k5mr": one copy and one a character off, no known call.
  EXPECT_EQ(j.hear(near("K5MR", "K5MQ", 1, true), 14042600, 20, 30, 5, out), 1);
  // The other reading a known call: it does not count.
  EXPECT_EQ(j.hear(near("G3XYZ", "W1AW", 1, true), 14025000, 20, 30, 5, out), 0);
  // Not after "cq" ("test g3xyz g3xyg": a caller perhaps): it does not count.
  EXPECT_EQ(j.hear(near("G3XYZ", "G3XYG", 1, false), 7025000, 20, 30, 5, out), 0);
  // An unknown call never counts the other reading.
  EXPECT_EQ(j.hear(near("DL1ABC", "DL1ABD", 2, true), 7030000, 20, 30, 5, out), 0);
  EXPECT_EQ(out.size(), 1u);
  // Each near copy only beside a copy of its own: one copy and two near
  // ones are still two.
  SpotJudge weak(&b, 0);
  out.clear();
  FoundCall c = near("K5MR", "K5MQ", 1, true);
  c.near_copies = 2;
  EXPECT_EQ(weak.hear(c, 14042600, 4, 30, 5, out), 0);  // weak: three needed
}

TEST(SpotJudge, ALeadingCallCountsItsReadingsOneOffIt) {
  const CallBook b = book();
  // A weak (3 dB) unknown runner, its words garbled around: four copies
  // asked. "tu ka2bnyetest" gave a reading one off it.
  const auto run = [&](const std::vector<const char*>& calls, JudgePolicy p = {}) {
    SpotJudge j(&b, 0, p);
    std::vector<Spot> out;
    double t = 0;
    for (const char* c : calls)
      j.hear(sending(c, 1, false), 7025000, 3, 34, t += 10, out);
    std::vector<std::string> got;
    for (const Spot& s : out)
      got.push_back(s.call);
    return got;
  };
  EXPECT_EQ(run({"KA2BNY", "KA2BNYE", "KA2BNY", "KA2BNY"}), std::vector<std::string>{"KA2BNY"});
  EXPECT_TRUE(run({"KA2BNY", "KA2BNY", "KA2BNY"}).empty());
  JudgePolicy own;
  own.lent = false;
  EXPECT_TRUE(run({"KA2BNY", "KA2BNYE", "KA2BNY", "KA2BNY"}, own).empty());
  // Two characters off it is another call, and lends nothing.
  EXPECT_TRUE(run({"KA2BNY", "KA2BXE", "KA2BNY", "KA2BNY"}).empty());
  // Only the leader borrows: a reading as well supported as the call
  // lends nothing to it, and the reading itself is never spotted for it.
  EXPECT_TRUE(run({"KA2BNY", "KA2BNYE", "KA2BNYE", "KA2BNY"}).empty());
  EXPECT_EQ(run({"KA2BNYE", "KA2BNY", "KA2BNY", "KA2BNY", "KA2BNY"}),
            std::vector<std::string>{"KA2BNY"});
}

TEST(SpotJudge, AFarWeakerCopyOfACallHeardElsewhereIsItsEcho) {
  const CallBook b = book();
  // A noise-free recording: the station at 700 Hz 110 dB over the floor,
  // its codec's products at 1500 and 2100 Hz printing its text 63-69 dB
  // under it.
  SpotJudge j(&b, 0);
  std::vector<Spot> out;
  for (int i = 0; i < 3; i++) {
    j.hear(sending("DL1ABC"), 700, 110, 30, 5 + 10 * i, out);
    j.hear(sending("DL1ABC"), 1500, 47, 30, 6 + 10 * i, out);
    j.hear(sending("DL1ABC"), 2100, 41, 30, 6 + 10 * i, out);
  }
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].freq_hz, 700);
  // Within 20 dB it is the station heard on two frequencies (it moved, or
  // called on two): spotted on the second with one copy, as before.
  j.hear(sending("DL1ABC"), 3000, 91, 30, 40, out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].freq_hz, 3000);
  // Once the strong copy has been silent for 30 s, a weak one is the
  // station itself (it moved, or the band faded).
  j.hear(sending("DL1ABC"), 2500, 30, 30, 71, out);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[2].freq_hz, 2500);
}

TEST(SpotJudge, ACallOfNoEntityIsNeverSpotted) {
  const CallBook b = book();
  SpotJudge j(&b, 0);
  std::vector<Spot> out;
  for (int i = 0; i < 10; i++)
    j.hear(sending("ZS6ABC", 2), 14020000, 25, 25, i, out);
  EXPECT_TRUE(out.empty());
  // Without a country file the shape decides.
  SpotJudge shape(nullptr, 0);
  for (int i = 0; i < 3; i++)
    shape.hear(sending("ZS6ABC"), 14020000, 25, 25, i, out);
  EXPECT_EQ(out.size(), 1u);
}

TEST(SpotJudge, ABustDoesNotBlockTheRightCall) {
  const CallBook b = book();
  // "cq test g3xyg g3xyg test ... cq test g3xyz g3xyz test": the known call
  // is spotted, the bust never.
  {
    SpotJudge j(&b, 0);
    std::vector<Spot> out;
    j.hear(sending("G3XYG", 2), 7025000, 15, 30, 1, out);
    j.hear(sending("G3XYZ", 2), 7025020, 15, 30, 20, out);
    j.hear(sending("G3XYG", 1), 7025000, 15, 30, 40, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].call, "G3XYZ");
  }
  // The bust copied clean three times is spotted first; the right call,
  // once it has more support, goes out as well.
  {
    SpotJudge j(&b, 0);
    std::vector<Spot> out;
    j.hear(sending("G3XYG", 3), 7025000, 15, 30, 1, out);
    ASSERT_EQ(out.size(), 1u);
    j.hear(sending("G3XYZ", 2), 7025020, 15, 30, 20, out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].call, "G3XYZ");
  }
  // The same two unknown calls, as well supported: the first spotted holds
  // the other back; on another frequency they do not compete.
  {
    SpotJudge j(&b, 0);
    std::vector<Spot> out;
    j.hear(sending("DL1ABC", 3), 7025000, 15, 30, 1, out);
    j.hear(sending("DL1ABD", 3), 7025000, 15, 30, 2, out);
    j.hear(sending("DL1ABD", 3), 7030000, 15, 30, 3, out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].call, "DL1ABC");
    EXPECT_EQ(out[1].call, "DL1ABD");
    EXPECT_EQ(out[1].freq_hz, 7030000);
  }
}

TEST(SpotJudge, RespottedAtTenMinutesAndOnANewFrequency) {
  const CallBook b = book();
  SpotJudge j(&b, 1000);
  std::vector<Spot> out;
  ASSERT_EQ(j.hear(sending("W1AW", 2), 7030000, 20, 25, 100, out), 1);
  EXPECT_EQ(j.hear(sending("W1AW"), 7030040, 20, 25, 300, out), 0);
  EXPECT_EQ(j.hear(sending("W1AW"), 7030000, 20, 25, 699.9, out), 0);
  EXPECT_EQ(j.hear(sending("W1AW"), 7030000, 20, 25, 700, out), 1);
  EXPECT_EQ(out.back().utc, 1700);
  EXPECT_EQ(j.hear(sending("W1AW"), 7030000, 20, 25, 710, out), 0);
  // It moves 1 kHz: spotted there on its first copy.
  EXPECT_EQ(j.hear(sending("W1AW"), 7031000, 20, 25, 720, out), 1);
  EXPECT_EQ(out.back().freq_hz, 7031000);
  // Silent for ten minutes, it is forgotten and must be copied again.
  EXPECT_EQ(j.hear(sending("W1AW"), 7031000, 20, 25, 1400, out), 0);
  EXPECT_EQ(j.hear(sending("W1AW"), 7031000, 20, 25, 1410, out), 1);
}

TEST(SpotJudge, ACallStillCallingIsRespottedExactlyAtTenMinutes) {
  const CallBook b = book();
  SpotJudge j(&b, 1000);
  std::vector<Spot> out;
  ASSERT_EQ(j.hear(sending("W1AW", 2), 7030000, 20, 25, 100, out), 1);
  EXPECT_EQ(j.hear(sending("W1AW"), 7030020, 18, 26, 650, out), 0);  // still calling
  EXPECT_EQ(j.tick(699.9, out), 0);
  ASSERT_EQ(j.tick(703, out), 1);
  EXPECT_EQ(out.back().utc, 1700);  // due at 700 s, not when the tick came
  EXPECT_EQ(out.back().freq_hz, 7030020);
  EXPECT_EQ(out.back().snr_db, 18);
  EXPECT_EQ(out.back().wpm, 26);
  EXPECT_EQ(j.tick(704, out), 0);
  EXPECT_EQ(j.hear(sending("W1AW"), 7030000, 20, 25, 705, out), 0);  // held again
  // Last heard 130 s before the next is due (1300 s): it stopped calling.
  EXPECT_EQ(j.tick(1300, out), 0);
  EXPECT_EQ(j.tick(1400, out), 0);
  // A station that calls again is spotted at its sending.
  EXPECT_EQ(j.hear(sending("W1AW"), 7030000, 20, 25, 1250, out), 0);
  EXPECT_EQ(out.size(), 2u);
}

TEST(SpotJudge, NeighbouringClustersCopyOneCandidate) {
  // Two clusters 50 Hz apart hear the same unknown station: their copies
  // add up, and it is spotted once.
  const CallBook b = book();
  SpotJudge j(&b, 0);
  std::vector<Spot> out;
  EXPECT_EQ(j.hear(sending("DL1ABC"), 7018300, 20, 25, 1, out), 0);
  EXPECT_EQ(j.hear(sending("DL1ABC"), 7018350, 14, 25, 1, out), 0);
  EXPECT_EQ(j.hear(sending("DL1ABC"), 7018300, 20, 25, 8, out), 1);
  EXPECT_EQ(j.hear(sending("DL1ABC"), 7018350, 14, 25, 8, out), 0);
  EXPECT_EQ(j.candidates(), 1u);
  EXPECT_EQ(out.at(0).copies, 3);
  // The type and figures are the sending's.
  EXPECT_EQ(j.hear(FoundCall{"W1AW", SpotType::kDx, 2, true}, 14025000, 9, 31, 9, out), 1);
  EXPECT_EQ(out.back().type, SpotType::kDx);
  EXPECT_EQ(out.back().snr_db, 9);
  EXPECT_EQ(out.back().wpm, 31);
}

TEST(SpotJudge, ConfidenceGrowsWithCopiesAndKnownCalls) {
  EXPECT_DOUBLE_EQ(SpotJudge::confidence(1, true, 20, true), 0.8);
  EXPECT_DOUBLE_EQ(SpotJudge::confidence(2, true, 20, true), 0.96);
  EXPECT_DOUBLE_EQ(SpotJudge::confidence(3, false, 20, true), 0.875);
  EXPECT_LT(SpotJudge::confidence(3, false, 3, false), SpotJudge::confidence(3, false, 20, true));
  EXPECT_DOUBLE_EQ(SpotJudge::confidence(0, true, 20, true), 0.0);
}

// Text through a finder and the judge: one sending per `gap` seconds.
std::vector<std::string> spots_of(const CallBook& b, const std::vector<std::string>& overs,
                                  double snr = 20) {
  CallFinder f;
  SpotJudge j(&b, 0);
  std::vector<FoundCall> found;
  std::vector<Spot> out;
  double t = 0;
  for (const auto& o : overs) {
    found.clear();
    f.feed((o + " ").c_str(), found);
    for (const auto& c : found)
      j.hear(c, 14025000, snr, 30, t, out);
    t += 5;
  }
  found.clear();
  f.flush(found);
  for (const auto& c : found)
    j.hear(c, 14025000, snr, 30, t, out);
  std::vector<std::string> r;
  for (const auto& s : out)
    r.push_back(s.call + ":" + type_name(s.type));
  return r;
}

using V = std::vector<std::string>;

TEST(SpotJudge, ContestRunsSpotTheRunnerOnly) {
  const CallBook b = book();
  EXPECT_EQ(spots_of(b, {"cq test s53xm s53xm test", "tu s53xm test  dk9iw 5nn 39",
                         "tu s53xm test  dk9iw 5nn 39", "tu s53xm test ok1xyz ok1xyz 5nn 14"}),
            V{"S53XM:CQ"});
  EXPECT_EQ(spots_of(b, {"tu lz1kw test ok1xyz ok1xyz 5nn 14", "tu lz1kw test dl2abc 5nn 15",
                         "tu lz1kw test"}),
            V{"LZ1KW:CQ"});
  EXPECT_EQ(spots_of(b, {"cq test g3xyg g3xyg test", "cq test g3xyz g3xyz test"}), V{"G3XYZ:CQ"});
  // Weak (4 dB): a known runner's first CQ is enough.
  EXPECT_EQ(spots_of(b, {"cq test k5mr k5mr", "e e"}, 4), V{"K5MR:CQ"});
  // A known runner's CQ copied once right, once a character off.
  EXPECT_EQ(spots_of(b, {"cq test k5mq k5mr", "e e"}), V{"K5MR:CQ"});
  // A known caller after the runner's "test", its report copied elsewhere.
  EXPECT_EQ(
      spots_of(b, {"tu s53xm test w1aw w1aw", "e e", "tu s53xm test", "e e", "tu s53xm test"}),
      V{"S53XM:CQ"});
  // A beacon keying its call over and over.
  EXPECT_EQ(spots_of(b, {"vvv vvv de dl0abc/b", "vvv vvv de dl0abc/b", "vvv vvv de dl0abc/b"}),
            V{"DL0ABC/B:BEACON"});
}

}  // namespace
}  // namespace talvo::spots
