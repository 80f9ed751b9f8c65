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

inline double db(double x) {
  return 10 * std::log10(x);
}
inline double undb(double x) {
  return std::pow(10.0, x / 10);
}

}  // namespace talvo::fine
