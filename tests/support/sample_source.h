// Generated samples in memory as the audio source of a recording: what
// decode_recording reads when a test or benchmark decodes a signal it made,
// without a file in between.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "input/recording.h"

namespace talvo::test {

// Reads the samples it is given (kept by reference: they outlive it).
class SampleSource : public AudioSource {
 public:
  explicit SampleSource(const std::vector<float>& v) : v_(v) {}
  explicit SampleSource(std::vector<float>&&) = delete;  // would dangle
  int read(double* out, int n) override {
    const int k = static_cast<int>(std::min<std::size_t>(n, v_.size() - pos_));
    for (int i = 0; i < k; i++)
      out[i] = v_[pos_ + i];
    pos_ += k;
    return k;
  }
  bool rewind() override {
    pos_ = 0;
    return true;
  }
  long long length() const override { return static_cast<long long>(v_.size()); }

 private:
  const std::vector<float>& v_;  // the samples, in sample units
  std::size_t pos_ = 0;          // samples read so far
};

}  // namespace talvo::test
