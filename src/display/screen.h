// The window's contents: the static layout, the waterfall and the overload
// box, drawn into the visual.
//
// Geometry in display/geometry.h.
#pragma once

#include "decoder/decoder.h"
#include "display/PSFinGGI.h"
#include "display/ggi.h"
#include "rx/frontend.h"

namespace talvo {

inline constexpr const char* kVersion = "velquin36v1";
// The window title, also drawn on the screen; its two blanks are the
// system's own, kept byte for byte.
inline constexpr const char* kTitleFormat = "TALVO Morsedecoder  %s";

struct Screen {
  Visual vis;
  Psf psf;                // the bitmap font of the text lines
  int width = 1200;       // pixels
  int height = 480;       // pixels
  int wasserwidth = 350;  // width of the waterfall area, pixels
  int x = 70;             // the waterfall column drawn next
  double wgain = 1.0;     // display gain of the waterfall
};

// Opens the window (where there is a display) and draws the static layout:
// the status line, the frequency labels of the nine clusters, the column
// headings, the title and help lines and the label of the transmit line.
// Says whether a window opened; without one the program runs on with the
// frame alone (and says so, "ggiOpen returned errorcode.").
enum class WindowOpen { kOpen, kFrameOnly };
WindowOpen init_ggi(Screen& s, const FrontEnd& fe, int txspeed);

// Draws one waterfall column of the key states of the nine clusters as the
// front end holds them, coloured by their role (red selected, green
// decoded), with the key-state tick of the selected cluster, and moves on by
// one column.
void wasserfall(Screen& s, const Decoder& dec, const FrontEnd& fe);

// The overload indicator beside "OVF": red after an overload, else black.
void overload_box(Screen& s, bool overflow);

}  // namespace talvo
