#include "rx/fine/noise_floor.h"

#include <algorithm>

namespace talvo::fine {

namespace {

// std::lower_bound (upper: std::upper_bound) over n ascending values, as an
// index, without a branch on the values: the blocks come in any order, and
// a mispredicted branch at each halving cost more than the comparison.
template <bool upper, typename T>
int bound(const T* a, int n, T x) {
  if (n == 0) return 0;
  const T* base = a;
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

template <typename T>
void SortedBlocks<T>::make(int size, int block_ticks) {
  ring_.assign(static_cast<std::size_t>(size), T{});
  sorted_.assign(static_cast<std::size_t>(size), T{});
  block_ticks_ = block_ticks;
  reset();
}

template <typename T>
void SortedBlocks<T>::reset() {
  forget();
  sum_ = 0;
  summed_ = 0;
}

template <typename T>
void SortedBlocks<T>::forget() {
  n_ = 0;
  pos_ = 0;
}

template <typename T>
void SortedBlocks<T>::push(double value) {
  const T b = static_cast<T>(value);
  const int size = static_cast<int>(ring_.size());
  // The oldest leaves the sorted blocks when the ring is full, the new one
  // goes in its place by value. Only the blocks between the two places move.
  const auto first = sorted_.begin();
  const auto last = first + n_;
  const auto at = first + bound<true>(sorted_.data(), n_, b);
  if (n_ < size) {
    std::copy_backward(at, last, last + 1);
    *at = b;
  } else {
    const auto old =
        first + bound<false>(sorted_.data(), n_, ring_[static_cast<std::size_t>(pos_)]);
    if (at > old) {  // the old block lies under the new one (at least)
      std::copy(old + 1, at, old);
      *(at - 1) = b;
    } else {
      std::copy_backward(at, old, old + 1);
      *at = b;
    }
  }
  ring_[static_cast<std::size_t>(pos_)] = b;
  pos_ = (pos_ + 1) % size;
  n_ = std::min(n_ + 1, size);
}

template class SortedBlocks<double>;
template class SortedBlocks<float>;

void NoiseFloor::make(const NoiseFloorParams& p, double rounding) {
  p_ = p;
  quiet_ = rounding * undb(p.quiet_db);
  rise_ = undb(p.rise_db);
  clean_.make(p.blocks, p.block_ticks);
  every_.make(p.rises ? p.blocks : 0, p.block_ticks);
  up_.make(p.rises ? p.blocks : 0, p.block_ticks);
}

void NoiseFloor::reset() {
  clean_.reset();
  every_.reset();
  up_.reset();
  risen_run_ = 0;
  rises_ = 0;
  noise_ = 0;
  since_down_ = 1 << 20;
  downs_ = 0;
}

void NoiseFloor::learn() {
  if (clean_.size() >= p_.min_blocks && clean_.pos() % p_.blocks_per_floor != 0) return;
  estimate();
}

void NoiseFloor::estimate() {
  noise_ = std::max(clean_.percentile(p_.percentile) * p_.noise_cal, quiet_);
}

void NoiseFloor::compare() {
  if (up_.pos() % p_.blocks_per_floor != 0) return;
  if (up_.size() < p_.blocks || every_.size() < p_.blocks || clean_.size() < p_.min_blocks) {
    risen_run_ = 0;
    return;
  }
  // The key-up blocks and every tick's alike over the clean ones, and
  // every tick's spread as noise spreads.
  const double over = clean_.percentile(p_.rise_percentile) * rise_;
  const double low = every_.percentile(p_.rise_percentile);
  const bool risen = up_.percentile(p_.rise_percentile) >= over && low >= over &&
                     every_.percentile(0.5) <= low * p_.rise_spread;
  risen_run_ = risen ? risen_run_ + 1 : 0;
  if (risen_run_ < p_.rise_estimates) return;
  // The noise rose here: every tick's blocks are its clean ones.
  clean_.take(every_);
  risen_run_ = 0;
  rises_++;
  estimate();
}

}  // namespace talvo::fine
