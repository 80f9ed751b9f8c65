// Decoded strings as the operator sees them: standard output for selected
// clusters, the echo above the waterfall, the speed figure, the text line in
// the bitmap font and the cursor mark.
#include "display/screen_output.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "display/colours.h"
#include "support/headless.h"
#include "support/process.h"
#include "support/screen_read.h"

namespace talvo {
namespace {

struct Rig {
  Screen s;
  Decoder dec{Rules::kClassic, std::vector<int>(9, 700), 100};
  FILE* out = std::tmpfile();
  Rig() {
    test::headless();
    s.vis.make(1200, 480);
    EXPECT_TRUE(psfloadfont(s.psf, TALVO_FONT, nullptr).ok());
  }
  ~Rig() { std::fclose(out); }
  // Decodes string t on cluster ch with `len` elements, as the decoder does.
  // (Clusters are named by their centre channel, -20 .. 20.)
  ClusterDecoder& at(int ch) { return dec[(ch + 20) / 5]; }
  void put(int ch, const char* t, int len = 0) {
    at(ch).len = len;
    textline_put(at(ch), t, 100);
    ScreenOutput(s, out).print(at(ch), (ch + 20) / 5, t);
  }
  std::string written() { return talvo::test::written_to(out); }
  int count(ggi_pixel colour, int x, int y, int w, int h) const {
    int n = 0;
    for (int yy = y; yy < y + h; yy++)
      for (int xx = x; xx < x + w; xx++)
        n += s.vis.pixel(xx, yy) == colour;
    return n;
  }
};

TEST(ScreenOutput, SelectedClustersGoToStandardOutputInOrder) {
  Rig g;
  g.at(0).decchannel = kSelected;
  g.at(10).decchannel = kSelected;
  g.put(0, "c", 4);
  g.put(10, "e");
  g.put(5, "x", 4);  // not selected
  g.put(0, "q", 4);
  g.put(0, " ");
  EXPECT_EQ(g.written(), "ceq ");
}

TEST(ScreenOutput, TextLineSpeedFigureAndCursorMark) {
  Rig g;
  g.at(0).speed = 123;
  g.put(0, "c", 4);
  g.put(0, "q", 4);
  const int y = 240 - 5;
  // The speed figure "123  " in the built-in font, in the speed colour (its
  // blanks lie under the text line).
  EXPECT_EQ(test::read_text(g.s.vis, 350, y, 3, kColourSpeedFigure), "123");
  // Two characters in white from x 375, then nothing white.
  EXPECT_GT(g.count(kColourTracking, 375, y, 16, 16), 20);
  EXPECT_EQ(g.count(kColourTracking, 391, y, 200, 16), 0);
  // The orange '<' '=' two places right of the cursor (2): x 407 and 415.
  EXPECT_GT(g.count(kCursorColour, 407, y, 16, 16), 8);
  EXPECT_EQ(g.count(kCursorColour, 350, y, 57, 16), 0);
  // A yellow line when tracking is off.
  g.at(0).textcolor = kColourFixedSpeed;
  g.put(0, "x", 4);
  EXPECT_GT(g.count(kColourFixedSpeed, 375, y, 24, 16), 30);
  // Clusters not shown (decchannel 0) draw nothing.
  Rig h;
  h.at(0).decchannel = 0;
  h.put(0, "k", 3);
  EXPECT_EQ(h.count(kColourTracking, 375, y, 200, 16), 0);
}

TEST(ScreenOutput, EchoAboveTheWaterfall) {
  Rig g;
  g.at(-5).decchannel = kSelected;
  g.s.x = 200;
  g.put(-5, "k", 3);  // at x - 5 - 5 x 3 = 180, row 10
  EXPECT_EQ(test::read_text(g.s.vis, 180, 10, 1, kEchoColour), "k");
  EXPECT_EQ(g.count(kEchoColour, 0, 10, 180, 8), 0);
  Rig h;
  h.at(-5).decchannel = kSelected;
  h.s.x = 79;  // near the left edge: x - 10 whatever the length
  h.put(-5, "k", 3);
  EXPECT_EQ(test::read_text(h.s.vis, 69, 10, 1, kEchoColour), "k");
  EXPECT_EQ(h.count(kEchoColour, 0, 10, 69, 8), 0);
}

}  // namespace
}  // namespace talvo
