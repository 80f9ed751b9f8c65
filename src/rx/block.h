// The receive chain a block of samples at a time.
//
// Running the comb, the mixer and the tick stages sample by sample keeps
// every channel's running state in memory and every sum on the critical
// path of one tick. `receive_block` works channel by channel instead: each
// channel runs the comb and mixer over the whole block with its state in
// registers, then the I/Q low-pass and averaging for each of its ticks;
// then each cluster centre takes its envelope, smoothing and threshold at
// each of its ticks. The channels and clusters do not touch each other except
// through the cluster maximum, which is taken as it stood at each tick.
// The results are those of the sample-by-sample chain to the last bit.
//
// Afterwards the caller walks the block in sample order and puts back,
// sample by sample, what the keyer, the waterfall and the decoder see:
// `apply_ticks` sets newdata and newdataflag as the mixer leaves them on that
// sample, `apply_key_states` the key states valuethr as the threshold stage
// leaves them (the waterfall, drawn between the two, shows the states of the
// tick sample before). `tone_at` gives the transmit tone sample the mixer
// would have formed there.
//
// Everything that feeds the comb (the samples and the input gain) must be
// known for the whole block before it runs; the block is short (kBlock
// samples, about 11 ms), so a change of the gain takes effect at the next
// block.
#pragma once

#include <cstdint>

#include "rx/receiver.h"

namespace talvo {

inline constexpr int kBlock = 512;

struct BlockTicks {
  static constexpr int kChannels = 2 * kanaele + 1;
  static constexpr int kClusters = 2 * kLastCentre / 5 + 1;
  // A channel ticks at most once every 2 samples (the shortest period the
  // channel plan allows).
  static constexpr int kMaxTicks = kBlock / 2 + 1;

  int n = 0;                       // samples in the block
  uint64_t mask[kBlock] = {};      // bit j + kanaele: channel j ticked on sample k
  int start_time[kChannels] = {};  // phase counters at the start of the block

  // Per channel: the samples on which it ticked and its average after each tick.
  int ticks[kChannels] = {};
  int tick_sample[kChannels][kMaxTicks] = {};
  double tick_mittel1[kChannels][kMaxTicks] = {};
  double start_mittel1[kChannels] = {};    // averages as they stood before the block
  double iqre[kChannels][kMaxTicks] = {};  // I/Q pair of each tick
  double iqim[kChannels][kMaxTicks] = {};
  double env[kMaxTicks] = {};  // one cluster's envelope at each of its ticks
  double nlg[kMaxTicks] = {};  // and its smoothed value

  // Per cluster centre: the key state after each of its ticks.
  double thr[kClusters][kMaxTicks] = {};
  double start_thr[kClusters] = {};

  // Walking the block: the next key state of each centre, and the channels
  // that ticked on the sample applied last (carried into the next block).
  int next_thr[kClusters] = {};
  uint64_t applied = 0;
};

// Runs the chain over in[0 .. n-1] (n <= kBlock; samples already scaled by
// the input gain). Leaves the receiver as the last sample of the block left
// it, except newdata, newdataflag and valuethr, which the walk restores
// sample by sample.
void receive_block(Receiver& r, const double* in, int n, BlockTicks& bt);

// Sets newdata, newdataflag and txtick of sample k of the block, as the
// mixer leaves them on that sample; returns newdataflag. Call it for k = 0,
// 1, ... n-1 in order.
int apply_ticks(Receiver& r, BlockTicks& bt, int k);

// Sets the key states of the clusters that ticked on sample k, as the
// threshold stage leaves them. Call it after apply_ticks for the same k.
void apply_key_states(Receiver& r, BlockTicks& bt, int k);

// The transmit tone sample on sample k: `amplitude` (0 .. 20000) times the
// sine of channel ch at its phase on that sample.
short tone_at(const Receiver& r, const BlockTicks& bt, int k, int ch, int amplitude);

}  // namespace talvo
