// Callsign recognition and the call finder: real-shaped calls against the
// look-alikes of ordinary CW traffic, the rules that make a call count, its
// CQ/DX type, and text arriving a character at a time as the decoder sends it.
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
                                  {"f/g4abc", "F/G4ABC"}};
  for (const auto& c : calls) {
    EXPECT_EQ(callsign_of(c[0]), c[1]) << c[0];
    EXPECT_TRUE(is_callsign(c[0])) << c[0];
  }
}

TEST(Callsign, LookAlikesAreNotCalls) {
  const char* const words[] = {"5nn",        "599",
                               "tu",         "rst",
                               "73",         "88",
                               "cq",         "de",
                               "test",       "qrz",
                               "k",          "bk",
                               "sk",         "ur",
                               "es",         "gl",
                               "fer",        "pse",
                               "tnx",        "qsl",
                               "agn",        "r",
                               "hw",         "dr",
                               "om",         "wx",
                               "rig",        "ant",
                               "op",         "name",
                               "qth",        "100w",
                               "14mhz",      "5w",
                               "1a",         "a1",
                               "e5ee",       "tttt",
                               "~",          "_",
                               "",           "dl1",
                               "dl1abcde",   "dlab1abc",
                               "1234",       "abc",
                               "q5abc",      "t5tt",
                               "0a1aa",      "dl1abc/",
                               "/dl1abc",    "dl1abc//p",
                               "dl1abc/xyz", "a/b/c/d",
                               "dl1a_c",     "dl1abc~",
                               "599dl1abc",  "qrp/dl1abc/p/p"};
  for (const char* w : words) {
    EXPECT_EQ(callsign_of(w), "") << w;
    EXPECT_FALSE(is_callsign(w)) << w;
  }
}

// Feeds `text` a character at a time, as the decoder sends it (with "cq"
// as one string where it stands for the run-together pattern), and returns
// what the finder reported, as "CALL:CQ" / "CALL:DX".
std::vector<std::string> find_calls(CallFinder& f, const std::string& text) {
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
  std::vector<std::string> r;
  for (const auto& c : found)
    r.push_back(c.call + ":" + type_name(c.type));
  return r;
}

std::vector<std::string> find_calls(const std::string& text) {
  CallFinder f;
  return find_calls(f, text);
}

using V = std::vector<std::string>;

TEST(CallFinder, CallAfterDeCounts) {
  EXPECT_EQ(find_calls("ve3xyz de w1aw 5nn tu "), V{"W1AW:DX"});
  EXPECT_EQ(find_calls("qrz de dl1abc/p k "), V{"DL1ABC/P:DX"});
}

TEST(CallFinder, CallAfterCqOrTestCountsAsCq) {
  EXPECT_EQ(find_calls("cq cq de dl1abc dl1abc k "), V{"DL1ABC:CQ"});
  EXPECT_EQ(find_calls("cq cq cq de dl1abc "), V{"DL1ABC:CQ"});
  EXPECT_EQ(find_calls("cq dl1abc "), V{"DL1ABC:CQ"});
  EXPECT_EQ(find_calls("test dl1abc "), V{"DL1ABC:CQ"});
  EXPECT_EQ(find_calls("test test de ok1xyz "), V{"OK1XYZ:CQ"});
  EXPECT_EQ(find_calls("cq dx de hb9/dl7xyz hb9/dl7xyz k "), V{"HB9/DL7XYZ:CQ"});
}

TEST(CallFinder, CallSeenTwiceCounts) {
  EXPECT_EQ(find_calls("ve3xyz 5nn tu ve3xyz "), V{"VE3XYZ:DX"});
  EXPECT_EQ(find_calls("g4abc g4abc "), V{"G4ABC:DX"});
}

TEST(CallFinder, CallSeenOnceAloneDoesNotCount) {
  EXPECT_EQ(find_calls("ve3xyz 5nn tu "), V{});
  EXPECT_EQ(find_calls("dl1abc es w1aw ur rst 599 "), V{});
  // "de" must come right before the call.
  EXPECT_EQ(find_calls("de es dl1abc "), V{});
}

TEST(CallFinder, AnsweringStationIsDxEvenRightAfterACq) {
  // The CQ is taken up without an end-of-over word: the second call closes it.
  EXPECT_EQ(find_calls("cq de dl1abc dl1abc dl1abc de w1aw w1aw "), V({"DL1ABC:CQ", "W1AW:DX"}));
  // k ends the over: the next "de" is an answer.
  EXPECT_EQ(find_calls("cq de dl1abc k de w1aw "), V({"DL1ABC:CQ", "W1AW:DX"}));
}

TEST(CallFinder, CqReachIsBounded) {
  // More than kCqReach words after "cq", a call after "de" is DX.
  EXPECT_EQ(find_calls("cq a b c d e de dl1abc "), V{"DL1ABC:DX"});
  EXPECT_EQ(find_calls("cq a b c d de dl1abc "), V{"DL1ABC:CQ"});
}

TEST(CallFinder, ReportedOnceThenAgainOnlyWhenItTurnsCq) {
  CallFinder f;
  EXPECT_EQ(find_calls(f, "ve3xyz de w1aw 5nn tu "), V{"W1AW:DX"});
  EXPECT_EQ(find_calls(f, "w1aw w1aw "), V{});
  EXPECT_EQ(find_calls(f, "cq cq de w1aw w1aw k "), V{"W1AW:CQ"});
  EXPECT_EQ(find_calls(f, "cq de w1aw k "), V{});
  EXPECT_EQ(find_calls(f, "dl1abc de w1aw "), V{});
}

TEST(CallFinder, DecoderStringsOfAnyLength) {
  CallFinder f;
  std::vector<FoundCall> found;
  for (const char* s : {"c", "q", " ", "cq", " ", "d", "e", " ", "d", "l", "1", "a", "b", "c"})
    f.feed(s, found);
  EXPECT_TRUE(found.empty());  // the call is not complete before its word space
  EXPECT_EQ(f.feed(" ", found), 1);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].call, "DL1ABC");
  EXPECT_EQ(found[0].type, SpotType::kCq);
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

TEST(CallFinder, SightingsExpireAfterTheWindow) {
  std::string filler;
  for (int i = 0; i < CallFinder::kWindowWords; i++)
    filler += "e ";
  EXPECT_EQ(find_calls("dl1abc " + filler + "dl1abc "), V{});
  // One word less between them and the two sightings meet.
  EXPECT_EQ(find_calls("dl1abc " + filler.substr(2) + "dl1abc "), V{"DL1ABC:DX"});
}

TEST(CallFinder, ReportedAgainOnceTheReportLeftTheWindow) {
  CallFinder f;
  std::string filler;
  for (int i = 0; i < CallFinder::kWindowWords; i++)
    filler += "e ";
  EXPECT_EQ(find_calls(f, "cq de dl1abc k "), V{"DL1ABC:CQ"});
  EXPECT_EQ(find_calls(f, filler + "cq de dl1abc k "), V{"DL1ABC:CQ"});
}

TEST(CallFinder, MemoryStaysBoundedOnAnEndlessStream) {
  // Thousands of different calls, each counted: the finder's size is fixed,
  // it keeps reporting, and old calls come back after the window.
  CallFinder f;
  std::vector<FoundCall> found;
  int reported = 0;
  for (int i = 0; i < 20000; i++) {
    const std::string call = "dl" + std::to_string(i % 10) + static_cast<char>('a' + i / 10 % 26) +
                             static_cast<char>('a' + i / 260 % 26);
    found.clear();
    reported += f.feed(("de " + call + " ").c_str(), found);
  }
  EXPECT_EQ(f.words(), 40000);
  // 6760 different calls in turn: each one's earlier report is long gone.
  EXPECT_EQ(reported, 20000);
  static_assert(sizeof(CallFinder) < 32 * 1024, "fixed size");
}

TEST(CallFinder, ResetForgetsTheText) {
  CallFinder f;
  std::vector<FoundCall> found;
  f.feed("dl1abc de", found);
  f.reset();
  EXPECT_EQ(find_calls(f, " dl1abc "), V{});
  EXPECT_EQ(f.words(), 1);
}

}  // namespace
}  // namespace talvo::spots
