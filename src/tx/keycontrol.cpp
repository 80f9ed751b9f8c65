#include "tx/keycontrol.h"

#include <cstdlib>

#include "frame/station.h"

namespace talvo {

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
        // The status line: the QUIT field.
        if (st.py >= st.set.height - 17 && st.px >= 21 && st.px <= 49 &&
            event.button == GII_PBUTTON_LEFT)
          std::exit(0);
        break;
      default:
        break;
    }
  }
}

}  // namespace talvo
