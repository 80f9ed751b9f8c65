// The operator's controls. Events are read without waiting on every tick
// sample: keys go to the transmit queue (Escape stops sending, F1 to F10
// send the lines of txtext.asc), clicks on the status line change the
// transmit speed, the gains and the waterfall pace or end the program, and
// clicks on a cluster's row choose the transmit cluster, select the cluster
// for standard output, set its speed or switch its speed tracking.
#include "tx/keycontrol.h"

#include <cstdio>
#include <cstring>

#include "display/colours.h"
#include "display/geometry.h"
#include "display/screen_output.h"

namespace talvo {
namespace {

struct Console {
  Screen& screen;
  Keyer& keyer;
  Decoder& dec;
  const FrontEnd& fe;
  OperatorSettings& op;
  int textbufwidth;
};

// Draws a status value in place, its whole field cleared first so that a
// shorter value leaves nothing of a longer one behind.
void status_value(Console& c, StatusField f, const char* text) {
  Visual& vis = c.screen.vis;
  const StatusPlace& p = kStatus[f];
  const int y = status_y(c.screen.height);
  vis.SetGCForeground(kBlack);
  vis.DrawBox(p.value_x, y, 8 * p.value_chars, 8);
  vis.SetGCForeground(kStatusColour);
  vis.Puts(p.value_x, y, text);
  vis.Flush();
}

// A click on the status line: the field's value steps down (left) or up
// (right) within its range and is redrawn.
Control status_click(Console& c, int px, int button) {
  char buf[100];
  Keyer& k = c.keyer;
  Screen& s = c.screen;
  OperatorSettings& op = c.op;
  const bool left = button == GII_PBUTTON_LEFT;
  const bool right = button == GII_PBUTTON_RIGHT;
  const int field = status_field_at(px);
  switch (field) {
    case kQuit:
      return left ? Control::kQuit : Control::kGoOn;
    case kTxSpeed:
      if (left && k.txspeed > 20) k.txspeed = (k.txspeed - 10) / 10 * 10;
      if (right && k.txspeed <= 299) k.txspeed = (k.txspeed + 10) / 10 * 10;
      std::snprintf(buf, sizeof buf, "%d  ", k.txspeed);
      break;
    case kIngain:
      if (left && op.ingain > 0.2) op.ingain -= 0.1;
      if (right && op.ingain < 10) op.ingain += 0.1;
      std::snprintf(buf, sizeof buf, "%.1f", op.ingain);
      break;
    case kDisplayGain:
      if (left && s.wgain >= 0.2) s.wgain -= 0.1;
      if (right && s.wgain < 10) s.wgain += 0.1;
      std::snprintf(buf, sizeof buf, "%.1f", s.wgain);
      break;
    case kWaterSpeed:
      if (left && op.wasserdelay <= 499) op.wasserdelay += 10;
      if (right && op.wasserdelay > 100) op.wasserdelay -= 10;
      std::snprintf(buf, sizeof buf, "%d ", 20000 / op.wasserdelay);
      break;
    default:
      return Control::kGoOn;
  }
  status_value(c, static_cast<StatusField>(field), buf);
  return Control::kGoOn;
}

void toggle_tracking(Console& c, int q) {
  ClusterDecoder& d = c.dec[q];
  d.textcolor = d.sync_on == 1 ? kColourFixedSpeed : kColourTracking;
  redraw_text_line(c.screen, d, q);
  d.sync_on = d.sync_on == 1 ? 0 : 1;
}

void cluster_click(Console& c, int q, int px, int button) {
  ClusterDecoder& d = c.dec[q];
  Visual& vis = c.screen.vis;
  const int w = c.screen.wasserwidth;
  const int h = c.screen.height;
  const bool left = button == GII_PBUTTON_LEFT;
  const bool right = button == GII_PBUTTON_RIGHT;
  char buf[100];
  if (px <= 39 && left) {
    // The transmit cluster: its label turns light green, the old one blue.
    vis.SetGCForeground(kLabelColour);
    std::snprintf(buf, sizeof buf, "%d", c.fe.centre_hz(c.keyer.txch));
    vis.Puts(5, row_y(h, c.keyer.txch), buf);
    vis.SetGCForeground(kTxLabelColour);
    std::snprintf(buf, sizeof buf, "%d", c.fe.centre_hz(q));
    vis.Puts(5, row_y(h, q), buf);
    vis.Flush();
    c.keyer.txch = q;
  } else if (px < w) {
    if (right) d.decchannel = d.decchannel == kShown ? kSelected : kShown;
  } else if (px == w) {
    if (right) toggle_tracking(c, q);
  } else if (px <= w + 23) {
    if (left) {
      if (d.sync_on != 0)
        d.speed = 100;
      else if (d.speed > 20)
        d.speed = (d.speed - 10) / 10 * 10;
    } else if (right && d.sync_on == 0) {
      if (d.speed <= 299) d.speed = (d.speed + 10) / 10 * 10;
    } else {
      return;
    }
    d.dit = d.freqmod / d.speed;
    d.pausemean = d.dit / 2;
    redraw_speed_figure(c.screen, d, q, d.freqmod / d.dit);
    vis.Flush();
  } else if (right) {
    toggle_tracking(c, q);
  }
}

Control click(Console& c, int button) {
  const int px = c.op.px, py = c.op.py, h = c.screen.height;
  if (py >= h - kStatusClickBand) return status_click(c, px, button);
  const int q = cluster_at(h, py);
  if (q >= 0 && q < c.dec.clusters()) cluster_click(c, q, px, button);
  return Control::kGoOn;
}

void key(Console& c, unsigned sym) {
  Keyer& k = c.keyer;
  Visual& vis = c.screen.vis;
  if (sym == GIIUC_Escape) {
    txclear(k, vis, c.textbufwidth);
  } else if (sym >= GIIK_F1 && sym <= GIIK_F1 + 9) {
    txclear(k, vis, c.textbufwidth);
    // A text longer than the queue sends what fits.
    const char* text = c.op.F_text[sym - GIIK_F1];
    const std::size_t len = std::strlen(text);
    for (std::size_t i = 0; i < len; i++)
      txinqueue(k, vis, text[i]);
  } else {
    txinqueue(k, vis, static_cast<char>(sym & 0xFF));
  }
}

}  // namespace

Control keycontrol(Screen& screen, Keyer& keyer, Decoder& dec, const FrontEnd& fe,
                   OperatorSettings& op, int textbufwidth) {
  Console c{screen, keyer, dec, fe, op, textbufwidth};
  Visual& vis = screen.vis;
  vis.EventPoll();
  // Exactly the events queued now; later ones wait for the next call.
  for (int evnr = vis.EventsQueued(); evnr > 0; evnr--) {
    const gii_event event = vis.EventRead();
    switch (event.type) {
      case evWindowClosed:
        return Control::kQuit;
      case evPtrAbsolute:
        op.px = event.x;
        op.py = event.y;
        break;
      case evPtrButtonPress:
        if (event.button == GII_PBUTTON_LEFT || event.button == GII_PBUTTON_RIGHT) {
          if (click(c, event.button) == Control::kQuit) return Control::kQuit;
        }
        break;
      case evKeyPress:
        key(c, event.sym);
        break;
      default:
        break;
    }
  }
  return Control::kGoOn;
}

}  // namespace talvo
