// The operator's controls, with events put in the window's queue.
#include "tx/keycontrol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "display/colours.h"
#include "display/geometry.h"
#include "frame/startup.h"
#include "rx/classic.h"
#include "support/headless.h"
#include "support/screen_read.h"

namespace talvo {
namespace {

struct Rig {
  Station st;
  Rig() {
    test::headless();
    st.set.centerfreq = 700;
    fix_layout(st);
    st.screen.vis.make(1200, 480);
    make_receiver(st);
    std::strcpy(st.op.F_text[0], "cq de test");
    std::strcpy(st.op.F_text[1], "73");
  }
  Control event(gii_event e) {
    st.screen.vis.inject(e);
    return keycontrol(st.screen, st.keyer, *st.dec, *st.fe, st.op, st.textbufwidth);
  }
  // Cluster by its centre channel, -20 .. 20.
  ClusterDecoder& at(int c) { return (*st.dec)[cluster_of(c)]; }
  // `times` clicks at (x, y); what the last one asked for.
  Control click(int x, int y, int button, int times = 1) {
    Control last = Control::kGoOn;
    for (int i = 0; i < times; i++) {
      gii_event m;
      m.type = evPtrAbsolute;
      m.x = x;
      m.y = y;
      st.screen.vis.inject(m);
      gii_event b;
      b.type = evPtrButtonPress;
      b.button = button;
      last = event(b);
    }
    return last;
  }
  void press(unsigned sym) {
    gii_event k;
    k.type = evKeyPress;
    k.sym = sym;
    event(k);
  }
  std::string queued() const {
    std::string s;
    for (int i = st.keyer.keybuffront; i != st.keyer.keybuftail; i = (i + 1) % st.keyer.ring)
      s.push_back(st.keyer.txtextbuf[i]);
    return s;
  }
  // A status field's value as the frame shows it, read back glyph by glyph.
  std::string shown(StatusField f) const {
    return test::read_text(st.screen.vis, kStatus[f].value_x, status_y(480), kStatus[f].value_chars,
                           kStatusColour);
  }
};

TEST(Keycontrol, TypedKeysQueueAndFunctionKeysSendTheirText) {
  Rig g;
  g.press('c');
  g.press('Q');
  EXPECT_EQ(g.queued(), "cQ");
  g.press(GIIK_F1);  // clears, then sends row 0
  EXPECT_EQ(g.queued(), "cq de test");
  g.press(GIIK_F1 + 2);  // F3: an empty row only clears
  EXPECT_EQ(g.queued(), "");
  g.press(GIIK_F1 + 1);
  g.press(GIIUC_Escape);
  EXPECT_EQ(g.queued(), "");
  g.press(GIIK_F1 + 10);  // F11: its low byte, 0x0B, keys as a space
  ASSERT_EQ(g.queued().size(), 1u);
  EXPECT_EQ(g.st.keyer.keybuf[g.st.keyer.keybuffront], 0);
}

TEST(Keycontrol, FunctionKeyTextLongerThanTheQueueSendsWhatFits) {
  Rig g;
  std::memset(g.st.op.F_text[4], 'e', 200);
  g.st.op.F_text[4][200] = '\0';
  g.press(GIIK_F1 + 4);
  EXPECT_EQ(g.queued(), std::string(94, 'e'));
}

TEST(Keycontrol, StatusLineFieldsStayInRangeAndRedraw) {
  Rig g;
  g.click(200, 470, GII_PBUTTON_LEFT, 12);
  EXPECT_EQ(g.st.keyer.txspeed, 20);
  EXPECT_EQ(g.shown(kTxSpeed), "20   ");
  g.click(200, 470, GII_PBUTTON_RIGHT, 40);
  EXPECT_EQ(g.st.keyer.txspeed, 300);
  EXPECT_EQ(g.shown(kTxSpeed), "300  ");

  g.click(300, 470, GII_PBUTTON_LEFT, 12);
  EXPECT_EQ(g.shown(kIngain), "0.1 ");
  g.click(300, 470, GII_PBUTTON_RIGHT, 120);
  EXPECT_EQ(g.shown(kIngain), "10.1");
  g.click(300, 470, GII_PBUTTON_LEFT, 2);
  // 10.0 becoming 9.9 leaves nothing of the longer value.
  EXPECT_EQ(g.shown(kIngain), "9.9 ");

  g.click(530, 470, GII_PBUTTON_LEFT);
  EXPECT_EQ(g.st.op.wasserdelay, 210);
  EXPECT_EQ(g.shown(kWaterSpeed), "95  ");
  g.click(530, 470, GII_PBUTTON_RIGHT, 2);
  EXPECT_EQ(g.st.op.wasserdelay, 190);
  EXPECT_EQ(g.shown(kWaterSpeed), "105 ");

  g.click(400, 470, GII_PBUTTON_RIGHT);
  EXPECT_DOUBLE_EQ(g.st.screen.wgain, 1.1);
  EXPECT_EQ(g.shown(kDisplayGain), "1.1 ");
}

TEST(Keycontrol, QuitFieldEndsTheProgramOnALeftClickOnly) {
  Rig g;
  EXPECT_EQ(g.click(30, 463, GII_PBUTTON_RIGHT), Control::kGoOn);  // nothing
  EXPECT_EQ(g.click(50, 463, GII_PBUTTON_LEFT), Control::kGoOn);   // past the field
  EXPECT_EQ(g.click(21, 463, GII_PBUTTON_LEFT), Control::kQuit);
  gii_event closed;
  closed.type = evWindowClosed;
  EXPECT_EQ(g.event(closed), Control::kQuit);
}

TEST(Keycontrol, ChannelRows) {
  Rig g;
  // Row of cluster 5: y 201 .. 208 (the strip at 200 belongs to the row above).
  g.click(20, 204, GII_PBUTTON_LEFT);
  EXPECT_EQ(g.st.keyer.txch, cluster_of(5));
  // Its label redrawn in the transmit cluster's colour.
  EXPECT_EQ(test::read_text(g.st.screen.vis, 5, 195, 3, kTxLabelColour), "750");
  g.click(100, 204, GII_PBUTTON_RIGHT);
  EXPECT_EQ(g.at(5).decchannel, kSelected);
  g.click(100, 204, GII_PBUTTON_RIGHT);
  EXPECT_EQ(g.at(5).decchannel, kShown);
  g.click(100, 228, GII_PBUTTON_RIGHT);  // row 2: not a cluster
  for (int c = -20; c <= 20; c += 5)
    EXPECT_EQ(g.at(c).decchannel, kShown);

  // Speed figure: with tracking on a left click sets 100.
  g.at(5).speed = 180;
  g.click(360, 204, GII_PBUTTON_LEFT);
  EXPECT_EQ(g.at(5).speed, 100);
  EXPECT_EQ(g.at(5).dit, 9000 / 100);
  EXPECT_EQ(g.at(5).pausemean, 45);
  g.click(360, 204, GII_PBUTTON_RIGHT);  // only with tracking off
  EXPECT_EQ(g.at(5).speed, 100);

  // A right click on the text switches tracking off (yellow), and on again.
  g.click(600, 204, GII_PBUTTON_RIGHT);
  EXPECT_EQ(g.at(5).sync_on, 0);
  EXPECT_EQ(g.at(5).textcolor, kColourFixedSpeed);
  g.click(360, 204, GII_PBUTTON_RIGHT);
  EXPECT_EQ(g.at(5).speed, 110);
  EXPECT_EQ(g.at(5).dit, 9000 / 110);
  g.click(360, 204, GII_PBUTTON_LEFT, 2);
  EXPECT_EQ(g.at(5).speed, 90);
  g.click(350, 204, GII_PBUTTON_RIGHT);  // exactly at the figure's edge: tracking
  EXPECT_EQ(g.at(5).sync_on, 1);
  EXPECT_EQ(g.at(5).textcolor, kColourTracking);
}

}  // namespace
}  // namespace talvo
