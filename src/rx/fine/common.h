// What every stage of the fine front end shares: the tick rate, the length
// of the per-cluster rings, the sample type and the dB conversions.
#pragma once

#include <cmath>
#include <complex>

namespace talvo::fine {

using cfloat = std::complex<float>;

constexpr int kTickRate = 500;  // ticks per second
constexpr int kRing = 256;      // ticks kept per cluster ring (power of two)
constexpr int kRingMask = kRing - 1;
// The variance of rounding to whole 16-bit sample units, units^2: the
// noise of a noise-free recording, white over half its native rate.
constexpr double kRounding = 1.0 / 12;

inline double db(double x) {
  return 10 * std::log10(x);
}
inline double undb(double x) {
  return std::pow(10.0, x / 10);
}

}  // namespace talvo::fine
