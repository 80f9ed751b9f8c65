// Why nothing was decoded, from what the input held.
//
// A ToneWatch runs alongside the decoder: every 4096 samples (85 ms at
// 48 kHz) it takes a Hann-windowed FFT and keeps, per bin, the highest
// power seen (a peak-hold spectrum). A keyed signal shows in it as a
// narrow peak far above the median of the bins (the noise floor). When the
// decoder found nothing, `diagnose` turns the loudest peak into advice: no
// signal at all, a signal outside the clusters (with the centre that would
// put it in), or one too weak for the receiver's fixed thresholds.
#pragma once

#include <fftw3.h>

#include <string>
#include <vector>

namespace talvo {

// The loudest tone of the input.
struct LoudestTone {
  bool silent = true;         // nothing but digital silence (or nothing at all)
  double hz = 0;              // its frequency, Hz (interpolated between bins)
  double dbfs = 0;            // its peak level: 0 dBFS is a sine of amplitude 32768
  double above_floor_db = 0;  // how far it stands above the median bin, dB
  double wide_hz = 0;         // spectrum within 10 dB of it, its own main lobe aside, Hz
};

class ToneWatch {
 public:
  static constexpr int kSize = 4096;  // samples per FFT
  ToneWatch();
  ~ToneWatch();
  ToneWatch(const ToneWatch&) = delete;
  ToneWatch& operator=(const ToneWatch&) = delete;

  // Forgets everything seen.
  void reset();
  // Takes n samples (signed 16-bit units, 48 kHz, before any gain).
  void step(const double* x, int n);
  // The loudest tone from 100 Hz up among the FFTs taken so far.
  LoudestTone loudest() const;

 private:
  std::vector<double> window_;  // Hann window, kSize values
  std::vector<double> hold_;    // per bin (kSize / 2 + 1): highest power seen, sample units^2
  double* in_;                  // FFT input, kSize samples (FFTW-aligned)
  fftw_complex* out_;           // FFT output, kSize / 2 + 1 bins
  fftw_plan plan_;
  int fill_ = 0;  // samples in in_ so far
};

// The message for an input on which nothing was decoded, from its loudest
// tone, the centre frequency, the gain the input was decoded at and whether
// that gain was measured (--auto-gain). Levels use the Unicode minus sign.
std::string diagnose(const LoudestTone& t, int centerfreq, double gain, bool auto_gain);
// The same for the fine receiver's clusters from lo_hz to hi_hz, which need
// no gain.
std::string diagnose_span(const LoudestTone& t, int lo_hz, int hi_hz);

}  // namespace talvo
