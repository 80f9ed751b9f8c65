#include "decoder/screen_output.h"

#include <cstdio>

namespace talvo {

void ScreenOutput::print(const Receiver& r, int ch, const char* s) {
  Visual& vis = screen_.vis;
  if (r.decchannel[ch] == 1) {
    std::fputs(s, out_);
    std::fflush(out_);
  }
  char hilfbuffer[100];
  std::snprintf(hilfbuffer, sizeof hilfbuffer, "%s ", s);

  // The echo starts 5 pixels per element plus 5 left of the column the
  // waterfall draws next.
  if (r.decchannel[ch] == 1) {
    vis.SetGCForeground(0xFF0000);
    const int x = screen_.x > 79 ? screen_.x - 5 - 5 * r.len[ch] : screen_.x - 10;
    vis.Puts(x, 10, hilfbuffer);
  }

  if (r.decchannel[ch] > 0) {
    const int y = screen_.height / 2 - 5 - 8 * ch;
    const int w = screen_.wasserwidth;
    vis.SetGCForeground(static_cast<ggi_pixel>(r.textspeedcolor[ch]));
    std::snprintf(hilfbuffer, sizeof hilfbuffer, "%3d  ", r.speed[ch]);
    vis.Puts(w, y, hilfbuffer);
    psfSetGCForeground(screen_.psf, vis, static_cast<ggi_pixel>(r.textcolor[ch]));
    psfPuts(screen_.psf, vis, w + 25, y, r.textbuffer[ch].data());
    // The cursor mark two places right of the cursor, and two blanks over
    // the old text after it (on the screen only).
    const int i = r.textbufindex[ch];
    psfSetGCForeground(screen_.psf, vis, 0xFF8800);
    psfPutc(screen_.psf, vis, w + 41 + 8 * i, y, '<');
    psfPutc(screen_.psf, vis, w + 49 + 8 * i, y, '=');
    psfPutc(screen_.psf, vis, w + 57 + 8 * i, y, ' ');
    psfPutc(screen_.psf, vis, w + 65 + 8 * i, y, ' ');
  }
}

}  // namespace talvo
