// The fine front end behind the front-end seam.
//
// FineFrontEnd (rx/fine.h) runs its clusters at one tick rate and hands out
// each block's ticks with the key states of every cluster; this adapter
// walks them in sample order for the decoder, the waterfall and the keyer,
// and forms the transmit tone at a cluster's frequency from the sample
// count, so its phase runs on without a break across blocks.
//
// Between the front end and the decoder stands the band gate (band_gate.h),
// which judges each cluster's marks against all the others and against the
// power of the whole band, and keys up the marks that follow another
// signal's edges: the key states reach the decoder BandGate::kDelayTicks
// later than the front end decides them.
//
// Input: n frames a block, real samples, or for I/Q 2n values (I first).
#pragma once

#include <memory>
#include <vector>

#include "rx/band_gate.h"
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
  // The front end's own delay and the band gate's.
  double delay_s() const override {
    return (fe_.delay_ticks() + BandGate::kDelayTicks) / tick_rate_;
  }

  const FineFrontEnd& front_end() const { return fe_; }
  FineFrontEnd& front_end() { return fe_; }
  const BandGate& gate() const { return gate_; }

 private:
  void gate_block();
  void band_tick(double power);
  // Frames [from, to) of the block into the band's power, as a cluster
  // would see a tone: (amplitude / 2)^2 real, amplitude^2 I/Q.
  void add_band(int from, int to);

  FineFrontEnd fe_;
  BandGate gate_;                 // the clusters, then the whole band's power
  std::vector<double> gated_;     // the block's gated key states, tick by tick, per cluster
  std::vector<double> in_key_;    // one tick's key states into the gate, per gate cluster
  std::vector<double> in_level_;  // one tick's power levels, input units squared
  std::vector<double> in_tone_;   // tones, Hz
  // The whole band's power: summed since the last tick, its slow floor and
  // peak, its key state, and a ring that delays it as the front end delays
  // the clusters' key states.
  double band_sum_ = 0;
  int band_frames_ = 0;
  double band_floor_ = 0, band_peak_ = 0;  // units^2
  double band_creep_ = 1;  // per tick, the floor's rise and the peak's fall (20 dB in 10 s)
  // units^2, the floor's lowest: the rounding noise, as add_band() counts it
  double band_least_ = 0;
  bool band_down_ = false;
  std::vector<double> band_key_, band_level_;  // ring, band_delay_ ticks
  int band_delay_ = 1;
  long long band_ticks_ = 0;
  int tick_rate_;                 // ticks per second
  std::vector<int> centre_;       // cluster centres, whole Hz
  std::vector<float> buf_;        // the block as the front end takes it (none behind a bank)
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
