// The window program's station: everything that wires the receiver to the
// world.
//
// A Station holds what the program sets up at start-up (settings, layout,
// streams, the key line), the front end it feeds and the clusters'
// decoders. `talvo_main` (frame/startup.h) builds
// one from the command line and runs the sample loop over the whole input;
// tests build one by hand, with their own streams and key line, and run the
// loop.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "decoder/decoder.h"
#include "display/screen.h"
#include "engine/keyline.h"
#include "engine/settings.h"
#include "rx/frontend.h"
#include "tx/keycontrol.h"
#include "tx/keyer.h"

namespace talvo {

inline constexpr const char* kRecorderCommand =
    "arecord -D sysdefault -t raw -c 1 -r 48000 -f S16_LE";
inline constexpr const char* kPlayerCommand = "aplay -r 48000 -t raw -f S16_LE -c 1 ";
inline constexpr const char* kTxtextFile = "txtext.asc";
inline constexpr const char* kFontFile = "velquin-font.psf.gz";
inline constexpr int kOverload = 28000;  // |sample| above this lights the overload box

struct Station {
  Settings set;

  // Layout, fixed at start-up.
  int wasserwidth = 350;   // width of the waterfall area, pixels
  int textbufwidth = 100;  // characters per text row: (width - 390) / 8 - 1
  int Xatxtext = 390;      // x of the transmit-text line, pixels

  std::unique_ptr<FrontEnd> fe;      // the receive front end
  std::unique_ptr<Decoder> dec;      // a decoder per cluster of the front end
  Screen screen;                     // the window (or, without a display, the frame alone)
  FILE* decoded = stdout;            // where the selected clusters' text goes
  FILE* fp = nullptr;                // audio input, S16LE mono 48 kHz
  FILE* fpout = nullptr;             // audio output pipe; null with notone or when it cannot run
  std::unique_ptr<KeyLine> keyline;  // null without a serial device
  Keyer keyer;                       // the transmit queue and keyer: tone amplitude, RTS, tx_on

  // What the operator sets from the window: input gain, waterfall pace,
  // pointer, function-key texts.
  OperatorSettings op;

  // Loop state.
  int wasser = 0;                // tick samples since the last waterfall column
  double waterfall_scale = 1.0;  // tick samples per column against the classic chain's
  char overflow = 0;  // 1 once a sample exceeded the overload level since the last column
};

// Builds the front end and its decoders for the station's settings
// (fix_layout first), through the receiver factory. Throws InitError where
// memory runs out, std::invalid_argument for clusters the fine front end
// cannot serve.
void make_receiver(Station& st);

// Runs the sample loop until the input ends or the operator quits.
void sample_loop(Station& st);

// True on the tick sample on which the next waterfall column is due; counts
// tick samples and restarts the count when it says so.
bool waterfall_due(Station& st);

}  // namespace talvo
