#include "rx/fine/iq_balance.h"

#include <algorithm>

namespace talvo::fine {

void IqBalance::reset() {
  dc_ = w_ = e2_ = 0;
  p2_ = 0;
  blocks_ = 0;
}

void IqBalance::learn(const double* iq, int n) {
  if (n <= 0) return;
  blocks_++;
  // Over every block so far at first, then followed.
  const double first = 1.0 / static_cast<double>(blocks_);
  std::complex<double> sum = 0;
  for (int i = 0; i < n; i++)
    sum += std::complex<double>(iq[2 * i], iq[2 * i + 1]);
  dc_ += std::max(p_.dc_track, first) * (sum / static_cast<double>(n) - dc_);
  std::complex<double> sq = 0;
  double pw = 0;
  for (int i = 0; i < n; i++) {
    const std::complex<double> u = std::complex<double>(iq[2 * i], iq[2 * i + 1]) - dc_;
    sq += u * u;
    pw += std::norm(u);
  }
  const double k = std::max(p_.image_track, first);
  e2_ += k * (sq / static_cast<double>(n) - e2_);
  p2_ += k * (pw / static_cast<double>(n) - p2_);
  if (p2_ > 0) w_ = -e2_ / (2 * p2_);
}

}  // namespace talvo::fine
