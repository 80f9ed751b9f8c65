// The radio frequency of a signal heard in the receiver's audio, from the
// radio's dial and mode. In USB the audio frequency adds to the dial, in LSB
// it subtracts. In CW the radio shows the frequency of a signal heard at its
// CW pitch, so only the offset from the pitch counts; CWR is the reverse
// sideband. Other modes (AM, FM, data) are taken as USB.
#pragma once

#include "rig/reading.h"
#include "spots/spot.h"

namespace talvo::rig {

// The tuning the spots reckon with (spots::radio_hz) for the radio as `r` reads.
inline spots::Tuning tuning_of(const RigReading& r) {
  spots::Tuning t;
  t.dial_hz = r.dial_hz;
  switch (r.mode) {
    case RigMode::kLsb:
      t.sideband = spots::Sideband::kLsb;
      break;
    case RigMode::kCw:
      t.pitch_hz = r.pitch_hz;
      break;
    case RigMode::kCwr:
      t.sideband = spots::Sideband::kLsb;
      t.pitch_hz = r.pitch_hz;
      break;
    case RigMode::kUsb:
    case RigMode::kOther:
      break;
  }
  return t;
}

// Radio frequency in Hz of a signal at `audio_hz` in the audio, with the
// radio as `r` reads.
inline double spot_hz(const RigReading& r, double audio_hz) {
  return spots::radio_hz(tuning_of(r), audio_hz);
}

}  // namespace talvo::rig
