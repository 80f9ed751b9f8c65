// The sample loop: the window program's only loop.
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

#include "decoder/walk.h"
#include "display/screen_output.h"
#include "engine/receivers.h"
#include "engine/station.h"
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
  // Evaluated anew each time: the operator may change wasserdelay. The
  // pace is counted in tick samples, scaled by the classic channel count.
  const int every = (st.op.wasserdelay * kanalzahl) / 30;
  if (st.wasser <=
      (st.waterfall_scale == 1.0 ? every : static_cast<int>(every * st.waterfall_scale)))
    return false;
  st.wasser = 0;
  return true;
}

namespace {

// The program's own steps at their places in the walk of a block.
class ProgramSteps : public WalkSteps {
 public:
  ProgramSteps(Station& st, const bool* over, bool tone_out)
      : st_(st), over_(over), tone_out_(tone_out) {}

  bool every_sample() const override { return true; }

  void sample(int k, bool /*tick*/) override {
    if (over_[k]) st_.overflow = 1;
    // The key line is refreshed at every tick of the transmit cluster, and
    // the tone follows the cluster's phase on every sample.
    if (st_.keyline && st_.fe->ticked(st_.keyer.txch)) st_.keyline->set(st_.keyer.key_down);
    if (tone_out_) {
      const auto w = static_cast<unsigned short>(st_.fe->tone(k, st_.keyer.txch, st_.keyer.txampl));
      putc_unlocked(w & 0xFF, st_.fpout);
      putc_unlocked(w >> 8, st_.fpout);
    }
  }

  bool before_keys(int /*k*/) override {
    if (quit) return false;
    transmit(st_.keyer, st_.fe->ticked(st_.keyer.txch), (*st_.dec)[st_.keyer.txch].freqmod,
             st_.screen.vis);
    // The waterfall shows the key states as the previous tick sample left
    // them: it is drawn before this sample's states are put in place.
    if (waterfall_due(st_)) {
      wasserfall(st_.screen, *st_.dec, *st_.fe);
      overload_box(st_.screen, st_.overflow);
      st_.overflow = 0;
    }
    // Decoding pauses while the keyer sends.
    return st_.keyer.tx_on == 0;
  }

  void after_decode(int /*k*/) override {
    if (quit) return;
    quit = keycontrol(st_.screen, st_.keyer, *st_.dec, *st_.fe, st_.op, st_.textbufwidth) ==
           Control::kQuit;
  }

  void set_tone_out(bool on) { tone_out_ = on; }
  bool quit = false;  // the operator asked to end

 private:
  Station& st_;
  const bool* over_;
  bool tone_out_;
};

}  // namespace

void make_receiver(Station& st) {
  ReceiverPlan p;
  p.kind = st.set.fine ? ReceiverKind::kFine : ReceiverKind::kClassic;
  p.centerfreq = st.set.centerfreq;
  p.centres = nine_around(st.set.centerfreq);
  p.text_width = st.textbufwidth;
  ReceiverParts r = make_receiver(p);
  st.fe = std::move(r.fe);
  st.dec = std::move(r.dec);
  // The waterfall keeps its pace in time: the classic chain has about
  // 15850 tick samples a second (any of its channels ticking), the fine
  // one a tick sample per tick.
  if (st.set.fine) st.waterfall_scale = st.fe->ticks_per_second(0) / 15850.0;
}

void sample_loop(Station& st) {
  FILE* const fp = st.fp;
  FILE* const fpout = st.fpout;
  bool pass_through = st.set.sidetone == rxtone && fpout != nullptr;
  bool tone_out = st.set.sidetone == txtone && fpout != nullptr;
  const auto reader = std::make_unique<Reader>(fileno(fp), st.screen.vis);
  ScreenOutput text(st.screen, st.decoded);
  double in[kBlock];
  bool over[kBlock];
  ProgramSteps steps(st, over, tone_out);

  for (bool end = false; !end && !steps.quit;) {
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
      in[n] = x * st.op.ingain;
      n++;
    }
    end = n < kBlock;

    walk_block(*st.fe, *st.dec, in, n, text, steps);

    // A player that ended (device busy, killed) takes no more audio; the
    // receiver goes on without it.
    if ((pass_through || tone_out) && std::ferror(fpout)) {
      std::fputs("audio output is gone: aplay ended; decoding goes on\n", stderr);
      pass_through = tone_out = false;
      steps.set_tone_out(false);
    }
  }
}

}  // namespace talvo
