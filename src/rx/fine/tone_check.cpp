#include "rx/fine/tone_check.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "rx/fine/common.h"

namespace talvo::fine {

bool off_tone(const ToneCheckParams& p, const ChannelPower& power, long long from, long long to,
              std::complex<double> rot, double n) {
  const long long len = to - from;
  if (len < 2 || !(n > 0) || rot == 0.0) return false;
  const long long mid = from + len / 2;
  std::complex<double> first = 0, second = 0;  // phase advances of each half summed, units^2
  std::complex<double> last(power.env(from).real(), power.env(from).imag());
  double sum = std::norm(last);  // power summed, units^2
  for (long long t = from + 1; t < to; t++) {
    const std::complex<double> z(power.env(t).real(), power.env(t).imag());
    (t <= mid ? first : second) += z * std::conj(last);
    sum += std::norm(z);
    last = z;
  }
  const double rho = std::max(sum / static_cast<double>(len) / n - 1, 1e-3);
  const double hz = kTickRate / (2 * std::numbers::pi);  // Hz per radian a tick
  // What the noise alone moves the mean frequency of `ticks` ticks by, Hz.
  const auto noise_hz = [&](double ticks) { return hz / (ticks * std::sqrt(rho)); };
  const double off = std::abs(std::arg((first + second) * std::conj(rot))) * hz;
  const double sweep = std::abs(std::arg(second * std::conj(first))) * hz;
  const double whole = static_cast<double>(len);
  return off > p.off_hz + p.spread * noise_hz(whole) ||
         sweep > p.sweep_hz + p.spread * std::sqrt(2.0) * noise_hz(whole / 2);
}

bool ToneCheck::judge(bool off, double& own) {
  const double x = off ? 1.0 : 0.0;
  own += (x - own) * p_.own_track;
  band_ += (x - band_) * p_.band_track;
  if (band_ >= p_.voice_on) voice_ = true;
  if (band_ < p_.voice_off) voice_ = false;
  return off && voice_ && own < p_.own_share;
}

}  // namespace talvo::fine
