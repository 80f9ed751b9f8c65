#include "rx/fine/band_decimator.h"

#include <algorithm>

namespace talvo::fine {

void BandDecimator::make(const std::vector<float>& re, const std::vector<float>& im, int d,
                         int max_frames) {
  d_ = d;
  len_ = static_cast<int>(re.size());
  // A window is read oldest first: tap len - 1 - j weighs its j-th frame.
  re_.assign(re.rbegin(), re.rend());
  im_.assign(im.rbegin(), im.rend());
  hist_.assign(static_cast<std::size_t>(len_ - 1 + d_ - 1 + max_frames), 0.0f);
  out_.assign(static_cast<std::size_t>(max_frames / d_ + 2), cfloat{});
  reset();
}

void BandDecimator::reset() {
  // Before the first frame the windows hold silence.
  std::fill(hist_.begin(), hist_.end(), 0.0f);
  held_ = std::max(len_ - 1, 0);
  fill_ = 0;
  taken_ = 0;
  stepped_ = 0;
}

void BandDecimator::run(const float* in, int n) {
  std::copy(in, in + n, hist_.begin() + held_);
  const int total = held_ + n;
  // Group g's window starts at frame g d of hist_ and ends at its first
  // frame, len - 1 later.
  const int groups = (fill_ + n) / d_;
  const float* h = hist_.data();
  const float* a = re_.data();
  const float* b = im_.data();
  using v4 = float __attribute__((vector_size(16)));
  int g = 0;
  for (; g + 4 <= groups; g += 4) {
    const float* x = h + static_cast<std::ptrdiff_t>(g) * d_;
    v4 sr{}, si{};
    for (int j = 0; j < len_; j++) {
      const v4 v = {x[j], x[d_ + j], x[2 * d_ + j], x[3 * d_ + j]};
      sr += a[j] * v;
      si += b[j] * v;
    }
    for (int l = 0; l < 4; l++)
      out_[static_cast<std::size_t>(g + l)] = cfloat(sr[l], si[l]);
  }
  for (; g < groups; g++) {
    const float* x = h + static_cast<std::ptrdiff_t>(g) * d_;
    float sr = 0, si = 0;
    for (int j = 0; j < len_; j++) {
      sr += a[j] * x[j];
      si += b[j] * x[j];
    }
    out_[static_cast<std::size_t>(g)] = cfloat(sr, si);
  }
  // What the next group's window needs moves to the front.
  const int used = groups * d_;
  std::copy(hist_.begin() + used, hist_.begin() + total, hist_.begin());
  held_ = total - used;
  fill_ = held_ - (len_ - 1);
  taken_ = 0;
}

}  // namespace talvo::fine
