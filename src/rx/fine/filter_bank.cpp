#include "rx/fine/filter_bank.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "rx/fine/channeliser.h"

namespace talvo::fine {

// The FFT of the folded history, in place (FFTW's backward sign: the
// channels' band-pass taps are h[l] exp(+j 2 pi c l / m)).
struct FilterBank::Fft {
  fftwf_complex* buf = nullptr;
  fftwf_plan plan = nullptr;
  explicit Fft(int m) {
    buf = fftwf_alloc_complex(static_cast<std::size_t>(m));
    plan = fftwf_plan_dft_1d(m, buf, buf, FFTW_BACKWARD, FFTW_ESTIMATE);
  }
  ~Fft() {
    fftwf_destroy_plan(plan);
    fftwf_free(buf);
  }
};

FilterBank::FilterBank() = default;
FilterBank::~FilterBank() = default;

const char* FilterBank::check(int sample_rate, const FilterBankParams& p) {
  const double m = sample_rate / p.spacing_hz;
  if (sample_rate <= 0 || m != std::floor(m) || static_cast<int>(m) % 2 != 0 || m < 2)
    return "the filter bank needs a rate that holds an even number of channels";
  return nullptr;
}

void FilterBank::make(int sample_rate, int max_frames, const FilterBankParams& p) {
  if (const char* why = check(sample_rate, p)) throw std::invalid_argument(why);
  p_ = p;
  rate_ = sample_rate;
  m_ = static_cast<int>(sample_rate / p.spacing_hz);
  d_ = m_ / 2;
  const double r = sample_rate;
  const std::vector<float> h =
      kaiser((p.pass_hz + p.stop_hz) / 2 / r, (p.stop_hz - p.pass_hz) / r, p.stop_db);
  taps_ = static_cast<int>(h.size());
  len_ = (taps_ + m_ - 1) / m_ * m_;
  rev_.assign(static_cast<std::size_t>(len_), 0.0f);
  for (int i = 0; i < taps_; i++)
    rev_[static_cast<std::size_t>(len_ - 1 - i)] = h[static_cast<std::size_t>(i)];
  hist_.resize(2 * static_cast<std::size_t>(len_));
  // Channel c's band-pass taps h[l] exp(j 2 pi c l / m) delay a tone f by
  // the prototype's (taps - 1) / 2 frames and turn it by
  // exp(j 2 pi (c / m) (taps - 1) / 2) beyond what the tone alone would:
  // that turn is taken out.
  fix_.resize(static_cast<std::size_t>(m_));
  const double g = (taps_ - 1) / 2.0;
  for (int c = 0; c < m_; c++) {
    const double turns = std::fmod(static_cast<double>(c) * g, m_) / m_;
    fix_[static_cast<std::size_t>(c)] =
        std::polar(1.0f, static_cast<float>(-2 * std::numbers::pi * turns));
  }
  fft_ = std::make_unique<Fft>(m_);
  bal_.make(IqBalanceParams{});
  pending_.resize(2 * static_cast<std::size_t>(IqBalanceParams{}.block_frames));
  ring_ = 1;
  while (ring_ < 2 * ((max_frames + lead()) / d_ + 2))
    ring_ *= 2;
  out_.resize(static_cast<std::size_t>(m_) * ring_);
  reset();
}

double FilterBank::rate() const {
  return static_cast<double>(rate_) / d_;
}

int FilterBank::channel_of(double hz) const {
  const long c = std::lround(hz / p_.spacing_hz);
  return static_cast<int>(((c % m_) + m_) % m_);
}

double FilterBank::channel_hz(int c) const {
  return (c <= m_ / 2 ? c : c - m_) * p_.spacing_hz;
}

void FilterBank::reset() {
  std::fill(hist_.begin(), hist_.end(), cfloat{});
  std::fill(out_.begin(), out_.end(), cfloat{});
  pos_ = 0;
  fill_ = 0;
  made_ = 0;
  waiting_ = 0;
  bal_.reset();
}

void FilterBank::run(const double* iq, int n) {
  const int block = static_cast<int>(pending_.size() / 2);
  for (int i = 0; i < n;) {
    const int take = std::min(n - i, block - waiting_);
    std::copy(iq + 2 * i, iq + 2 * (i + take), pending_.begin() + 2 * waiting_);
    waiting_ += take;
    i += take;
    if (waiting_ < block) break;
    waiting_ = 0;
    bal_.learn(pending_.data(), block);
    for (int f = 0; f < block; f++) {
      const cfloat x = bal_.apply(pending_[2 * static_cast<std::size_t>(f)],
                                  pending_[2 * static_cast<std::size_t>(f) + 1]);
      hist_[static_cast<std::size_t>(pos_)] = x;
      hist_[static_cast<std::size_t>(pos_ + len_)] = x;
      if (++pos_ == len_) pos_ = 0;
      if (++fill_ < d_) continue;
      fill_ = 0;
      sample();
    }
  }
}

// The history (oldest first at pos_) weighted by the reversed prototype and
// folded by m: u[k] = sum over l = k (mod m) of h[l] x[n - l]; then the FFT
// gives every channel's band-pass output.
void FilterBank::sample() {
  auto* u = reinterpret_cast<cfloat*>(fft_->buf);
  const cfloat* win = hist_.data() + pos_;
  std::fill(u, u + m_, cfloat{});
  // win[i] is x[n - (len - 1 - i)], weighted by rev_[i] = h[len - 1 - i]:
  // it belongs to fold (len - 1 - i) mod m = m - 1 - (i mod m).
  for (int j = 0; j < len_; j += m_) {
    const float* w = rev_.data() + j;
    const cfloat* x = win + j;
    for (int k = 0; k < m_; k++)
      u[m_ - 1 - k] += w[k] * x[k];
  }
  fftwf_execute(fft_->plan);
  const std::size_t slot = static_cast<std::size_t>(made_ & (ring_ - 1));
  for (int c = 0; c < m_; c++)
    out_[static_cast<std::size_t>(c) * ring_ + slot] = u[c] * fix_[static_cast<std::size_t>(c)];
  made_++;
}

}  // namespace talvo::fine
