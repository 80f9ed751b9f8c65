// The seam between a receive front end and everything after it.
//
// A front end takes the input samples a block at a time and says, per
// cluster, whether the key is down at each of the cluster's ticks. That is
// all the decoder, the waterfall and the keyer see of it: the decoder counts
// time in the cluster's ticks, the waterfall draws the key states, and the
// keyer keys its units on the ticks of the transmit cluster and asks the
// front end for the transmit tone (which follows the cluster's frequency).
//
// After `run` the caller walks the block in sample order, k = 0, 1, ...
// n - 1: `tick(k)` says whether anything ticked on sample k and marks the
// clusters that did; `settle(k)` then puts their key states in place. In
// between, `key(q)` still gives the states as the previous tick sample left
// them (the waterfall is drawn there).
#pragma once

namespace talvo {

// A cluster that ticked, with its key state.
struct ClusterKey {
  int q;      // the cluster
  bool down;  // key down
};

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  virtual int clusters() const = 0;
  // The cluster's centre frequency, Hz.
  virtual int centre_hz(int q) const = 0;
  // The cluster's ticks per second, the decoder's time base.
  virtual int ticks_per_second(int q) const = 0;

  // Runs over n frames of in (n <= kBlock; a front end on I/Q input takes
  // 2n values, I first), samples in signed 16-bit units, already scaled by
  // the input gain.
  virtual void run(const double* in, int n) = 0;
  // Walking the block: sample k ticked (anything that drives the later
  // steps); marks the clusters that ticked on it.
  virtual bool tick(int k) = 0;
  // The first sample from k on (k .. n-1) on which anything ticks, or n: a
  // walk that needs nothing between tick samples goes from one to the next.
  virtual int next_tick(int k) const = 0;
  // The key states of the clusters that ticked on sample k.
  virtual void settle(int k) = 0;
  // Cluster q ticked on the sample walked last.
  virtual bool ticked(int q) const = 0;
  // Cluster q's key state as it stands: 0 key up, above 0 key down (the
  // value is its strength, which the waterfall shows).
  virtual double key(int q) const = 0;
  // After settle(k): the clusters that ticked on sample k with their key
  // states, lowest first, in a list the front end keeps (count in `n`).
  virtual const ClusterKey* ticked_keys(int& n) = 0;

  // The transmit tone on sample k of the block: `amplitude` times the sine
  // of cluster q's frequency, its phase running on without a break.
  virtual short tone(int k, int q, int amplitude) const = 0;

  // Per cluster, what it measured: the speed-independent signal-to-noise
  // ratio in dB (key-down power over the noise in 500 Hz), where the front
  // end measures it.
  virtual bool measures_snr() const { return false; }
  virtual double snr_db(int /*q*/) const { return 0.0; }
  // The frequency of what cluster q keys on, Hz, where the front end
  // measures it; else its centre.
  virtual double tone_hz(int q) const { return centre_hz(q); }
  // Seconds by which the key states run behind the input (filters and
  // judgements that look ahead), where the front end knows it: what is
  // decoded from them is dated that much earlier.
  virtual double delay_s() const { return 0.0; }
};

}  // namespace talvo
