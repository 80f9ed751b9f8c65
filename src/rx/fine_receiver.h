// The fine front end behind the front-end seam.
//
// FineFrontEnd (rx/fine.h) runs its clusters at one tick rate and hands out
// each block's ticks with the key states of every cluster; this adapter
// walks them in sample order for the decoder, the waterfall and the keyer,
// and forms the transmit tone at a cluster's frequency from the sample
// count, so its phase runs on without a break across blocks.
//
// Input: n frames a block, real samples, or for I/Q 2n values (I first).
#pragma once

#include <memory>
#include <vector>

#include "rx/fine.h"
#include "rx/frontend.h"

namespace talvo {

class FineReceiver : public FrontEnd {
 public:
  // Throws std::invalid_argument when FineFrontEnd::check(plan) refuses it.
  explicit FineReceiver(const FinePlan& plan);

  int clusters() const override { return fe_.clusters(); }
  int centre_hz(int q) const override { return centre_[static_cast<std::size_t>(q)]; }
  int ticks_per_second(int) const override { return tick_rate_; }
  void run(const double* in, int n) override;
  bool tick(int k) override;
  int next_tick(int k) const override;
  void settle(int k) override;
  bool ticked(int) const override { return ticked_; }
  double key(int q) const override { return keys_[static_cast<std::size_t>(q)]; }
  const ClusterKey* ticked_keys(int& n) override;
  short tone(int k, int q, int amplitude) const override;
  bool measures_snr() const override { return true; }
  double snr_db(int q) const override { return fe_.snr_db(q); }
  double tone_hz(int q) const override { return fe_.tone_hz(q); }

  const FineFrontEnd& front_end() const { return fe_; }

 private:
  FineFrontEnd fe_;
  int tick_rate_;                 // ticks per second
  std::vector<int> centre_;       // cluster centres, whole Hz
  std::vector<float> buf_;        // the block as the front end takes it
  std::vector<double> keys_;      // key state of each cluster as it stands
  std::vector<ClusterKey> list_;  // every cluster with its key state, at a tick
  int next_ = 0;                  // the next of the block's ticks to walk
  int current_ = -1;              // the tick of the sample walked last, or -1
  bool ticked_ = false;           // the sample walked last was a tick
  long long block_start_ = 0;     // input frames before the current block
  int block_frames_ = 0;          // frames in the current block
  int sample_rate_;               // input frames per second
  bool iq_ = false;               // the input is I/Q pairs
  bool banked_ = false;           // the front end reads a shared filter bank
};

}  // namespace talvo
