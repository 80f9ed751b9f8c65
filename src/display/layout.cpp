// Window set-up and the static screen layout.
#include <cstdio>

#include "display/screen.h"
#include "frame/cmdline.h"

namespace talvo {

int init_ggi(Screen& s, int centerfreq, int txspeed) {
  char buf[100];
  Visual& vis = s.vis;
  vis.make(s.width, s.height);
  std::snprintf(buf, sizeof buf, kTitleFormat, kVersion);
  int result = 0;
  if (!vis.open_window(buf)) {
    std::fputs("ggiOpen returned errorcode.\n", stderr);
    result = 2;
  }
  const int h = s.height;

  vis.SetGCForeground(0x808000);
  vis.Puts(20, h - 15, "QUIT");
  vis.Puts(90, h - 15, "OVF");
  vis.Puts(170, h - 15, "TX speed");
  std::snprintf(buf, sizeof buf, "%d  ", txspeed);
  vis.Puts(230, h - 15, buf);
  vis.Puts(290, h - 15, "ingain");
  std::snprintf(buf, sizeof buf, "%.1f", 1.0);
  vis.Puts(335, h - 15, buf);
  vis.Puts(390, h - 15, "displaygain");
  std::snprintf(buf, sizeof buf, "%.1f", 1.0);
  vis.Puts(465, h - 15, buf);
  vis.Puts(520, h - 15, "waterspeed");
  std::snprintf(buf, sizeof buf, "%d", 100);
  vis.Puts(595, h - 15, buf);

  vis.SetGCForeground(0x0050FF);
  for (int c = -kanaele; c <= kanaele; c++) {
    if (c % 5 != 0) continue;
    std::snprintf(buf, sizeof buf, "%d", centerfreq + c * freqstep);
    vis.Puts(5, h / 2 - 5 - 8 * c, buf);
  }
  vis.Puts(5, 40, " Hz");
  vis.Puts(s.wasserwidth - 5, 40, "char/min");

  vis.SetGCForeground(0x004080);
  std::snprintf(buf, sizeof buf, kTitleFormat, kVersion);
  vis.Puts(20, h - 45, buf);
  vis.Puts(230, h - 45, "left/right = up/down and on/off");
  vis.Puts(460, h - 45, "white/yellow = sync_on/off         <ESC> = stop tx");

  vis.SetGCForeground(0x00FF00);
  vis.Puts(s.wasserwidth - 4, 12, "Send:");
  vis.Flush();
  return result;
}

void overload_box(Screen& s, bool overflow) {
  s.vis.SetGCForeground(overflow ? 0xFF0000 : 0);
  s.vis.DrawBox(115, s.height - 15, 10, 10);
}

}  // namespace talvo
