#include "input/input.h"

#include <unistd.h>

#include <algorithm>
#include <vector>

#include "input/interrupt.h"
#include "input/sniff.h"
#include "rx/chanarray.h"

namespace talvo {
namespace {

// Any source, ended early by a stop request and watched. A stream with
// `keep` hands out its first seconds twice: until the rewind it seems to
// end where the kept part ends.
class GuardedSource : public AudioSource {
 public:
  GuardedSource(std::unique_ptr<AudioSource> in, bool keep, ToneWatch* watch)
      : in_(std::move(in)), stream_(in_->length() < 0), keeping_(keep), watch_(watch) {}

  int read(double* out, int n) override {
    int got = 0;
    while (got < n && replay_ < replay_end_)
      out[got++] = kept_[replay_++];
    // A file ends at the next read (once a block of the decoder) after a
    // stop request. A stream then ends by itself, without waiting: it only
    // hands out what it has already read (its decoder may still hold some).
    if (got < n && (stream_ || !interrupted())) {
      int want = n - got;
      if (keeping_) want = std::min<int>(want, static_cast<int>(kKeep - kept_.size()));
      const int m = want > 0 ? in_->read(out + got, want) : 0;
      if (keeping_) kept_.insert(kept_.end(), out + got, out + got + m);
      got += m;
    }
    if (watch_) watch_->step(out, got);
    return got;
  }

  bool rewind() override {
    if (!stream_) {
      const bool ok = in_->rewind();
      if (ok && watch_) watch_->reset();  // it will be seen again
      return ok;
    }
    if (!keeping_) return false;
    keeping_ = false;
    replay_ = 0;
    replay_end_ = kept_.size();
    // Seen once already.
    if (watch_) watch_->reset();
    return true;
  }

  long long length() const override { return in_->length(); }
  int native_rate() const override { return in_->native_rate(); }

 private:
  static constexpr std::size_t kKeep = 10 * samplefreq;
  std::unique_ptr<AudioSource> in_;
  bool stream_;  // no length: standard input
  bool keeping_;
  ToneWatch* watch_;
  std::vector<double> kept_;                 // the first samples of a stream
  std::size_t replay_ = 0, replay_end_ = 0;  // the kept samples still to hand out again
};

}  // namespace

Input open_input(const std::string& name, const InputOptions& o) {
  Input in;
  std::unique_ptr<AudioSource> src;
  if (name == "-") {
    StreamInput s = open_stream(STDIN_FILENO, o.force_raw, o.channel);
    src = std::move(s.source);
    in.error = s.error;
  } else {
    Opened<AudioSource> r = open_recording(name, o.channel);
    src = std::move(r.source);
    in.error = r.error;
  }
  if (!src) return in;
  const bool stream = src->length() < 0;
  in.source = std::make_unique<GuardedSource>(std::move(src), stream && o.keep_start, o.watch);
  return in;
}

}  // namespace talvo
