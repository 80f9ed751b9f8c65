// The sample loop: the program's only loop.
//
// Each pass takes one sample of the input and drives everything else: the
// comb and the mixer run on every sample for every channel, the tick stages
// only on samples on which at least one channel completed a period.
#include "frame/station.h"
#include "rx/mixer.h"
#include "rx/stages.h"

namespace talvo {

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
  FILE* const fpout = st.fpout;
  const bool pass_through = st.set.sidetone == rxtone && fpout != nullptr;
  const bool tone_out = st.set.sidetone == txtone && fpout != nullptr;

  for (;;) {
    const int first = getc_unlocked(fp);
    if (first == EOF) break;
    const int second = getc_unlocked(fp);
    if (second == EOF) break;  // a lone last byte is dropped
    const auto lo = static_cast<unsigned char>(first);
    const auto hi = static_cast<signed char>(second);
    double in = hi * 256 + lo;

    if (pass_through) {
      putc_unlocked(first, fpout);
      putc_unlocked(second, fpout);
    }
    // The overload test looks at the sample as received, before the gain.
    if (in > kOverload || in < -kOverload) st.overflow = 1;
    in = in * st.ingain;

    receive_sample(rx, in);
    if (rx.txtick && st.keyline) st.keyline->request(st.rts);
    if (tone_out) {
      const auto w = static_cast<unsigned short>(rx.wert);
      putc_unlocked(w & 0xFF, fpout);
      putc_unlocked(w >> 8, fpout);
    }
    if (!rx.newdataflag) continue;

    iqabs(rx);
    if (waterfall_due(st)) st.overflow = 0;
    absmittel(rx);
    nlg1(rx);
    adaptthreshold2(rx);
  }
}

}  // namespace talvo
