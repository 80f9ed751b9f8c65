// The sample loop: the program's only loop.
//
// Every sample of the input drives everything else: the comb and the mixer
// run on every sample for every channel, the receive stages on samples on
// which a channel completed a period (tick samples), and after them, on tick
// samples, the program's own steps. The receive chain runs a block of
// samples at a time (the same results, faster); then the
// block is walked sample by sample for what follows: the RTS refresh and the
// transmit tone at the mixer's place, and the steps of each tick sample.
#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <memory>

#include "decoder/screen_output.h"
#include "frame/station.h"
#include "rx/block.h"
#include "tx/keycontrol.h"

namespace talvo {
namespace {

// Reads the input in whatever pieces it arrives. Before it waits for more,
// it lets the window show what was drawn: a stream that pauses never leaves
// a stale picture behind.
class Reader {
 public:
  Reader(int fd, Visual& vis) : fd_(fd), vis_(vis) {}
  // The next byte, or -1 at the end of the input (or on a read error).
  int get() {
    if (pos_ == len_ && !fill()) return -1;
    return buf_[pos_++];
  }

 private:
  bool fill() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 0) == 0) vis_.Finish();
    for (;;) {
      const ssize_t n = read(fd_, buf_, sizeof buf_);
      if (n > 0) {
        len_ = static_cast<int>(n);
        pos_ = 0;
        return true;
      }
      if (n < 0 && errno == EINTR) continue;
      return false;
    }
  }

  int fd_;
  Visual& vis_;
  unsigned char buf_[1 << 16];
  int pos_ = 0, len_ = 0;
};

}  // namespace

bool waterfall_due(Station& st) {
  st.wasser++;
  // Evaluated anew each time: the operator may change wasserdelay.
  if (st.wasser <= (st.wasserdelay * kanalzahl) / 30) return false;
  st.wasser = 0;
  return true;
}

void sample_loop(Station& st) {
  Receiver& rx = *st.rx;
  FILE* const fp = st.fp;
  Screen& screen = st.screen;
  FILE* const fpout = st.fpout;
  bool pass_through = st.set.sidetone == rxtone && fpout != nullptr;
  bool tone_out = st.set.sidetone == txtone && fpout != nullptr;
  const auto bt = std::make_unique<BlockTicks>();
  const auto reader = std::make_unique<Reader>(fileno(fp), st.screen.vis);
  ScreenOutput text(screen, st.decoded);
  double in[kBlock];
  bool over[kBlock];

  for (bool end = false; !end;) {
    // Read a block. The recorder delivers a block in about 11 ms, so nothing
    // waits long for it.
    int n = 0;
    while (n < kBlock) {
      const int first = reader->get();
      if (first < 0) break;
      const int second = reader->get();
      if (second < 0) break;  // a lone last byte is dropped
      const auto lo = static_cast<unsigned char>(first);
      const auto hi = static_cast<signed char>(second);
      const double x = hi * 256 + lo;
      if (pass_through) {
        putc_unlocked(first, fpout);
        putc_unlocked(second, fpout);
      }
      // The overload test looks at the sample as received, before the gain.
      over[n] = x > kOverload || x < -kOverload;
      in[n] = x * st.ingain;
      n++;
    }
    end = n < kBlock;

    receive_block(rx, in, n, *bt);

    // Then sample by sample, in order, what follows the mixer.
    for (int k = 0; k < n; k++) {
      if (over[k]) st.overflow = 1;
      const int tick = apply_ticks(rx, *bt, k);
      if (rx.txtick && st.keyline) st.keyline->request(st.keyer.rts);
      if (tone_out) {
        const auto w = static_cast<unsigned short>(tone_at(rx, *bt, k));
        putc_unlocked(w & 0xFF, fpout);
        putc_unlocked(w >> 8, fpout);
      }
      if (!tick) continue;
      transmit(st.keyer, rx, screen.vis);
      // The waterfall shows the key states as the previous tick sample left
      // them: it is drawn before this sample's states are put in place.
      if (waterfall_due(st)) {
        wasserfall(screen, rx, rx.valuethr);
        overload_box(screen, st.overflow);
        st.overflow = 0;
      }
      apply_key_states(rx, *bt, k);
      // Decoding pauses while the keyer sends.
      if (st.keyer.tx_on == 0) decode3(rx, st.textbufwidth, text);
      keycontrol(st);
    }
    // A player that ended (device busy, killed) takes no more audio; the
    // receiver goes on without it.
    if ((pass_through || tone_out) && std::ferror(fpout)) {
      std::fputs("audio output is gone: aplay ended; decoding goes on\n", stderr);
      pass_through = tone_out = false;
    }
  }
}

}  // namespace talvo
