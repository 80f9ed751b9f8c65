#include "rx/fine_receiver.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "rx/fine/common.h"

namespace talvo {

FineReceiver::FineReceiver(const FinePlan& plan)
    : fe_(plan),
      gate_(fe_.clusters() + 1),
      gated_(static_cast<std::size_t>(fe_.clusters()) *
             static_cast<std::size_t>(FineFrontEnd::kMaxFrames / fe_.samples_per_tick() + 2)),
      in_key_(static_cast<std::size_t>(fe_.clusters() + 1)),
      in_level_(static_cast<std::size_t>(fe_.clusters() + 1)),
      in_tone_(static_cast<std::size_t>(fe_.clusters() + 1)),
      tick_rate_(static_cast<int>(std::lround(fe_.tick_rate()))),
      centre_(static_cast<std::size_t>(fe_.clusters())),
      buf_(plan.bank ? 0 : static_cast<std::size_t>(2 * FineFrontEnd::kMaxFrames)),
      keys_(static_cast<std::size_t>(fe_.clusters()), 0.0),
      list_(static_cast<std::size_t>(fe_.clusters())),
      sample_rate_(plan.sample_rate) {
  gate_.set_reference(fe_.clusters());
  gate_.set_taken_out_reach(FineFrontEnd::subtract_near_hz(), FineFrontEnd::subtract_far_hz());
  for (int q = 0; q < fe_.clusters(); q++)
    gate_.set_centre(q, fe_.centre_hz(q));
  gate_.set_centre(fe_.clusters(), -1e9);
  band_delay_ = std::max(1, static_cast<int>(std::lround(fe_.delay_ticks())));
  band_creep_ = std::pow(10.0, 2.0 / (10.0 * fe_.tick_rate()));
  band_key_.assign(static_cast<std::size_t>(band_delay_), 0.0);
  band_level_.assign(static_cast<std::size_t>(band_delay_), 0.0);
  for (int q = 0; q < fe_.clusters(); q++)
    centre_[static_cast<std::size_t>(q)] = static_cast<int>(std::lround(fe_.centre_hz(q)));
  iq_ = plan.iq;
  band_least_ = (iq_ ? 2.0 : 0.5) * fine::kRounding;
  banked_ = plan.bank != nullptr;
}

void FineReceiver::run(const double* in, int n) {
  // Behind a shared filter bank the front end reads the bank, not the input.
  const int values = banked_ ? 0 : iq_ ? 2 * n : n;
  for (int i = 0; i < values; i++)
    buf_[static_cast<std::size_t>(i)] = static_cast<float>(in[i]);
  block_start_ += block_frames_;
  block_frames_ = n;
  fe_.run(buf_.data(), n);
  gate_block();
  next_ = 0;
  current_ = -1;
  ticked_ = false;
}

bool FineReceiver::tick(int k) {
  ticked_ = next_ < fe_.ticks() && fe_.tick_frame(next_) == k;
  current_ = ticked_ ? next_++ : -1;
  return ticked_;
}

int FineReceiver::next_tick(int k) const {
  for (int t = next_; t < fe_.ticks(); t++)
    if (fe_.tick_frame(t) >= k) return fe_.tick_frame(t);
  return block_frames_;
}

void FineReceiver::settle(int) {
  if (current_ < 0) return;
  for (int q = 0; q < fe_.clusters(); q++) {
    const auto i = static_cast<std::size_t>(q);
    keys_[i] =
        gated_[static_cast<std::size_t>(current_) * static_cast<std::size_t>(fe_.clusters()) + i];
    list_[i] = {q, keys_[i] != 0.0};
  }
}

void FineReceiver::band_tick(double power) {
  // The floor follows the lowest power, the peak the highest, each creeping
  // back 20 dB in 10 s; the band is keyed down half way between them (in
  // dB, with 1 dB either side) while they lie 10 dB apart or more: a keyed
  // signal dominates it. The floor lies no lower than the rounding noise of
  // 16-bit samples: a resampler's tails over digital silence stand some
  // 100 dB under it, and a floor among them kept the band keyed through
  // the gaps of a noise-free recording, so that its edges explained no
  // product of the station (a file at 8000 Hz, resampled to 48 kHz).
  band_floor_ =
      std::max(band_least_, band_floor_ <= 0 ? power : std::min(power, band_floor_ * band_creep_));
  band_peak_ = std::max(power, band_peak_ / band_creep_);
  const double mid = std::sqrt(band_floor_ * band_peak_);
  const bool keyed = band_peak_ > 10 * band_floor_;
  band_down_ = keyed && power > mid * (band_down_ ? 0.79 : 1.26);
  const auto at = static_cast<std::size_t>(band_ticks_ % band_delay_);
  // The ring hands out the tick band_delay_ ticks back, as the clusters'
  // key states lag their input.
  const int n = fe_.clusters();
  in_key_[static_cast<std::size_t>(n)] = band_key_[at];
  in_level_[static_cast<std::size_t>(n)] = band_level_[at];
  band_key_[at] = band_down_ ? 1.0 : 0.0;
  band_level_[at] = std::max(0.0, power - band_floor_);
  band_ticks_++;
}

void FineReceiver::add_band(int from, int to) {
  double sum = band_sum_;
  if (iq_) {
    for (int f = from; f < to; f++) {
      const float i = buf_[static_cast<std::size_t>(2 * f)],
                  q = buf_[static_cast<std::size_t>(2 * f + 1)];
      sum += static_cast<double>(i) * i + static_cast<double>(q) * q;
    }
  } else {
    for (int f = from; f < to; f++) {
      const float x = buf_[static_cast<std::size_t>(f)];
      sum += 0.5 * static_cast<double>(x) * x;
    }
  }
  band_sum_ = sum;
  band_frames_ += std::max(0, to - from);
}

void FineReceiver::gate_block() {
  const int n = fe_.clusters();
  // The tones as the front end left them at the end of the block, the same
  // for each of its ticks.
  for (int q = 0; q < n; q++) {
    in_tone_[static_cast<std::size_t>(q)] = fe_.tone_hz(q);
    gate_.set_taken_out(q, fe_.taken_out(q));
  }
  in_tone_[static_cast<std::size_t>(n)] = -1e9;
  // Behind a shared bank the block is not copied in: the band's power is
  // not measured (it stays 0, the reference never keyed).
  int frame = banked_ ? block_frames_ : 0;
  for (int t = 0; t < fe_.ticks(); t++) {
    // The band's mean power over the frames up to this tick.
    if (!banked_) {
      const int last = fe_.tick_frame(t);
      add_band(frame, last + 1);
      frame = std::max(frame, last + 1);
    }
    band_tick(band_sum_ / std::max(1, band_frames_));
    band_sum_ = 0;
    band_frames_ = 0;
    for (int q = 0; q < n; q++) {
      const auto i = static_cast<std::size_t>(q);
      in_key_[i] = fe_.key(q, t);
      in_level_[i] = fe_.level(q, t);
    }
    // The band stands for a signal outside the clusters only while it lies
    // 10 dB over every cluster's power (a station on a cluster dominates
    // the band as much as that cluster).
    const double strongest = *std::max_element(in_level_.begin(), in_level_.begin() + n);
    if (in_level_[static_cast<std::size_t>(n)] < 10 * strongest)
      in_key_[static_cast<std::size_t>(n)] = 0.0;
    const double* out = gate_.push(in_key_.data(), in_level_.data(), in_tone_.data());
    std::copy(out, out + n, gated_.begin() + static_cast<std::ptrdiff_t>(t) * n);
  }
  // The frames after the last tick count towards the next.
  if (!banked_) add_band(frame, block_frames_);
}

const ClusterKey* FineReceiver::ticked_keys(int& n) {
  // All clusters tick together.
  n = ticked_ ? fe_.clusters() : 0;
  return list_.data();
}

short FineReceiver::tone(int k, int q, int amplitude) const {
  // The phase from the sample count in whole cycles and a remainder, exact
  // however long the program runs.
  const long long f = centre_[static_cast<std::size_t>(q)];
  const long long t = block_start_ + k + 1;
  const long long rem = (f % sample_rate_ * (t % sample_rate_)) % sample_rate_;
  const double phase = 2 * std::numbers::pi * static_cast<double>(rem) / sample_rate_;
  return static_cast<short>(static_cast<int>(amplitude * std::sin(phase)));
}

}  // namespace talvo
