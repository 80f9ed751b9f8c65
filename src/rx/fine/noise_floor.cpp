#include "rx/fine/noise_floor.h"

#include <algorithm>

namespace talvo::fine {

namespace {

// std::lower_bound (upper: std::upper_bound) over n ascending values, as an
// index, without a branch on the values: the blocks come in any order, and
// a mispredicted branch at each halving cost more than the comparison.
template <bool upper>
int bound(const double* a, int n, double x) {
  if (n == 0) return 0;
  const double* base = a;
  while (n > 1) {
    const int half = n / 2;
    const bool right = upper ? !(x < base[half - 1]) : base[half - 1] < x;
    base = right ? base + half : base;
    n -= half;
  }
  const bool right = upper ? !(x < *base) : *base < x;
  return static_cast<int>(base - a) + right;
}

}  // namespace

void NoiseFloor::make(const NoiseFloorParams& p, double rounding) {
  p_ = p;
  quiet_ = rounding * undb(p.quiet_db);
  blocks_.resize(p.blocks);
  sorted_.resize(p.blocks);
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

void NoiseFloor::close_block() {
  const double b = block_acc_ / p_.block_ticks;
  block_acc_ = 0;
  block_n_ = 0;
  // The blocks held stand sorted beside the ring: the oldest leaves it when
  // the ring is full, the new one goes in its place by value. Only the
  // blocks between the two places move.
  const auto first = sorted_.begin();
  const auto last = first + nblocks_;
  const auto at = first + bound<true>(sorted_.data(), nblocks_, b);
  if (nblocks_ < p_.blocks) {
    std::copy_backward(at, last, last + 1);
    *at = b;
  } else {
    const auto old = first + bound<false>(sorted_.data(), nblocks_, blocks_[block_pos_]);
    if (at > old) {  // the old block lies under the new one (at least)
      std::copy(old + 1, at, old);
      *(at - 1) = b;
    } else {
      std::copy_backward(at, old, old + 1);
      *at = b;
    }
  }
  blocks_[block_pos_] = b;
  block_pos_ = (block_pos_ + 1) % p_.blocks;
  nblocks_ = std::min(nblocks_ + 1, p_.blocks);
  if (nblocks_ >= p_.min_blocks && block_pos_ % p_.blocks_per_floor != 0) return;
  const int r = static_cast<int>(p_.percentile * nblocks_);
  noise_ = std::max(sorted_[r] * p_.noise_cal, quiet_);
}

}  // namespace talvo::fine
