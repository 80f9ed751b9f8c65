// A stream read twice from its start. A stream cannot seek, yet the input
// gain is measured on its first seconds before they are decoded: ReplayStart
// keeps what it reads of them, and until rewind() the stream seems to end
// where the kept part ends; after it the kept samples come again, then the
// rest of the stream.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "input/recording.h"
#include "rx/chanarray.h"

namespace talvo {

class ReplayStart : public AudioSource {
 public:
  static constexpr std::size_t kKeep = 10 * samplefreq;  // samples kept: 10 s

  explicit ReplayStart(std::unique_ptr<AudioSource> in) : in_(std::move(in)) {}

  int read(double* out, int n) override;
  // Once: the kept samples are handed out again.
  bool rewind() override;
  long long length() const override { return in_->length(); }
  int native_rate() const override { return in_->native_rate(); }

 private:
  std::unique_ptr<AudioSource> in_;
  bool keeping_ = true;                      // still keeping (not yet rewound)
  std::vector<double> kept_;                 // the first samples, 48 kHz sample units
  std::size_t replay_ = 0, replay_end_ = 0;  // the kept samples still to hand out again
};

}  // namespace talvo
