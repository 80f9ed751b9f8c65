// Spot lines, the spot dedup and the radio frequency; see spot.h.
#include "spots/spot.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace talvo::spots {

const char* type_name(SpotType t) {
  switch (t) {
    case SpotType::kCq:
      return "CQ";
    case SpotType::kBeacon:
      return "BEACON";
    case SpotType::kNcdxf:
      return "NCDXF B";
    case SpotType::kDx:
      break;
  }
  return "DX";
}

std::string utc_hhmmz(std::int64_t utc) {
  std::int64_t day = utc % 86400;
  if (day < 0) day += 86400;
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d%02dZ", static_cast<int>(day / 3600),
                static_cast<int>(day % 3600 / 60));
  return buf;
}

std::string spot_line(std::string_view spotter, const Spot& s) {
  // kHz with one decimal from whole hundreds of Hz, rounded half away from
  // zero, so that the digit does not depend on binary fractions.
  const long long tenths = std::llround(s.freq_hz / 100.0);
  char freq[32];
  std::snprintf(freq, sizeof freq, "%s%lld.%lld", tenths < 0 ? "-" : "", std::llabs(tenths) / 10,
                std::llabs(tenths) % 10);

  std::string line = "DX de ";
  line += spotter;
  line += "-#:";
  const std::size_t freq_end = 24;  // column after the frequency's last digit
  const std::size_t flen = std::string_view(freq).size();
  line.append(line.size() + flen < freq_end ? freq_end - line.size() - flen : 1, ' ');
  line += freq;
  line += "  ";

  line += s.call;
  const std::size_t call_width = 15;  // the call's field
  line.append(s.call.size() < call_width ? call_width - s.call.size() : 1, ' ');

  char rest[96];
  std::snprintf(rest, sizeof rest, "CW %5d dB %3d WPM  %-7s %s", s.snr_db, s.wpm, type_name(s.type),
                utc_hhmmz(s.utc).c_str());
  line += rest;
  return line;
}

bool SpotDedup::admit(std::string_view call, double freq_hz, double t) {
  while (!spots_.empty() && t - spots_.front().t >= kHoldSeconds)
    spots_.pop_front();
  for (const Sent& p : spots_)
    if (p.call == call && std::fabs(p.freq_hz - freq_hz) <= kSameHz && t - p.t < kHoldSeconds)
      return false;
  if (spots_.size() >= kMaxRemembered) spots_.pop_front();
  spots_.push_back(Sent{std::string(call), freq_hz, t});
  return true;
}

bool parse_sideband(std::string_view s, Sideband& sb) {
  if (s == "usb")
    sb = Sideband::kUsb;
  else if (s == "lsb")
    sb = Sideband::kLsb;
  else if (s == "iq")
    sb = Sideband::kIq;
  else
    return false;
  return true;
}

double radio_hz(double dial_khz, Sideband sb, double audio_hz) {
  const double dial = dial_khz * 1000.0;
  return sb == Sideband::kLsb ? dial - audio_hz : dial + audio_hz;
}

double radio_hz(const Tuning& t, double audio_hz) {
  const double off = audio_hz - t.pitch_hz;
  return t.sideband == Sideband::kLsb ? t.dial_hz - off : t.dial_hz + off;
}

}  // namespace talvo::spots
