// A cluster's channel filter and noise floor made as the fine front end
// makes them (the rounding noise of 16-bit samples at 48 kHz), for the
// tests that drive the noise floor alone.
#pragma once

#include "rx/fine/channel_power.h"
#include "rx/fine/noise_floor.h"

namespace talvo::test {

struct FloorRig {
  static constexpr int kMaxWin = 41;  // ticks, the front end's longest coherent window
  fine::ChannelDesign d = fine::design_channel(fine::ChannelParams{}, kMaxWin);
  fine::ChannelPower chan;
  fine::NoiseFloor floor;

  FloorRig() {
    chan.make(fine::ChannelParams{}, d);
    chan.reset();
    floor.make(fine::NoiseFloorParams{}, d.bn / (12.0 * 48000));
    floor.reset();
  }
  // The filter's delay, ticks.
  int delay() const { return static_cast<int>(d.taps.size() - 1) / 2; }
};

}  // namespace talvo::test
