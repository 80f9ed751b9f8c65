// The waterfall: one time column per call, sweeping from left to right
// across columns 40 .. wasserwidth - 11 and starting again at the left, so
// the picture is never scrolled. Each cluster draws a six-pixel strip whose
// brightness is its key state (30 for key up, 130 and more for key down at
// gain 1, full from 2250), red for a selected cluster, green otherwise.
#include "display/screen.h"

namespace talvo {

void wasserfall(Screen& s, const Receiver& r, const ChanArray<double>& val) {
  Visual& vis = s.vis;
  const int x = s.x;
  for (int ch = -kanaele; ch <= kanaele; ch++) {
    if (ch % 5 != 0) continue;
    const int y = s.height / 2 - 8 * ch;
    int w = static_cast<int>(0.1 * s.wgain * val[ch] + 30);
    if (w > 255) w = 255;
    ggi_color col;
    if (r.decchannel[ch] == 1)
      col.r = static_cast<uint16_t>(w * 256);
    else
      col.g = static_cast<uint16_t>(w * 256);
    const ggi_pixel p = Visual::MapColor(col);
    for (int k = 0; k <= 5; k++)
      vis.PutPixel(x, y + k, p);
    if (r.decchannel[ch] == 1) {
      // The selected cluster's key state above the waterfall; with several
      // selected, the last one in channel order shows.
      const ggi_pixel tick = r.valuethr[ch] != 0.0 ? 0xFFFF00 : 0;
      for (int k = 3; k <= 6; k++)
        vis.PutPixel(x - 2, k, tick);
    }
  }
  // Clears the band where the selected cluster's text is echoed, so the echo
  // of the previous sweep goes as the sweep passes.
  vis.SetGCForeground(0);
  vis.DrawLine(x, 7, x, 40);
  s.x = x + 1 >= s.wasserwidth - 10 ? 40 : x + 1;
  vis.Flush();
}

}  // namespace talvo
