#include "rx/classic.h"

namespace talvo {

ClassicFrontEnd::ClassicFrontEnd(int centerfreq)
    : r_(init(centerfreq)), bt_(std::make_unique<BlockTicks>()) {}

short ClassicFrontEnd::tone(int k, int q, int amplitude) const {
  return tone_at(*r_, *bt_, k, centre_channel(q), amplitude);
}

}  // namespace talvo
