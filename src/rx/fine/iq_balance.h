// I/Q balance: what a receiver's mixer adds to every I/Q span taken out
// before the span is channelised.
//
// A DC offset (the spike at 0 Hz of direct-conversion receivers) is the
// mean of each component; an amplitude and phase imbalance between I and Q
// puts a mirror image of every signal at -f (x + e conj(x)). Both are
// learnt from blocks of frames (learn), then the same block is balanced
// (apply), so a station's image is cancelled from its first element on.
// The image is cancelled by y = u + w conj(u) (u: the input less its DC)
// with w = -<u^2> / (2 <|u|^2>): <u^2> is zero for any sum of signals
// uncorrelated with their own mirrors and 2 e <|u|^2> for an image. The
// means are over every block so far, then followed block by block, so
// blocks of noise alone weigh as little as they hold.
#pragma once

#include <complex>

namespace talvo::fine {

struct IqBalanceParams {
  int block_frames = 2048;    // frames per learning block
  double dc_track = 0.25;     // share of the way to a block's mean, at least, per block
  double image_track = 0.05;  // share of the way to a block's <u^2> and <|u|^2>, at least
};

class IqBalance {
 public:
  using cfloat = std::complex<float>;

  void make(const IqBalanceParams& p) { p_ = p; }
  void reset();
  // Learns from a block of n frames of interleaved I/Q (2n values).
  void learn(const double* iq, int n);
  // One frame balanced.
  cfloat apply(double i_value, double q_value) const {
    const std::complex<double> u = std::complex<double>(i_value, q_value) - dc_;
    const std::complex<double> y = u + w_ * std::conj(u);
    return cfloat(static_cast<float>(y.real()), static_cast<float>(y.imag()));
  }

  std::complex<double> dc() const { return dc_; }    // sample units
  std::complex<double> image() const { return w_; }  // w

 private:
  IqBalanceParams p_;
  std::complex<double> dc_ = 0;  // the DC offset taken out, sample units
  std::complex<double> w_ = 0;   // the image canceller's weight
  std::complex<double> e2_ = 0;  // <u^2>, units^2
  double p2_ = 0;                // <|u|^2>, units^2
  long long blocks_ = 0;         // blocks learnt since reset
};

}  // namespace talvo::fine
