// The headless setting: no window for what runs from here on, in this
// process and in the programs it starts. With no X or Wayland display named,
// and no video driver chosen by hand, the display layer opens no window and
// the program runs on with its frame alone.
#pragma once

#include <cstdlib>

namespace talvo::test {

inline void headless() {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  unsetenv("SDL_VIDEODRIVER");
}

}  // namespace talvo::test
