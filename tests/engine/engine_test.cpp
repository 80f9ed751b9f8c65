// The engine's choices that need no audio: which clusters a span gives, and
// which of two neighbouring copies of a station the summary keeps.
#include "engine/engine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talvo {
namespace {

ClusterResult cluster(int centre, double tone, const std::string& text) {
  ClusterResult c;
  c.center_hz = centre;
  c.tone_hz = tone;
  c.text = text;
  return c;
}

TEST(Engine, SpanCentresAreTheMultiplesOf50Within) {
  EXPECT_EQ(span_centres(300, 2700).size(), 49u);
  EXPECT_EQ(span_centres(300, 2700).front(), 300);
  EXPECT_EQ(span_centres(300, 2700).back(), 2700);
  EXPECT_EQ(span_centres(1010, 1190), (std::vector<int>{1050, 1100, 1150}));
  EXPECT_EQ(span_centres(-120, 60), (std::vector<int>{-100, -50, 0, 50}));
  EXPECT_EQ(nine_around(700).front(), 500);
  EXPECT_EQ(nine_around(700).back(), 900);
}

// Two neighbouring clusters, 1000 and 1050 Hz, with the tone each keyed on
// and its text, and which of the two keep their text.
struct Pair {
  const char* what;
  double tone0;
  std::string text0;
  double tone1;
  std::string text1;
  bool keep0, keep1;
};

void expect_kept(const Pair& p) {
  std::vector<ClusterResult> r = {cluster(1000, p.tone0, p.text0), cluster(1050, p.tone1, p.text1)};
  drop_neighbour_copies(r);
  EXPECT_EQ(r[0].text, p.keep0 ? p.text0 : "") << p.what;
  EXPECT_EQ(r[1].text, p.keep1 ? p.text1 : "") << p.what;
}

TEST(Engine, AStationInTwoClustersStaysWhereItsToneIsNearest) {
  const Pair pairs[] = {
      // Keyed at 1020 Hz: heard on 1000 and, poorer, on 1050.
      {"1020 Hz", 1020, "cq de ok1xyz ok1xyz k", 1021, "cq de ok1xyz ok1xyx k", true, false},
      // At 1040 Hz the other way round.
      {"1040 Hz", 1041, "cq de ok1xyz ok1xyx k", 1040, "cq de ok1xyz ok1xyz k", false, true},
  };
  for (const auto& p : pairs)
    expect_kept(p);
}

TEST(Engine, TwoStationsWithAlikeTextsOnNeighbouringClustersBothStay) {
  const Pair pairs[] = {
      {"two tones", 1002, "cq de aa1a k", 1049, "cq de bb2b k", true, true},
      // One tone, but different texts: two clusters that heard different things.
      {"one tone", 1020, "cq de aa1a k", 1020, "tnx fer qso 73 sk", true, true},
  };
  for (const auto& p : pairs)
    expect_kept(p);
}

}  // namespace
}  // namespace talvo
