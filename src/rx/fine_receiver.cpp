#include "rx/fine_receiver.h"

#include <cmath>
#include <numbers>

namespace talvo {

FineReceiver::FineReceiver(const FinePlan& plan)
    : fe_(plan),
      tick_rate_(static_cast<int>(std::lround(fe_.tick_rate()))),
      centre_(static_cast<std::size_t>(fe_.clusters())),
      buf_(static_cast<std::size_t>(2 * FineFrontEnd::kMaxFrames)),
      keys_(static_cast<std::size_t>(fe_.clusters()), 0.0),
      list_(static_cast<std::size_t>(fe_.clusters())),
      sample_rate_(plan.sample_rate) {
  for (int q = 0; q < fe_.clusters(); q++)
    centre_[static_cast<std::size_t>(q)] = static_cast<int>(std::lround(fe_.centre_hz(q)));
  iq_ = plan.iq;
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
    keys_[i] = fe_.key(q, current_);
    list_[i] = {q, keys_[i] != 0.0};
  }
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
