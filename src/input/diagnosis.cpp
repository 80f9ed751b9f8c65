#include "input/diagnosis.h"

#include <algorithm>
#include <cmath>

#include "rx/receiver.h"

namespace talvo {
namespace {

constexpr double kFullScale = 32768.0;  // sample units of 0 dBFS
constexpr double kLowestHz = 100.0;     // hum and DC below this are no tone
// A tone below this is beyond even the largest automatic gain (x100, +40 dB)
// from the level the receiver decodes best (a tone of 6000, -14.7 dBFS).
constexpr double kWeakestDbfs = -55.0;
// A peak-hold spectrum of noise alone has its loudest bin some 6 to 8 dB
// above its median: a tone must stand out further than that.
constexpr double kProminenceDb = 12.0;
// Below this (after the gain) the receiver's fixed thresholds lose the
// short marks: a tone of 6000 (-14.7 dBFS) decodes best.
constexpr double kDecodableDbfs = -20.0;
// Audio whose loudest bin reaches this without a tone standing out (speech,
// music, loud noise) is signal, not the quiet of an empty input.
constexpr double kLoudDbfs = -35.0;
// Bins within this of the loudest count as as loud as it (LoudestTone::wide_hz).
constexpr double kWideDb = 10.0;
// Sound as loud as the loudest tone over more of the spectrum than this is
// no keyed tone: measured, the bundled sample's five stations spread over
// 150 Hz (main lobes and key clicks), speech over 650 Hz, pink noise over
// 730 Hz, white noise over all of it.
constexpr double kWideHz = 400.0;

// Loud audio in which no tone stands out, or "" when the input is quiet.
std::string loud_without_tone(const LoudestTone& t);

// A level as a whole number of dB with the Unicode minus sign.
std::string db(double v) {
  const long r = std::lround(v);
  return (r < 0 ? "\u2212" : "") + std::to_string(std::labs(r));
}

}  // namespace

ToneWatch::ToneWatch()
    : window_(kSize),
      hold_(kSize / 2 + 1, 0.0),
      in_(fftw_alloc_real(kSize)),
      out_(fftw_alloc_complex(kSize / 2 + 1)),
      plan_(fftw_plan_dft_r2c_1d(kSize, in_, out_, FFTW_ESTIMATE)) {
  const double pi = std::acos(-1.0);
  for (int i = 0; i < kSize; i++)
    window_[i] = 0.5 - 0.5 * std::cos(2 * pi * i / kSize);
}

ToneWatch::~ToneWatch() {
  fftw_destroy_plan(plan_);
  fftw_free(out_);
  fftw_free(in_);
}

void ToneWatch::reset() {
  std::fill(hold_.begin(), hold_.end(), 0.0);
  fill_ = 0;
}

void ToneWatch::step(const double* x, int n) {
  for (int i = 0; i < n; i++) {
    in_[fill_] = x[i] * window_[fill_];
    if (++fill_ < kSize) continue;
    fill_ = 0;
    fftw_execute(plan_);
    for (int k = 0; k <= kSize / 2; k++)
      hold_[k] = std::max(hold_[k], out_[k][0] * out_[k][0] + out_[k][1] * out_[k][1]);
  }
}

LoudestTone ToneWatch::loudest() const {
  LoudestTone t;
  const int first = static_cast<int>(std::ceil(kLowestHz * kSize / samplefreq));
  const int last = kSize / 2 - 1;
  int best = first;
  for (int k = first; k <= last; k++)
    if (hold_[k] > hold_[best]) best = k;
  if (!(hold_[best] > 0)) return t;
  t.silent = false;
  // Parabolic interpolation of the peak in dB: the Hann window's scalloping
  // (up to 1.4 dB between bins) falls to about 0.1 dB.
  const auto level = [&](int k) { return 10 * std::log10(std::max(hold_[k], 1e-30)); };
  const double a = level(best - 1), b = level(best), c = level(best + 1);
  const double denom = a - 2 * b + c;
  const double p = denom < 0 ? std::clamp(0.5 * (a - c) / denom, -0.5, 0.5) : 0.0;
  const double peak_db = b - 0.25 * (a - c) * p;
  t.hz = (best + p) * samplefreq / kSize;
  // A sine of amplitude A peaks at A * kSize / 4 through the Hann window.
  t.dbfs = peak_db - 20 * std::log10(kFullScale * kSize / 4);
  std::vector<double> bins(hold_.begin() + first, hold_.begin() + last + 1);
  std::nth_element(bins.begin(), bins.begin() + static_cast<long>(bins.size() / 2), bins.end());
  const double median = bins[bins.size() / 2];
  t.above_floor_db = median > 0 ? b - 10 * std::log10(median) : 300.0;
  // How much of the spectrum reaches within kWideDb of the loudest bin,
  // its own main lobe (two bins either side) aside.
  const double near = hold_[best] * std::pow(10.0, -kWideDb / 10);
  for (int k = first; k <= last; k++)
    if (std::abs(k - best) > 2 && hold_[k] >= near) t.wide_hz += double(samplefreq) / kSize;
  return t;
}

namespace {

std::string loud_without_tone(const LoudestTone& t) {
  if (t.dbfs < kLoudDbfs) return "";
  const std::string said = "signals found but no Morse decoded: the loudest, at " +
                           std::to_string(static_cast<int>(std::lround(t.hz))) + " Hz and " +
                           db(t.dbfs) + " dBFS, ";
  const char* what = " (speech, music or noise, not a keyed tone)";
  if (t.above_floor_db < kProminenceDb)
    return said + "stands only " + std::to_string(static_cast<int>(std::lround(t.above_floor_db))) +
           " dB above the rest" + what;
  if (t.wide_hz > kWideHz)
    return said + "is as loud as sound over " +
           std::to_string(static_cast<int>(std::lround(t.wide_hz))) + " Hz of the spectrum" + what;
  return "";
}

}  // namespace

std::string diagnose(const LoudestTone& t, int centerfreq, double gain, bool auto_gain) {
  if (t.silent) return "no signal found: the input is silent";
  if (const std::string loud = loud_without_tone(t); !loud.empty()) return loud;
  if (t.dbfs < kWeakestDbfs || t.above_floor_db < kProminenceDb)
    return "no signal found: the loudest tone was at " + db(t.dbfs) + " dBFS";
  const int hz = static_cast<int>(std::lround(t.hz));
  // The outer clusters' channels reach 10 Hz beyond their centres.
  const int lo = centerfreq - 10 * kLastCentre - 10, hi = centerfreq + 10 * kLastCentre + 10;
  if (hz < lo || hz > hi) {
    const int centre =
        std::clamp(static_cast<int>(std::lround(t.hz / 10)) * 10, kMinCenterfreq, kMaxCenterfreq);
    return "signals found at " + std::to_string(hz) + " Hz, outside the clusters (" +
           std::to_string(lo) + "\u2013" + std::to_string(hi) + " Hz): try --center " +
           std::to_string(centre);
  }
  const double at = t.dbfs + 20 * std::log10(gain);
  if (!auto_gain && at < kDecodableDbfs)
    return "signals found at " + std::to_string(hz) + " Hz at " + db(t.dbfs) +
           " dBFS, too weak to decode: try --auto-gain";
  return "signals found at " + std::to_string(hz) + " Hz at " + db(t.dbfs) +
         " dBFS, but no Morse was decoded in them";
}

std::string diagnose_span(const LoudestTone& t, int lo_hz, int hi_hz) {
  if (t.silent) return "no signal found: the input is silent";
  if (const std::string loud = loud_without_tone(t); !loud.empty()) return loud;
  if (t.dbfs < kWeakestDbfs || t.above_floor_db < kProminenceDb)
    return "no signal found: the loudest tone was at " + db(t.dbfs) + " dBFS";
  const int hz = static_cast<int>(std::lround(t.hz));
  // A cluster hears 25 Hz either side of its centre.
  const int lo = lo_hz - 25, hi = hi_hz + 25;
  if (hz < lo || hz > hi) {
    const int centre = static_cast<int>(std::lround(t.hz / 50)) * 50;
    return "signals found at " + std::to_string(hz) + " Hz, outside the clusters (" +
           std::to_string(lo) + "\u2013" + std::to_string(hi) + " Hz): try --center " +
           std::to_string(centre);
  }
  return "signals found at " + std::to_string(hz) + " Hz at " + db(t.dbfs) +
         " dBFS, but no Morse was decoded in them";
}

}  // namespace talvo
