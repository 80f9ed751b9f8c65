#include "rx/fine/channeliser.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace talvo::fine {

std::vector<float> kaiser(double fc, double df, double as, double shape) {
  unsigned n = estimate_req_filter_len(static_cast<float>(df), static_cast<float>(as));
  n |= 1;  // odd: a whole-sample group delay
  std::vector<float> h(n);
  const double window = shape > 0 ? shape : as;
  liquid_firdes_kaiser(n, static_cast<float>(fc), static_cast<float>(window), 0.0f, h.data());
  double sum = 0;
  for (float v : h)
    sum += v;
  for (float& v : h)
    v = static_cast<float>(v / sum);
  return h;
}

Channeliser::~Channeliser() {
  if (band_iq_) firdecim_cccf_destroy(band_iq_);
}

void Channeliser::make(const ChanneliserParams& p, int sample_rate, int spt, bool iq,
                       const std::vector<double>& centres, int max_frames) {
  p_ = p;
  sample_rate_ = sample_rate;
  iq_ = iq;
  centres_ = centres;
  const double rate = sample_rate;
  band_mid_ = (centres.front() + centres.back()) / 2;
  const double pass = (centres.back() - centres.front()) / 2 + p.band_margin_hz;
  const int k = static_cast<int>(centres.size());

  // The band decimation: the cheapest divisor of a tick that leaves the
  // band's passband clean, counting multiply-adds per second.
  double best = 0;
  for (int d = 1; d <= spt / 2; d++) {
    if (spt % d != 0) continue;
    const double r = rate / d;
    double cost = 0;
    if (d > 1) {
      if (r - 2 * pass < p.min_band_skirt_hz) continue;
      cost += 2.0 *
              estimate_req_filter_len(static_cast<float>((r - 2 * pass) / rate),
                                      static_cast<float>(p.stop_db)) *
              r;
    }
    const double l2 = estimate_req_filter_len(static_cast<float>(p.cluster_skirt_hz / r),
                                              static_cast<float>(p.stop_db));
    cost += k * 4 * l2 * kTickRate;  // complex taps on complex samples
    if (best == 0 || cost < best) {
      best = cost;
      d1_ = d;
    }
  }
  d2_ = spt / d1_;
  band_rate_ = rate / d1_;

  const double two_pi = 2 * std::numbers::pi;
  if (d1_ > 1) {
    band_taps_ = kaiser(0.5 / d1_, (band_rate_ - 2 * pass) / rate, p.stop_db);
    const std::size_t len = band_taps_.size();
    const double w = two_pi * band_mid_ / rate;
    std::vector<float> re(len), im(len);
    std::vector<cfloat> cx(len);
    for (std::size_t i = 0; i < len; i++) {
      re[i] = static_cast<float>(band_taps_[i] * std::cos(w * i));
      im[i] = static_cast<float>(band_taps_[i] * std::sin(w * i));
      cx[i] = cfloat(re[i], im[i]);
    }
    if (iq) {
      band_iq_ = firdecim_cccf_create(d1_, cx.data(), len);
    } else {
      band_real_.make(re, im, d1_, max_frames);
    }
  }
  band_cplx_.resize(max_frames);
  clu_taps_ = kaiser(p.cluster_cut_hz / band_rate_, p.cluster_skirt_hz / band_rate_, p.stop_db,
                     p.cluster_shape_db);
  hist_.resize(2 * clu_taps_.size());
  turn_.resize(static_cast<std::size_t>(k));
  for (int q = 0; q < k; q++) {
    // Oldest first: element i of the window is k = len - 1 - i samples old.
    const std::size_t len = clu_taps_.size();
    const double w = mixing(centres[q]);
    std::vector<cfloat> taps(len);
    for (std::size_t i = 0; i < len; i++) {
      const double k = static_cast<double>(len - 1 - i);
      taps[i] = std::polar(clu_taps_[len - 1 - i], static_cast<float>(w * k));
    }
    dec_.insert(dec_.end(), taps.begin(), taps.end());
  }
  make_quads();
}

void Channeliser::make(const ChanneliserParams& p, const FilterBank& bank, int spt,
                       const std::vector<double>& centres) {
  p_ = p;
  bank_ = &bank;
  lead_ = bank.lead();
  iq_ = true;
  centres_ = centres;
  sample_rate_ = static_cast<int>(std::lround(bank.rate() * bank.decimation()));
  d1_ = bank.decimation();
  d2_ = spt / d1_;
  band_rate_ = bank.rate();
  band_mid_ = 0;
  clu_taps_ = kaiser(p.cluster_cut_hz / band_rate_, p.cluster_skirt_hz / band_rate_, p.stop_db,
                     p.cluster_shape_db);
  const std::size_t len = clu_taps_.size();
  const int k = static_cast<int>(centres.size());
  for (int q = 0; q < k; q++) {
    const int ch = bank.channel_of(centres[q]);
    const auto it = std::find(bank_ch_.begin(), bank_ch_.end(), ch);
    clu_ch_.push_back(static_cast<int>(it - bank_ch_.begin()));
    if (it == bank_ch_.end()) bank_ch_.push_back(ch);
    const double w = mixing(centres[q]);
    std::vector<cfloat> taps(len);
    for (std::size_t i = 0; i < len; i++) {
      const double kk = static_cast<double>(len - 1 - i);
      taps[i] = std::polar(clu_taps_[len - 1 - i], static_cast<float>(w * kk));
    }
    dec_.insert(dec_.end(), taps.begin(), taps.end());
  }
  bank_hist_.resize(bank_ch_.size() * 2 * len);
  turns_.resize(1000);
  for (int i = 0; i < 1000; i++)
    turns_[static_cast<std::size_t>(i)] =
        std::polar(1.0f, static_cast<float>(-2 * std::numbers::pi * i / 1000));
  for (int q = 0; q < k; q++) {
    // w d2 / 2 pi = centre / ticks per second, in thousandths of a turn.
    const double th = centres[q] * 1000 / (band_rate_ / d2_);
    if (th != std::round(th))
      throw std::invalid_argument("behind a filter bank cluster centres are whole Hz");
    turn_step_.push_back(static_cast<int>(((std::lround(th) % 1000) + 1000) % 1000));
  }
  turn_at_.assign(static_cast<std::size_t>(k), 0);
  make_quads();
}

void Channeliser::make_quads() {
  const int k = static_cast<int>(centres_.size());
  const std::size_t len = clu_taps_.size();
  quads_.clear();
  const int hists = bank_ ? static_cast<int>(bank_ch_.size()) : 1;
  for (int h = 0; h < hists; h++) {
    Quad qd;
    qd.hist = h;
    int lanes = 0;
    for (int q = 0; q <= k; q++) {
      if (q < k && (bank_ ? clu_ch_[q] : 0) != h) continue;
      if (q < k) qd.q[lanes++] = q;
      if (lanes == 4 || (q == k && lanes > 0)) {
        for (int l = lanes; l < 4; l++)
          qd.q[l] = -1;
        quads_.push_back(qd);
        lanes = 0;
      }
    }
  }
  quad_re_.assign(quads_.size() * len, v4{});
  quad_im_.assign(quads_.size() * len, v4{});
  lane_.assign(static_cast<std::size_t>(k), 0);
  for (std::size_t j = 0; j < quads_.size(); j++)
    for (int l = 0; l < 4; l++) {
      const int q = quads_[j].q[l];
      if (q < 0) continue;
      lane_[static_cast<std::size_t>(q)] = static_cast<int>(j) * 4 + l;
      for (std::size_t i = 0; i < len; i++) {
        const cfloat w = dec_[static_cast<std::size_t>(q) * len + i];
        quad_re_[j * len + i][l] = w.real();
        quad_im_[j * len + i][l] = w.imag();
      }
    }
  // The taps are read from the quads from now on.
  dec_.clear();
  dec_.shrink_to_fit();
}

int Channeliser::next_tick(int from, int n) {
  for (int i = from; i < n;) {
    // Frames to the next bank sample.
    const int to = frame_ < lead_ ? static_cast<int>(lead_ - frame_) + d1_
                                  : static_cast<int>(d1_ - (frame_ - lead_) % d1_);
    if (i + to > n) {
      frame_ += n - i;
      return n;
    }
    frame_ += to;
    i += to;
    if (bank_sample()) return i - 1;
  }
  return n;
}

double Channeliser::mixing(double centre) const {
  const double two_pi = 2 * std::numbers::pi;
  // Behind the bank a channel's samples stand at the band's own frequencies
  // folded by its rate: the cluster mixes by its centre, whole turns left out.
  if (bank_) return two_pi * std::remainder(centre / band_rate_, 1.0);
  return two_pi * (centre - band_mid_) / band_rate_;
}

double Channeliser::delay_frames() const {
  if (bank_) return bank_->delay_frames() + (clu_taps_.size() - 1) / 2.0 * d1_;
  return (band_taps_.empty() ? 0.0 : (band_taps_.size() - 1) / 2.0) +
         (clu_taps_.size() - 1) / 2.0 * d1_;
}

void Channeliser::reset() {
  band_turn_.set(band_mid_ * d1_ / sample_rate_);
  band_turn_.reset();
  if (band_iq_) firdecim_cccf_reset(band_iq_);
  band_real_.reset();
  std::fill(band_cplx_.begin(), band_cplx_.end(), cfloat{});
  std::fill(hist_.begin(), hist_.end(), cfloat{});
  std::fill(bank_hist_.begin(), bank_hist_.end(), cfloat{});
  frame_ = 0;
  std::fill(turn_at_.begin(), turn_at_.end(), 0);
  hist_pos_ = 0;
  band_fill_ = 0;
  fill2_ = 0;
  for (std::size_t q = 0; q < turn_.size(); q++) {
    turn_[q].set((centres_[q] - band_mid_) / band_rate_ * d2_);
    turn_[q].reset();
  }
}

void Channeliser::begin(const float* in, int n) {
  if (bank_) return;
  if (d1_ > 1) {
    if (!iq_) band_real_.run(in, n);
    return;
  }
  // No band filter: every frame is mixed down as it comes.
  for (int i = 0; i < n; i++)
    band_cplx_[i] = iq_ ? cfloat(in[2 * i], in[2 * i + 1]) : cfloat(in[i], 0.0f);
  for (int i = 0; i < n; i++)
    band_cplx_[i] *= band_turn_.next();
}

void Channeliser::cluster(int q, cfloat* z, cfloat* turn) {
  cfloat* h = bank_
                  ? bank_hist_.data() + static_cast<std::size_t>(clu_ch_[q]) * 2 * clu_taps_.size()
                  : hist_.data();
  // Summed oldest first, in single precision, one product at a time (as
  // liquid's dotprod_cccf does).
  const std::size_t len = clu_taps_.size();
  const cfloat* x = h + hist_pos_;
  const std::size_t j = static_cast<std::size_t>(lane_[static_cast<std::size_t>(q)]);
  const v4* wa = quad_re_.data() + j / 4 * len;
  const v4* wb = quad_im_.data() + j / 4 * len;
  const int l = static_cast<int>(j % 4);
  float re = 0, im = 0;
  for (std::size_t i = 0; i < len; i++) {
    const float a = wa[i][l], b = wb[i][l], c = x[i].real(), d = x[i].imag();
    re += a * c - b * d;
    im += a * d + b * c;
  }
  *z = cfloat(re, im);
  turn_of(q, turn);
}

void Channeliser::turn_of(int q, cfloat* turn) {
  if (bank_) {
    int& at = turn_at_[static_cast<std::size_t>(q)];
    *turn = turns_[static_cast<std::size_t>(at)];
    at += turn_step_[static_cast<std::size_t>(q)];
    if (at >= 1000) at -= 1000;
    return;
  }
  *turn = turn_[static_cast<std::size_t>(q)].next();
}

void Channeliser::clusters(cfloat* z, cfloat* turn) {
  const std::size_t len = clu_taps_.size();
  for (std::size_t j = 0; j < quads_.size(); j++) {
    const Quad& qd = quads_[j];
    const cfloat* h =
        bank_ ? bank_hist_.data() + static_cast<std::size_t>(qd.hist) * 2 * len : hist_.data();
    const cfloat* x = h + hist_pos_;
    const v4* a = quad_re_.data() + j * len;
    const v4* b = quad_im_.data() + j * len;
    // Lane by lane the sums of cluster(): re += a c - b d, im += a d + b c.
    v4 re{}, im{};
    for (std::size_t i = 0; i < len; i++) {
      const float xr = x[i].real(), xi = x[i].imag();
      const v4 c = {xr, xr, xr, xr};
      const v4 d = {xi, xi, xi, xi};
      re += a[i] * c - b[i] * d;
      im += a[i] * d + b[i] * c;
    }
    for (int l = 0; l < 4; l++)
      if (qd.q[l] >= 0) z[qd.q[l]] = cfloat(re[l], im[l]);
  }
  const int k = static_cast<int>(centres_.size());
  for (int q = 0; q < k; q++)
    turn_of(q, turn + q);
}

}  // namespace talvo::fine
