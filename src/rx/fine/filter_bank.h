// Filter bank: a whole span of I/Q cut into channels in one pass.
//
// A polyphase analysis bank (weighted overlap-add with an FFT): channel c
// is centred on c * spacing_hz() (channels above half the rate stand for
// negative frequencies), spaced 1 kHz apart and sampled twice as fast as
// that spacing (2000 samples a second), so that any cluster lies within
// 500 Hz of a channel's centre and its own decimator (at 2000 samples a
// second about half as long as at 4000) sees nothing folded into its
// passband. One prototype low-pass serves every channel: flat to pass_hz,
// stop_db down from stop_hz.
//
// Each channel's samples are its band-pass output as it stands (not mixed
// down) with every channel's constant phase taken out, so a tone shows the
// same phase in every channel that passes it, as if one band filter had
// passed the whole span: the cluster stage behind it (Channeliser) mixes
// each cluster down from there exactly as it does behind its own band
// filter.
//
// The input's DC offset and mirror images are taken out first (IqBalance).
//
// It is shared by every group of clusters of a span: run() once over a
// block, then each group's front end reads the samples it needs by their
// number. The samples of the last ring() ticks' worth are kept.
//
// Life cycle: make once (designs, plans the FFT, allocates), reset, run per
// block; nothing is allocated by run().
#pragma once

#include <complex>
#include <memory>
#include <vector>

#include "rx/fine/iq_balance.h"

namespace talvo::fine {

struct FilterBankParams {
  double spacing_hz = 1000;  // Hz between channel centres
  double pass_hz = 750;      // Hz either side of a centre kept flat
  double stop_hz = 1200;     // Hz either side where the stop band begins
  double stop_db = 70;       // dB, the prototype's stop band
};

class FilterBank {
 public:
  using cfloat = std::complex<float>;

  // Why a rate cannot be served (empty when it can): the rate must hold a
  // whole number of channels and of samples per channel sample.
  static const char* check(int sample_rate, const FilterBankParams& p = {});

  FilterBank();
  ~FilterBank();
  FilterBank(const FilterBank&) = delete;
  FilterBank& operator=(const FilterBank&) = delete;

  // max_frames: most frames one run() takes. Throws std::invalid_argument
  // when check() refuses the rate.
  void make(int sample_rate, int max_frames, const FilterBankParams& p = {});
  void reset();

  // n frames of interleaved I/Q (2n values, I first).
  void run(const double* iq, int n);
  const IqBalance& balance() const { return bal_; }

  int channels() const { return m_; }
  int decimation() const { return d_; }  // input frames per channel sample
  double rate() const;                   // channel samples per second
  double spacing_hz() const { return p_.spacing_hz; }
  // The channel nearest a frequency (Hz, negative below 0) and its centre.
  int channel_of(double hz) const;
  double channel_hz(int c) const;
  // Input frames from the input to a channel's sample: the balance's block
  // and the prototype's group delay.
  double delay_frames() const { return lead() + (static_cast<double>(taps_) - 1) / 2; }
  // Frames the channels lag the input: a block waits for its balance.
  int lead() const { return static_cast<int>(pending_.size() / 2); }
  // Channel samples made since reset; sample j is made by input frame
  // lead() + (j + 1) * decimation() - 1.
  long long made() const { return made_; }
  // Channel c's sample j (one of the last ring() made).
  cfloat at(int c, long long j) const {
    return out_[static_cast<std::size_t>(c) * ring_ + (j & (ring_ - 1))];
  }

 private:
  struct Fft;
  FilterBankParams p_;
  int rate_ = 0;              // input frames per second
  int m_ = 1;                 // channels
  int d_ = 1;                 // input frames per channel sample
  int len_ = 0;               // prototype taps (a multiple of m_ after padding)
  int taps_ = 0;              // prototype taps before padding (odd)
  std::vector<float> rev_;    // prototype reversed and padded: rev_[i] = h[len_ - 1 - i]
  std::vector<cfloat> hist_;  // the last len_ frames, written twice (oldest at pos_)
  int pos_ = 0;               // slot of the oldest frame
  int fill_ = 0;              // frames since the last channel sample
  std::vector<cfloat> fix_;   // [c]: each channel's constant phase, taken out
  std::unique_ptr<Fft> fft_;
  IqBalance bal_;                // the receiver's DC offset and I/Q imbalance taken out
  std::vector<double> pending_;  // a block of I/Q waiting for its balance
  int waiting_ = 0;              // frames in it
  int ring_ = 1;                 // samples kept per channel (power of two)
  std::vector<cfloat> out_;      // [c * ring_ + j % ring_]
  long long made_ = 0;           // channel samples made since reset

  void sample();  // one channel sample of every channel from the history
};

}  // namespace talvo::fine
