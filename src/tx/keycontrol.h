// The operator's controls: keyboard and pointer events of the window.
#pragma once

namespace talvo {

struct Station;

// Handles the events queued in the window, without waiting: pointer
// positions, and a left click on the QUIT field ends the program (status
// 0), as does closing the window. Called on every tick sample.
void keycontrol(Station& st);

}  // namespace talvo
