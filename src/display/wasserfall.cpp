// The waterfall: one time column per call, sweeping from left to right
// across columns 40 .. wasserwidth - 11 and starting again at the left, so
// the picture is never scrolled. Each cluster draws a six-pixel strip whose
// brightness is its key state (30 for key up, 130 and more for key down at
// gain 1, full from 2250), red for a selected cluster, green otherwise.
#include "display/colours.h"
#include "display/geometry.h"
#include "display/screen.h"

namespace talvo {

void wasserfall(Screen& s, const Decoder& dec, const FrontEnd& fe) {
  Visual& vis = s.vis;
  const int x = s.x;
  for (int q = 0; q < kScreenClusters && q < fe.clusters(); q++) {
    const int y = strip_y(s.height, q);
    const double key = fe.key(q);
    int w = static_cast<int>(0.1 * s.wgain * key + 30);
    if (w > 255) w = 255;
    ggi_color col;
    if (dec[q].decchannel == kSelected)
      col.r = static_cast<uint16_t>(w * 256);
    else
      col.g = static_cast<uint16_t>(w * 256);
    const ggi_pixel p = Visual::MapColor(col);
    for (int k = 0; k <= 5; k++)
      vis.PutPixel(x, y + k, p);
    if (dec[q].decchannel == kSelected) {
      // The selected cluster's key state above the waterfall; with several
      // selected, the last one in channel order shows.
      const ggi_pixel tick = key != 0.0 ? kKeyTickColour : kBlack;
      for (int k = 3; k <= 6; k++)
        vis.PutPixel(x - 2, k, tick);
    }
  }
  // Clears the band where the selected cluster's text is echoed, so the echo
  // of the previous sweep goes as the sweep passes.
  vis.SetGCForeground(kBlack);
  vis.DrawLine(x, 7, x, 40);
  s.x = x + 1 >= s.wasserwidth - 10 ? 40 : x + 1;
  vis.Flush();
}

}  // namespace talvo
