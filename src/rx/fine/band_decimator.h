// Band decimator: real audio in, the band's complex samples out, one every
// d input frames.
//
// The band stage's low-pass carries its mixing in its taps (a cosine- and
// a sine-weighted copy, channeliser.h), so a real frame feeds two real
// filters. Sample g of the output is the two filters' dot products over
// the window ending at the first frame of its group of d, and it is ready
// once the group's last frame has come: liquid's firdecim_rrrf, value for
// value (each product added in turn, oldest first, in single precision).
//
// The decimator works a block at a time: four outputs side by side, each
// lane summing its own window in that order, so the sums run in parallel
// instead of one long chain of dependent additions, with the same values.
//
// Life cycle: make once (allocates), reset, then per block run() and
// step() once per frame of it.
#pragma once

#include <vector>

#include "rx/fine/common.h"

namespace talvo::fine {

class BandDecimator {
 public:
  // re, im: the two filters' taps (the same length); d: the decimation;
  // max_frames: the most frames one block holds.
  void make(const std::vector<float>& re, const std::vector<float>& im, int d, int max_frames);
  void reset();
  // A block of n real frames: every output whose group completes in it.
  void run(const float* in, int n);
  // The block's next frame: whether it completes a group, and then that
  // group's output.
  bool step(cfloat* out) {
    if (++stepped_ < d_) return false;
    stepped_ = 0;
    *out = out_[static_cast<std::size_t>(taken_++)];
    return true;
  }

 private:
  int d_ = 1;                // input frames per output
  int len_ = 0;              // taps per filter
  std::vector<float> re_;    // [j]: cosine-weighted tap for the j-th oldest frame of a window
  std::vector<float> im_;    // [j]: the same, sine-weighted
  std::vector<float> hist_;  // frames: len_ - 1 before the next group's first, then the rest
  int held_ = 0;             // frames held in hist_
  int fill_ = 0;             // frames of the current group come so far, 0 .. d - 1
  std::vector<cfloat> out_;  // the block's outputs
  int taken_ = 0;            // outputs of the block taken
  int stepped_ = 0;          // frames of the current group stepped
};

}  // namespace talvo::fine
