#include "input/input.h"

#include <unistd.h>

#include "input/interrupt.h"
#include "input/replay.h"
#include "input/sniff.h"

namespace talvo {
namespace {

// Any source, ended early by a stop request and watched. A file ends at the
// next read (once a block of the decoder) after a stop request; a stream
// then ends by itself, without waiting: it only hands out what it has
// already read (its decoder may still hold some).
class GuardedSource : public AudioSource {
 public:
  GuardedSource(std::unique_ptr<AudioSource> in, ToneWatch* watch)
      : in_(std::move(in)), stream_(in_->length() < 0), watch_(watch) {}

  int read(double* out, int n) override {
    const int got = stream_ || !interrupted() ? in_->read(out, n) : 0;
    if (watch_) watch_->step(out, got);
    return got;
  }

  bool rewind() override {
    const bool ok = in_->rewind();
    if (ok && watch_) watch_->reset();  // it will be seen again
    return ok;
  }

  long long length() const override { return in_->length(); }
  int native_rate() const override { return in_->native_rate(); }

 private:
  std::unique_ptr<AudioSource> in_;
  bool stream_;  // no length: standard input
  ToneWatch* watch_;
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
  // A stream keeps its start to be read twice; a file can rewind.
  if (src->length() < 0 && o.keep_start) src = std::make_unique<ReplayStart>(std::move(src));
  in.source = std::make_unique<GuardedSource>(std::move(src), o.watch);
  return in;
}

}  // namespace talvo
