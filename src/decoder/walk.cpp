#include "decoder/walk.h"

#include <vector>

namespace talvo {

void walk_block(FrontEnd& fe, Decoder& dec, const double* in, int n, DecoderOutput& out,
                WalkSteps& steps) {
  fe.run(in, n);
  const int clusters = fe.clusters();
  for (int k = 0; k < n; k++) {
    const bool tick = fe.tick(k);
    steps.sample(k, tick);
    if (!tick) continue;
    const bool decode = steps.before_keys(k);
    fe.settle(k);
    if (decode) {
      for (int q = 0; q < clusters; q++)
        if (fe.ticked(q)) dec.step(q, fe.key(q) != 0.0, out);
    }
    steps.after_decode(k);
  }
}

void walk_block(FrontEnd& fe, Decoder& dec, const double* in, int n, DecoderOutput& out) {
  WalkSteps none;
  walk_block(fe, dec, in, n, out, none);
}

Decoder decoder_for(const FrontEnd& fe, Rules rules, int textbufwidth) {
  std::vector<int> tps(static_cast<std::size_t>(fe.clusters()));
  for (int q = 0; q < fe.clusters(); q++)
    tps[static_cast<std::size_t>(q)] = fe.ticks_per_second(q);
  return Decoder(rules, tps, textbufwidth);
}

}  // namespace talvo
