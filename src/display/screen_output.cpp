#include "display/screen_output.h"

#include <cstdio>

#include "display/colours.h"
#include "display/geometry.h"

namespace talvo {

void redraw_speed_figure(Screen& screen, const ClusterDecoder& d, int q, int cpm) {
  char buf[100];
  screen.vis.SetGCForeground(static_cast<ggi_pixel>(d.textspeedcolor));
  std::snprintf(buf, sizeof buf, "%3d  ", cpm);
  screen.vis.Puts(screen.wasserwidth, row_y(screen.height, q), buf);
}

void redraw_text_line(Screen& screen, const ClusterDecoder& d, int q) {
  psfSetGCForeground(screen.psf, screen.vis, static_cast<ggi_pixel>(d.textcolor));
  psfPuts(screen.psf, screen.vis, screen.wasserwidth + 25, row_y(screen.height, q),
          d.textbuffer.data());
}

void ScreenOutput::print(const ClusterDecoder& d, int q, const char* s) {
  Visual& vis = screen_.vis;
  if (d.decchannel == kSelected) {
    std::fputs(s, out_);
    std::fflush(out_);
  }
  // "hilfbuffer": the string and a blank.
  char hilfbuffer[100];
  std::snprintf(hilfbuffer, sizeof hilfbuffer, "%s ", s);

  // The echo starts 5 pixels per element plus 5 left of the column the
  // waterfall draws next.
  if (d.decchannel == kSelected) {
    vis.SetGCForeground(kEchoColour);
    const int x = screen_.x > 79 ? screen_.x - 5 - 5 * d.len : screen_.x - 10;
    vis.Puts(x, 10, hilfbuffer);
  }

  if (d.decchannel > 0 && q < kScreenClusters) {
    const int y = row_y(screen_.height, q);
    const int w = screen_.wasserwidth;
    redraw_speed_figure(screen_, d, q, d.speed);
    redraw_text_line(screen_, d, q);
    // The cursor mark two places right of the cursor, and two blanks over
    // the old text after it (on the screen only).
    const int i = d.textbufindex;
    psfSetGCForeground(screen_.psf, vis, kCursorColour);
    psfPutc(screen_.psf, vis, w + 41 + 8 * i, y, '<');
    psfPutc(screen_.psf, vis, w + 49 + 8 * i, y, '=');
    psfPutc(screen_.psf, vis, w + 57 + 8 * i, y, ' ');
    psfPutc(screen_.psf, vis, w + 65 + 8 * i, y, ' ');
  }
}

}  // namespace talvo
