// The classic front end: the receive chain exactly as the receiver has
// always defined it (43 comb-filtered, mixed channels 10 Hz apart, nine
// clusters of five, smoothing and an adaptive threshold), run a block at a
// time by `receive_block` and walked sample by sample, behind the front-end
// seam. Its results never change, to the last bit.
//
// Cluster q is the cluster centred on channel 5q - 20: q = 0 .. 8 runs from
// the lowest centre to the highest. Its ticks are those of the centre
// channel, about f ticks a second; anything that ticks (any of the 43
// channels) makes a tick sample.
#pragma once

#include <memory>

#include "rx/block.h"
#include "rx/frontend.h"
#include "rx/receiver.h"

namespace talvo {

// The centre channel of cluster q, and back.
constexpr int centre_channel(int q) {
  return 5 * q - kLastCentre;
}
constexpr int cluster_of(int c) {
  return (c + kLastCentre) / 5;
}
inline constexpr int kClassicClusters = BlockTicks::kClusters;

class ClassicFrontEnd : public FrontEnd {
 public:
  // Throws InitError where memory runs out (see `init`).
  explicit ClassicFrontEnd(int centerfreq);

  int clusters() const override { return kClassicClusters; }
  int centre_hz(int q) const override { return r_->freq(centre_channel(q)); }
  int ticks_per_second(int q) const override { return r_->freq(centre_channel(q)); }
  void run(const double* in, int n) override { receive_block(*r_, in, n, *bt_); }
  bool tick(int k) override {
    k_ = k;
    return apply_ticks(*r_, *bt_, k) != 0;
  }
  int next_tick(int k) const override {
    while (k < bt_->n && bt_->mask[k] == 0)
      k++;
    return k;
  }
  void settle(int k) override { apply_key_states(*r_, *bt_, k); }
  bool ticked(int q) const override { return r_->newdata[centre_channel(q)] != 0; }
  double key(int q) const override { return r_->valuethr[centre_channel(q)]; }
  const ClusterKey* ticked_keys(int& n) override;
  short tone(int k, int q, int amplitude) const override;

  // The chain's state, for the tests that hold it to its definition.
  Receiver& receiver() { return *r_; }
  const Receiver& receiver() const { return *r_; }

 private:
  std::unique_ptr<Receiver> r_;
  std::unique_ptr<BlockTicks> bt_;
  int k_ = 0;  // the sample walked last
  ClusterKey keys_[kClassicClusters];
};

}  // namespace talvo
