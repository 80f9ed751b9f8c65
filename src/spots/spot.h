// Spots: what goes out to loggers and DX clusters about a call heard.
//
// A spot line has the shape skimmers send over telnet, e.g.
//   DX de MYCALL-#:    7018.3  DL1ABC         CW    19 dB  18 WPM  CQ      2259Z
// The spotter's call ends in "-#" (how loggers tell a skimmer); the
// frequency in kHz with one decimal ends at column 25; the spotted call
// starts at column 28 (1-based) in a field of 13 characters and two blanks;
// then the mode, the SNR right-aligned in 6 characters with " dB", the
// speed right-aligned in 4 with " WPM", two blanks, the type in 6 and two
// blanks, and the UTC time as HHMMZ. Longer values push the rest right but
// always leave a blank between tokens: clusters parse by tokens.
//
// The dedup holds back the same call on the same frequency (within 100 Hz)
// within 10 minutes of its spot, and forgets spots older than that.
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

enum class SpotType { kCq, kDx };

// "CQ" or "DX".
const char* type_name(SpotType t);

struct Spot {
  std::string call;    // upper case, e.g. "DL1ABC"
  double freq_hz = 0;  // radio frequency, Hz
  int snr_db = 0;      // signal to noise, dB
  int wpm = 0;         // speed, words per minute
  SpotType type = SpotType::kDx;
  std::int64_t utc = 0;  // time, seconds since 1970-01-01 00:00 UTC
};

// "HHMMZ" of a UTC time in seconds since the epoch (times before 1970 too).
std::string utc_hhmmz(std::int64_t utc);

// The spot line for `s` as sent by `spotter` (the skimmer operator's call,
// without "-#"), with no line end.
std::string spot_line(std::string_view spotter, const Spot& s);

class SpotDedup {
 public:
  static constexpr std::int64_t kHoldSeconds = 600;  // a repeat within this many seconds is held
  static constexpr int kMiscopy = 2;  // characters a miscopy of a spotted call differs by, at most
  static constexpr double kSameHz = 100;  // spots this close (Hz) are the same frequency
  static constexpr std::size_t kMaxRemembered = 20000;  // spots remembered at most

  // Whether a spot of `call` on `freq_hz` at time `utc` (seconds, never
  // decreasing) goes out: not when the same call, or one differing from it
  // by at most kMiscopy characters (a miscopy), went out within kSameHz and
  // at most kHoldSeconds before. A spot that goes out is remembered;
  // a held one is not (a station that keeps calling is spotted again every
  // 10 minutes).
  bool admit(std::string_view call, double freq_hz, std::int64_t utc);

  // Spots remembered now.
  std::size_t remembered() const { return spots_.size(); }

 private:
  struct Sent {
    std::string call;  // upper case
    double freq_hz;    // Hz
    std::int64_t utc;  // seconds
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
