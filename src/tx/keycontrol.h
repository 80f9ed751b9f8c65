// The operator's controls: keyboard and pointer events of the window.
#pragma once

#include "decoder/decoder.h"
#include "display/screen.h"
#include "rx/frontend.h"
#include "tx/keyer.h"

namespace talvo {

// What the operator sets from the window besides the keyer and the clusters.
struct OperatorSettings {
  double ingain = 1.0;        // input gain
  int wasserdelay = 200;      // waterfall pace: larger is slower
  int px = 0, py = 0;         // the last pointer position, frame pixels
  char F_text[16][255] = {};  // function-key texts, one row per line of txtext.asc
};

enum class Control { kGoOn, kQuit };

// Handles the events queued in the window, without waiting. A left click on
// the QUIT field, or closing the window, asks the program to end (kQuit).
// Called on every tick sample.
Control keycontrol(Screen& screen, Keyer& keyer, Decoder& dec, const FrontEnd& fe,
                   OperatorSettings& op, int textbufwidth);

}  // namespace talvo
