// The operator's controls. Events are read without waiting on every tick
// sample: keys go to the transmit queue (Escape stops sending, F1 to F10
// send the lines of txtext.asc), clicks on the status line change the
// transmit speed, the gains and the waterfall pace or end the program, and
// clicks on a cluster's row choose the transmit channel, select the cluster
// for standard output, set its speed or switch its speed tracking.
#include "tx/keycontrol.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/station.h"

namespace talvo {
namespace {

// Draws a status value in place, its whole field cleared first so that a
// shorter value leaves nothing of a longer one behind.
void status_value(Station& st, int x, int chars, const char* text) {
  Visual& vis = st.screen.vis;
  vis.SetGCForeground(0);
  vis.DrawBox(x, st.set.height - 15, 8 * chars, 8);
  vis.SetGCForeground(0x808000);
  vis.Puts(x, st.set.height - 15, text);
  vis.Flush();
}

void status_click(Station& st, int px, int button) {
  char buf[100];
  Keyer& k = st.keyer;
  Screen& s = st.screen;
  const bool left = button == GII_PBUTTON_LEFT;
  const bool right = button == GII_PBUTTON_RIGHT;
  if (px >= 21 && px <= 49) {
    if (left) std::exit(0);
  } else if (px >= 171 && px <= 269) {
    if (left && k.txspeed > 20) k.txspeed = (k.txspeed - 10) / 10 * 10;
    if (right && k.txspeed <= 299) k.txspeed = (k.txspeed + 10) / 10 * 10;
    std::snprintf(buf, sizeof buf, "%d  ", k.txspeed);
    status_value(st, 230, 5, buf);
  } else if (px >= 291 && px <= 374) {
    if (left && st.ingain > 0.2) st.ingain -= 0.1;
    if (right && st.ingain < 10) st.ingain += 0.1;
    std::snprintf(buf, sizeof buf, "%.1f", st.ingain);
    status_value(st, 335, 4, buf);
  } else if (px >= 391 && px <= 504) {
    if (left && s.wgain >= 0.2) s.wgain -= 0.1;
    if (right && s.wgain < 10) s.wgain += 0.1;
    std::snprintf(buf, sizeof buf, "%.1f", s.wgain);
    status_value(st, 465, 4, buf);
  } else if (px >= 521 && px <= 634) {
    if (left && st.wasserdelay <= 499) st.wasserdelay += 10;
    if (right && st.wasserdelay > 100) st.wasserdelay -= 10;
    std::snprintf(buf, sizeof buf, "%d ", 20000 / st.wasserdelay);
    status_value(st, 595, 4, buf);
  }
}

void speed_figure(Station& st, int ch) {
  Receiver& r = *st.rx;
  char buf[100];
  st.screen.vis.SetGCForeground(static_cast<ggi_pixel>(r.textspeedcolor[ch]));
  std::snprintf(buf, sizeof buf, "%3d  ", r.freqmod[ch] / r.dit[ch]);
  st.screen.vis.Puts(st.wasserwidth, st.set.height / 2 - 8 * ch - 5, buf);
  st.screen.vis.Flush();
}

void toggle_tracking(Station& st, int ch) {
  Receiver& r = *st.rx;
  r.textcolor[ch] = r.sync_on[ch] == 1 ? 0xFFFF00 : 0xFFFFFF;
  psfSetGCForeground(st.screen.psf, st.screen.vis, static_cast<ggi_pixel>(r.textcolor[ch]));
  psfPuts(st.screen.psf, st.screen.vis, st.wasserwidth + 25, st.set.height / 2 - 8 * ch - 5,
          r.textbuffer[ch].data());
  r.sync_on[ch] = r.sync_on[ch] == 1 ? 0 : 1;
}

void channel_click(Station& st, int ch, int px, int button) {
  Receiver& r = *st.rx;
  Visual& vis = st.screen.vis;
  const int w = st.wasserwidth;
  const bool left = button == GII_PBUTTON_LEFT;
  const bool right = button == GII_PBUTTON_RIGHT;
  char buf[100];
  if (px <= 39 && left) {
    // The transmit channel: its label turns light green, the old one blue.
    vis.SetGCForeground(0x50FF);
    std::snprintf(buf, sizeof buf, "%d", r.txch * freqstep + r.centerfreq);
    vis.Puts(5, st.set.height / 2 - 8 * r.txch - 5, buf);
    vis.SetGCForeground(0xFFD0);
    std::snprintf(buf, sizeof buf, "%d", ch * freqstep + r.centerfreq);
    vis.Puts(5, st.set.height / 2 - 8 * ch - 5, buf);
    vis.Flush();
    r.txch = ch;
  } else if (px < w) {
    if (right) r.decchannel[ch] = r.decchannel[ch] == 2 ? 1 : 2;
  } else if (px == w) {
    if (right) toggle_tracking(st, ch);
  } else if (px <= w + 23) {
    if (left) {
      if (r.sync_on[ch] != 0)
        r.speed[ch] = 100;
      else if (r.speed[ch] > 20)
        r.speed[ch] = (r.speed[ch] - 10) / 10 * 10;
    } else if (right && r.sync_on[ch] == 0) {
      if (r.speed[ch] <= 299) r.speed[ch] = (r.speed[ch] + 10) / 10 * 10;
    } else {
      return;
    }
    r.dit[ch] = r.freqmod[ch] / r.speed[ch];
    r.pausemean[ch] = r.dit[ch] / 2;
    speed_figure(st, ch);
  } else if (right) {
    toggle_tracking(st, ch);
  }
}

void click(Station& st, int button) {
  const int px = st.px, py = st.py, h = st.set.height;
  if (py >= h - 17) {
    status_click(st, px, button);
    return;
  }
  // The row: the cluster whose strip and line lie there.
  int ch = (h / 2 - py) / 8;
  if (py <= h / 2) ch++;
  if (ch % 5 != 0 || ch < -kanaele || ch > kanaele) return;
  channel_click(st, ch, px, button);
}

void key(Station& st, unsigned c) {
  Keyer& k = st.keyer;
  Visual& vis = st.screen.vis;
  if (c == GIIUC_Escape) {
    txclear(k, vis, st.textbufwidth);
  } else if (c >= GIIK_F1 && c <= GIIK_F1 + 9) {
    txclear(k, vis, st.textbufwidth);
    // A text longer than the queue sends what fits.
    const char* text = st.F_text[c - GIIK_F1];
    const std::size_t len = std::strlen(text);
    for (std::size_t i = 0; i < len; i++)
      txinqueue(k, vis, text[i]);
  } else {
    txinqueue(k, vis, static_cast<char>(c & 0xFF));
  }
}

}  // namespace

void keycontrol(Station& st) {
  Visual& vis = st.screen.vis;
  vis.EventPoll();
  // Exactly the events queued now; later ones wait for the next call.
  for (int evnr = vis.EventsQueued(); evnr > 0; evnr--) {
    const gii_event event = vis.EventRead();
    switch (event.type) {
      case evWindowClosed:
        std::exit(0);
      case evPtrAbsolute:
        st.px = event.x;
        st.py = event.y;
        break;
      case evPtrButtonPress:
        if (event.button == GII_PBUTTON_LEFT || event.button == GII_PBUTTON_RIGHT)
          click(st, event.button);
        break;
      case evKeyPress:
        key(st, event.sym);
        break;
      default:
        break;
    }
  }
}

}  // namespace talvo
