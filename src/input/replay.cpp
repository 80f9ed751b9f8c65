#include "input/replay.h"

#include <algorithm>

namespace talvo {

int ReplayStart::read(double* out, int n) {
  int got = 0;
  while (got < n && replay_ < replay_end_)
    out[got++] = kept_[replay_++];
  if (got < n) {
    int want = n - got;
    if (keeping_) want = std::min<int>(want, static_cast<int>(kKeep - kept_.size()));
    const int m = want > 0 ? in_->read(out + got, want) : 0;
    if (keeping_) kept_.insert(kept_.end(), out + got, out + got + m);
    got += m;
  }
  return got;
}

bool ReplayStart::rewind() {
  if (!keeping_) return false;
  keeping_ = false;
  replay_ = 0;
  replay_end_ = kept_.size();
  return true;
}

}  // namespace talvo
