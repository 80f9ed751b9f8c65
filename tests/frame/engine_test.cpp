// The engine's choices that need no audio: which clusters a span gives, and
// which of two neighbouring copies of a station the summary keeps.
#include "frame/engine.h"

#include <gtest/gtest.h>

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

TEST(Engine, AStationInTwoClustersStaysWhereItsToneIsNearest) {
  // Keyed at 1020 Hz: heard on 1000 and, poorer, on 1050.
  std::vector<ClusterResult> r = {cluster(1000, 1020, "cq de ok1xyz ok1xyz k"),
                                  cluster(1050, 1021, "cq de ok1xyz ok1xyx k")};
  drop_neighbour_copies(r);
  EXPECT_EQ(r[0].text, "cq de ok1xyz ok1xyz k");
  EXPECT_EQ(r[1].text, "");
  // At 1040 Hz the other way round.
  r = {cluster(1000, 1041, "cq de ok1xyz ok1xyx k"), cluster(1050, 1040, "cq de ok1xyz ok1xyz k")};
  drop_neighbour_copies(r);
  EXPECT_EQ(r[0].text, "");
  EXPECT_EQ(r[1].text, "cq de ok1xyz ok1xyz k");
}

TEST(Engine, TwoStationsWithAlikeTextsOnNeighbouringClustersBothStay) {
  std::vector<ClusterResult> r = {cluster(1000, 1002, "cq de aa1a k"),
                                  cluster(1050, 1049, "cq de bb2b k")};
  drop_neighbour_copies(r);
  EXPECT_EQ(r[0].text, "cq de aa1a k");
  EXPECT_EQ(r[1].text, "cq de bb2b k");
  // One tone, but different texts: two clusters that heard different things.
  r = {cluster(1000, 1020, "cq de aa1a k"), cluster(1050, 1020, "tnx fer qso 73 sk")};
  drop_neighbour_copies(r);
  EXPECT_FALSE(r[0].text.empty());
  EXPECT_FALSE(r[1].text.empty());
}

}  // namespace
}  // namespace talvo
