// What the radio says about itself at one moment: where its dial is, which
// mode it is in and the CW pitch it uses, and whether it answers at all.
// Plain values without hamlib, for the spot logic and the programs.
#pragma once

namespace talvo::rig {

enum class RigMode { kUsb, kLsb, kCw, kCwr, kOther };

// "USB", "LSB", "CW", "CWR" or "other".
inline const char* mode_name(RigMode m) {
  switch (m) {
    case RigMode::kUsb:
      return "USB";
    case RigMode::kLsb:
      return "LSB";
    case RigMode::kCw:
      return "CW";
    case RigMode::kCwr:
      return "CWR";
    case RigMode::kOther:
      break;
  }
  return "other";
}

struct RigReading {
  double dial_hz = 0;              // the frequency the radio shows, Hz (0: never read)
  RigMode mode = RigMode::kOther;  // its mode
  double pitch_hz = 600;           // CW pitch, Hz: the rig's own, else the configured one
  bool answering = false;          // whether the last poll got an answer
};

}  // namespace talvo::rig
