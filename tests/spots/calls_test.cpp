// Callsign recognition and the call finder: real-shaped calls against the
// look-alikes of ordinary CW traffic, the rules that make a call the
// sender's, its type, and text arriving a character at a time as the
// decoder sends it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "spots/call_finder.h"
#include "spots/callsign.h"

namespace talvo::spots {
namespace {

TEST(Callsign, RealShapedCallsAreCallsInUpperCase) {
  const char* const calls[][2] = {{"dl1abc", "DL1ABC"},
                                  {"w1aw", "W1AW"},
                                  {"k9zz", "K9ZZ"},
                                  {"g4abc", "G4ABC"},
                                  {"ve3xyz", "VE3XYZ"},
                                  {"ok1xyz", "OK1XYZ"},
                                  {"2e0abc", "2E0ABC"},
                                  {"9a2aa", "9A2AA"},
                                  {"4x4dx", "4X4DX"},
                                  {"3da0rs", "3DA0RS"},
                                  {"n1a", "N1A"},
                                  {"r3aa", "R3AA"},
                                  {"ja1abcd", "JA1ABCD"},
                                  {"e51abc", "E51ABC"},
                                  {"vp2v/w1aw", "VP2V/W1AW"},
                                  {"dl7xyz/p", "DL7XYZ/P"},
                                  {"dl7xyz/m", "DL7XYZ/M"},
                                  {"g4abc/mm", "G4ABC/MM"},
                                  {"k9zz/qrp", "K9ZZ/QRP"},
                                  {"ve3xyz/a", "VE3XYZ/A"},
                                  {"w1aw/1", "W1AW/1"},
                                  {"hb9/dl7xyz", "HB9/DL7XYZ"},
                                  {"dl7xyz/hb9", "DL7XYZ/HB9"},
                                  {"hb9/dl7xyz/p", "HB9/DL7XYZ/P"},
                                  {"DL1ABC", "DL1ABC"},
                                  {"f/g4abc", "F/G4ABC"},
                                  {"dl0abc/b", "DL0ABC/B"},
                                  {"a4a", "A4A"},
                                  {"c6aab", "C6AAB"},
                                  {"e7x", "E7X"},
                                  {"s5dx", "S5DX"},
                                  {"j8ny", "J8NY"},
                                  {"p3a", "P3A"},
                                  {"t6a", "T6A"}};
  for (const auto& c : calls) {
    EXPECT_EQ(callsign_of(c[0]), c[1]) << c[0];
    EXPECT_TRUE(is_callsign(c[0])) << c[0];
  }
}

TEST(Callsign, LookAlikesAreNotCalls) {
  const char* const words[] = {
      "5nn",        "599",     "tu",       "rst",      "73",        "88",
      "cq",         "de",      "test",     "qrz",      "k",         "bk",
      "sk",         "ur",      "es",       "gl",       "fer",       "pse",
      "tnx",        "qsl",     "agn",      "r",        "hw",        "dr",
      "om",         "wx",      "rig",      "ant",      "op",        "name",
      "qth",        "100w",    "14mhz",    "5w",       "1a",        "a1",
      "e5ee",       "tttt",    "e5et",     "t2te",     "~",         "_",
      "",           "dl1",     "dl1abcde", "dlab1abc", "1234",      "abc",
      "q5abc",      "t5tt",    "0a1aa",    "dl1abc/",  "/dl1abc",   "dl1abc//p",
      "dl1abc/xyz", "a/b/c/d", "dl1a_c",   "dl1abc~",  "599dl1abc", "qrp/dl1abc/p/p"};
  for (const char* w : words) {
    EXPECT_EQ(callsign_of(w), "") << w;
    EXPECT_FALSE(is_callsign(w)) << w;
  }
}

TEST(Callsign, SpotterMayCarryAnSsid) {
  for (const char* s : {"ZF9CW", "W1NT-6", "W1NT-15", "DL0XX", "TALVO", "HB9/DL7XYZ", "W1NT-1"})
    EXPECT_TRUE(valid_spotter(s)) << s;
  for (const char* s : {"", "W1NT-", "W1NT-0", "W1NT-16", "W1NT-06", "W1NT-6-7", "-6", "W1 NT",
                        "W1NT#", "ABCDEFGHIJKLM", "W1NT-A"})
    EXPECT_FALSE(valid_spotter(s)) << s;
}

TEST(Callsign, Beacons) {
  EXPECT_TRUE(beacon_call("DL0ABC/B"));
  EXPECT_FALSE(beacon_call("DL0ABC"));
  EXPECT_FALSE(beacon_call("/B"));
  EXPECT_TRUE(ncdxf_beacon("YV5B"));
  EXPECT_TRUE(ncdxf_beacon("4U1UN"));
  EXPECT_FALSE(ncdxf_beacon("YV5BB"));
}

// Feeds `text` a character at a time, as the decoder sends it (with "cq"
// as one string where it stands for the run-together pattern), ends it, and
// returns what the finder reported, as "CALL:TYPE" ("xN" after N copies).
std::vector<std::string> find_calls(CallFinder& f, const std::string& text, bool end = true) {
  std::vector<FoundCall> found;
  for (std::size_t i = 0; i < text.size(); i++) {
    if (text.compare(i, 2, "cq") == 0) {
      f.feed("cq", found);
      i++;
      continue;
    }
    const char s[2] = {text[i], '\0'};
    f.feed(s, found);
  }
  if (end) f.flush(found);
  std::vector<std::string> r;
  for (const auto& c : found)
    r.push_back(c.call + ":" + type_name(c.type) +
                (c.copies > 1 ? "x" + std::to_string(c.copies) : ""));
  return r;
}

std::vector<std::string> find_calls(const std::string& text) {
  CallFinder f;
  return find_calls(f, text);
}

using V = std::vector<std::string>;

TEST(CallFinder, CallAfterDeIsTheSender) {
  EXPECT_EQ(find_calls("ve3xyz de w1aw 5nn tu "), V{"W1AW:DX"});
  EXPECT_EQ(find_calls("ve3xyz de w1aw"), V{"W1AW:DX"});
  EXPECT_EQ(find_calls("w1aw de dl1abc/p k "), V{"DL1ABC/P:DX"});
  // "de" must come right before the call.
  EXPECT_EQ(find_calls("de es dl1abc k "), V{});
}

TEST(CallFinder, CallAfterCqTestOrQrzIsACq) {
  // After "de" each copy is reported as it comes.
  EXPECT_EQ(find_calls("cq cq de dl1abc dl1abc k "), V({"DL1ABC:CQ", "DL1ABC:CQ"}));
  EXPECT_EQ(find_calls("cq cq cq de dl1abc "), V{"DL1ABC:CQ"});
  EXPECT_EQ(find_calls("cq dl1abc k"), V{"DL1ABC:CQ"});
  EXPECT_EQ(find_calls("test dl1abc k"), V{"DL1ABC:CQ"});
  EXPECT_EQ(find_calls("qrz de g4abc g4abc k"), V({"G4ABC:CQ", "G4ABC:CQ"}));
  EXPECT_EQ(find_calls("qrz? g4abc k"), V{"G4ABC:CQ"});
  EXPECT_EQ(find_calls("test test de ok1xyz k"), V{"OK1XYZ:CQ"});
  EXPECT_EQ(find_calls("cq dx de hb9/dl7xyz k "), V{"HB9/DL7XYZ:CQ"});
  // At most one word between.
  EXPECT_EQ(find_calls("cq dx dl1abc k"), V{"DL1ABC:CQ"});
  EXPECT_EQ(find_calls("cq test dl1abc k"), V{"DL1ABC:CQ"});
  EXPECT_EQ(find_calls("cq dx na dl1abc k"), V{});
  EXPECT_EQ(find_calls("cq a b de dl1abc k"), V{"DL1ABC:DX"});
}

TEST(CallFinder, TheRunnerOfAContestIsACq) {
  // The runner's call after "tu" and before "test"; the caller it sends a
  // report to is never a sender, however it is placed or repeated.
  EXPECT_EQ(find_calls("tu s53xm test  dk9iw 5nn 39 "), V{"S53XM:CQ"});
  EXPECT_EQ(find_calls("tu lz1kw test ok1xyz ok1xyz 5nn 14 "), V{"LZ1KW:CQ"});
  EXPECT_EQ(find_calls("s53xm test "), V{"S53XM:CQ"});
  EXPECT_EQ(find_calls("s53xm s53xm test "), V{"S53XM:CQx2"});
  EXPECT_EQ(find_calls("tu s53xm "), V{"S53XM:CQ"});
  EXPECT_EQ(find_calls("cq test g3xyz g3xyz test "), V{"G3XYZ:CQx2"});
}

TEST(CallFinder, ACallerAfterTheRunnersTestIsNotACq) {
  // The runner's "test" ends its over; the call after it is a caller's,
  // even when the runner's report to it was copied on another cluster.
  EXPECT_EQ(find_calls("tu sq6we test ag5dt "), V{"SQ6WE:CQ"});
  EXPECT_EQ(find_calls("sq6we test ag5dt ag5dt k "), V{"SQ6WE:CQ"});
  // The runner's own call again, or copied another way, is still its own.
  EXPECT_EQ(find_calls("tu sq6we test sq6we "), V({"SQ6WE:CQ", "SQ6WE:CQ"}));
  EXPECT_EQ(find_calls("tu sq6we test sq6ve "), V({"SQ6WE:CQ", "SQ6VE:CQ"}));
  // With "cq" before "test", or no call before it, the cue stands.
  EXPECT_EQ(find_calls("tu sq6we cq test ag5dt k "), V({"SQ6WE:CQ", "AG5DT:CQ"}));
  EXPECT_EQ(find_calls("e test ag5dt k "), V{"AG5DT:CQ"});
  // The runner's call copied badly between "test" and a caller's: no cue
  // for the caller; a bad copy of the call itself, or a short word, keeps it.
  EXPECT_EQ(find_calls("cq test sphhedg ja1kzh ja1kzh sesee 4 "), V{});
  EXPECT_EQ(find_calls("cq test sphhedg sp5dzg k "), V{"SP5DZG:CQ"});
  EXPECT_EQ(find_calls("cq pota k1abc k "), V{"K1ABC:CQ"});
}

TEST(CallFinder, TheCueSaysWhetherCqCameBefore) {
  CallFinder f;
  std::vector<FoundCall> found;
  f.feed("cq test dl1abc dl1abc k tu dl1abc test ", found);
  f.feed("test dl1abc dl1abc k cq dx dl1abc ", found);
  f.flush(found);
  ASSERT_EQ(found.size(), 4u);
  EXPECT_TRUE(found[0].after_cq);   // "cq test dl1abc"
  EXPECT_FALSE(found[1].after_cq);  // "tu dl1abc test"
  EXPECT_FALSE(found[2].after_cq);  // "test dl1abc"
  EXPECT_TRUE(found[3].after_cq);   // "cq dx dl1abc"
}

TEST(CallFinder, EachReadingOfASendingNamesTheOneOneCharacterOff) {
  CallFinder f;
  std::vector<FoundCall> found;
  f.feed("cq test uf1s af1s af1s k cq test g0mbit g0mbv k ", found);
  f.flush(found);
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[0].call, "UF1S");
  EXPECT_EQ(found[0].near_call, "AF1S");
  EXPECT_EQ(found[0].near_copies, 2);
  EXPECT_EQ(found[1].call, "AF1S");
  EXPECT_EQ(found[1].near_call, "UF1S");
  EXPECT_EQ(found[1].near_copies, 1);
  // Two characters off: another reading, not a near one.
  EXPECT_EQ(found[2].near_copies, 0);
  EXPECT_EQ(found[3].near_copies, 0);
  EXPECT_TRUE(found[3].near_call.empty());
}

TEST(CallFinder, TheCallSentToIsNeverTheSender) {
  EXPECT_EQ(find_calls("test dk9iw 5nn 39 "), V{});
  EXPECT_EQ(find_calls("tu dl1abc tu "), V{});
  EXPECT_EQ(find_calls("cq dk9iw 599 "), V{});
  EXPECT_EQ(find_calls("cq dl1abc r 5nn "), V{});
  EXPECT_EQ(find_calls("test dl1abc ur 599 "), V{});
  // A call followed by "de" is the one called.
  EXPECT_EQ(find_calls("tu w1aw de dl1abc k"), V{"DL1ABC:DX"});
  // "tu" after a CQ that ended on its call twice opens the runner's next
  // over, as a silence there would have; once, or without "cq", the call
  // is still the one thanked.
  EXPECT_EQ(find_calls("cq test ua2zs ua2zs tu ua2zs test "), V({"UA2ZS:CQx2", "UA2ZS:CQ"}));
  EXPECT_EQ(find_calls("cq test ua2zs tu "), V{});
  EXPECT_EQ(find_calls("test ua2zs ua2zs tu "), V{});
  EXPECT_EQ(find_calls("cq test ua2zs ua2zs 5nn 14 "), V{});
}

TEST(CallFinder, AReportCopiedBadlyStillMarksTheCallSentTo) {
  for (const char* report : {"5mn", "5rn", "~nn", "5in", "hnn", "6nn", "5n", "5nn267", "5nd", "589",
                             "enn", "559", "nn", "nn127", "5ng1382", "nr"})
    EXPECT_EQ(find_calls(std::string("cq test n3bbi n3bbi ") + report + " 983 "), V{}) << report;
  // Not reports: the call before them is the runner's.
  for (const char* word : {"k", "test", "e5", "73"})
    EXPECT_EQ(find_calls(std::string("cq test n3bbi ") + word + " "), V{"N3BBI:CQ"}) << word;
}

TEST(CallFinder, AShortWordThenASerialIsAnExchange) {
  for (const char* text :
       {"cq test yo3wu nm 730 ", "tu lz1kw test dd6vl 5mm 1179 ", "test w2rtm hn 443 ",
        "test oh8r hdn 742 ", "test k3pg 5im 2~4 ", "dg test ja1kzh ja1kzh 5see eo4 "}) {
    const auto found = find_calls(text);
    for (const auto& c : found)
      EXPECT_EQ(c, "LZ1KW:CQ") << text;
  }
  // Without a serial after it the short word is an ordinary one.
  EXPECT_EQ(find_calls("cq test yo3wu nm k "), V{"YO3WU:CQ"});
  EXPECT_EQ(find_calls("cq test yo3wu nm"), V{"YO3WU:CQ"});
  EXPECT_EQ(find_calls("cq test yo3wu 5see k "), V{"YO3WU:CQ"});
  EXPECT_EQ(find_calls("cq test yo3wu test5 k "), V{"YO3WU:CQ"});
  EXPECT_EQ(find_calls("cq test yo3wu xy yo3wu test "), V({"YO3WU:CQ", "YO3WU:CQ"}));
  // Words of an over are no doubt: decided at once.
  CallFinder f;
  EXPECT_EQ(find_calls(f, "cq test yo3wu pse ", false), V{"YO3WU:CQ"});
}

TEST(CallFinder, ACallCopiedTwoWaysIsOneSending) {
  // The caller's call and the runner's bust of it, then the report.
  EXPECT_EQ(find_calls("tu s53xm test kf7f kf7h 5nn 13 "), V{"S53XM:CQ"});
  // The runner's call copied two ways: both reported, each with its copies.
  EXPECT_EQ(find_calls("cq test g3xyg g3xyz g3xyz test "), V({"G3XYG:CQ", "G3XYZ:CQx2"}));
  // A copy too garbled to be a call is part of the sending too.
  EXPECT_EQ(find_calls("cq test dl7at dlzat 5nn 853 "), V{});
  EXPECT_EQ(find_calls("cq test kc3txu kc3t~u 5nn 550 "), V{});
  // The report run on to the call.
  EXPECT_EQ(find_calls("cq test w3zx w3zx5nn 715 "), V{});
  // Three characters apart: another station, and the first one's over ends.
  EXPECT_EQ(find_calls("cq test g3xyz dl1abc 5nn "), V{"G3XYZ:CQ"});
}

TEST(CallFinder, WordsRunTogetherAreTakenApart) {
  // A word space lost, or copied as a dit or a dah.
  EXPECT_EQ(find_calls("cq test bh4wpnebh4wpn kd2bpj "), V{"BH4WPN:CQx2"});
  EXPECT_EQ(find_calls("cq test bh4wpnbh4wpn k "), V{"BH4WPN:CQx2"});
  EXPECT_EQ(find_calls("cq testdl1abc k "), V{"DL1ABC:CQ"});
  EXPECT_EQ(find_calls("tu 5nn 23 tuve7fh test "), V{"VE7FH:CQ"});
  EXPECT_EQ(find_calls("tu ve7fhtest "), V{"VE7FH:CQ"});
  // "cq test" run together, one of its two letters misread: still a CQ,
  // decided on the silence after its call twice.
  for (const char* text : {"cqtest dl6jh dl6jh ", "catest dl6jh dl6jh ", "kqtest dl6jh dl6jh "}) {
    CallFinder f;
    find_calls(f, text, false);
    EXPECT_TRUE(f.waiting()) << text;
  }
  EXPECT_EQ(find_calls("catest dl6jh k "), V{"DL6JH:CQ"});
  // Neither letter of "cq", or a longer word: no cue.
  EXPECT_EQ(find_calls("latest dl6jh k "), V{});
  EXPECT_EQ(find_calls("cqatest dl6jh k "), V{});
  // The parts keep their rules: a run-on call sent to is still sent to.
  EXPECT_EQ(find_calls("tu s53xm test dk9iwedk9iw 5nn 14 "), V{"S53XM:CQ"});
  // Not two copies of one call, or another character between: no split.
  EXPECT_EQ(find_calls("cq test dl1abcxdl1abc k "), V{});
  EXPECT_EQ(find_calls("cq test dl1abcedl1abd k "), V{});
}

TEST(CallFinder, ACallMerelyRepeatedIsNotSpotted) {
  EXPECT_EQ(find_calls("ve3xyz 5nn 14 ve3xyz "), V{});
  EXPECT_EQ(find_calls("g4abc g4abc "), V{});
  EXPECT_EQ(find_calls("dl1abc es w1aw ur rst 599 "), V{});
  EXPECT_EQ(find_calls("dk9iw dk9iw dk9iw k dk9iw "), V{});
}

TEST(CallFinder, Beacons) {
  EXPECT_EQ(find_calls("vvv de dl0abc/b"), V{"DL0ABC/B:BEACON"});
  EXPECT_EQ(find_calls("vvv vvv de db0abc locator jo31 "), V{"DB0ABC:BEACON"});
  EXPECT_EQ(find_calls("beacon dk0abc "), V{"DK0ABC:BEACON"});
  EXPECT_EQ(find_calls("de dl0abc/b "), V{"DL0ABC/B:BEACON"});
  // The NCDXF/IARU beacons send their call alone.
  EXPECT_EQ(find_calls("yv5b ------- "), V{"YV5B:NCDXF B"});
}

TEST(CallFinder, TheBustAndTheRightCallAreBothReported) {
  // The finder reports what was sent; the judge picks between them.
  EXPECT_EQ(find_calls("cq test g3xyg g3xyg test e e cq test g3xyz g3xyz test "),
            V({"G3XYG:CQx2", "G3XYZ:CQx2"}));
}

TEST(CallFinder, GarbledWordsAroundMakeACopyUnclean) {
  CallFinder f;
  std::vector<FoundCall> found;
  f.feed("cq test dl1abc k tu~ cq dl1abc t_t ", found);
  f.flush(found);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_TRUE(found[0].clean);
  EXPECT_FALSE(found[1].clean);
}

TEST(CallFinder, DecoderStringsOfAnyLength) {
  CallFinder f;
  std::vector<FoundCall> found;
  for (const char* s : {"c", "q", " ", "t", "e", "s", "t", " ", "d", "l", "1", "a", "b", "c", " "})
    f.feed(s, found);
  EXPECT_TRUE(found.empty());  // held until the next word decides it
  EXPECT_EQ(f.feed("k", found), 0);
  EXPECT_EQ(f.feed(" ", found), 1);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].call, "DL1ABC");
  EXPECT_EQ(found[0].type, SpotType::kCq);
  // After "de" the call is out at its word space: nothing may follow.
  found.clear();
  for (const char* s : {"d", "e", " ", "w", "1", "a", "w"})
    f.feed(s, found);
  EXPECT_TRUE(found.empty());  // not before its word space
  EXPECT_EQ(f.feed(" ", found), 1);
  EXPECT_EQ(found.at(0).call, "W1AW");
  // Whole strings, upper case and line ends work as well.
  CallFinder g;
  found.clear();
  EXPECT_EQ(g.feed("CQ TEST DE  SP9XYZ\nk ", found), 1);
  EXPECT_EQ(found.at(0).call, "SP9XYZ");
  EXPECT_EQ(found.at(0).type, SpotType::kCq);
}

TEST(CallFinder, GarbageBetweenDoesNotMakeCalls) {
  EXPECT_EQ(find_calls("e5ee e5ee tttt ~ _ de 5nn de 599 de 100w 14mhz 14mhz "), V{});
  // A word far too long is one word, not a call (nor a call's tail).
  EXPECT_EQ(find_calls("de eeeeeeeeeeeeeeeeeeeeeeeeeeedl1abc "), V{});
}

TEST(CallFinder, EverySendingIsReported) {
  // A station calling for hours: each sending, for the judge to count.
  CallFinder f;
  std::vector<FoundCall> found;
  int reported = 0;
  for (int i = 0; i < 20000; i++) {
    found.clear();
    reported += f.feed("cq test dl1abc test ", found);
  }
  EXPECT_EQ(reported, 20000);
  EXPECT_EQ(f.words(), 80000);
  static_assert(sizeof(CallFinder) < 1024, "fixed size");
}

// A CQ that ends on its call twice and falls silent is decided on the
// silence; anything less certain waits for the next word as before.
TEST(CallFinder, ACqEndingOnItsCallTwiceIsDecidedOnSilence) {
  CallFinder f;
  EXPECT_EQ(find_calls(f, "cq test g0mbv g0mbv ", false), V{});
  EXPECT_TRUE(f.waiting());
  std::vector<FoundCall> found;
  EXPECT_EQ(f.quiet(found), 1);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].call, "G0MBV");
  EXPECT_EQ(found[0].type, SpotType::kCq);
  EXPECT_EQ(found[0].copies, 2);
  EXPECT_TRUE(found[0].after_cq);
  EXPECT_TRUE(found[0].clean);
  // Decided once: neither the silence going on nor the next CQ's first word
  // reports that sending again; the next CQ is a sending of its own.
  EXPECT_FALSE(f.waiting());
  EXPECT_EQ(f.quiet(found), 0);
  EXPECT_EQ(find_calls(f, "cq test g0mbv g0mbit ", false), V{});
  EXPECT_FALSE(f.waiting());  // one identical copy: not enough
  EXPECT_EQ(find_calls(f, "cq "), V({"G0MBV:CQ", "G0MBIT:CQ"}));
  // Two readings, one of them twice, after "cq".
  CallFinder g;
  find_calls(g, "cq test g0mbit g0mbv g0mbv ", false);
  EXPECT_TRUE(g.waiting());
}

TEST(CallFinder, OnlyACqEndingOnItsCallTwiceWaitsForSilence) {
  for (const char* text : {
           "cq test g0mbv ",       // one copy
           "test g0mbv g0mbv ",    // no "cq" (a runner's "tu ... test" or a caller's)
           "cq test g0mbv g0mbv",  // the word has not ended
           "cq test g0mbv nm ",    // a short word in doubt
           "cq de g0mbv g0mbv ",   // after "de": reported copy by copy
           "tu g0mbv g0mbv ",      // after "tu"
           "g0mbv g0mbv ",         // no cue
           "cq test g0mbv g0mbv 5nn ",
       }) {
    CallFinder f;
    find_calls(f, text, false);
    EXPECT_FALSE(f.waiting()) << text;
    std::vector<FoundCall> found;
    const bool was_held = f.flush(found) > 0;
    CallFinder h;
    find_calls(h, text, false);
    std::vector<FoundCall> quiet;
    EXPECT_EQ(h.quiet(quiet), 0) << text;
    // Silence changes nothing: the end of the text decides as before.
    std::vector<FoundCall> after;
    EXPECT_EQ(h.flush(after) > 0, was_held) << text;
  }
}

TEST(CallFinder, ResetForgetsTheText) {
  CallFinder f;
  std::vector<FoundCall> found;
  f.feed("cq de dl1abc", found);
  f.reset();
  EXPECT_EQ(find_calls(f, " k "), V{});
  EXPECT_EQ(f.words(), 1);
  EXPECT_EQ(find_calls(f, "dl1abc k "), V{});
}

}  // namespace
}  // namespace talvo::spots
