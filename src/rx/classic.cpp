#include "rx/classic.h"

namespace talvo {

ClassicFrontEnd::ClassicFrontEnd(int centerfreq)
    : r_(init(centerfreq)), bt_(std::make_unique<BlockTicks>()) {}

const ClusterKey* ClassicFrontEnd::ticked_keys(int& n) {
  // The centre channels among those that ticked, lowest first.
  n = 0;
  for (uint64_t b = bt_->mask[k_]; b != 0; b &= b - 1) {
    const int j = __builtin_ctzll(b) - kanaele;
    if (is_cluster_centre(j)) keys_[n++] = {cluster_of(j), r_->valuethr[j] != 0.0};
  }
  return keys_;
}

short ClassicFrontEnd::tone(int k, int q, int amplitude) const {
  return tone_at(*r_, *bt_, k, centre_channel(q), amplitude);
}

}  // namespace talvo
