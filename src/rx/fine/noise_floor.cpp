#include "rx/fine/noise_floor.h"

#include <algorithm>

namespace talvo::fine {

void NoiseFloor::make(const NoiseFloorParams& p, double quiet) {
  p_ = p;
  quiet_ = quiet;
  blocks_.resize(p.blocks);
  scratch_.resize(p.blocks);
}

void NoiseFloor::reset() {
  std::fill(blocks_.begin(), blocks_.end(), 0.0);
  nblocks_ = 0;
  block_pos_ = 0;
  block_acc_ = 0;
  block_n_ = 0;
  noise_ = 0;
  since_down_ = 1 << 20;
}

void NoiseFloor::learn(double power) {
  block_acc_ += power;
  if (++block_n_ < p_.block_ticks) return;
  blocks_[block_pos_] = block_acc_ / p_.block_ticks;
  block_acc_ = 0;
  block_n_ = 0;
  block_pos_ = (block_pos_ + 1) % p_.blocks;
  nblocks_ = std::min(nblocks_ + 1, p_.blocks);
  if (nblocks_ >= p_.min_blocks && block_pos_ % p_.blocks_per_floor != 0) return;
  std::copy(blocks_.begin(), blocks_.begin() + nblocks_, scratch_.begin());
  const int r = static_cast<int>(p_.percentile * nblocks_);
  std::nth_element(scratch_.begin(), scratch_.begin() + r, scratch_.begin() + nblocks_);
  noise_ = std::max(scratch_[r] * p_.noise_cal, quiet_);
}

}  // namespace talvo::fine
