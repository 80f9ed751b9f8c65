// The radio frequency of a signal heard in the receiver's audio, from the
// radio's dial and mode. In USB the audio frequency adds to the dial, in LSB
// it subtracts. In CW the radio shows the frequency of a signal heard at its
// CW pitch, so only the offset from the pitch counts; CWR is the reverse
// sideband. Other modes (AM, FM, data) are taken as USB.
#pragma once

#include "rig/reading.h"

namespace talvo::rig {

// Radio frequency in Hz of a signal at `audio_hz` in the audio, with the
// radio as `r` reads.
inline double spot_hz(const RigReading& r, double audio_hz) {
  switch (r.mode) {
    case RigMode::kLsb:
      return r.dial_hz - audio_hz;
    case RigMode::kCw:
      return r.dial_hz + (audio_hz - r.pitch_hz);
    case RigMode::kCwr:
      return r.dial_hz - (audio_hz - r.pitch_hz);
    case RigMode::kUsb:
    case RigMode::kOther:
      break;
  }
  return r.dial_hz + audio_hz;
}

}  // namespace talvo::rig
