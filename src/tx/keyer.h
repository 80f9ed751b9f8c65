// The transmit queue and the Morse keyer.
//
// Typed characters go into a ring as indexes of the transmit table and are
// echoed in white on the transmit line. The keyer walks each character's
// units, one unit per N + 1 ticks of the transmit cluster txch
// (N = freqmod / txspeed / 2, freqmod being 12 x the cluster's ticks per
// second), sets the tone amplitude (moving halfway to its target on every
// tick) and the key state, turns the character grey when its keying
// begins, and holds tx_on while it sends, which pauses the decoder. The
// front end turns txampl into the tone at the cluster's frequency, and the
// program sets the key line at every tick of txch.
#pragma once

#include "display/screen.h"

namespace talvo {

extern const char* const txcode[59];

inline constexpr int kTxRing = 256;

struct Keyer {
  char keybuf[kTxRing] = {};     // table indexes waiting to be keyed
  char txtextbuf[kTxRing] = {};  // the characters as typed, same positions
  int keybuftail = 0;            // next ring position to write
  int keybuffront = 0;           // next ring position to key
  int ring = 95;                 // ring length: textbufwidth - 5
  const char* p = nullptr;       // the unit being keyed
  int txtimestep = 0;            // ticks left in the current unit
  int txspeed = 100;             // characters per minute
  int txamplold = 0;             // target amplitude: 20000 key down, 0 key up
  int keybufindold = 0;          // ring position of the character being keyed
  bool key_down = false;         // the key line: true key down
  int tx_on = 0;                 // 1 from taking a character until the ring is empty
  int Xatxtext = 390;            // x of ring position 0 on the transmit line
  int txch = 4;                  // the transmit cluster (its frequency and ticks)
  int txampl = 0;                // transmit tone amplitude, 0 .. 20000
};

// A keyer that starts with 31 units of key up; `textbufwidth` sets the ring.
void keyer_init(Keyer& k, int textbufwidth);

// The table row of a character: ' '..'@' and letters of either case have
// their rows, everything else keys as a space.
int txindex(char c);

// Queues c and echoes it; returns false (nothing queued, nothing drawn)
// when the ring is full.
bool txinqueue(Keyer& k, Visual& vis, char c);

// One keyer step, on a tick sample; acts only when the transmit cluster
// ticked (`ticked`). `freqmod` is 12 x its ticks per second.
void transmit(Keyer& k, bool ticked, int freqmod, Visual& vis);

// Drops every character not yet begun (the one being keyed goes on) and
// blanks the transmit line of `textbufwidth` places.
void txclear(Keyer& k, Visual& vis, int textbufwidth);

}  // namespace talvo
