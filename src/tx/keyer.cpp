#include "tx/keyer.h"

#include "display/colours.h"

namespace talvo {
namespace {

// 31 units of key up, keyed from start-up.
const char kStartUnits[] = "0000000000000000000000000000000";
static_assert(sizeof kStartUnits == 32);

}  // namespace

void keyer_init(Keyer& k, int textbufwidth) {
  k = Keyer{};
  k.ring = textbufwidth - 5;
  k.p = kStartUnits;
}

int txindex(char ch) {
  const auto c = static_cast<unsigned char>(ch);
  if (c >= ' ' && c <= '@') return c - 32;
  if (c >= 'a' && c <= 'z') return c - 64;
  // Upper case keys as its letter: an operator with caps lock on is heard.
  if (c >= 'A' && c <= 'Z') return c - 32;
  return 0;
}

bool txinqueue(Keyer& k, Visual& vis, char c) {
  int next = k.keybuftail + 1;
  if (next >= k.ring) next = 0;
  // A full ring refuses the character rather than overwrite one waiting.
  if (next == k.keybuffront) return false;
  k.keybuf[k.keybuftail] = static_cast<char>(txindex(c));
  k.txtextbuf[k.keybuftail] = c;
  vis.SetGCForeground(kTypedColour);
  vis.Putc(k.Xatxtext + 6 * k.keybuftail, 12, c);
  vis.Flush();
  k.keybuftail = next;
  return true;
}

void transmit(Keyer& k, bool ticked, int freqmod, Visual& vis) {
  if (!ticked) return;
  k.txampl = (k.txampl + k.txamplold) / 2;
  if (k.txtimestep-- != 0) return;
  // A unit boundary.
  k.txtimestep = freqmod / k.txspeed / 2;
  if (*k.p != '\0') {
    const bool down = *k.p != '0';
    k.txamplold = down ? 20000 : 0;
    k.key_down = down;
    k.p++;
    return;
  }
  // The character is finished: the tone stops at once.
  k.txampl = 0;
  k.txamplold = 0;
  k.key_down = false;
  if (k.keybuffront != k.keybuftail) {
    k.keybufindold = k.keybuffront;
    k.p = txcode[static_cast<unsigned char>(k.keybuf[k.keybuffront])];
    if (++k.keybuffront >= k.ring) k.keybuffront = 0;
    k.tx_on = 1;
    vis.SetGCForeground(kKeyedColour);
    vis.Putc(k.Xatxtext + 6 * k.keybufindold, 12, k.txtextbuf[k.keybufindold]);
    vis.Flush();
    return;
  }
  k.tx_on = 0;
}

void txclear(Keyer& k, Visual& vis, int textbufwidth) {
  k.keybuftail = 0;
  k.keybuffront = 0;
  for (int i = 0; i < textbufwidth; i++)
    vis.Putc(k.Xatxtext + 6 * i, 12, ' ');
  vis.Flush();
}

}  // namespace talvo
