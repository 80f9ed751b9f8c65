#include "decoder/walk.h"

#include <vector>

namespace talvo {

void walk_block(FrontEnd& fe, Decoder& dec, const double* in, int n, DecoderOutput& out,
                WalkSteps& steps) {
  fe.run(in, n);
  const bool every = steps.every_sample();
  for (int k = every ? 0 : fe.next_tick(0); k < n; k = every ? k + 1 : fe.next_tick(k + 1)) {
    const bool tick = fe.tick(k);
    steps.sample(k, tick);
    if (!tick) continue;
    const bool decode = steps.before_keys(k);
    fe.settle(k);
    if (decode) {
      int count = 0;
      const ClusterKey* keys = fe.ticked_keys(count);
      for (int i = 0; i < count; i++)
        dec.step(keys[i].q, keys[i].down, out);
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
