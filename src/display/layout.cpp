// Window set-up and the static screen layout.
#include <cstdio>

#include "display/colours.h"
#include "display/geometry.h"
#include "display/screen.h"

namespace talvo {

WindowOpen init_ggi(Screen& s, const FrontEnd& fe, int txspeed) {
  char buf[100];
  Visual& vis = s.vis;
  vis.make(s.width, s.height);
  std::snprintf(buf, sizeof buf, kTitleFormat, kVersion);
  const WindowOpen result = vis.open_window(buf) ? WindowOpen::kOpen : WindowOpen::kFrameOnly;
  const int h = s.height;
  const int y = status_y(h);

  vis.SetGCForeground(kStatusColour);
  for (const StatusPlace& f : kStatus)
    vis.Puts(f.label_x, y, f.label);
  std::snprintf(buf, sizeof buf, "%d  ", txspeed);
  vis.Puts(kStatus[kTxSpeed].value_x, y, buf);
  std::snprintf(buf, sizeof buf, "%.1f", 1.0);
  vis.Puts(kStatus[kIngain].value_x, y, buf);
  vis.Puts(kStatus[kDisplayGain].value_x, y, buf);
  std::snprintf(buf, sizeof buf, "%d", 100);
  vis.Puts(kStatus[kWaterSpeed].value_x, y, buf);

  vis.SetGCForeground(kLabelColour);
  for (int q = 0; q < kScreenClusters && q < fe.clusters(); q++) {
    std::snprintf(buf, sizeof buf, "%d", fe.centre_hz(q));
    vis.Puts(5, row_y(h, q), buf);
  }
  vis.Puts(5, 40, " Hz");
  vis.Puts(s.wasserwidth - 5, 40, "char/min");

  vis.SetGCForeground(kHelpColour);
  std::snprintf(buf, sizeof buf, kTitleFormat, kVersion);
  vis.Puts(20, h - 45, buf);
  vis.Puts(230, h - 45, "left/right = up/down and on/off");
  // The run of blanks is the system's own, kept byte for byte.
  vis.Puts(460, h - 45, "white/yellow = sync_on/off         <ESC> = stop tx");

  vis.SetGCForeground(kSendColour);
  vis.Puts(s.wasserwidth - 4, 12, "Send:");
  vis.Flush();
  return result;
}

void overload_box(Screen& s, bool overflow) {
  s.vis.SetGCForeground(overflow ? kEchoColour : kBlack);
  s.vis.DrawBox(kStatus[kOverflow].value_x, status_y(s.height), kOverloadBox, kOverloadBox);
}

}  // namespace talvo
