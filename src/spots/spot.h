// Spots: what goes out to loggers and DX clusters about a call heard.
//
// A spot line has the shape of the Reverse Beacon Network's telnet feed,
// which loggers and cluster nodes read by column (0-based):
//   DX de ZF9CW-#:   14042.6  K5MR           CW    18 dB  38 WPM  CQ      1854Z
//   DX de W1NT-6-#:  21150.0  YV5B           CW    11 dB  22 WPM  NCDXF B 1854Z
// "DX de " 0-5, the spotter (an SSID may follow its call) and "-#:" from 6,
// the frequency in kHz with one decimal ending at 23, two blanks, the call
// at 26-40 (15 wide), "CW" 41-42, the SNR ending at 48, " dB", the speed
// ending at 55, " WPM", two blanks, the type at 62-69 and the UTC time as
// HHMMZ at 70-74: 75 characters. Longer values push the rest right but
// always leave a blank between tokens.
//
// The dedup holds back the same call on the same frequency (within 100 Hz)
// for 10 minutes of audio time after its spot: a station still calling is
// spotted again when 600 s have passed, and at once on another frequency.
//
// The radio frequency of a signal comes from the receiver's dial and the
// signal's audio frequency: upper sideband adds, lower sideband subtracts,
// and with I/Q input the signed offset from the centre adds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace talvo::spots {

// What the spotted station was doing: calling CQ (or running a contest),
// in a contact, a beacon, or one of the NCDXF/IARU beacons.
enum class SpotType { kCq, kDx, kBeacon, kNcdxf };

// "CQ", "DX", "BEACON" or "NCDXF B".
const char* type_name(SpotType t);

struct Spot {
  std::string call;     // upper case, e.g. "DL1ABC"
  double freq_hz = 0;   // radio frequency, Hz
  double audio_hz = 0;  // the audio frequency it was heard on, Hz (0: not known)
  int snr_db = 0;       // signal to noise, dB
  int wpm = 0;          // speed, words per minute
  SpotType type = SpotType::kDx;
  std::int64_t utc = 0;   // time, seconds since 1970-01-01 00:00 UTC
  int copies = 0;         // identical copies of the call behind the spot
  bool known = false;     // the call is in the list of active calls
  double confidence = 0;  // 0..1: how sure the spot is (see SpotJudge)
};

// "HHMMZ" of a UTC time in seconds since the epoch (times before 1970 too).
std::string utc_hhmmz(std::int64_t utc);

// The spot line for `s` as sent by `spotter` (the skimmer operator's call,
// perhaps with an SSID, without "-#"), with no line end.
std::string spot_line(std::string_view spotter, const Spot& s);

class SpotDedup {
 public:
  static constexpr double kHoldSeconds = 600;  // a repeat this soon after a spot is held
  static constexpr double kSameHz = 100;       // spots this close (Hz) are the same frequency
  static constexpr std::size_t kMaxRemembered = 20000;  // spots remembered at most

  // Whether a spot of `call` on `freq_hz` at `t` (seconds of audio, never
  // decreasing) goes out: not when the same call went out within kSameHz
  // less than kHoldSeconds before. A spot that goes out is remembered; a
  // held one is not, so a station that keeps calling is spotted again at
  // its first sighting kHoldSeconds or more after its last spot.
  bool admit(std::string_view call, double freq_hz, double t);

  // Spots remembered now.
  std::size_t remembered() const { return spots_.size(); }

 private:
  struct Sent {
    std::string call;  // upper case
    double freq_hz;    // Hz
    double t;          // seconds
  };
  std::deque<Sent> spots_;  // spots that went out, oldest first
};

enum class Sideband { kUsb, kLsb, kIq };

// Reads "usb", "lsb" or "iq"; false (sb untouched) for anything else.
bool parse_sideband(std::string_view s, Sideband& sb);

// The radio frequency in Hz of a signal at `audio_hz` (with kIq: the signed
// offset from the centre) with the dial at `dial_khz`.
double radio_hz(double dial_khz, Sideband sb, double audio_hz);

// Where the radio is tuned at one moment. A signal heard at `pitch_hz` in
// the audio is on the dial; any other is off it by its distance from the
// pitch: above in USB and with I/Q, below in LSB. A radio in CW mode shows
// the frequency of a signal at its CW pitch (CW: upper sideband, CWR:
// lower); in USB and LSB the pitch is 0 and the dial is the carrier.
struct Tuning {
  double dial_hz = 0;  // the frequency the radio shows, Hz
  Sideband sideband = Sideband::kUsb;
  double pitch_hz = 0;  // the audio frequency the dial stands for, Hz
};

// The radio frequency in Hz of a signal at `audio_hz` with the radio tuned as `t`.
double radio_hz(const Tuning& t, double audio_hz);

}  // namespace talvo::spots
